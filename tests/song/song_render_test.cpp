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

// No silence longer than a second (quiet: below -54 dB of full scale on both sides), loud but not
// clipping, and each second carries sound on both sides: nothing is panned away for good.
TEST(RenderedSong, NeverSilentNeverClippingBothSidesThroughout) {
    SetStreamCallbacks(SongOpen, SongClose, SongRead, SongSeek, SongTell);
    ModulePtr module(LoadModule("#101"));
    ASSERT_NE(module, nullptr);
    const std::vector<int16_t> pcm = RenderSong(module.get(), 80 * kRate);
    constexpr int kQuiet = 64;
    int run = 0, longest = 0, peak = 0;
    size_t clipped = 0;
    double sum = 0, left = 0, right = 0;
    for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
        const int l = std::abs(int(pcm[i])), r = std::abs(int(pcm[i + 1]));
        run = std::max(l, r) < kQuiet ? run + 1 : 0;
        longest = std::max(longest, run);
        peak = std::max({peak, l, r});
        clipped += (l >= 32767) + (r >= 32767);
        sum += double(l) * l + double(r) * r;
        left += l;
        right += r;
        if ((i / 2 + 1) % kRate == 0) {
            EXPECT_GT(left / kRate, 200.0) << "left, second " << i / 2 / kRate;
            EXPECT_GT(right / kRate, 200.0) << "right, second " << i / 2 / kRate;
            left = right = 0;
        }
    }
    EXPECT_LT(longest, kRate) << "silent for " << longest << " frames";
    const double rmsDb = 20.0 * std::log10(std::sqrt(sum / double(pcm.size())) / 32768.0);
    RecordProperty("rms_dbfs", std::to_string(rmsDb));
    RecordProperty("peak", peak);
    EXPECT_LT(double(clipped), 1e-4 * double(pcm.size()));
    EXPECT_GT(rmsDb, -24.0);
    EXPECT_LT(rmsDb, -8.0);
}

} // namespace
