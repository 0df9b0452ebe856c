#include "tools/cli.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace cli {
namespace {

std::string Shown(double number) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", number);
    return text;
}

std::string Wants(const Option& option) {
    if (option.wants != nullptr)
        return option.wants;
    const bool whole = std::holds_alternative<int*>(option.sets);
    return std::string(whole ? "a whole number" : "a number") + " from " + Shown(option.low) + " to " +
           Shown(option.high);
}

// The option's names one by one: "-j, --jobs" holds -j and --jobs.
bool Named(const Option& option, const std::string& arg) {
    for (const char* name = option.names; *name != '\0';) {
        const size_t length = std::strcspn(name, ",");
        if (arg.size() == length && arg.compare(0, length, name, length) == 0)
            return true;
        name += length;
        name += std::strspn(name, ", ");
    }
    return false;
}

bool TakesValue(const Option& option) {
    return !std::holds_alternative<bool*>(option.sets) &&
           !std::holds_alternative<std::function<void()>>(option.sets);
}

// Sets the option's target from value; false where the value is not one it wants.
bool Take(const Option& option, const char* value) {
    double number = 0;
    return std::visit(
        [&](auto& target) {
            using T = std::decay_t<decltype(target)>;
            if constexpr (std::is_same_v<T, bool*>) {
                *target = true;
            } else if constexpr (std::is_same_v<T, std::function<void()>>) {
                target();
            } else if constexpr (std::is_same_v<T, std::string*>) {
                *target = value;
            } else if constexpr (std::is_same_v<T, int*>) {
                if (!ParseNumber(value, option.low, option.high, number) || number != std::floor(number))
                    return false;
                *target = int(number);
            } else if constexpr (std::is_same_v<T, double*>) {
                if (!ParseNumber(value, option.low, option.high, number))
                    return false;
                *target = number;
            } else {
                return target(value);
            }
            return true;
        },
        option.sets);
}

std::string Left(const Option& option) {
    return std::string("  ") + option.names +
           (option.value != nullptr ? std::string(" ") + option.value : "");
}

} // namespace

void PrintHelp(const Command& command, std::FILE* out) {
    std::vector<Option> options = command.options;
    options.push_back({.names = "-h, --help", .sets = static_cast<bool*>(nullptr), .help = "this text"});
    size_t column = 0;
    for (const Option& option : options)
        column = std::max(column, Left(option).size() + 2);
    std::fputs(command.synopsis, out);
    for (const Option& option : options) {
        std::string line = Left(option);
        line.resize(column, ' ');
        for (const char c : option.help)
            line += c == '\n' ? "\n" + std::string(column, ' ') : std::string(1, c);
        std::fprintf(out, "%s\n", line.c_str());
    }
}

std::optional<int> Parse(const Command& command, int argc, char** argv, std::FILE* out, std::FILE* err) {
    const auto fail = [&](const std::string& message) {
        std::fprintf(err, "%s: %s\n", command.tool, message.c_str());
        return 1;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            PrintHelp(command, out);
            return 0;
        }
        const auto option = std::find_if(command.options.begin(), command.options.end(),
                                         [&](const Option& o) { return Named(o, arg); });
        if (option == command.options.end()) {
            // A lone "-" names standard input or output, as a file would.
            if (command.operands != nullptr && (arg.size() <= 1 || arg[0] != '-')) {
                command.operands->push_back(arg);
                continue;
            }
            PrintHelp(command, err);
            return fail("unknown option " + arg);
        }
        const char* value = nullptr;
        if (TakesValue(*option)) {
            if (i + 1 == argc) {
                if (command.missing != nullptr) {
                    PrintHelp(command, err);
                    return fail(command.missing + arg);
                }
                return fail(arg + (option->needs != nullptr ? std::string(" needs ") + option->needs
                                                            : " wants " + Wants(*option)));
            }
            value = argv[++i];
        }
        if (!Take(*option, value))
            return fail(arg + " wants " + Wants(*option));
    }
    return std::nullopt;
}

} // namespace cli
