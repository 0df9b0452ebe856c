// Input bytes as a file for targets whose code under test opens a path: one
// file in memory, rewritten for each input. A file on disk would make the
// disk, shared with whatever else runs, the target's speed, and would be
// left behind.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// The path of a file holding exactly size bytes of data, until the next call.
inline const char* AsFile(const uint8_t* data, size_t size) {
    static const int fd = memfd_create("tinsel-fuzz", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size)) {
        std::perror("fuzz input as a file");
        std::abort();
    }
    return path.c_str();
}

} // namespace fuzz
