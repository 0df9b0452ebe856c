// A pixmap that is also an OpenGL texture; needs a current GL context for its whole life.
#pragma once
#include <cstdint>

#include "data/pixmap.h"

// How a texture reads between its texels and past its edges.
enum class TextureLook {
    Smooth, // linear between texels, repeated past the edges: pictures
    Sharp,  // the nearest texel, the edge held: glyphs
};

// Binds texture and uploads width x height pixels (none where null) to it, with look.
void UploadPixels(uint32_t texture, int32_t width, int32_t height, const uint32_t* pixels, TextureLook look);

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
