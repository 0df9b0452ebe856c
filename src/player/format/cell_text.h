// A pattern cell as trackers show it, for the tools and the library.
#pragma once

#include <cstddef>
#include <cstdint>

// Characters a cell's text takes, without the terminating NUL.
constexpr size_t kCellTextLength = 14;

// Writes the five bytes of cell (note, instrument, volume column, effect,
// parameter) as "NNN II VVV EPP" into text, cut to size - 1 characters and
// NUL-terminated; returns the characters written (0 for a null text or a
// size of 0). The note: "C-4" or "C#4" (1..96 from C-0), "===" for a key-off
// (97, or 255 as the loader keeps it), "..." for none, "???" for any other
// byte. The instrument: two decimal digits (from 100 on, its last two), ".."
// for none. The volume column: "..." for none; "vNN" a volume 00..40 (hex);
// otherwise a mark and the value's nibble in hex: "-0x" slide down, "+0x"
// slide up, "d0x" fine down, "u0x" fine up, "s0x" vibrato speed, "b0x"
// vibrato depth, "px0" panning (as the byte it sets), "<0x" and ">0x"
// panning slides left and right, "g0x" tone portamento; "?NN" for a byte of
// no meaning. The effect: its letter (0-9, then A-Z) and the parameter in
// two hex digits, "..." for effect 0 with parameter 0.
size_t FormatCell(const uint8_t* cell, char* text, size_t size);
