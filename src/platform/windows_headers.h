// windows.h for the few headers that need it, taken in once with its
// macros that would rename the program's own functions dropped for good.
#pragma once
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef LoadImage  // the TGA loader's
#undef FreeModule // the player's
#endif
