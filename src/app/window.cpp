#include "app/window.h"

#include "platform/gl.h"
#include "platform/window.h"

uint8_t g_keys[256];
bool g_fullscreen = false;

bool CreateMainWindow(const char* title, int width, int height, int bits, bool fullscreen) {
    g_fullscreen = fullscreen;
    if (!platform::OpenMainWindow(title, width, height, bits, &g_fullscreen, MainWindowProc))
        return false;
    // In windowed mode a size message has meanwhile set the smaller client
    // area; the drawing keeps the requested size until the user resizes.
    ResizeViewport(width, height);
    return InitGLState();
}

void DestroyMainWindow() {
    platform::CloseMainWindow(g_fullscreen);
}

void ResizeViewport(int width, int height) {
    if (height == 0)
        height = 1;
    g_screenWidth = width;
    g_screenHeight = height;
    // A size message can come while the window is being created, before any
    // context exists: then only the size is recorded.
    if (!platform::HasGLContext())
        return;
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, double(width) / double(height), 0.1, 500.0);
}

bool InitGLState() {
    glShadeModel(GL_SMOOTH);
    glEnable(GL_BLEND);
    glEnable(GL_POLYGON_SMOOTH);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    return true;
}

bool MainWindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    switch (message) {
    case platform::kMsgClose:
    case platform::kMsgDestroy:
        platform::PostQuitMessage(0);
        return true;
    case platform::kMsgSize:
        ResizeViewport(int(uint32_t(lParam) & 0xFFFF), int((uint32_t(lParam) >> 16) & 0xFFFF));
        return true;
    case platform::kMsgKeyDown:
        g_keys[wParam & 0xFF] = 1;
        return true;
    case platform::kMsgKeyUp:
        g_keys[wParam & 0xFF] = 0;
        return true;
    case platform::kMsgSysCommand:
        // The whole wParam is compared: the screen saver and monitor
        // power-down are refused while the demo runs.
        return wParam == platform::kScScreenSave || wParam == platform::kScMonitorPower;
    default:
        return false;
    }
}
