// The size of the drawing area, shared by the window that sets it and every
// pixel-space drawing pass that reads it.
#pragma once
#include <cstdint>

extern int32_t g_screenWidth;
extern int32_t g_screenHeight;
