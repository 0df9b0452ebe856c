// A bitmap font cut from a 16 x 6 grid of character cells, drawn as textured
// quads in screen pixels.
#pragma once
#include <cstdint>
#include <memory>

#include "data/pixmap.h"

struct Glyph {
    int32_t width;  // advance and drawn width, spacing included
    int32_t height; // always the cell height
    float texLeft;
    float texTop;
    float texRight;
    float texBottom;
};

class CGLFont {
public:
    static constexpr int kGlyphCount = 96;
    static constexpr int kFirstCode = 32;

    // The source stays the caller's; the font keeps a copy. Throws CException
    // when a dimension is negative or not a power of two.
    CGLFont(const CPixmap& source, int32_t cellWidth, int32_t cellHeight);
    ~CGLFont();
    CGLFont(const CGLFont&) = delete;
    CGLFont& operator=(const CGLFont&) = delete;

    // Codes without a cell of their own get the space's glyph, so that stray
    // bytes of a text never index outside the table.
    const Glyph& GetGlyph(int code) const;

    void Begin2D() const;
    void End2D() const;

    uint32_t Texture() const { return texture; }
    int32_t CellWidth() const { return cellWidth; }
    int32_t CellHeight() const { return cellHeight; }

    // Width of one cell by the column scan on the red byte: the first
    // non-blank column after a blank one, or the whole cell.
    static int32_t ScanWidth(const CPixmap& cell, int32_t cellWidth, int32_t cellHeight);

private:
    void BuildGlyphs();
    void CreateTexture();

    std::unique_ptr<CPixmap> pixmap;
    std::unique_ptr<Glyph> glyphs[kGlyphCount];
    uint32_t texture = 0;
    int32_t cellWidth;
    int32_t cellHeight;
};
