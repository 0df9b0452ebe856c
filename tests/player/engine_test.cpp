#include <functional>
#include <vector>

#include "tests/player/engine_fixture.h"

namespace {

// One channel, one order, one instrument holding PlainSample.
XmImage OneChannelSong(uint16_t tempo, uint16_t rows, const std::vector<XmCell>& cells, uint16_t bpm = 125) {
    XmImage image(1, 0, 1, 1, 1, bpm, {0});
    image.SetTempo(tempo);
    image.PatternCells(rows, cells);
    image.InstrumentWith(XmInstrumentDesc{}, {PlainSample()});
    return image;
}

constexpr uint8_t kC4 = 49; // 1-based C-0 is 1
constexpr uint8_t kKeyOffInFile = 97;

TEST_F(EngineTest, RowOfSpeedThreeAt183BpmLastsThreeTicksOf602Frames) {
    Play(OneChannelSong(3, 4, std::vector<XmCell>(4), 183));
    EXPECT_EQ(m->samplesPerTick, 602);
    // Frames counted the way the block renderer spends them, tick by tick.
    std::vector<int> rowStarts;
    int frame = 0;
    for (int t = 0; t < 12; ++t) {
        if (m->tick == 0) {
            rowStarts.push_back(frame);
        }
        PlayTick(*player);
        frame += m->samplesPerTick;
    }
    EXPECT_EQ(rowStarts, (std::vector<int>{0, 1806, 3612, 5418}));
    EXPECT_EQ(m->row, 3);
}

TEST_F(EngineTest, SpeedAndTempoEffects) {
    std::vector<XmCell> cells(5);
    cells[0] = {0, 0, 0, 0x0F, 0x1F};
    cells[1] = {0, 0, 0, 0x0F, 0x20};
    cells[2] = {0, 0, 0, 0x0F, 0x00};
    Play(OneChannelSong(2, 5, cells));
    EXPECT_EQ(PlayRow(), 31); // F1F rules the row it stands on
    EXPECT_EQ(m->speed, 31);
    EXPECT_EQ(PlayRow(), 31);
    EXPECT_EQ(m->bpm, 32);
    EXPECT_EQ(m->samplesPerTick, 3445);
    // F00: every tick is a row start.
    EXPECT_EQ(PlayRow(), 1);
    EXPECT_EQ(m->speed, 0);
    EXPECT_EQ(PlayRow(), 1);
    EXPECT_EQ(m->row, 3);
    EXPECT_EQ(PlayRow(), 1);
    EXPECT_EQ(m->row, 4);
}

TEST_F(EngineTest, AfterTheLastOrderPlayContinuesAtTheRestartPosition) {
    XmImage image(3, 1, 1, 3, 0, 125, {0, 1, 2});
    image.SetTempo(1);
    for (int p = 0; p < 3; ++p) {
        image.PatternCells(2, std::vector<XmCell>(2));
    }
    Play(image);
    std::vector<std::pair<int, int>> visited;
    for (int t = 0; t < 10; ++t) {
        PlayTick(*player);
        visited.emplace_back(m->orderIndex, m->row);
    }
    const std::vector<std::pair<int, int>> expect{{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0},
                                                  {2, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}};
    EXPECT_EQ(visited, expect);
}

TEST_F(EngineTest, PatternsWithoutRowsOrCellsAreSkipped) {
    // Order 1 names a pattern past the stored ones (added empty), order 0 one of 0 rows.
    XmImage image(3, 0, 1, 1, 0, 125, {0, 3, 0});
    image.SetTempo(1);
    image.Pattern(0, {});
    Play(image);
    EXPECT_EQ(m->patterns[0].rows, 0);
    for (int t = 0; t < 200; ++t) {
        PlayTick(*player);
        EXPECT_LT(m->orderIndex, 3);
    }
}

TEST_F(EngineTest, PatternStoredWithoutDataPlaysEmptyRows) {
    XmImage image(2, 0, 2, 2, 1, 125, {0, 1});
    image.SetTempo(1);
    image.PatternCells(1, {XmCell{kC4, 1}, XmCell{}});
    image.Pattern(256, {}); // stored without data
    XmInstrumentDesc ins;
    ins.volumePoints = {{0, 64}, {10, 0}};
    ins.volumeType = 1;
    image.InstrumentWith(ins, {PlainSample()});
    Play(image);
    EXPECT_EQ(m->patterns[1].rows, 256);
    std::vector<int> volumes;
    for (int t = 0; t < 4; ++t) {
        PlayTick(*player);
        volumes.push_back(Ch(0).envVolume);
    }
    // The envelope steps on through the empty rows.
    EXPECT_EQ(volumes, (std::vector<int>{64, 57, 51, 44}));
    EXPECT_EQ(m->orderIndex, 1);
    EXPECT_EQ(m->row, 2);
}

// One channel's value tick by tick from the song's start, for effects whose
// whole story is such a trace.
TEST_F(EngineTest, TickTraces) {
    const auto delta = [this] { return Ch(0).periodDelta; };
    const auto frequency = [this] { return Voice(0).frequency; };
    const auto position = [this] { return int(int8_t(Ch(0).vibratoPos)); };
    const auto period = [this] { return Ch(0).basePeriod; };
    const auto volume = [this] { return Ch(0).baseVolume; };
    // Porta down and volume slides with their memories (6xy shares Axy's), Cxx, EAx.
    const std::vector<XmCell> slides = {{kC4, 1, 0, 0x02, 0x04}, {0, 0, 0, 0x02, 0x00}, {0, 0, 0, 0x0A, 0x02},
                                        {0, 0, 0, 0x06, 0x00},   {0, 0, 0, 0x0C, 0x20}, {0, 0, 0, 0x0E, 0xA3},
                                        {0, 0, 0, 0x0E, 0xA0},   {0, 0, 0, 0x0A, 0x30}};
    const std::vector<XmCell> arpeggio = {{kC4, 1, 0, 0x00, 0x37}, {}};
    const std::vector<XmCell> vibrato = {{kC4, 1, 0, 0x04, 0x88}, {0, 0, 0, 0x04, 0x00}};
    const struct {
        const char* name;
        int tempo;
        std::vector<XmCell> cells;
        std::function<int()> value;
        int from; // the first tick compared
        std::vector<int> expect;
    } cases[] = {
        {"arpeggio 037: base, +3, +7", 6, arpeggio, delta, 0, {0, 192, 448, 0, 192}},
        {"arpeggio 037 frequencies", 6, arpeggio, frequency, 0, {8363, 9945, 12530, 8363, 9945}},
        {"vibrato holds its position on a row start", 3, vibrato, position, 0, {0, 8, 16, 16, 24, -32}},
        {"vibrato depth", 3, vibrato, delta, 0, {0, 0, -44, -60, -60, -44}},
        {"porta down and its memory", 3, slides, period, 0, {4608, 4624, 4640, 4640, 4656, 4672}},
        {"volume slides, Cxx, EAx",
         3,
         slides,
         volume,
         6,
         {64, 62, 60, 60, 58, 56, 32, 32, 32, 35, 35, 35, 38, 38, 38, 38, 41, 44}},
    };
    for (const auto& c : cases) {
        Play(OneChannelSong(uint16_t(c.tempo), uint16_t(c.cells.size()), c.cells));
        std::vector<int> trace;
        for (size_t t = 0; t < c.from + c.expect.size(); ++t) {
            PlayTick(*player);
            if (int(t) >= c.from)
                trace.push_back(c.value());
        }
        EXPECT_EQ(trace, c.expect) << c.name;
        FreeModule(m);
        m = nullptr;
    }
}

// Amiga songs slide, arpeggiate and stop in Amiga periods under tinsel rules too.
TEST_F(EngineTest, AmigaPeriodsUnderTinselRules) {
    const auto heard = [this] { return Ch(0).basePeriod - Ch(0).periodDelta; };
    const struct {
        const char* name;
        bool linear;
        int tempo;
        XmCell cell;
        std::vector<int> expect; // heard period on each tick of the row
    } cases[] = {
        {"arpeggio notes from the table",
         false,
         6,
         {kC4, 1, 0, 0x00, 0x37},
         {1712, 1440, 1140, 1712, 1440, 1140}},
        {"2xx stops at 31999", false, 6, {1, 1, 0, 0x02, 0xFF}, {27392, 28412, 29432, 30452, 31472, 31999}},
        {"2xx in a linear song goes on", true, 3, {1, 1, 0, 0x02, 0xFF}, {7680, 8700, 9720}},
    };
    for (const auto& k : cases) {
        XmImage image = OneChannelSong(uint16_t(k.tempo), 1, {k.cell});
        image.SetFlags(k.linear ? 1 : 0);
        Play(image);
        std::vector<int> trace;
        for (size_t t = 0; t < k.expect.size(); ++t) {
            PlayTick(*player);
            trace.push_back(heard());
        }
        EXPECT_EQ(trace, k.expect) << k.name;
        FreeModule(m);
        m = nullptr;
    }
    // The limit holds row after row, and is heard: 14317456 / 31999 Hz. (As in
    // the original, a step that crosses 32767 escapes it.)
    std::vector<XmCell> cells(8, XmCell{0, 0, 0, 0x02, 0x00});
    cells[0] = {1, 1, 0, 0x02, 0x40};
    XmImage image = OneChannelSong(6, 8, cells);
    image.SetFlags(0);
    Play(image);
    for (int t = 0; t < 40; ++t) {
        PlayTick(*player);
    }
    EXPECT_EQ(heard(), 31999);
    EXPECT_EQ(Voice(0).frequency, 447);
}

TEST_F(EngineTest, TonePortamentoKeepsNoteAndInstrumentAndGlides) {
    XmImage image(1, 0, 1, 1, 2, 125, {0});
    image.SetTempo(3);
    std::vector<XmCell> cells(2);
    cells[0] = {kC4, 1};
    cells[1] = {kC4 + 2, 2, 0, 0x03, 0x10};
    image.PatternCells(2, cells);
    image.InstrumentWith(XmInstrumentDesc{}, {PlainSample(40, 0)});
    image.InstrumentWith(XmInstrumentDesc{}, {PlainSample(20, 12)});
    Play(image);
    EXPECT_EQ(PlayRow(), 3);
    const Sample* first = m->instruments[0].samples[0];
    EXPECT_EQ(Voice(0).sample, first);
    Voice(0).posInt = 5; // a restart would put it back to 0
    Ch(0).baseVolume = 10;
    PlayTick(*player);
    EXPECT_EQ(Ch(0).note, kC4);
    EXPECT_EQ(Ch(0).instrumentNumber, 1);
    EXPECT_EQ(Ch(0).basePeriod, 4608);
    // D-4 with the relative note of the sample the held note and instrument select.
    EXPECT_EQ(Ch(0).portaTarget, 4480);
    EXPECT_EQ(Ch(0).baseVolume, 40); // the note was reset with that sample
    EXPECT_EQ(Voice(0).sample, first);
    EXPECT_EQ(Voice(0).posInt, 5);
    PlayTick(*player);
    EXPECT_EQ(Ch(0).basePeriod, 4544);
    PlayTick(*player);
    EXPECT_EQ(Ch(0).basePeriod, 4480);
}

TEST_F(EngineTest, KeyOffWithoutVolumeEnvelopeSilencesAtOnce) {
    for (uint8_t effect : {uint8_t{0}, uint8_t{0x14}}) {
        std::vector<XmCell> cells(2);
        cells[0] = {kC4, 1};
        cells[1] = effect == 0 ? XmCell{kKeyOffInFile} : XmCell{0, 0, 0, effect, 0};
        Play(OneChannelSong(2, 2, cells));
        PlayRow();
        EXPECT_EQ(Voice(0).volume, 127);
        PlayTick(*player);
        EXPECT_TRUE(Ch(0).keyOff);
        EXPECT_EQ(Ch(0).envVolume, 0);
        EXPECT_EQ(Voice(0).volume, 0);
        EXPECT_EQ(Voice(0).leftGain + Voice(0).rightGain, 0);
        FreeModule(m);
        m = nullptr;
    }
}

TEST_F(EngineTest, KeyOffWithVolumeEnvelopeReleasesSustainAndFades) {
    XmImage image(1, 0, 1, 1, 1, 125, {0});
    image.SetTempo(3);
    std::vector<XmCell> cells(4);
    cells[0] = {kC4, 1};
    cells[1] = {kKeyOffInFile};
    image.PatternCells(4, cells);
    XmInstrumentDesc ins;
    ins.volumePoints = {{0, 64}, {2, 64}, {6, 32}};
    ins.volumeSustain = 1;
    ins.volumeType = 3; // on, sustain
    ins.fadeout = 0x1000;
    image.InstrumentWith(ins, {PlainSample()});
    Play(image);
    PlayRow();
    EXPECT_EQ(Ch(0).fadeoutLevel, 65536);
    EXPECT_EQ(Ch(0).envVolume, 64); // held at the sustain point
    const int before = Voice(0).volume;
    std::vector<int> fade, env;
    for (int t = 0; t < 9; ++t) {
        PlayTick(*player);
        fade.push_back(Ch(0).fadeoutLevel);
        env.push_back(Ch(0).envVolume);
    }
    EXPECT_EQ(fade, (std::vector<int>{57344, 49152, 40960, 32768, 24576, 16384, 8192, 0, 0}));
    EXPECT_EQ(env, (std::vector<int>{64, 56, 48, 40, 32, 32, 32, 32, 32}));
    EXPECT_LT(Voice(0).volume, before);
    EXPECT_EQ(Voice(0).volume, 0);
}

TEST_F(EngineTest, RetriggerE93RestartsOnTickThreeOfEachRow) {
    std::vector<XmCell> cells(3);
    cells[0] = {kC4, 1, 0, 0x0E, 0x93};
    cells[1] = {0, 0, 0, 0x0E, 0x93};
    cells[2] = {0, 0, 0, 0x0E, 0x90};
    Play(OneChannelSong(6, 3, cells));
    std::vector<int> restarts;
    for (int t = 0; t < 18; ++t) {
        Voice(0).posInt = 7;
        PlayTick(*player);
        if (Voice(0).posInt == 0) {
            restarts.push_back(t);
        }
    }
    EXPECT_EQ(restarts, (std::vector<int>{0, 3, 9}));
}

TEST_F(EngineTest, InstrumentBeyondTheSongPlaysSilence) {
    std::vector<XmCell> cells(1);
    cells[0] = {kC4, 9};
    Play(OneChannelSong(1, 1, cells));
    PlayTick(*player);
    EXPECT_EQ(Voice(0).sample, &EmptySample);
    EXPECT_EQ(Ch(0).baseVolume, 0);
    std::vector<float> buffer(2 * 64, 0.0f);
    MixVoices(*player, buffer.data(), 64);
    EXPECT_EQ(Voice(0).sample, nullptr);
}

TEST(VoiceUpdate, VolumeProductAndGains) {
    Module song{};
    song.globalVolume = 64;
    auto m = std::make_unique<Player>();
    InitPlayer(*m, 44100);
    m->module = &song;
    m->song.linear = (song.flags & linearFrequencies) != 0;
    const Context x{*m, song, m->song, kTinselRules, 44100};
    MixVoice v{};
    Channel c{};
    c.sample = &EmptySample;
    c.baseVolume = 64;
    c.envVolume = 64;
    c.fadeoutLevel = 65536;
    c.panning = 128;
    c.envPanning = 32;
    c.updateFlags = kUpdateVolume | kUpdatePanning;
    TinselUpdateVoice(x, c, v);
    EXPECT_EQ(v.volume, 127);
    c.baseVolume = 32;
    TinselUpdateVoice(x, c, v);
    EXPECT_EQ(v.volume, 63);
    EXPECT_EQ(v.leftGain, 31);
    EXPECT_EQ(v.rightGain, 31);
    c.panning = 255;
    TinselUpdateVoice(x, c, v);
    EXPECT_EQ(v.leftGain, 0);
    EXPECT_EQ(v.rightGain, 63);
    c.panning = 0;
    TinselUpdateVoice(x, c, v);
    EXPECT_EQ(v.leftGain, 63);
    EXPECT_EQ(v.rightGain, 0);
    // The panning envelope moves the centre most, the edges not at all.
    c.panning = 128;
    c.envPanning = 40;
    TinselUpdateVoice(x, c, v);
    EXPECT_EQ(v.panning, 160);
    c.panning = 16;
    TinselUpdateVoice(x, c, v);
    EXPECT_EQ(v.panning, 16);
    c.panning = 300; // slid past the edge: only the voice's value is clamped
    TinselUpdateVoice(x, c, v);
    EXPECT_EQ(v.panning, 255);
    // An envelope value read as negative from a damaged file gives silence, not a negative gain.
    c.envVolume = -32768;
    c.updateFlags = kUpdateVolume;
    TinselUpdateVoice(x, c, v);
    EXPECT_EQ(v.volume, 0);
    EXPECT_EQ(v.leftGain, 0);
    EXPECT_EQ(v.rightGain, 0);
}

TEST(VoiceUpdate, LinearFrequencies) {
    Module song{};
    song.flags = linearFrequencies;
    auto m = std::make_unique<Player>();
    InitPlayer(*m, 44100);
    m->module = &song;
    m->song.linear = (song.flags & linearFrequencies) != 0;
    const Context x{*m, song, m->song, kTinselRules, 44100};
    MixVoice v{};
    Channel c{};
    c.sample = &EmptySample;
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
