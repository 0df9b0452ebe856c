// OpenGL 1.1 and GLU headers; Windows needs its own header first.
#pragma once
#include "platform/windows_headers.h"
#include <GL/gl.h>
#include <GL/glu.h>
