// Subsongs, sound settings, channel state and mutes on a player instance, and
// a cell's text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "player/engine/replay.h"
#include "player/format/cell_text.h"
#include "player/player.h"
#include "tests/player/xm_image.h"

namespace {

constexpr int32_t kRate = 44100;
constexpr int64_t kRow = 6 * 882; // speed 6 at 125 BPM

using ModulePtr = std::unique_ptr<Module, decltype(&FreeModule)>;

ModulePtr Load(const XmImage& image) {
    return ModulePtr(LoadModuleFromMemory(image.bytes.data(), image.bytes.size()), FreeModule);
}

// Four tunes in one song, as games pack them: orders 0-10 jump back to 0,
// 11-22 stop with F00, 23 jumps to itself, 24-27 jump back to 24. Every
// order its own pattern of four rows; order 0 row 1 sets 126 BPM, whose
// ticks have an odd count of frames.
XmImage GameSong() {
    constexpr int kOrders = 28;
    std::vector<uint8_t> orders;
    for (int i = 0; i < kOrders; ++i)
        orders.push_back(static_cast<uint8_t>(i));
    XmImage image(kOrders, 0, 1, kOrders, 0, 125, orders);
    for (int p = 0; p < kOrders; ++p) {
        std::vector<XmCell> cells(4);
        for (XmCell& c : cells)
            c.volume = 0x50; // no pattern empty
        auto last = [&](uint8_t effect, uint8_t parameter) { cells[3] = {0, 0, 0x50, effect, parameter}; };
        if (p == 10)
            last(0xB, 0);
        if (p == 22)
            last(0xF, 0);
        if (p == 23)
            last(0xB, 23);
        if (p == 27)
            last(0xB, 24);
        image.PatternCells(4, cells);
    }
    return image;
}

TEST(Subsongs, FourTunesInOneSong) {
    const ModulePtr song = Load(GameSong());
    ASSERT_NE(song, nullptr);
    const std::vector<Subsong> subsongs = FindSubsongs(*song, kRate, RuleSet::Ft2);
    ASSERT_EQ(subsongs.size(), 4u);
    const int starts[] = {0, 11, 23, 24};
    // Rows until each comes back or stops; F00 ends its tune where its row starts.
    const int64_t lengths[] = {44 * kRow, 47 * kRow, 4 * kRow, 16 * kRow};
    const int64_t loops[] = {44 * kRow, 0, 4 * kRow, 16 * kRow};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(subsongs[i].startOrder, starts[i]) << i;
        EXPECT_EQ(subsongs[i].lengthFrames, lengths[i]) << i;
        EXPECT_EQ(subsongs[i].loopFrames, loops[i]) << i;
    }

    // The third alone: from order 23, its four rows, then the end.
    auto player = std::make_unique<Player>();
    ASSERT_TRUE(InitPlayer(*player, kRate));
    ASSERT_TRUE(StartSong(*player, song.get(), RuleSet::Ft2));
    EXPECT_FALSE(SelectSubsong(*player, 4));
    ASSERT_TRUE(SelectSubsong(*player, 2));
    EXPECT_EQ(CurrentSubsong(*player), 2);
    EXPECT_EQ(UpcomingPosition(*player).order, 23);
    EXPECT_EQ(MeasureSong(*player).frames, 4 * kRow);
    SetRepeatCount(*player, 1);
    std::vector<float> block(2 * 1000);
    int64_t total = 0;
    for (int32_t n; (n = RenderFrames(*player, block.data(), 1000)) > 0;) {
        total += n;
        EXPECT_EQ(CurrentPosition(*player).order, 23);
    }
    EXPECT_EQ(total, 4 * kRow);
    // Seeks count from the subsong's start.
    ASSERT_TRUE(SeekToFrame(*player, 2 * kRow));
    EXPECT_EQ(UpcomingPosition(*player).order, 23);
    EXPECT_EQ(UpcomingPosition(*player).row, 2);
}

TEST(TempoFactor, TwiceAsFastHalvesTheLength) {
    const ModulePtr song = Load(GameSong());
    ASSERT_NE(song, nullptr);
    auto player = std::make_unique<Player>();
    ASSERT_TRUE(InitPlayer(*player, kRate));
    for (RuleSet rules : {RuleSet::Tinsel, RuleSet::Ft2}) {
        ASSERT_TRUE(StartSong(*player, song.get(), rules));
        // Tinsel rules know no jumps: the whole song is one tune there.
        ASSERT_TRUE(SelectSubsong(*player, rules == RuleSet::Ft2 ? 1 : 0));
        const int64_t normal = MeasureSong(*player).frames;
        EXPECT_FALSE(SetTempoFactor(*player, 4.5));
        ASSERT_TRUE(SetTempoFactor(*player, 2.0));
        const int64_t fast = MeasureSong(*player).frames;
        // The fractions of a frame carry on from tick to tick.
        EXPECT_LE(std::llabs(2 * fast - normal), 2) << static_cast<int>(rules);
        // And playback lasts as long as the walk says.
        SetRepeatCount(*player, 1);
        std::vector<float> block(2 * 4096);
        int64_t total = 0;
        for (int32_t n; (n = RenderFrames(*player, block.data(), 4096)) > 0;)
            total += n;
        EXPECT_EQ(total, fast);
        ASSERT_TRUE(SetTempoFactor(*player, 1.0));
        EXPECT_EQ(MeasureSong(*player).frames, normal);
    }
}

// Two channels playing a looped square wave of +-100 on instrument 1: C-4
// on channel 0 panned left, E-4 on channel 1 at volume 32; or C-4 on
// channel `playing` alone.
XmImage TwoVoices(int channels = 2, int playing = -1) {
    XmImage image(1, 0, static_cast<uint16_t>(channels), 1, 1, 125, {0});
    std::vector<XmCell> cells(static_cast<size_t>(8 * channels));
    if (playing < 0) {
        cells[0] = {49, 1, 0xC2, 0, 0}; // the sample's volume, panning 0x20
        cells[1] = {53, 1, 0x30, 0, 0};
    } else {
        cells[static_cast<size_t>(playing)] = {49, 1, 0x50, 0, 0};
    }
    image.PatternCells(8, cells);
    std::vector<int8_t> wave(32);
    for (size_t i = 0; i < wave.size(); ++i)
        wave[i] = i < 16 ? 100 : -100;
    XmSampleDesc sample{32, 0, 32, 0x01, XmImage::Delta(wave)};
    sample.volume = 64;
    image.InstrumentWith(XmInstrumentDesc{}, {sample});
    return image;
}

std::vector<float> Render(Player& player, int32_t frames) {
    std::vector<float> out(2 * static_cast<size_t>(frames));
    RenderFrames(player, out.data(), frames);
    return out;
}

TEST(StereoSeparation, HundredIsAsMixedNoneIsMono) {
    const ModulePtr song = Load(TwoVoices());
    ASSERT_NE(song, nullptr);
    auto plain = std::make_unique<Player>(), set = std::make_unique<Player>();
    for (RuleSet rules : {RuleSet::Tinsel, RuleSet::Ft2}) {
        SCOPED_TRACE(static_cast<int>(rules));
        ASSERT_TRUE(InitPlayer(*plain, kRate) && InitPlayer(*set, kRate));
        ASSERT_TRUE(StartSong(*plain, song.get(), rules) && StartSong(*set, song.get(), rules));
        EXPECT_FALSE(SetStereoSeparation(*set, 201));
        ASSERT_TRUE(SetStereoSeparation(*set, 100));
        const std::vector<float> a = Render(*plain, 900), b = Render(*set, 900);
        EXPECT_EQ(a, b);
        ASSERT_TRUE(SetStereoSeparation(*set, 0));
        const std::vector<float> mixed = Render(*plain, 900), mono = Render(*set, 900);
        bool stereo = false;
        for (size_t i = 0; i < mono.size(); i += 2) {
            ASSERT_EQ(mono[i], mono[i + 1]) << i;
            EXPECT_FLOAT_EQ(mono[i], (mixed[i] + mixed[i + 1]) / 2) << i;
            stereo = stereo || mixed[i] != mixed[i + 1];
        }
        EXPECT_TRUE(stereo); // the song's own mix is not mono already
        ASSERT_TRUE(SetStereoSeparation(*set, 200));
        const std::vector<float> base = Render(*plain, 900), wide = Render(*set, 900);
        for (size_t i = 0; i < wide.size(); i += 2)
            EXPECT_NEAR(wide[i] - wide[i + 1], 2 * (base[i] - base[i + 1]), 1e-2) << i;
    }
}

TEST(PitchFactor, DoublesEveryChannelsFrequency) {
    const ModulePtr song = Load(TwoVoices());
    ASSERT_NE(song, nullptr);
    auto plain = std::make_unique<Player>(), high = std::make_unique<Player>();
    for (RuleSet rules : {RuleSet::Tinsel, RuleSet::Ft2}) {
        SCOPED_TRACE(static_cast<int>(rules));
        ASSERT_TRUE(InitPlayer(*plain, kRate) && InitPlayer(*high, kRate));
        ASSERT_TRUE(StartSong(*plain, song.get(), rules) && StartSong(*high, song.get(), rules));
        ASSERT_TRUE(SetPitchFactor(*high, 1.0));
        EXPECT_EQ(Render(*plain, 900), Render(*high, 900));
        ASSERT_TRUE(SetPitchFactor(*high, 2.0));
        Render(*plain, 900);
        Render(*high, 900);
        EXPECT_EQ(plain->framesPlayed, high->framesPlayed);
        for (int c = 0; c < 2; ++c) {
            const ChannelState a = GetChannelState(*plain, c), b = GetChannelState(*high, c);
            ASSERT_TRUE(a.active && b.active) << c;
            EXPECT_GT(a.frequency, 1000.0);
            EXPECT_NEAR(b.frequency, 2 * a.frequency, 1e-4 * a.frequency) << c;
            // The voices step twice as fast, whichever mixer sounds them.
            if (rules == RuleSet::Ft2) {
                const Ft2Voice& va = plain->ft2.voices[2 * c + plain->ft2.current[c]];
                const Ft2Voice& vb = high->ft2.voices[2 * c + high->ft2.current[c]];
                EXPECT_NEAR(vb.step, 2.0 * va.step, 1.0) << c;
            } else {
                const MixVoice &va = plain->VoicePool[c], &vb = high->VoicePool[c];
                EXPECT_NEAR(vb.stepInt + vb.stepFrac / 4294967296.0,
                            2 * (va.stepInt + va.stepFrac / 4294967296.0), 1e-4)
                    << c;
            }
        }
    }
}

float Peak(const std::vector<float>& frames, int side) {
    float peak = 0;
    for (size_t i = static_cast<size_t>(side); i < frames.size(); i += 2)
        peak = std::max(peak, std::fabs(frames[i]) / 32768.0f);
    return peak;
}

TEST(ChannelState, WhatIsSoundingAndItsLevels) {
    const ModulePtr song = Load(TwoVoices());
    ASSERT_NE(song, nullptr);
    auto player = std::make_unique<Player>(), solo = std::make_unique<Player>();
    for (RuleSet rules : {RuleSet::Tinsel, RuleSet::Ft2}) {
        SCOPED_TRACE(static_cast<int>(rules));
        ASSERT_TRUE(InitPlayer(*player, kRate) && InitPlayer(*solo, kRate));
        ASSERT_TRUE(StartSong(*player, song.get(), rules));
        EXPECT_FALSE(GetChannelState(*player, 0).active); // nothing played yet
        Render(*player, 900);
        const ChannelState a = GetChannelState(*player, 0), b = GetChannelState(*player, 1);
        ASSERT_TRUE(a.active && b.active);
        EXPECT_EQ(a.note, 49);
        EXPECT_EQ(b.note, 53);
        EXPECT_EQ(a.instrument, 1);
        EXPECT_EQ(a.sample, 0);
        EXPECT_EQ(a.volume, 64);
        EXPECT_EQ(b.volume, 32);
        EXPECT_EQ(a.panning, 0x20);
        EXPECT_EQ(b.panning, 128);
        EXPECT_EQ(GetChannelState(*player, 2).sample, -1); // outside the song
        // Each channel's levels are the peaks of its output alone.
        for (int c = 0; c < 2; ++c) {
            ASSERT_TRUE(StartSong(*solo, song.get(), rules));
            SetMutedChannels(*solo, c == 0 ? 2u : 1u);
            const std::vector<float> alone = Render(*solo, 1800);
            const std::vector<float> last(alone.begin() + 1800, alone.end());
            Render(*player, 900); // the same block, now playing both
            const ChannelState s = GetChannelState(*player, c);
            EXPECT_NEAR(s.levelLeft, Peak(last, 0), 0.01 + 0.05 * Peak(last, 0)) << c;
            EXPECT_NEAR(s.levelRight, Peak(last, 1), 0.01 + 0.05 * Peak(last, 1)) << c;
            EXPECT_GT(s.levelRight, 0.02f) << c;
            ASSERT_TRUE(StartSong(*player, song.get(), rules));
            Render(*player, 900);
        }
        ASSERT_TRUE(SetChannelMuted(*player, 1, true));
        Render(*player, 900);
        EXPECT_EQ(GetChannelState(*player, 1).levelLeft, 0.0f);
        EXPECT_GT(GetChannelState(*player, 0).levelLeft, 0.0f);
    }
}

TEST(Mutes, AnyOfTheSongsChannels) {
    const ModulePtr song = Load(TwoVoices(48, 40));
    ASSERT_NE(song, nullptr);
    auto player = std::make_unique<Player>();
    for (RuleSet rules : {RuleSet::Tinsel, RuleSet::Ft2}) {
        SCOPED_TRACE(static_cast<int>(rules));
        ASSERT_TRUE(InitPlayer(*player, kRate));
        EXPECT_FALSE(SetChannelMuted(*player, 127, true));
        ASSERT_TRUE(SetChannelMuted(*player, 40, true)); // before the song, kept
        ASSERT_TRUE(StartSong(*player, song.get(), rules));
        EXPECT_FALSE(SetChannelMuted(*player, 48, true));
        SetMutedChannels(*player, 0); // the first 32 only
        std::vector<float> out = Render(*player, 1800);
        EXPECT_EQ(Peak(out, 0), 0.0f);
        ASSERT_TRUE(SetChannelMuted(*player, 40, false));
        out = Render(*player, 1800);
        EXPECT_GT(Peak(out, 0), 0.03f);
        ASSERT_TRUE(SetChannelMuted(*player, 40, true));
        Render(*player, 900); // the glide to silence
        out = Render(*player, 900);
        EXPECT_EQ(Peak(out, 0), 0.0f);
    }
}

TEST(CellText, AsTrackersShowIt) {
    struct Case {
        uint8_t cell[5];
        const char* text;
    };
    const Case cases[] = {
        {{0, 0, 0, 0, 0}, "... .. ... ..."},          {{49, 1, 0x50, 0xA, 0x0F}, "C-4 01 v40 A0F"},
        {{2, 12, 0x10, 0xF, 0x7D}, "C#0 12 v00 F7D"}, {{96, 128, 0x6A, 0x21, 0x10}, "B-7 28 -0A X10"},
        {{255, 0, 0xC8, 0, 0}, "=== .. p80 ..."},     {{97, 0, 0xF3, 0, 1}, "=== .. g03 001"},
        {{98, 0, 0x55, 40, 0xFF}, "??? .. ?55 ?FF"},
    };
    for (const Case& c : cases) {
        char text[kCellTextLength + 1];
        EXPECT_EQ(FormatCell(c.cell, text, sizeof text), kCellTextLength);
        EXPECT_STREQ(text, c.text);
    }
    char cut[5];
    EXPECT_EQ(FormatCell(cases[1].cell, cut, sizeof cut), 4u);
    EXPECT_STREQ(cut, "C-4 ");
    EXPECT_EQ(FormatCell(cases[1].cell, cut, 0), 0u);
}

} // namespace
