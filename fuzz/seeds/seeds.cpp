#include "fuzz/seeds/seeds.h"

#include <cstdio>

#include "data/tga_writer.h"
#include "tests/player/xm_cases.h"
#include "tests/player/xm_image.h"

namespace {

constexpr uint8_t kNoteC4 = 49, kNoteE4 = 53, kNoteG3 = 44, kKeyOff = 97;
constexpr uint16_t kLinear = 1;

// A short saw in stored delta form: 8 or 16 bits, any loop kind.
XmSampleDesc Saw(uint8_t type, uint32_t frames, uint32_t loopStart, uint32_t loopLength) {
    const uint32_t width = (type & 0x10) ? 2 : 1;
    XmSampleDesc s{frames * width, loopStart * width, loopLength * width, type, {}};
    s.data.assign(frames * width, 0);
    for (uint32_t i = 0; i < frames; ++i)
        s.data[i * width + width - 1] = i == 0 ? 0x80 : 0x10;
    return s;
}

// One pattern of rows x channels cells played once, in a module with one instrument.
std::vector<uint8_t> OnePattern(uint16_t flags, uint16_t channels, uint16_t rows,
                                const std::vector<XmCell>& cells, const XmInstrumentDesc& instrument = {},
                                const std::vector<XmSampleDesc>& samples = {Saw(1, 32, 0, 32)}) {
    XmImage xm(1, 0, channels, 1, 1, 125, {0});
    xm.SetFlags(flags);
    xm.SetTempo(3);
    xm.PatternCells(rows, cells);
    xm.InstrumentWith(instrument, samples);
    return xm.bytes;
}

// Two channels, eight rows: notes on rows 0 and 4 carrying the effect, the
// effect going on alone between them (on row 6 with its last parameter), a
// second parameter on the other channel.
std::vector<XmCell> EffectRows(uint8_t effect, uint8_t parameter, uint8_t other) {
    std::vector<XmCell> cells;
    for (int row = 0; row < 8; ++row) {
        const uint8_t note = row % 4 == 0;
        cells.push_back({uint8_t(note * (row == 0 ? kNoteC4 : kNoteE4)), note, 0, effect,
                         row == 6 ? uint8_t(0) : parameter});
        cells.push_back({uint8_t(note * kNoteG3), note, 0, effect, other});
    }
    return cells;
}

struct Effect {
    const char* name;
    uint8_t effect, parameter, other;
};

// Every effect of the format, the extended E commands one by one.
constexpr Effect kEffects[] = {
    {"0-arpeggio", 0x0, 0x37, 0xC1},
    {"1-porta-up", 0x1, 0x08, 0xFF},
    {"2-porta-down", 0x2, 0x08, 0xFF},
    {"3-tone-porta", 0x3, 0x10, 0x02},
    {"4-vibrato", 0x4, 0x48, 0xFF},
    {"5-tone-porta-volume", 0x5, 0x04, 0x40},
    {"6-vibrato-volume", 0x6, 0x40, 0x04},
    {"7-tremolo", 0x7, 0x48, 0xFF},
    {"8-panning", 0x8, 0x00, 0xFF},
    {"9-sample-offset", 0x9, 0x01, 0xFF},
    {"a-volume-slide", 0xA, 0x0F, 0xF0},
    {"b-position-jump", 0xB, 0x00, 0x05},
    {"c-volume", 0xC, 0x20, 0x50},
    {"d-pattern-break", 0xD, 0x04, 0x63},
    {"e1-fine-porta-up", 0xE, 0x1F, 0x10},
    {"e2-fine-porta-down", 0xE, 0x2F, 0x20},
    {"e3-glissando", 0xE, 0x31, 0x30},
    {"e4-vibrato-wave", 0xE, 0x41, 0x46},
    {"e5-finetune", 0xE, 0x5F, 0x50},
    {"e6-pattern-loop", 0xE, 0x62, 0x60},
    {"e7-tremolo-wave", 0xE, 0x72, 0x47},
    {"e8-panning-coarse", 0xE, 0x8F, 0x80},
    {"e9-retrigger", 0xE, 0x92, 0x90},
    {"ea-fine-volume-up", 0xE, 0xA4, 0xAF},
    {"eb-fine-volume-down", 0xE, 0xB4, 0xBF},
    {"ec-note-cut", 0xE, 0xC1, 0xC0},
    {"ed-note-delay", 0xE, 0xD2, 0xDF},
    {"ee-pattern-delay", 0xE, 0xE2, 0xE0},
    {"f-speed", 0xF, 0x02, 0x1F},
    {"f-bpm", 0xF, 0x20, 0xFF},
    {"g-global-volume", 0x10, 0x20, 0x60},
    {"h-global-volume-slide", 0x11, 0x0F, 0xF0},
    {"k-key-off", 0x14, 0x01, 0x00},
    {"l-envelope-position", 0x15, 0x04, 0xFF},
    {"p-panning-slide", 0x19, 0x0F, 0xF0},
    {"r-retrigger-volume", 0x1B, 0x32, 0xF1},
    {"t-tremor", 0x1D, 0x21, 0x00},
    {"x1-extra-fine-up", 0x21, 0x14, 0x10},
    {"x2-extra-fine-down", 0x21, 0x24, 0x20},
    {"unknown-effect", 0x23, 0xFF, 0x01},
};

// The volume column's families: set, slides, fine slides, vibrato, panning, tone portamento.
std::vector<XmCell> VolumeColumnRows() {
    const uint8_t column[] = {0x10, 0x50, 0x62, 0x73, 0x84, 0x95, 0xA4, 0xB8,
                              0xC3, 0xD2, 0xE2, 0xF4, 0x51, 0xFF, 0x00, 0x6F};
    std::vector<XmCell> cells;
    for (int row = 0; row < 16; ++row) {
        const uint8_t note = row % 4 == 0;
        cells.push_back({uint8_t(note * (row % 8 == 0 ? kNoteC4 : kNoteE4)), note, column[row]});
    }
    return cells;
}

// A note held, then released on row 4: envelopes reach their sustain, loop and end.
std::vector<XmCell> HeldNoteRows() {
    return {{kNoteC4, 1}, {}, {}, {}, {kKeyOff}, {}, {kNoteE4, 1}, {kKeyOff}};
}

XmInstrumentDesc Envelopes(uint8_t type, uint16_t fadeout, uint8_t vibratoType) {
    XmInstrumentDesc d;
    d.volumePoints = {{0, 64}, {4, 20}, {8, 48}, {16, 0}};
    d.panningPoints = {{0, 0}, {3, 64}, {6, 32}, {12, 60}};
    d.volumeSustain = d.panningSustain = 1;
    d.volumeLoopStart = d.panningLoopStart = 1;
    d.volumeLoopEnd = d.panningLoopEnd = 2;
    d.volumeType = d.panningType = type;
    d.fadeout = fadeout;
    d.vibratoType = vibratoType;
    d.vibratoSweep = 4;
    d.vibratoDepth = 8;
    d.vibratoRate = 32;
    return d;
}

} // namespace

std::vector<Seed> MakeModuleSeeds() {
    std::vector<Seed> seeds;
    const struct {
        const char* name;
        uint16_t flags;
    } tables[] = {{"linear", kLinear}, {"amiga", 0}};
    for (const auto& table : tables) {
        const std::string suffix = std::string("-") + table.name + ".xm";
        for (const Effect& e : kEffects)
            seeds.push_back({std::string("effect-") + e.name + suffix,
                             OnePattern(table.flags, 2, 8, EffectRows(e.effect, e.parameter, e.other))});
        seeds.push_back({"volume-column" + suffix, OnePattern(table.flags, 1, 16, VolumeColumnRows())});
        // Envelope types: on; on with sustain; on with loop; all three; auto-vibrato of each wave.
        const uint8_t types[] = {1, 3, 5, 7};
        for (int i = 0; i < 4; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "envelope-type%d-vibrato%d", types[i], i);
            seeds.push_back(
                {name + suffix, OnePattern(table.flags, 1, 8, HeldNoteRows(),
                                           Envelopes(types[i], uint16_t(0x400 * i), uint8_t(i)))});
        }
    }
    // Sample loops: none, forward, ping-pong, in 8 and 16 bits; a loop of the
    // whole sample, one at its end, a loop of one frame and an empty sample.
    const struct {
        const char* name;
        XmSampleDesc sample;
    } loops[] = {
        {"none-8", Saw(0, 48, 0, 0)},
        {"forward-8", Saw(1, 48, 8, 24)},
        {"pingpong-8", Saw(2, 48, 8, 24)},
        {"none-16", Saw(0x10, 48, 0, 0)},
        {"forward-16", Saw(0x11, 48, 0, 48)},
        {"pingpong-16", Saw(0x12, 48, 40, 8)},
        {"forward-one-frame", Saw(1, 16, 15, 1)},
        {"pingpong-one-frame", Saw(2, 16, 0, 1)},
        {"empty", Saw(0, 0, 0, 0)},
    };
    for (const auto& loop : loops) {
        const std::vector<XmCell> cells = {{kNoteC4, 1},      {}, {}, {kNoteC4 + 24, 1, 0, 0x9, 0x00}, {}, {},
                                           {kNoteG3 - 24, 1}, {}};
        seeds.push_back(
            {std::string("loop-") + loop.name + ".xm", OnePattern(kLinear, 1, 8, cells, {}, {loop.sample})});
    }
    // Song movement: an order list that loops back through the restart position,
    // an order naming a missing pattern, an empty pattern, many channels.
    {
        XmImage xm(4, 1, 4, 2, 1, 140, {0, 1, 0, 7});
        xm.SetFlags(kLinear);
        std::vector<XmCell> cells(4 * 4);
        cells[0] = {kNoteC4, 1, 0, 0xF, 0x04};
        cells[5] = {kNoteE4, 1, 0x30, 0xE, 0x61};
        cells[15] = {0, 0, 0, 0xD, 0x02};
        xm.PatternCells(4, cells);
        xm.Pattern(1, {});
        xm.InstrumentWith({}, {Saw(1, 32, 0, 32)});
        seeds.push_back({"song-restart.xm", xm.bytes});
    }
    {
        // Two tunes in one file: the first jumps back to its start before the
        // second's order, which only selecting that subsong plays.
        XmImage xm(2, 0, 2, 2, 1, 125, {0, 1});
        xm.SetFlags(kLinear);
        std::vector<XmCell> first(4 * 2), second(4 * 2);
        first[0] = {kNoteC4, 1};
        first[6] = {0, 0, 0, 0xB, 0x00};
        second[0] = {kNoteE4, 1, 0x40, 0xF, 0x03};
        xm.PatternCells(4, first);
        xm.PatternCells(4, second);
        xm.InstrumentWith({}, {Saw(1, 32, 0, 32)});
        seeds.push_back({"subsongs.xm", xm.bytes});
    }
    {
        XmImage xm(1, 0, 32, 1, 2, 255, {0});
        std::vector<XmCell> cells(32 * 2);
        for (int ch = 0; ch < 32; ++ch)
            cells[ch] = {uint8_t(1 + ch * 3), uint8_t(1 + ch % 2), 0, uint8_t(ch % 16), uint8_t(ch * 7)};
        xm.PatternCells(2, cells);
        xm.InstrumentWith({}, {Saw(1, 32, 0, 32)});
        xm.Instrument({Saw(0x11, 64, 0, 64), Saw(2, 8, 0, 8)});
        seeds.push_back({"channels-32.xm", xm.bytes});
    }
    {
        // The packed cell form the format's writers use: flag bytes, elided fields.
        XmImage xm(1, 0, 2, 1, 1, 125, {0});
        xm.SetFlags(kLinear);
        xm.Pattern(4, {0x83, kNoteC4, 1, 0x80, 0x98, 0x0A, 0x0F, kNoteE4, 1, 0x40, 0x04, 0x20, 0x80, 0x81,
                       kKeyOff, 0x80, 0x80});
        xm.InstrumentWith({}, {Saw(1, 32, 0, 32)});
        seeds.push_back({"packed-cells.xm", xm.bytes});
    }
    // What trackers write beyond the plain layout, as the loader tests build it;
    // a file the loader refuses is no seed, since each seed is played.
    for (const xmcases::Case& c : xmcases::kCases)
        if (!c.refused)
            seeds.push_back({std::string("loader-") + c.name + ".xm", c.build().bytes});
    return seeds;
}

std::vector<Seed> MakeImageSeeds() {
    auto bytes = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    auto pattern = [](int32_t x, int32_t y) { return uint32_t(x * 0x40302010u + y * 0x01020304u); };
    std::vector<Seed> seeds;
    seeds.push_back({"rgba-bottom-up.tga", bytes(EncodeTga32(4, 3, pattern))});
    seeds.push_back({"rgba-top-down.tga", bytes(EncodeTga32(3, 4, pattern, true))});
    seeds.push_back({"empty.tga", bytes(EncodeTga32(0, 0, pattern))});
    // 24 bits with a 5-byte image ID: the writer knows 32 bits only, so the
    // header is changed to match and the fourth byte of each pixel dropped.
    std::vector<uint8_t> rgb = bytes(EncodeTga32(2, 2, pattern));
    std::vector<uint8_t> out(rgb.begin(), rgb.begin() + 18);
    out[0] = 5;
    out[16] = 24;
    out.insert(out.end(), {'t', 'i', 'n', 's', 'l'});
    for (size_t i = 18; i + 4 <= rgb.size(); i += 4)
        out.insert(out.end(), rgb.begin() + long(i), rgb.begin() + long(i) + 3);
    seeds.push_back({"rgb-with-id.tga", out});
    return seeds;
}
