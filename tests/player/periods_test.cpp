#include <gtest/gtest.h>

#include "player/engine/periods.h"

namespace {

constexpr int kC4 = 49; // real notes are 1-based: C-0 is 1

TEST(PeriodsTest, AmigaTableMeetsItsAnchors) {
    struct Anchor {
        int note, finetune;
        int32_t period;
    };
    const Anchor anchors[] = {
        {1, 0, 27392},      {37, 0, 3424},  {kC4, 0, 1712},  {kC4 + 1, 0, 1616},
        {kC4 + 9, 0, 1016}, {61, 0, 856},   {96, 0, 113},    {kC4, -128, 1814},
        {kC4, -1, 1718},    {kC4, 8, 1706}, {kC4, 64, 1664}, {kC4, 127, 1622},
    };
    for (const Anchor& a : anchors) {
        EXPECT_EQ(periods::AmigaPeriod(periods::TableIndex(a.note, a.finetune)), a.period)
            << "note " << a.note << " finetune " << a.finetune;
    }
    // Generated part falls steadily; the tail holds the values read past the base table.
    for (int k = 1; k < 1919; ++k) {
        ASSERT_LE(periods::AmigaPeriod(k), periods::AmigaPeriod(k - 1)) << k;
    }
    EXPECT_EQ(periods::AmigaPeriod(1918), 29); // A#9 at finetune +112
    EXPECT_EQ(periods::AmigaPeriod(1919), 22);
    EXPECT_EQ(periods::AmigaPeriod(1935), 0);
}

TEST(PeriodsTest, LinearTableAndAmigaFrequencies) {
    EXPECT_EQ(periods::LinearPeriod(periods::TableIndex(kC4, 0)), 4608);
    // Only the top five bits of the finetune count: 4 units per step.
    EXPECT_EQ(periods::LinearPeriod(periods::TableIndex(kC4, 15)), 4604);
    EXPECT_EQ(periods::LinearPeriod(periods::TableIndex(kC4, -1)), 4612);
    EXPECT_EQ(periods::LinearPeriod(periods::TableIndex(kC4, 112)), 4552);
    // C-4 and A-4 in both tables: the engine recipes' kHz rows.
    EXPECT_NEAR(periods::FrequencyHz(false, 1692), 8461.9, 0.05);
    EXPECT_EQ(periods::FrequencyHz(true, 0), 0.0);
}

TEST(PeriodsTest, ArpeggioSnapsToTheNearestSemitone) {
    // Half-way between C-4 and C#4 keeps C-4; just past it takes C#4.
    EXPECT_EQ(periods::SnapToSemitone(true, 4576, 0, 0), 4608);
    EXPECT_EQ(periods::SnapToSemitone(true, 4572, 0, 0), 4544);
    EXPECT_EQ(periods::SnapToSemitone(true, 4576, 0, 7), 4160);
    EXPECT_EQ(periods::SnapToSemitone(false, 1700, 0, 3), 1440);
    // Far above the table the index is capped.
    EXPECT_EQ(periods::SnapToSemitone(true, 100, 0, 15), periods::LinearPeriod(1551));
}

} // namespace
