#include "text/sine_scroller.h"

#include <cmath>

#include <cstring>

#include "app/window.h"
#include "platform/gl.h"

CSineScroller::CSineScroller(const char* path, bool fromFile, float y_, const CGLFont* font_, float speed_)
    : font(font_), text(fromFile ? LoadScrollText(path, LineFeedRule::ToSpace) : CopyScrollText(path)),
      current(text.get()), y(y_), speed(speed_) {
    length = int32_t(std::strlen(text.get()));
}

void CSineScroller::Advance() {
    if (length == 0)
        return;
    frameTime = timer.Measure();
    scrollOffset = speed * frameTime + scrollOffset;
    const float w = float(font->GetGlyph(*current).width);
    if (scrollOffset > w) {
        ++current;
        ++index;
        scrollOffset -= w;
        if (index == length) {
            index = 0;
            current = text.get();
        }
    }
}

void CSineScroller::Draw() const {
    if (length == 0)
        return;
    float x = -scrollOffset;
    font->Begin2D();
    glBegin(GL_QUADS);
    for (const char* c = current; *c != 0 && x < float(g_screenWidth); ++c) {
        const float k = waveFactor * 3.14159f / float(g_screenWidth);
        const Glyph& g = font->GetGlyph(*c);
        const float sLeft = amplitude * std::sin(x * k);
        const float sRight = amplitude * std::sin((x + float(g.width)) * k);
        glTexCoord2f(g.texLeft, g.texBottom);
        glVertex2f(x, y + sLeft + float(g.height));
        glTexCoord2f(g.texRight, g.texBottom);
        glVertex2f(x + float(g.width), y + sRight + float(g.height));
        glTexCoord2f(g.texRight, g.texTop);
        glVertex2f(x + float(g.width), y + sRight);
        glTexCoord2f(g.texLeft, g.texTop);
        glVertex2f(x, y + sLeft);
        x += float(g.width);
    }
    glEnd();
    font->End2D();
}
