#include "text/fade_scroller.h"

#include "base/screen.h"
#include "platform/gl.h"

CFadeScroller::CFadeScroller(const char* path, bool fromFile, float y_, const CGLFont* font_, float speed_)
    : font(font_), speed(speed_), y(y_),
      cursor(fromFile ? LoadScrollText(path, LineFeedRule::Keep) : CopyScrollText(path)) {}

void CFadeScroller::Advance() {
    cursor.Advance(*font, speed, true);
}

float CFadeScroller::AlphaAt(float p, float screenWidth) {
    const float f = screenWidth * 0.4f;
    if (p < f)
        return p / f;
    if (p > screenWidth - f)
        return (screenWidth - p) / f;
    return 1.0f;
}

void CFadeScroller::Draw() const {
    if (cursor.Empty())
        return;
    float x = -cursor.ScrollOffset();
    const float w = float(g_screenWidth);
    font->Begin2D();
    glBegin(GL_QUADS);
    for (const char* c = cursor.Current(); *c != 0 && *c != 10 && x < w; ++c) {
        const Glyph& g = font->GetGlyph(*c);
        const float right = x + float(g.width);
        const float aLeft = AlphaAt(x, w);
        const float aRight = AlphaAt(right, w);
        glColor4f(red, green, blue, aLeft);
        glTexCoord2f(g.texLeft, g.texBottom);
        glVertex2f(x, y + float(g.height));
        glColor4f(red, green, blue, aRight);
        glTexCoord2f(g.texRight, g.texBottom);
        glVertex2f(right, y + float(g.height));
        glColor4f(red, green, blue, aRight);
        glTexCoord2f(g.texRight, g.texTop);
        glVertex2f(right, y);
        glColor4f(red, green, blue, aLeft);
        glTexCoord2f(g.texLeft, g.texTop);
        glVertex2f(x, y);
        x = right;
    }
    glEnd();
    font->End2D();
}
