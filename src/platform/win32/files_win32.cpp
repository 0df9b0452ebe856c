#include "platform/files.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>

namespace platform {

std::string OwnExecutablePath() {
    char buffer[1024];
    DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
    // A full buffer means the name was cut short.
    if (length == 0 || length >= sizeof(buffer))
        return std::string();
    return std::string(buffer, length);
}

std::vector<std::string> FindFilesWithExtension(const char* extension) {
    std::vector<std::string> found;
    std::string pattern = std::string("*.") + extension;
    _finddata_t data;
    intptr_t search = _findfirst(pattern.c_str(), &data);
    if (search == -1)
        return found;
    do {
        if (!(data.attrib & _A_SUBDIR))
            found.emplace_back(data.name);
    } while (_findnext(search, &data) == 0);
    _findclose(search);
    return found;
}

} // namespace platform
