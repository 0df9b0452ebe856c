// High-resolution counter: the one clock of the program. Tests replace it
// with a manual clock so that timing-dependent code runs deterministically.
#pragma once
#include <cstdint>

namespace platform {

// Ticks of the counter now, and ticks per second.
int64_t QueryCounter();
int64_t QueryCounterFrequency();

// A clock that stands in for the real counter while installed.
class ClockSource {
public:
    virtual ~ClockSource() = default;
    virtual int64_t Now() = 0;
    virtual int64_t Frequency() = 0;
};

// Installs a clock in place of the real counter; nullptr restores the real one.
void SetClockSource(ClockSource* source);

} // namespace platform
