// One playback per process: a ring of about two seconds cut into 20 ms blocks,
// handed to the device once as a looping buffer, and a mixing thread that
// re-renders each block soon after the device has played it.
#include "player/audio_output.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/thread.h"
#include "platform/wave_output.h"
#include "player/mixer.h"
#include "player/module.h"
#include "player/replay.h"
#include "player/stream.h"
#include "player/track_channel.h"

int32_t g_mixingRate = 44100;
int32_t g_blockLength = 0;
int32_t g_ringLength = 0;

namespace {

constexpr int32_t kBufferLengthMs = 1000;
constexpr int32_t kBlockMs = 20;

bool g_deviceOpen = false;
int16_t* g_outputRing = nullptr;
int32_t g_outputRingFrames = 0;
float* g_mixBuffer = nullptr;
void* g_mixBufferRaw = nullptr;
int32_t g_writeIndex = 0;
Module* g_currentModule = nullptr;
bool g_prepared = false;
// Each flag has one writer; the other side polls it afresh every time.
std::atomic<bool> g_stop{false};
std::atomic<bool> g_busy{false};
std::atomic<bool> g_exit{true};
platform::Thread* g_thread = nullptr;
bool g_offline = false;

int32_t BlockCount() {
    return g_blockLength > 0 ? g_ringLength / g_blockLength : 0;
}

void SizeBlocks(int32_t rate) {
    g_mixingRate = rate;
    g_blockLength = ((rate * kBlockMs / 1000 + 3) / 4) * 4;
    g_ringLength = (kBufferLengthMs / kBlockMs) * g_blockLength * 2;
    rampLength = rate * 128 / 44100;
    if (rampLength < 1)
        rampLength = 1; // a very low rate still ramps, over one frame
    rampReciprocal = 1.0f / static_cast<float>(rampLength);
    std::memset(VoicePool, 0, sizeof VoicePool);
    for (int i = 0; i < kVoiceCount; ++i) {
        VoicePool[i].number = i;
        VoicePool[i].stepInt = 1;
    }
}

void ReleaseMixBuffer() {
    std::free(g_mixBufferRaw);
    g_mixBufferRaw = nullptr;
    g_mixBuffer = nullptr;
}

// The device must have stopped using the ring before it goes.
void ReleaseOutputRing() {
    delete[] g_outputRing;
    g_outputRing = nullptr;
    g_outputRingFrames = 0;
}

// Resets the song and allocates both buffers; false when memory runs out.
bool PreparePlayback(Module* module) {
    module->globalVolume = module->initialGlobalVolume;
    module->nextRow = -1;
    module->nextOrder = -1;
    module->speed = module->defaultTempo;
    module->row = 0;
    module->orderIndex = 0;
    module->samplesLeft = 0;
    module->tick = 0;
    module->patternDelay = 0;
    SetBpm(module, module->defaultBpm);
    const int channels = module->channelCount < kMaxChannels ? module->channelCount : kMaxChannels;
    for (int i = 0; i < channels; ++i) {
        TrackChannels[i] = TrackChannel{};
        TrackChannels[i].voice = &VoicePool[i];
        TrackChannels[i].index = i;
    }
    g_currentModule = module;

    if (g_outputRingFrames != g_ringLength) {
        // An earlier ring may still be looping on the device: stop it first.
        if (g_outputRing != nullptr && g_deviceOpen)
            platform::CurrentWaveOutput().Reset();
        ReleaseOutputRing();
        g_outputRing = new (std::nothrow) int16_t[static_cast<size_t>(g_ringLength) * 2]();
        if (g_outputRing == nullptr)
            return false;
        g_outputRingFrames = g_ringLength;
    } else {
        std::memset(g_outputRing, 0, static_cast<size_t>(g_ringLength) * 4);
    }

    const size_t mixBytes = static_cast<size_t>(g_ringLength) * 2 * sizeof(float);
    g_mixBufferRaw = std::calloc(1, mixBytes + 256);
    if (g_mixBufferRaw == nullptr)
        return false;
    const uintptr_t raw = reinterpret_cast<uintptr_t>(g_mixBufferRaw);
    g_mixBuffer = reinterpret_cast<float*>((raw + 15) & ~static_cast<uintptr_t>(15));
    g_writeIndex = 0;
    return true;
}

} // namespace

bool OpenAudioDevice(int32_t rate) {
    if (!StreamCallbacksComplete())
        return false;
    CloseAudioDevice();
    g_mixingRate = rate;
    if (rate <= 0 || !platform::CurrentWaveOutput().Open(rate))
        return false;
    g_deviceOpen = true;
    SizeBlocks(rate);
    return true;
}

void CloseAudioDevice() {
    if (!g_deviceOpen)
        return;
    platform::WaveOutput& device = platform::CurrentWaveOutput();
    device.Reset();
    device.Close();
    g_deviceOpen = false;
    g_prepared = false;
    // Only now has the device let go of the ring it was looping.
    if (g_currentModule == nullptr)
        ReleaseOutputRing();
}

bool StartPlayback(Module* module) {
    if (module == nullptr)
        return false;
    StopPlayback(module);
    if (!g_deviceOpen || g_blockLength <= 0)
        return true; // nothing to play on; the song stays silent
    if (!PreparePlayback(module)) {
        ReleaseMixBuffer();
        g_currentModule = nullptr;
        return false;
    }
    platform::WaveOutput& device = platform::CurrentWaveOutput();
    device.Prepare(g_outputRing, static_cast<uint32_t>(g_ringLength) * 4);
    g_prepared = true;

    do {
        MixBlock();
    } while (g_writeIndex != 0);

    device.Play();
    g_stop.store(false, std::memory_order_release);
    // Cleared here as well as by the thread, so a stop that comes before the
    // thread has run still waits for it.
    g_exit.store(false, std::memory_order_release);
    g_thread = platform::CreateThread(MixingThread, nullptr, true);
    if (g_thread == nullptr)
        g_exit.store(true, std::memory_order_release);
    return true;
}

void MixBlock() {
    Module* module = g_currentModule;
    const int32_t base = g_writeIndex * g_blockLength;
    float* destination = g_mixBuffer + static_cast<size_t>(base) * 2;
    std::memset(destination, 0, static_cast<size_t>(g_blockLength) * 2 * sizeof(float));
    int32_t left = module->samplesLeft;
    int32_t done = 0;
    while (done < g_blockLength) {
        if (left == 0) {
            module->tickRoutine(module);
            left = module->samplesPerTick;
            if (left <= 0)
                left = g_blockLength - done; // a broken tempo must not spin forever
        }
        int32_t n = left;
        if (n > g_blockLength - done)
            n = g_blockLength - done;
        MixVoices(destination, n);
        done += n;
        left -= n;
        destination += static_cast<size_t>(n) * 2;
    }
    module->samplesLeft = left;
    ConvertToPcm16(g_outputRing + static_cast<size_t>(base) * 2, g_mixBuffer + static_cast<size_t>(base) * 2,
                   g_blockLength);
    if (++g_writeIndex >= BlockCount())
        g_writeIndex = 0;
}

uint32_t MixingThread(void*) {
    g_exit.store(false, std::memory_order_release);
    platform::WaveOutput& device = platform::CurrentWaveOutput();
    while (!g_stop.load(std::memory_order_acquire)) {
        const uint32_t framesPlayed = static_cast<uint32_t>(device.BytesPlayed() >> 2);
        const int32_t playing =
            static_cast<int32_t>(framesPlayed % static_cast<uint32_t>(g_ringLength)) / g_blockLength;
        while (g_writeIndex != playing && (g_writeIndex < playing || playing == 0 || playing == 1)) {
            g_busy.store(true, std::memory_order_release);
            MixBlock();
            g_busy.store(false, std::memory_order_release);
        }
        platform::SleepMs(5);
    }
    g_exit.store(true, std::memory_order_release);
    return 0;
}

bool StopPlayback(Module* module) {
    if (module == nullptr)
        return false;
    g_stop.store(true, std::memory_order_release);
    while (g_busy.load(std::memory_order_acquire)) {
    }
    if (g_thread != nullptr) {
        while (!g_exit.load(std::memory_order_acquire))
            platform::SleepMs(50);
        platform::ReleaseThread(g_thread);
        g_thread = nullptr;
    }
    ReleaseMixBuffer();
    if (g_prepared) {
        platform::CurrentWaveOutput().Unprepare();
        g_prepared = false;
    }
    g_currentModule = nullptr;
    return true;
}

bool MixingBusy() {
    return g_busy.load(std::memory_order_acquire);
}

int32_t WriteIndex() {
    return g_writeIndex;
}

const int16_t* OutputRing() {
    return g_outputRing;
}

bool BeginOfflineRender(Module* module, int32_t rate) {
    if (module == nullptr || rate <= 0 || g_deviceOpen || g_currentModule != nullptr)
        return false;
    SizeBlocks(rate);
    if (!PreparePlayback(module)) {
        EndOfflineRender();
        return false;
    }
    g_offline = true;
    return true;
}

const int16_t* RenderNextBlock() {
    if (!g_offline)
        return nullptr;
    const int16_t* block = g_outputRing + static_cast<size_t>(g_writeIndex) * g_blockLength * 2;
    MixBlock();
    return block;
}

void EndOfflineRender() {
    ReleaseMixBuffer();
    ReleaseOutputRing();
    g_currentModule = nullptr;
    g_offline = false;
}
