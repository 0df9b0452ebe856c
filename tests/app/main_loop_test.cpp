// The main loop against a scripted window and a recording scene.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/exception.h"
#include "app/main_loop.h"
#include "app/window.h"
#include "platform/fake/scripted_window.h"
#include "scene/scene.h"

using platform::Message;
using platform::fake::Script;

namespace {
int g_frames = 0;
int g_throwAtFrame = -1; // -1: never; 0: SceneStart throws
std::vector<std::string>* g_log = nullptr;
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

class MainLoop : public ::testing::Test {
protected:
    void SetUp() override {
        Script() = {};
        g_frames = 0;
        g_throwAtFrame = -1;
        std::memset(g_keys, 0, sizeof g_keys);
        g_log = &Script().calls;
    }
    static Message Key(uint32_t message, uintptr_t vk) { return {message, vk, 0}; }
    static std::vector<std::string> Without(const char* skipped) {
        std::vector<std::string> out;
        for (const std::string& c : Script().calls)
            if (c.rfind(skipped, 0) != 0)
                out.push_back(c);
        return out;
    }
};

TEST_F(MainLoop, AllPendingMessagesAreHandledBeforeTheNextFrame) {
    Script().batches = {{Key(platform::kMsgKeyDown, 'A'), Key(platform::kMsgKeyDown, 'B')},
                        {Key(platform::kMsgKeyDown, 27)}};
    int code = RunProgram();
    std::vector<std::string> expected = {"open",  "start", "dispatch:100", "dispatch:100",
                                         "frame", "swap",  "dispatch:100", "frame",
                                         "swap",  "stop",  "close"};
    EXPECT_EQ(Script().calls, expected);
    // After Escape the code is the wParam of the last message taken.
    EXPECT_EQ(code, 27);
}

TEST_F(MainLoop, ShortEscapePressInOneBatchDoesNotQuit) {
    Script().batches = {
        {Key(platform::kMsgKeyDown, 27), Key(platform::kMsgKeyUp, 27)}, {}, {Key(platform::kMsgKeyDown, 27)}};
    RunProgram();
    // Frames: after the short press, after the empty batch, and the one in
    // which the held Escape is first seen.
    EXPECT_EQ(g_frames, 3);
}

TEST_F(MainLoop, CloseEndsTheLoopWithoutAnotherFrameAndCodeZero) {
    Script().batches = {{Key(platform::kMsgKeyDown, 'X'), {platform::kMsgClose, 0, 0}}};
    int code = RunProgram();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(g_frames, 0);
    EXPECT_EQ(Script().calls.back(), "close");
}

TEST_F(MainLoop, WindowFailureRunsNoSceneAndNoTeardown) {
    Script().openSucceeds = false;
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(Script().calls, std::vector<std::string>{"open"});
}

TEST_F(MainLoop, ExceptionFromStartTearsDownThenShowsTheText) {
    g_throwAtFrame = 0;
    EXPECT_EQ(RunProgram(), 0);
    std::vector<std::string> expected = {"open", "start", "stop", "close",
                                         "box:Unable to load \"data/topscroller.txt\"!"};
    EXPECT_EQ(Script().calls, expected);
}

TEST_F(MainLoop, ExceptionFromAFrameTearsDownThenShowsTheText) {
    Script().batches = {{}, {}, {}, {}};
    g_throwAtFrame = 2;
    EXPECT_EQ(RunProgram(), 0);
    std::vector<std::string> expected = {
        "open", "start", "frame", "frame", "stop", "close", "box:frame 2 failed"};
    EXPECT_EQ(Without("swap"), expected);
}
