// The text: the font cut from a sheet of cells and its 2D mode, the scroll
// texts as loaded, and both scrollers stepped on a manual clock and drawn on an
// offscreen context.
#include "text/gl_font.h"

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "platform/fake/manual_clock.h"
#include "platform/gl.h"
#include "platform/osmesa/offscreen_gl.h"
#include "text/fade_scroller.h"
#include "text/scroll_text.h"
#include "text/sine_scroller.h"
#include "tests/common/test_util.h"

namespace {

constexpr int kCell = 8;

// A 128 x 64 sheet of 8 x 8 cells, all blank.
struct Sheet {
    CPixmap pixmap{128, 64};
    Sheet() { pixmap.Fill(0); }

    // Marks column x of the cell of the given code opaque, with the given red byte.
    void Column(int code, int x, uint8_t red) {
        const int cell = code - 32, left = (cell % 16) * kCell, top = (cell / 16) * kCell;
        for (int y = 0; y < kCell; ++y)
            pixmap.pixels[(top + y) * pixmap.width + left + x] = 0xFF000000u | red; // bytes: red, 0, 0, 255
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
    sheet.Column('D', 2, 0);
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

// Every glyph is a solid white 8 x 8 cell, so every advance is 8 pixels. The
// scrollers run at 800 pixels a second, so 24 pixels still come in one frame
// taken whole (shorter than 1/25 s) and a clock tick is a tenth of a pixel.
constexpr float kSpeed = 800.0f;

class ScrollerTest : public FontTest {
protected:
    void SetUp() override {
        FontTest::SetUp();
        sheet.pixmap.Fill(0xFFFFFFFFu);
        font = std::make_unique<CGLFont>(sheet.pixmap, 8, 8);
    }
    platform::ManualClock clock{8000};
    std::unique_ptr<CGLFont> font;
};

TEST(LoadScrollTextTest, DropsCrTurnsOrKeepsLfAndNamesAMissingFile) {
    testutil::ScratchDir dir;
    testutil::WriteFile("data/t.txt", std::string("ab\r\ncd\r\n\r\n"));
    int32_t length = -1;
    EXPECT_STREQ(LoadScrollText("data/t.txt", LineFeedRule::ToSpace, &length).get(), "ab cd  ");
    EXPECT_EQ(length, 7);
    EXPECT_STREQ(LoadScrollText("data/t.txt", LineFeedRule::Keep, &length).get(), "ab\ncd\n\n");
    EXPECT_EQ(length, 7);
    try {
        LoadScrollText("data/missing.txt", LineFeedRule::Keep);
        FAIL() << "no exception";
    } catch (const CException& e) {
        EXPECT_STREQ(e.Text(), "Unable to load \"data/missing.txt\"!");
    }
}

// Each step moves the clock on by a number of pixels, advances once and expects the index and
// (where not negative) the offset; then one Draw in white on black
// leaves the given pixels lit or dark, and never looks outside the glyph table.
TEST_F(ScrollerTest, AdvancesOneCharacterAtMostAndDrawsTheVisibleTextOnly) {
    struct Step {
        double pixels;
        int index;
        float offset;
    };
    struct Pixel {
        int x, y;
        bool lit;
    };
    struct Case {
        bool fade;
        std::string text;
        std::vector<Step> steps;
        std::vector<Pixel> pixels;
        float y = 10, amplitude = 0;
    } cases[] = {
        {false, "abc", {{8, 0, 8.0f}, {1, 1, 1.0f}}, {}},                    // passes only past the width
        {false, "abcdef", {{24, 1, 16.0f}, {0, 2, 8.0f}, {0, 2, 8.0f}}, {}}, // catches up one per advance
        {false, "ab", {{10, 1, 2.0f}, {10, 0, 4.0f}}, {}},                   // wraps after the last one
        {false, "\x01\xC8z", {{10, 1, -1}}, {}},             // stray codes advance like the space
        {true, "ab\n\n\ncd", {{10, 1, -1}, {8, 5, -1}}, {}}, // a run of line feeds is skipped in one advance
        {true, "ab\n", {{10, 1, -1}, {8, 0, -1}}, {}},       // a final line feed wraps at the last character
        {false, "ab", {}, {{4, 14, true}, {12, 14, true}, {4, 5, false}, {40, 14, false}}},
        {false, "", {{20, 0, -1}}, {{4, 14, false}}}, // an empty text advances nowhere
        {true, "", {{20, 0, -1}}, {{4, 14, false}}},
        // amplitude 20 with the crest at mid-screen: glyphs there are moved down, wave 0 at the left edge
        {false, std::string(100, 'x'), {}, {{320, 102, false}, {320, 124, true}, {2, 102, true}}, 100, 20},
        // forty glyphs reach the opaque middle; the next line does not follow
        {true,
         std::string(20, ' ') + std::string(20, 'x') + "\n" + std::string(60, 'y'),
         {},
         {{300, 104, true}, {330, 104, false}},
         100},
    };
    auto walk = [this](auto&& scroller, const Case& c) {
        for (const Step& step : c.steps) {
            clock.AdvanceSeconds(step.pixels / kSpeed);
            scroller.Advance();
            EXPECT_EQ(scroller.Index(), step.index) << c.text;
            if (step.offset >= 0) {
                EXPECT_FLOAT_EQ(scroller.ScrollOffset(), step.offset) << c.text;
            }
            EXPECT_EQ(*scroller.Current(), c.text[size_t(step.index)]) << c.text;
        }
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glColor3f(1.0f, 1.0f, 1.0f);
        scroller.Draw();
        const auto pixels = gl.ReadPixels();
        for (const Pixel& p : c.pixels)
            EXPECT_EQ(gl.PixelRGB(pixels, p.x, p.y) != 0, p.lit) << c.text << " at " << p.x << "," << p.y;
    };
    for (const Case& c : cases) {
        CSineScroller sine(c.text.c_str(), false, c.y, font.get(), kSpeed);
        sine.amplitude = c.amplitude;
        sine.waveFactor = 1.0f;
        if (c.fade)
            walk(CFadeScroller(c.text.c_str(), false, c.y, font.get(), kSpeed), c);
        else
            walk(sine, c);
    }
}

TEST(FadeAlphaTest, RampsAtBothSides) {
    const float w = 640.0f, f = 256.0f;
    const std::pair<float, float> cases[] = {{f, 1},           {w - f, 1},         {w / 2, 1},
                                             {0, 0},           {f / 2, 0.5},       {w - f / 4, 0.25},
                                             {-8, -1.0f / 32}, {w + 8, -1.0f / 32}};
    for (const auto& [x, alpha] : cases)
        EXPECT_FLOAT_EQ(CFadeScroller::AlphaAt(x, w), alpha) << x;
}

} // namespace
