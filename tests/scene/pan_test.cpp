#include "scene/pan.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// 25 pixels a second; a limit (0 or 320) is passed by one step, and the turn itself costs a frame.
TEST(PanTest, MovesAndTurnsOneFrameAfterPassingALimit) {
    struct Step {
        float pan;
        bool forward;
    };
    const struct {
        PanState start;
        float seconds;
        std::vector<Step> steps;
    } cases[] = {
        {{}, 2.0f, {{50.0f, true}}},
        {{310.0f, true}, 1.0f, {{335.0f, true}, {335.0f, false}, {310.0f, false}}},
        {{10.0f, false}, 1.0f, {{-15.0f, false}, {-15.0f, true}, {10.0f, true}}},
        {{320.0f, true}, 1.0f, {{320.0f, false}}}, // exactly at the limit turns
    };
    for (const auto& c : cases) {
        PanState state = c.start;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            StepPan(state, c.seconds);
            EXPECT_FLOAT_EQ(state.pan, c.steps[i].pan) << "from " << c.start.pan << ", step " << i;
            EXPECT_EQ(state.panForward, c.steps[i].forward) << "from " << c.start.pan << ", step " << i;
        }
    }
}

} // namespace
