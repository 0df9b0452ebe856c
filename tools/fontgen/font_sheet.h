// Renders the scrollers' character sheet: 16 x 6 cells for codes 32..127,
// each cell laid out so that the font's column scan finds the advance we mean.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace fontgen {

constexpr int32_t kCellWidth = 23;
constexpr int32_t kCellHeight = 28;
constexpr int32_t kColumns = 16;
constexpr int32_t kRows = 6;
constexpr int32_t kFirstCode = 32;
constexpr int32_t kCodeCount = kColumns * kRows;
constexpr int32_t kSheetWidth = kCellWidth * kColumns;
constexpr int32_t kSheetHeight = kCellHeight * kRows;
// Blank columns between a glyph and its cell's filler: the letter spacing.
constexpr int32_t kSpacing = 2;
// The space is a blank run this wide before the filler.
constexpr int32_t kSpaceAdvance = 12;

struct FontSheet {
    // 0xRRGGBBAA per pixel, rows from the top.
    std::vector<uint32_t> rgba = std::vector<uint32_t>(size_t(kSheetWidth) * kSheetHeight, 0);
    // The width the column scan should find in each cell, code 32 first.
    std::array<int32_t, kCodeCount> advance{};
    int32_t pixelSize = 0;

    uint32_t At(int32_t x, int32_t y) const { return rgba[size_t(y) * kSheetWidth + x]; }
};

// Throws std::runtime_error when the font cannot be read or a glyph cannot be rendered.
FontSheet RenderFontSheet(const std::string& fontPath);

// The face the shipped sheet is made from.
extern const char* const kDefaultFont;

} // namespace fontgen
