// A text shown line by line, running right to left, fading in over the right
// 40 % of the screen and out over the left 40 %.
#pragma once
#include <cstdint>
#include <memory>

#include "text/gl_font.h"
#include "text/scroll_text.h"

class CFadeScroller {
public:
    // With fromFile false the path itself is the text. Throws CException when
    // the file cannot be opened.
    CFadeScroller(const char* path, bool fromFile, float y, const CGLFont* font, float speed);

    void Advance();
    void Draw() const;

    // Opacity at screen position p for a screen width: linear ramps of 0.4 W
    // at both sides, unclamped.
    static float AlphaAt(float p, float screenWidth);

    int32_t Index() const { return index; }
    float ScrollOffset() const { return scrollOffset; }
    const char* Current() const { return current; }

    float red = 1.0f;
    float green = 1.0f;
    float blue = 1.0f;

private:
    const CGLFont* font;
    std::unique_ptr<char[]> text;
    const char* current;
    int32_t index = 0;
    int32_t length = 0;
    float speed;
    float y;
    float frameTime = 0.0f;
    float scrollOffset = 0.0f;
    CFrameTimer timer;
};
