// Offline rendering: the same blocks the device would loop, and the WAV file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/fake/virtual_wave.h"
#include "player/playback.h"
#include "player/format/module.h"
#include "player/player.h"
#include "player/format/song.h"
#include "player/format/stream.h"
#include "tests/common/test_util.h"
#include "tools/render/render.h"

namespace {

Module* LoadEmbedded() {
    SetStreamCallbacks(SongOpen, SongClose, SongRead, SongSeek, SongTell);
    return LoadModule("#101");
}

TEST(OfflineRender, MatchesTheRingPlaybackPreRenders) {
    Module* song = LoadEmbedded();
    ASSERT_NE(song, nullptr);
    // Not a whole number of blocks: the last block is cut.
    const int64_t frames = 88400 - 100;
    const std::vector<int16_t> offline = RenderModule(song, 44100, frames);
    ASSERT_EQ(offline.size(), size_t(frames) * 2);

    {
        platform::VirtualWaveOutput device;
        ASSERT_TRUE(OpenAudioDevice(44100));
        Player player{};
        ASSERT_TRUE(StartPlayback(&player, song));
        EXPECT_EQ(std::memcmp(OutputRing(), offline.data(), offline.size() * 2), 0);
        // The ring's first two seconds as the player rendered them before it
        // became an instance: the demo's sound must not change by a bit.
        EXPECT_EQ(testutil::Fnv1a(OutputRing(), size_t(g_ringLength) * 4), 0x90602c2d7d937411u);
        EXPECT_TRUE(StopPlayback(&player));
        CloseAudioDevice();
    }
    // A second render from the start is the same again.
    EXPECT_EQ(RenderModule(song, 44100, frames), offline);
    EXPECT_TRUE(RenderModule(nullptr, 44100, 10).empty());
    FreeModule(song);
}

// Each instance keeps to its own state: two songs rendered at once on two
// threads give the bytes each gives alone (also under ThreadSanitizer).
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
    std::vector<int16_t> together[2];
    std::thread other([&] { together[1] = RenderModule(songs[1], 22050, frames); });
    together[0] = RenderModule(songs[0], 44100, frames);
    other.join();
    EXPECT_EQ(together[0], alone[0]);
    EXPECT_EQ(together[1], alone[1]);
    FreeModule(songs[0]);
    FreeModule(songs[1]);
}

} // namespace
