// The committed song: it is what the score compiles to and what the program
// carries; played through its first pass and on past the restart it never
// falls silent, never sits on the rails, and it shows off what the player performs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>

#include "compile.h"
#include "player/format/module.h"
#include "player/format/song.h"
#include "tests/common/test_util.h"
#include "tools/render/render.h"

namespace {

constexpr int kRate = 44100;

TEST(CommittedSong, IsWhatTheScoreCompilesToAndTheEmbeddedSong) {
    const std::string committed = testutil::ReadFile(TINSEL_SONG_XM);
    ASSERT_FALSE(committed.empty());
    songc::Song song;
    std::vector<uint8_t> xm;
    std::string error;
    ASSERT_TRUE(songc::CompileScore(testutil::ReadFile(TINSEL_SONG_SCORE), song, xm, error)) << error;
    EXPECT_TRUE(std::string(xm.begin(), xm.end()) == committed)
        << "assets/song/tinselbay.xm is stale: rerun scripts/make-assets.sh";
    EXPECT_LT(committed.size(), 200u * 1024u);
    ASSERT_EQ(EmbeddedSongSize, committed.size());
    EXPECT_EQ(std::memcmp(EmbeddedSong, committed.data(), committed.size()), 0);
}

// The song shows each effect and volume-column kind, key-off notes and every
// envelope feature at least once.
TEST(CommittedSong, ShowsOffWhatThePlayerPerforms) {
    Module* m = LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize);
    ASSERT_NE(m, nullptr);
    std::set<int> effects, volumeKinds;
    bool keyOffNote = false;
    for (int p = 0; p < m->patternSlots; ++p)
        for (int i = 0; m->patterns[p].cells != nullptr && i < m->patterns[p].rows * m->channelCount; ++i) {
            const uint8_t* cell = m->patterns[p].cells + i * kCellSize;
            keyOffNote |= cell[0] == kKeyOff;
            if (cell[3] != 0 || cell[4] != 0)
                effects.insert(cell[3] == 0xE ? 0xE0 | cell[4] >> 4 : cell[3]);
            if (cell[2] >= 0x10)
                volumeKinds.insert(cell[2] <= 0x50 ? 0x10 : cell[2] & 0xF0);
        }
    EXPECT_TRUE(keyOffNote);
    for (int wanted : {0x0, 0x2, 0x3, 0x4, 0x6, 0xA, 0xC, 0xE9, 0xEA, 0xF, 0x14})
        EXPECT_TRUE(effects.count(wanted)) << "the song never uses effect " << std::hex << wanted;
    EXPECT_GE(volumeKinds.size(), 5u);
    int features = 0; // sustain, loop, panning envelope, fadeout, auto-vibrato
    for (int i = 0; i < m->instrumentCount; ++i) {
        const Instrument& ins = m->instruments[i];
        features |= ((ins.volumeType & 3) == 3) | ((ins.volumeType & 5) == 5) << 1 |
                    (ins.panningType & 1) << 2 | (ins.fadeout != 0) << 3 |
                    (ins.vibratoDepth != 0 && ins.vibratoRate != 0) << 4;
    }
    EXPECT_EQ(features, 31);
    FreeModule(m);
}

// No silence longer than a second (quiet: below -54 dB of full scale on both sides), loud but not
// clipping, and each second carries sound on both sides: nothing is panned away for good.
TEST(CommittedSong, NeverSilentNeverClippingBothSidesThroughout) {
    Module* module = LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize);
    ASSERT_NE(module, nullptr);
    const std::vector<int16_t> pcm = RenderModule(module, kRate, 80 * kRate);
    FreeModule(module);
    ASSERT_EQ(pcm.size(), size_t(80 * kRate * 2));
    constexpr int kQuiet = 64;
    int run = 0, longest = 0;
    size_t clipped = 0;
    double sum = 0, left = 0, right = 0;
    for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
        const int l = std::abs(int(pcm[i])), r = std::abs(int(pcm[i + 1]));
        run = std::max(l, r) < kQuiet ? run + 1 : 0;
        longest = std::max(longest, run);
        clipped += (l >= 32767) + (r >= 32767);
        sum += double(l) * l + double(r) * r;
        left += l;
        right += r;
        if ((i / 2 + 1) % kRate == 0) {
            EXPECT_GT(std::min(left, right) / kRate, 200.0)
                << "a side falls quiet in second " << i / 2 / kRate;
            left = right = 0;
        }
    }
    EXPECT_LT(longest, kRate) << "silent for " << longest << " frames";
    const double rmsDb = 20.0 * std::log10(std::sqrt(sum / double(pcm.size())) / 32768.0);
    EXPECT_LT(double(clipped), 1e-4 * double(pcm.size()));
    EXPECT_GT(rmsDb, -24.0);
    EXPECT_LT(rmsDb, -8.0);
}

} // namespace
