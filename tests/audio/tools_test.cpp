// The player's tools as a user runs them. tinsel-render: the WAV it streams to
// a file or to standard output, what --info says, stems that add up to the mix,
// FLAC that decodes to the WAV's samples, loudness brought to a target under
// the true-peak ceiling, batches that leave no half file, subsongs alone.
// tinsel-play, driven through a pseudo-terminal on SDL's drivers that need no
// sound hardware: it plays, pauses, quits on q or Ctrl-C, fails in one line
// without a device, shows its tracker view on a terminal that holds it and
// leaves the terminal as it was. Each tool's failures are one clear line each.
#include <FLAC/stream_decoder.h>
#include <ebur128.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <utmp.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "player/format/module.h"
#include "player/player.h"
#include "player/format/song.h"
#include "tests/common/test_util.h"
#include "tests/player/mod_image.h"
#include "tests/player/xm_cases.h"
#include "tests/player/xm_image.h"

namespace {

namespace fs = std::filesystem;
using testutil::ToolRun;

const std::string kTool = TINSEL_RENDER_TOOL;

ToolRun Render(const std::string& arguments, bool keepStdout = false) {
    return testutil::RunTool(kTool + " " + arguments, keepStdout);
}
// What the tool writes on standard output.
std::string Stdout(const std::string& arguments) {
    return Render(arguments, true).output;
}

uint32_t Le(const std::string& bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | uint8_t(bytes[at + size_t(i)]);
    return value;
}

// The samples of a stereo WAV as the tool writes it (a 44-byte header, 58 for
// float data), 16-bit or float, on the float scale (a 16-bit step is 1/32768).
struct Wav {
    uint32_t rate = 0;
    std::vector<float> samples;
    std::vector<int16_t> pcm; // 16-bit files only
};

Wav ReadWav(const std::string& bytes) {
    Wav wav;
    const bool isFloat = bytes.size() >= 58 && Le(bytes, 20, 2) == 3;
    const size_t step = isFloat ? 4 : 2;
    for (size_t at = isFloat ? 58 : 44; at + step <= bytes.size(); at += step) {
        if (isFloat) {
            float value;
            std::memcpy(&value, bytes.data() + at, 4);
            wav.samples.push_back(value);
        } else {
            wav.pcm.push_back(int16_t(Le(bytes, at, 2)));
            wav.samples.push_back(float(wav.pcm.back()) / 32768.0f);
        }
    }
    wav.rate = bytes.size() >= 44 ? Le(bytes, 24, 4) : 0;
    return wav;
}

std::set<std::string> FilesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_directory())
            names.insert(fs::relative(entry.path(), folder).string());
    }
    return names;
}

TEST(RenderTool, StreamsTheSongToAFileOrStandardOutputAlike) {
    testutil::ScratchDir scratch;
    ASSERT_EQ(Render("--embedded -q -o song.wav").status, 0);
    const std::string wav = testutil::ReadFile("song.wav");
    EXPECT_EQ(Stdout("--embedded -q -o -"), wav);

    Module* song = LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize);
    ASSERT_NE(song, nullptr);
    const SongLength length = MeasureSong(*song, 44100);
    FreeModule(song);
    ASSERT_GT(wav.size(), 44u);
    EXPECT_EQ(wav.compare(0, 4, "RIFF"), 0);
    EXPECT_EQ(Le(wav, 4, 4), wav.size() - 8);
    EXPECT_EQ(wav.compare(36, 4, "data"), 0);
    EXPECT_EQ(Le(wav, 40, 4), uint64_t(length.frames) * 4);
    // Two passes: the second from the restart position.
    EXPECT_EQ(Stdout("--embedded -q --loops 2 -o -").size(),
              44 + uint64_t(length.frames + length.loopFrames) * 4);
    // The first two seconds are the demo's ring, bit for bit (the ring's pinned hash).
    const std::string capped = Stdout("--embedded -q --loops 0 --seconds 2.004535 -o -");
    ASSERT_EQ(capped.size(), 44u + 88400u * 4);
    EXPECT_EQ(testutil::Fnv1a(capped.data() + 44, 88400 * 4), 0x90602c2d7d937411u);
    // The song plays by tinsel rules by its tracker name, unless FT2 rules are forced on it.
    const std::string tinsel = Stdout("--embedded -q --seconds 1 --rules tinsel -o -");
    const std::string ft2 = Stdout("--embedded -q --seconds 1 --rules ft2 -o -");
    EXPECT_EQ(Stdout("--embedded -q --seconds 1 -o -"), tinsel);
    EXPECT_EQ(ft2.size(), tinsel.size());
    EXPECT_NE(ft2, tinsel);
    // linear, the rule set's ramps and 100 % name the defaults; the other choices change the sound only.
    EXPECT_EQ(Stdout("--embedded -q --seconds 1 --interp linear --ramp rules --stereo 100 -o -"), tinsel);
    for (const char* choice : {"--interp nearest", "--interp cubic", "--interp sinc", "--ramp off",
                               "--stereo 50", "--pitch 2", "--tempo 2"}) {
        const std::string other = Stdout(std::string("--embedded -q --seconds 1 -o - ") + choice);
        EXPECT_EQ(other.size(), tinsel.size()) << choice;
        EXPECT_NE(other, tinsel) << choice;
    }
}

TEST(RenderTool, InfoNamesTheSongItsLengthAndWhatTheLoaderFound) {
    testutil::ScratchDir scratch;
    const std::string older = "older_layout.xm";
    XmImage image = xmcases::OlderLayout(0x0102);
    image.bytes.resize(image.bytes.size() - 9);
    testutil::WriteFile(older, image.bytes);
    ModSpec mod;
    mod.samples = {ModSquare(100, 0, 100)};
    mod.patterns = {{{428, 1}}};
    const std::vector<uint8_t> modBytes = BuildMod(mod);
    testutil::WriteFile("song.mod", std::string(modBytes.begin(), modBytes.end()));
    const struct {
        std::string arguments, has, hasNot;
    } cases[] = {
        {"song.mod", "Title:        a test song\nFormat:       ProTracker MOD, M.K., 4 channels\n", ""},
        {"song.mod", "Frequencies:  Amiga\nTempo:        6 ticks a row at 125 BPM\nRules:        ft2\n", ""},
        {"--embedded", "Format:       XM 1.04\n", ""},
        {"--embedded", "Title:        Tinselbay\n", "Loader:"},
        {"--embedded", "Rules:        tinsel\n", "Rules:        ft2"},
        {"--embedded", "Length:       1:14.734, then 1:09.413 a loop from order 1 row 0\n", ""},
        {"--embedded", "Subsongs:     1\n              0: order 0, 1:14.734, then it loops\n", ""},
        {"--embedded",
         "Names:        01 sunny lead\n                 00 sunny lead\n              02 steel pan\n", ""},
        {"--embedded --tempo 2",
         "Length:       0:37.367, then 0:34.706 a loop from order 1 row 0 (subsong 0, tempo 2)\n", ""},
        {"--embedded --rules ft2", "Rules:        ft2\n", ""},
        {older, "Loader:       format 1.02 layout\n              sample data 9 bytes short\n", ""},
    };
    for (const auto& c : cases) {
        const ToolRun info = Render(c.arguments + " --info", true);
        EXPECT_EQ(info.status, 0) << c.arguments;
        EXPECT_NE(info.output.find(c.has), std::string::npos) << c.has << info.output;
        EXPECT_TRUE(c.hasNot.empty() || info.output.find(c.hasNot) == std::string::npos)
            << c.hasNot << info.output;
    }
}

TEST(RenderTool, StemsAddUpToTheMixWithinOneStep) {
    testutil::ScratchDir scratch;
    const struct {
        std::string options;
        std::vector<std::string> stems; // expected, in the order the names sort
    } cases[] = {
        {"--seconds 6",
         {"tinselbay-ch00.wav", "tinselbay-ch01.wav", "tinselbay-ch02.wav", "tinselbay-ch03.wav",
          "tinselbay-ch04.wav", "tinselbay-ch05.wav", "tinselbay-ch06.wav", "tinselbay-ch07.wav",
          "tinselbay-ch08.wav", "tinselbay-ch09.wav"}},
        // The other options hold for each stem; a channel they silence has none.
        {"--loops 0 --seconds 5 --rate 22050 --fade 2 --solo 1,3-4",
         {"tinselbay-ch01.wav", "tinselbay-ch03.wav", "tinselbay-ch04.wav"}},
    };
    for (const auto& c : cases) {
        fs::remove_all("stems");
        // The mix on its own, then the stems alone into a folder not there yet.
        ASSERT_EQ(Render("--embedded -q --float " + c.options + " -o mix.wav").status, 0) << c.options;
        ASSERT_EQ(Render("--embedded -q --float " + c.options + " --stems stems").status, 0) << c.options;
        const Wav mix = ReadWav(testutil::ReadFile("mix.wav"));
        ASSERT_GT(mix.samples.size(), 0u);
        const std::set<std::string> names = FilesIn("stems");
        EXPECT_EQ(std::vector<std::string>(names.begin(), names.end()), c.stems) << c.options;
        std::vector<double> sum(mix.samples.size());
        for (const std::string& name : names) {
            const Wav stem = ReadWav(testutil::ReadFile("stems/" + name));
            ASSERT_EQ(stem.samples.size(), mix.samples.size()) << name;
            EXPECT_EQ(stem.rate, mix.rate) << name;
            for (size_t i = 0; i < sum.size(); ++i)
                sum[i] += stem.samples[i];
        }
        double worst = 0, level = 0;
        for (size_t i = 0; i < sum.size(); ++i) {
            worst = std::max(worst, std::abs(sum[i] - mix.samples[i]));
            level = std::max(level, double(std::abs(mix.samples[i])));
        }
        EXPECT_LE(worst, 1.0 / 32768) << c.options;
        EXPECT_GT(level, 0.05) << c.options; // a silent render would add up too
    }
    // With -o the mix is written beside the stems, the same as alone.
    ASSERT_EQ(Render("--embedded -q --float --seconds 6 --stems both -o both/mix.wav").status, 0);
    EXPECT_EQ(FilesIn("both").size(), 11u);
    ASSERT_EQ(Render("--embedded -q --float --seconds 6 -o mix.wav").status, 0);
    EXPECT_EQ(testutil::ReadFile("both/mix.wav"), testutil::ReadFile("mix.wav"));
}

// A FLAC stream decoded with libFLAC: its 16-bit samples and what its header says.
struct Flac {
    std::vector<int16_t> pcm;
    uint64_t totalFrames = 0;
    uint32_t rate = 0, bits = 0, channels = 0;
    bool errors = false;
};

Flac DecodeFlac(const std::string& path) {
    Flac flac;
    FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
    FLAC__stream_decoder_set_md5_checking(decoder, true);
    const auto write = [](const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                          const FLAC__int32* const buffer[], void* data) {
        auto& out = static_cast<Flac*>(data)->pcm;
        for (uint32_t i = 0; i < frame->header.blocksize; ++i)
            for (uint32_t c = 0; c < frame->header.channels; ++c)
                out.push_back(int16_t(buffer[c][i]));
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    };
    const auto metadata = [](const FLAC__StreamDecoder*, const FLAC__StreamMetadata* block, void* data) {
        Flac& out = *static_cast<Flac*>(data);
        if (block->type == FLAC__METADATA_TYPE_STREAMINFO) {
            out.totalFrames = block->data.stream_info.total_samples;
            out.rate = block->data.stream_info.sample_rate;
            out.bits = block->data.stream_info.bits_per_sample;
            out.channels = block->data.stream_info.channels;
        }
    };
    const auto error = [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data) {
        static_cast<Flac*>(data)->errors = true;
    };
    if (FLAC__stream_decoder_init_file(decoder, path.c_str(), write, metadata, error, &flac) !=
            FLAC__STREAM_DECODER_INIT_STATUS_OK ||
        !FLAC__stream_decoder_process_until_end_of_stream(decoder))
        flac.errors = true;
    // finish() is where a checksum that does not match shows.
    if (!FLAC__stream_decoder_finish(decoder))
        flac.errors = true;
    FLAC__stream_decoder_delete(decoder);
    return flac;
}

TEST(RenderTool, FlacDecodesToTheSamplesOfTheWav) {
    testutil::ScratchDir scratch;
    const struct {
        std::string options, flac; // the FLAC's file, or - for standard output with --format flac
    } cases[] = {
        {"--seconds 8", "-"},
        {"--rate 22050 --seconds 3.3 --fade 1 --mute 0-2", "song.FLAC"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Render("--embedded -q " + c.options + " -o song.wav").status, 0) << c.options;
        const Wav wav = ReadWav(testutil::ReadFile("song.wav"));
        std::string path = c.flac;
        if (c.flac == "-") {
            path = "piped.flac";
            const ToolRun piped = Render("--embedded -q --format flac " + c.options + " -o -", true);
            ASSERT_EQ(piped.status, 0) << c.options;
            testutil::WriteFile(path, piped.output);
        } else {
            ASSERT_EQ(Render("--embedded -q " + c.options + " -o " + path).status, 0) << c.options;
        }
        const Flac flac = DecodeFlac(path);
        EXPECT_FALSE(flac.errors) << c.options;
        EXPECT_EQ(flac.rate, wav.rate) << c.options;
        EXPECT_EQ(flac.bits, 16u) << c.options;
        EXPECT_EQ(flac.channels, 2u) << c.options;
        EXPECT_EQ(flac.totalFrames, wav.pcm.size() / 2) << c.options;
        EXPECT_TRUE(flac.pcm == wav.pcm)
            << c.options << ": " << flac.pcm.size() << " samples, not " << wav.pcm.size();
    }
}

struct Measured {
    double lufs, truePeak;
};

Measured Measure(const Wav& wav) {
    ebur128_state* meter = ebur128_init(2, wav.rate, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_float(meter, wav.samples.data(), wav.samples.size() / 2);
    double lufs = 0, left = 0, right = 0;
    ebur128_loudness_global(meter, &lufs);
    ebur128_true_peak(meter, 0, &left);
    ebur128_true_peak(meter, 1, &right);
    ebur128_destroy(&meter);
    return {lufs, 20 * std::log10(std::max(left, right))};
}

TEST(RenderTool, NormalizeReachesTheLoudnessUnderTheTruePeakCeiling) {
    testutil::ScratchDir scratch;
    const struct {
        std::string options;
        double target;
        bool held; // the ceiling keeps the render below the target
    } cases[] = {
        {"--float", -20, false},
        {"", -26, false},
        {"--format flac --rate 48000", -18, false},
        // The song's peaks are about 11 dB above its loudness: -4 LUFS would lift them past -1 dBTP.
        {"", -4, true},
    };
    for (const auto& c : cases) {
        const std::string target = std::to_string(int(c.target));
        const ToolRun run =
            Render("--embedded --seconds 12 --normalize " + target + " " + c.options + " -o song");
        ASSERT_EQ(run.status, 0) << c.options << run.output;
        Wav wav;
        if (c.options.find("flac") != std::string::npos) {
            wav.rate = 48000;
            for (const int16_t sample : DecodeFlac("song").pcm)
                wav.samples.push_back(float(sample) / 32768.0f);
        } else {
            wav = ReadWav(testutil::ReadFile("song"));
        }
        const Measured measured = Measure(wav);
        EXPECT_LE(measured.truePeak, -1.0) << c.options << target;
        if (c.held) {
            EXPECT_LT(measured.lufs, c.target - 1) << c.options << target;
            EXPECT_GT(measured.truePeak, -1.05) << c.options << target;
            EXPECT_NE(run.output.find("(held by the -1 dBTP ceiling)"), std::string::npos) << run.output;
        } else {
            EXPECT_NEAR(measured.lufs, c.target, 0.05) << c.options << target;
        }
        // The summary gives what the file measures.
        char shown[32];
        std::snprintf(shown, sizeof shown, ", %.1f LUFS", measured.lufs);
        EXPECT_NE(run.output.find(shown), std::string::npos) << shown << " in " << run.output;
    }
}

TEST(RenderTool, BatchesRenderEverySongTheyCanAndLeaveNoHalfFile) {
    testutil::ScratchDir scratch;
    const std::string song(reinterpret_cast<const char*>(EmbeddedSong), EmbeddedSongSize);
    std::string faster = song;
    faster[78] = char(211); // the header's BPM
    testutil::WriteFile("a.xm", song);
    testutil::WriteFile("sub/b.xm", std::string("plain text, no module"));
    testutil::WriteFile("sub/c.xm", faster);
    const std::set<std::string> songs = {"a.xm", "sub/b.xm", "sub/c.xm"};
    const std::string older = "an older render, kept whole";
    // A limit on the size of files the tool writes: every write past it fails
    // (in a coverage build, the counters' own failed writes report elsewhere).
    const std::string limited =
        "sh -c 'trap \"\" XFSZ; ulimit -f 100; GCOV_ERROR_FILE=/dev/null exec " + kTool;
    const struct {
        std::string command;
        int failures;                // lines on standard error, one for each
        std::set<std::string> added; // beside the songs when they are done
    } cases[] = {
        {kTool + " -q -j 2 --seconds 2 a.xm sub/b.xm sub/c.xm", 1, {"a.wav", "sub/c.wav"}},
        {kTool + " -q -j 3 --seconds 2 --format flac --out-dir out a.xm sub/c.xm sub/b.xm",
         1,
         {"out/a.flac", "out/c.flac"}},
        {kTool + " -q -j 2 --seconds 2 --stems stems a.xm sub/b.xm",
         1,
         {"stems/a-ch00.wav", "stems/a-ch01.wav", "stems/a-ch02.wav", "stems/a-ch03.wav", "stems/a-ch04.wav",
          "stems/a-ch05.wav", "stems/a-ch06.wav", "stems/a-ch07.wav", "stems/a-ch08.wav",
          "stems/a-ch09.wav"}},
        // Writes that fail half-way: no part of either output is left, and an older file stays.
        {limited + " -q -j 2 a.xm sub/c.xm --out-dir full'", 2, {"full/c.wav"}},
        {limited + " -q --embedded -o full/one.wav'", 1, {"full/c.wav"}},
    };
    for (const auto& c : cases) {
        for (const char* folder : {"out", "stems", "full"})
            fs::remove_all(folder);
        for (const std::string& name : FilesIn(".")) {
            if (songs.count(name) == 0)
                fs::remove(name);
        }
        if (c.command.find("full") != std::string::npos)
            testutil::WriteFile("full/c.wav", older);
        const ToolRun run = testutil::RunTool(c.command);
        EXPECT_NE(run.status, 0) << c.command;
        EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), c.failures) << run.output;
        if (c.command.find("b.xm") != std::string::npos) {
            EXPECT_EQ(run.output, "tinsel-render: sub/b.xm is neither an XM nor a MOD module (no XM text at "
                                  "its start, and too short for a MOD)\n");
        } else {
            EXPECT_NE(run.output.find("File too large"), std::string::npos) << run.output;
        }
        std::set<std::string> expected = songs;
        expected.insert(c.added.begin(), c.added.end());
        EXPECT_EQ(FilesIn("."), expected) << c.command;
        if (expected.count("full/c.wav") != 0) {
            EXPECT_EQ(testutil::ReadFile("full/c.wav"), older);
        }
    }
    // Each song in a batch renders as it does alone.
    ASSERT_EQ(Render("-q -j 2 --seconds 2 a.xm sub/c.xm").status, 0);
    EXPECT_EQ(testutil::ReadFile("sub/c.wav"), Stdout("-q --seconds 2 sub/c.xm -o -"));
    EXPECT_EQ(testutil::ReadFile("a.wav"), Stdout("-q --seconds 2 a.xm -o -"));
}

// The tool's side of subsongs (how they play: tests/player/controls_test.cpp):
// --info lists them, --subsong picks one or writes each to a file of its own.
TEST(RenderTool, SubsongsListedRenderedAloneOrEachToAFile) {
    testutil::ScratchDir scratch;
    const XmImage game = Build(GameSong());
    testutil::WriteFile("game.xm", game.bytes);
    const ToolRun info = Render("game.xm --rules ft2 --info", true);
    EXPECT_NE(info.output.find("Subsongs:     4\n              0: order 0, "), std::string::npos)
        << info.output;
    for (const char* line : {"  1: order 11, ", "  2: order 23, ", "  3: order 24, "})
        EXPECT_NE(info.output.find(line), std::string::npos) << line << info.output;

    // The third alone: its four rows of six ticks, sounding.
    ASSERT_EQ(Render("-q --rules ft2 game.xm --subsong 2 -o third.wav").status, 0);
    const std::string third = testutil::ReadFile("third.wav");
    const Wav wav = ReadWav(third);
    ASSERT_EQ(wav.samples.size(), 2u * 4 * 6 * 882);
    EXPECT_GT(*std::max_element(wav.samples.begin(), wav.samples.end()), 0.01f);
    ASSERT_EQ(Render("-q --rules ft2 game.xm --subsong all --out-dir all").status, 0);
    EXPECT_EQ(FilesIn("all"),
              (std::set<std::string>{"game-s00.wav", "game-s01.wav", "game-s02.wav", "game-s03.wav"}));
    EXPECT_EQ(testutil::ReadFile("all/game-s02.wav"), third);
    EXPECT_EQ(Render("game.xm --subsong 4").output,
              "tinsel-render: game.xm has 4 subsongs: --subsong takes 0 to 3\n");
}

// A bad request is one line on standard error and exit code 1, before any output or device opens.
TEST(RenderTool, EachFailureOfEitherToolIsOneLineAndExitCodeOne) {
    testutil::ScratchDir scratch;
    const std::string song(reinterpret_cast<const char*>(EmbeddedSong), EmbeddedSongSize);
    testutil::WriteFile("a.xm", song);
    testutil::WriteFile("sub/a.xm", song);
    testutil::WriteFile("damaged.xm", song.substr(0, 400));
    testutil::WriteFile("plain", std::string("plain text, no module"));
    const std::string render = "tinsel-render: ", play = "tinsel-play: ";
    const struct {
        std::string tool, arguments, message;
    } cases[] = {
        {render, "missing.xm", "cannot read missing.xm: No such file or directory"},
        {render, "plain",
         "plain is neither an XM nor a MOD module (no XM text at its start, and too short for a MOD)"},
        {render, "damaged.xm", "damaged.xm does not load: the file ends before its 13 patterns"},
        {render, "--embedded -o no-such-dir/out.wav",
         "cannot write no-such-dir/out.wav: No such file or directory"},
        {render, "--embedded --solo 0-40", "--solo wants channels from 0 to 31, such as 0,2-4"},
        {render, "--embedded --loops 0", "--loops 0 renders forever: give --seconds too"},
        {render, "--embedded --rules it2", "--rules wants tinsel or ft2"},
        {render, "--embedded --amp 33", "--amp wants a whole number from 1 to 32"},
        {render, "--embedded --interp lanczos", "--interp wants nearest, linear, cubic or sinc"},
        {render, "--embedded --ramp", "--ramp needs rules or off"},
        {render, "--embedded --ramp soft", "--ramp wants rules or off"},
        {render, "--embedded --format ogg", "--format wants wav or flac"},
        {render, "--embedded --float -o x.flac",
         "FLAC holds integer samples: leave out --float, or write WAV"},
        {render, "--embedded --normalize 3", "--normalize wants a loudness in LUFS from -70 to 0"},
        {render, "--embedded -j 0", "-j wants a whole number from 1 to 64"},
        {render, "a.xm sub/a.xm -o x.wav", "-o names the output of one song: for several, use --out-dir"},
        {render, "a.xm -o x.wav --out-dir d", "-o and --out-dir both say where the output goes: give one"},
        {render, "a.xm sub/a.xm --out-dir d", "a.xm and sub/a.xm would both write d/a.wav"},
        {render, "a.xm sub/a.xm --stems d --format flac", "a.xm and sub/a.xm would both write d/a-ch*.flac"},
        {render, "--embedded --stems plain", "cannot make the folder plain: Not a directory"},
        {render, "a.xm --subsong 1", "a.xm has 1 subsong: --subsong takes 0"},
        {render, "--embedded --subsong -1", "--subsong wants a subsong's number from 0, or all"},
        {render, "--embedded --subsong all -o -",
         "--subsong all writes a file for each subsong: name a file with -o, not -"},
        {render, "--embedded --stereo 201", "--stereo wants a whole number from 0 to 200"},
        {render, "--embedded --tempo 0.2", "--tempo wants a factor from 0.25 to 4"},
        {render, "--embedded --pitch", "--pitch needs a factor"},
        {play, "--pitch 5 a.xm", "--pitch wants a factor from 0.25 to 4"},
        {play, "--stereo x a.xm", "--stereo wants a whole number from 0 to 200"},
        {play, "--subsong 256 a.xm", "--subsong wants a subsong's number from 0 to 255"},
        {play, "--interp lanczos a.xm", "--interp wants nearest, linear, cubic or sinc"},
        {play, "--ramp soft a.xm", "--ramp wants rules or off"},
        {play, "a.xm --ramp", "--ramp wants rules or off"},
    };
    for (const auto& c : cases) {
        const std::string program = c.tool == render ? TINSEL_RENDER_TOOL : TINSEL_PLAY_TOOL;
        const ToolRun run = testutil::RunTool(program + " " + c.arguments + " </dev/null");
        EXPECT_EQ(run.status, 1) << c.tool << c.arguments;
        EXPECT_EQ(run.output, c.tool + c.message + "\n") << c.arguments;
    }
    EXPECT_EQ(FilesIn("."), (std::set<std::string>{"a.xm", "sub/a.xm", "damaged.xm", "plain"}));
}

struct Terminal {
    int fd = -1;
    pid_t child = -1;
    std::string seen;

    ~Terminal() {
        if (child > 0) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        if (fd >= 0)
            close(fd);
    }
    // Reads what the program writes for up to ten seconds, until text appears
    // (or, when waiting for the exit, until the program has ended).
    bool WaitFor(const std::string& text, int* status = nullptr) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (status != nullptr && waitpid(child, status, WNOHANG) == child) {
                child = -1;
                return true;
            }
            if (status == nullptr && seen.find(text) != std::string::npos)
                return true;
            pollfd in{fd, POLLIN, 0};
            char chunk[512];
            const ssize_t n = poll(&in, 1, 10) > 0 ? read(fd, chunk, sizeof chunk) : 0;
            if (n < 0 && !status)
                return false;
            seen.append(chunk, size_t(std::max<ssize_t>(n, 0)));
        }
        return false;
    }
};

// tinsel-play on a pseudo-terminal of a given size. On 80 x 24 it shows the
// tracker view: the pattern rows, the current one marked, and the meters;
// switches views, redraws only the lines that change and at most 30 times a
// second. Smaller, or with --plain, the status line. Keys pause, seek and
// quit; without a device, or with one that stops playing, one line. Each way
// out leaves the terminal as it found it.
TEST(PlayTool, KeysDevicesViewsAndExits) {
    const std::string song = testing::TempDir() + "play_tool_song.xm";
    testutil::WriteFile(song, std::string(reinterpret_cast<const char*>(EmbeddedSong), EmbeddedSongSize));
    const struct {
        const char* driver;
        unsigned short columns;
        const char* option;
        std::vector<std::pair<std::string, std::string>> keysThenText;
        int exitCode;
        bool view = false;
    } cases[] = {
        {"dummy",
         79,
         nullptr,
         {{"", "Tinselbay"}, {"", "order   0/14"}, {"\033[C", "order   1/14"}, {" ", "[paused]"}, {"q", ""}},
         0},
        {"dummy", 79, nullptr, {{"", "order"}, {"\x03", ""}}, 128 + SIGINT},
        {"no-such-driver", 79, nullptr, {{"", "tinsel-play: no audio device to play on\r\n"}}, 1},
        // The disk driver waits this long between callbacks: after its first chunk
        // the play position stands still, as an unplugged device's does.
        {"disk", 79, nullptr, {{"", "tinsel-play: the audio device stopped playing"}}, 1},
        // The row playing, marked; a channel's meter with a level on either side; the channels view.
        {"dummy",
         80,
         nullptr,
         {{"", "\033[7m>"},
          {"", "  0 ... .. "},
          {"", "=|="},
          {"2", " ch note ins name"},
          {"", "  2  "},
          {"q", ""}},
         0,
         true},
        {"dummy", 80, "--plain", {{"", "order   0/14"}, {"q", ""}}, 0},
    };
    setenv("SDL_DISKAUDIODELAY", "100000", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.driver) + " " + std::to_string(c.columns) + " " +
                     (c.option ? c.option : ""));
        winsize size{};
        size.ws_col = c.columns;
        size.ws_row = 24;
        int terminal = -1;
        Terminal t;
        ASSERT_EQ(openpty(&t.fd, &terminal, nullptr, nullptr, &size), 0);
        termios before{};
        ASSERT_EQ(tcgetattr(terminal, &before), 0);
        t.child = fork();
        ASSERT_GE(t.child, 0);
        if (t.child == 0) {
            close(t.fd);
            login_tty(terminal);
            setenv("SDL_AUDIODRIVER", c.driver, 1);
            execl(TINSEL_PLAY_TOOL, "tinsel-play", song.c_str(), c.option, static_cast<char*>(nullptr));
            _exit(127);
        }
        const auto started = std::chrono::steady_clock::now();
        for (const auto& [keys, text] : c.keysThenText) {
            ASSERT_EQ(write(t.fd, keys.data(), keys.size()), ssize_t(keys.size()));
            ASSERT_TRUE(t.WaitFor(text)) << text << "\n" << t.seen;
        }
        int status = -1;
        ASSERT_TRUE(t.WaitFor("", &status)) << "still runs";
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), c.exitCode);
        EXPECT_EQ(t.seen.find("\033[?1049h") != std::string::npos, c.view);
        if (c.view) {
            // Left after the last frame, the cursor shown again.
            EXPECT_GT(t.seen.rfind("\033[?25h\033[?1049l"), t.seen.rfind("\033[2;1H"));
            const auto count = [&](const std::string& text) {
                size_t n = 0;
                for (size_t at = t.seen.find(text); at != std::string::npos; at = t.seen.find(text, at + 1))
                    ++n;
                return n;
            };
            // The title line stays as it was; the position's changes every frame.
            EXPECT_EQ(count("\033[1;1H"), 1u);
            EXPECT_LE(double(count("\033[2;1H")), 30 * seconds + 2);
        }
        termios after{};
        ASSERT_EQ(tcgetattr(terminal, &after), 0);
        EXPECT_EQ(after.c_lflag, before.c_lflag);
        EXPECT_EQ(after.c_iflag, before.c_iflag);
        EXPECT_EQ(after.c_oflag, before.c_oflag);
        EXPECT_EQ(std::memcmp(after.c_cc, before.c_cc, sizeof before.c_cc), 0);
        close(terminal);
    }
    unsetenv("SDL_DISKAUDIODELAY");
    unsetenv("SDL_DISKAUDIOFILE");
}

} // namespace
