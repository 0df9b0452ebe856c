#include "data/texture.h"

#include <cstring>

#include "data/tga.h"
#include "platform/gl.h"

CTexture::CTexture(const char* path) : CTexture(*LoadImage(path)) {}

CTexture::CTexture(const CPixmap& source) : CPixmap(source.width, source.height), texture(0) {
    std::memcpy(pixels, source.pixels, size_t(width) * size_t(height) * sizeof(uint32_t));
    GLuint name = 0;
    glGenTextures(1, &name);
    texture = name;
    Upload();
}

CTexture::~CTexture() {
    GLuint name = texture;
    glDeleteTextures(1, &name);
}

void CTexture::Upload() {
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
}
