// A pixmap that is also an OpenGL texture; needs a current GL context for its whole life.
#pragma once
#include <cstdint>

#include "data/pixmap.h"

class CTexture : public CPixmap {
public:
    // Loads the picture and uploads it; throws what LoadImage throws.
    explicit CTexture(const char* path);
    // Copies the pixels of an existing pixmap and uploads them.
    explicit CTexture(const CPixmap& source);
    ~CTexture() override;

    void Upload();

    uint32_t texture;
};
