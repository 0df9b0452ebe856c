#include <gtest/gtest.h>

#include "player/module.h"
#include "player/song.h"
#include "tests/player/xm_image.h"

namespace {

Module* Load(const XmImage& image) {
    return LoadModuleFromMemory(image.bytes.data(), image.bytes.size());
}

const uint8_t* Cell(const Module* m, int pattern, int row, int channel) {
    return m->patterns[pattern].cells + (row * m->channelCount + channel) * kCellSize;
}

TEST(LoaderCells, PackedAndUnpackedCellsWithNoteAndInstrumentFixUps) {
    XmImage image(2, 5, 2, 1, 0, 125, {0, 3});
    // Row 0: packed note 97 + instrument 200; unpacked note 0 with effect. Row 1: 0x80 empty; note 120.
    image.Pattern(2, {0x83, 97, 200, 0, 1, 2, 3, 4, 0x80, 0x81, 120});
    Module* m = Load(image);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->usedPatternCount, 4);
    EXPECT_EQ(m->patternSlots, 4);
    EXPECT_EQ(m->restartPosition, 0); // 5 lies past the song
    EXPECT_EQ(Cell(m, 0, 0, 0)[0], kKeyOff);
    EXPECT_EQ(Cell(m, 0, 0, 0)[1], 0);
    const uint8_t expectUnpacked[5] = {0, 1, 2, 3, 4};
    EXPECT_EQ(0, std::memcmp(Cell(m, 0, 0, 1), expectUnpacked, 5));
    const uint8_t empty[5] = {};
    EXPECT_EQ(0, std::memcmp(Cell(m, 0, 1, 0), empty, 5));
    EXPECT_EQ(Cell(m, 0, 1, 1)[0], 0);  // out-of-range note is no note
    EXPECT_EQ(m->patterns[3].rows, 64); // added for the order entry 3
    EXPECT_EQ(m->tickRoutine != nullptr, true);
    EXPECT_EQ(m->initialGlobalVolume, 64);
    EXPECT_TRUE(FreeModule(m));
}

TEST(LoaderHeader, BpmClampedAndTooManyChannelsRefused) {
    Module* m = Load(XmImage(1, 0, 1, 0, 0, 20, {0}));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->defaultBpm, 32);
    FreeModule(m);
    m = Load(XmImage(1, 0, 1, 0, 0, 999, {0}));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->defaultBpm, 255);
    FreeModule(m);
    EXPECT_EQ(Load(XmImage(1, 0, 33, 0, 0, 125, {0})), nullptr);
    XmImage bad(1, 0, 1, 0, 0, 125, {0});
    bad.bytes[3] = 'X';
    EXPECT_EQ(Load(bad), nullptr);
}

TEST(LoaderInstruments, SamplesLoopsAndDeltas) {
    XmImage image(0, 0, 1, 0, 3, 125, {});
    image.Instrument({});
    image.Instrument({
        {2, 0, 0, 0x01, {0x10, 0xF0}},                // forward loop of length 0: no loop
        {4, 1, 2, 0x01, {0x10, 0x10, 0x10, 0x10}},    // forward loop 1..3
        {9, 2, 4, 0x12, {1, 0, 1, 0, 1, 0, 1, 0, 9}}, // 16-bit ping-pong, odd length
        {3, 1, 100, 0x01, {1, 1, 1}},                 // loop past the end: clamped
    });
    XmSampleDesc many{0, 0, 0, 0, {}};
    image.Instrument(std::vector<XmSampleDesc>(1, many));
    Module* m = Load(image);
    ASSERT_NE(m, nullptr);
    const Instrument& none = m->instruments[0];
    EXPECT_EQ(none.sampleCount, 0);
    for (Sample* s : none.samples) {
        EXPECT_EQ(s, &EmptySample);
    }
    const Instrument& ins = m->instruments[1];
    ASSERT_EQ(ins.sampleCount, 4);
    EXPECT_EQ(ins.samples[4], &EmptySample);
    EXPECT_EQ(ins.fadeout, 0x2468);
    EXPECT_EQ(ins.volumeType, 5);
    EXPECT_EQ(ins.panningType, 0);

    const Sample& a = *ins.samples[0];
    EXPECT_EQ(a.loopMode, kLoopNone);
    EXPECT_EQ(a.loopLength, 2u);
    EXPECT_EQ(a.data[0], 4096);
    EXPECT_EQ(a.data[1], 0);
    EXPECT_EQ(a.data[2], 0);
    EXPECT_EQ(a.data[-1], 0);

    const Sample& b = *ins.samples[1];
    EXPECT_EQ(b.loopMode, kLoopForward);
    EXPECT_EQ(b.data[1], 8192);
    EXPECT_EQ(b.data[b.loopStart + b.loopLength], b.data[b.loopStart]);

    const Sample& c = *ins.samples[2];
    EXPECT_EQ(c.bits, 16);
    EXPECT_EQ(c.length, 4u);
    EXPECT_EQ(c.loopStart, 1u);
    EXPECT_EQ(c.loopLength, 2u);
    EXPECT_EQ(c.loopMode, kLoopPingPong);
    EXPECT_EQ(c.data[0], 1);
    EXPECT_EQ(c.data[2], 3);
    EXPECT_EQ(c.data[3], 3); // ping-pong end repeats the last loop sample

    const Sample& d = *ins.samples[3];
    EXPECT_EQ(d.loopStart + d.loopLength, d.length);
    EXPECT_EQ(d.finetune, -5);
    EXPECT_EQ(d.relativeNote, -2);
    EXPECT_EQ(d.panning, 128u);
    // The odd byte of the 16-bit sample is skipped, so the next instrument is read where it lies.
    EXPECT_EQ(m->instruments[2].sampleCount, 1);
    EXPECT_EQ(m->instruments[2].samples[0]->length, 0u);
    FreeModule(m);
}

TEST(LoaderCells, EmptyPatternsAreBoundedInTotal) {
    // Each nine-byte header of 65535 rows of 32 channels asks for 10 MB of zeros.
    XmImage image(1, 0, 32, 4, 0, 125, {0});
    for (int i = 0; i < 4; ++i) {
        image.Pattern(65535, {});
    }
    EXPECT_EQ(Load(image), nullptr);
    XmImage three(1, 0, 32, 3, 0, 125, {0});
    for (int i = 0; i < 3; ++i) {
        three.Pattern(65535, {});
    }
    Module* m = Load(three);
    ASSERT_NE(m, nullptr);
    EXPECT_NE(m->patterns[2].cells, nullptr);
    EXPECT_EQ(m->patterns[2].cells[65535 * 32 * kCellSize - 1], 0);
    FreeModule(m);
}

TEST(LoaderInstruments, SeventeenSamplesFail) {
    XmImage image(0, 0, 1, 0, 1, 125, {});
    XmSampleDesc s{0, 0, 0, 0, {}};
    image.Instrument(std::vector<XmSampleDesc>(17, s));
    EXPECT_EQ(Load(image), nullptr);
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
    unsigned char buf[8] = {0xAA, 0xAA};
    SongSeek(1, -5, 0);
    EXPECT_EQ(SongTell(1), 0);
    SongSeek(1, 10, 2);
    EXPECT_EQ(SongTell(1), size);
    EXPECT_EQ(SongRead(buf, 4, 1), 0);
    EXPECT_EQ(buf[0], 0xAA);
    SongSeek(1, -2, 2);
    EXPECT_EQ(SongRead(buf, 8, 1), 2);
    EXPECT_EQ(SongTell(1), size);
    SongSeek(1, 3, 3);
    EXPECT_EQ(SongTell(1), size);
    SongSeek(1, 3, 0x100); // low byte 0: from start
    EXPECT_EQ(SongTell(1), 3);
    SongSeek(1, -10, 1);
    EXPECT_EQ(SongTell(1), 0);
    SetStreamCallbacks(SongOpen, SongClose, SongRead, SongSeek, SongTell);
    Module* m = LoadModule("#101");
    ASSERT_NE(m, nullptr);
    FreeModule(m);
}

} // namespace
