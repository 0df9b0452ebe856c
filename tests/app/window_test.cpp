// The window procedure's table and the GL state it sets, on an offscreen context.
#include <gtest/gtest.h>

#include <algorithm>
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

// A minimised window's height of 0 counts as 1; the projection keeps the window's aspect.
TEST(WindowGL, ResizeSetsViewportAndAspect) {
    platform::OffscreenGL gl;
    ASSERT_TRUE(gl.Valid());
    platform::fake::Script() = {};
    platform::fake::Script().createContext = true;
    bool fullscreen = false;
    ASSERT_TRUE(platform::OpenMainWindow("t", 640, 480, 32, &fullscreen, MainWindowProc));
    for (auto [width, height] : {std::pair{320, 0}, {640, 480}}) {
        ResizeViewport(width, height);
        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        EXPECT_EQ(std::pair(viewport[2], viewport[3]), std::pair(width, std::max(height, 1)));
        EXPECT_EQ(g_screenHeight, std::max(height, 1));
        GLfloat m[16];
        glGetFloatv(GL_PROJECTION_MATRIX, m);
        EXPECT_NEAR(m[5] / m[0], float(width) / float(std::max(height, 1)), 1e-4) << width << "x" << height;
    }
    platform::CloseMainWindow(false);
}
