#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>

#include "player/format/load_report.h"
#include "player/format/module.h"
#include "player/format/song.h"
#include "player/player.h"
#include "tests/player/xm_cases.h"
#include "tests/player/xm_image.h"

namespace {

using namespace xmcases;

struct Loaded {
    Module* m = nullptr;
    LoadReport report{};
    explicit Loaded(const XmImage& image) {
        m = LoadModuleFromMemory(image.bytes.data(), image.bytes.size(), &report);
    }
    ~Loaded() { FreeModule(m); }
    const Instrument& Ins(int i) const { return m->instruments[i]; }
};

const uint8_t* Cell(const Module* m, int pattern, int row, int channel) {
    return m->patterns[pattern].cells + (row * m->channelCount + channel) * kCellSize;
}

TEST(LoaderCells, PackedAndUnpackedCellsWithNoteAndInstrumentFixUps) {
    XmImage image(2, 5, 2, 1, 0, 125, {0, 3});
    // Row 0: packed note 97 + instrument 200; unpacked note 0 with effect. Row 1: 0x80 empty; note 120.
    image.Pattern(2, {0x83, 97, 200, 0, 1, 2, 3, 4, 0x80, 0x81, 120});
    const Loaded song(image);
    const Module* m = song.m;
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->usedPatternCount, 4);
    EXPECT_EQ(m->patternSlots, 4);
    EXPECT_EQ(m->restartPosition, 0);                                              // 5 lies past the song
    const uint8_t expect[4][5] = {{kKeyOff, 0, 0, 0, 0}, {0, 1, 2, 3, 4}, {}, {}}; // 120 is no note
    for (int cell = 0; cell < 4; ++cell)
        EXPECT_EQ(0, std::memcmp(Cell(m, 0, cell / 2, cell % 2), expect[cell], 5)) << cell;
    EXPECT_EQ(m->patterns[3].rows, 64); // added for the order entry 3
    EXPECT_EQ(m->initialGlobalVolume, 64);
}

TEST(LoaderHeader, BpmClampedAndAForeignIdRefused) {
    for (const auto& [bpm, loaded] : {std::pair{20, 32}, {999, 255}}) {
        const Loaded song(XmImage(1, 0, 1, 0, 0, static_cast<uint16_t>(bpm), {0}));
        ASSERT_NE(song.m, nullptr);
        EXPECT_EQ(song.m->defaultBpm, loaded);
    }
    XmImage bad(1, 0, 1, 0, 0, 125, {0});
    bad.bytes[3] = 'X';
    EXPECT_EQ(Loaded(bad).m, nullptr);
}

TEST(LoaderCells, EmptyPatternsAreBoundedInTotal) {
    // Each nine-byte header of 65535 rows of 32 channels asks for 10 MB of zeros: three fit, four do not.
    for (uint16_t patterns : {4, 3}) {
        XmImage image(1, 0, 32, patterns, 0, 125, {0});
        for (int i = 0; i < patterns; ++i)
            image.Pattern(65535, {});
        const Loaded song(image);
        ASSERT_EQ(song.m != nullptr, patterns == 3);
        EXPECT_TRUE(song.m == nullptr || song.m->patterns[2].cells[65535 * 32 * kCellSize - 1] == 0);
    }
}

TEST(LoaderFailures, MissingCallbacksAndNull) {
    SetStreamCallbacks(SongOpen, nullptr, SongRead, SongSeek, SongTell);
    EXPECT_EQ(LoadModule("#101"), nullptr);
    EXPECT_EQ(LoadModuleFromMemory(nullptr, 0), nullptr);
    EXPECT_FALSE(FreeModule(nullptr));
}

TEST(LoaderFailures, EveryTruncationLoadsOrFailsCleanly) {
    XmImage image(2, 1, 2, 1, 2, 125, {0, 1});
    image.Pattern(2, {0x83, 97, 200, 0, 1, 2, 3, 4, 0x80, 0x81, 12});
    image.Instrument({});
    image.Instrument({{4, 0, 4, 0x02, {1, 2, 3, 4}}, {6, 2, 2, 0x11, {1, 0, 2, 0, 3, 0}}});
    int loaded = 0;
    for (size_t n = 0; n <= image.bytes.size(); ++n) {
        Module* m = LoadModuleFromMemory(image.bytes.data(), n);
        loaded += m != nullptr;
        FreeModule(m);
    }
    EXPECT_GE(loaded, 1); // at least the whole image
}

TEST(SongStream, ReadAndSeekLimits) {
    ASSERT_EQ(SongOpen("ignored"), 1);
    const int32_t size = static_cast<int32_t>(EmbeddedSongSize);
    // Offset and origin of each seek, where it lands: clamped to the stream,
    // an unknown origin ignored, only the origin's low byte counting.
    const int32_t seeks[][3] = {{-5, 0, 0}, {10, 2, size}, {3, 3, size}, {3, 0x100, 3}, {-10, 1, 0}};
    for (const auto& [offset, origin, at] : seeks) {
        SongSeek(1, offset, origin);
        EXPECT_EQ(SongTell(1), at) << offset << " from " << origin;
    }
    unsigned char buf[8] = {0xAA, 0xAA};
    SongSeek(1, 0, 2);
    EXPECT_EQ(SongRead(buf, 4, 1), 0);
    EXPECT_EQ(buf[0], 0xAA);
    SongSeek(1, -2, 2);
    EXPECT_EQ(SongRead(buf, 8, 1), 2);
    EXPECT_EQ(SongTell(1), size);
    SetStreamCallbacks(SongOpen, SongClose, SongRead, SongSeek, SongTell);
    Module* m = LoadModule("#101");
    EXPECT_NE(m, nullptr);
    FreeModule(m);
}

// An instrument without samples; one whose loops the loader mends: a forward
// loop of length 0 (no loop), a 16-bit ping-pong loop of odd byte length, a
// loop past the end; and one read after them.
XmImage Loops() {
    XmImage image(0, 0, 1, 0, 3, 125, {});
    image.Instrument({});
    image.Instrument({{2, 0, 0, 0x01, {0x10, 0xF0}},
                      {4, 1, 2, 0x01, {0x10, 0x10, 0x10, 0x10}},
                      {9, 2, 4, 0x12, {1, 0, 1, 0, 1, 0, 1, 0, 9}},
                      {3, 1, 100, 0x01, {1, 1, 1}}});
    image.Instrument({{0, 0, 0, 0, {}}});
    return image;
}

Loaded LoadCase(const std::string& name) {
    if (name == "loops")
        return Loaded(Loops());
    for (const Case& c : kCases) {
        if (name == c.name)
            return Loaded(c.build());
    }
    ADD_FAILURE() << "no case " << name;
    return Loaded(XmImage(0, 0, 0, 0, 0, 0, {}));
}

std::vector<int> Ints(const std::vector<int8_t>& wave) {
    return std::vector<int>(wave.begin(), wave.end());
}

TEST(LoaderCases, EachFileLoadsWithItsReportAndSampleCounts) {
    const std::map<std::string, std::pair<std::vector<std::string>, std::vector<int>>> expected = {
        {"cut-sample-data", {{"sample data 9 bytes short"}, {1, 1}}},
        // The second instrument's sample headers lie past the end.
        {"cut-instrument-header", {{"instruments 2-3 cut short by the end of the file"}, {1, 0, 0}}},
        {"short-headers", {{"3 short instrument headers (fields not stored are zero)"}, {0, 2, 1, 0, 1}}},
        {"layout-102", {{"format 1.02 layout"}, {2, 1}}},
        {"layout-103", {{"format 1.03 layout"}, {2, 1}}},
        {"adpcm", {{"2 ADPCM samples"}, {3}}},
        {"twenty-samples", {{"1 instrument with more than 16 samples (up to 20)"}, {20, 1}}},
        {"extension-chunk", {{"10 bytes after the song ignored"}, {1}}},
        {"ogg-sample",
         {{"refused: instrument 1, sample 1: Ogg Vorbis compressed sample data is not supported"}, {}}},
        {"short-pattern", {{"1 pattern whose data ends before the last row (the rest empty)"}, {1}}},
        {"stereo-samples", {{"2 stereo samples"}, {2}}},
        {"127-channels", {{}, {1}}},
        {"128-channels", {{"refused: 128 channels; the player plays 127 at most"}, {}}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        Loaded song(c.build());
        EXPECT_EQ(song.m == nullptr, c.refused);
        EXPECT_EQ(DescribeLoad(song.report), expected.at(c.name).first);
        std::vector<int> counts;
        for (int i = 0; song.m != nullptr && i < song.m->instrumentCount; ++i) {
            counts.push_back(song.Ins(i).sampleCount);
        }
        EXPECT_EQ(counts, expected.at(c.name).second);
    }
}

// Every stored sample decodes to its waveform (8-bit values unless the shift
// is 0) with its loop clamped to what is stored; past a forward loop the
// guard entry repeats its start, past a ping-pong loop its end.
TEST(LoaderCases, SamplesDecodeWithTheirLoops) {
    const std::vector<int> ramp16(kRamp16.begin(), kRamp16.end());
    struct Decoded {
        const char* file;
        int instrument, sample;
        std::vector<int> values;
        int shift = 8;
        uint8_t mode = kLoopNone;
        uint32_t loopStart = 0, loopLength = 0; // of a loop
        std::vector<int> right = {};            // a stereo sample's right channel
    };
    std::vector<Decoded> cases = {
        {"cut-sample-data", 0, 0, Ints(kRamp8), 8, kLoopForward, 2, 8},
        // 11 of 20 bytes: five 16-bit values, the odd byte unused; the loop 4..10 becomes 4..5.
        {"cut-sample-data", 1, 0, {100, -200, 300, -400, 500}, 0, kLoopForward, 4, 1},
        {"cut-instrument-header", 0, 0, Ints(kRamp8)},
        {"short-headers", 1, 0, {1, 2, 3, 4}},
        {"short-headers", 1, 1, {5, 6, 7, 8}},
        {"short-headers", 2, 0, {-1, -2, -3, -4}},
        {"short-headers", 4, 0, Ints(kRamp8)},
        {"adpcm", 0, 0, Ints(AdpcmWave()), 8, kLoopForward, 8, 25},
        {"adpcm", 0, 1, {-1, -2, -4, 60}},
        // 16 + 17 and 16 + 2 bytes in the file: the plain sample starts after them.
        {"adpcm", 0, 2, {7, -7, 7, -7}},
        {"twenty-samples", 1, 0, Ints(kRamp8)},
        // Lengths and loops count both channels; each channel is coded from 0.
        {"stereo-samples", 0, 0, {10, 20, 30, 40}, 8, kLoopForward, 1, 3, {-1, -2, -3, -4}},
        {"stereo-samples", 0, 1, {1000, 2000, 3000}, 0, kLoopNone, 0, 0, {-1000, -2000, -3000}},
        {"loops", 1, 0, {16, 0}},
        // The entries past a loop's end hold its guard.
        {"loops", 1, 1, {16, 32, 48, 32}, 8, kLoopForward, 1, 2},
        {"loops", 1, 2, {1, 2, 3, 3}, 0, kLoopPingPong, 1, 2},
        {"loops", 1, 3, {1, 2, 3}, 8, kLoopForward, 1, 2},
    };
    for (const char* layout : {"layout-102", "layout-103"}) {
        cases.push_back({layout, 0, 0, Ints(kRamp8)});
        cases.push_back({layout, 0, 1, {1, 2, 3, 4}});
        cases.push_back({layout, 1, 0, ramp16, 0, kLoopPingPong, 2, 8});
    }
    for (int i = 0; i < 20; ++i) {
        cases.push_back({"twenty-samples", 0, i, {i, -i}});
    }
    for (const Decoded& d : cases) {
        SCOPED_TRACE(std::string(d.file) + " " + std::to_string(d.instrument) + "." +
                     std::to_string(d.sample));
        Loaded song = LoadCase(d.file);
        ASSERT_NE(song.m, nullptr);
        const Sample& s = *song.Ins(d.instrument).samples[d.sample];
        std::vector<int> values, right;
        for (uint32_t k = 0; k < s.length; ++k) {
            values.push_back(s.data[k] / (1 << d.shift));
            if (s.right != nullptr) {
                right.push_back(s.right[k] / (1 << d.shift));
            }
        }
        EXPECT_EQ(values, d.values);
        EXPECT_EQ(right, d.right);
        // Each channel's one block of peaks, as the meters read them.
        ASSERT_NE(s.peaks, nullptr);
        EXPECT_EQ(s.rightPeaks != nullptr, s.right != nullptr);
        for (const auto& [channel, peaks] : {std::pair{s.data, s.peaks}, std::pair{s.right, s.rightPeaks}}) {
            int peak = 0;
            for (uint32_t k = 0; channel != nullptr && k < s.length; ++k)
                peak = std::max(peak, channel[k] < 0 ? -channel[k] - 1 : int{channel[k]});
            if (channel != nullptr) {
                EXPECT_EQ(peaks[0], peak);
            }
        }
        EXPECT_EQ(s.loopMode, d.mode);
        if (d.mode != kLoopNone) {
            EXPECT_EQ(std::make_pair(s.loopStart, s.loopLength), std::make_pair(d.loopStart, d.loopLength));
            const uint32_t end = s.loopStart + s.loopLength;
            for (const int16_t* channel : {s.data, s.right}) {
                if (channel != nullptr) {
                    EXPECT_EQ(channel[end], channel[d.mode == kLoopForward ? s.loopStart : end - 1]);
                }
            }
        }
    }
}

// A table's blocks of kPeakBlock entries, the last one short, for either
// channel, padded with zeros; a negative entry counts one less, so that the
// lowest fits too; nothing for a sample without data.
TEST(Peaks, EachBlocksLargestMagnitude) {
    std::vector<int16_t> left(2 * kPeakBlock + 5, 0), right(left.size(), 0);
    left[3] = -7;
    left[kPeakBlock + 100] = -32768;
    left[kPeakBlock + 101] = 32767;
    left[2 * kPeakBlock + 4] = 9;
    right[kPeakBlock - 1] = 300;
    right[2 * kPeakBlock] = -1;
    for (bool stereo : {false, true}) {
        SCOPED_TRACE(stereo);
        Sample s{};
        s.data = left.data();
        s.right = stereo ? right.data() : nullptr;
        s.length = static_cast<uint32_t>(left.size());
        ASSERT_TRUE(MakePeaks(s));
        const std::vector<int16_t> peaks(s.peaks, s.peaks + 3 + kPeakPadding);
        EXPECT_EQ(peaks, (std::vector<int16_t>{6, 32767, 9, 0, 0, 0, 0, 0, 0, 0, 0}));
        if (stereo) {
            ASSERT_NE(s.rightPeaks, nullptr);
            EXPECT_EQ(std::vector<int16_t>(s.rightPeaks, s.rightPeaks + 3 + kPeakPadding),
                      (std::vector<int16_t>{300, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        } else {
            EXPECT_EQ(s.rightPeaks, nullptr);
        }
        delete[] s.peaks;
    }
    Sample none{};
    EXPECT_TRUE(MakePeaks(none));
    EXPECT_EQ(none.peaks, nullptr);
}

TEST(LoaderCases, MapsHeadersAndPatternsOfEachLayout) {
    const Loaded loops = LoadCase("loops");
    for (int k = 0; k < SampleSlots(loops.Ins(0)); ++k)
        EXPECT_EQ(loops.Ins(0).samples[k], &EmptySample);
    const Instrument& mended = loops.Ins(1);
    const Sample& s = *mended.samples[3];
    EXPECT_EQ(
        std::vector<int>({mended.fadeout, mended.volumeType, mended.panningType, s.finetune, s.relativeNote,
                          int(s.panning), loops.Ins(2).sampleCount, int(loops.Ins(2).samples[0]->length)}),
        std::vector<int>({0x2468, 5, 5, -5, -2, 128, 1, 0}));
    EXPECT_EQ(mended.samples[4], &EmptySample);

    const Loaded cut = LoadCase("cut-instrument-header");
    // The map's first 66 entries are stored.
    EXPECT_EQ(std::make_pair(cut.Ins(1).sampleMap[66], cut.Ins(1).sampleMap[67]),
              std::make_pair(uint8_t{1}, uint8_t{0}));
    EXPECT_EQ(MappedSample(cut.Ins(1), cut.Ins(1).sampleMap[0]), &EmptySample);

    const Loaded shortHeaders = LoadCase("short-headers");
    const Instrument& mapOnly = shortHeaders.Ins(1);
    // The map where stored (not in the third's header), no envelopes or fadeout.
    EXPECT_EQ(std::vector<int>({mapOnly.sampleMap[10], shortHeaders.Ins(2).sampleMap[10],
                                mapOnly.volumePointCount, mapOnly.volumeType, mapOnly.fadeout}),
              std::vector<int>({1, 0, 0, 0, 0}));

    for (const char* layout : {"layout-102", "layout-103"}) {
        const Loaded song = LoadCase(layout);
        EXPECT_EQ(std::make_pair(song.m->patterns[0].rows, song.m->patterns[1].rows), std::make_pair(64, 1));
        const uint8_t second[5] = {50, 2, 0x40, 0x0F, 3};
        EXPECT_EQ(0, std::memcmp(Cell(song.m, 1, 0, 1), second, 5));
        EXPECT_EQ(Cell(song.m, 1, 0, 0)[0], 49);
    }

    // Packed data that ends after row 7 of 64: the rows after it are empty,
    // the instrument after it whole, and the song plays its 8 rows (row 6
    // 16 times by EEF): 138 ticks.
    const Loaded shortPattern = LoadCase("short-pattern");
    const uint8_t breakCell[5] = {0, 0, 0, 0x0D, 0};
    EXPECT_EQ(0, std::memcmp(Cell(shortPattern.m, 0, 7, 3), breakCell, 5));
    const std::vector<uint8_t> empty(5 * 4 * 56, 0);
    EXPECT_EQ(0, std::memcmp(Cell(shortPattern.m, 0, 8, 0), empty.data(), empty.size()));
    EXPECT_EQ(shortPattern.Ins(0).samples[0]->length, 32u);
    EXPECT_EQ(MeasureSong(*shortPattern.m, 44100).frames, 138 * 882);

    // Map entries above 15 name samples only where the rule allows 256.
    const Loaded twenty = LoadCase("twenty-samples");
    const Instrument& ins = twenty.Ins(0);
    EXPECT_EQ(MappedSample(ins, ins.sampleMap[0]), &EmptySample);
    EXPECT_EQ(MappedSample(ins, ins.sampleMap[0], 256), ins.samples[19]);
    EXPECT_EQ(MappedSample(ins, ins.sampleMap[1], 256), ins.samples[17]);
    EXPECT_EQ(MappedSample(ins, ins.sampleMap[2]), ins.samples[3]);
    EXPECT_EQ(MappedSample(ins, 20, 256), &EmptySample);
}

} // namespace
