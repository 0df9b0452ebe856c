#include "text/sine_scroller.h"

#include <cmath>

#include "base/screen.h"
#include "platform/gl.h"

CSineScroller::CSineScroller(const char* path, bool fromFile, float y_, const CGLFont* font_, float speed_)
    : font(font_), y(y_), speed(speed_),
      cursor(fromFile ? LoadScrollText(path, LineFeedRule::ToSpace) : CopyScrollText(path)) {}

void CSineScroller::Advance() {
    cursor.Advance(*font, speed, false);
}

void CSineScroller::Draw() const {
    if (cursor.Empty())
        return;
    float x = -cursor.ScrollOffset();
    font->Begin2D();
    glBegin(GL_QUADS);
    for (const char* c = cursor.Current(); *c != 0 && x < float(g_screenWidth); ++c) {
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
