// One ring per process: about two seconds cut into 20 ms blocks, handed to the
// device once as a looping buffer, and a mixing thread that re-renders each
// block soon after the device has played it. What a block holds is the
// source's business; the ring only asks for it.
#include "player/output/audio_output.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "platform/thread.h"
#include "platform/wave_output.h"
#include "player/format/stream.h"
#include "player/mix/mixer.h"

int32_t g_mixingRate = 44100;
int32_t g_blockLength = 0;
int32_t g_ringLength = 0;

namespace {

constexpr int32_t kBufferLengthMs = 1000;
static_assert(kMaxRingBlocks == 2 * kBufferLengthMs / kMixBlockMs, "the ring holds two buffers of blocks");
constexpr uint32_t kPollMs = 5;
// A lost device is looked at less often: it will not come back.
constexpr uint32_t kLostPollMs = 50;

bool g_deviceOpen = false;
int16_t* g_outputRing = nullptr;
int32_t g_outputRingFrames = 0;
float* g_mixBuffer = nullptr;
void* g_mixBufferRaw = nullptr;
int32_t g_writeIndex = 0;
BlockSource g_source{};   // what the mixing thread renders
bool g_sourceSet = false; // the ring plays g_source
bool g_prepared = false;
// Each flag has one writer; the other side polls it afresh every time.
std::atomic<bool> g_stop{false};
std::atomic<bool> g_busy{false};
std::atomic<bool> g_exit{true};
platform::Thread* g_thread = nullptr;
bool g_refilled = false; // the device's callback refills the ring, no thread
MixingThreadStarter g_startThread = platform::CreateThread;
// A control action handed to the mixing thread, and its answer.
std::atomic<const std::function<void()>*> g_request{nullptr};
std::atomic<bool> g_requestDone{false};
bool g_rerender = false; // written before g_request is published

int32_t BlockCount() {
    return g_blockLength > 0 ? g_ringLength / g_blockLength : 0;
}

void SizeBlocks(int32_t rate) {
    g_mixingRate = rate;
    g_blockLength = BlockLengthForRate(rate);
    g_ringLength = (kBufferLengthMs / kMixBlockMs) * g_blockLength * 2;
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

// Allocates both buffers for source; false when memory runs out.
bool PrepareRing(const BlockSource& source) {
    g_source = source;
    g_sourceSet = true;

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
    if (!g_sourceSet)
        ReleaseOutputRing();
}

bool AudioDeviceReady() {
    return g_deviceOpen && g_blockLength > 0;
}

bool StartRing(const BlockSource& source) {
    if (source.render == nullptr || !AudioDeviceReady())
        return false;
    if (!PrepareRing(source)) {
        ReleaseMixBuffer();
        g_sourceSet = false;
        return false;
    }
    platform::WaveOutput& device = platform::CurrentWaveOutput();
    device.Prepare(g_outputRing, static_cast<uint32_t>(g_ringLength) * 4);
    g_prepared = true;

    do {
        MixBlock();
    } while (g_writeIndex != 0);

    g_stop.store(false, std::memory_order_release);
    // A device that refills from its own callback needs no thread.
    g_refilled = device.SetRefill(MixPlayedBlocks);
    device.Play();
    if (g_refilled)
        return true;
    // Cleared here as well as by the thread, so a stop that comes before the
    // thread has run still waits for it.
    g_exit.store(false, std::memory_order_release);
    g_thread = g_startThread(MixingThread, nullptr, true);
    if (g_thread == nullptr) {
        // Without the thread the device would loop these two seconds for ever.
        g_exit.store(true, std::memory_order_release);
        device.Reset();
        device.Unprepare();
        g_prepared = false;
        ReleaseMixBuffer();
        g_sourceSet = false;
        return false;
    }
    return true;
}

namespace {

int32_t PlayingBlock() {
    // Counted in 64 bits: 2^32 frames (27 hours) is no whole number of rings.
    const uint64_t framesPlayed = platform::CurrentWaveOutput().BytesPlayed() >> 2;
    return static_cast<int32_t>(framesPlayed % static_cast<uint64_t>(g_ringLength)) / g_blockLength;
}

// Renders every block but the one the device plays, from the next one on.
void RerenderAhead() {
    const int32_t count = BlockCount();
    const int32_t playing = PlayingBlock();
    g_writeIndex = (playing + 1) % count;
    for (int32_t k = 1; k < count; ++k) {
        MixBlock();
    }
}

void RunControlRequest() {
    const std::function<void()>* action = g_request.exchange(nullptr, std::memory_order_acq_rel);
    if (action == nullptr)
        return;
    g_busy.store(true, std::memory_order_release);
    (*action)();
    if (g_rerender)
        RerenderAhead();
    g_busy.store(false, std::memory_order_release);
    g_requestDone.store(true, std::memory_order_release);
}

} // namespace

void MixBlock() {
    const int32_t base = g_writeIndex * g_blockLength;
    g_source.render(g_source.context, g_writeIndex, g_mixBuffer + static_cast<size_t>(base) * 2,
                    g_blockLength);
    ConvertToPcm16(g_outputRing + static_cast<size_t>(base) * 2, g_mixBuffer + static_cast<size_t>(base) * 2,
                   g_blockLength);
    if (++g_writeIndex >= BlockCount())
        g_writeIndex = 0;
}

int32_t MixPlayedBlocks() {
    RunControlRequest();
    const int32_t playing = PlayingBlock();
    int32_t rendered = 0;
    while (g_writeIndex != playing && (g_writeIndex < playing || playing == 0 || playing == 1)) {
        g_busy.store(true, std::memory_order_release);
        MixBlock();
        g_busy.store(false, std::memory_order_release);
        ++rendered;
    }
    return rendered;
}

uint32_t MixingThread(void*) {
    g_exit.store(false, std::memory_order_release);
    platform::WaveOutput& device = platform::CurrentWaveOutput();
    bool silenced = false;
    while (!g_stop.load(std::memory_order_acquire)) {
        if (device.Lost()) {
            // Nothing is heard any more; a device that still loops the ring loops silence.
            if (!silenced) {
                g_busy.store(true, std::memory_order_release);
                std::memset(g_outputRing, 0, static_cast<size_t>(g_ringLength) * 4);
                g_busy.store(false, std::memory_order_release);
                silenced = true;
            }
            device.Idle(kLostPollMs);
            continue;
        }
        MixPlayedBlocks();
        device.Idle(kPollMs);
    }
    g_exit.store(true, std::memory_order_release);
    return 0;
}

bool ControlRing(const std::function<void()>& action, bool rerender) {
    if (!g_sourceSet)
        return false;
    // Without a thread of its own (the page's callback refills on this same
    // thread), the action runs at once.
    if (g_thread == nullptr || g_refilled) {
        action();
        if (rerender && g_refilled)
            RerenderAhead();
        return true;
    }
    g_rerender = rerender;
    g_requestDone.store(false, std::memory_order_release);
    g_request.store(&action, std::memory_order_release);
    // The thread looks every few milliseconds; one that has stopped answering
    // (a lost device idles longer) takes the request back.
    for (int waited = 0; !g_requestDone.load(std::memory_order_acquire); ++waited) {
        if (waited == 2000 || g_exit.load(std::memory_order_acquire)) {
            if (g_request.exchange(nullptr, std::memory_order_acq_rel) != nullptr)
                return false;
            while (!g_requestDone.load(std::memory_order_acquire))
                platform::SleepMs(1);
            break;
        }
        platform::SleepMs(1);
    }
    return true;
}

int32_t PlayingRingBlock() {
    return g_blockLength > 0 && g_ringLength > 0 ? PlayingBlock() : 0;
}

bool StopRing(uint32_t timeoutMs) {
    g_stop.store(true, std::memory_order_release);
    if (g_refilled) {
        platform::CurrentWaveOutput().SetRefill(nullptr);
        g_refilled = false;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // A block takes a millisecond or so: spin on it rather than sleep.
    while (g_busy.load(std::memory_order_acquire)) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::yield();
    }
    if (g_thread != nullptr) {
        while (!g_exit.load(std::memory_order_acquire)) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            platform::SleepMs(static_cast<uint32_t>(left < 50 ? left : 50));
        }
        platform::ReleaseThread(g_thread);
        g_thread = nullptr;
    }
    ReleaseMixBuffer();
    if (g_prepared) {
        platform::CurrentWaveOutput().Unprepare();
        g_prepared = false;
    }
    g_sourceSet = false;
    return true;
}

void SetMixingThreadStarter(MixingThreadStarter starter) {
    g_startThread = starter != nullptr ? starter : platform::CreateThread;
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
