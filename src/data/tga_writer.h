// Writes uncompressed 32-bit TGAs in the byte order our loader keeps as it is
// (red, green, blue, alpha), for the asset tools and the tests' stand-in data.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

// rgbaAt(x, y) gives 0xRRGGBBAA with y counted down from the top row. Rows are
// stored bottom-up unless topDown, which sets descriptor bit 0x20.
std::string EncodeTga32(int32_t width, int32_t height,
                        const std::function<uint32_t(int32_t x, int32_t y)>& rgbaAt, bool topDown = false);
