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

void UploadPixels(uint32_t texture, int32_t width, int32_t height, const uint32_t* pixels, TextureLook look) {
    const GLint wrap = look == TextureLook::Smooth ? GL_REPEAT : GL_CLAMP;
    const GLint filter = look == TextureLook::Smooth ? GL_LINEAR : GL_NEAREST;
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
}

void CTexture::Upload() {
    UploadPixels(texture, width, height, pixels, TextureLook::Smooth);
}
