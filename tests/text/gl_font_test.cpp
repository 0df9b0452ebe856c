#include "text/gl_font.h"

#include <cmath>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "platform/gl.h"
#include "platform/osmesa/offscreen_gl.h"

namespace {

constexpr int kCell = 8;

// A 128 x 64 sheet of 8 x 8 cells, all blank.
struct Sheet {
    CPixmap pixmap{128, 64};
    Sheet() { pixmap.Fill(0); }

    // Marks column x of the cell of the given code with the byte taken as red.
    void Column(int code, int x, uint8_t red, uint8_t alpha = 255) {
        const int cell = code - 32;
        const int left = (cell % 16) * kCell;
        const int top = (cell / 16) * kCell;
        for (int y = 0; y < kCell; ++y) {
            uint8_t* bytes = reinterpret_cast<uint8_t*>(&pixmap.pixels[(top + y) * pixmap.width + left + x]);
            bytes[0] = red;
            bytes[1] = 0;
            bytes[2] = 0;
            bytes[3] = alpha;
        }
    }
    void Columns(int code, int from, int to) {
        for (int x = from; x < to; ++x)
            Column(code, x, 255);
    }
};

class FontTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(gl.Valid()); }
    platform::OffscreenGL gl;
    Sheet sheet;
};

// Widths, texture coordinates, the stand-in for codes without a cell, and the
// texture: the font's own copy of the sheet, which goes with the font.
TEST_F(FontTest, WidthIsTheFirstInkAfterABlankColumn) {
    // Each cell's ink as column ranges [from, to); the red byte alone decides
    // blankness, so an opaque column with red 0 counts as blank.
    struct Case {
        int code;
        std::vector<std::pair<int, int>> ink;
        int width;
    } cases[] = {
        {'A', {{0, 3}, {5, 8}}, 5},         // glyph, two blank columns of spacing, filler
        {'B', {{0, 8}}, kCell},             // full cell: no blank column at all
        {127, {}, kCell},                   // blank cell
        {'C', {{1, 8}}, 1},                 // blank first column, then ink
        {'"', {{0, 1}, {2, 3}, {5, 8}}, 2}, // a second stroke cuts the glyph
        {'D', {{0, 2}, {3, 8}}, 3},         // column 2 opaque with red 0
        {'2', {{0, 4}, {6, 8}}, 6},         // the cell in column 2, row 1
        {' ', {{0, 3}, {4, 8}}, 4},
    };
    for (const Case& c : cases)
        for (auto [from, to] : c.ink)
            sheet.Columns(c.code, from, to);
    sheet.Column('D', 2, 0, 255);
    GLuint name;
    {
        CGLFont font(sheet.pixmap, kCell, kCell);
        sheet.pixmap.Fill(0);
        for (const Case& c : cases) {
            EXPECT_EQ(font.GetGlyph(c.code).width, c.width) << "code " << c.code;
            EXPECT_EQ(font.GetGlyph(c.code).height, kCell);
        }
        const Glyph& g = font.GetGlyph('2');
        EXPECT_FLOAT_EQ(g.texLeft, 16.0f / 128.0f);
        EXPECT_FLOAT_EQ(g.texRight, 22.0f / 128.0f);
        EXPECT_FLOAT_EQ(g.texTop, 8.0f / 64.0f);
        EXPECT_FLOAT_EQ(g.texBottom, 16.0f / 64.0f);
        for (int code : {10, 0, 128, 200, -56}) // -56: a signed char of 200
            EXPECT_EQ(&font.GetGlyph(code), &font.GetGlyph(' ')) << code;
        EXPECT_NE(&font.GetGlyph(127), &font.GetGlyph(' '));
        std::vector<uint8_t> texels(128 * 64 * 4);
        name = font.Texture();
        glBindTexture(GL_TEXTURE_2D, name);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        const int left = (('B' - 32) % 16) * kCell, top = (('B' - 32) / 16) * kCell;
        EXPECT_EQ(texels[size_t(top * 128 + left) * 4], 255);
    }
    EXPECT_FALSE(glIsTexture(name));
}

TEST_F(FontTest, CellRunningPastThePictureDoesNotSeeItsNeighbour) {
    // 12-pixel cells on a 32 x 16 picture: the cell of code 34 spans x 24..35,
    // so its last four columns lie outside. They read as blank, not as the
    // columns its neighbour (code 33) left behind, which here are ink.
    CPixmap picture(32, 16);
    picture.Fill(0);
    for (int y = 0; y < 12; ++y) {
        for (int x : {12, 13, 20, 21, 22, 23}) // code 33: ink, then filler in its last four columns
            picture.pixels[y * 32 + x] = 0xFF;
        picture.pixels[y * 32 + 24] = 0xFF; // code 34: one column of ink, then blank to the edge
    }
    CGLFont font(picture, 12, 12);
    EXPECT_EQ(font.GetGlyph(33).width, 8);
    EXPECT_EQ(font.GetGlyph(34).width, 12);
}

TEST_F(FontTest, RefusesNonPowerOfTwoDimensionsAndTakesAnEmptySheet) {
    CPixmap odd(368, 168), tall(128, 48), empty(0, 0);
    try {
        CGLFont font(odd, 23, 28);
        FAIL() << "no exception";
    } catch (const CException& e) {
        EXPECT_STREQ(e.Text(), "CGLFont: Pixmap has non-power of two dimensions 368x168");
    }
    EXPECT_THROW(CGLFont(tall, kCell, kCell), CException);
    // No cells at all: empty glyphs, and no division by a zero size.
    const Glyph g = CGLFont(empty, 0, 0).GetGlyph('A');
    EXPECT_EQ(g.width, 0);
    EXPECT_FALSE(std::isnan(g.texLeft) || std::isnan(g.texBottom));
}

TEST_F(FontTest, End2DRestoresMatricesAndLeavesDepthAndLightingOn) {
    CGLFont font(sheet.pixmap, kCell, kCell);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    // Stack depths, matrix mode, then texturing, blending, depth test, lighting.
    auto state = [] {
        GLint v[3] = {};
        glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &v[0]);
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &v[1]);
        glGetIntegerv(GL_MATRIX_MODE, &v[2]);
        return std::vector<int>{v[0],
                                v[1],
                                v[2],
                                glIsEnabled(GL_TEXTURE_2D),
                                glIsEnabled(GL_BLEND),
                                glIsEnabled(GL_DEPTH_TEST),
                                glIsEnabled(GL_LIGHTING)};
    };
    const std::vector<int> before = state();
    font.Begin2D();
    const std::vector<int> inside = state();
    EXPECT_EQ(std::vector<int>(inside.begin() + 3, inside.begin() + 6), (std::vector<int>{1, 1, 0}));
    font.End2D();
    EXPECT_EQ(state(), (std::vector<int>{before[0], before[1], GL_MODELVIEW, 0, 1, 1, 1}));
}

} // namespace
