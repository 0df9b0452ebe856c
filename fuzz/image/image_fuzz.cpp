// Loads arbitrary bytes as a picture file. A picture that loads has the size
// its header gives, fits the file and holds the file's pixels; one that fails
// says why in one of the loader's own messages.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/exception.h"
#include "data/tga.h"
#include "fuzz/memory_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = fuzz::AsFile(data, size);
    try {
        const auto pixmap = LoadImage(path);
        if (size < 18)
            std::abort();
        const int32_t width = data[12] | data[13] << 8;
        const int32_t height = data[14] | data[15] << 8;
        const size_t needed = 18 + data[0] + size_t(width) * size_t(height) * (data[16] / 8);
        if (pixmap->width != width || pixmap->height != height || needed > size || data[2] != 2)
            std::abort();
        // Each pixel holds its bytes from the file, rows in the order the descriptor gives.
        const int bytesPerPixel = data[16] / 8;
        const uint8_t* filePixel = data + 18 + data[0];
        for (int32_t k = 0; k < height; ++k) {
            const int32_t row = (data[17] & 0x20) ? k : height - 1 - k;
            for (int32_t x = 0; x < width; ++x, filePixel += bytesPerPixel) {
                uint8_t want[4] = {0, 0, 0, 0};
                std::memcpy(want, filePixel, size_t(bytesPerPixel));
                if (std::memcmp(pixmap->pixels + size_t(row) * width + x, want, 4) != 0)
                    std::abort();
            }
        }
    } catch (const CException& e) {
        if (std::strstr(e.Text(), "LoadImage(): ") != e.Text())
            std::abort();
    }
    return 0;
}
