// A scripted window for tests of the main loop: messages come in batches the
// test queues, and every window call is recorded in order.
#pragma once
#include <deque>
#include <string>
#include <vector>

#include "platform/window.h"

namespace platform::fake {

struct WindowScript {
    bool openSucceeds = true;
    bool createContext = false; // true: the test made a GL context current itself
    // Each batch is delivered whole before the queue reads empty once.
    std::deque<std::vector<Message>> batches;
    BoxAnswer boxAnswer = BoxAnswer::Ok;

    std::vector<std::string> calls; // "open", "close", "swap", "box:<text>", "dispatch:<msg>"
    int swaps = 0;
};

// The script the fake window plays; tests reset it before each run.
WindowScript& Script();

} // namespace platform::fake
