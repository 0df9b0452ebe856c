// The score compiler, checked by loading what it writes through the player's own loader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "compile.h"
#include "load_xm.h"
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
    ModulePtr module;
};

Compiled Compile(const std::string& text) {
    Compiled c;
    std::string error;
    EXPECT_TRUE(songc::CompileScore(text, c.song, c.xm, error)) << error;
    c.module = LoadFromMemory(c.xm);
    return c;
}

struct CellView {
    int note, instrument, volume, effect, parameter;
};
CellView Cell(const Module& m, int pattern, int row, int channel) {
    const uint8_t* c = CellAt(m, pattern, row, channel);
    return {c[0], c[1], c[2], c[3], c[4]};
}
#define EXPECT_CELL(m, p, r, ch, n, i, v, e, x)                                                              \
    do {                                                                                                     \
        const CellView cell = Cell(m, p, r, ch);                                                             \
        EXPECT_EQ(cell.note, n) << "row " << r << " channel " << ch;                                         \
        EXPECT_EQ(cell.instrument, i) << "row " << r << " channel " << ch;                                   \
        EXPECT_EQ(cell.volume, v) << "row " << r << " channel " << ch;                                       \
        EXPECT_EQ(cell.effect, e) << "row " << r << " channel " << ch;                                       \
        EXPECT_EQ(cell.parameter, x) << "row " << r << " channel " << ch;                                    \
    } while (0)

TEST(ScoreCompiler, HeaderFieldsAndOrder) {
    const Compiled c = Compile(kScore);
    ASSERT_NE(c.module, nullptr);
    const Module& m = *c.module;
    EXPECT_EQ(m.channelCount, 4);
    EXPECT_EQ(m.defaultTempo, 5);
    EXPECT_EQ(m.defaultBpm, 140);
    EXPECT_EQ(m.flags & linearFrequencies, linearFrequencies);
    EXPECT_EQ(m.songLength, 4);
    EXPECT_EQ(m.restartPosition, 2);
    EXPECT_EQ(m.patternSlots, 3);
    EXPECT_EQ(m.instrumentCount, 3);
    EXPECT_EQ(m.orderTable[0], 0);
    EXPECT_EQ(m.orderTable[1], 1);
    EXPECT_EQ(m.orderTable[2], 2);
    EXPECT_EQ(m.orderTable[3], 0);
    EXPECT_EQ(m.orderTable[4], 0);
    // The header's fixed layout: name after the 17-byte ID, header size 276 at offset 60.
    EXPECT_EQ(std::string(c.xm.begin() + 17, c.xm.begin() + 26), "Test tune");
    EXPECT_EQ(c.xm[37], 0x1A);
    EXPECT_EQ(c.xm[60] | c.xm[61] << 8, 276);
}

TEST(ScoreCompiler, NotesInstrumentsAndEffects) {
    const Compiled c = Compile(kScore);
    ASSERT_NE(c.module, nullptr);
    const Module& m = *c.module;
    EXPECT_EQ(m.patterns[0].rows, 8);
    EXPECT_CELL(m, 0, 0, 0, 1, 1, 0, 0, 0);          // C-0
    EXPECT_CELL(m, 0, 1, 0, 96, 1, 0, 0, 0);         // B-7
    EXPECT_CELL(m, 0, 2, 0, 50, 0, 0, 0, 0);         // C#4, no instrument
    EXPECT_CELL(m, 0, 3, 0, kKeyOff, 0, 0, 0, 0);    // off
    EXPECT_CELL(m, 0, 4, 0, 0, 0, 0x50, 0, 0x37);    // set volume 40 hex, arpeggio
    EXPECT_CELL(m, 0, 5, 0, 0, 0, 0x10, 0xA, 0x0F);  // volume 0, volume slide
    EXPECT_CELL(m, 0, 6, 0, 0, 3, 0, 0xE, 0x91);     // retrigger
    EXPECT_CELL(m, 0, 7, 0, 56, 1, 0, 0x14, 0);      // key-off effect K
    EXPECT_CELL(m, 0, 0, 3, 51, 3, 0xFF, 0xF, 0xB4); // an inline cell
}

TEST(ScoreCompiler, TracksRepeatMoveAndTranspose) {
    const Compiled c = Compile(kScore);
    ASSERT_NE(c.module, nullptr);
    const Module& m = *c.module;
    // A two-row track repeats to fill the pattern.
    for (int row = 0; row < 8; ++row) {
        if (row % 2 == 0)
            EXPECT_CELL(m, 0, row, 1, 49, 3, 0x63, 0xC, 0x20);
        else
            EXPECT_CELL(m, 0, row, 1, 0, 0, 0, 0, 0);
    }
    // Placed at row 4 and transposed up two semitones; key-off stays key-off.
    for (int row = 0; row < 4; ++row)
        EXPECT_CELL(m, 0, row, 2, 0, 0, 0, 0, 0);
    EXPECT_CELL(m, 0, 4, 2, 51, 1, 0, 0, 0);
    EXPECT_CELL(m, 0, 5, 2, kKeyOff, 0, 0, 0, 0);
    EXPECT_CELL(m, 0, 6, 2, 62, 1, 0, 0, 0);
    EXPECT_CELL(m, 0, 7, 2, 0, 0, 0, 0, 0);
    // Placed three times from row 4, with the instrument swapped, then nothing.
    EXPECT_EQ(m.patterns[2].rows, 32);
    for (int row = 0; row < 32; ++row) {
        if (row >= 4 && row < 10 && row % 2 == 0)
            EXPECT_CELL(m, 2, row, 1, 49, 1, 0x63, 0xC, 0x20);
        else
            EXPECT_CELL(m, 2, row, 1, 0, 0, 0, 0, 0);
    }
}

TEST(ScoreCompiler, VolumeColumnCommands) {
    const Compiled c = Compile(kScore);
    ASSERT_NE(c.module, nullptr);
    const Module& m = *c.module;
    const int expected[12] = {0x63, 0x73, 0x83, 0x93, 0xA3, 0xB3, 0xC8, 0xD3, 0xE3, 0xF2, 0x20, 0};
    for (int row = 0; row < 12; ++row) {
        EXPECT_EQ(Cell(m, 2, row, 0).volume, expected[row]) << "row " << row;
        EXPECT_EQ(Cell(m, 2, row + 20, 2).volume, expected[row]) << "row " << row + 20;
    }
    EXPECT_CELL(m, 2, 10, 0, 0, 0, 0x20, 0xF, 0x03);
    EXPECT_CELL(m, 2, 11, 0, 49, 1, 0, 0xE, 0xA2);
}

TEST(ScoreCompiler, EmptyPatternLoadsAsEmptyRows) {
    const Compiled c = Compile(kScore);
    ASSERT_NE(c.module, nullptr);
    const Module& m = *c.module;
    ASSERT_EQ(m.patterns[1].rows, 16);
    // The loader may keep no cells at all for a pattern without data; any it keeps are empty.
    if (m.patterns[1].cells != nullptr) {
        for (int i = 0; i < 16 * 4 * kCellSize; ++i) {
            EXPECT_EQ(m.patterns[1].cells[i], 0);
        }
    }
    // In the file: the second stored pattern has a 9-byte header, 16 rows and no packed data.
    const size_t second = 336 + 9 + (c.xm[336 + 7] | c.xm[336 + 8] << 8);
    EXPECT_EQ(c.xm[second], 9);
    EXPECT_EQ(c.xm[second + 5] | c.xm[second + 6] << 8, 16);
    EXPECT_EQ(c.xm[second + 7] | c.xm[second + 8] << 8, 0);
}

TEST(ScoreCompiler, InstrumentHeaderEnvelopesAndVibrato) {
    const Compiled c = Compile(kScore);
    ASSERT_NE(c.module, nullptr);
    const Instrument& lead = c.module->instruments[0];
    ASSERT_EQ(lead.sampleCount, 1);
    EXPECT_EQ(lead.volumePointCount, 4);
    EXPECT_EQ(lead.volumeEnvelope[1].x, 4);
    EXPECT_EQ(lead.volumeEnvelope[1].y, 64);
    EXPECT_EQ(lead.volumeEnvelope[3].x, 20);
    EXPECT_EQ(lead.volumeEnvelope[3].y, 48);
    EXPECT_EQ(lead.volumeSustain, 1);
    EXPECT_EQ(lead.volumeLoopStart, 2);
    EXPECT_EQ(lead.volumeLoopEnd, 3);
    EXPECT_EQ(lead.volumeType, 1 | 2 | 4);
    EXPECT_EQ(lead.panningPointCount, 3);
    EXPECT_EQ(lead.panningEnvelope[1].y, 0);
    EXPECT_EQ(lead.panningEnvelope[2].y, 64);
    EXPECT_EQ(lead.panningLoopStart, 0);
    EXPECT_EQ(lead.panningLoopEnd, 2);
    EXPECT_EQ(lead.panningType, 1 | 4);
    EXPECT_EQ(lead.fadeout, 600); // the loader doubles the file's value
    EXPECT_EQ(lead.vibratoType, 1);
    EXPECT_EQ(lead.vibratoSweep, 10);
    EXPECT_EQ(lead.vibratoDepth, 5);
    EXPECT_EQ(lead.vibratoRate, 20);
    for (int note = 0; note < 96; ++note)
        EXPECT_EQ(lead.sampleMap[note], 0);

    const Instrument& kick = c.module->instruments[2];
    ASSERT_EQ(kick.sampleCount, 1);
    EXPECT_EQ(kick.volumeType, 0);
    EXPECT_EQ(kick.panningType, 0);
    EXPECT_EQ(kick.fadeout, 0);
}

TEST(ScoreCompiler, SampleHeaderAndDeltaCodedData) {
    const Compiled c = Compile(kScore);
    ASSERT_NE(c.module, nullptr);
    const songc::SampleData& made = c.song.instruments[0].sample;
    const Sample& lead = *c.module->instruments[0].samples[0];
    EXPECT_EQ(lead.volume, 40);
    EXPECT_EQ(lead.panning, 100u);
    EXPECT_EQ(lead.relativeNote, made.relativeNote + 12); // the instrument's transpose
    EXPECT_EQ(lead.finetune, made.finetune);
    EXPECT_EQ(lead.loopMode, kLoopForward);
    ASSERT_EQ(lead.length, made.pcm.size());
    EXPECT_EQ(lead.loopStart, made.loopStart);
    EXPECT_EQ(lead.loopLength, made.loopLength);
    for (size_t i = 0; i < made.pcm.size(); ++i)
        ASSERT_EQ(lead.data[i], made.pcm[i] * 256) << "sample " << i;

    // A one-shot drum: no loop, and the loader's whole-length stand-in loop.
    const Sample& kick = *c.module->instruments[2].samples[0];
    EXPECT_EQ(kick.loopMode, kLoopNone);
    EXPECT_EQ(kick.loopStart, 0u);
    EXPECT_EQ(kick.loopLength, kick.length);
    EXPECT_EQ(kick.volume, 64);
    EXPECT_EQ(kick.panning, 128u);
}

TEST(ScoreCompiler, InstrumentWithoutSynthHasNoSamples) {
    const Compiled c = Compile(kScore);
    ASSERT_NE(c.module, nullptr);
    const Instrument& silent = c.module->instruments[1];
    EXPECT_EQ(silent.sampleCount, 0);
    for (int k = 0; k < SampleSlots(silent); ++k)
        EXPECT_EQ(silent.samples[k], &EmptySample);
    // The instrument after it still starts where the short header ends.
    EXPECT_GT(c.module->instruments[2].samples[0]->length, 1000u);
}

TEST(ScoreCompiler, SameScoreSameBytes) {
    const Compiled a = Compile(kScore);
    const Compiled b = Compile(kScore);
    EXPECT_EQ(a.xm, b.xm);
}

// Each malformed score fails with the line that is wrong.
TEST(ScoreCompiler, ErrorsNameTheLine) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const char* head = "channels 2\n";
    const Case cases[] = {
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
        {"instrument 2 x\nend\n", "line 2: instruments are numbered"},
        {"track t 4\n0 C-4\n", "end of score: missing 'end'"},
        {"pattern p 4\nend\norder p\nrestart 1\n", "end of score: restart position"},
        {"pattern p 4\nend\norder q\n", "end of score: order names unknown pattern 'q'"},
        {"tempo 3\n", "line 2: unknown or malformed statement 'tempo'"},
    };
    for (const Case& test : cases) {
        songc::Song song;
        std::vector<uint8_t> xm;
        std::string error;
        EXPECT_FALSE(songc::CompileScore(std::string(head) + test.text, song, xm, error)) << test.text;
        EXPECT_NE(error.find(test.expected), std::string::npos) << "got: " << error;
    }
    // The order list numbers patterns in one byte.
    std::string many = head;
    for (int i = 0; i <= 256; ++i)
        many += "pattern p" + std::to_string(i) + " 1\nend\n";
    songc::Song song;
    std::vector<uint8_t> xm;
    std::string error;
    EXPECT_FALSE(songc::CompileScore(many + "order p0\n", song, xm, error));
    EXPECT_NE(error.find("line 514: a song has at most 256 patterns"), std::string::npos) << error;
    EXPECT_FALSE(songc::CompileScore(
        "channels 1\ninstrument 1 x\nsynth kazoo\nend\npattern p 1\nend\norder p\n", song, xm, error));
    EXPECT_NE(error.find("unknown synth voice 'kazoo'"), std::string::npos) << error;
}

// Pitched voices sound middle C at note C-4: the loop holds whole cycles of 261.63 Hz at the rate
// that the relative note and finetune give.
TEST(Synthesiser, PitchedVoicesAreTunedAndLoopInside) {
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
    }
}

// No click where the attack runs into the loop, nor where the loop wraps: those steps are no
// larger than the largest step between neighbours inside the loop.
TEST(Synthesiser, LoopsJoinWithoutClicks) {
    for (const char* voice : {"lead", "bass", "pluck", "steel", "bell", "pad"}) {
        songc::SampleData s;
        ASSERT_TRUE(songc::Synthesise(voice, s)) << voice;
        const size_t first = s.loopStart, last = s.loopStart + s.loopLength - 1;
        int inner = 0;
        for (size_t i = first; i < last; ++i)
            inner = std::max(inner, std::abs(s.pcm[i + 1] - s.pcm[i]));
        EXPECT_LE(std::abs(s.pcm[first] - s.pcm[last]), inner + 1) << voice << " wraps with a click";
        if (first > 0) {
            EXPECT_LE(std::abs(s.pcm[first] - s.pcm[first - 1]), inner + 1)
                << voice << " enters with a click";
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
