#include "platform/files.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace platform {

std::string OwnExecutablePath() {
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0 || length >= ssize_t(sizeof(buffer) - 1))
        return std::string();
    return std::string(buffer, size_t(length));
}

std::vector<std::string> FindFilesWithExtension(const char* extension) {
    std::vector<std::string> found;
    DIR* dir = opendir(".");
    if (!dir)
        return found;
    const std::string suffix = std::string(".") + extension;
    while (dirent* entry = readdir(dir)) {
        size_t length = std::strlen(entry->d_name);
        if (length < suffix.size() || strcasecmp(entry->d_name + length - suffix.size(), suffix.c_str()) != 0)
            continue;
        struct stat info;
        // Only regular files are archives; a directory named like one is skipped.
        if (stat(entry->d_name, &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        found.emplace_back(entry->d_name);
    }
    closedir(dir);
    return found;
}

} // namespace platform
