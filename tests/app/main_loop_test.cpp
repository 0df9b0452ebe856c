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

// Each script of message batches against the calls made (buffer swaps left out) and the exit code.
TEST_F(MainLoop, RunsTheScriptAndTearsDownInOrder) {
    using platform::kMsgKeyDown, platform::kMsgKeyUp;
    using Calls = std::vector<std::string>;
    const struct {
        const char* what;
        std::vector<std::vector<Message>> batches;
        bool opens;
        int throwAt;
        Calls calls;
        int code;
    } cases[] = {
        // All pending messages are handled before the next frame; after Escape the code is the
        // wParam of the last message taken.
        {"escape",
         {{Key(kMsgKeyDown, 'A'), Key(kMsgKeyDown, 'B')}, {Key(kMsgKeyDown, 27)}},
         true,
         -1,
         {"open", "start", "dispatch:100", "dispatch:100", "frame", "dispatch:100", "frame", "stop", "close"},
         27},
        // A short Escape press within one batch does not quit: frames after it, after the empty
        // batch, and the one in which the held Escape is first seen.
        {"short escape",
         {{Key(kMsgKeyDown, 27), Key(kMsgKeyUp, 27)}, {}, {Key(kMsgKeyDown, 27)}},
         true,
         -1,
         {"open", "start", "dispatch:100", "dispatch:101", "frame", "frame", "dispatch:100", "frame", "stop",
          "close"},
         27},
        // Close ends the loop without another frame.
        {"close",
         {{Key(kMsgKeyDown, 'X'), {platform::kMsgClose, 0, 0}}},
         true,
         -1,
         {"open", "start", "dispatch:100", "dispatch:10", "stop", "close"},
         0},
        {"no window", {}, false, -1, {"open"}, 0}, // no scene and no teardown
        {"start throws",
         {},
         true,
         0,
         {"open", "start", "stop", "close", "box:Unable to load \"data/topscroller.txt\"!"},
         0},
        {"frame throws",
         {{}, {}, {}, {}},
         true,
         2,
         {"open", "start", "frame", "frame", "stop", "close", "box:frame 2 failed"},
         0},
    };
    for (const auto& c : cases) {
        SetUp();
        Script().batches.assign(c.batches.begin(), c.batches.end());
        Script().openSucceeds = c.opens;
        g_throwAtFrame = c.throwAt;
        EXPECT_EQ(RunProgram(), c.code) << c.what;
        EXPECT_EQ(Without("swap"), c.calls) << c.what;
    }
}
