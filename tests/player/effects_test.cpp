#include <vector>

#include "tests/player/engine_fixture.h"

namespace {

// The tinsel rules' pieces on a bare channel, outside any song.
class TinselPieces : public ::testing::Test {
protected:
    std::unique_ptr<Player> player = std::make_unique<Player>();
    Module song{};
    Context x{*player, song, player->song, kTinselRules, 44100};
    Channel c{};
    // One later tick of the channel's effect.
    void Effect(uint8_t effect) {
        c.effect = effect;
        TinselEffects(x, c);
    }
};

TEST_F(TinselPieces, TonePortamentoGlidesAndStopsAtTarget) {
    c.basePeriod = 5000;
    c.portaTarget = 4608;
    c.portaSpeed = 64;
    std::vector<int> periods;
    for (int t = 0; t < 9; ++t) {
        c.updateFlags = 0;
        Effect(0x3);
        periods.push_back(c.basePeriod);
    }
    EXPECT_EQ(periods, (std::vector<int>{4936, 4872, 4808, 4744, 4680, 4616, 4608, 4608, 4608}));
    EXPECT_EQ(c.updateFlags, kUpdateFrequency);
    c.basePeriod = 4600; // from below
    Effect(0x3);
    EXPECT_EQ(c.basePeriod, 4608);
}

TEST_F(TinselPieces, VibratoSineDepthAndClearedLowBits) {
    // {position, depth, delta}; position 16 is the crest: 255, not 256 (which gives -120).
    const int cases[][3] = {{8, 8, -44}, {-8, 8, 44}, {1, 4, 0}, {16, 15, -116}};
    for (const auto& [position, depth, delta] : cases) {
        c = Channel{};
        c.vibratoPos = static_cast<uint8_t>(position);
        c.vibratoDepth = static_cast<uint8_t>(depth);
        Effect(0x4);
        EXPECT_EQ(c.periodDelta, delta) << position << " " << depth;
    }
}

TEST_F(TinselPieces, VibratoPositionWrapsFrom31ToMinus32) {
    c.vibratoSpeed = 4;
    std::vector<int> positions;
    for (int t = 0; t < 11; ++t) {
        positions.push_back(static_cast<int8_t>(c.vibratoPos));
        Effect(0x4);
    }
    EXPECT_EQ(positions, (std::vector<int>{0, 4, 8, 12, 16, 20, 24, 28, -32, -28, -24}));
}

TEST_F(TinselPieces, AutoVibratoSquareSineAndSweep) {
    Instrument ins{};
    ins.vibratoType = 1;
    ins.vibratoDepth = 64;
    ins.vibratoRate = 1;
    c.instrument = &ins;
    for (int p = 0; p < 256; ++p) {
        c.periodDelta = 0;
        TinselAutoVibrato(x, c);
        ASSERT_EQ(c.periodDelta, p < 128 ? 64 : -64) << p;
    }
    EXPECT_EQ(c.autoVibratoPos, 0); // wrapped after 256 steps

    // A quarter in: sine at its crest; ramps, type 2 falling from 0 and type 3 rising.
    for (const auto& [type, delta] : {std::pair{0, 63}, std::pair{2, -32}, std::pair{3, 32}}) {
        ins.vibratoType = static_cast<uint8_t>(type);
        c = Channel{};
        c.instrument = &ins;
        c.autoVibratoPos = 64;
        TinselAutoVibrato(x, c);
        EXPECT_EQ(c.periodDelta, delta) << type;
    }

    // Sweep 4: the depth grows over four ticks from nothing.
    ins.vibratoType = 1;
    ins.vibratoSweep = 4;
    ins.vibratoRate = 0;
    c = Channel{};
    c.instrument = &ins;
    std::vector<int> deltas;
    for (int t = 0; t < 6; ++t) {
        c.periodDelta = 0;
        TinselAutoVibrato(x, c);
        deltas.push_back(c.periodDelta);
    }
    EXPECT_EQ(deltas, (std::vector<int>{0, 16, 32, 48, 64, 64}));
    EXPECT_EQ(c.updateFlags, kUpdateFrequency);
}

TEST_F(TinselPieces, VolumeColumnRowStartAndLaterTicks) {
    struct Case {
        uint8_t byte;
        int volume, panning;     // after the row start, from volume 32 and panning 100
        int tickVolume, tickPan; // after one later tick as well
    };
    const Case cases[] = {
        {0x0F, 32, 100, 32, 100}, {0x10, 0, 100, 0, 100},   {0x50, 64, 100, 64, 100},
        {0x51, 32, 100, 32, 100}, {0x63, 29, 100, 26, 100}, {0x73, 35, 100, 38, 100},
        {0x83, 29, 100, 29, 100}, {0x93, 35, 100, 35, 100}, {0xC0, 32, 0, 32, 0},
        {0xCF, 32, 240, 32, 240}, {0xD5, 32, 95, 32, 90},   {0xE5, 32, 105, 32, 110},
    };
    const auto column = [this](uint8_t byte, int laterTicks) {
        c.volumeByte = byte;
        TinselVolumeColumnRowStart(c);
        for (int t = 0; t < laterTicks; ++t) {
            TinselVolumeColumn(x, c);
        }
    };
    for (const Case& k : cases) {
        c = Channel{};
        c.baseVolume = 32;
        c.panning = 100;
        column(k.byte, 0);
        EXPECT_EQ(c.baseVolume, k.volume) << std::hex << int(k.byte);
        EXPECT_EQ(c.panning, k.panning) << std::hex << int(k.byte);
        TinselVolumeColumn(x, c);
        EXPECT_EQ(c.baseVolume, k.tickVolume) << std::hex << int(k.byte);
        EXPECT_EQ(c.panning, k.tickPan) << std::hex << int(k.byte);
    }
    c = Channel{};
    c.baseVolume = 62;
    column(0x9F, 0);
    EXPECT_EQ(c.baseVolume, 64);
    column(0x6F, 4);
    EXPECT_EQ(c.baseVolume, 0);
    // Panning slides run past the edges; the voice clamps its own copy.
    c.panning = 2;
    column(0xD5, 0);
    EXPECT_EQ(c.panning, -3);
    // Vibrato speed and depth, then a vibrato on later ticks.
    column(0xA4, 0);
    column(0xB8, 0);
    EXPECT_EQ(c.vibratoSpeed, 4);
    EXPECT_EQ(c.vibratoDepth, 8);
    c.vibratoPos = 8;
    TinselVolumeColumn(x, c);
    EXPECT_EQ(c.periodDelta, -44);
    EXPECT_EQ(c.vibratoPos, 12);
    // Tone portamento: speed y x 64 period units, no restart, glides on later ticks.
    c.notePeriod = 4000;
    c.basePeriod = 4608;
    c.updateFlags = kUpdateNoteStart | kUpdateFrequency;
    column(0xF2, 0);
    EXPECT_EQ(c.portaSpeed, 128);
    EXPECT_EQ(c.portaTarget, 4000);
    EXPECT_EQ(c.updateFlags, kUpdateFrequency);
    TinselVolumeColumn(x, c);
    EXPECT_EQ(c.basePeriod, 4480);
}

// Envelopes through a loaded song: one note held, then released.
class EnvelopeTest : public EngineTest {
protected:
    std::vector<int> volumes;
    void Record(int ticks) {
        for (int t = 0; t < ticks; ++t) {
            PlayTick(*player);
            volumes.push_back(Ch(0).envVolume);
        }
    }
    void PlayEnvelope(const XmInstrumentDesc& ins, int keyOffRow) {
        XmImage image(1, 0, 1, 1, 1, 125, {0});
        image.SetTempo(4);
        std::vector<XmCell> cells(64);
        cells[0] = {49, 1};
        cells[keyOffRow] = {97};
        image.PatternCells(64, cells);
        image.InstrumentWith(ins, {PlainSample()});
        Play(image);
    }
};

TEST_F(EnvelopeTest, SustainThenReleaseIntoLoop) {
    XmInstrumentDesc ins;
    ins.volumePoints = {{0, 48}, {4, 64}, {8, 44}, {14, 8}, {24, 22}, {32, 8}};
    ins.volumeSustain = 2;
    ins.volumeLoopStart = 3;
    ins.volumeLoopEnd = 5;
    ins.volumeType = 7;
    PlayEnvelope(ins, 3); // key-off on tick 12
    Record(12);
    EXPECT_EQ(volumes, (std::vector<int>{48, 52, 56, 60, 64, 59, 54, 49, 44, 44, 44, 44}));
    volumes.clear();
    Record(30);
    const std::vector<int> released{44, 38, 32, 26, 20, 14, 8,  9,  10, 12, 13, 14, 16, 17, 19,
                                    20, 22, 20, 18, 16, 15, 13, 11, 9,  8,  9,  10, 12, 13, 14};
    EXPECT_EQ(volumes, released);
}

TEST_F(EnvelopeTest, PlainSegmentsEndAtTheLastPoint) {
    XmInstrumentDesc ins;
    ins.volumePoints = {{0, 64}, {7, 54}, {12, 27}, {23, 7}, {126, 0}};
    ins.volumeType = 1;
    PlayEnvelope(ins, 63);
    Record(10);
    EXPECT_EQ(volumes, (std::vector<int>{64, 62, 61, 59, 58, 56, 55, 54, 48, 43}));
    Record(120);
    EXPECT_EQ(volumes[126], 0);
    EXPECT_EQ(Ch(0).volEnvDone, 1);
    EXPECT_EQ(Voice(0).volume, 0);
}

TEST_F(EnvelopeTest, TwoPointsReachTheSecondAndStay) {
    // Also when the sustain and loop point numbers lie beyond those stored: they stay inside.
    for (const bool pointsBeyond : {false, true}) {
        SCOPED_TRACE(pointsBeyond);
        XmInstrumentDesc ins;
        ins.volumePoints = {{0, 10}, {3, 40}};
        ins.volumeType = pointsBeyond ? 7 : 1;
        ins.volumeSustain = pointsBeyond ? 200 : 0;
        ins.volumeLoopStart = pointsBeyond ? 40 : 0;
        ins.volumeLoopEnd = pointsBeyond ? 1 : 0;
        ins.panningPoints = {{0, 32}, {2, 0}};
        ins.panningType = 1;
        FreeModule(m);
        m = nullptr;
        volumes.clear();
        PlayEnvelope(ins, 63);
        Record(6);
        EXPECT_EQ(volumes, (std::vector<int>{10, 20, 30, 40, 40, 40}));
        EXPECT_EQ(Ch(0).envPanning, 0);
        EXPECT_EQ(Ch(0).panEnvDone, 1);
    }
}

} // namespace
