// The committed data files as the demo reads them: the pictures' size, an
// opaque beach strip and nothing outside each sprite's texture rectangle; the
// scroll texts in the layout the scrollers expect, with nothing the font has
// no glyph for.
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/tga.h"
#include "scene/sprites.h"
#include "tests/common/test_util.h"

namespace {

// The pixels artgen may draw for a sprite: its texels and the row and column
// just past its far edges, inside the picture.
struct Rect {
    int x0, y0, x1, y1; // inclusive
    Rect(SpriteRect r)
        : x0(r.x0), y0(r.y0), x1(std::min(r.x1, kPictureWidth - 1)), y1(std::min(r.y1, kPictureHeight - 1)) {}
};

class Pictures : public ::testing::Test {
protected:
    // The loader looks up "data/..." relative to the current directory.
    void SetUp() override { ASSERT_EQ(chdir(TINSEL_ASSETS_DIR), 0); }

    static uint8_t Alpha(const CPixmap& p, int x, int y) {
        return uint8_t(p.pixels[size_t(y) * size_t(p.width) + size_t(x)] >> 24);
    }
    // Counts pixels with any alpha outside every one of the rectangles.
    static int StrayPixels(const CPixmap& p, std::initializer_list<Rect> sprites) {
        int stray = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                bool inside = false;
                for (const Rect& r : sprites)
                    inside |= x >= r.x0 && x <= r.x1 && y >= r.y0 && y <= r.y1;
                stray += !inside && Alpha(p, x, y) != 0;
            }
        return stray;
    }
    static int VisiblePixels(const CPixmap& p, Rect r) {
        int visible = 0;
        for (int y = r.y0; y <= r.y1; ++y)
            for (int x = r.x0; x <= r.x1; ++x)
                visible += Alpha(p, x, y) != 0;
        return visible;
    }
};

TEST_F(Pictures, AllAre256By512WithSpritesInsideTheirRectangles) {
    const Rect sun = kSun, barbecue = kBarbecue, strip = kBeachStrip;
    const Rect koala = kKoala, bottle = kBottle, kangaroo = kKangaroo;
    struct Case {
        const char* path;
        std::initializer_list<Rect> sprites;
    };
    for (const Case& c : {Case{"data/sunbbqbeach.tga", {sun, barbecue, strip}},
                          Case{"data/koala.tga", {koala}}, Case{"data/roobeer.tga", {bottle, kangaroo}}}) {
        SCOPED_TRACE(c.path);
        const auto picture = LoadImage(c.path);
        ASSERT_EQ(picture->width, 256);
        ASSERT_EQ(picture->height, 512);
        EXPECT_EQ(StrayPixels(*picture, c.sprites), 0);
        for (const Rect& r : c.sprites) {
            const int area = (r.x1 - r.x0 + 1) * (r.y1 - r.y0 + 1);
            // Each sprite fills a good part of its rectangle rather than a corner of it.
            EXPECT_GT(VisiblePixels(*picture, r), area / 5);
        }
    }
}

TEST_F(Pictures, BeachStripIsOpaqueSkyAboveSand) {
    const auto beach = LoadImage("data/sunbbqbeach.tga");
    for (int y = 384; y < 512; ++y)
        for (int x = 0; x < 256; ++x)
            ASSERT_EQ(Alpha(*beach, x, y), 255) << x << "," << y;
    // Bytes in memory are red, green, blue, alpha: the sky is blue, the sand is not.
    const uint32_t sky = beach->pixels[386 * 256 + 128], sand = beach->pixels[505 * 256 + 128];
    EXPECT_GT((sky >> 16) & 0xFF, sky & 0xFF);
    EXPECT_GT(sand & 0xFF, (sand >> 16) & 0xFF);
}

// Each line starts after 68 spaces: the top text is one long line, the bottom
// one 22 lines each ending in CR LF.
TEST(ScrollTexts, LinesAfter68SpacesInPrintableCharacters) {
    const std::string top = testutil::ReadFile(TINSEL_ASSETS_DIR "/data/topscroller.txt");
    const std::string bottom = testutil::ReadFile(TINSEL_ASSETS_DIR "/data/botscroller.txt");
    EXPECT_GT(top.size(), 1000u);
    std::vector<std::string> lines = {top};
    size_t start = 0;
    for (size_t end; (end = bottom.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(bottom.substr(start, end - start));
    EXPECT_EQ(start, bottom.size()) << "text after the last CR LF";
    ASSERT_EQ(lines.size(), 1u + 22u);
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find_first_not_of(' '), 68u) << line;
        EXPECT_TRUE(std::all_of(line.begin(), line.end(), [](unsigned char c) {
            return c >= 32 && c <= 122;
        })) << line;
    }
}

} // namespace
