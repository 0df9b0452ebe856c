// The window seam: one window with its OpenGL context, its message queue,
// buffer swaps and message boxes. The Win32 backend is these calls; the SDL
// backend turns its events into the same messages.
#pragma once
#include <cstdint>

namespace platform {

// Message numbers are the Win32 ones, so the window procedure's table reads
// the same on every backend.
enum : uint32_t {
    kMsgDestroy = 0x0002,    // WM_DESTROY
    kMsgSize = 0x0005,       // WM_SIZE
    kMsgClose = 0x0010,      // WM_CLOSE
    kMsgQuit = 0x0012,       // WM_QUIT
    kMsgKeyDown = 0x0100,    // WM_KEYDOWN
    kMsgKeyUp = 0x0101,      // WM_KEYUP
    kMsgSysKeyDown = 0x0104, // WM_SYSKEYDOWN
    kMsgSysKeyUp = 0x0105,   // WM_SYSKEYUP
    kMsgSysCommand = 0x0112, // WM_SYSCOMMAND
};
enum : uintptr_t {
    kScScreenSave = 0xF140,   // SC_SCREENSAVE
    kScMonitorPower = 0xF170, // SC_MONITORPOWER
};

struct Message {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

// The program's window procedure: returns true when it handled the message;
// otherwise the backend gives it the system's default handling.
using WindowProc = bool (*)(uint32_t message, uintptr_t wParam, intptr_t lParam);

// Steps of window creation up to a current OpenGL context, shown window and
// focus, with every failure reported in a box titled "Error". *fullscreen is
// cleared when the user takes the windowed fallback. False on any failure
// (after the backend has torn down what the failure table says).
bool OpenMainWindow(const char* title, int width, int height, int bits, bool* fullscreen, WindowProc proc);

// Releases whatever of display mode, context and window is held, reporting
// each failed release; safe with any subset held.
void CloseMainWindow(bool fullscreen);

bool HasGLContext();

// Takes one pending message off the queue; false when the queue is empty.
bool PeekWindowMessage(Message& message);
// Translates and dispatches a message taken from the queue to the window procedure.
void DispatchWindowMessage(const Message& message);
// Queues kMsgQuit with the given code as its wParam.
void PostQuitMessage(int exitCode);

// Never throws: the page's backend hands the thread to the browser here, which
// it cannot do from inside a call that catches.
void SwapMainBuffers() noexcept;
void ValidateMainWindow();

enum class BoxButtons { Ok, YesNo };
enum class BoxAnswer { Ok, Yes, No };
// Shows a modal box with an exclamation icon; the caption is always "Error".
BoxAnswer ShowMessageBox(const char* text, BoxButtons buttons);

} // namespace platform
