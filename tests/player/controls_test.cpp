// A player instance's controls: song length, position and seek (the repeat
// count: tests/lib), subsongs, sound settings, channel state and mutes; and a
// cell's text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "player/engine/effects.h"
#include "player/engine/replay.h"
#include "player/format/cell_text.h"
#include "player/format/song.h"
#include "player/player.h"
#include "tests/player/xm_image.h"

namespace {

constexpr int32_t kRate = 44100;
constexpr int64_t kRow = 6 * 882; // speed 6 at 125 BPM

using ModulePtr = std::unique_ptr<Module, decltype(&FreeModule)>;

ModulePtr Load(const XmImage& image) {
    return ModulePtr(LoadModuleFromMemory(image.bytes.data(), image.bytes.size()), FreeModule);
}

struct EffectAt {
    int order, row;
    uint8_t effect, parameter;
};

// One channel, no instruments, a pattern of `rows` rows per order with the
// given effects placed in it. Row 0 sets a volume, so that no pattern is
// empty (the original tracker plays an empty pattern as 64 rows).
XmImage SequenceSong(std::vector<int> rows, int restart, const std::vector<EffectAt>& effects) {
    std::vector<uint8_t> orders;
    for (size_t i = 0; i < rows.size(); ++i)
        orders.push_back(static_cast<uint8_t>(i));
    XmImage image(static_cast<uint16_t>(rows.size()), static_cast<uint16_t>(restart), 1,
                  static_cast<uint16_t>(rows.size()), 0, 125, orders);
    for (size_t p = 0; p < rows.size(); ++p) {
        std::vector<XmCell> cells(static_cast<size_t>(rows[p]));
        cells[0].volume = 0x50;
        for (const EffectAt& e : effects)
            if (e.order == static_cast<int>(p))
                cells[static_cast<size_t>(e.row)] = {0, 0, 0x50, e.effect, e.parameter};
        image.PatternCells(static_cast<uint16_t>(rows[p]), cells);
    }
    return image;
}

TEST(SongLength, CountedByHand) {
    struct Case {
        const char* name;
        std::vector<int> rows;
        int restart;
        std::vector<EffectAt> effects;
        int64_t frames, loopFrames;
        int loopOrder, loopRow;
    };
    const int64_t fastRow = 3 * 882, fastSlowRow = 3 * 735; // F03, then F96 (150 BPM)
    const std::vector<Case> cases = {
        // clang-format off
        {"plain, restart 1", {4, 4, 4}, 1, {}, 12 * kRow, 8 * kRow, 1, 0},
        {"backward jump", {4, 4}, 0, {{1, 1, kPositionJump, 0x00}}, 6 * kRow, 6 * kRow, 0, 0},
        {"pattern loop, twice more",
         {4}, 0, {{0, 0, kExtended, Ext(kPatternLoop, 0)}, {0, 2, kExtended, Ext(kPatternLoop, 2)}},
         10 * kRow, 10 * kRow, 0, 0},
        // The loop's start row carries into the next pass: rows 0 1 2 1 2 1 2 3, then 1 2 ...
        {"pattern loop from row 1",
         {4}, 0, {{0, 1, kExtended, Ext(kPatternLoop, 0)}, {0, 2, kExtended, Ext(kPatternLoop, 2)}},
         9 * kRow, 7 * kRow, 0, 2},
        {"pattern delay of two rows",
         {4}, 0, {{0, 1, kExtended, Ext(kPatternDelay, 2)}}, 6 * kRow, 6 * kRow, 0, 0},
        {"break into row 2 of the next", {4, 4}, 0, {{0, 1, kPatternBreak, 0x02}}, 4 * kRow, 4 * kRow, 0, 0},
        {"break beyond the next pattern", {4, 4}, 0, {{0, 0, kPatternBreak, 0x10}}, 5 * kRow, 5 * kRow, 0, 0},
        {"jump past the end to restart",
         {2, 2, 2}, 1, {{0, 1, kPositionJump, 0x09}}, 6 * kRow, 4 * kRow, 1, 0},
        {"endless jumps between two orders",
         {2, 2}, 0, {{0, 0, kPositionJump, 0x01}, {1, 0, kPositionJump, 0x00}}, 2 * kRow, 2 * kRow, 0, 0},
        // The second pass starts at 150 BPM: all of its rows are fast and slow.
        {"speed and tempo",
         {4}, 0, {{0, 0, kSetSpeedOrTempo, 0x03}, {0, 2, kSetSpeedOrTempo, 0x96}},
         2 * fastRow + 2 * fastSlowRow, 4 * fastSlowRow, 0, 0},
        {"F00 ends the song", {4, 4}, 0, {{1, 2, kSetSpeedOrTempo, 0x00}}, 6 * kRow, 0, 0, 0},
        // clang-format on
    };
    for (const Case& c : cases) {
        const XmImage image = SequenceSong(c.rows, c.restart, c.effects);
        ModulePtr song(LoadModuleFromMemory(image.bytes.data(), image.bytes.size()), FreeModule);
        ASSERT_NE(song, nullptr) << c.name;
        const SongLength length = MeasureSong(*song, kRate);
        // Where the loop starts only counts when there is one.
        const bool loops = c.loopFrames > 0;
        EXPECT_EQ(std::tuple(length.bounded, length.frames, length.loopFrames, loops ? length.loopOrder : 0,
                             loops ? length.loopRow : 0),
                  std::tuple(true, c.frames, c.loopFrames, c.loopOrder, c.loopRow))
            << c.name;
        // The third pass starts as the second did, so it lasts as long.
        EXPECT_EQ(MeasurePasses(*song, kRate, 3), c.frames + 2 * c.loopFrames) << c.name;
    }
}

class DemoSong : public ::testing::Test {
protected:
    ModulePtr song{LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize), FreeModule};
    std::unique_ptr<Player> player = std::make_unique<Player>();
    void SetUp() override {
        ASSERT_NE(song, nullptr);
        InitPlayer(*player, kRate);
        StartSong(*player, song.get());
    }
    // Frames until the engine is about to start (order, row) after frame `after`.
    int64_t EngineFramesTo(int order, int row, int64_t after) {
        const SongState& m = player->song;
        int64_t frames = 0;
        for (int ticks = 0; ticks < 1 << 20; ++ticks) {
            const int next = m.nextOrder >= 0 ? m.nextOrder : m.orderIndex;
            const int nextRow = m.nextRow >= 0 ? m.nextRow : m.row;
            if (m.tick == 0 && next == order && nextRow == row && frames > after)
                return frames;
            PlayTick(*player);
            frames += m.samplesPerTick;
        }
        return -1;
    }
};

TEST_F(DemoSong, LastsItsScoresSeventyFourPointSevenSecondsAndTheEngineAgrees) {
    const SongLength length = MeasureSong(*song, kRate);
    EXPECT_TRUE(length.bounded);
    EXPECT_NEAR(static_cast<double>(length.frames) / kRate, 74.7, 0.05);
    // The walk knows the rules the engine plays by: the engine comes back to
    // the walk's loop row exactly when the walk says.
    const int64_t firstVisit = EngineFramesTo(length.loopOrder, length.loopRow, -1);
    ASSERT_GE(firstVisit, 0);
    StartSong(*player, song.get());
    EXPECT_EQ(EngineFramesTo(length.loopOrder, length.loopRow, firstVisit), length.frames);
    EXPECT_EQ(EngineFramesTo(length.loopOrder, length.loopRow, 0), length.loopFrames);
}

TEST_F(DemoSong, SeekLandsOnTheRowWithTheTimePlaybackReachesItAt) {
    const int64_t frames = EngineFramesTo(3, 8, -1);
    ASSERT_GT(frames, 0);
    ASSERT_TRUE(SeekTo(*player, 3, 8));
    EXPECT_EQ(player->framesPlayed, frames);
    std::vector<float> block(2 * 64);
    RenderFrames(*player, block.data(), 64);
    const PlayPosition at = CurrentPosition(*player);
    EXPECT_EQ(std::tuple(at.order, at.pattern, at.row, at.tick, at.frame),
              std::tuple(3, int(song->orderTable[3]), 8, 0, frames + 64));
    EXPECT_DOUBLE_EQ(at.seconds, static_cast<double>(frames + 64) / kRate);
}

TEST(Subsongs, FourTunesInOneSong) {
    const ModulePtr song = Load(Build(GameSong()));
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
    const ModulePtr song = Load(Build(GameSong()));
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
            // The float voices step twice as fast (the FT2 mixer's step is the frequency above).
            if (rules == RuleSet::Tinsel) {
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
        // All at once, the same, and no more than the song's.
        ChannelState all[3];
        ASSERT_EQ(GetChannelStates(*player, all, 3), 2);
        EXPECT_TRUE(all[0] == a && all[1] == b);
        // Each channel's levels are the peaks of its output alone, from
        // the sample's tables or, for a sample without them, its entries.
        Sample& sample = *song->instruments[0].samples[0];
        int16_t* const tables = sample.peaks;
        for (int c = 0; c < 4; ++c) {
            sample.peaks = c < 2 ? tables : nullptr;
            ASSERT_TRUE(StartSong(*solo, song.get(), rules));
            SetMutedChannels(*solo, c % 2 == 0 ? 2u : 1u);
            const std::vector<float> alone = Render(*solo, 1800);
            const std::vector<float> last(alone.begin() + 1800, alone.end());
            Render(*player, 900); // the same block, now playing both
            const ChannelState s = GetChannelState(*player, c % 2);
            EXPECT_NEAR(s.levelLeft, Peak(last, 0), 0.01 + 0.05 * Peak(last, 0)) << c;
            EXPECT_NEAR(s.levelRight, Peak(last, 1), 0.01 + 0.05 * Peak(last, 1)) << c;
            EXPECT_GT(s.levelRight, 0.02f) << c;
            ASSERT_TRUE(StartSong(*player, song.get(), rules));
            Render(*player, 900);
        }
        sample.peaks = tables;
        ASSERT_TRUE(SetChannelMuted(*player, 1, true));
        Render(*player, 900);
        EXPECT_EQ(GetChannelState(*player, 1).levelLeft, 0.0f);
        EXPECT_GT(GetChannelState(*player, 0).levelLeft, 0.0f);
    }
}

// States asked one by one are kept until the instance changes: asked again
// after any call that changes it, they are what an instance never asked
// before tells, and the change shows where it is heard at once.
TEST(ChannelState, AskedAgainAfterEveryChange) {
    // A rising sample played high, once through: each block's levels differ.
    XmImage image(1, 0, 2, 1, 1, 125, {0});
    std::vector<XmCell> cells(16);
    cells[0] = {85, 1, 0x50, 0, 0};
    cells[1] = {73, 1, 0x40, 0, 0};
    image.PatternCells(8, cells);
    std::vector<int8_t> wave(8192);
    for (size_t i = 0; i < wave.size(); ++i)
        wave[i] = static_cast<int8_t>(i / 64);
    XmSampleDesc sample{8192, 0, 0, 0, XmImage::Delta(wave)};
    sample.volume = 64;
    image.InstrumentWith(XmInstrumentDesc{}, {sample});
    const ModulePtr song = Load(image);
    ASSERT_NE(song, nullptr);
    struct Case {
        const char* name;
        void (*change)(Player&, const Module*);
        bool shows[2]; // tinsel, FT2 rules
    };
    static float out[2 * 900];
    const Case cases[] = {
        {"render", [](Player& p, const Module*) { RenderFrames(p, out, 300); }, {true, true}},
        {"render to tick end", [](Player& p, const Module*) { RenderToTickEnd(p, out, 300); }, {true, true}},
        {"mix", [](Player& p, const Module*) { MixVoices(p, out, 300); }, {true, false}},
        {"block start", [](Player& p, const Module*) { p.levelFrames = 0; }, {true, true}},
        {"mute", [](Player& p, const Module*) { SetChannelMuted(p, 1, true); }, {true, true}},
        {"mutes", [](Player& p, const Module*) { SetMutedChannels(p, 1); }, {true, true}},
        {"pitch", [](Player& p, const Module*) { SetPitchFactor(p, 2.0); }, {true, false}},
        {"interpolation",
         [](Player& p, const Module*) { SetInterpolation(p, Interpolation::Cubic); },
         {false, true}},
        {"seek", [](Player& p, const Module*) { SeekTo(p, 0, 4); }, {true, true}},
        {"seek to frame", [](Player& p, const Module*) { SeekToFrame(p, 0); }, {true, true}},
        {"subsong", [](Player& p, const Module*) { SelectSubsong(p, 0); }, {true, true}},
        {"start", [](Player& p, const Module* m) { StartSong(p, m); }, {true, true}},
        {"init", [](Player& p, const Module*) { InitPlayer(p, kRate); }, {true, true}},
    };
    auto asked = std::make_unique<Player>(), fresh = std::make_unique<Player>();
    for (RuleSet rules : {RuleSet::Tinsel, RuleSet::Ft2}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (rules == RuleSet::Tinsel ? " tinsel" : " ft2"));
            for (Player* p : {asked.get(), fresh.get()}) {
                ASSERT_TRUE(InitPlayer(*p, kRate) && StartSong(*p, song.get(), rules));
                Render(*p, 900);
            }
            const ChannelState before[2] = {GetChannelState(*asked, 0), GetChannelState(*asked, 1)};
            ASSERT_TRUE(before[0].active && before[1].active);
            c.change(*asked, song.get());
            c.change(*fresh, song.get());
            const ChannelState truth[2] = {GetChannelState(*fresh, 0), GetChannelState(*fresh, 1)};
            const ChannelState after[2] = {GetChannelState(*asked, 0), GetChannelState(*asked, 1)};
            EXPECT_TRUE(after[0] == truth[0] && after[1] == truth[1]);
            EXPECT_EQ(!(after[0] == before[0] && after[1] == before[1]), c.shows[rules == RuleSet::Ft2]);
        }
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
        // Muted while it sounds: silent within one ramp; under FT2 rules its last
        // step waits for the next tick.
        ASSERT_TRUE(SetChannelMuted(*player, 40, true));
        out = Render(*player, 1800);
        const int32_t ramp = rules == RuleSet::Ft2 ? 882 : player->rampLength;
        EXPECT_EQ(Peak(std::vector<float>(out.begin() + 2 * ramp, out.end()), 0), 0.0f);
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
