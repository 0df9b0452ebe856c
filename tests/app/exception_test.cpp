#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "base/exception.h"

TEST(Exception, FormatsPrintfStyle) {
    CException e("LoadImage(): '%s' is %d%%", "data/koala.tga", 50);
    EXPECT_STREQ(e.Text(), "LoadImage(): 'data/koala.tga' is 50%");
}

TEST(Exception, CutsLongMessagesTo1023Characters) {
    std::string longText(5000, 'x');
    CException e("%s!", longText.c_str());
    EXPECT_EQ(std::string(e.Text()), std::string(1023, 'x'));
    CException exact("%s", std::string(1023, 'y').c_str());
    EXPECT_EQ(std::string(exact.Text()).size(), 1023u);
}

TEST(Exception, MovingHandsOverTheOneText) {
    CException first("moved %d", 1);
    const char* text = first.Text();
    CException second(std::move(first));
    EXPECT_EQ(second.Text(), text); // the same buffer, not a copy
    EXPECT_EQ(first.Text(), nullptr);
}
