// MOD files: the records the loader makes of them, each as the original
// tracker's loader makes it when it converts the file to an XM, and the files
// it refuses.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "player/format/load_report.h"
#include "player/engine/rules.h"
#include "player/format/module.h"
#include "player/player.h"
#include "tests/player/mod_image.h"

namespace {

using Records = std::function<std::vector<int>(const Module&)>;

struct ModCase {
    const char* name;
    std::vector<uint8_t> bytes;
    Records records;
    std::vector<int> expect; // empty: refused, with refusal holding `refusal`
    const char* refusal = "";
};

// A song of one pattern whose channel 0 holds these rows, and these samples.
ModSpec Song(std::vector<ModCell> rows, std::vector<ModSampleDesc> samples = {ModSquare(100)}) {
    ModSpec m;
    m.samples = std::move(samples);
    std::vector<ModCell> cells(64 * 4);
    for (size_t r = 0; r < rows.size(); ++r)
        cells[4 * r] = rows[r];
    m.patterns = {cells};
    return m;
}

ModSpec WithSignature(const char* signature, int channels) {
    ModSpec m = Song({});
    m.signature = signature;
    m.channels = channels;
    m.patterns[0].resize(static_cast<size_t>(64 * channels));
    return m;
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

const Sample& S(const Module& m, int instrument) {
    return *m.instruments[instrument].samples[0];
}

// Channel 0's notes, or its effects and parameters, over the first rows of pattern 0.
Records Column(int field, int rows) {
    return [field, rows](const Module& m) {
        std::vector<int> v;
        for (int r = 0; r < rows; ++r)
            v.push_back(m.patterns[0].cells[r * m.channelCount * kCellSize + field]);
        return v;
    };
}
Records Effects(int rows) {
    return [rows](const Module& m) {
        std::vector<int> v;
        for (int r = 0; r < rows; ++r) {
            const uint8_t* c = m.patterns[0].cells + r * m.channelCount * kCellSize;
            v.push_back(c[3] << 8 | c[4]);
        }
        return v;
    };
}
const Records kSample = [](const Module& m) {
    const Sample& s = S(m, 0);
    return std::vector<int>{int(s.length), int(s.loopStart), int(s.loopLength),
                            s.loopMode,    s.volume,         s.finetune};
};
const Records kShape = [](const Module& m) {
    return std::vector<int>{m.channelCount, m.instrumentCount, m.patternSlots, m.songLength,
                            m.restartPosition};
};

TEST(ModLoader, RecordsAsTheOriginalMakesThem) {
    ModSampleDesc r1 = ModSquare(16, 4, 20, 0x50);
    r1.finetune = 0x0F;
    ModSampleDesc r10 = ModSquare(100, 0, 0, 0xFF);
    r10.finetune = 0xF7;
    const auto loop = [](uint16_t start, uint16_t words) { return Song({}, {ModSquare(100, start, words)}); };
    const std::vector<uint16_t> periods = {856, 857, 855,  428,  425,  431, 113, 28,
                                           27,  0,   4095, 4064, 4063, 1,   31,  1904};
    std::vector<ModCell> periodRows;
    for (uint16_t p : periods)
        periodRows.push_back({p, 1});
    const std::vector<ModCell> effects = {
        {0, 0, 1, 0},      {0, 0, 2, 0},      {0, 0, 0xA, 0},    {0, 0, 5, 0},    {0, 0, 6, 0},
        {0, 0, 1, 5},      {0, 0, 5, 1},      {0, 0, 0xC, 0x41}, {0, 0, 8, 0x30}, {0, 0, 0xE, 0x87},
        {0, 0, 0xE, 0xF1}, {0, 0, 0xE, 0x50}, {0, 0, 0xF, 0x20}};
    ModSpec restart33 = Song({}), restart34 = Song({}), restart128 = Song({}), restart200 = Song({});
    restart33.length = 3, restart33.restart = 3;
    restart34.length = 3, restart34.restart = 4;
    restart128.length = 128, restart128.restart = 127;
    restart200.length = 200, restart200.restart = 198;
    ModSpec stray = Song({});
    stray.length = 2;
    stray.orders.resize(101, 0);
    stray.orders[100] = 5;
    ModSpec old = Song({{428, 2, 0xC, 0x20}}, {ModSquare(50), ModSquare(60)});
    old.signature = "";
    old.restart = 120; // a tempo byte of the oldest trackers: a restart beyond the song
    ModSpec flt8 = Song({});
    flt8.signature = "FLT8";
    const std::vector<uint8_t> song = BuildMod(Song({}));
    const size_t patternsEnd = 1084 + 1024;
    std::vector<uint8_t> text(2000, 'x');

    const std::vector<ModCase> cases = {
        // clang-format off
        {"R1: loop cut at the end, volume and finetune", BuildMod(Song({}, {r1})), kSample, {32, 8, 24, kLoopForward, 64, -16}},
        {"R10: volume FF, finetune F7", BuildMod(Song({}, {r10})), kSample, {200, 0, 200, kLoopNone, 64, 112}},
        {"loop of 0 words", BuildMod(loop(10, 0)), kSample, {200, 0, 200, kLoopNone, 64, 0}},
        {"loop of 1 word", BuildMod(loop(10, 1)), kSample, {200, 0, 200, kLoopNone, 64, 0}},
        {"loop of 2 words", BuildMod(loop(10, 2)), kSample, {200, 20, 4, kLoopForward, 64, 0}},
        {"loop starting past the end", BuildMod(loop(100, 8)), kSample, {200, 0, 200, kLoopNone, 64, 0}},
        {"loop running past the end", BuildMod(loop(90, 20)), kSample, {200, 180, 20, kLoopForward, 64, 0}},
        {"R2: period table at its ends", BuildMod(Song(periodRows)), Column(0, 16),
         {37, 37, 38, 49, 50, 49, 72, 96, 0, 0, 10, 10, 11, 0, 94, 24}},
        {"R2: instruments on cells without a note", BuildMod(Song(periodRows)), Column(1, 16), std::vector<int>(16, 1)},
        {"R3: cell 13 58 2C 80", BuildMod(Song({{0x358, 0x12, 0xC, 0x80}})),
         [](const Module& m) { const uint8_t* c = m.patterns[0].cells; return std::vector<int>(c, c + 5); },
         {37, 18, 0, 0xC, 0x40}},
        {"R4: effect rewrites", BuildMod(Song(effects)), Effects(13),
         {0, 0, 0, 0x300, 0x400, 0x105, 0x501, 0xC40, 0x830, 0xE87, 0xEF1, 0xE50, 0xF20}},
        {"R11: instruments 32, 129, 255", BuildMod(Song({{428, 32}, {428, 129}, {428, 255}})), Column(1, 3), {32, 0, 0}},
        {"R6: OCTA", BuildMod(WithSignature("OCTA", 8)), kShape, {8, 31, 1, 1, 0}},
        {"R6: 2CHN", BuildMod(WithSignature("2CHN", 2)), kShape, {2, 31, 1, 1, 0}},
        {"R6: 6CHN", BuildMod(WithSignature("6CHN", 6)), kShape, {6, 31, 1, 1, 0}},
        {"R6: 32CH", BuildMod(WithSignature("32CH", 32)), kShape, {32, 31, 1, 1, 0}},
        {"R6: M!K!", BuildMod(WithSignature("M!K!", 4)), kShape, {4, 31, 1, 1, 0}},
        {"R6: FLT4", BuildMod(WithSignature("FLT4", 4)), kShape, {4, 31, 1, 1, 0}},
        // All else as the original's own XM of the file holds it: the Amiga table, speed 6 at
        // 125 BPM, full global volume, FT2 rules; samples centred, untransposed, 16-bit in
        // memory; no envelopes, fadeout, vibrato or sample map; an empty slot without samples.
        {"R9: the rest of an XM", BuildMod(Song({})), [](const Module& m) {
             const Instrument& ins = m.instruments[0];
             const Sample& s = S(m, 0);
             return std::vector<int>{m.flags & linearFrequencies, m.defaultTempo, m.defaultBpm, m.initialGlobalVolume,
                                     SongRules(m) == RuleSet::Ft2, int(s.panning), s.relativeNote, s.bits,
                                     ins.volumeType, ins.panningType, ins.fadeout, ins.vibratoDepth,
                                     ins.sampleMap[95], m.instruments[1].sampleCount}; },
         {0, 6, 125, 64, 1, 128, 0, 16, 0, 0, 0, 0, 0, 0}},
        {"R7: a 15-sample file", BuildMod(old), [](const Module& m) {
             return std::vector<int>{m.channelCount, m.instrumentCount, m.patterns[0].cells[0], m.patterns[0].cells[1],
                                     m.restartPosition, int(S(m, 1).length)}; },
         {4, 15, 49, 2, 0, 120}},
        {"R8: restart = length is kept", BuildMod(restart33), kShape, {4, 31, 1, 3, 3}},
        {"R8: ... and the song loops on order 3", BuildMod(restart33),
         [](const Module& m) { return std::vector<int>{MeasureSong(m, 44100).loopOrder}; }, {3}},
        {"R8: restart > length is 0", BuildMod(restart34), kShape, {4, 31, 1, 3, 0}},
        {"R8: length 128, restart 127", BuildMod(restart128), kShape, {4, 31, 1, 128, 127}},
        {"R8: length 200 is kept", BuildMod(restart200), kShape, {4, 31, 1, 200, 198}},
        {"R13: patterns from all 128 order entries", BuildMod(stray),
         [](const Module& m) { return std::vector<int>{m.patternSlots, S(m, 0).data[0] >> 8}; }, {6, -60}},
        {"R12: a byte after the patterns", Cut(song, patternsEnd + 1),
         [](const Module& m) { const Sample& s = S(m, 0); return std::vector<int>{int(s.length), s.data[0] >> 8, s.data[1]}; },
         {200, -60, 0}},
        {"R12: cut inside a sample", Cut(song, patternsEnd + 150),
         [](const Module& m) { const Sample& s = S(m, 0); return std::vector<int>{int(s.length), s.data[149] != 0, s.data[150]}; },
         {200, 1, 0}},
        {"R12: cut exactly after the patterns", Cut(song, patternsEnd), nullptr, {}, "1 pattern needs 2109 bytes, the file has 2108"},
        {"1084 bytes", Cut(song, 1084), nullptr, {}, "too short for a MOD"},
        {"R5: FLT8 read as a 15-sample file", BuildMod(flt8), nullptr, {}, "no MOD signature"},
        {"text", text, nullptr, {}, "neither an XM nor a MOD module"},
        {"the XM text and zeros: 0 channels", [] { std::vector<uint8_t> b(400, 0); std::memcpy(b.data(), "Extended Module: ", 17); return b; }(),
         nullptr, {}, "0 channels"},
        // clang-format on
    };
    for (const ModCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoadReport report{};
        Module* m = LoadModuleFromMemory(c.bytes.data(), c.bytes.size(), &report);
        if (c.expect.empty()) {
            EXPECT_EQ(m, nullptr);
            EXPECT_NE(std::string(report.refusal).find(c.refusal), std::string::npos) << report.refusal;
        } else {
            ASSERT_NE(m, nullptr) << report.refusal;
            EXPECT_EQ(c.records(*m), c.expect);
        }
        FreeModule(m);
    }
}

} // namespace
