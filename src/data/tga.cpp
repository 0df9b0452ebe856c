#include "data/tga.h"

#include <cstdint>

#include "base/exception.h"
#include "data/data_file.h"

namespace {

constexpr const char* kInvalid = "LoadImage(): '%s' is an invalid TGA file!";

} // namespace

std::unique_ptr<CPixmap> LoadImage(const char* path) {
    CDataFile reader;
    if (!reader.Open(path))
        throw CException("LoadImage(): Unable to open '%s'!", path);

    uint8_t idLength = 0, colourMapType = 0, imageType = 0;
    bool ok = reader.Read(&idLength, 1, 1) == 1;
    ok = reader.Read(&colourMapType, 1, 1) == 1 && ok;
    ok = reader.Read(&imageType, 1, 1) == 1 && ok;
    if (imageType != 2)
        throw CException("LoadImage(): '%s' is not an uncompressed truecolour TGA!", path);

    uint16_t mapFirst = 0, mapLength = 0, xOrigin = 0, yOrigin = 0, width = 0, height = 0;
    uint8_t mapEntrySize = 0, depth = 0, descriptor = 0;
    ok = reader.Read(&mapFirst, 2, 1) == 1 && ok;
    ok = reader.Read(&mapLength, 2, 1) == 1 && ok;
    ok = reader.Read(&mapEntrySize, 1, 1) == 1 && ok;
    ok = reader.Read(&xOrigin, 2, 1) == 1 && ok;
    ok = reader.Read(&yOrigin, 2, 1) == 1 && ok;
    ok = reader.Read(&width, 2, 1) == 1 && ok;
    ok = reader.Read(&height, 2, 1) == 1 && ok;
    ok = reader.Read(&depth, 1, 1) == 1 && ok;
    // The header's 16-bit fields are little-endian, as is every target of the program.
    if (colourMapType != 0 || (depth != 24 && depth != 32))
        throw CException(kInvalid, path);
    ok = reader.Read(&descriptor, 1, 1) == 1 && ok;
    // An image ID that runs past the end would leave the pixels read from inside it.
    if (idLength != 0)
        ok = reader.Seek(idLength, 1) && ok;

    // A cut header or pixels that the rest of the file cannot hold are refused before allocating.
    const int bytesPerPixel = depth / 8;
    const int64_t pixelBytes = int64_t(width) * height * bytesPerPixel;
    if (!ok || pixelBytes > int64_t(reader.Size()) - reader.Tell())
        throw CException(kInvalid, path);

    auto pixmap = std::make_unique<CPixmap>(width, height);
    const bool topFirst = (descriptor & 0x20) != 0;
    for (int k = 0; k < height; ++k) {
        uint32_t* row = pixmap->pixels + size_t(topFirst ? k : height - 1 - k) * width;
        for (int x = 0; x < width; ++x) {
            uint8_t bytes[4] = {0, 0, 0, 0};
            if (reader.Read(bytes, bytesPerPixel, 1) != 1)
                throw CException(kInvalid, path);
            auto* out = reinterpret_cast<uint8_t*>(row + x);
            out[0] = bytes[0];
            out[1] = bytes[1];
            out[2] = bytes[2];
            out[3] = bytes[3];
        }
    }
    reader.Close();
    return pixmap;
}
