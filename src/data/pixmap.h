// A block of 32-bit pixels, row 0 at the top; bytes red, green, blue, alpha in memory.
#pragma once
#include <cstdint>

class CPixmap {
public:
    // Negative sizes make an empty pixmap. Pixels are undefined until written.
    CPixmap(int32_t width, int32_t height);
    virtual ~CPixmap();
    CPixmap(const CPixmap&) = delete;
    CPixmap& operator=(const CPixmap&) = delete;

    // Copies the rectangle (sx, sy, w, h) of src to (dx, dy), clipped to both pixmaps.
    void Blit(const CPixmap& src, int32_t sx, int32_t sy, int32_t w, int32_t h, int32_t dx, int32_t dy);
    void Fill(uint32_t value);

    int32_t width;
    int32_t height;
    uint32_t* pixels;
};
