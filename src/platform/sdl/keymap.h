// SDL scancodes to the Windows virtual-key codes that index g_keys.
#pragma once
#include <SDL_scancode.h>

#include <cstdint>

namespace platform {
// 0 for keys the program has no code for.
uint8_t VirtualKeyFromScancode(SDL_Scancode scancode);
} // namespace platform
