// The committed scroll texts: the layout the scrollers expect and nothing the
// font has no glyph for.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/test_util.h"

namespace {

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
