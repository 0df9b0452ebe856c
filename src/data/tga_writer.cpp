#include "data/tga_writer.h"

std::string EncodeTga32(int32_t width, int32_t height,
                        const std::function<uint32_t(int32_t x, int32_t y)>& rgbaAt, bool topDown) {
    std::string tga(18, '\0');
    tga[2] = 2; // uncompressed true-colour
    tga[12] = char(width & 0xFF);
    tga[13] = char(width >> 8);
    tga[14] = char(height & 0xFF);
    tga[15] = char(height >> 8);
    tga[16] = 32;
    tga[17] = char(topDown ? 0x28 : 0x08); // 8 alpha bits
    tga.reserve(tga.size() + size_t(width) * size_t(height) * 4);
    for (int32_t row = 0; row < height; ++row) {
        const int32_t y = topDown ? row : height - 1 - row;
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t rgba = rgbaAt(x, y);
            tga.push_back(char(rgba >> 24));
            tga.push_back(char(rgba >> 16));
            tga.push_back(char(rgba >> 8));
            tga.push_back(char(rgba));
        }
    }
    return tga;
}
