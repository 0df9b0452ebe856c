// The window on Windows: display mode, window class, pixel format and WGL
// context, in the order and with the messages the program has always shown.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/window.h"

namespace platform {
namespace {

HWND g_window = nullptr;
HDC g_deviceContext = nullptr;
HGLRC g_renderContext = nullptr;
WindowProc g_proc = nullptr;
PIXELFORMATDESCRIPTOR g_pixelFormat;
bool g_pixelFormatFilled = false;
MSG g_lastMessage;

void ReportError(const char* text) {
    MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONEXCLAMATION);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_proc && g_proc(message, wParam, lParam))
        return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

void FillPixelFormat(int bits) {
    PIXELFORMATDESCRIPTOR pfd = {};
    pfd.nSize = sizeof(PIXELFORMATDESCRIPTOR); // 40
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER | PFD_GENERIC_ACCELERATED;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = BYTE(bits);
    pfd.cDepthBits = 32;
    pfd.iLayerType = PFD_MAIN_PLANE;
    g_pixelFormat = pfd;
}

} // namespace

bool OpenMainWindow(const char* title, int width, int height, int bits, bool* fullscreen, WindowProc proc) {
    g_proc = proc;
    if (!g_pixelFormatFilled) {
        FillPixelFormat(bits);
        g_pixelFormatFilled = true;
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(WNDCLASSEXA);
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    // The exe's own icon in the title bar and task bar, as in the shell.
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    if (!windowClass.hIcon)
        windowClass.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_WINLOGO));
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.lpszClassName = "Kelvarion";
    // The class is never unregistered; a second window would find it taken.
    if (!RegisterClassExA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        ReportError("Unable to register window class!");
        return false;
    }

    DWORD style = WS_OVERLAPPEDWINDOW;
    if (*fullscreen) {
        DEVMODEA mode = {};
        mode.dmSize = sizeof(DEVMODEA);
        mode.dmPelsWidth = DWORD(width);
        mode.dmPelsHeight = DWORD(height);
        mode.dmBitsPerPel = DWORD(bits);
        mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
        if (ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) != DISP_CHANGE_SUCCESSFUL) {
            if (MessageBoxA(nullptr, "Video mode not supported!\nUse windowed mode instead?", "Error",
                            MB_YESNO | MB_ICONEXCLAMATION) == IDNO)
                return false;
            *fullscreen = false;
        } else {
            ShowCursor(FALSE);
            style = WS_POPUP;
        }
    }
    style |= WS_CLIPSIBLINGS | WS_CLIPCHILDREN;

    g_window = CreateWindowExA(0, "Kelvarion", title, style, 0, 0, width, height, nullptr, nullptr, instance,
                               nullptr);
    if (!g_window) {
        ReportError("Unable to create window!");
        return false;
    }

    const char* failure = nullptr;
    int format = 0;
    if (!(g_deviceContext = GetDC(g_window)))
        failure = "GetDC() failed!";
    else if (!(format = ChoosePixelFormat(g_deviceContext, &g_pixelFormat)))
        failure = "No suitable PixelFormats!";
    else if (!SetPixelFormat(g_deviceContext, format, &g_pixelFormat))
        failure = "SetPixelFormat() failed!";
    else if (!(g_renderContext = wglCreateContext(g_deviceContext)))
        failure = "wglCreateContext() failed!";
    else if (!wglMakeCurrent(g_deviceContext, g_renderContext))
        failure = "Can't activate RC!";
    if (failure) {
        // The display mode is restored before the message is shown.
        CloseMainWindow(*fullscreen);
        ReportError(failure);
        return false;
    }

    ShowWindow(g_window, SW_SHOW);
    SetForegroundWindow(g_window);
    SetFocus(g_window);
    return true;
}

void CloseMainWindow(bool fullscreen) {
    if (fullscreen) {
        ChangeDisplaySettingsA(nullptr, 0);
        ShowCursor(TRUE);
    }
    if (g_renderContext) {
        if (!wglMakeCurrent(nullptr, nullptr))
            ReportError("Release DC and RC failed!");
        if (!wglDeleteContext(g_renderContext))
            ReportError("Release RC failed!");
        g_renderContext = nullptr;
    }
    if (g_deviceContext) {
        if (!ReleaseDC(g_window, g_deviceContext))
            ReportError("Release DC failed!");
        g_deviceContext = nullptr;
    }
    if (g_window) {
        if (!DestroyWindow(g_window))
            ReportError("DestroyWindow() failed!");
        g_window = nullptr;
    }
}

bool HasGLContext() {
    return g_renderContext != nullptr;
}

bool PeekWindowMessage(Message& message) {
    if (!PeekMessageA(&g_lastMessage, nullptr, 0, 0, PM_REMOVE))
        return false;
    message = {g_lastMessage.message, g_lastMessage.wParam, g_lastMessage.lParam};
    return true;
}

// Dispatches the message PeekWindowMessage took last: Win32 needs the whole MSG.
void DispatchWindowMessage(const Message&) {
    TranslateMessage(&g_lastMessage);
    DispatchMessageA(&g_lastMessage);
}

void PostQuitMessage(int exitCode) {
    ::PostQuitMessage(exitCode);
}

void SwapMainBuffers() noexcept {
    SwapBuffers(g_deviceContext);
}

void ValidateMainWindow() {
    ValidateRect(g_window, nullptr);
}

BoxAnswer ShowMessageBox(const char* text, BoxButtons buttons) {
    if (buttons == BoxButtons::Ok) {
        MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONEXCLAMATION);
        return BoxAnswer::Ok;
    }
    return MessageBoxA(nullptr, text, "Error", MB_YESNO | MB_ICONEXCLAMATION) == IDYES ? BoxAnswer::Yes
                                                                                       : BoxAnswer::No;
}

} // namespace platform
