// The replay engine's clocks, limits and rule choice, and the tinsel rules'
// pieces on a bare channel.

#include <cstring>

#include "tests/player/engine_harness.h"

namespace {

TEST_F(Engine, TinselEnvelopesEndAtTheLastPoint) {
    SongSpec s = WithEnvelope(Rows({{C4, 1}}, 4), {{0, 64}, {7, 54}, {12, 27}, {23, 7}, {126, 0}}, 1);
    s.instrument.panningPoints = {{0, 32}, {2, 0}};
    s.instrument.panningType = 1;
    s.rows = 64;
    Start(s, kTinsel);
    for (int t = 0; t < 130; ++t)
        Tick();
    EXPECT_EQ(std::vector<int>(
                  {Ch(0).envVolume, Ch(0).volEnvDone, Ch(0).envPanning, Ch(0).panEnvDone, Voice(0).volume}),
              std::vector<int>({0, 1, 0, 1, 0}));
}

TEST_F(Engine, TinselTonePortamentoKeepsNoteAndInstrumentAndGlides) {
    SongSpec s = Rows({{C4, 1}, {C4 + 2, 2, 0, kTonePorta, 0x10}}, 3);
    s.samples = {PlainSample(40, 0), PlainSample(20, 12)};
    Start(s, kTinsel);
    for (int t = 0; t < 3; ++t)
        Tick();
    const Sample* first = m->instruments[0].samples[0];
    EXPECT_EQ(Voice(0).sample, first);
    Voice(0).posInt = 5; // a restart would put it back to 0
    Ch(0).baseVolume = 10;
    EXPECT_EQ(Trace(1, 3, kBase), (std::vector<int>{4608, 4544, 4480}));
    // The target: D-4 with the relative note of the sample the held note and
    // instrument select; the note was reset with that sample's volume.
    EXPECT_EQ(std::vector<int>(
                  {Ch(0).note, Ch(0).instrumentNumber, Ch(0).portaTarget, Ch(0).baseVolume, Voice(0).posInt}),
              std::vector<int>({C4, 1, 4480, 40, 5}));
    EXPECT_EQ(Voice(0).sample, first);
}

TEST_F(Engine, TinselInstrumentBeyondTheSongPlaysSilence) {
    Start(Rows({{C4, 9}}, 1), kTinsel);
    Tick();
    EXPECT_EQ(Voice(0).sample, &EmptySample);
    EXPECT_EQ(Ch(0).baseVolume, 0);
    std::vector<float> buffer(2 * 64, 0.0f);
    MixVoices(*player, buffer.data(), 64);
    EXPECT_EQ(Voice(0).sample, nullptr);
}

// Row order under each rule set's clock.
TEST_F(Engine, SongClocks) {
    using Visits = std::vector<std::pair<int, int>>;
    SongSpec loop;
    loop.tempo = 1;
    loop.patterns = {std::vector<XmCell>(8), std::vector<XmCell>(8)};
    loop.patterns[0][2] = {0, 0, 0, kExtended, Ext(kPatternLoop, 0)};
    loop.patterns[0][4] = {0, 0, 0, kExtended, Ext(kPatternLoop, 1)};
    loop.patterns[1][7] = {0, 0, 0, kSetSpeedOrTempo, 0x01}; // keeps the empty pattern at 8 rows
    loop.orders = {0, 1};
    SongSpec restart;
    restart.tempo = 1;
    restart.rows = 2;
    restart.patterns = {{}, {}, {}};
    restart.orders = {0, 1, 2};
    restart.restart = 1;
    const auto pair = [](bool breakFirst) {
        SongSpec s;
        s.tempo = 1;
        s.channels = 2;
        const XmCell d{0, 0, 0, kPatternBreak, 0x05}, b{0, 0, 0, kPositionJump, 0x01};
        s.patterns = {{breakFirst ? d : b, breakFirst ? b : d}, {{0, 0, 0, kSetSpeedOrTempo, 0x01}}};
        s.orders = {0, 1};
        return s;
    };
    const struct {
        const char* name;
        RuleSet rules;
        SongSpec song;
        int ticks;
        Visits expect;
    } cases[] = {
        // clang-format off
        {"after the last order, the restart position", kTinsel, restart, 10,
         {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}}},
        {"F1F rules the row it stands on", kTinsel,
         Rows({{0, 0, 0, kSetSpeedOrTempo, 0x1F}, {0, 0, 0, kSetSpeedOrTempo, 0x01}}, 2), 34,
         {{0, 0}, {0, 1}, {0, 2}, {0, 3}}},
        {"F00 makes every tick a row start", kTinsel, Rows({{0, 0, 0, kSetSpeedOrTempo, 0x00}}, 3), 4,
         {{0, 0}, {0, 1}, {0, 2}, {0, 3}}},
        {"pattern loop carries its start row into the next pattern", kFt2, loop, 12,
         {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {0, 6}, {0, 7}, {1, 2}}},
        {"D05 left of B01", kFt2, pair(true), 2, {{0, 0}, {1, 0}}},
        {"B01 left of D05", kFt2, pair(false), 2, {{0, 0}, {1, 5}}},
        {"F00 stalls the row", kFt2,
         Rows({{C4, 1, 0, kSetSpeedOrTempo, 0x00}, {0, 0, 0, kSetSpeedOrTempo, 0x06}}), 5000, {{0, 0}}},
        // clang-format on
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(std::string(RuleSetName(k.rules)) + ": " + k.name);
        Start(k.song, k.rules);
        EXPECT_EQ(RowStarts(k.ticks), k.expect);
    }
}

TEST_F(Engine, TinselPatternsWithoutRowsOrCells) {
    // Order 1 names a pattern past the stored ones (added empty), order 0 one of 0 rows.
    XmImage image(3, 0, 1, 1, 0, 125, {0, 3, 0});
    image.SetTempo(1);
    image.Pattern(0, {});
    Start(image, kTinsel);
    EXPECT_EQ(m->patterns[0].rows, 0);
    for (int t = 0; t < 200; ++t) {
        Tick();
        EXPECT_LT(player->song.orderIndex, 3);
    }
    // A pattern stored without data plays empty rows, and the envelope steps on through them.
    XmImage stored(2, 0, 2, 2, 1, 125, {0, 1});
    stored.SetTempo(1);
    stored.PatternCells(1, {XmCell{C4, 1}, XmCell{}});
    stored.Pattern(256, {});
    XmInstrumentDesc ins;
    ins.volumePoints = {{0, 64}, {10, 0}};
    ins.volumeType = 1;
    stored.InstrumentWith(ins, {PlainSample()});
    Start(stored, kTinsel);
    EXPECT_EQ(m->patterns[1].rows, 256);
    EXPECT_EQ(Trace(0, 4, kEnvVolume), (std::vector<int>{64, 57, 51, 44}));
    EXPECT_EQ(player->song.orderIndex, 1);
    EXPECT_EQ(player->song.row, 2);
}

TEST_F(Engine, Ft2HeaderAndPatternLimitsAsTheOriginalLoadsThem) {
    SongSpec s = Rows({}, 0); // header speed 0, an all-empty pattern of 8 rows
    s.orders = {0, 0xFF};
    Start(s, kFt2);
    EXPECT_EQ(player->song.speed, 1);
    EXPECT_EQ(player->song.patternRows[0], 64);
    EXPECT_EQ(player->song.songLength, 1);
}

TEST(Rules, TrackerNameChoosesTheRuleSet) {
    // As stored in the header: padded with spaces or NULs to 20 characters.
    const std::pair<const char*, RuleSet> cases[] = {{"songc", kTinsel},
                                                     {"songc               ", kTinsel},
                                                     {"songc2", kFt2},
                                                     {"FastTracker v2.00   ", kFt2},
                                                     {"", kFt2}};
    for (const auto& [name, rules] : cases) {
        XmImage image = Build(SongSpec{});
        std::fill(image.bytes.begin() + 38, image.bytes.begin() + 58, uint8_t{0});
        std::copy(name, name + std::strlen(name), image.bytes.begin() + 38);
        Module* m = LoadModuleFromMemory(image.bytes.data(), image.bytes.size());
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(SongRules(*m), rules) << name;
        EXPECT_EQ(SongRules(*m, kFt2), kFt2) << name;
        FreeModule(m);
    }
    EXPECT_EQ(RulesForTracker(nullptr), kFt2);
    RuleSet parsed = kTinsel;
    EXPECT_TRUE(ParseRuleSet("ft2", &parsed));
    EXPECT_EQ(parsed, kFt2);
    EXPECT_FALSE(ParseRuleSet("FT2", &parsed));
}

// The tinsel rules' pieces on a bare channel, outside any song.
class TinselPieces : public ::testing::Test {
protected:
    std::unique_ptr<Player> player = std::make_unique<Player>();
    Module song{};
    Context x{*player, song, player->song, kTinselRules, 44100};
    Channel c{};
    MixVoice v{};
    void SetUp() override {
        player->song.globalVolume = 64;
        c.fadeoutLevel = 65536;
        c.sample = &EmptySample;
    }
    // One later tick of the channel's effect.
    void RunEffect(uint8_t effect) {
        c.effect = effect;
        TinselEffects(x, c);
    }
};

TEST_F(TinselPieces, VibratoSineDepthAndClearedLowBits) {
    // {position, depth, delta}; position 16 is the crest: 255, not 256 (which gives -120).
    const int cases[][3] = {{8, 8, -44}, {-8, 8, 44}, {1, 4, 0}, {16, 15, -116}};
    for (const auto& [position, depth, delta] : cases) {
        c = Channel{};
        c.vibratoPos = static_cast<uint8_t>(position);
        c.vibratoDepth = static_cast<uint8_t>(depth);
        RunEffect(kVibrato);
        EXPECT_EQ(c.periodDelta, delta) << position << " " << depth;
    }
}

TEST_F(TinselPieces, VolumeColumnRowStartAndLaterTicks) {
    const auto column = [this](uint8_t byte, int laterTicks) {
        c.volumeByte = byte;
        TinselVolumeColumnRowStart(c);
        for (int t = 0; t < laterTicks; ++t) {
            TinselVolumeColumn(x, c);
        }
    };
    // The byte, a volume and panning, and both after the row start and after one later tick.
    const int cases[][7] = {
        {0x0F, 32, 100, 32, 100, 32, 100}, {0x10, 32, 100, 0, 100, 0, 100},
        {0x50, 32, 100, 64, 100, 64, 100}, {0x51, 32, 100, 32, 100, 32, 100},
        {0x63, 32, 100, 29, 100, 26, 100}, {0x73, 32, 100, 35, 100, 38, 100},
        {0x83, 32, 100, 29, 100, 29, 100}, {0x93, 32, 100, 35, 100, 35, 100},
        {0xC0, 32, 100, 32, 0, 32, 0},     {0xCF, 32, 100, 32, 240, 32, 240},
        {0xD5, 32, 100, 32, 95, 32, 90},   {0xE5, 32, 100, 32, 105, 32, 110},
        {0x9F, 62, 100, 64, 100, 64, 100}, {0x6F, 20, 100, 5, 100, 0, 100},
        {0xD5, 32, 2, 32, -3, 32, -8}, // panning slides run past the edges: the voice clamps its own copy
    };
    for (const auto& k : cases) {
        c = Channel{};
        c.baseVolume = k[1];
        c.panning = k[2];
        column(static_cast<uint8_t>(k[0]), 0);
        std::vector<int> seen = {c.baseVolume, c.panning};
        TinselVolumeColumn(x, c);
        seen.insert(seen.end(), {c.baseVolume, c.panning});
        EXPECT_EQ(seen, std::vector<int>(k + 3, k + 7)) << std::hex << k[0];
    }
    // Vibrato speed and depth, then a vibrato on later ticks.
    column(0xA4, 0);
    column(0xB8, 0);
    c.vibratoPos = 8;
    TinselVolumeColumn(x, c);
    EXPECT_EQ(std::vector<int>({c.vibratoSpeed, c.vibratoDepth, c.periodDelta, c.vibratoPos}),
              std::vector<int>({4, 8, -44, 12}));
    // Tone portamento: speed y x 64 period units, no restart, glides on later ticks.
    c.notePeriod = 4000;
    c.basePeriod = 4608;
    c.updateFlags = kUpdateNoteStart | kUpdateFrequency;
    column(0xF2, 0);
    EXPECT_EQ(std::vector<int>({c.portaSpeed, c.portaTarget, c.updateFlags}),
              std::vector<int>({128, 4000, kUpdateFrequency}));
    TinselVolumeColumn(x, c);
    EXPECT_EQ(c.basePeriod, 4480);
}

// The voice's volume, gains and panning from the channel's, its envelope's
// and the song's: 2^35 is full volume times full envelope, fadeout and global volume.
TEST_F(TinselPieces, VoiceVolumeGainsAndPanning) {
    const struct {
        int baseVolume, envVolume, panning, envPanning;
        int32_t volume, left, right, voicePanning;
    } cases[] = {
        {64, 64, 128, 32, 127, 63, 63, 128},
        {32, 64, 128, 32, 63, 31, 31, 128},
        {32, 64, 255, 32, 63, 0, 63, 255},
        {32, 64, 0, 32, 63, 63, 0, 0},
        // The panning envelope moves the centre most, the edges not at all;
        // a panning slid past the edge is clamped in the voice only.
        {32, 64, 128, 40, 63, 23, 39, 160},
        {32, 64, 16, 40, 63, 59, 3, 16},
        {32, 64, 300, 40, 63, 0, 63, 255},
        // An envelope value read as negative from a damaged file gives silence, not a negative gain.
        {32, -32768, 128, 32, 0, 0, 0, 128},
    };
    for (const auto& k : cases) {
        c.baseVolume = k.baseVolume;
        c.envVolume = k.envVolume;
        c.panning = k.panning;
        c.envPanning = k.envPanning;
        c.updateFlags = kUpdateVolume | kUpdatePanning;
        TinselUpdateVoice(x, c, v);
        EXPECT_EQ(std::vector<int>({v.volume, v.leftGain, v.rightGain, v.panning}),
                  std::vector<int>({k.volume, k.left, k.right, k.voicePanning}))
            << k.baseVolume << " " << k.envVolume << " " << k.panning << " " << k.envPanning;
    }
}

TEST_F(TinselPieces, VoiceLinearFrequencies) {
    player->song.linear = true;
    const auto frequency = [&](int period, int delta) {
        c.basePeriod = period;
        c.periodDelta = delta;
        c.updateFlags = kUpdateFrequency;
        TinselUpdateVoice(x, c, v);
        return v.frequency;
    };
    EXPECT_EQ(frequency(4608, 0), 8363);
    EXPECT_EQ(v.stepInt, 0);
    EXPECT_EQ(v.stepFrac, 814485521u);
    EXPECT_EQ(frequency(4608, 64), 8860);
    EXPECT_EQ(frequency(4608, -64), 7893);
    EXPECT_EQ(frequency(3840, 0), 16726);
    // A zero period sum leaves the voice as it was.
    EXPECT_EQ(frequency(64, -64), 16726);
    // Below 100 Hz the voice steps at 100 Hz.
    frequency(20000, 0);
    EXPECT_EQ(v.stepInt, 0);
    EXPECT_EQ(v.stepFrac, static_cast<uint32_t>((uint64_t{100} << 32) / 44100));
    // Far above the format's notes the step stops at the largest the mixer reads safely.
    frequency(-9000, 960);
    EXPECT_EQ(v.stepInt, kMaxStepSamples);
    EXPECT_EQ(v.stepFrac, 0u);
}

} // namespace
