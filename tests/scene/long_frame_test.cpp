#include <cstdint>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "platform/gl.h"
#include "scene/scene_state.h"
#include "text/fade_scroller.h"
#include "text/sine_scroller.h"
#include "tools/snapshot/offscreen_scene.h"

namespace {

struct Moment {
    PanState pan;
    int32_t top, bottom;
    float topOffset, bottomOffset;
    std::vector<uint8_t> pixels;
};

// The demo's scene on its own data, drawn at the given frame numbers of a 60 fps clock; what
// the pan and the scrollers hold after the last one, and its picture.
Moment RunScene(const std::vector<int64_t>& frames) {
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(TINSEL_ASSETS_DIR);
    Moment moment{};
    {
        OffscreenScene scene;
        if (!scene.Valid()) {
            ADD_FAILURE() << "no offscreen OpenGL context";
            std::filesystem::current_path(previous);
            return moment;
        }
        scene.Start();
        // Only the last frame's picture is looked at: the others draw nothing, which
        // spares the time but leaves the scene's own steps as they are.
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, 0, 0);
        for (size_t i = 0; i < frames.size(); ++i) {
            if (i + 1 == frames.size())
                glDisable(GL_SCISSOR_TEST);
            scene.FrameAt(OffscreenScene::FrameTicks(frames[i], 60));
        }
        moment = {g_scene.pan,
                  g_scene.topScroller->Index(),
                  g_scene.bottomScroller->Index(),
                  g_scene.topScroller->ScrollOffset(),
                  g_scene.bottomScroller->ScrollOffset(),
                  scene.Pixels()};
    }
    std::filesystem::current_path(previous);
    return moment;
}

// One frame of 30 s (a hidden page, a dragged window) from 1 s on: it is gone through in the
// steps of a steady 60 fps run, so at 31 s the pan (past two turns) and both scrollers stand
// exactly where the steady run has them and the picture is the same. Taken whole, the pan
// would stand 455 pixels past its end and each scroller's text thousands of pixels off screen.
TEST(LongFrameTest, SceneStandsWhereASteadyRunStands) {
    const int64_t start = 60, end = 31 * 60;
    std::vector<int64_t> steady, jump;
    for (int64_t frame = 0; frame <= end; ++frame) {
        steady.push_back(frame);
        if (frame <= start || frame == end)
            jump.push_back(frame);
    }
    const Moment expected = RunScene(steady);
    const Moment got = RunScene(jump);
    EXPECT_TRUE(expected.pan.pan > 0.0f && expected.pan.pan < 320.0f) << expected.pan.pan;
    EXPECT_EQ(got.pan.pan, expected.pan.pan);
    EXPECT_EQ(got.pan.panForward, expected.pan.panForward);
    EXPECT_EQ(got.top, expected.top);
    EXPECT_EQ(got.topOffset, expected.topOffset);
    EXPECT_EQ(got.bottom, expected.bottom);
    EXPECT_EQ(got.bottomOffset, expected.bottomOffset);
    ASSERT_EQ(got.pixels.size(), expected.pixels.size());
    EXPECT_TRUE(got.pixels == expected.pixels);
}

} // namespace
