#include "scene/pan.h"

#include <gtest/gtest.h>

namespace {

TEST(PanTest, MovesForwardAtTwentyFivePixelsPerSecond) {
    PanState state;
    StepPan(state, 2.0f);
    EXPECT_FLOAT_EQ(state.pan, 50.0f);
    EXPECT_TRUE(state.panForward);
}

TEST(PanTest, OvershootsByOneStepThenTurnsWithoutMoving) {
    PanState state{310.0f, true};
    StepPan(state, 1.0f);
    EXPECT_FLOAT_EQ(state.pan, 335.0f);
    EXPECT_TRUE(state.panForward);
    StepPan(state, 1.0f); // the turn costs a frame
    EXPECT_FLOAT_EQ(state.pan, 335.0f);
    EXPECT_FALSE(state.panForward);
    StepPan(state, 1.0f);
    EXPECT_FLOAT_EQ(state.pan, 310.0f);
}

TEST(PanTest, TurnsForwardAgainAtZero) {
    PanState state{10.0f, false};
    StepPan(state, 1.0f);
    EXPECT_FLOAT_EQ(state.pan, -15.0f);
    StepPan(state, 1.0f);
    EXPECT_FLOAT_EQ(state.pan, -15.0f);
    EXPECT_TRUE(state.panForward);
    StepPan(state, 1.0f);
    EXPECT_FLOAT_EQ(state.pan, 10.0f);
}

TEST(PanTest, ExactlyAtTheLimitTurns) {
    PanState state{320.0f, true};
    StepPan(state, 1.0f);
    EXPECT_FLOAT_EQ(state.pan, 320.0f);
    EXPECT_FALSE(state.panForward);
}

} // namespace
