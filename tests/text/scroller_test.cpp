#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "base/exception.h"
#include "platform/fake/manual_clock.h"
#include "platform/gl.h"
#include "platform/osmesa/offscreen_gl.h"
#include "text/fade_scroller.h"
#include "text/gl_font.h"
#include "text/scroll_text.h"
#include "text/sine_scroller.h"
#include "tests/data/test_files.h"

namespace {

// Every glyph is a solid white 8 x 8 cell, so every advance is 8 pixels.
class ScrollerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(gl.Valid());
        CPixmap sheet(128, 64);
        sheet.Fill(0xFFFFFFFFu);
        font = std::make_unique<CGLFont>(sheet, 8, 8);
    }

    platform::OffscreenGL gl;
    platform::ManualClock clock{1000};
    std::unique_ptr<CGLFont> font;
};

TEST(LoadScrollTextTest, DropsCrAndTurnsOrKeepsLf) {
    testfiles::ScratchDir dir;
    testfiles::WriteFile("data/t.txt", testfiles::Text("ab\r\ncd\r\n\r\n"));
    int32_t length = -1;
    auto spaced = LoadScrollText("data/t.txt", LineFeedRule::ToSpace, &length);
    EXPECT_STREQ(spaced.get(), "ab cd  ");
    EXPECT_EQ(length, 7);
    auto kept = LoadScrollText("data/t.txt", LineFeedRule::Keep, &length);
    EXPECT_STREQ(kept.get(), "ab\ncd\n\n");
    EXPECT_EQ(length, 7);
}

TEST(LoadScrollTextTest, MissingFileThrowsItsName) {
    testfiles::ScratchDir dir;
    try {
        LoadScrollText("data/missing.txt", LineFeedRule::Keep);
        FAIL() << "no exception";
    } catch (const CException& e) {
        EXPECT_STREQ(e.Text(), "Unable to load \"data/missing.txt\"!");
    }
}

TEST_F(ScrollerTest, AdvancePassesAtMostOneCharacterAndWraps) {
    // 8 pixels per second over 8-pixel glyphs; each step moves the clock on, advances once and
    // expects the index and (where not negative) the offset.
    struct Step {
        double seconds;
        int index;
        float offset;
    };
    struct Case {
        bool fade;
        const char* text;
        std::vector<Step> steps;
    } cases[] = {
        {false, "abc", {{1.0, 0, 8.0f}, {0.125, 1, 1.0f}}},               // passes only past the width
        {false, "abcdef", {{3.0, 1, 16.0f}, {0, 2, 8.0f}, {0, 2, 8.0f}}}, // catches up one per advance
        {false, "ab", {{1.25, 1, 2.0f}, {1.25, 0, 4.0f}}},                // wraps after the last one
        {false, "\x01\xC8z", {{1.25, 1, -1}}},               // stray codes advance like the space
        {true, "ab\n\n\ncd", {{1.25, 1, -1}, {1.0, 5, -1}}}, // a run of line feeds is skipped in one advance
        {true, "ab\n", {{1.25, 1, -1}, {1.0, 0, -1}}},       // a final line feed wraps at the last character
    };
    auto walk = [this](auto&& scroller, const Case& c) {
        for (const Step& step : c.steps) {
            clock.AdvanceSeconds(step.seconds);
            scroller.Advance();
            EXPECT_EQ(scroller.Index(), step.index) << c.text;
            if (step.offset >= 0) {
                EXPECT_FLOAT_EQ(scroller.ScrollOffset(), step.offset) << c.text;
            }
            EXPECT_EQ(*scroller.Current(), c.text[step.index]) << c.text;
        }
        scroller.Draw(); // must not look outside the glyph table
    };
    for (const Case& c : cases) {
        if (c.fade)
            walk(CFadeScroller(c.text, false, 10.0f, font.get(), 8.0f), c);
        else
            walk(CSineScroller(c.text, false, 10.0f, font.get(), 8.0f), c);
    }
}

TEST_F(ScrollerTest, SineDrawsAStraightLineAndStopsAtTheTextEnd) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    CSineScroller scroller("ab", false, 10.0f, font.get(), 8.0f);
    glColor3f(0.0f, 1.0f, 0.0f);
    scroller.Draw();
    const auto pixels = gl.ReadPixels();
    EXPECT_EQ(gl.PixelRGB(pixels, 4, 14) & 0x00FF00u, gl.PixelRGB(pixels, 12, 14) & 0x00FF00u);
    EXPECT_NE(gl.PixelRGB(pixels, 4, 14), 0u);
    EXPECT_EQ(gl.PixelRGB(pixels, 4, 5), 0u);   // above the line: amplitude 0
    EXPECT_EQ(gl.PixelRGB(pixels, 40, 14), 0u); // right of the text's end
}

TEST_F(ScrollerTest, SineWaveMovesGlyphsDown) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    std::string text(100, 'x');
    CSineScroller scroller(text.c_str(), false, 100.0f, font.get(), 8.0f);
    scroller.amplitude = 20.0f;
    scroller.waveFactor = 1.0f; // crest at mid-screen
    glColor3f(1.0f, 1.0f, 1.0f);
    scroller.Draw();
    const auto pixels = gl.ReadPixels();
    EXPECT_EQ(gl.PixelRGB(pixels, 320, 102), 0u); // lifted off the rest line
    EXPECT_NE(gl.PixelRGB(pixels, 320, 124), 0u); // shifted down by the crest
    EXPECT_NE(gl.PixelRGB(pixels, 2, 102), 0u);   // wave 0 at the left edge
}

TEST_F(ScrollerTest, EmptyTextDoesNothing) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    CSineScroller sine("", false, 10.0f, font.get(), 8.0f);
    CFadeScroller fade("", false, 10.0f, font.get(), 8.0f);
    clock.AdvanceSeconds(5.0);
    sine.Advance();
    fade.Advance();
    glColor3f(1.0f, 1.0f, 1.0f);
    sine.Draw();
    fade.Draw();
    EXPECT_EQ(sine.Index(), 0);
    EXPECT_EQ(fade.Index(), 0);
    EXPECT_EQ(gl.PixelRGB(gl.ReadPixels(), 4, 14), 0u);
}

TEST_F(ScrollerTest, FadeDrawsOnlyTheCurrentLine) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    // Forty glyphs reach the opaque middle; the next line must not follow.
    std::string text = std::string(20, ' ') + std::string(20, 'x') + "\n" + std::string(60, 'y');
    CFadeScroller scroller(text.c_str(), false, 100.0f, font.get(), 8.0f);
    scroller.Draw();
    const auto pixels = gl.ReadPixels();
    EXPECT_EQ(gl.PixelRGB(pixels, 300, 104), 0xFFFFFFu); // x 300 is in the opaque middle
    EXPECT_EQ(gl.PixelRGB(pixels, 330, 104), 0u);        // past the line's end
}

TEST(FadeAlphaTest, RampsAtBothSides) {
    const float w = 640.0f, f = 256.0f;
    EXPECT_FLOAT_EQ(CFadeScroller::AlphaAt(f, w), 1.0f);
    EXPECT_FLOAT_EQ(CFadeScroller::AlphaAt(w - f, w), 1.0f);
    EXPECT_FLOAT_EQ(CFadeScroller::AlphaAt(w / 2, w), 1.0f);
    EXPECT_FLOAT_EQ(CFadeScroller::AlphaAt(0.0f, w), 0.0f);
    EXPECT_FLOAT_EQ(CFadeScroller::AlphaAt(f / 2, w), 0.5f);
    EXPECT_FLOAT_EQ(CFadeScroller::AlphaAt(w - f / 4, w), 0.25f);
    EXPECT_LT(CFadeScroller::AlphaAt(-8.0f, w), 0.0f); // left of the screen
    EXPECT_LT(CFadeScroller::AlphaAt(w + 8.0f, w), 0.0f);
}

} // namespace
