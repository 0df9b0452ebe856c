// Feeds arbitrary bytes to the reader as a program file with an appended archive.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "data/data_file.h"

namespace {

// The program file lives in memory: a file on disk would make the disk's
// speed, shared with whatever else runs, this target's speed, and would be
// left behind.
int ProgramFile() {
    static const int fd = memfd_create("tinsel-fuzz-program", 0);
    if (fd < 0) {
        std::perror("memfd_create");
        std::abort();
    }
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/proc/self/fd/" + std::to_string(ProgramFile());
    if (ftruncate(ProgramFile(), 0) != 0 || pwrite(ProgramFile(), data, size, 0) != ssize_t(size))
        std::abort();
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
