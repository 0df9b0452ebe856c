// FT2 rules' last four: the mixer hears volume and panning only on ticks that
// flag them, an envelope is on by its type bit, the final panning wraps in
// 8 bits, and an arpeggio's base ticks keep the period as it is.

#include "player/engine/periods.h"
#include "tests/player/engine_harness.h"

namespace {

constexpr uint8_t C5 = C4 + 12, B7 = 96;
constexpr uint8_t kDelay1 = Ext(kNoteDelay, 1);

// What the mixer was handed, and over how many frames it ramps there.
const Probe kHandedVolume = [](const Seen& s) { return s.c.handedVolume; };
const Probe kHandedPanning = [](const Seen& s) { return s.c.handedPanning; };
const Probe kRamp = [](const Seen& s) { return s.f.rampFrames; };

XmSampleDesc Square(uint8_t panning = 128, uint8_t relativeNote = 0) {
    std::vector<int8_t> wave(64);
    for (size_t i = 0; i < wave.size(); ++i)
        wave[i] = i < 32 ? 90 : -90;
    XmSampleDesc s = Wave(wave, 0, 64, 1);
    s.panning = panning;
    s.relativeNote = relativeNote;
    return s;
}

// Two channels (the second empty unless given), speed 3, 125 BPM, one looped
// square sample at volume 64 and panning 128.
SongSpec Recipe2(std::vector<XmCell> rows, std::vector<XmCell> second = {}) {
    SongSpec s;
    s.tempo = 3;
    s.channels = 2;
    s.rows = 8;
    std::vector<XmCell> cells(16);
    for (size_t r = 0; r < rows.size(); ++r)
        cells[2 * r] = rows[r];
    for (size_t r = 0; r < second.size(); ++r)
        cells[2 * r + 1] = second[r];
    s.patterns = {cells};
    s.samples = {Square()};
    return s;
}

SongSpec Env(SongSpec s, std::vector<std::pair<uint16_t, uint16_t>> points, int storedCount = -1) {
    s.instrument.volumePoints = std::move(points);
    s.instrument.volumeType = 1;
    s.instrument.volumePointCount = storedCount;
    return s;
}

std::vector<int> Repeat(std::vector<std::pair<int, int>> runs) {
    std::vector<int> out;
    for (auto [value, count] : runs)
        out.insert(out.end(), static_cast<size_t>(count), value);
    return out;
}

TEST_F(EngineRecipes, Ft2MixerHearsOnlyFlaggedTicks) {
    const SongSpec held = Env(
        Recipe2({{C4, 1, 0, kSetPanning, 0xFF}, {OFF, 0, 0xC0, kExtended, kDelay1}, {}, {}, {}, {}, {C4, 1}}),
        {{0, 64}, {10, 64}});
    const SongSpec envelopeRamp =
        Env(Recipe2({{C4, 1, 0x10}, {OFF, 0, 0x50, kExtended, kDelay1}}), {{0, 64}, {10, 64}});
    SongSpec outOfRange =
        Recipe2({{C5, 1}, {B7, 1}, {0, 0, 0x10}, {0, 0, 0x50, kExtended, kDelay1}, {}, {0, 0, 0x70}});
    outOfRange.samples = {Square(128, 24)};
    SongSpec retrig =
        Recipe2({{C5, 1}, {B7, 1}, {0, 0, 0x10}, {0, 0, 0, kMultiRetrig, 0xD1}, {}, {0, 0, 0x70}});
    retrig.samples = {Square(128, 24)};
    const SongSpec globalRight = Recipe2({{C4, 1}, {}, {}, {}, {}, {0, 0, 0, kSetVolume, 0x40}},
                                         {{}, {}, {0, 0, 0, kSetGlobalVolume, 0x20}});
    const SongSpec globalLeft = Recipe2({{}, {}, {0, 0, 0, kSetGlobalVolume, 0x20}}, {{C4, 1}});
    SongSpec tremolo = Recipe2({{C4, 1, 0x30, kTremolo, 0x48}});
    tremolo.tempo = 6;
    Play({
        // clang-format off
        // The delayed C0 is never handed over: hard right until row 6's note.
        {"held panning", kFt2, held, 0, kHandedPanning, Repeat({{255, 18}, {128, 3}})},
        {"the channel's own panning moved all the same", kFt2, held, 1, kPanning, {255, 0, 0}},
        // The envelope flags the delayed 50: a whole-tick ramp, not the 5 ms one.
        {"envelope-flagged volume", kFt2, envelopeRamp, 1, kHandedVolume, {0, 256, 256}},
        {"over the whole tick", kFt2, envelopeRamp, 1, kRamp, {882, 882, 882}},
        {"a set volume ramps over 5 ms", kFt2, envelopeRamp, 0, kRamp, {220}},
        // Row 3's note does not start, its 50 is held; row 5's 70 slide flags it.
        {"out-of-range note", kFt2, outOfRange, 2, kHandedVolume, Repeat({{0, 10}, {256, 2}})},
        // Three retrigs that cannot start raise the volume to 48, heard at row 5 tick 1.
        {"the same with Rxy", kFt2, retrig, 2, kHandedVolume, Repeat({{0, 10}, {192, 2}})},
        // Channel 0 runs before G20 changes: it holds full volume until its C40.
        {"global volume, channel order", kFt2, globalRight, 0, kHandedVolume, Repeat({{256, 15}, {128, 3}})},
        {"controls: Gxx left of the note", kFt2, globalLeft, 1, kHandedVolume, {256, 256, 256, 128, 128}, 1},
        {"controls: tremolo", kFt2, tremolo, 0, kHandedVolume, {128, 128, 176, 216, 244, 252}},
        // clang-format on
    });
}

TEST_F(EngineRecipes, Ft2EnvelopesAndPanningWrap) {
    SongSpec wrap = Recipe2({{C4, 1}, {}, {C4, 2}});
    wrap.samples = {Square(128), Square(100)};
    wrap.instrument.panningPoints = {{0, 64}, {4, 64}};
    wrap.instrument.panningType = 1;
    const SongSpec onePoint = Env(Recipe2({{C4, 1}, {}, {OFF}}), {{0, 32}});
    const SongSpec noPoints = Env(Recipe2({{C4, 1}, {}, {OFF}}), {{0, 32}}, 0);
    const SongSpec noEnvelope = Recipe2({{C4, 1}, {}, {OFF}});
    Play({
        // clang-format off
        {"panning wrap: pan 128 at envelope 64 is hard left", kFt2, wrap, 0, kHandedPanning,
         {0, 0, 0, 0, 0, 0}},
        {"pan 100 is 200", kFt2, wrap, 2, kHandedPanning, {200, 200, 200}},
        {"one-point envelope: half volume, not silenced by the key-off", kFt2, onePoint, 0, kHeard,
         Repeat({{128, 12}})},
        {"zero points read the stored first point", kFt2, noPoints, 0, kHeard, Repeat({{128, 12}})},
        {"without an envelope the key-off silences", kFt2, noEnvelope, 2, kHeard, {0, 0, 0}},
        // clang-format on
    });
}

TEST_F(Engine, Ft2ArpeggioBaseTicksKeepTheSlidPeriod) {
    // A#4 slid down by 2xx for five ticks, then 0FF: off the semitone grid.
    Start(Amiga(Rows({{C4 + 10, 1, 0, kPortaDown, 0x0F}, {0, 0, 0, kArpeggio, 0xFF}})), kFt2);
    const int slid = periods::Period(false, periods::TableIndex(C4 + 10, 0)) + 5 * 4 * 15;
    ASSERT_NE(periods::SnapToSemitone(false, slid, 0, 0), slid);
    const int up = periods::SnapToSemitone(false, slid, 0, 15);
    EXPECT_EQ(Trace(1, 6, kPeriod), std::vector<int>({slid, up, up, slid, up, up}));
}

} // namespace
