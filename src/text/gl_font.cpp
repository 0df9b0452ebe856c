#include "text/gl_font.h"

#include <algorithm>

#include "base/exception.h"
#include "base/pixel_space.h"
#include "data/texture.h"
#include "platform/gl.h"

namespace {

bool IsPowerOfTwoOrZero(int32_t v) {
    return v >= 0 && (v & (v - 1)) == 0;
}

// A zero dimension has no texels; its coordinates stay 0 rather than NaN.
float Reciprocal(int32_t v) {
    return v > 0 ? 1.0f / float(v) : 0.0f;
}

bool ColumnBlank(const CPixmap& cell, int32_t x, int32_t cellHeight) {
    for (int32_t y = 0; y < cellHeight; ++y) {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&cell.pixels[y * cell.width + x]);
        if (bytes[0] != 0)
            return false;
    }
    return true;
}

} // namespace

CGLFont::CGLFont(const CPixmap& source, int32_t cellWidth_, int32_t cellHeight_)
    : cellWidth(cellWidth_), cellHeight(cellHeight_) {
    const int32_t w = source.width;
    const int32_t h = source.height;
    if (!IsPowerOfTwoOrZero(w) || !IsPowerOfTwoOrZero(h))
        throw CException("CGLFont: Pixmap has non-power of two dimensions %dx%d", w, h);
    pixmap = std::make_unique<CPixmap>(w, h);
    pixmap->Blit(source, 0, 0, w, h, 0, 0);
    BuildGlyphs();
    CreateTexture();
}

CGLFont::~CGLFont() {
    if (texture != 0)
        glDeleteTextures(1, &texture);
}

int32_t CGLFont::ScanWidth(const CPixmap& cell, int32_t cellWidth, int32_t cellHeight) {
    bool blankSeen = false;
    for (int32_t x = 0; x < cellWidth; ++x) {
        const bool blank = ColumnBlank(cell, x, cellHeight);
        if (!blankSeen) {
            if (blank)
                blankSeen = true;
        } else if (!blank) {
            return x;
        }
    }
    return cellWidth;
}

void CGLFont::BuildGlyphs() {
    // Negative cell sizes make no cell at all; they scan as empty.
    const int32_t cw = std::max(cellWidth, 0);
    const int32_t ch = std::max(cellHeight, 0);
    CPixmap cell(cw, ch);
    const float invW = Reciprocal(pixmap->width);
    const float invH = Reciprocal(pixmap->height);
    for (int32_t row = 0; row < 6; ++row) {
        for (int32_t col = 0; col < 16; ++col) {
            // Parts of a cell beyond the picture read as blank, not as stale memory.
            cell.Fill(0);
            cell.Blit(*pixmap, col * cw, row * ch, cw, ch, 0, 0);
            auto glyph = std::make_unique<Glyph>();
            glyph->width = ScanWidth(cell, cw, ch);
            glyph->height = cellHeight;
            glyph->texLeft = float(col * cellWidth) * invW;
            glyph->texRight = float(col * cellWidth + glyph->width) * invW;
            glyph->texTop = float(row * cellHeight) * invH;
            glyph->texBottom = float((row + 1) * cellHeight) * invH;
            glyphs[16 * row + col] = std::move(glyph);
        }
    }
}

void CGLFont::CreateTexture() {
    GLuint name = 0;
    glGenTextures(1, &name);
    texture = name;
    UploadPixels(texture, pixmap->width, pixmap->height,
                 pixmap->width > 0 && pixmap->height > 0 ? pixmap->pixels : nullptr, TextureLook::Sharp);
}

const Glyph& CGLFont::GetGlyph(int code) const {
    int c = static_cast<uint8_t>(code);
    if (c < kFirstCode || c >= kFirstCode + kGlyphCount)
        c = kFirstCode;
    return *glyphs[c - kFirstCode];
}

void CGLFont::Begin2D() const {
    PushPixelSpace();
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
}

void CGLFont::End2D() const {
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    PopPixelSpace();
}
