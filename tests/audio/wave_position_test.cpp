// A 32-bit device position carried on across its wraps.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/wave_position.h"

namespace {

constexpr uint64_t k4G = uint64_t(1) << 32;

TEST(WrappedPosition, ExtendsEachReadingToTheNearestPosition) {
    struct Case {
        uint64_t previous;
        uint32_t raw;
        uint64_t expected;
    } cases[] = {
        {0, 0, 0},
        {0, 1764, 1764},
        {1000, 1000, 1000},                            // stalled
        {k4G - 16, 0xFFFFFFF8u, k4G - 8},              // just before the wrap
        {k4G - 16, 0, k4G},                            // onto the wrap
        {k4G - 16, 48, k4G + 48},                      // across it
        {5 * k4G + 7, 9, 5 * k4G + 9},                 // many wraps on
        {k4G + 100, 40, k4G + 40},                     // a small step back
        {k4G + 8, 0xFFFFFFF0u, k4G - 16},              // back across the wrap
        {3, 0xFFFFFFFFu, 0},                           // back before the start
        {k4G, 0x7FFFFFFFu, k4G + 0x7FFFFFFFu},         // the largest step ahead
        {2 * k4G, 0x80000000u, 2 * k4G - 0x80000000u}, // beyond that it reads as a step back
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::ExtendWrappedPosition(c.previous, c.raw), c.expected)
            << "previous " << c.previous << " raw " << c.raw;
}

// Followed in steps of 1.5 GiB, a counter is carried across three wraps; a restart counts from 0.
TEST(WrappedPosition, FollowsACounterAcrossItsWrapsUntilRestarted) {
    platform::WrappedPosition position;
    for (uint64_t at = 0x60000000u; at < 5 * k4G; at += 0x60000000u)
        ASSERT_EQ(position.Update(uint32_t(at)), at);
    position.Restart();
    EXPECT_EQ(position.Update(4), 4u);
}

} // namespace
