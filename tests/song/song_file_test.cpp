// The committed song: it is what the score compiles to, it is what the program carries, it loads,
// and it uses only what the player performs.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "compile.h"
#include "load_xm.h"
#include "player/song.h"
#include "player/stream.h"

namespace {

// What the score compiles to, and what the program carries.
TEST(CommittedSong, IsWhatTheScoreCompilesToAndTheEmbeddedSong) {
    const std::vector<uint8_t> committed = ReadFileBytes(TINSEL_SONG_XM);
    ASSERT_FALSE(committed.empty());
    songc::Song song;
    std::vector<uint8_t> xm;
    std::string error;
    ASSERT_TRUE(songc::CompileScore(ReadFileText(TINSEL_SONG_SCORE), song, xm, error)) << error;
    EXPECT_TRUE(xm == committed) << "assets/song/tinselbay.xm is stale: rerun scripts/make-assets.sh";
    EXPECT_LT(committed.size(), 200u * 1024u);
    ASSERT_EQ(EmbeddedSongSize, committed.size());
    EXPECT_EQ(std::memcmp(EmbeddedSong, committed.data(), committed.size()), 0);
}

class LoadedSong : public ::testing::Test {
protected:
    void SetUp() override {
        SetStreamCallbacks(SongOpen, SongClose, SongRead, SongSeek, SongTell);
        module_.reset(LoadModule("#101"));
        ASSERT_NE(module_, nullptr);
    }
    ModulePtr module_;
};

TEST_F(LoadedSong, HeaderSuitsThePlayer) {
    const Module& m = *module_;
    EXPECT_LE(m.channelCount, kMaxChannels);
    EXPECT_EQ(m.flags & linearFrequencies, linearFrequencies);
    EXPECT_GE(m.defaultBpm, 170);
    EXPECT_LE(m.defaultBpm, 190);
    EXPECT_LT(m.restartPosition, m.songLength);
    for (int i = 0; i < m.songLength; ++i)
        EXPECT_LT(m.orderTable[i], m.patternSlots);
    for (int i = 0; i < m.instrumentCount; ++i) {
        const Instrument& ins = m.instruments[i];
        for (int s = 0; s < ins.sampleCount; ++s) {
            EXPECT_GT(ins.samples[s]->length, 0u);
            EXPECT_LE(ins.samples[s]->loopStart + ins.samples[s]->loopLength, ins.samples[s]->length);
        }
    }
}

// Frames per tick at 44100 Hz, as the player's tempo rule gives them.
int FramesPerTick(int bpm) {
    return 5 * 44100 / (2 * bpm);
}

// Plays the order list through once, from position 0 to the end, following the speed and
// tempo commands, and measures how long it takes before the song loops.
TEST_F(LoadedSong, RunsAtLeastAMinuteBeforeLooping) {
    const Module& m = *module_;
    int speed = m.defaultTempo, bpm = m.defaultBpm;
    double frames = 0;
    for (int position = 0; position < m.songLength; ++position) {
        const Pattern& pattern = m.patterns[m.orderTable[position]];
        for (int row = 0; row < pattern.rows; ++row) {
            if (pattern.cells == nullptr) {
                frames += static_cast<double>(speed) * FramesPerTick(bpm);
                continue;
            }
            for (int channel = 0; channel < m.channelCount; ++channel) {
                const uint8_t* cell = CellAt(m, m.orderTable[position], row, channel);
                if (cell[3] == 0xF)
                    (cell[4] < 0x20 ? speed : bpm) = cell[4];
            }
            frames += static_cast<double>(speed) * FramesPerTick(bpm);
        }
    }
    const double seconds = frames / 44100.0;
    EXPECT_GE(seconds, 60.0);
    EXPECT_LE(seconds, 150.0);
    RecordProperty("seconds_before_loop", std::to_string(seconds));
}

// Every effect and volume-column command in the song is one the player performs, and the song
// shows each of them at least once.
TEST_F(LoadedSong, UsesWhatThePlayerPerformsAndShowsItOff) {
    const Module& m = *module_;
    std::set<int> effects, volumeKinds;
    bool keyOffNote = false;
    for (int p = 0; p < m.patternSlots; ++p) {
        if (m.patterns[p].cells == nullptr)
            continue;
        for (int i = 0; i < m.patterns[p].rows * m.channelCount; ++i) {
            const uint8_t* cell = m.patterns[p].cells + i * kCellSize;
            keyOffNote |= cell[0] == kKeyOff;
            EXPECT_TRUE(cell[0] <= 96 || cell[0] == kKeyOff);
            const int effect = cell[3], parameter = cell[4];
            if (effect == 0 && parameter == 0) {
                // nothing
            } else if (effect == 0xE) {
                EXPECT_TRUE(parameter >> 4 == 0x9 || parameter >> 4 == 0xA) << "E" << (parameter >> 4);
                effects.insert(0xE0 | parameter >> 4);
            } else {
                const std::set<int> performed = {0x0, 0x2, 0x3, 0x4, 0x6, 0xA, 0xC, 0xF, 0x14};
                EXPECT_TRUE(performed.count(effect)) << "effect " << effect;
                effects.insert(effect);
            }
            const int volume = cell[2];
            EXPECT_FALSE(volume > 0x50 && volume < 0x60) << "volume column " << volume;
            if (volume >= 0x10)
                volumeKinds.insert(volume <= 0x50 ? 0x10 : volume & 0xF0);
        }
    }
    EXPECT_TRUE(keyOffNote);
    for (int wanted : {0x0, 0x2, 0x3, 0x4, 0x6, 0xA, 0xC, 0xE9, 0xEA, 0xF, 0x14})
        EXPECT_TRUE(effects.count(wanted)) << "the song never uses effect " << std::hex << wanted;
    EXPECT_GE(volumeKinds.size(), 5u);

    bool sustain = false, loop = false, panning = false, fadeout = false, autoVibrato = false;
    for (int i = 0; i < m.instrumentCount; ++i) {
        const Instrument& ins = m.instruments[i];
        sustain |= (ins.volumeType & 3) == 3;
        loop |= (ins.volumeType & 5) == 5;
        panning |= (ins.panningType & 1) != 0;
        fadeout |= ins.fadeout != 0;
        autoVibrato |= ins.vibratoDepth != 0 && ins.vibratoRate != 0;
    }
    EXPECT_TRUE(sustain && loop && panning && fadeout && autoVibrato)
        << "sustain " << sustain << ", loop " << loop << ", panning " << panning << ", fadeout " << fadeout
        << ", auto-vibrato " << autoVibrato;
}

} // namespace
