// Command-line pieces the tools share: one line on a failure, numbers taken whole.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

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

} // namespace cli
