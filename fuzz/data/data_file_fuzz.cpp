// Feeds arbitrary bytes to the reader as a program file with an appended archive.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "data/data_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/tinsel-fuzz-" + std::to_string(getpid()) + ".bin";
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        return 0;
    std::fwrite(data, 1, size, out);
    std::fclose(out);
    for (const char* name : {"", "data", "data/koala.tga", "a/b/c/d"}) {
        CDataFile f;
        if (!f.Open(name, path.c_str()))
            continue;
        char buffer[64];
        while (f.Read(buffer, 1, sizeof(buffer)) > 0) {
        }
        f.Seek(0, 2);
        f.Read(buffer, 1, 1);
    }
    return 0;
}
