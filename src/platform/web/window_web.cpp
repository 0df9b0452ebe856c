// The window in a browser page: the page's canvas with a WebGL context under
// the fixed-function emulation, the document's keys turned into the Win32
// messages the window procedure expects, and buffer swaps that hand the
// thread back to the browser until its next animation frame.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <deque>

#include "platform/web/page.h"
#include "platform/window.h"

namespace platform {
namespace {

WindowProc g_proc = nullptr;
bool g_context = false;
bool g_listening = false;
std::deque<Message> g_queue;

// The page's own canvas at the drawing size; the page scales it to the view.
EM_JS(int, tinsel_canvas_open, (int width, int height), {
    var canvas = Module['canvas'];
    if (!canvas)
        return 0;
    canvas.width = width;
    canvas.height = height;
    return 1;
});

// The emulation of fixed-function GL sets itself up for a context made here.
EM_JS(int, tinsel_context_create, (), {
    var attributes = {antialias : false, alpha : false, depth : true, stencil : false};
    try {
        return Module['createContext'](Module['canvas'], true, true, attributes) ? 1 : 0;
    } catch (e) {
        return 0;
    }
});

EM_JS(void, tinsel_show_error, (const char* text), { Module['showError'](UTF8ToString(text)); });

EM_JS(int, tinsel_ask, (const char* text), { return window.confirm(UTF8ToString(text)) ? 1 : 0; });

EM_ASYNC_JS(void, tinsel_next_frame, (), {
    Module['frames']++;
    await new Promise(function(resume) { requestAnimationFrame(resume); });
});

EM_ASYNC_JS(void, tinsel_wait_for_viewer, (), { await Module['waitForViewer'](); });

// Browsers' key codes are the Windows virtual-key codes the table is indexed by.
EM_BOOL OnKey(int type, const EmscriptenKeyboardEvent* event, void*) {
    if (event->keyCode == 0 || event->keyCode > 255)
        return EM_FALSE;
    Message message;
    message.message = type == EMSCRIPTEN_EVENT_KEYDOWN ? kMsgKeyDown : kMsgKeyUp;
    message.wParam = event->keyCode;
    g_queue.push_back(message);
    return EM_FALSE; // the browser's own keys (reload, fullscreen) keep working
}

} // namespace

void WaitForViewer() {
    tinsel_wait_for_viewer();
}

bool OpenMainWindow(const char*, int width, int height, int, bool* fullscreen, WindowProc proc) {
    g_proc = proc;
    g_queue.clear();
    // The page frames the picture itself; full screen is the viewer's choice.
    *fullscreen = false;
    if (!tinsel_canvas_open(width, height)) {
        ShowMessageBox("Unable to create window!", BoxButtons::Ok);
        return false;
    }
    if (!tinsel_context_create()) {
        ShowMessageBox("wglCreateContext() failed!", BoxButtons::Ok);
        return false;
    }
    g_context = true;
    if (!g_listening) {
        emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, OnKey);
        emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, OnKey);
        g_listening = true;
    }
    return true;
}

// The WebGL context stays with the canvas for the next start; the program
// has deleted what it made in it.
void CloseMainWindow(bool) {
    g_context = false;
}

bool HasGLContext() {
    return g_context;
}

bool PeekWindowMessage(Message& message) {
    if (g_queue.empty())
        return false;
    message = g_queue.front();
    g_queue.pop_front();
    return true;
}

void DispatchWindowMessage(const Message& message) {
    if (g_proc)
        g_proc(message.message, message.wParam, message.lParam);
}

void PostQuitMessage(int exitCode) {
    Message message;
    message.message = kMsgQuit;
    message.wParam = uintptr_t(exitCode);
    g_queue.push_back(message);
}

// The browser shows the canvas once the thread is back in its hands.
void SwapMainBuffers() noexcept {
    tinsel_next_frame();
}

void ValidateMainWindow() {}

BoxAnswer ShowMessageBox(const char* text, BoxButtons buttons) {
    if (buttons == BoxButtons::YesNo)
        return tinsel_ask(text) ? BoxAnswer::Yes : BoxAnswer::No;
    tinsel_show_error(text);
    return BoxAnswer::Ok;
}

} // namespace platform
