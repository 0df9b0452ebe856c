// Loads arbitrary bytes as a song through the stream callbacks and, when they
// load, plays a few hundred ticks and mixes them, as the block renderer does.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "player/audio_output.h"
#include "player/mixer.h"
#include "player/module.h"
#include "player/replay.h"
#include "player/song.h"
#include "player/stream.h"

namespace {

const uint8_t* g_data = nullptr;
int32_t g_size = 0;
int32_t g_pos = 0;

StreamHandle Open(const char*) {
    g_pos = 0;
    return 1;
}
void Close(StreamHandle) {}
int32_t Read(void* destination, int32_t count, StreamHandle) {
    const int32_t n = count < g_size - g_pos ? count : g_size - g_pos;
    if (n <= 0) {
        return 0;
    }
    std::memcpy(destination, g_data + g_pos, static_cast<size_t>(n));
    g_pos += n;
    return n;
}
void Seek(StreamHandle, int32_t offset, int32_t origin) {
    int64_t p = g_pos;
    switch (static_cast<int8_t>(origin & 0xFF)) {
    case 0:
        p = offset;
        break;
    case 1:
        p += offset;
        break;
    case 2:
        p = static_cast<int64_t>(g_size) + offset;
        break;
    default:
        break;
    }
    g_pos = static_cast<int32_t>(p < 0 ? 0 : (p > g_size ? g_size : p));
}
int32_t Tell(StreamHandle) {
    return g_pos;
}

constexpr int kTicks = 300;
constexpr int32_t kBlockFrames = 884;
// Frames mixed per tick at most: enough for every boundary kind, bounded time per input.
constexpr int32_t kFramesPerTick = 192;

void Start(Module* m) {
    m->globalVolume = m->initialGlobalVolume;
    m->nextRow = m->nextOrder = -1;
    m->speed = m->defaultTempo;
    m->row = m->orderIndex = m->samplesLeft = m->tick = m->patternDelay = 0;
    SetBpm(m, m->defaultBpm);
    for (int i = 0; i < kMaxChannels; ++i) {
        TrackChannels[i] = TrackChannel{};
        TrackChannels[i].voice = &VoicePool[i];
        TrackChannels[i].index = i;
    }
}

void PlayAndMix(Module* m) {
    for (int i = 0; i < kVoiceCount; ++i) {
        VoicePool[i] = MixVoice{};
        VoicePool[i].number = i;
        VoicePool[i].stepInt = 1;
    }
    Start(m);
    static std::vector<float> mix(2 * kBlockFrames);
    static std::vector<int16_t> pcm(2 * kBlockFrames);
    int32_t done = 0;
    for (int t = 0; t < kTicks; ++t) {
        m->tickRoutine(m);
        int32_t left = m->samplesPerTick < kFramesPerTick ? m->samplesPerTick : kFramesPerTick;
        while (left > 0) {
            if (done == kBlockFrames) {
                ConvertToPcm16(pcm.data(), mix.data(), kBlockFrames);
                std::fill(mix.begin(), mix.end(), 0.0f);
                done = 0;
            }
            const int32_t n = left < kBlockFrames - done ? left : kBlockFrames - done;
            MixVoices(mix.data() + 2 * done, n);
            done += n;
            left -= n;
        }
    }
    ConvertToPcm16(pcm.data(), mix.data(), done);
}

void LoadAndPlay(const uint8_t* data, size_t size) {
    g_data = data;
    g_size = static_cast<int32_t>(size);
    Module* m = LoadModule("#101");
    if (m != nullptr) {
        PlayAndMix(m);
        FreeModule(m);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) {
        return 0;
    }
    g_mixingRate = 44100;
    SetStreamCallbacks(Open, Close, Read, Seek, Tell);
    LoadAndPlay(data, size);
    // The same bytes behind a correct identification, so the fuzzer reaches
    // the header, patterns and instruments without first guessing it.
    static const char kId[] = "Extended Module: ";
    if (size > 17 && std::memcmp(data, kId, 17) != 0) {
        std::vector<uint8_t> patched(data, data + size);
        std::memcpy(patched.data(), kId, 17);
        LoadAndPlay(patched.data(), patched.size());
    }
    // The program's own song with the input written over it at an offset the
    // input chooses: damage deep inside patterns, instruments and samples.
    if (size > 3) {
        std::vector<uint8_t> song(EmbeddedSong, EmbeddedSong + EmbeddedSongSize);
        const size_t at = (data[0] | data[1] << 8 | data[2] << 16) % song.size();
        const size_t n = std::min(size - 3, song.size() - at);
        std::memcpy(song.data() + at, data + 3, n);
        LoadAndPlay(song.data(), song.size());
    }
    return 0;
}
