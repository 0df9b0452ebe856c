// The score compiler, checked by loading what it writes through the player's own loader.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <tuple>

#include "compile.h"
#include "player/format/module.h"
#include "synth.h"

namespace {

const char* kScore = R"(# a small score
song "Test tune"
channels 4
speed 5
bpm 140

instrument 1 lead
  synth lead
  volume 40
  panning 100
  transpose 12
  volenv 0,0 4,64 10,32 20,48 sustain 1 loop 2 3
  panenv 0,32 8,0 16,64 loop 0 2
  fadeout 300
  autovibrato square 10 5 20
end

instrument 2 silent
end

instrument 3 kick
  synth kick
end

track notes 8
  0 C-0 01
  1 B-7 01
  2 C#4 ..
  3 off
  4 --- .. 40 037
  5 --- .. 00 A0F
  6 --- 03 .. E91
  7 G-4 01 .. K00
end

track beat 2
  0 C-4 03 -3 C20
end

track tune 4
  0 C-4 01
  1 off
  2 B-4 01
end

pattern first 8
  0 notes
  1 beat
  2 tune +2 @4
  3 0 D-4 03 mF FB4
end

pattern quiet 16
end

track volumes 12
  0  --- .. -3
  1  --- .. +3
  2  --- .. d3
  3  --- .. u3
  4  --- .. s3
  5  --- .. v3
  6  --- .. p8
  7  --- .. l3
  8  --- .. r3
  9  --- .. m2
  10 --- .. 10 F03
  11 C-4 01 .. EA2
end

pattern columns 32
  0 volumes
  1 beat @4*3 ins=1
  2 volumes @20
end

order first quiet columns first
restart 2
)";

struct Compiled {
    songc::Song song;
    std::vector<uint8_t> xm;
    std::unique_ptr<Module, decltype(&FreeModule)> module{nullptr, FreeModule};
};

Compiled Compile(const std::string& text) {
    Compiled c;
    std::string error;
    EXPECT_TRUE(songc::CompileScore(text, c.song, c.xm, error)) << error;
    c.module.reset(LoadModuleFromMemory(c.xm.data(), c.xm.size()));
    return c;
}

// The test score, compiled once and loaded through the player's loader.
const Compiled& Tune() {
    static const Compiled compiled = Compile(kScore);
    return compiled;
}

#define TUNE_MODULE(m)                                                                                       \
    ASSERT_NE(Tune().module, nullptr);                                                                       \
    const Module& m = *Tune().module

// note, instrument, volume column, effect, parameter
using Cell = std::array<int, 5>;
Cell CellOf(const Module& m, int pattern, int row, int channel) {
    const uint8_t* c = m.patterns[pattern].cells + (row * m.channelCount + channel) * kCellSize;
    return {c[0], c[1], c[2], c[3], c[4]};
}

TEST(ScoreCompiler, HeaderFieldsAndOrder) {
    TUNE_MODULE(m);
    const std::vector<uint8_t>& xm = Tune().xm;
    // Channels, speed, bpm, frequency table, order length, restart, patterns, instruments.
    EXPECT_EQ((std::vector<int>{m.channelCount, m.defaultTempo, m.defaultBpm, m.flags & linearFrequencies,
                                m.songLength, m.restartPosition, m.patternSlots, m.instrumentCount}),
              (std::vector<int>{4, 5, 140, linearFrequencies, 4, 2, 3, 3}));
    EXPECT_EQ(std::vector<int>(m.orderTable, m.orderTable + 5), (std::vector<int>{0, 1, 2, 0, 0}));
    EXPECT_EQ(std::string(xm.begin() + 17, xm.begin() + 26), "Test tune"); // the name after the ID
    EXPECT_EQ(Compile(kScore).xm, xm) << "the same score gives the same bytes";
}

// Every cell the score writes, and the empty ones around placed tracks.
TEST(ScoreCompiler, CellsLandWhereTheScoreSays) {
    TUNE_MODULE(m);
    EXPECT_EQ(m.patterns[0].rows, 8);
    EXPECT_EQ(m.patterns[2].rows, 32);
    const Cell empty{};
    std::map<std::array<int, 3>, Cell> want = {
        // pattern, row, channel -> cell
        {{0, 0, 0}, {1, 1, 0, 0, 0}},          // C-0
        {{0, 1, 0}, {96, 1, 0, 0, 0}},         // B-7
        {{0, 2, 0}, {50, 0, 0, 0, 0}},         // C#4, no instrument
        {{0, 3, 0}, {kKeyOff, 0, 0, 0, 0}},    // off
        {{0, 4, 0}, {0, 0, 0x50, 0, 0x37}},    // set volume 40 hex, arpeggio
        {{0, 5, 0}, {0, 0, 0x10, 0xA, 0x0F}},  // volume 0, volume slide
        {{0, 6, 0}, {0, 3, 0, 0xE, 0x91}},     // retrigger
        {{0, 7, 0}, {56, 1, 0, 0x14, 0}},      // key-off effect K
        {{0, 0, 3}, {51, 3, 0xFF, 0xF, 0xB4}}, // an inline cell
        {{0, 4, 2}, {51, 1, 0, 0, 0}},         // placed at row 4, transposed up two
        {{0, 5, 2}, {kKeyOff, 0, 0, 0, 0}},    // key-off stays key-off
        {{0, 6, 2}, {62, 1, 0, 0, 0}},         {{2, 10, 0}, {0, 0, 0x20, 0xF, 0x03}},
        {{2, 11, 0}, {49, 1, 0, 0xE, 0xA2}},
    };
    // A two-row track repeats to fill the pattern; placed three times from row 4 with the
    // instrument swapped, then nothing.
    for (int row = 0; row < 8; row += 2)
        want[{0, row, 1}] = {49, 3, 0x63, 0xC, 0x20};
    for (int row = 4; row < 10; row += 2)
        want[{2, row, 1}] = {49, 1, 0x63, 0xC, 0x20};
    // Volume column commands, the same track placed at rows 0 and 20.
    const int volumes[10] = {0x63, 0x73, 0x83, 0x93, 0xA3, 0xB3, 0xC8, 0xD3, 0xE3, 0xF2};
    for (int row = 0; row < 10; ++row) {
        want[{2, row, 0}] = want[{2, row + 20, 2}] = {0, 0, volumes[row], 0, 0};
    }
    want[{2, 30, 2}] = want[{2, 10, 0}];
    want[{2, 31, 2}] = want[{2, 11, 0}];
    for (const auto& [at, cell] : want)
        EXPECT_EQ(CellOf(m, at[0], at[1], at[2]), cell)
            << "pattern " << at[0] << " row " << at[1] << " channel " << at[2];
    for (int pattern : {0, 2}) {
        for (int row = 0; row < m.patterns[pattern].rows; ++row) {
            for (int channel = 1; channel <= 2; ++channel) {
                if (want.count({pattern, row, channel}) == 0) {
                    EXPECT_EQ(CellOf(m, pattern, row, channel), empty)
                        << "pattern " << pattern << " row " << row;
                }
            }
        }
    }
    // The empty pattern: the loader may keep no cells at all; any it keeps are empty.
    ASSERT_EQ(m.patterns[1].rows, 16);
    const uint8_t* cells = m.patterns[1].cells;
    EXPECT_TRUE(cells == nullptr || std::count(cells, cells + 16 * 4 * kCellSize, 0) == 16 * 4 * kCellSize);
}

TEST(ScoreCompiler, InstrumentsEnvelopesAndSamples) {
    TUNE_MODULE(m);
    const Instrument& lead = m.instruments[0];
    ASSERT_EQ(lead.sampleCount, 1);
    // Points, a point, the last, sustain, loop and type of the volume envelope; of the panning one;
    // the fadeout (the loader doubles the file's value); the auto-vibrato's type, sweep, depth, rate.
    const EnvelopePoint* volume = lead.volumeEnvelope;
    EXPECT_EQ(
        std::vector<int>({lead.volumePointCount, volume[1].x, volume[1].y, volume[3].x, volume[3].y,
                          lead.volumeSustain, lead.volumeLoopStart, lead.volumeLoopEnd, lead.volumeType}),
        std::vector<int>({4, 4, 64, 20, 48, 1, 2, 3, 1 | 2 | 4}));
    EXPECT_EQ(std::vector<int>({lead.panningPointCount, lead.panningEnvelope[1].y, lead.panningEnvelope[2].y,
                                lead.panningLoopStart, lead.panningLoopEnd, lead.panningType, lead.fadeout,
                                lead.vibratoType, lead.vibratoSweep, lead.vibratoDepth, lead.vibratoRate}),
              std::vector<int>({3, 0, 64, 0, 2, 1 | 4, 600, 1, 10, 5, 20}));
    EXPECT_EQ(std::count(lead.sampleMap, lead.sampleMap + 96, 0), 96);

    const songc::SampleData& made = Tune().song.instruments[0].sample;
    const Sample& tone = *lead.samples[0];
    // Volume, panning, the voice's tuning with the instrument's transpose, and loop.
    EXPECT_EQ(std::vector<int>({tone.volume, int(tone.panning), tone.relativeNote, tone.finetune,
                                tone.loopMode, int(tone.loopStart), int(tone.loopLength)}),
              std::vector<int>({40, 100, made.relativeNote + 12, made.finetune, kLoopForward,
                                int(made.loopStart), int(made.loopLength)}));
    ASSERT_EQ(tone.length, made.pcm.size());
    for (size_t i = 0; i < made.pcm.size(); ++i)
        ASSERT_EQ(tone.data[i], made.pcm[i] * 256) << "sample " << i; // delta coding undone

    // Without a synth voice: no samples, and the next instrument still starts where the short
    // header ends.
    EXPECT_EQ(m.instruments[1].sampleCount, 0);

    // A one-shot drum: no envelopes, no loop, and the loader's whole-length stand-in loop.
    const Instrument& kick = m.instruments[2];
    ASSERT_EQ(kick.sampleCount, 1);
    EXPECT_EQ(std::tuple(kick.volumeType, kick.panningType, kick.fadeout), std::tuple(0, 0, 0));
    const Sample& hit = *kick.samples[0];
    EXPECT_GT(hit.length, 1000u);
    EXPECT_EQ(hit.loopMode, kLoopNone);
    EXPECT_EQ(std::tuple(hit.loopStart, hit.loopLength), std::tuple(0u, hit.length));
    EXPECT_EQ(std::tuple(hit.volume, hit.panning), std::tuple(64, 128u));
}

// Each malformed score fails with the line that is wrong.
TEST(ScoreCompiler, ErrorsNameTheLine) {
    const char* head = "channels 2\n";
    std::string manyPatterns;
    for (int i = 0; i <= 256; ++i)
        manyPatterns += "pattern p" + std::to_string(i) + " 1\nend\n";
    const std::pair<std::string, const char*> cases[] = {
        {"pattern p 4\n0 nosuch\nend\norder p\n", "line 3: unknown track 'nosuch'"},
        {"track t 4\n0 H-4\nend\n", "line 3: bad note 'H-4'"},
        {"track t 4\n4 C-4\nend\n", "line 3: row 4 is outside 0..3"},
        {"track t 4\n0 C-4 .. 41\nend\n", "line 3: bad volume column '41'"},
        {"track t 4\n0 C-4 .. .. Z\nend\n", "line 3: bad effect 'Z'"},
        {"track t 4\n0 B-7\nend\npattern p 4\n0 t +1\nend\n", "line 6: transposing track 't'"},
        {"track t 4\n0 C-4\nend\npattern p 4\n0 t\n0 0 D-4\nend\n", "line 7: cell overlaps"},
        {"track t 4\n0 C-4\nend\npattern p 4\n0 t @2\nend\n", "line 6: track 't' runs past"},
        {"instrument 1 x\nvolenv 0,0 4,80\nend\n", "line 3: envelope value 80 is outside 0..64"},
        {"instrument 1 x\nvolenv 0,0 4,8 sustain 3\nend\n", "line 3: envelope sustain or loop"},
        {"instrument 1 x\nsynth kazoo\nend\npattern p 1\nend\norder p\n", "unknown synth voice 'kazoo'"},
        {"instrument 2 x\nend\n", "line 2: instruments are numbered"},
        {"track t 4\n0 C-4\n", "end of score: missing 'end'"},
        {"pattern p 4\nend\norder p\nrestart 1\n", "end of score: restart position"},
        {"pattern p 4\nend\norder q\n", "end of score: order names unknown pattern 'q'"},
        {"tempo 3\n", "line 2: unknown or malformed statement 'tempo'"},
        // The order list numbers patterns in one byte.
        {manyPatterns + "order p0\n", "line 514: a song has at most 256 patterns"},
    };
    for (const auto& [text, expected] : cases) {
        songc::Song song;
        std::vector<uint8_t> xm;
        std::string error;
        EXPECT_FALSE(songc::CompileScore(head + text, song, xm, error)) << text;
        EXPECT_NE(error.find(expected), std::string::npos) << "got: " << error;
    }
}

// Pitched voices sound middle C at note C-4: the loop holds whole cycles of 261.63 Hz at the rate
// that the relative note and finetune give. No click where the attack runs into the loop, nor
// where the loop wraps: those steps are no larger than the largest step inside the loop.
TEST(Synthesiser, PitchedVoicesAreTunedAndLoopCleanly) {
    const struct {
        const char* voice;
        int cyclesInLoop;
    } voices[] = {{"lead", 1}, {"bass", 1}, {"pluck", 1}, {"steel", 1}, {"bell", 4}, {"pad", 96}};
    for (const auto& v : voices) {
        songc::SampleData s;
        ASSERT_TRUE(songc::Synthesise(v.voice, s)) << v.voice;
        ASSERT_GT(s.loopLength, 0u) << v.voice;
        EXPECT_LE(s.loopStart + s.loopLength, s.pcm.size()) << v.voice;
        const double rate = 8363.0 * std::pow(2.0, (s.relativeNote + s.finetune / 128.0) / 12.0);
        const double pitch = rate * v.cyclesInLoop / s.loopLength;
        EXPECT_NEAR(1200.0 * std::log2(pitch / 261.6256), 0.0, 1.0) << v.voice << " off by cents";
        int peak = 0;
        for (int8_t x : s.pcm)
            peak = std::max(peak, std::abs(static_cast<int>(x)));
        EXPECT_GE(peak, 120) << v.voice; // uses the 8 bits it has
        const size_t first = s.loopStart, last = s.loopStart + s.loopLength - 1;
        int inner = 0;
        for (size_t i = first; i < last; ++i)
            inner = std::max(inner, std::abs(s.pcm[i + 1] - s.pcm[i]));
        EXPECT_LE(std::abs(s.pcm[first] - s.pcm[last]), inner + 1) << v.voice << " wraps with a click";
        if (first > 0) {
            EXPECT_LE(std::abs(s.pcm[first] - s.pcm[first - 1]), inner + 1)
                << v.voice << " enters with a click";
        }
    }
}

TEST(Synthesiser, DrumsAreOneShotsThatDieAway) {
    for (const char* voice : {"kick", "snare", "hat", "openhat", "shaker"}) {
        songc::SampleData s;
        ASSERT_TRUE(songc::Synthesise(voice, s)) << voice;
        EXPECT_EQ(s.loopLength, 0u) << voice;
        ASSERT_GT(s.pcm.size(), 500u) << voice;
        int tail = 0;
        for (size_t i = s.pcm.size() - 50; i < s.pcm.size(); ++i)
            tail = std::max(tail, std::abs(static_cast<int>(s.pcm[i])));
        EXPECT_LE(tail, 12) << voice << " ends with a click";
    }
    songc::SampleData s;
    EXPECT_FALSE(songc::Synthesise("kazoo", s));
}

} // namespace
