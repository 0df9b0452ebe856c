// One long line of text running right to left, each glyph riding a sine wave
// that stands still on the screen.
#pragma once
#include <cstdint>

#include "text/gl_font.h"
#include "text/scroll_text.h"

class CSineScroller {
public:
    // With fromFile false the path itself is the text. Throws CException when
    // the file cannot be opened.
    CSineScroller(const char* path, bool fromFile, float y, const CGLFont* font, float speed);

    void Advance();
    void Draw() const;

    int32_t Index() const { return cursor.Index(); }
    float ScrollOffset() const { return cursor.ScrollOffset(); }
    const char* Current() const { return cursor.Current(); }

    float amplitude = 0.0f;
    float waveFactor = 0.0f;

private:
    const CGLFont* font;
    float y;
    float speed;
    CScrollCursor cursor;
};
