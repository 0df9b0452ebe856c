// The program's window: screen size, key table and the OpenGL state every
// drawing pass starts from. The OS side lives behind platform/window.h.
#pragma once
#include <cstdint>

#include "base/screen.h"

extern uint8_t g_keys[256];
extern bool g_fullscreen;

bool CreateMainWindow(const char* title, int width, int height, int bits, bool fullscreen);
void DestroyMainWindow();
void ResizeViewport(int width, int height);
bool InitGLState();

// The message table of the window; true when the message was handled here,
// false when it takes the system's default handling.
bool MainWindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam);
