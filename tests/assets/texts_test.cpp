// The committed scroll texts: the layout the scrollers expect and nothing the
// font has no glyph for.
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::string Read(const char* name) {
    std::ifstream in(std::string(TINSEL_ASSETS_DIR) + "/data/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool PrintableOnly(const std::string& line) {
    for (unsigned char c : line)
        if (c < 32 || c > 122)
            return false;
    return true;
}

TEST(ScrollTexts, TopIsOneLongLineAfter68Spaces) {
    const std::string top = Read("topscroller.txt");
    ASSERT_GT(top.size(), 1000u);
    EXPECT_EQ(top.find_first_not_of(' '), 68u);
    EXPECT_TRUE(PrintableOnly(top));
}

TEST(ScrollTexts, BottomIs22CrLfLinesEachAfter68Spaces) {
    const std::string bottom = Read("botscroller.txt");
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = bottom.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(bottom.substr(start, end - start));
    EXPECT_EQ(start, bottom.size()) << "text after the last CR LF";
    ASSERT_EQ(lines.size(), 22u);
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find_first_not_of(' '), 68u) << line;
        EXPECT_TRUE(PrintableOnly(line)) << line;
    }
}

} // namespace
