#include "data/pixmap.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

CPixmap::CPixmap(int32_t width_, int32_t height_)
    : width(std::max(width_, 0)), height(std::max(height_, 0)),
      pixels(new uint32_t[size_t(width) * size_t(height)]) {}

CPixmap::~CPixmap() {
    delete[] pixels;
}

void CPixmap::Blit(const CPixmap& src, int32_t sx_, int32_t sy_, int32_t w_, int32_t h_, int32_t dx_,
                   int32_t dy_) {
    // 64-bit so that extreme arguments cannot overflow while clipping.
    int64_t sx = sx_, sy = sy_, w = w_, h = h_, dx = dx_, dy = dy_;
    if (sx >= src.width || sy >= src.height || dx >= width || dy >= height)
        return;
    if (sx < 0) {
        w += sx;
        dx -= sx;
        sx = 0;
    }
    if (sy < 0) {
        h += sy;
        dy -= sy;
        sy = 0;
    }
    if (sx + w > src.width)
        w = src.width - sx;
    if (sy + h > src.height)
        h = src.height - sy;
    if (dx < 0) {
        w += dx;
        sx -= dx;
        dx = 0;
    }
    if (dy < 0) {
        h += dy;
        sy -= dy;
        dy = 0;
    }
    if (dx + w > width)
        w = width - dx;
    if (dy + h > height)
        h = height - dy;
    if (w <= 0 || h <= 0)
        return;
    // Within one pixmap the copy behaves as memmove: the rectangle arrives
    // whole even where it overlaps its source (a pixel-by-pixel copy in
    // reading order would smear it). Rows moving down are copied bottom up.
    const bool upward = &src != this || dy <= sy;
    for (int64_t i = 0; i < h; ++i) {
        const int64_t j = upward ? i : h - 1 - i;
        std::memmove(pixels + (dy + j) * width + dx, src.pixels + (sy + j) * src.width + sx,
                     size_t(w) * sizeof(uint32_t));
    }
}

void CPixmap::Fill(uint32_t value) {
    std::fill(pixels, pixels + size_t(width) * size_t(height), value);
}
