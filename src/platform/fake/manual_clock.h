// A clock for tests: time moves only when the test says so.
#pragma once
#include "platform/counter.h"

namespace platform {

class ManualClock : public ClockSource {
public:
    explicit ManualClock(int64_t frequency = 1000000) : m_frequency(frequency) { SetClockSource(this); }
    ~ManualClock() override { SetClockSource(nullptr); }
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    int64_t Now() override { return m_now; }
    int64_t Frequency() override { return m_frequency; }

    void AdvanceTicks(int64_t ticks) { m_now += ticks; }
    void AdvanceSeconds(double seconds) { m_now += int64_t(seconds * double(m_frequency) + 0.5); }

private:
    int64_t m_now = 0;
    int64_t m_frequency;
};

} // namespace platform
