// The program's own file and the directory search of the data reader.
#pragma once
#include <string>
#include <vector>

namespace platform {

// Full path of the running executable; empty when it cannot be found.
std::string OwnExecutablePath();

// Names of the regular files in the current directory whose names end in
// "." + extension (compared without regard to case, as the Windows file
// system does), in the order the directory lists them.
std::vector<std::string> FindFilesWithExtension(const char* extension);

} // namespace platform
