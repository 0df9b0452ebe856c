// The window's screen size, without the window: the text code reads only these.
#include "app/window.h"

int32_t g_screenWidth = 640;
int32_t g_screenHeight = 480;
