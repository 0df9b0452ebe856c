// tinsel-render as a user runs it: the WAV it streams to a file or to
// standard output, its lengths, what --info says, and one clear line for each failure.
#include <gtest/gtest.h>

#include <cmath>

#include <string>

#include "player/format/module.h"
#include "player/player.h"
#include "player/format/song.h"
#include "tests/common/test_util.h"
#include "tests/player/xm_cases.h"

namespace {

using testutil::ToolRun;

ToolRun Render(const std::string& arguments, bool keepStdout = true) {
    return testutil::RunTool(std::string(TINSEL_RENDER_TOOL) + " " + arguments, keepStdout);
}

uint32_t Le32(const std::string& bytes, size_t at) {
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
}

TEST(RenderTool, StreamsTheSongToAFileOrStandardOutputAlike) {
    const std::string file = testing::TempDir() + "render_tool.wav";
    ASSERT_EQ(Render("--embedded -q -o " + file).status, 0);
    const std::string wav = testutil::ReadFile(file);
    EXPECT_EQ(Render("--embedded -q -o -").output, wav);

    Module* song = LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize);
    ASSERT_NE(song, nullptr);
    const SongLength length = MeasureSong(*song, 44100);
    FreeModule(song);
    ASSERT_GT(wav.size(), 44u);
    EXPECT_EQ(wav.compare(0, 4, "RIFF"), 0);
    EXPECT_EQ(Le32(wav, 4), wav.size() - 8);
    EXPECT_EQ(wav.compare(36, 4, "data"), 0);
    EXPECT_EQ(Le32(wav, 40), uint64_t(length.frames) * 4);
    // Two passes: the second from the restart position.
    EXPECT_EQ(Render("--embedded -q --loops 2 -o -").output.size(),
              44 + uint64_t(length.frames + length.loopFrames) * 4);
    // The first two seconds are the demo's ring, bit for bit (the ring's pinned hash).
    const ToolRun capped = Render("--embedded -q --loops 0 --seconds 2.004535 -o -");
    ASSERT_EQ(capped.output.size(), 44u + 88400u * 4);
    EXPECT_EQ(testutil::Fnv1a(capped.output.data() + 44, 88400 * 4), 0x90602c2d7d937411u);
    // The song plays by tinsel rules by its tracker name, unless FT2 rules are forced on it.
    const ToolRun tinsel = Render("--embedded -q --seconds 1 --rules tinsel -o -");
    const ToolRun ft2 = Render("--embedded -q --seconds 1 --rules ft2 -o -");
    EXPECT_EQ(Render("--embedded -q --seconds 1 -o -").output, tinsel.output);
    EXPECT_EQ(ft2.output.size(), tinsel.output.size());
    EXPECT_NE(ft2.output, tinsel.output);
    // linear and the rule set's ramps name the default; the other choices change the sound only.
    EXPECT_EQ(Render("--embedded -q --seconds 1 --interp linear --ramp rules -o -").output, tinsel.output);
    for (const char* choice : {"--interp nearest", "--interp cubic", "--interp sinc", "--ramp off"}) {
        const ToolRun other = Render(std::string("--embedded -q --seconds 1 -o - ") + choice);
        EXPECT_EQ(other.output.size(), tinsel.output.size()) << choice;
        EXPECT_NE(other.output, tinsel.output) << choice;
    }
    // Under FT2 rules another choice mixes the float voices, at the original mixer's level.
    const ToolRun ft2Sinc = Render("--embedded -q --seconds 1 --rules ft2 --interp sinc -o -");
    ASSERT_EQ(ft2Sinc.output.size(), ft2.output.size());
    double power[2] = {0, 0};
    for (size_t i = 44; i + 1 < ft2.output.size(); i += 2) {
        const double a = int16_t(uint16_t(uint8_t(ft2.output[i]) | uint8_t(ft2.output[i + 1]) << 8));
        const double b = int16_t(uint16_t(uint8_t(ft2Sinc.output[i]) | uint8_t(ft2Sinc.output[i + 1]) << 8));
        power[0] += a * a;
        power[1] += b * b;
    }
    EXPECT_NE(ft2Sinc.output, ft2.output);
    EXPECT_NEAR(10 * std::log10(power[1] / power[0]), 0.0, 1.0);
}

TEST(RenderTool, InfoNamesTheSongItsLengthAndWhatTheLoaderFound) {
    const std::string older = testing::TempDir() + "older_layout.xm";
    XmImage image = xmcases::OlderLayout(0x0102);
    image.bytes.resize(image.bytes.size() - 9);
    testutil::WriteFile(older, image.bytes);
    const struct {
        std::string arguments, has, hasNot;
    } cases[] = {
        {"--embedded", "Title:        Tinselbay\n", "Loader:"},
        {"--embedded", "Rules:        tinsel\n", "Rules:        ft2"},
        {"--embedded", "Length:       1:14.734, then 1:09.413 a loop from order 1 row 0\n", ""},
        {"--embedded --rules ft2", "Rules:        ft2\n", ""},
        {older, "Loader:       format 1.02 layout\n              sample data 9 bytes short\n", ""},
    };
    for (const auto& c : cases) {
        const ToolRun info = Render(c.arguments + " --info");
        EXPECT_EQ(info.status, 0) << c.arguments;
        EXPECT_NE(info.output.find(c.has), std::string::npos) << c.has << info.output;
        EXPECT_TRUE(c.hasNot.empty() || info.output.find(c.hasNot) == std::string::npos)
            << c.hasNot << info.output;
    }
}

TEST(RenderTool, EachFailureIsOneLineAndANonZeroExit) {
    const std::string dir = testing::TempDir();
    testutil::WriteFile(dir + "not_a_song.xm", std::string("plain text, no module"));
    testutil::WriteFile(dir + "damaged.xm", std::string(reinterpret_cast<const char*>(EmbeddedSong), 400));
    const struct {
        std::string arguments, message;
    } cases[] = {
        {dir + "missing.xm", "cannot read " + dir + "missing.xm: No such file or directory"},
        {dir + "not_a_song.xm", dir + "not_a_song.xm is not an XM module"},
        {dir + "damaged.xm", dir + "damaged.xm does not load: the file ends before its 13 patterns"},
        {"--embedded -o " + dir + "no-such-dir/out.wav",
         "cannot write " + dir + "no-such-dir/out.wav: No such file or directory"},
        {"--embedded --solo 0-40", "--solo wants channels from 0 to 31, such as 0,2-4"},
        {"--embedded --loops 0", "--loops 0 renders forever: give --seconds too"},
        {"--embedded --rules it2", "--rules wants tinsel or ft2"},
        {"--embedded --amp 33", "--amp wants a whole number from 1 to 32"},
        {"--embedded --interp lanczos", "--interp wants nearest, linear, cubic or sinc"},
        {"--embedded --ramp", "--ramp needs rules or off"},
        {"--embedded --ramp soft", "--ramp wants rules or off"},
    };
    for (const auto& c : cases) {
        const ToolRun run = Render(c.arguments, false);
        EXPECT_NE(run.status, 0) << c.arguments;
        EXPECT_EQ(run.output, "tinsel-render: " + c.message + "\n") << c.arguments;
    }
}

} // namespace
