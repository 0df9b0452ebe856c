// The window procedure's table and the GL state it sets, on an offscreen context.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "app/window.h"
#include "platform/fake/scripted_window.h"
#include "platform/gl.h"
#include "platform/osmesa/offscreen_gl.h"

using platform::fake::Script;

namespace {
intptr_t Size(int w, int h) {
    return intptr_t(uint32_t(w) | uint32_t(h) << 16);
}
} // namespace

class WindowProcTest : public ::testing::Test {
protected:
    void SetUp() override {
        Script() = {};
        std::memset(g_keys, 0, sizeof g_keys);
    }
};

// Each message in turn: whether the procedure handles it, and for keys the key's state after it.
TEST_F(WindowProcTest, HandlesItsOwnMessagesAndLeavesTheRestToTheSystem) {
    struct Case {
        uint32_t message;
        uintptr_t wParam;
        bool handled;
        int key; // g_keys[wParam] afterwards; -1: not a key
    } cases[] = {
        {platform::kMsgKeyDown, 'Q', true, 1},
        {platform::kMsgKeyUp, 'Q', true, 0},
        {platform::kMsgSysKeyDown, 0x12, false, 0}, // system keys are not recorded
        {platform::kMsgClose, 0, true, -1},
        {platform::kMsgDestroy, 0, true, -1},
        {platform::kMsgSysCommand, 0xF140, true, -1},  // screen saver refused
        {platform::kMsgSysCommand, 0xF170, true, -1},  // monitor power-down refused
        {platform::kMsgSysCommand, 0xF142, false, -1}, // the whole wParam is compared
        {platform::kMsgSysCommand, 0xF060, false, -1},
        {0x0001 /* WM_CREATE */, 0, false, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MainWindowProc(c.message, c.wParam, 0), c.handled) << c.message << " " << c.wParam;
        if (c.key >= 0) {
            EXPECT_EQ(g_keys[c.wParam], c.key) << c.message << " " << c.wParam;
        }
    }
}

TEST_F(WindowProcTest, SizeBeforeAContextRecordsOnly) {
    Script().createContext = false;
    EXPECT_TRUE(MainWindowProc(platform::kMsgSize, 0, Size(800, 0)));
    EXPECT_EQ(g_screenWidth, 800);
    EXPECT_EQ(g_screenHeight, 1);
}

TEST(WindowGL, ResizeSetsViewportAndPerspective) {
    platform::OffscreenGL gl;
    ASSERT_TRUE(gl.Valid());
    platform::fake::Script() = {};
    platform::fake::Script().createContext = true;
    bool fullscreen = false;
    ASSERT_TRUE(platform::OpenMainWindow("t", 640, 480, 32, &fullscreen, MainWindowProc));

    ResizeViewport(320, 0); // minimised: height becomes 1
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 320);
    EXPECT_EQ(viewport[3], 1);
    EXPECT_EQ(g_screenHeight, 1);

    ResizeViewport(640, 480);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_PROJECTION);
    GLfloat m[16];
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    // 45 degree field of view: m[5] = cot(22.5 deg); m[0] = m[5] / aspect.
    EXPECT_NEAR(m[5], 2.4142135f, 1e-5);
    EXPECT_NEAR(m[0], 2.4142135f / (640.0f / 480.0f), 1e-5);
    // near 0.1, far 500
    EXPECT_NEAR(m[10], -(500.0f + 0.1f) / (500.0f - 0.1f), 1e-5);

    EXPECT_TRUE(InitGLState());
    for (GLenum capability : {GL_BLEND, GL_POLYGON_SMOOTH, GL_DEPTH_TEST})
        EXPECT_TRUE(glIsEnabled(capability)) << capability;
    for (auto [name, want] : {std::pair<GLenum, GLint>{GL_DEPTH_FUNC, GL_LEQUAL},
                              {GL_SHADE_MODEL, GL_SMOOTH},
                              {GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST}}) {
        GLint value = 0;
        glGetIntegerv(name, &value);
        EXPECT_EQ(value, want) << name;
    }
    platform::CloseMainWindow(false);
}
