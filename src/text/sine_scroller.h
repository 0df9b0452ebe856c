// One long line of text running right to left, each glyph riding a sine wave
// that stands still on the screen.
#pragma once
#include <cstdint>
#include <memory>

#include "text/gl_font.h"
#include "text/scroll_text.h"

class CSineScroller {
public:
    // With fromFile false the path itself is the text. Throws CException when
    // the file cannot be opened.
    CSineScroller(const char* path, bool fromFile, float y, const CGLFont* font, float speed);

    void Advance();
    void Draw() const;

    int32_t Index() const { return index; }
    float ScrollOffset() const { return scrollOffset; }
    const char* Current() const { return current; }

    float amplitude = 0.0f;
    float waveFactor = 0.0f;

private:
    const CGLFont* font;
    std::unique_ptr<char[]> text;
    const char* current;
    int32_t index = 0;
    int32_t length = 0;
    float y;
    float speed;
    float frameTime = 0.0f;
    float scrollOffset = 0.0f;
    CFrameTimer timer;
};
