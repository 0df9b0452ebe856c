#include "font_sheet.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include <ft2build.h>
#include FT_FREETYPE_H

namespace fontgen {

const char* const kDefaultFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

namespace {

// White, so that the scrollers' colours tint it; the alpha carries the shape.
constexpr uint32_t kInk = 0xFFFFFF00u;
// Not blank to the column scan (red byte set) yet never seen (alpha 0).
constexpr uint32_t kInvisible = 0xFFFFFF00u;
constexpr int32_t kMaxInk = kCellWidth - kSpacing;

struct Library {
    FT_Library lib = nullptr;
    FT_Face face = nullptr;
    ~Library() {
        if (face)
            FT_Done_Face(face);
        if (lib)
            FT_Done_FreeType(lib);
    }
};

// The rendered coverage of one glyph, cropped to its inked columns.
struct Bitmap {
    int32_t width = 0;
    int32_t rows = 0;
    int32_t top = 0; // rows above the baseline
    std::vector<uint8_t> coverage;
    uint8_t At(int32_t x, int32_t y) const { return coverage[size_t(y) * width + x]; }
};

void Check(FT_Error error, const std::string& what) {
    if (error)
        throw std::runtime_error(what + " (FreeType error " + std::to_string(error) + ")");
}

Bitmap Render(FT_Face face, int code, double squeeze) {
    FT_Matrix m{FT_Fixed(squeeze * 65536.0 + 0.5), 0, 0, 0x10000};
    FT_Set_Transform(face, &m, nullptr);
    Check(FT_Load_Char(face, FT_ULong(code), FT_LOAD_RENDER | FT_LOAD_NO_HINTING),
          "cannot render character " + std::to_string(code));
    const FT_Bitmap& b = face->glyph->bitmap;
    if (b.pixel_mode != FT_PIXEL_MODE_GRAY)
        throw std::runtime_error("unexpected bitmap format for character " + std::to_string(code));
    int32_t left = int32_t(b.width), right = -1;
    for (uint32_t y = 0; y < b.rows; ++y)
        for (uint32_t x = 0; x < b.width; ++x)
            if (b.buffer[y * b.pitch + x] != 0) {
                left = std::min(left, int32_t(x));
                right = std::max(right, int32_t(x));
            }
    Bitmap out;
    out.top = face->glyph->bitmap_top;
    out.rows = int32_t(b.rows);
    if (right < left)
        return out;
    out.width = right - left + 1;
    out.coverage.resize(size_t(out.width) * out.rows);
    for (int32_t y = 0; y < out.rows; ++y)
        for (int32_t x = 0; x < out.width; ++x)
            out.coverage[size_t(y) * out.width + x] = b.buffer[y * b.pitch + left + x];
    return out;
}

// Rows above and below the baseline over all printable codes.
void Extent(FT_Face face, int32_t& above, int32_t& below) {
    above = 0;
    below = 0;
    for (int code = 33; code < 127; ++code) {
        const Bitmap b = Render(face, code, 1.0);
        if (b.width == 0)
            continue;
        above = std::max(above, b.top);
        below = std::max(below, b.rows - b.top);
    }
}

} // namespace

FontSheet RenderFontSheet(const std::string& fontPath) {
    Library ft;
    Check(FT_Init_FreeType(&ft.lib), "cannot start FreeType");
    Check(FT_New_Face(ft.lib, fontPath.c_str(), 0, &ft.face), "cannot read font " + fontPath);

    // The largest size whose tallest and deepest glyphs fit the cell height.
    FontSheet sheet;
    int32_t above = 0, below = 0;
    for (int32_t size = kCellHeight + 8; size > 4; --size) {
        Check(FT_Set_Pixel_Sizes(ft.face, 0, FT_UInt(size)), "cannot size font " + fontPath);
        Extent(ft.face, above, below);
        if (above + below <= kCellHeight) {
            sheet.pixelSize = size;
            break;
        }
    }
    if (sheet.pixelSize == 0)
        throw std::runtime_error("font " + fontPath + " does not fit a cell of 28 rows");
    const int32_t baseline = above + (kCellHeight - above - below) / 2;

    for (int32_t i = 0; i < kCodeCount; ++i) {
        const int code = kFirstCode + i;
        const int32_t left = (i % kColumns) * kCellWidth;
        const int32_t top = (i / kColumns) * kCellHeight;
        auto put = [&](int32_t x, int32_t y, uint32_t rgba) {
            sheet.rgba[size_t(top + y) * kSheetWidth + left + x] = rgba;
        };
        if (code == 127) {
            sheet.advance[i] = kCellWidth; // blank cell: the scan runs to its end
            continue;
        }
        Bitmap b;
        if (code != 32) {
            // Glyphs wider than the cell allows are narrowed, never cut.
            double squeeze = 1.0;
            b = Render(ft.face, code, squeeze);
            while (b.width > kMaxInk) {
                squeeze *= double(kMaxInk) / double(b.width) - 0.005;
                b = Render(ft.face, code, squeeze);
            }
        }
        const int32_t inkWidth = code == 32 ? kSpaceAdvance - kSpacing : b.width;
        sheet.advance[i] = inkWidth + kSpacing;
        // The glyph's own columns are never blank (white, alpha = coverage), so
        // strokes parted by empty columns still measure as one glyph.
        if (code != 32)
            for (int32_t y = 0; y < kCellHeight; ++y)
                for (int32_t x = 0; x < inkWidth; ++x) {
                    const int32_t by = y - (baseline - b.top);
                    const uint8_t c = by >= 0 && by < b.rows ? b.At(x, by) : 0;
                    put(x, y, kInk | c);
                }
        for (int32_t y = 0; y < kCellHeight; ++y)
            for (int32_t x = sheet.advance[i]; x < kCellWidth; ++x)
                put(x, y, kInvisible);
    }
    FT_Set_Transform(ft.face, nullptr, nullptr);
    return sheet;
}

} // namespace fontgen
