// tinsel-render as a user runs it: the WAV it streams to a file or to
// standard output, its lengths, and one clear line for each failure.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "player/module.h"
#include "player/player.h"
#include "player/song.h"
#include "tests/player/xm_cases.h"

namespace {

const std::string kTool = TINSEL_RENDER_TOOL;

struct ToolRun {
    int status;
    std::string output; // standard error, or standard output when asked for
};

ToolRun RunTool(const std::string& arguments, bool keepStdout = false) {
    const std::string command = kTool + " " + arguments + (keepStdout ? " 2>/dev/null" : " 2>&1 >/dev/null");
    ToolRun run{-1, {}};
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        run.output.append(chunk, n);
    run.status = pclose(pipe);
    return run;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t Le32(const std::string& bytes, size_t at) {
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
}

uint64_t Fnv1a(const char* bytes, size_t size) {
    uint64_t hash = 0xcbf29ce484222325u;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ uint8_t(bytes[i])) * 0x100000001b3u;
    return hash;
}

TEST(RenderTool, StreamsTheSongOnceToAFileOrStandardOutputAlike) {
    const std::string file = testing::TempDir() + "render_tool.wav";
    ASSERT_EQ(RunTool("--embedded -q -o " + file).status, 0);
    const ToolRun piped = RunTool("--embedded -q -o -", true);
    ASSERT_EQ(piped.status, 0);
    const std::string wav = ReadAll(file);
    EXPECT_EQ(piped.output, wav);

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
    const ToolRun twice = RunTool("--embedded -q --loops 2 -o -", true);
    ASSERT_EQ(twice.status, 0);
    EXPECT_EQ(twice.output.size(), 44 + uint64_t(length.frames + length.loopFrames) * 4);
    // The first two seconds are the demo's ring, bit for bit (the ring's pinned hash).
    const ToolRun capped = RunTool("--embedded -q --loops 0 --seconds 2.004535 -o -", true);
    ASSERT_EQ(capped.output.size(), 44u + 88400u * 4);
    EXPECT_EQ(Fnv1a(capped.output.data() + 44, 88400 * 4), 0x90602c2d7d937411u);
}

TEST(RenderTool, InfoNamesTheSongAndItsLength) {
    const ToolRun info = RunTool("--embedded --info", true);
    ASSERT_EQ(info.status, 0);
    for (const char* line : {"Title:        Tinselbay\n", "Channels:     10\n", "Frequencies:  linear\n",
                             "Length:       1:14.734, then 1:09.413 a loop from order 1 row 0\n"})
        EXPECT_NE(info.output.find(line), std::string::npos) << line << info.output;
}

void WriteImage(const std::string& path, const XmImage& image) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.bytes.data()), std::streamsize(image.bytes.size()));
}

TEST(RenderTool, InfoSaysWhatTheLoaderFound) {
    const std::string path = testing::TempDir() + "older_layout.xm";
    XmImage image = xmcases::OlderLayout(0x0102);
    image.bytes.resize(image.bytes.size() - 9);
    WriteImage(path, image);
    const ToolRun info = RunTool(path + " --info", true);
    ASSERT_EQ(info.status, 0);
    EXPECT_NE(info.output.find("Loader:       format 1.02 layout\n"
                               "              sample data 9 bytes short\n"),
              std::string::npos)
        << info.output;
    EXPECT_EQ(RunTool("--embedded --info", true).output.find("Loader:"), std::string::npos);
}

// The demo's song plays by tinsel rules unless FT2 rules are forced on it.
TEST(RenderTool, RulesByTrackerNameOrForced) {
    const ToolRun byName = RunTool("--embedded -q --seconds 1 -o -", true);
    const ToolRun tinsel = RunTool("--embedded -q --seconds 1 --rules tinsel -o -", true);
    const ToolRun ft2 = RunTool("--embedded -q --seconds 1 --rules ft2 -o -", true);
    ASSERT_EQ(byName.status | tinsel.status | ft2.status, 0);
    EXPECT_EQ(byName.output, tinsel.output);
    EXPECT_EQ(ft2.output.size(), tinsel.output.size());
    EXPECT_NE(ft2.output, tinsel.output);
    EXPECT_NE(RunTool("--embedded --info --rules ft2", true).output.find("Rules:        ft2\n"),
              std::string::npos);
}

TEST(RenderTool, EachFailureIsOneLineAndANonZeroExit) {
    const std::string dir = testing::TempDir();
    {
        std::ofstream(dir + "not_a_song.xm") << "plain text, no module";
        std::ofstream cut(dir + "damaged.xm", std::ios::binary);
        cut.write(reinterpret_cast<const char*>(EmbeddedSong), 400);
    }
    WriteImage(dir + "ogg.xm", xmcases::OggSample());
    const struct {
        std::string arguments, message;
    } cases[] = {
        {dir + "missing.xm", "cannot read " + dir + "missing.xm: No such file or directory"},
        {dir + "not_a_song.xm", dir + "not_a_song.xm is not an XM module"},
        {dir + "damaged.xm", dir + "damaged.xm does not load: the file ends before its 13 patterns"},
        {dir + "ogg.xm", dir + "ogg.xm does not load: instrument 1, sample 1: Ogg Vorbis compressed sample "
                               "data is not supported"},
        {"--embedded -o " + dir + "no-such-dir/out.wav",
         "cannot write " + dir + "no-such-dir/out.wav: No such file or directory"},
        {"--embedded --solo 0-40", "--solo wants channels from 0 to 31, such as 0,2-4"},
        {"--embedded --loops 0", "--loops 0 renders forever: give --seconds too"},
        {"--embedded --rules it2", "--rules wants tinsel or ft2"},
    };
    for (const auto& c : cases) {
        const ToolRun run = RunTool(c.arguments);
        EXPECT_NE(run.status, 0) << c.arguments;
        EXPECT_EQ(run.output, "tinsel-render: " + c.message + "\n") << c.arguments;
    }
}

} // namespace
