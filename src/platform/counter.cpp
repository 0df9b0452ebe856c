#include "platform/counter.h"

#include <atomic>

#include "platform/native.h"

namespace platform {
namespace {
std::atomic<ClockSource*> g_clockSource{nullptr};
}

int64_t QueryCounter() {
    ClockSource* source = g_clockSource.load(std::memory_order_acquire);
    return source ? source->Now() : NativeCounter();
}

int64_t QueryCounterFrequency() {
    ClockSource* source = g_clockSource.load(std::memory_order_acquire);
    return source ? source->Frequency() : NativeCounterFrequency();
}

void SetClockSource(ClockSource* source) {
    g_clockSource.store(source, std::memory_order_release);
}

} // namespace platform
