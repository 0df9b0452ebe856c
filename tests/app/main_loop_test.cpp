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
    }
    static Message Key(uint32_t message, uintptr_t vk) { return {message, vk, 0}; }
};

// Each script of message batches against the calls made (buffer swaps left out) and the exit code.
TEST_F(MainLoop, RunsTheScriptAndTearsDownInOrder) {
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
