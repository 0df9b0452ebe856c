// The committed song rendered through its first pass and on past the restart: it never falls
// silent and never sits on the rails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "load_xm.h"
#include "player/song.h"
#include "player/stream.h"
#include "render.h"

namespace {

constexpr int kRate = 44100;

class RenderedSong : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SetStreamCallbacks(SongOpen, SongClose, SongRead, SongSeek, SongTell);
        ModulePtr module(LoadModule("#101"));
        ASSERT_NE(module, nullptr);
        pcm_ = new std::vector<int16_t>(RenderSong(module.get(), 80 * kRate));
    }
    static void TearDownTestSuite() {
        delete pcm_;
        pcm_ = nullptr;
    }
    static std::vector<int16_t>* pcm_;
};
std::vector<int16_t>* RenderedSong::pcm_ = nullptr;

TEST_F(RenderedSong, NoSilenceLongerThanASecond) {
    ASSERT_NE(pcm_, nullptr);
    // Quiet means below -54 dB of full scale on both sides.
    constexpr int kQuiet = 64;
    int run = 0, longest = 0;
    for (size_t i = 0; i < pcm_->size(); i += 2) {
        const int level = std::max(std::abs((*pcm_)[i]), std::abs((*pcm_)[i + 1]));
        run = level < kQuiet ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    EXPECT_LT(longest, kRate) << "silent for " << longest << " frames";
}

TEST_F(RenderedSong, LoudButNotClipping) {
    ASSERT_NE(pcm_, nullptr);
    size_t clipped = 0;
    double sum = 0;
    int peak = 0;
    for (int16_t v : *pcm_) {
        clipped += v >= 32767 || v <= -32768;
        sum += static_cast<double>(v) * v;
        peak = std::max(peak, std::abs(static_cast<int>(v)));
    }
    const double rms = std::sqrt(sum / static_cast<double>(pcm_->size()));
    const double rmsDb = 20.0 * std::log10(rms / 32768.0);
    RecordProperty("rms_dbfs", std::to_string(rmsDb));
    RecordProperty("peak", peak);
    EXPECT_LT(static_cast<double>(clipped), 1e-4 * static_cast<double>(pcm_->size()));
    EXPECT_GT(rmsDb, -24.0);
    EXPECT_LT(rmsDb, -8.0);
}

// Each second carries sound on both sides: nothing is panned away for good.
TEST_F(RenderedSong, BothSidesPlayThroughout) {
    ASSERT_NE(pcm_, nullptr);
    for (size_t second = 0; second + 1 < pcm_->size() / (2 * kRate); ++second) {
        double left = 0, right = 0;
        for (size_t i = second * 2 * kRate; i < (second + 1) * 2 * kRate; i += 2) {
            left += std::abs((*pcm_)[i]);
            right += std::abs((*pcm_)[i + 1]);
        }
        EXPECT_GT(left / kRate, 200.0) << "second " << second;
        EXPECT_GT(right / kRate, 200.0) << "second " << second;
    }
}

} // namespace
