// Offline rendering, whose blocks the soak test holds equal to the ring's.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "player/format/module.h"
#include "player/format/song.h"
#include "tests/common/test_util.h"
#include "tools/render/render.h"

namespace {

// Each instance keeps to its own state: two songs rendered at once on two
// threads give the bytes each gives alone (also under ThreadSanitizer), and a
// song rendered again starts again.
TEST(OfflineRender, TwoInstancesOnTwoThreadsPlayIndependently) {
    std::vector<uint8_t> faster(EmbeddedSong, EmbeddedSong + EmbeddedSongSize);
    faster[78] = 211; // the header's BPM
    Module* songs[2] = {LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize),
                        LoadModuleFromMemory(faster.data(), faster.size())};
    ASSERT_NE(songs[0], nullptr);
    ASSERT_NE(songs[1], nullptr);
    const int64_t frames = 3 * 44100;
    const std::vector<int16_t> alone[2] = {RenderModule(songs[0], 44100, frames),
                                           RenderModule(songs[1], 22050, frames)};
    EXPECT_NE(alone[0], alone[1]);
    // The ring's first two seconds as the player rendered them before it
    // became an instance: the demo's sound must not change by a bit.
    EXPECT_EQ(testutil::Fnv1a(alone[0].data(), 88400 * 4), 0x90602c2d7d937411u);
    std::vector<int16_t> together[2];
    std::thread other([&] { together[1] = RenderModule(songs[1], 22050, frames); });
    together[0] = RenderModule(songs[0], 44100, frames);
    other.join();
    EXPECT_EQ(together[0], alone[0]);
    EXPECT_EQ(together[1], alone[1]);
    EXPECT_TRUE(RenderModule(nullptr, 44100, 10).empty());
    FreeModule(songs[0]);
    FreeModule(songs[1]);
}

} // namespace
