#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "platform/fake/manual_clock.h"
#include "platform/gl.h"
#include "platform/osmesa/offscreen_gl.h"
#include "text/fade_scroller.h"
#include "text/gl_font.h"
#include "text/scroll_text.h"
#include "text/sine_scroller.h"
#include "tests/common/test_util.h"

namespace {

// Every glyph is a solid white 8 x 8 cell, so every advance is 8 pixels. The
// scrollers run at 800 pixels a second, so 24 pixels still come in one frame
// taken whole (shorter than 1/25 s) and a clock tick is a tenth of a pixel.
constexpr float kSpeed = 800.0f;

class ScrollerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(gl.Valid());
        CPixmap sheet(128, 64);
        sheet.Fill(0xFFFFFFFFu);
        font = std::make_unique<CGLFont>(sheet, 8, 8);
    }

    platform::OffscreenGL gl;
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
