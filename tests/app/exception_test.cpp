#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "base/exception.h"

// printf-style formatting, cut at 1023 characters, and a move that hands over the one text.
TEST(Exception, FormatsCutsAndMoves) {
    CException e("LoadImage(): '%s' is %d%%", "data/koala.tga", 50);
    EXPECT_STREQ(e.Text(), "LoadImage(): 'data/koala.tga' is 50%");
    EXPECT_EQ(std::string(CException("%s!", std::string(5000, 'x').c_str()).Text()), std::string(1023, 'x'));
    EXPECT_EQ(std::string(CException("%s", std::string(1023, 'y').c_str()).Text()).size(), 1023u);
    const char* text = e.Text();
    CException second(std::move(e));
    EXPECT_EQ(second.Text(), text); // the same buffer, not a copy
    EXPECT_EQ(e.Text(), nullptr);
}
