// The option table: what each kind of target takes and refuses, the three
// ways a missing value is told, what is left over, and the help's layout.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "tools/cli.h"

namespace {

struct State {
    int count = 0;
    double level = 0;
    bool flag = false;
    std::string name, pick;
    std::vector<std::string> operands;
};

cli::Command Table(State& s) {
    return {
        .tool = "t",
        .synopsis = "usage: t [options] FILE...\n",
        .options =
            {
                {.names = "-c, --count",
                 .value = "N",
                 .low = 1,
                 .high = 9,
                 .sets = &s.count,
                 .needs = "a count",
                 .help = "how many"},
                {.names = "--level",
                 .value = "DB",
                 .low = -1,
                 .high = 0.5,
                 .sets = &s.level,
                 .help = "a level,\nsaid on two lines"},
                {.names = "--flag", .sets = &s.flag, .help = "a switch"},
                {.names = "-n, --name", .value = "S", .sets = &s.name, .help = "any word"},
                {.names = "--pick",
                 .value = "P",
                 .sets = [&s](const char* v) { return (s.pick = v) == "one" || s.pick == "two"; },
                 .wants = "one or two",
                 .help = "a choice"},
            },
        .operands = &s.operands,
    };
}

struct Parsed {
    std::optional<int> exit;
    std::string out, err;
    State state;
};

Parsed Parse(std::vector<std::string> args, bool operands = true, const char* missing = nullptr) {
    Parsed run;
    cli::Command command = Table(run.state);
    if (!operands)
        command.operands = nullptr;
    command.missing = missing;
    args.insert(args.begin(), "t");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    char *out = nullptr, *err = nullptr;
    size_t outSize = 0, errSize = 0;
    std::FILE* outFile = open_memstream(&out, &outSize);
    std::FILE* errFile = open_memstream(&err, &errSize);
    run.exit = cli::Parse(command, int(argv.size()), argv.data(), outFile, errFile);
    std::fclose(outFile);
    std::fclose(errFile);
    run.out.assign(out, outSize);
    run.err.assign(err, errSize);
    std::free(out);
    std::free(err);
    return run;
}

// The last line of what went to standard error.
std::string LastLine(const std::string& text) {
    const size_t start = text.rfind('\n', text.size() >= 2 ? text.size() - 2 : 0);
    return start == std::string::npos || start + 1 == text.size() ? text : text.substr(start + 1);
}

TEST(Cli, EachKindOfTargetTakesWhatItWantsAndRefusesTheRest) {
    const struct {
        std::vector<std::string> args;
        std::string failure; // empty: the tool goes on
    } cases[] = {
        {{"-c", "3", "--level", "-0.5", "--flag", "--name", "-x", "--pick", "two"}, ""},
        {{"--count", "9", "--level", "0.5"}, ""},
        {{"--count", "2.5"}, "t: --count wants a whole number from 1 to 9\n"},
        {{"-c", "10"}, "t: -c wants a whole number from 1 to 9\n"},
        {{"--level", "0.6"}, "t: --level wants a number from -1 to 0.5\n"},
        {{"--level", "-1dB"}, "t: --level wants a number from -1 to 0.5\n"},
        {{"--pick", "three"}, "t: --pick wants one or two\n"},
        // A missing value: what it needs where the row says, else what it wants.
        {{"--flag", "-c"}, "t: -c needs a count\n"},
        {{"--level"}, "t: --level wants a number from -1 to 0.5\n"},
        {{"--pick"}, "t: --pick wants one or two\n"},
        {{"--count", "1", "--counts", "2"}, "t: unknown option --counts\n"},
    };
    for (const auto& c : cases) {
        const Parsed run = Parse(c.args);
        const std::string shown = ::testing::PrintToString(c.args);
        EXPECT_EQ(run.exit, c.failure.empty() ? std::nullopt : std::optional<int>(1)) << shown;
        EXPECT_EQ(LastLine(run.err), c.failure) << shown;
        EXPECT_EQ(run.out, "") << shown;
    }
    const State s = Parse(cases[0].args).state;
    EXPECT_EQ(s.count, 3);
    EXPECT_EQ(s.level, -0.5);
    EXPECT_TRUE(s.flag);
    EXPECT_EQ(s.name, "-x"); // a value is the next word, whatever it looks like
    EXPECT_EQ(s.pick, "two");
}

TEST(Cli, OperandsMissingTextsAndHelpInTheirPlaces) {
    // The words that are no option are kept in order, a lone - among them; the later of two settings holds.
    const Parsed kept = Parse({"a", "-n", "x", "-", "--name", "y", "b"});
    EXPECT_EQ(kept.exit, std::nullopt);
    EXPECT_EQ(kept.state.operands, (std::vector<std::string>{"a", "-", "b"}));
    EXPECT_EQ(kept.state.name, "y");
    // A tool that takes none calls the word an unknown option, after the help.
    const Parsed none = Parse({"a"}, false);
    EXPECT_EQ(none.exit, 1);
    EXPECT_EQ(none.err.rfind("usage: t", 0), 0u) << none.err;
    EXPECT_EQ(LastLine(none.err), "t: unknown option a\n");
    // A command's own missing text stands for every option's, after the help.
    const Parsed missing = Parse({"--count"}, true, "missing value after ");
    EXPECT_EQ(missing.exit, 1);
    EXPECT_EQ(missing.err.rfind("usage: t", 0), 0u) << missing.err;
    EXPECT_EQ(LastLine(missing.err), "t: missing value after --count\n");
    // --help answers at once, before a later bad option is seen.
    const Parsed help = Parse({"--flag", "-h", "--nope"});
    EXPECT_EQ(help.exit, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out, "usage: t [options] FILE...\n"
                        "  -c, --count N  how many\n"
                        "  --level DB     a level,\n"
                        "                 said on two lines\n"
                        "  --flag         a switch\n"
                        "  -n, --name S   any word\n"
                        "  --pick P       a choice\n"
                        "  -h, --help     this text\n");
}

} // namespace
