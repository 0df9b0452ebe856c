#include "player/format/cell_text.h"

#include <cstring>

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void Note(uint8_t note, char* out) {
    static const char* const kNames[12] = {"C-", "C#", "D-", "D#", "E-", "F-",
                                           "F#", "G-", "G#", "A-", "A#", "B-"};
    if (note == 0) {
        std::memcpy(out, "...", 3);
    } else if (note == 97 || note == 255) {
        std::memcpy(out, "===", 3);
    } else if (note > 97) {
        std::memcpy(out, "???", 3);
    } else {
        std::memcpy(out, kNames[(note - 1) % 12], 2);
        out[2] = static_cast<char>('0' + (note - 1) / 12);
    }
}

void Volume(uint8_t volume, char* out) {
    const uint8_t nibble = volume & 15;
    static const char kMarks[] = "-+dusbp<>g"; // 0x6x to 0xFx
    if (volume == 0) {
        std::memcpy(out, "...", 3);
    } else if (volume >= 0x10 && volume <= 0x50) {
        out[0] = 'v';
        out[1] = kHex[(volume - 0x10) >> 4];
        out[2] = kHex[(volume - 0x10) & 15];
    } else if (volume >= 0x60) {
        out[0] = kMarks[(volume >> 4) - 6];
        out[1] = (volume >> 4) == 0xC ? kHex[nibble] : '0';
        out[2] = (volume >> 4) == 0xC ? '0' : kHex[nibble];
    } else {
        out[0] = '?';
        out[1] = kHex[volume >> 4];
        out[2] = kHex[nibble];
    }
}

void Effect(uint8_t effect, uint8_t parameter, char* out) {
    if (effect == 0 && parameter == 0) {
        std::memcpy(out, "...", 3);
        return;
    }
    out[0] = effect < 10 ? static_cast<char>('0' + effect)
                         : (effect < 36 ? static_cast<char>('A' + effect - 10) : '?');
    out[1] = kHex[parameter >> 4];
    out[2] = kHex[parameter & 15];
}

} // namespace

size_t FormatCell(const uint8_t* cell, char* text, size_t size) {
    if (text == nullptr || size == 0) {
        return 0;
    }
    char full[kCellTextLength + 1] = "... .. ... ...";
    if (cell != nullptr) {
        Note(cell[0], full);
        if (cell[1] != 0) {
            full[4] = static_cast<char>('0' + cell[1] / 10 % 10);
            full[5] = static_cast<char>('0' + cell[1] % 10);
        }
        Volume(cell[2], full + 7);
        Effect(cell[3], cell[4], full + 11);
    }
    const size_t n = size - 1 < kCellTextLength ? size - 1 : kCellTextLength;
    std::memcpy(text, full, n);
    text[n] = '\0';
    return n;
}
