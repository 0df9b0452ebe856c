#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "base/exception.h"
#include "data/tga.h"
#include "test_files.h"

using namespace testfiles;

namespace {

// A TGA header followed by an image ID and the given pixel bytes.
Bytes Tga(uint8_t type, uint8_t depth, uint16_t w, uint16_t h, uint8_t descriptor, const Bytes& pixels,
          uint8_t mapType = 0, const Bytes& id = {}) {
    const Bytes header = {uint8_t(id.size()),
                          mapType,
                          type,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0,
                          uint8_t(w),
                          uint8_t(w >> 8),
                          uint8_t(h),
                          uint8_t(h >> 8),
                          depth,
                          descriptor};
    return Concat({header, id, pixels});
}

// The picture as "WxH: r,g,b,a ..." in memory order, or the loader's refusal.
std::string Loaded(const char* path) {
    try {
        const auto p = LoadImage(path);
        std::string out = std::to_string(p->width) + "x" + std::to_string(p->height) + ":";
        const auto* bytes = reinterpret_cast<const uint8_t*>(p->pixels);
        for (int i = 0; i < p->width * p->height * 4; ++i)
            out += (i % 4 ? "," : " ") + std::to_string(bytes[i]);
        return out;
    } catch (const CException& e) {
        return e.Text();
    }
}

class ImageTest : public ::testing::Test {
protected:
    ScratchDir dir;
};

} // namespace

// 24-bit pixels get alpha 0 and bottom-up rows are flipped; 32-bit top-down pixels keep their
// bytes, and an image ID is skipped. Each refusal carries the right text.
TEST_F(ImageTest, PixelsLandInReadingOrderOrTheFileIsRefused) {
    const Bytes bytes24 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, bytes32 = {1, 2, 3, 4, 5, 6, 7, 8};
    const char* notTrueColour = "LoadImage(): 't.tga' is not an uncompressed truecolour TGA!";
    const char* invalid = "LoadImage(): 't.tga' is an invalid TGA file!";
    Bytes cutHeader = Tga(2, 32, 1, 1, 0, {});
    cutHeader.resize(10);
    // An image ID that claims more bytes than follow: the pixels are not read from inside it.
    Bytes cutId = Tga(2, 32, 1, 1, 0, {}, 0, Bytes(40, 7));
    cutId.resize(18 + 8);
    std::vector<std::pair<Bytes, std::string>> cases = {
        {Tga(2, 24, 2, 2, 0, bytes24), "2x2: 7,8,9,0 10,11,12,0 1,2,3,0 4,5,6,0"},
        {Tga(2, 32, 1, 2, 0x20, bytes32), "1x2: 1,2,3,4 5,6,7,8"},
        {Tga(2, 32, 1, 2, 0x20, bytes32, 0, Text("an image id")), "1x2: 1,2,3,4 5,6,7,8"},
        {Tga(2, 16, 1, 1, 0, {0, 0}), invalid},          // 16-bit depth
        {Tga(2, 32, 1, 1, 0, {0, 0, 0, 0}, 1), invalid}, // a colour map
        {Tga(2, 32, 2, 2, 0, Bytes(15, 0)), invalid},    // pixels cut short
        {Tga(2, 32, 65535, 65535, 0, {}), invalid},      // absurd size: refused before allocating
        {cutHeader, invalid},
        {cutId, invalid},
    };
    for (uint8_t type : {1, 3, 9, 10, 11}) // colour-mapped, grey, run-length encoded
        cases.push_back({Tga(type, 32, 1, 1, 0, {0, 0, 0, 0}), notTrueColour});
    for (const auto& [bytes, want] : cases) {
        WriteFile("t.tga", bytes);
        EXPECT_EQ(Loaded("t.tga"), want) << "image type " << int(bytes.size() > 2 ? bytes[2] : 0);
    }
    EXPECT_EQ(Loaded("none.tga"), "LoadImage(): Unable to open 'none.tga'!");
}

// Each rectangle against a pixel-by-pixel model: a destination pixel takes the source pixel it
// lies over when that lies inside both the rectangle and the source; the rest stays as it was.
TEST(BlitTest, ClipsToTheRectangleAndBothPixmaps) {
    CPixmap src(4, 4), dst(6, 5);
    for (int i = 0; i < 16; ++i)
        src.pixels[i] = uint32_t(i + 1);
    const int32_t big = 2147483647;
    for (auto a : {std::array<int32_t, 6>{0, 0, 4, 4, 0, 0}, // whole picture into a larger pixmap
                   {0, 0, 4, 4, -2, -1},                     // negative destination
                   {-1, 0, 3, 1, 0, 0},                      // negative source shifts the destination
                   {2, 2, 100, 100, 3, 3},                   // oversized rectangle
                   {1, 1, 2, 2, 5, 2},                       // cut at the right
                   {1, 1, 2, 2, 3, 4},                       // cut at the bottom
                   {0, 0, 4, 4, 6, 0},                       // from here on, nothing lands
                   {0, 0, 4, 4, -4, 0},
                   {4, 0, 1, 1, 0, 0},
                   {0, 0, 0, 4, 0, 0},
                   {0, 0, 4, 4, 0, -big},
                   {-big, 0, big, 4, 0, 0}}) {
        dst.Fill(0x22222222);
        dst.Blit(src, a[0], a[1], a[2], a[3], a[4], a[5]);
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 6; ++x) {
                const int64_t sx = int64_t(x) - a[4] + a[0], sy = int64_t(y) - a[5] + a[1];
                const bool inside =
                    sx >= std::max(a[0], 0) && sx < std::min(int64_t(a[0]) + a[2], int64_t(4)) &&
                    sy >= std::max(a[1], 0) && sy < std::min(int64_t(a[1]) + a[3], int64_t(4));
                ASSERT_EQ(dst.pixels[y * 6 + x], inside ? src.pixels[sy * 4 + sx] : 0x22222222u)
                    << "blit " << a[0] << "," << a[1] << " " << a[2] << "x" << a[3] << " to " << a[4] << ","
                    << a[5] << ", pixel " << x << "," << y;
            }
        }
    }
}

TEST(BlitTest, OverlappingCopyWithinOnePixmapActsAsMemmove) {
    // Shifts of a 3 x 3 block inside a 6 x 6 pixmap in every direction: the
    // block arrives whole, as from a copy taken before the move.
    for (auto [dx, dy] : {std::pair{1, 1}, {-1, -1}, {1, -1}, {-1, 1}, {2, 0}, {0, 2}}) {
        CPixmap p(6, 6), before(6, 6);
        for (int i = 0; i < 36; ++i)
            p.pixels[i] = before.pixels[i] = uint32_t(i + 1);
        p.Blit(p, 1, 1, 3, 3, 1 + dx, 1 + dy);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x)
                ASSERT_EQ(p.pixels[(1 + dy + y) * 6 + 1 + dx + x], before.pixels[(1 + y) * 6 + 1 + x])
                    << "shift " << dx << "," << dy << " at " << x << "," << y;
    }
}
