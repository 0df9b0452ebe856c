// Hours of play through the looping ring, proved offline: a virtual device
// plays on by itself in irregular steps, one step each time the mixing thread
// asks for its position, and what it played must equal an offline render of
// the same length, frame for frame.
#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/fake/virtual_wave.h"
#include "player/playback.h"
#include "player/format/module.h"
#include "player/player.h"
#include "player/format/song.h"
#include "player/format/stream.h"
#include "tools/render/render.h"

namespace {

constexpr int32_t kRate = 44100;
// A hash for each ten seconds of song, so that a difference is placed in time.
constexpr uint64_t kChunkFrames = 10 * kRate;

// Frame by frame, not byte by byte: twelve hours of song are hashed twice.
struct ChunkHasher {
    void Add(const int16_t* frames, uint64_t count) {
        for (uint64_t i = 0; i < count; ++i) {
            uint32_t frame;
            std::memcpy(&frame, frames + 2 * i, 4);
            hash = (hash ^ frame) * 0x100000001B3ull;
            if (++inChunk == kChunkFrames) {
                hashes.push_back(hash);
                hash = 0xCBF29CE484222325ull;
                inChunk = 0;
            }
        }
    }
    std::vector<uint64_t> hashes;
    uint64_t hash = 0xCBF29CE484222325ull, inChunk = 0;
};

// Song time to play: 12 hours, or TINSEL_SOAK_HOURS for a shorter look.
uint64_t SoakFrames() {
    double hours = 12.0;
    if (const char* text = std::getenv("TINSEL_SOAK_HOURS"))
        hours = std::atof(text);
    return uint64_t(hours * 3600.0) * kRate / kChunkFrames * kChunkFrames;
}

// How far a real device gets between two looks: mostly one or two 1024-frame
// callbacks or a few milliseconds' worth at odd frame counts, sometimes
// nothing, now and then a stall made up at once. A step never ends further
// past the ring's end than block 1: past that the ring's own rule leaves
// the thread waiting a whole ring, as it would on a real device.
uint64_t NextStep(uint64_t position, uint32_t& random) {
    random ^= random << 13;
    random ^= random >> 17;
    random ^= random << 5;
    const uint32_t r = random;
    const uint64_t kinds[10] = {
        0, 20 * uint64_t(g_blockLength) + r % 30000, 2048, 2048, 2048, 1024, 1024, 1024, 1024, 1024};
    const uint64_t step = r % 16 < 10 ? kinds[r % 16] : 1 + r % 1400;
    const uint64_t ring = uint64_t(g_ringLength), at = position % ring;
    const uint64_t latest = ring + 2 * uint64_t(g_blockLength) - 1; // the last frame of block 1
    return at + step > latest && at + step >= ring ? latest - at : step;
}

TEST(Soak, HoursThroughTheRingEqualTheOfflineRender) {
    const uint64_t total = SoakFrames();
    ASSERT_GT(total, 0u);

    platform::VirtualWaveOutput device;
    device.counter32 = true; // as the Windows device counts
    device.instantIdle = true;
    SetStreamCallbacks(SongOpen, SongClose, SongRead, SongSeek, SongTell);
    ASSERT_TRUE(OpenAudioDevice(kRate));
    const uint64_t ringFrames = uint64_t(g_ringLength);

    ChunkHasher played;
    uint32_t random = 0x2545F491u;
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    uint64_t polls = 0;
    device.onPoll = [&](platform::VirtualWaveOutput& d) {
        const uint64_t from = d.TrueBytesPlayed() / 4;
        if (from >= total) {
            // Played out: the device stands still until playback is stopped.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return;
        }
        ++polls;
        uint64_t step = NextStep(from, random);
        if (step > total - from)
            step = total - from;
        const int16_t* ring = static_cast<const int16_t*>(d.buffer.load());
        for (uint64_t at = from, left = step; left > 0;) {
            const uint64_t inRing = at % ringFrames;
            const uint64_t n = std::min(left, ringFrames - inRing);
            played.Add(ring + 2 * inRing, n);
            at += n;
            left -= n;
        }
        d.SetBytesPlayed((from + step) * 4);
        if (from + step == total) {
            std::lock_guard<std::mutex> guard(lock);
            done = true;
            finished.notify_all();
        }
    };

    Module* song = LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize);
    Module* reference = LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize);
    ASSERT_NE(song, nullptr);
    ASSERT_NE(reference, nullptr);
    static Player player;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(InitPlayer(player, kRate));
    ASSERT_TRUE(StartPlayback(&player, song));

    // The reference renders on this thread while the mixing thread plays.
    BlockRenderer offline;
    ASSERT_TRUE(offline.Start(reference, kRate));
    ASSERT_EQ(offline.BlockLength(), g_blockLength);
    ChunkHasher rendered;
    int restarts = 0;
    for (uint64_t frames = 0; frames < total; frames += uint64_t(g_blockLength)) {
        const int32_t order = offline.Position().order;
        rendered.Add(offline.Next(), std::min<uint64_t>(g_blockLength, total - frames));
        restarts += offline.Position().order < order ? 1 : 0;
    }
    {
        std::unique_lock<std::mutex> guard(lock);
        EXPECT_TRUE(finished.wait_for(guard, std::chrono::minutes(20), [&] { return done; }));
    }
    EXPECT_TRUE(StopPlayback(&player));
    CloseAudioDevice();
    device.onPoll = nullptr;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    ASSERT_EQ(played.hashes.size(), rendered.hashes.size());
    for (size_t i = 0; i < played.hashes.size(); ++i)
        ASSERT_EQ(played.hashes[i], rendered.hashes[i])
            << "first difference in the ten seconds from " << i * 10 << " s";
    // The song went back to its start (12 hours also take the 32-bit byte count across its wrap).
    EXPECT_GT(restarts, 0);
    std::printf("soak: %.1f h of song in %.1f s, %llu device steps, %d song restarts\n",
                double(total) / kRate / 3600, seconds, static_cast<unsigned long long>(polls), restarts);
    FreeModule(song);
    FreeModule(reference);
}

} // namespace
