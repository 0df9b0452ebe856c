// The audio output. The looping ring on the virtual device: which blocks the
// mixing thread renders for each play position, how stopping meets a block in
// progress, and what the thread does when the device misbehaves or the thread
// never answers. The SDL wave output on SDL's drivers that need no sound
// hardware, and a 32-bit device position carried on across its wraps. Offline
// rendering, whose blocks the soak test holds equal to the ring's.
#include <gtest/gtest.h>

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/fake/virtual_wave.h"
#include "platform/wave_output.h"
#include "platform/wave_position.h"
#include "player/playback.h"
#include "player/format/module.h"
#include "player/player.h"
#include "player/format/song.h"
#include "player/format/stream.h"
#include "tests/common/test_util.h"
#include "tools/render/render.h"

namespace {

// The tick routine of the test song: one tick per block, and a record of the
// block each tick starts. It can be held inside a block to stand for a slow render.
std::mutex g_lock;
std::condition_variable g_changed;
std::vector<int> g_blocks;
bool g_holdNext = false;
bool g_held = false;
bool g_release = false;

void RecordingTick(ReplayState& player) {
    player.song.samplesPerTick = g_blockLength;
    std::unique_lock<std::mutex> lock(g_lock);
    g_blocks.push_back(WriteIndex());
    if (g_holdNext) {
        g_holdNext = false;
        g_held = true;
        g_changed.notify_all();
        g_changed.wait_for(lock, std::chrono::seconds(10), [] { return g_release; });
    }
}

std::vector<int> TakeBlocks() {
    std::lock_guard<std::mutex> lock(g_lock);
    std::vector<int> blocks;
    blocks.swap(g_blocks);
    return blocks;
}

// Releases a block held by RecordingTick.
void ReleaseHeldBlock() {
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_release = true;
    }
    g_changed.notify_all();
}

// Position queries over a stretch of real time: a thread that waits between
// looks makes a few dozen at most, one that spins makes thousands.
uint64_t PollsDuring(const platform::VirtualWaveOutput& device, int milliseconds) {
    const uint64_t before = device.Polls();
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return device.Polls() - before;
}

// Blocks from up to to, then the blocks of then.
std::vector<int> Range(int from, int to, const std::vector<int>& then = {}) {
    std::vector<int> r(size_t(to - from));
    std::iota(r.begin(), r.end(), from);
    r.insert(r.end(), then.begin(), then.end());
    return r;
}

class RingTest : public ::testing::Test {
protected:
    platform::VirtualWaveOutput device;
    Module song{};
    Player player{};

    void SetUp() override {
        SetStreamCallbacks(SongOpen, SongClose, SongRead, SongSeek, SongTell);
        song.channelCount = 2;
        song.defaultTempo = 6;
        song.defaultBpm = 125;
        song.initialGlobalVolume = 64;
        player.tickRoutine = RecordingTick;
        TakeBlocks();
        g_holdNext = g_held = g_release = false;
        ASSERT_TRUE(OpenAudioDevice(44100));
    }
    void TearDown() override {
        StopPlayback(&player);
        CloseAudioDevice();
    }

    // Moves the device to a block and waits until the thread has finished a
    // whole pass that saw it; returns the blocks that pass rendered.
    std::vector<int> PlayAtByte(uint64_t bytes) {
        device.SetBytesPlayed(bytes);
        EXPECT_TRUE(device.WaitForPolls(2));
        return TakeBlocks();
    }
    std::vector<int> PlayAt(int block) { return PlayAtByte(uint64_t(block) * g_blockLength * 4); }
    // Holds the thread inside the block it renders once block 3 is due.
    bool HoldABlock() {
        {
            std::lock_guard<std::mutex> lock(g_lock);
            g_holdNext = true;
        }
        device.SetBytesPlayed(uint64_t(3) * g_blockLength * 4);
        std::unique_lock<std::mutex> lock(g_lock);
        return g_changed.wait_for(lock, std::chrono::seconds(5), [] { return g_held; });
    }
};

// After the whole ring is pre-rendered, each position of the device renders
// the blocks from the write position up to the block playing, across the end
// of the ring; behind across the end it waits until the play position passes.
TEST_F(RingTest, RendersTheBlocksThePlayPositionHasFreed) {
    constexpr int kRestart = -1;
    const struct {
        const char* name;
        std::vector<std::pair<int, std::vector<int>>> blocksThenRendered;
    } cases[] = {
        {"from the start", {{0, {}}, {1, {0}}}},
        // Position counts on across loops: one ring and two blocks later is block 2.
        {"across the end",
         {{1, {0}},
          {99, Range(1, 99)},
          {1, {99, 0}},
          {50, Range(1, 50)},
          {0, Range(50, 100)},
          {0, {}},
          {102, Range(0, 2)}}},
        {"behind across the end", {{60, Range(0, 60)}, {30, {}}, {2, {}}, {70, Range(60, 70)}}},
        {"restarted", {{5, Range(0, 5)}, {kRestart, Range(0, 100)}, {0, {}}}},
    };
    EXPECT_EQ(g_blockLength, 884);
    EXPECT_EQ(g_ringLength, 88400);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(StartPlayback(&player, &song));
        EXPECT_EQ(TakeBlocks(), Range(0, 100));
        EXPECT_TRUE(device.playing.load());
        EXPECT_EQ(device.buffer.load(), OutputRing());
        EXPECT_EQ(device.bufferBytes.load(), 353600u);
        for (const auto& [block, rendered] : c.blocksThenRendered) {
            if (block == kRestart) {
                ASSERT_TRUE(StartPlayback(&player, &song));
                EXPECT_EQ(TakeBlocks(), rendered);
            } else {
                EXPECT_EQ(PlayAt(block), rendered) << "at block " << block;
            }
        }
        StopPlayback(&player);
    }
    ASSERT_TRUE(OpenAudioDevice(22050));
    EXPECT_EQ(g_blockLength, 444);
    EXPECT_EQ(g_ringLength / g_blockLength, 100);
    EXPECT_EQ(device.rate.load(), 22050);
}

// The ramp the caller chose survives the start (tinsel-play --ramp off).
TEST_F(RingTest, PlaybackKeepsTheRampTheCallerChose) {
    for (const Ramp ramp : {Ramp::Off, Ramp::Rules}) {
        SetRamp(player, ramp);
        ASSERT_TRUE(StartPlayback(&player, &song));
        EXPECT_EQ(player.rampLength, ramp == Ramp::Off ? 0 : RampLengthForRate(44100));
        StopPlayback(&player);
    }
}

// Missing pieces are refused; with nothing playing, stop returns at once.
TEST_F(RingTest, RefusesMissingPiecesAndStopsAtOnceWithNothingPlaying) {
    EXPECT_FALSE(StopPlayback(nullptr));
    EXPECT_FALSE(StartPlayback(nullptr, &song));
    EXPECT_FALSE(StartPlayback(&player, nullptr));
    auto stopped = std::async(std::launch::async, [&] { return StopPlayback(&player); });
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(stopped.get());
    CloseAudioDevice();
    const int resets = device.resets.load();
    SetStreamCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_FALSE(OpenAudioDevice(44100));
    EXPECT_FALSE(device.open.load());
    SetStreamCallbacks(SongOpen, SongClose, SongRead, SongSeek, SongTell);
    device.refuseOpen = true;
    EXPECT_FALSE(OpenAudioDevice(44100));
    CloseAudioDevice(); // harmless on a device that never opened
    EXPECT_EQ(device.resets.load(), resets);
}

TEST_F(RingTest, StopWaitsForTheBlockBeingRendered) {
    ASSERT_TRUE(StartPlayback(&player, &song));
    TakeBlocks();
    ASSERT_TRUE(HoldABlock());
    EXPECT_TRUE(MixingBusy());
    auto stopped = std::async(std::launch::async, [&] { return StopPlayback(&player); });
    EXPECT_EQ(stopped.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    ReleaseHeldBlock();
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(stopped.get());
    EXPECT_FALSE(MixingBusy());
    // The pass that had begun completed: blocks 0 to 2, then nothing more.
    EXPECT_EQ(TakeBlocks(), Range(0, 3));
    EXPECT_EQ(WriteIndex(), 3);
    // The device goes on looping the ring until it is closed.
    EXPECT_TRUE(device.playing.load());
    CloseAudioDevice();
    EXPECT_FALSE(device.playing.load());
    EXPECT_FALSE(device.open.load());
}

TEST_F(RingTest, ControlRunsOnTheMixingThreadAndRerendersEverythingAhead) {
    EXPECT_FALSE(ControlPlayback([](Player&) {}, false));
    ASSERT_TRUE(StartPlayback(&player, &song));
    EXPECT_EQ(PlayAt(5).size(), 105u);
    std::thread::id ranOn;
    ASSERT_TRUE(ControlPlayback([&](Player&) { ranOn = std::this_thread::get_id(); }, false));
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(TakeBlocks().empty());
    // Every block but the one playing, from the next one round to it.
    ASSERT_TRUE(ControlPlayback([](Player&) {}, true));
    EXPECT_EQ(TakeBlocks(), Range(6, 100, Range(0, 5)));
    EXPECT_EQ(WriteIndex(), 5);
}

TEST_F(RingTest, ADeviceThatRefillsFromItsCallbackGetsNoThread) {
    device.takesRefill = true;
    ASSERT_TRUE(StartPlayback(&player, &song));
    EXPECT_EQ(TakeBlocks(), Range(0, 100));
    const platform::WaveOutput::Refill refill = device.refill.load();
    ASSERT_NE(refill, nullptr);
    // No thread polls the device: a thread would have looked several times by now.
    device.SetBytesPlayed(uint64_t(5) * g_blockLength * 4);
    EXPECT_EQ(PollsDuring(device, 50), 0u);
    EXPECT_TRUE(TakeBlocks().empty());
    // The device's calls render what it has played, across the end of the ring.
    EXPECT_EQ(refill(), 5);
    int rendered = 0;
    for (int block = 6; block <= 102; ++block) {
        device.SetBytesPlayed(uint64_t(block) * g_blockLength * 4);
        rendered += refill();
    }
    EXPECT_EQ(rendered, 97);
    EXPECT_EQ(TakeBlocks(), Range(0, 100, {0, 1}));
    StopPlayback(&player);
    EXPECT_EQ(device.refill.load(), nullptr);
}

double SecondsToStop(Player& player, bool& stopped) {
    const auto start = std::chrono::steady_clock::now();
    stopped = StopPlayback(&player);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(RingTest, MisbehavingPositionsNeitherSpinNorStall) {
    const uint64_t block = uint64_t(g_blockLength) * 4;
    // 2^32 frames on, well past where a 32-bit frame count would wrap, and
    // into block 70 of the ring.
    const uint64_t farFrames = (((uint64_t(1) << 32) / 88400) + 1) * 88400 + 70 * 884 + 10;
    const struct {
        const char* name;
        uint64_t bytes;
        std::vector<int> rendered;
        uint64_t thenBytes; // where the device goes next
        std::vector<int> thenRendered;
    } cases[] = {
        {"stalled", 50 * block, {}, 50 * block, {}},
        {"backwards", 10 * block, {}, 55 * block, Range(50, 55)},
        {"far ahead", farFrames * 4, Range(50, 70), farFrames * 4 + 5 * block, Range(70, 75)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(StartPlayback(&player, &song));
        TakeBlocks();
        EXPECT_EQ(PlayAt(50), Range(0, 50));
        EXPECT_EQ(PlayAtByte(c.bytes), c.rendered);
        const uint64_t polls = PollsDuring(device, 200);
        EXPECT_GE(polls, 2u);
        EXPECT_LE(polls, 60u);
        EXPECT_EQ(PlayAtByte(c.thenBytes), c.thenRendered);
        bool stopped = false;
        EXPECT_LT(SecondsToStop(player, stopped), 1.0);
        EXPECT_TRUE(stopped);
    }
}

TEST_F(RingTest, ALostDeviceIsFollowedNoMoreAndLoopsSilence) {
    ASSERT_TRUE(StartPlayback(&player, &song));
    TakeBlocks();
    EXPECT_EQ(PlayAt(50), Range(0, 50));
    device.lost = true;
    device.SetBytesPlayed(uint64_t(80) * g_blockLength * 4);
    // Two waits of the thread after the loss: it has seen it.
    const uint64_t seen = device.idles.load() + 2;
    ASSERT_TRUE(testutil::WaitUntil([&] { return device.idles.load() >= seen; }));
    EXPECT_TRUE(TakeBlocks().empty());
    const int16_t* ring = OutputRing();
    EXPECT_TRUE(std::all_of(ring, ring + size_t(g_ringLength) * 2, [](int16_t s) { return s == 0; }));
    // It waits about 50 ms between looks from now on.
    const uint64_t before = device.idles.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LE(device.idles.load() - before, 12u);
    bool stopped = false;
    EXPECT_LT(SecondsToStop(player, stopped), 1.0);
    EXPECT_TRUE(stopped);
}

platform::Thread* NoThread(platform::ThreadEntry, void*, bool) {
    return nullptr;
}

TEST_F(RingTest, PlaybackFailsWhenTheThreadCannotStartAndTheDeviceFallsSilent) {
    SetMixingThreadStarter(NoThread);
    EXPECT_FALSE(StartPlayback(&player, &song));
    SetMixingThreadStarter(nullptr);
    // Not left looping the two seconds rendered before the thread was asked for.
    EXPECT_FALSE(device.playing.load());
    EXPECT_EQ(device.buffer.load(), nullptr);
    EXPECT_TRUE(StopPlayback(&player));
    ASSERT_TRUE(StartPlayback(&player, &song));
    TakeBlocks();
    EXPECT_TRUE(device.playing.load());
    EXPECT_EQ(PlayAt(2), Range(0, 2));
}

TEST_F(RingTest, StopGivesUpOnAThreadThatNeverAnswers) {
    // The thread is held inside a block, or inside the device's position query.
    std::atomic<bool> hangInDevice{false}, inDevice{false};
    device.onPoll = [&](platform::VirtualWaveOutput&) {
        while (hangInDevice.load()) {
            inDevice = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    for (const bool inBlock : {true, false}) {
        SCOPED_TRACE(inBlock ? "in a block" : "in the device");
        g_held = g_release = false;
        ASSERT_TRUE(StartPlayback(&player, &song));
        TakeBlocks();
        if (inBlock) {
            ASSERT_TRUE(HoldABlock());
        } else {
            hangInDevice = true;
            ASSERT_TRUE(testutil::WaitUntil([&] { return inDevice.load(); }));
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(StopPlayback(&player, 200));
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
        // Nothing the thread may still touch has gone.
        EXPECT_NE(OutputRing(), nullptr);
        ReleaseHeldBlock();
        hangInDevice = false;
        EXPECT_TRUE(StopPlayback(&player));
    }
}

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

// Each instance keeps to its own state: two songs, or one song twice, rendered
// at once on two threads give the bytes each gives alone (also under
// ThreadSanitizer), and a song rendered again starts again.
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
    // One loaded song played by two instances at once: the song is only read.
    const std::vector<int16_t> sharedAlone = RenderModule(songs[0], 22050, frames);
    std::vector<int16_t> shared[2];
    std::thread sharing([&] { shared[1] = RenderModule(songs[0], 22050, frames); });
    shared[0] = RenderModule(songs[0], 44100, frames);
    sharing.join();
    EXPECT_EQ(shared[0], alone[0]);
    EXPECT_EQ(shared[1], sharedAlone);
    EXPECT_TRUE(RenderModule(nullptr, 44100, 10).empty());
    FreeModule(songs[0]);
    FreeModule(songs[1]);
}

} // namespace
