// Command-line pieces the tools share: one line on a failure, numbers taken
// whole, output folders made where missing.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace cli {

// Prints "tool: message" on standard error; returns the failing exit code.
inline int Fail(const char* tool, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", tool, message.c_str());
    return 1;
}

// The whole of text as a number within [low, high]; trailing characters refuse it.
inline bool ParseNumber(const char* text, double low, double high, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && errno == 0 && value >= low && value <= high;
}

// Makes folder, and the folders above it, where missing; false with the
// failure's line in error where it cannot, or where a file has that name.
inline bool MakeFolder(const std::string& folder, std::string* error) {
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code || !std::filesystem::is_directory(folder, code)) {
        *error = "cannot make the folder " + folder + ": " +
                 (code ? code.message() : std::string("a file has that name"));
        return false;
    }
    return true;
}

} // namespace cli
