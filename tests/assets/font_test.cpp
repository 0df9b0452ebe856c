// The committed font sheet, measured by the demo's own font code the way the
// scene builds it, against the advances the sheet tool means every cell to have.
#include <unistd.h>

#include <gtest/gtest.h>

#include "data/tga.h"
#include "font_sheet.h"
#include "platform/osmesa/offscreen_gl.h"
#include "text/gl_font.h"

namespace {

TEST(FontSheet, MeasuredWidthsAreTheIntendedAdvances) {
    platform::OffscreenGL gl;
    ASSERT_TRUE(gl.Valid());
    ASSERT_EQ(chdir(TINSEL_ASSETS_DIR), 0);
    const auto source = LoadImage("data/scrollfont.tga");
    ASSERT_EQ(source->width, fontgen::kSheetWidth);
    ASSERT_EQ(source->height, fontgen::kSheetHeight);
    CPixmap pixmap(512, 256);
    pixmap.Fill(0);
    pixmap.Blit(*source, 0, 0, source->width, source->height, 0, 0);
    const CGLFont font(pixmap, fontgen::kCellWidth, fontgen::kCellHeight);

    const fontgen::FontSheet sheet = fontgen::RenderFontSheet(fontgen::kDefaultFont);
    for (int i = 0; i < fontgen::kCodeCount; ++i)
        EXPECT_EQ(font.GetGlyph(fontgen::kFirstCode + i).width, sheet.advance[size_t(i)])
            << "code " << fontgen::kFirstCode + i;
    EXPECT_EQ(font.GetGlyph(' ').width, 12);
    EXPECT_EQ(font.GetGlyph(127).width, fontgen::kCellWidth);
    // Glyphs whose ink has gaps still measure as one glyph.
    for (char c : {'"', '%', 'm', 'W'})
        EXPECT_GT(font.GetGlyph(c).width, 10) << c;
}

TEST(FontSheet, CommittedSheetIsWhatTheToolRenders) {
    ASSERT_EQ(chdir(TINSEL_ASSETS_DIR), 0);
    const auto committed = LoadImage("data/scrollfont.tga");
    const fontgen::FontSheet sheet = fontgen::RenderFontSheet(fontgen::kDefaultFont);
    int differing = 0;
    for (int y = 0; y < fontgen::kSheetHeight; ++y)
        for (int x = 0; x < fontgen::kSheetWidth; ++x) {
            // Memory bytes red, green, blue, alpha against 0xRRGGBBAA.
            const uint32_t v = sheet.At(x, y);
            const uint32_t expected = (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
            differing += committed->pixels[size_t(y) * size_t(committed->width) + size_t(x)] != expected;
        }
    EXPECT_EQ(differing, 0);
}

} // namespace
