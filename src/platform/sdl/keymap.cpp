#include "platform/sdl/keymap.h"

namespace platform {

uint8_t VirtualKeyFromScancode(SDL_Scancode code) {
    if (code >= SDL_SCANCODE_A && code <= SDL_SCANCODE_Z)
        return uint8_t('A' + (code - SDL_SCANCODE_A));
    // SDL puts 0 after 9; the virtual keys run '0'..'9'.
    if (code >= SDL_SCANCODE_1 && code <= SDL_SCANCODE_9)
        return uint8_t('1' + (code - SDL_SCANCODE_1));
    if (code == SDL_SCANCODE_0)
        return '0';
    if (code >= SDL_SCANCODE_F1 && code <= SDL_SCANCODE_F12)
        return uint8_t(0x70 + (code - SDL_SCANCODE_F1));
    switch (code) {
    case SDL_SCANCODE_ESCAPE:
        return 0x1B;
    case SDL_SCANCODE_RETURN:
        return 0x0D;
    case SDL_SCANCODE_KP_ENTER:
        return 0x0D;
    case SDL_SCANCODE_SPACE:
        return 0x20;
    case SDL_SCANCODE_BACKSPACE:
        return 0x08;
    case SDL_SCANCODE_TAB:
        return 0x09;
    case SDL_SCANCODE_LSHIFT:
    case SDL_SCANCODE_RSHIFT:
        return 0x10;
    case SDL_SCANCODE_LCTRL:
    case SDL_SCANCODE_RCTRL:
        return 0x11;
    case SDL_SCANCODE_LEFT:
        return 0x25;
    case SDL_SCANCODE_UP:
        return 0x26;
    case SDL_SCANCODE_RIGHT:
        return 0x27;
    case SDL_SCANCODE_DOWN:
        return 0x28;
    default:
        return 0;
    }
}

} // namespace platform
