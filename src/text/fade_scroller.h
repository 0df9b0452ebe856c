// A text shown line by line, running right to left, fading in over the right
// 40 % of the screen and out over the left 40 %.
#pragma once
#include <cstdint>

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

    int32_t Index() const { return cursor.Index(); }
    float ScrollOffset() const { return cursor.ScrollOffset(); }
    const char* Current() const { return cursor.Current(); }

    float red = 1.0f;
    float green = 1.0f;
    float blue = 1.0f;

private:
    const CGLFont* font;
    float speed;
    float y;
    CScrollCursor cursor;
};
