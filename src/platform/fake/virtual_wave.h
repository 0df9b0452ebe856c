// A wave device for tests: nothing sounds, and the play position is whatever
// the test sets. Every position query is counted so that a test can wait for
// the mixing thread to have finished a whole pass.
#pragma once
#include <atomic>
#include <cstdint>

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
    void Reset() override;
    void Close() override;

    void SetBytesPlayed(uint64_t bytes) { m_bytesPlayed.store(bytes); }
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

private:
    std::atomic<uint64_t> m_bytesPlayed{0};
    std::atomic<uint64_t> m_polls{0};
};

} // namespace platform
