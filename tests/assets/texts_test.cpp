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

// The top text is one long line; the bottom 22 lines, each ending in CR LF. Every line starts
// after 68 spaces and holds only codes the font draws.
TEST(ScrollTexts, LinesStartAfter68SpacesAndArePrintable) {
    const struct {
        const char* name;
        size_t count;
        bool crLf;
    } texts[] = {{"topscroller.txt", 1, false}, {"botscroller.txt", 22, true}};
    for (const auto& [name, count, crLf] : texts) {
        const std::string text = Read(name);
        ASSERT_GT(text.size(), 1000u) << name;
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(text.substr(start, end - start));
        EXPECT_EQ(start == text.size(), crLf) << name;
        if (start < text.size())
            lines.push_back(text.substr(start));
        ASSERT_EQ(lines.size(), count) << name;
        for (const std::string& line : lines) {
            EXPECT_EQ(line.find_first_not_of(' '), 68u) << line;
            EXPECT_TRUE(PrintableOnly(line)) << line;
        }
    }
}

} // namespace
