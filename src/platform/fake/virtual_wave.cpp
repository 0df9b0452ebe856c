#include "platform/fake/virtual_wave.h"

#include <chrono>
#include <thread>

namespace platform {

VirtualWaveOutput::VirtualWaveOutput() {
    SetWaveOutput(this);
}

VirtualWaveOutput::~VirtualWaveOutput() {
    SetWaveOutput(nullptr);
}

bool VirtualWaveOutput::Open(int32_t wantRate) {
    if (refuseOpen.load())
        return false;
    rate.store(wantRate);
    open.store(true);
    return true;
}

void VirtualWaveOutput::Prepare(void* data, uint32_t bytes) {
    buffer.store(data);
    bufferBytes.store(bytes);
}

void VirtualWaveOutput::Play() {
    m_bytesPlayed.store(0);
    m_wrapped.Restart();
    playing.store(true);
}

void VirtualWaveOutput::Unprepare() {
    // Like a real device, a buffer still being looped stays in use until Reset.
    if (!playing.load())
        buffer.store(nullptr);
}

uint64_t VirtualWaveOutput::BytesPlayed() {
    // Counted first, so a poll that a test has seen counted reads a later position.
    m_polls.fetch_add(1);
    if (onPoll)
        onPoll(*this);
    const uint64_t bytes = m_bytesPlayed.load();
    if (!counter32.load())
        return bytes;
    return m_wrapped.Update(static_cast<uint32_t>(bytes));
}

void VirtualWaveOutput::Idle(uint32_t milliseconds) {
    idles.fetch_add(1);
    if (instantIdle.load())
        std::this_thread::yield();
    else
        SleepMs(milliseconds);
}

void VirtualWaveOutput::Reset() {
    playing.store(false);
    buffer.store(nullptr);
    resets.fetch_add(1);
}

void VirtualWaveOutput::Close() {
    open.store(false);
}

bool VirtualWaveOutput::SetRefill(Refill wanted) {
    if (!takesRefill.load())
        return false;
    refill.store(wanted);
    return true;
}

bool VirtualWaveOutput::WaitForPolls(uint64_t count, int timeoutMs) const {
    const uint64_t target = m_polls.load() + count;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_polls.load() < target) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace platform
