// Command-line pieces the tools share: options read from a table that also
// prints the help, one line on a failure, numbers taken whole, output folders
// made where missing.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <variant>
#include <vector>

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

// What an option sets, which also says what it takes after its name:
//   bool*         nothing; the option sets it true
//   void()        nothing; the option calls it
//   std::string*  any word
//   int*          a whole number within [low, high]
//   double*       a number within [low, high]
//   bool(word)    any word, which the function takes or refuses
using Target =
    std::variant<bool*, std::function<void()>, std::string*, int*, double*, std::function<bool(const char*)>>;

struct Option {
    const char* names;           // as the help shows them: "-j, --jobs" or "--loops"
    const char* value = nullptr; // the value's name in the help, "N" or "FILE"; none for a switch
    double low = 0, high = 0;    // the range of a number
    Target sets;
    // The failures end "NAME needs <needs>" for a missing value, where there is
    // a needs, else as a refused one does: "NAME wants <wants>", by default the
    // range ("a whole number from 1 to 64"). NAME is the name as typed.
    const char* needs = nullptr;
    const char* wants = nullptr;
    std::string help; // each '\n' starts a line under the first, at its column
};

struct Command {
    const char* tool;     // the failures' prefix: "tinsel-render"
    const char* synopsis; // the help's lines above the options
    std::vector<Option> options;
    std::vector<std::string>* operands = nullptr; // the arguments that are no option; none taken where null
    // Where set, every missing value fails as this text and the name, after the help.
    const char* missing = nullptr;
};

// The help: the synopsis, then each option with its help, then -h, --help.
void PrintHelp(const Command& command, std::FILE* out);

// Reads argv into the options' targets, in order. Nothing when the tool goes
// on; else the exit code: 0 after --help, 1 after a failure's line on err (an
// unknown option's after the help).
std::optional<int> Parse(const Command& command, int argc, char** argv, std::FILE* out = stdout,
                         std::FILE* err = stderr);

} // namespace cli
