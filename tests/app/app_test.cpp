// The program's frame against a scripted window: the main loop with a
// recording scene, the window procedure's table and the GL state it sets on an
// offscreen context, and the exception whose text the message box shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/exception.h"
#include "app/main_loop.h"
#include "app/window.h"
#include "platform/fake/scripted_window.h"
#include "platform/gl.h"
#include "platform/osmesa/offscreen_gl.h"
#include "scene/scene.h"

using platform::Message;
using platform::fake::Script;

namespace {
int g_frames = 0;
int g_throwAtFrame = -1; // -1: never; 0: SceneStart throws
intptr_t Size(int w, int h) {
    return intptr_t(uint32_t(w) | uint32_t(h) << 16);
}
} // namespace

void SceneStart() {
    Script().calls.push_back("start");
    if (g_throwAtFrame == 0)
        throw CException("Unable to load \"%s\"!", "data/topscroller.txt");
}
void SceneFrame() {
    ++g_frames;
    Script().calls.push_back("frame");
    if (g_throwAtFrame == g_frames)
        throw CException("frame %d failed", g_frames);
}
void SceneStop() {
    Script().calls.push_back("stop");
}

// A fresh script, no key down and a scene that never throws.
class App : public ::testing::Test {
protected:
    void SetUp() override {
        Script() = {};
        g_frames = 0;
        g_throwAtFrame = -1;
        std::memset(g_keys, 0, sizeof g_keys);
    }
    static Message Key(uint32_t message, uintptr_t vk) { return {message, vk, 0}; }
};

// Each script of message batches against the calls made (buffer swaps left out) and the exit code.
TEST_F(App, MainLoopRunsTheScriptAndTearsDownInOrder) {
    const Message escape = Key(platform::kMsgKeyDown, 27), close{platform::kMsgClose, 0, 0};
    const struct {
        bool opens;
        int throwAt;
        int code;
        const char* calls;
        std::vector<std::vector<Message>> batches;
    } cases[] = {
        // clang-format off
        // All pending messages are handled before the next frame; after Escape the code is the
        // wParam of the last message taken.
        {true, -1, 27, "open start dispatch:100 dispatch:100 frame dispatch:100 frame stop close",
         {{Key(platform::kMsgKeyDown, 'A'), Key(platform::kMsgKeyDown, 'B')}, {escape}}},
        // A short Escape press within one batch does not quit: frames after it, after the empty
        // batch, and the one in which the held Escape is first seen.
        {true, -1, 27, "open start dispatch:100 dispatch:101 frame frame dispatch:100 frame stop close",
         {{escape, Key(platform::kMsgKeyUp, 27)}, {}, {escape}}},
        // Close ends the loop without another frame.
        {true, -1, 0, "open start dispatch:100 dispatch:10 stop close", {{Key(platform::kMsgKeyDown, 'X'), close}}},
        {false, -1, 0, "open", {}}, // no window: no scene and no teardown
        {true, 0, 0, "open start stop close box:Unable to load \"data/topscroller.txt\"!", {}},
        {true, 2, 0, "open start frame frame stop close box:frame 2 failed", {{}, {}, {}, {}}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SetUp();
        Script().batches.assign(c.batches.begin(), c.batches.end());
        Script().openSucceeds = c.opens;
        g_throwAtFrame = c.throwAt;
        EXPECT_EQ(RunProgram(), c.code) << c.calls;
        std::string calls;
        for (const std::string& call : Script().calls)
            if (call.rfind("swap", 0) != 0)
                calls += (calls.empty() ? "" : " ") + call;
        EXPECT_EQ(calls, c.calls);
    }
}

// Each message in turn: whether the procedure handles it, and for keys the key's state after it.
TEST_F(App, WindowProcHandlesItsOwnMessagesAndLeavesTheRestToTheSystem) {
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

TEST_F(App, WindowSizeBeforeAContextRecordsOnly) {
    Script().createContext = false;
    EXPECT_TRUE(MainWindowProc(platform::kMsgSize, 0, Size(800, 0)));
    EXPECT_EQ(g_screenWidth, 800);
    EXPECT_EQ(g_screenHeight, 1);
}

// A minimised window's height of 0 counts as 1; the projection keeps the window's aspect.
TEST_F(App, WindowResizeSetsViewportAndAspect) {
    platform::OffscreenGL gl;
    ASSERT_TRUE(gl.Valid());
    Script().createContext = true;
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

// printf-style formatting, cut at 1023 characters, and a move that hands over the one text.
TEST(Exception, FormatsCutsAndMoves) {
    CException e("LoadImage(): '%s' is %d%%", "data/koala.tga", 50);
    EXPECT_STREQ(e.Text(), "LoadImage(): 'data/koala.tga' is 50%");
    EXPECT_EQ(std::string(CException("%s!", std::string(5000, 'x').c_str()).Text()), std::string(1023, 'x'));
    EXPECT_EQ(std::string(CException("%s", std::string(1023, 'y').c_str()).Text()).size(), 1023u);
    const char* text = e.Text();
    CException second(std::move(e));
    EXPECT_EQ(second.Text(), text); // the same buffer, not a copy
    EXPECT_EQ(e.Text(), nullptr);
}
