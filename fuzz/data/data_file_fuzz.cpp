// Feeds arbitrary bytes to the reader as a program file with an appended archive.
#include <cstdint>

#include "data/data_file.h"
#include "fuzz/memory_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = fuzz::AsFile(data, size);
    for (const char* name : {"", "data", "data/koala.tga", "a/b/c/d"}) {
        CDataFile f;
        if (!f.Open(name, path))
            continue;
        char buffer[64];
        while (f.Read(buffer, 1, sizeof(buffer)) > 0) {
        }
        f.Seek(0, 2);
        f.Read(buffer, 1, 1);
    }
    return 0;
}
