// A wave device for tests: nothing sounds, and the play position is whatever
// the test sets. Every position query is counted so that a test can wait for
// the mixing thread to have finished a whole pass. A hook run at each query
// lets a test play the device on by itself, step by step, on the polling
// thread; a 32-bit counter mode reports the position as a device that counts
// in 32 bits would, carried on across its wraps as the Windows output does.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>

#include "platform/wave_position.h"

#include "platform/wave_output.h"

namespace platform {

class VirtualWaveOutput : public WaveOutput {
public:
    // Installs itself while it lives.
    VirtualWaveOutput();
    ~VirtualWaveOutput() override;
    VirtualWaveOutput(const VirtualWaveOutput&) = delete;
    VirtualWaveOutput& operator=(const VirtualWaveOutput&) = delete;

    bool Open(int32_t rate) override;
    void Prepare(void* buffer, uint32_t bytes) override;
    void Play() override;
    void Unprepare() override;
    uint64_t BytesPlayed() override;
    bool Lost() override { return lost.load(); }
    void Idle(uint32_t milliseconds) override;
    void Reset() override;
    void Close() override;
    bool SetRefill(Refill refill) override;

    // The true position: what the device has played since Play.
    void SetBytesPlayed(uint64_t bytes) { m_bytesPlayed.store(bytes); }
    uint64_t TrueBytesPlayed() const { return m_bytesPlayed.load(); }
    uint64_t Polls() const { return m_polls.load(); }
    // Blocks until the device has been asked count more times; false on timeout.
    bool WaitForPolls(uint64_t count, int timeoutMs = 5000) const;

    std::atomic<bool> refuseOpen{false};
    std::atomic<bool> open{false};
    std::atomic<bool> playing{false};
    std::atomic<void*> buffer{nullptr};
    std::atomic<uint32_t> bufferBytes{0};
    std::atomic<int32_t> rate{0};
    std::atomic<int> resets{0};
    // Set before Play: the position as a 32-bit device counter would give it.
    std::atomic<bool> counter32{false};
    // The device failed or was removed.
    std::atomic<bool> lost{false};
    // Idle returns at once instead of sleeping.
    std::atomic<bool> instantIdle{false};
    // Calls of Idle: how often the polling thread has waited.
    std::atomic<uint64_t> idles{0};
    // Run at each position query before the position is read, on the polling
    // thread; set it before playback starts and clear it after it ends.
    std::function<void(VirtualWaveOutput&)> onPoll;
    // Stands for a page's device, which refills the ring from its own callback.
    std::atomic<bool> takesRefill{false};
    std::atomic<Refill> refill{nullptr};

private:
    std::atomic<uint64_t> m_bytesPlayed{0};
    std::atomic<uint64_t> m_polls{0};
    // Touched by the polling thread only, once Play has returned.
    WrappedPosition m_wrapped;
};

} // namespace platform
