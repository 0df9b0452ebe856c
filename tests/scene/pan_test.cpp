#include "scene/pan.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// 25 pixels a second, a pixel a frame at 25 frames a second; a limit (0 or 320) is passed by one
// step, and the turn itself costs a frame. Time that runs backwards moves nothing.
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
        {{}, 0.04f, {{1.0f, true}, {2.0f, true}}},
        {{319.5f, true}, 0.04f, {{320.5f, true}, {320.5f, false}, {319.5f, false}}},
        {{0.5f, false}, 0.04f, {{-0.5f, false}, {-0.5f, true}, {0.5f, true}}},
        {{320.0f, true}, 0.04f, {{320.0f, false}}}, // exactly at the limit turns
        {{100.0f, true}, -30.0f, {{100.0f, true}}},
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
