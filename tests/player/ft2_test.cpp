// Small constructed songs played under FT2 rules, checked tick by tick through
// the engine's channel state: pitch, volume, panning, voice starts, row order.
#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "player/rules.h"
#include "player/song.h"
#include "player/mixer.h"
#include "tests/player/engine_fixture.h"

namespace {

constexpr uint8_t C4 = 49, D4 = 51, E4 = 53, OFF = 97;

struct SongSpec {
    uint16_t tempo = 6;
    bool linear = true;
    int channels = 1;
    int rows = 8;                              // rows per pattern
    std::vector<std::vector<XmCell>> patterns; // rows x channels cells each
    std::vector<uint8_t> orders = {0};
    std::vector<XmSampleDesc> samples = {PlainSample()}; // one instrument each
    XmInstrumentDesc instrument;
};

XmImage Build(const SongSpec& s) {
    XmImage image(static_cast<uint16_t>(s.orders.size()), 0, static_cast<uint16_t>(s.channels),
                  static_cast<uint16_t>(s.patterns.size()), static_cast<uint16_t>(s.samples.size()), 125,
                  s.orders);
    image.SetTempo(s.tempo);
    image.SetFlags(s.linear ? 1 : 0);
    for (std::vector<XmCell> cells : s.patterns) {
        cells.resize(static_cast<size_t>(s.rows * s.channels));
        image.PatternCells(static_cast<uint16_t>(s.rows), cells);
    }
    for (const XmSampleDesc& sample : s.samples) {
        image.InstrumentWith(s.instrument, {sample});
    }
    return image;
}

// A one-channel song whose first pattern holds these rows.
SongSpec Rows(std::vector<XmCell> rows, uint16_t tempo = 6) {
    SongSpec s;
    s.tempo = tempo;
    s.patterns = {std::move(rows)};
    return s;
}

using Probe = std::function<int(const ::Channel&, const MixVoice&, const Module&)>;
const Probe kPeriod = [](const ::Channel& c, const MixVoice&, const Module&) { return c.finalPeriod; };
const Probe kVolume = [](const ::Channel& c, const MixVoice&, const Module&) { return c.outVolume; };
const Probe kPanning = [](const ::Channel& c, const MixVoice&, const Module&) { return c.finalPanning; };
const Probe kHeard = [](const ::Channel& c, const MixVoice&, const Module&) { return c.finalVolume; };
const Probe kGlobal = [](const ::Channel&, const MixVoice&, const Module& m) { return m.globalVolume; };
const Probe kStarted = [](const ::Channel& c, const MixVoice&, const Module&) {
    return (c.updateFlags & kUpdateNoteStart) ? 1 : 0;
};

class Ft2Test : public EngineTest {
protected:
    MixVoice* voices = player->VoicePool;

    void Start(const SongSpec& spec) {
        const std::vector<uint8_t> bytes = Build(spec).bytes;
        m = LoadModuleFromMemory(bytes.data(), bytes.size());
        ASSERT_NE(m, nullptr);
        StartSong(*player, m, RuleSet::Ft2);
    }
    void Tick() { m->tickRoutine(*player); }
    // Plays ticks until `row` of order `order` has passed; returns the probe on each of its ticks.
    std::vector<int> Watch(int row, int channel, const Probe& probe, int order = 0) {
        std::vector<int> seen;
        for (int guard = 0; guard < 2000; ++guard) {
            const bool watched = m->row == row && m->orderIndex == order;
            if (!watched && !seen.empty()) {
                break;
            }
            Tick();
            if (watched) {
                seen.push_back(probe(player->channels[channel], voices[channel], *m));
            }
        }
        return seen;
    }
};

struct Recipe {
    const char* name;
    SongSpec song;
    int row;
    Probe probe;
    std::vector<int> expect;
    int channel = 0;
};

SongSpec Amiga(SongSpec s) {
    s.linear = false;
    return s;
}

SongSpec AutoVibrato() {
    SongSpec s = Rows({{C4, 1}});
    s.instrument.vibratoType = 0;
    s.instrument.vibratoDepth = 8;
    s.instrument.vibratoRate = 16;
    return s;
}

// Volume envelope (0,64) (10,32) (20,0), or with sustain, (0,64) (2,32) holding at point 0.
SongSpec Enveloped(std::vector<XmCell> rows, bool sustain) {
    SongSpec s = Rows(std::move(rows));
    s.instrument.volumePoints = sustain ? decltype(s.instrument.volumePoints){{0, 64}, {2, 32}}
                                        : decltype(s.instrument.volumePoints){{0, 64}, {10, 32}, {20, 0}};
    s.instrument.volumeType = sustain ? 3 : 1;
    s.instrument.fadeout = 2048;
    return s;
}

SongSpec TwoInstruments(std::vector<XmCell> rows) {
    SongSpec s = Rows(std::move(rows));
    s.samples = {PlainSample(64), PlainSample(20)};
    return s;
}

// Tick by tick, one row of one channel.
TEST_F(Ft2Test, RecipesTickByTick) {
    const SongSpec porta = Rows({{C4, 1}, {E4, 0, 0, 3, 0x10}, {0, 0, 0, 2, 0x20}, {0, 0, 0, 3, 0}});
    const SongSpec keyOff = Rows({{C4, 1}, {OFF}, {0, 0, 0, 0xC, 0x20}});
    const SongSpec retrig = Rows({{C4, 1, 0, 0x1B, 0x23}, {0, 0, 0, 0x1B, 0}});
    const SongSpec sustained = Enveloped({{C4, 1}, {OFF}}, true);
    const std::vector<Recipe> recipes = {
        // clang-format off
        // Pitch: arpeggio counts down, portamentos, vibrato, auto-vibrato, finetune.
        {"arpeggio 037", Rows({{C4, 1, 0, 0, 0x37}}), 0, kPeriod, {4608, 4160, 4416, 4608, 4160, 4416}},
        {"arpeggio at speed 17",
         Rows({{C4, 1, 0, 0, 0x37}}, 17), 0, kPeriod,
         {4608, 4608, 4608, 4160, 4416, 4608, 4160, 4416, 4608, 4160, 4416, 4608, 4160, 4416, 4608,
          4160, 4416}},
        {"amiga arpeggio",
         Amiga(Rows({{C4, 1, 0, 0, 0x37}})), 0, kPeriod, {1712, 1140, 1440, 1712, 1140, 1440}},
        {"amiga 101", Amiga(Rows({{C4, 1, 0, 1, 0x01}})), 0, kPeriod, {1712, 1708, 1704, 1700, 1696, 1692}},
        {"volume-column porta holds the note",
         Rows({{C4, 1}, {E4, 0, 0xF1}}), 1, kPeriod, {4608, 4544, 4480, 4416, 4352, 4352}},
        {"volume-column porta doubles 3xx",
         Rows({{C4, 1}, {E4, 0, 0xF1, 3, 0xFF}}), 1, kPeriod, {4608, 4480, 4352, 4352, 4352, 4352}},
        {"3xx reaches its target", porta, 1, kPeriod, {4608, 4544, 4480, 4416, 4352, 4352}},
        {"2xx after porta", porta, 2, kPeriod, {4352, 4480, 4608, 4736, 4864, 4992}},
        {"300 past the target jumps to it", porta, 3, kPeriod, {4992, 4352, 4352, 4352, 4352, 4352}},
        {"vibrato 448", Rows({{C4, 1, 0, 4, 0x48}}), 0, kPeriod, {4608, 4608, 4632, 4653, 4666, 4671}},
        {"vibrato ramp",
         Rows({{C4, 1, 0, 0xE, 0x41}, {0, 0, 0, 4, 0x48}}), 1, kPeriod, {4608, 4608, 4616, 4624, 4632, 4640}},
        {"auto-vibrato", AutoVibrato(), 0, kPeriod, {4605, 4602, 4600, 4600, 4600, 4602}},
        {"E5F finetune", Rows({{C4, 1, 0, 0xE, 0x5F}}), 0, kPeriod, {4552, 4552, 4552, 4552, 4552, 4552}},
        {"E5x lasts one note",
         Rows({{C4, 1, 0, 0xE, 0x5F}, {C4, 0}}), 1, kPeriod, {4608, 4608, 4608, 4608, 4608, 4608}},
        {"glissando rounds the porta",
         Rows({{C4, 1, 0, 0xE, 0x31}, {E4, 0, 0, 3, 0x05}}), 1, kPeriod,
         {4608, 4608, 4544, 4544, 4544, 4480}},
        {"X12", Rows({{C4, 1, 0, 0x21, 0x12}}), 0, kPeriod, {4606, 4606, 4606, 4606, 4606, 4606}},
        {"1xx floor",
         Rows({{C4, 1, 0, 1, 0xFF}, {0, 0, 0, 1, 0}, {0, 0, 0, 1, 0}, {0, 0, 0, 1, 0}}), 3, kPeriod,
         {1, 1, 1, 1, 1, 1}},
        // Volume.
        {"volume column slides skip tick 0",
         Rows({{C4, 1, 0x50}, {0, 0, 0x62}}), 1, kVolume, {64, 62, 60, 58, 56, 54}},
        {"key-off without envelope", keyOff, 1, kVolume, {0, 0, 0, 0, 0, 0}},
        {"a volume command revives it", keyOff, 2, kVolume, {32, 32, 32, 32, 32, 32}},
        {"note after key-off stays silent", Rows({{C4, 1}, {OFF}, {D4}}), 2, kVolume, {0, 0, 0, 0, 0, 0}},
        {"lone instrument restores the playing sample",
         TwoInstruments({{C4, 1, 0, 0xC, 0x0A}, {0, 2}}), 1, kVolume, {64, 64, 64, 64, 64, 64}},
        {"retrig R23", retrig, 0, kVolume, {64, 64, 62, 62, 62, 60}},
        {"retrig R23, second row", retrig, 1, kVolume, {60, 60, 58, 58, 58, 56}},
        {"retrig with a volume byte",
         Rows({{C4, 1, 0x50, 0x1B, 0x23}, {0, 0, 0, 0x1B, 0}}), 1, kVolume, {62, 62, 62, 60, 60, 60}},
        {"tremor T12", Rows({{C4, 1, 0, 0x1D, 0x12}}), 0, kVolume, {64, 64, 64, 0, 0, 0}},
        {"tremor T00 continues",
         Rows({{C4, 1, 0, 0x1D, 0x12}, {0, 0, 0, 0x1D, 0}}), 1, kVolume, {0, 64, 64, 0, 0, 0}},
        {"tremolo ramp",
         Rows({{C4, 1, 0x30, 0xE, 0x71}, {0, 0, 0, 7, 0x48}}), 1, kVolume, {32, 32, 36, 40, 44, 48}},
        {"note cut EC3", Rows({{C4, 1, 0, 0xE, 0xC3}}), 0, kVolume, {64, 64, 64, 0, 0, 0}},
        {"K03 keys off on tick 3", Rows({{C4, 1, 0, 0x14, 0x03}}), 0, kVolume, {64, 64, 64, 0, 0, 0}},
        {"H01", Rows({{C4, 1, 0, 0x11, 0x01}}), 0, kGlobal, {64, 63, 62, 61, 60, 59}},
        {"volume envelope", Enveloped({{C4, 1}}, false), 0, kHeard, {256, 240, 228, 216, 204, 192}},
        {"L05 moves the envelope",
         Enveloped({{C4, 1, 0, 0x15, 0x05}}, false), 0, kHeard, {192, 176, 164, 152, 140, 128}},
        {"sustain holds", sustained, 0, kHeard, {256, 256, 256, 256, 256, 256}},
        {"key-off releases and fades", sustained, 1, kHeard, {240, 168, 104, 96, 88, 80}},
        {"volume byte 0x55 sets 64", TwoInstruments({{C4, 2, 0x55}}), 0, kVolume, {64, 64, 64, 64, 64, 64}},
        {"fine volume memories are separate",
         Rows({{C4, 1, 0x30, 0xE, 0xA2}, {0, 0, 0, 0xE, 0xB1}, {0, 0, 0, 0xE, 0xA0}}), 2, kVolume,
         {35, 35, 35, 35, 35, 35}},
        // Panning.
        {"volume-column D0", Rows({{C4, 1, 0xD0}}), 0, kPanning, {128, 0, 0, 0, 0, 0}},
        {"P02", Rows({{C4, 1, 0, 0x19, 0x02}}), 0, kPanning, {128, 126, 124, 122, 120, 118}},
        {"8xx and volume-column CF",
         Rows({{C4, 1, 0xCF}, {0, 0, 0, 8, 0x10}}), 1, kPanning, {16, 16, 16, 16, 16, 16}},
        // Voice starts.
        {"E93", Rows({{C4, 1, 0, 0xE, 0x93}}), 0, kStarted, {1, 0, 0, 1, 0, 0}},
        {"E92", Rows({{C4, 1, 0, 0xE, 0x92}}), 0, kStarted, {1, 0, 1, 0, 1, 0}},
        {"ED0 is a normal row", Rows({{C4, 1, 0, 0xE, 0xD0}}), 0, kStarted, {1, 0, 0, 0, 0, 0}},
        {"ED7 never plays", Rows({{C4, 1, 0, 0xE, 0xD7}}), 0, kStarted, {0, 0, 0, 0, 0, 0}},
        {"E90 retriggers without a note",
         Rows({{C4, 1}, {0, 0, 0, 0xE, 0x90}}), 1, kStarted, {1, 0, 0, 0, 0, 0}},
        // clang-format on
    };
    for (const Recipe& r : recipes) {
        SCOPED_TRACE(r.name);
        FreeModule(m);
        m = nullptr;
        Start(r.song);
        EXPECT_EQ(Watch(r.row, r.channel, r.probe), r.expect);
    }
}

TEST_F(Ft2Test, NoteDelayStartsTheDelayedInstrumentAndVolume) {
    Start(TwoInstruments({{C4, 1}, {D4, 2, 0x2A, 0xE, 0xD3}}));
    const Probe both = [](const ::Channel& c, const MixVoice&, const Module&) {
        return c.finalPeriod * 100 + c.outVolume;
    };
    EXPECT_EQ(Watch(1, 0, both), (std::vector<int>{460864, 460864, 460864, 448026, 448026, 448026}));
    EXPECT_EQ(player->channels[0].instrument, &m->instruments[1]);
}

TEST_F(Ft2Test, SampleOffsetPastTheLoopEndSilences) {
    SongSpec s = Rows({{C4, 1, 0, 9, 0x02}, {C4, 1, 0, 9, 0x01}, {C4, 1, 0, 9, 0xFF}, {C4, 1, 0, 9, 0x00}});
    XmSampleDesc looped{1000, 0, 500, 0x01, std::vector<uint8_t>(1000, 1)};
    looped.finetune = looped.relativeNote = 0;
    s.samples = {looped};
    Start(s);
    std::vector<std::pair<bool, int>> seen;
    for (int row = 0; row < 4; ++row) {
        Watch(row, 0, kVolume);
        seen.emplace_back(voices[0].sample != nullptr, voices[0].posInt);
    }
    EXPECT_FALSE(seen[0].first);
    EXPECT_TRUE(seen[1].first);
    EXPECT_GE(seen[1].second, 256);
    EXPECT_FALSE(seen[2].first);
    EXPECT_FALSE(seen[3].first); // 900 reuses FF
    EXPECT_EQ(player->channels[0].offsetMemory, 0xFF);
}

TEST_F(Ft2Test, GlobalVolumeReachesChannelsLeftOfItOneTickLater) {
    SongSpec s;
    s.channels = 3;
    s.patterns = {{{C4, 1}, {0, 0, 0, 0x10, 0x20}, {C4, 1}}};
    Start(s);
    Tick();
    EXPECT_EQ(player->channels[0].finalVolume, 256);
    EXPECT_EQ(player->channels[2].finalVolume, 128);
    Tick();
    EXPECT_EQ(player->channels[0].finalVolume, 128);
    EXPECT_EQ(player->channels[2].finalVolume, 128);
}

// Row order under loops, breaks, jumps, delays and F00.
TEST_F(Ft2Test, SongClock) {
    auto visit = [this](const SongSpec& s, int ticks) {
        Start(s);
        std::vector<std::pair<int, int>> rows;
        for (int t = 0; t < ticks; ++t) {
            if (player->song.timer == 1 && player->song.delayRepeats == 0) { // next tick reads a row
                rows.emplace_back(m->orderIndex, m->row);
            }
            Tick();
        }
        return rows;
    };
    using Rows2 = std::vector<std::pair<int, int>>;
    {
        SCOPED_TRACE("pattern loop carries its start row into the next pattern");
        SongSpec s;
        s.tempo = 1;
        s.patterns = {std::vector<XmCell>(8), std::vector<XmCell>(8)};
        s.patterns[0][2] = {0, 0, 0, 0xE, 0x60};
        s.patterns[0][4] = {0, 0, 0, 0xE, 0x61};
        s.patterns[1][7] = {0, 0, 0, 0xF, 0x01}; // keeps the empty pattern at 8 rows
        s.orders = {0, 1};
        EXPECT_EQ(visit(s, 12), (Rows2{{0, 0},
                                       {0, 1},
                                       {0, 2},
                                       {0, 3},
                                       {0, 4},
                                       {0, 2},
                                       {0, 3},
                                       {0, 4},
                                       {0, 5},
                                       {0, 6},
                                       {0, 7},
                                       {1, 2}}));
        FreeModule(m);
    }
    for (const bool breakFirst : {true, false}) {
        SCOPED_TRACE(breakFirst ? "D05 left of B01" : "B01 left of D05");
        SongSpec s;
        s.tempo = 1;
        s.channels = 2;
        const XmCell d{0, 0, 0, 0xD, 0x05}, b{0, 0, 0, 0xB, 0x01};
        s.patterns = {{breakFirst ? d : b, breakFirst ? b : d}, {{0, 0, 0, 0xF, 0x01}}};
        s.orders = {0, 1};
        EXPECT_EQ(visit(s, 2), (Rows2{{0, 0}, {1, breakFirst ? 0 : 5}}));
        FreeModule(m);
    }
    {
        SCOPED_TRACE("pattern delay repeats only the later-tick actions");
        SongSpec s;
        s.channels = 2;
        s.patterns = {{{C4, 1, 0, 0xA, 0x01}, {0, 0, 0, 0xE, 0xE1}, {}, {0, 0, 0, 0xF, 0x06}}};
        Start(s);
        int ticks = 0;
        while (m->row == 0 && ticks < 100) {
            Tick();
            ++ticks;
        }
        EXPECT_EQ(ticks, 12);
        EXPECT_EQ(player->channels[0].outVolume, 53);
        FreeModule(m);
    }
    {
        SCOPED_TRACE("F00 stalls the row");
        SongSpec s = Rows({{C4, 1, 0, 0xF, 0x00}, {0, 0, 0, 0xF, 0x06}});
        EXPECT_EQ(visit(s, 5000), (Rows2{{0, 0}}));
    }
}

TEST_F(Ft2Test, BothFrequencyTablesUnderBothRuleSets) {
    struct Case {
        RuleSet rules;
        bool linear;
        uint8_t note;
        int32_t hz; // truncated: 14317456 / 1016 is 14091.98
    };
    const Case cases[] = {{RuleSet::Tinsel, true, C4, 8363},       {RuleSet::Tinsel, false, C4, 8363},
                          {RuleSet::Tinsel, false, C4 + 9, 14091}, {RuleSet::Ft2, true, C4, 8363},
                          {RuleSet::Ft2, true, C4 + 9, 14064},     {RuleSet::Ft2, false, C4, 8363},
                          {RuleSet::Ft2, false, C4 + 9, 14091}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(RuleSetName(c.rules)) + (c.linear ? " linear " : " amiga ") +
                     std::to_string(c.note));
        SongSpec s = Rows({{c.note, 1}});
        s.linear = c.linear;
        FreeModule(m);
        const std::vector<uint8_t> bytes = Build(s).bytes;
        m = LoadModuleFromMemory(bytes.data(), bytes.size());
        ASSERT_NE(m, nullptr);
        StartSong(*player, m, c.rules);
        PlayTick(*player);
        EXPECT_EQ(voices[0].frequency, c.hz);
    }
}

// The demo's song forced to FT2 rules: a different render, but a sound one.
TEST_F(Ft2Test, DemoSongPlaysUnderFt2Rules) {
    m = LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(RulesForTracker(m->trackerName), RuleSet::Tinsel);
    StartSong(*player, m, RuleSet::Ft2);
    std::vector<float> block(2 * 4410);
    std::set<int> orders;
    double peak = 0;
    for (int b = 0; b < 800; ++b) { // 80 s, past the song's end
        RenderFrames(*player, block.data(), 4410);
        orders.insert(m->orderIndex);
        for (float f : block) {
            ASSERT_TRUE(std::isfinite(f));
            peak = std::max(peak, static_cast<double>(std::fabs(f)));
        }
    }
    EXPECT_EQ(orders.size(), static_cast<size_t>(m->songLength));
    EXPECT_GT(peak, 1000.0);
    EXPECT_LT(peak, 200000.0);
}

TEST_F(Ft2Test, HeaderAndPatternLimitsAsTheOriginalLoadsThem) {
    SongSpec s = Rows({}, 0); // header speed 0, an all-empty pattern of 8 rows
    s.orders = {0, 0xFF};
    Start(s);
    EXPECT_EQ(m->speed, 1);
    EXPECT_EQ(player->song.patternRows[0], 64);
    EXPECT_EQ(player->song.songLength, 1);
    // A song whose first row has no instrument number stays silent: none is remembered at start.
    FreeModule(m);
    Start(Rows({{C4}}));
    Watch(0, 0, kVolume);
    EXPECT_EQ(voices[0].sample, nullptr);
}

} // namespace

namespace {

TEST(RulesTest, TrackerNameChoosesTheRuleSet) {
    const std::pair<const char*, RuleSet> cases[] = {
        {"songc", RuleSet::Tinsel}, {"songc               ", RuleSet::Tinsel},
        {"songc2", RuleSet::Ft2},   {"FastTracker v2.00   ", RuleSet::Ft2},
        {"", RuleSet::Ft2},         {nullptr, RuleSet::Ft2}};
    for (const auto& [name, rules] : cases) {
        EXPECT_EQ(RulesForTracker(name), rules) << (name ? name : "null");
    }
    RuleSet parsed = RuleSet::Tinsel;
    EXPECT_TRUE(ParseRuleSet("ft2", &parsed));
    EXPECT_EQ(parsed, RuleSet::Ft2);
    EXPECT_FALSE(ParseRuleSet("FT2", &parsed));
}

} // namespace
