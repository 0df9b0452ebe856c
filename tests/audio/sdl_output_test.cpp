// The SDL wave output on SDL's drivers that need no sound hardware, and a
// 32-bit device position carried on across its wraps.
#include <gtest/gtest.h>

#include <SDL.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "platform/wave_output.h"
#include "platform/wave_position.h"
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

constexpr uint64_t k4G = uint64_t(1) << 32;

TEST(WrappedPosition, ExtendsEachReadingToTheNearestPosition) {
    struct Case {
        uint64_t previous;
        uint32_t raw;
        uint64_t expected;
    } cases[] = {
        {0, 0, 0},
        {0, 1764, 1764},
        {1000, 1000, 1000},                            // stalled
        {k4G - 16, 0xFFFFFFF8u, k4G - 8},              // just before the wrap
        {k4G - 16, 0, k4G},                            // onto the wrap
        {k4G - 16, 48, k4G + 48},                      // across it
        {5 * k4G + 7, 9, 5 * k4G + 9},                 // many wraps on
        {k4G + 100, 40, k4G + 40},                     // a small step back
        {k4G + 8, 0xFFFFFFF0u, k4G - 16},              // back across the wrap
        {3, 0xFFFFFFFFu, 0},                           // back before the start
        {k4G, 0x7FFFFFFFu, k4G + 0x7FFFFFFFu},         // the largest step ahead
        {2 * k4G, 0x80000000u, 2 * k4G - 0x80000000u}, // beyond that it reads as a step back
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::ExtendWrappedPosition(c.previous, c.raw), c.expected)
            << "previous " << c.previous << " raw " << c.raw;
}

// Followed in steps of 1.5 GiB, a counter is carried across three wraps; a restart counts from 0.
TEST(WrappedPosition, FollowsACounterAcrossItsWrapsUntilRestarted) {
    platform::WrappedPosition position;
    for (uint64_t at = 0x60000000u; at < 5 * k4G; at += 0x60000000u)
        ASSERT_EQ(position.Update(uint32_t(at)), at);
    position.Restart();
    EXPECT_EQ(position.Update(4), 4u);
}

} // namespace
