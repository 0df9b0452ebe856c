// The window procedure's table and the GL state it sets, on an offscreen context.
#include <gtest/gtest.h>

#include <cstring>

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

TEST_F(WindowProcTest, KeysFollowDownAndUpButNotSystemKeys) {
    EXPECT_TRUE(MainWindowProc(platform::kMsgKeyDown, 'Q', 0));
    EXPECT_EQ(g_keys['Q'], 1);
    EXPECT_TRUE(MainWindowProc(platform::kMsgKeyUp, 'Q', 0));
    EXPECT_EQ(g_keys['Q'], 0);
    EXPECT_FALSE(MainWindowProc(platform::kMsgSysKeyDown, 0x12, 0));
    EXPECT_EQ(g_keys[0x12], 0);
}

TEST_F(WindowProcTest, HandlesItsOwnMessagesAndLeavesTheRestToTheSystem) {
    struct Case {
        uint32_t message;
        uintptr_t wParam;
        bool handled;
    } cases[] = {
        {platform::kMsgClose, 0, true},
        {platform::kMsgDestroy, 0, true},
        {platform::kMsgSysCommand, 0xF140, true},  // screen saver refused
        {platform::kMsgSysCommand, 0xF170, true},  // monitor power-down refused
        {platform::kMsgSysCommand, 0xF142, false}, // the whole wParam is compared
        {platform::kMsgSysCommand, 0xF060, false},
        {0x0001 /* WM_CREATE */, 0, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MainWindowProc(c.message, c.wParam, 0), c.handled) << c.message << " " << c.wParam;
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
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_POLYGON_SMOOTH));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLint value = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &value);
    EXPECT_EQ(value, GL_LEQUAL);
    glGetIntegerv(GL_SHADE_MODEL, &value);
    EXPECT_EQ(value, GL_SMOOTH);
    glGetIntegerv(GL_PERSPECTIVE_CORRECTION_HINT, &value);
    EXPECT_EQ(value, GL_NICEST);
    platform::CloseMainWindow(false);
}
