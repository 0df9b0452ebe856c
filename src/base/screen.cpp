#include "base/screen.h"

int32_t g_screenWidth = 640;
int32_t g_screenHeight = 480;
