#include "platform/fake/scripted_window.h"

#include <cstdio>

namespace platform {
namespace fake {
WindowScript& Script() {
    static WindowScript script;
    return script;
}
} // namespace fake

namespace {
WindowProc g_proc = nullptr;
std::deque<Message> g_current; // the batch being delivered
bool g_open = false;
} // namespace

bool OpenMainWindow(const char*, int, int, int, bool*, WindowProc proc) {
    fake::Script().calls.push_back("open");
    g_proc = proc;
    g_current.clear();
    g_open = fake::Script().openSucceeds;
    if (g_open && !fake::Script().batches.empty()) {
        for (const Message& m : fake::Script().batches.front())
            g_current.push_back(m);
        fake::Script().batches.pop_front();
    }
    return g_open;
}

void CloseMainWindow(bool) {
    fake::Script().calls.push_back("close");
    g_open = false;
}

bool HasGLContext() {
    return g_open && fake::Script().createContext;
}

bool PeekWindowMessage(Message& message) {
    if (g_current.empty()) {
        return false;
    }
    message = g_current.front();
    g_current.pop_front();
    return true;
}

void DispatchWindowMessage(const Message& message) {
    char text[32];
    std::snprintf(text, sizeof text, "dispatch:%x", unsigned(message.message));
    fake::Script().calls.push_back(text);
    if (g_proc)
        g_proc(message.message, message.wParam, message.lParam);
}

void PostQuitMessage(int exitCode) {
    g_current.push_back({kMsgQuit, uintptr_t(exitCode), 0});
}

void SwapMainBuffers() noexcept {
    fake::Script().calls.push_back("swap");
    ++fake::Script().swaps;
    // The next batch arrives after a frame has been shown.
    if (!fake::Script().batches.empty()) {
        for (const Message& m : fake::Script().batches.front())
            g_current.push_back(m);
        fake::Script().batches.pop_front();
    }
}

void ValidateMainWindow() {}

BoxAnswer ShowMessageBox(const char* text, BoxButtons) {
    fake::Script().calls.push_back(std::string("box:") + text);
    return fake::Script().boxAnswer;
}

} // namespace platform
