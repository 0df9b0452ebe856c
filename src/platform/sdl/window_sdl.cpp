// The window on Linux: SDL2 window and OpenGL context, SDL events turned into
// the Win32 messages the window procedure expects.
#include <SDL.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "platform/sdl/keymap.h"
#include "platform/window.h"

namespace platform {
namespace {

SDL_Window* g_window = nullptr;
SDL_GLContext g_context = nullptr;
WindowProc g_proc = nullptr;
bool g_videoStarted = false;
std::deque<Message> g_posted; // messages the program posts to itself

void ReportError(const char* text) {
    ShowMessageBox(text, BoxButtons::Ok);
}

// With no display SDL would quietly pick its offscreen driver and the demo
// would run unseen; that driver is only for tests that ask for it.
bool HaveDisplay() {
    return std::getenv("SDL_VIDEODRIVER") || std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}
// A display named but not reached (a server gone or not yet up) leads SDL
// past the real drivers to the same offscreen one.
bool Unseen() {
    const char* driver = SDL_GetCurrentVideoDriver();
    return !std::getenv("SDL_VIDEODRIVER") && driver != nullptr &&
           (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
}

bool DisplayOffers(int width, int height) {
    SDL_DisplayMode want{SDL_PIXELFORMAT_RGB888, width, height, 0, nullptr};
    SDL_DisplayMode got{};
    return SDL_GetClosestDisplayMode(0, &want, &got) && got.w == width && got.h == height;
}

void SetPixelFormat(int bits, int depthBits) {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_BUFFER_SIZE, bits == 32 ? 24 : bits);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depthBits);
}

} // namespace

bool OpenMainWindow(const char* title, int width, int height, int bits, bool* fullscreen, WindowProc proc) {
    g_proc = proc;
    if (!HaveDisplay() || (!g_videoStarted && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)) {
        ReportError(HaveDisplay() ? "Unable to register window class!" : "Unable to create window!");
        return false;
    }
    g_videoStarted = true;
    if (Unseen()) {
        ReportError("Unable to create window!");
        return false;
    }

    if (*fullscreen && !DisplayOffers(width, height)) {
        if (ShowMessageBox("Video mode not supported!\nUse windowed mode instead?", BoxButtons::YesNo) !=
            BoxAnswer::Yes)
            return false;
        *fullscreen = false;
    }
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    if (*fullscreen) {
        flags |= SDL_WINDOW_FULLSCREEN;
        SDL_ShowCursor(SDL_DISABLE);
    } else {
        flags |= SDL_WINDOW_RESIZABLE;
    }

    // 32 depth bits as asked; drivers that have no such visual get 24.
    SetPixelFormat(bits, 32);
    g_window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height, flags);
    if (!g_window) {
        SetPixelFormat(bits, 24);
        g_window =
            SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height, flags);
    }
    if (!g_window) {
        ReportError("Unable to create window!");
        return false;
    }
    if (*fullscreen) {
        SDL_DisplayMode mode{SDL_PIXELFORMAT_RGB888, width, height, 0, nullptr};
        SDL_SetWindowDisplayMode(g_window, &mode);
    }
    g_context = SDL_GL_CreateContext(g_window);
    if (!g_context) {
        CloseMainWindow(*fullscreen);
        ReportError("wglCreateContext() failed!");
        return false;
    }
    if (SDL_GL_MakeCurrent(g_window, g_context) != 0) {
        CloseMainWindow(*fullscreen);
        ReportError("Can't activate RC!");
        return false;
    }
    SDL_GL_SetSwapInterval(0); // no frame pacing; -1 here is not fatal
    SDL_DisableScreenSaver();
    SDL_ShowWindow(g_window);
    SDL_RaiseWindow(g_window);
    return true;
}

void CloseMainWindow(bool fullscreen) {
    if (fullscreen && g_window) {
        SDL_SetWindowFullscreen(g_window, 0);
        SDL_ShowCursor(SDL_ENABLE);
    }
    if (g_context) {
        if (SDL_GL_MakeCurrent(g_window, nullptr) != 0)
            ReportError("Release DC and RC failed!");
        SDL_GL_DeleteContext(g_context);
        g_context = nullptr;
    }
    if (g_window) {
        SDL_DestroyWindow(g_window);
        g_window = nullptr;
    }
    SDL_EnableScreenSaver();
}

bool HasGLContext() {
    return g_context != nullptr;
}

bool PeekWindowMessage(Message& message) {
    if (!g_posted.empty()) {
        message = g_posted.front();
        g_posted.pop_front();
        return true;
    }
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
        case SDL_QUIT:
            message = {kMsgClose, 0, 0};
            return true;
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            uint8_t vk = VirtualKeyFromScancode(event.key.keysym.scancode);
            if (vk == 0)
                continue;
            message = {event.type == SDL_KEYDOWN ? kMsgKeyDown : kMsgKeyUp, vk, 0};
            return true;
        }
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
                uint32_t size = uint32_t(event.window.data1 & 0xFFFF) | uint32_t(event.window.data2 & 0xFFFF)
                                                                            << 16;
                message = {kMsgSize, 0, intptr_t(size)};
                return true;
            }
            if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
                message = {kMsgClose, 0, 0};
                return true;
            }
            continue;
        default:
            continue;
        }
    }
    return false;
}

void DispatchWindowMessage(const Message& message) {
    if (g_proc)
        g_proc(message.message, message.wParam, message.lParam);
}

void PostQuitMessage(int exitCode) {
    g_posted.push_back({kMsgQuit, uintptr_t(exitCode), 0});
}

void SwapMainBuffers() noexcept {
    if (g_window)
        SDL_GL_SwapWindow(g_window);
}

void ValidateMainWindow() {}

// SDL's X11 box needs a core X font ("-*-*-medium-r-normal--*-120-*"; the
// xfonts-base package has them). Without one it fails and SDL tries zenity,
// whose error is the one SDL reports. When no box can be shown, a terminal
// answers the question; with neither, nobody can decline the offer, so the
// demo takes it and says so.
static BoxAnswer AskWithoutBox(const char* text) {
    if (isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "%s [y/n] ", text);
        char line[16] = {};
        if (!std::fgets(line, sizeof line, stdin))
            return BoxAnswer::No;
        return line[0] == 'y' || line[0] == 'Y' ? BoxAnswer::Yes : BoxAnswer::No;
    }
    std::fprintf(stderr, "%s\nNo message box can be shown and no terminal can answer: taking Yes.\n", text);
    return BoxAnswer::Yes;
}

BoxAnswer ShowMessageBox(const char* text, BoxButtons buttons) {
    if (buttons == BoxButtons::Ok) {
        // A user who started the demo from a terminal sees the text there too.
        std::fprintf(stderr, "%s\n", text);
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_WARNING, "Error", text, g_window);
        return BoxAnswer::Ok;
    }
    const SDL_MessageBoxButtonData choices[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, 1, "Yes"},
        {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "No"},
    };
    const SDL_MessageBoxData box{SDL_MESSAGEBOX_WARNING, g_window, "Error", text, 2, choices, nullptr};
    int chosen = 0;
    if (SDL_ShowMessageBox(&box, &chosen) != 0)
        return AskWithoutBox(text);
    return chosen == 1 ? BoxAnswer::Yes : BoxAnswer::No;
}

} // namespace platform
