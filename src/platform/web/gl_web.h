// The few fixed-function calls that WebGL, under the emulation, has no room
// for: each is turned into what WebGL can do, so the page's console stays
// clean and the program's GL code reads the same on every backend.
#pragma once
#include <GL/gl.h>

namespace platform {

// WebGL has no perspective-correction hint (it always corrects); asking for
// one is an error there.
inline void WebHint(GLenum target, GLenum mode) {
    if (target != GL_PERSPECTIVE_CORRECTION_HINT)
        glHint(target, mode);
}

// WebGL has no clamping to a border colour; for the font's nearest-texel
// sampling, clamping to the edge texels is the same picture.
inline void WebTexParameteri(GLenum target, GLenum name, GLint value) {
    glTexParameteri(target, name, value == GL_CLAMP ? GL_CLAMP_TO_EDGE : value);
}

// The emulation always shades smoothly; there is no flat setting to pass on.
inline void WebShadeModel(GLenum) {}

} // namespace platform

#define glHint platform::WebHint
#define glTexParameteri platform::WebTexParameteri
#define glShadeModel platform::WebShadeModel
