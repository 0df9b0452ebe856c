// The SDL wave output on SDL's drivers that need no sound hardware.
#include <gtest/gtest.h>

#include <SDL.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "platform/wave_output.h"
#include "player/playback.h"
#include "player/format/module.h"
#include "player/player.h"
#include "player/format/song.h"
#include "player/format/stream.h"
#include "tests/common/test_util.h"

namespace {

TEST(SdlWaveOutput, LoopsTheBufferAndCountsOnAcrossLoops) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    platform::WaveOutput& output = platform::SystemWaveOutput();
    ASSERT_TRUE(output.Open(44100)) << SDL_GetError();
    // A short buffer, so the count passes its end several times within the wait.
    std::vector<int16_t> ring(2 * 4410, 0);
    output.Prepare(ring.data(), uint32_t(ring.size() * 2));
    output.Play();
    const uint64_t bytes = ring.size() * 2 * 3;
    EXPECT_TRUE(testutil::WaitUntil([&] { return output.BytesPlayed() >= bytes; }));
    const uint64_t before = output.BytesPlayed();
    EXPECT_GT(before, bytes - 1);
    output.Reset();
    const uint64_t stopped = output.BytesPlayed();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(output.BytesPlayed(), stopped);
    output.Close();
    output.Close();
}

TEST(SdlWaveOutput, PlaysTheEmbeddedSongWhileTheMixingThreadFollows) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    SetStreamCallbacks(SongOpen, SongClose, SongRead, SongSeek, SongTell);
    ASSERT_TRUE(OpenAudioDevice(44100));
    Module* song = LoadModule("#101");
    ASSERT_NE(song, nullptr);
    auto player = std::make_unique<Player>();
    ASSERT_TRUE(StartPlayback(player.get(), song));
    platform::WaveOutput& output = platform::SystemWaveOutput();
    EXPECT_TRUE(
        testutil::WaitUntil([&] { return output.BytesPlayed() >= uint64_t(g_blockLength) * 4 * 10; }));
    EXPECT_TRUE(StopPlayback(player.get()));
    EXPECT_TRUE(FreeModule(song));
    CloseAudioDevice();
}

} // namespace
