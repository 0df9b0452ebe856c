// OpenGL 1.1 and GLU headers; Windows needs its own header first, and the
// page maps the few calls WebGL lacks.
#pragma once
#include "platform/windows_headers.h"
#include <GL/gl.h>
#include <GL/glu.h>
#ifdef __EMSCRIPTEN__
#include "platform/web/gl_web.h"
#endif
