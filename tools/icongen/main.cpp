// icongen: the Windows exe's icon, cut from the demo's koala picture (the head
// in its Santa hat) and scaled to each size the shell asks for.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/exception.h"
#include "data/tga.h"
#include "scene/sprites.h"
#include "tools/cli.h"

namespace {

const char* kUsage = "Usage: icongen KOALA.tga -o ICON.ico\n"
                     "       icongen --help\n"
                     "Cuts the koala's head in its Santa hat out of the demo's koala picture\n"
                     "(256 x 512, 32-bit TGA) and writes it as a Windows icon of 16, 24, 32,\n"
                     "48 and 64 pixels (32-bit bitmaps with their masks) and 256 pixels (PNG).\n";

// The head and hat within the koala sprite: its full width, from the hat's tip
// down to the chin.
constexpr int kCropX = kKoala.x0, kCropY = 158, kCropSide = kKoala.x1 - kKoala.x0;
constexpr int kSizes[] = {16, 24, 32, 48, 64, 256};
constexpr int kLargestBitmap = 64; // larger images go as PNG, as the shell expects

// Straight colour and alpha, 0..1, row 0 at the top.
struct Pixel {
    double r, g, b, a;
};
using Image = std::vector<Pixel>;

// Weights of the source pixels that make one output pixel along an axis: a tent
// as wide as one output pixel on each side (at least one source pixel), so the
// same filter averages when shrinking and interpolates when enlarging.
std::vector<std::pair<int, double>> Taps(int out, int outSize, int inSize) {
    const double scale = double(inSize) / double(outSize);
    const double centre = (out + 0.5) * scale - 0.5;
    const double radius = std::max(1.0, scale);
    std::vector<std::pair<int, double>> taps;
    double sum = 0.0;
    for (int i = int(std::ceil(centre - radius)); i <= int(std::floor(centre + radius)); ++i) {
        const double w = 1.0 - std::abs(i - centre) / radius;
        if (i < 0 || i >= inSize || w <= 0.0)
            continue;
        taps.emplace_back(i, w);
        sum += w;
    }
    for (auto& tap : taps)
        tap.second /= sum;
    return taps;
}

// One direction of a scale, filtering colours weighted by their alpha so that
// the transparent ground lends the edges no colour: each of lines lines of
// inSide entries, entry i of line l at from[l * fromLine + i * fromStep],
// becomes outSide entries, entry k at to[l * toLine + k * toStep].
void ScaleLines(const Image& from, Image& to, int lines, int inSide, int outSide, size_t fromLine,
                size_t fromStep, size_t toLine, size_t toStep) {
    for (int k = 0; k < outSide; ++k) {
        const auto taps = Taps(k, outSide, inSide);
        for (int l = 0; l < lines; ++l) {
            Pixel sum{0, 0, 0, 0};
            for (const auto& [i, w] : taps) {
                const Pixel& p = from[size_t(l) * fromLine + size_t(i) * fromStep];
                sum.r += p.r * p.a * w;
                sum.g += p.g * p.a * w;
                sum.b += p.b * p.a * w;
                sum.a += p.a * w;
            }
            to[size_t(l) * toLine + size_t(k) * toStep] =
                sum.a > 0.0 ? Pixel{sum.r / sum.a, sum.g / sum.a, sum.b / sum.a, sum.a} : Pixel{0, 0, 0, 0};
        }
    }
}

// Scales a square image: across, then down.
Image Scale(const Image& in, int inSide, int outSide) {
    Image across(size_t(outSide) * size_t(inSide)), out(size_t(outSide) * size_t(outSide));
    ScaleLines(in, across, inSide, inSide, outSide, size_t(inSide), 1, size_t(outSide), 1);
    ScaleLines(across, out, outSide, inSide, outSide, 1, size_t(outSide), 1, size_t(outSide));
    return out;
}

uint8_t Byte(double v) {
    return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

void Put16(std::string& s, uint32_t v) {
    s += char(v & 0xFF);
    s += char((v >> 8) & 0xFF);
}

void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

// A 32-bit bitmap as icons hold it: the header with twice the height, the
// pixels bottom-up in blue, green, red, alpha, then the mask (1 = transparent).
std::string EncodeBitmap(const Image& image, int side) {
    const uint32_t maskRow = uint32_t((side + 31) / 32 * 4);
    std::string s;
    Put32(s, 40);
    Put32(s, uint32_t(side));
    Put32(s, uint32_t(side * 2));
    Put16(s, 1);
    Put16(s, 32);
    Put32(s, 0);
    Put32(s, uint32_t(side * side * 4) + maskRow * uint32_t(side));
    for (int i = 0; i < 4; ++i)
        Put32(s, 0);
    for (int y = side - 1; y >= 0; --y) {
        for (int x = 0; x < side; ++x) {
            const Pixel& p = image[size_t(y) * size_t(side) + size_t(x)];
            s += char(Byte(p.b));
            s += char(Byte(p.g));
            s += char(Byte(p.r));
            s += char(Byte(p.a));
        }
    }
    for (int y = side - 1; y >= 0; --y) {
        std::string row(maskRow, '\0');
        for (int x = 0; x < side; ++x) {
            if (Byte(image[size_t(y) * size_t(side) + size_t(x)].a) == 0)
                row[size_t(x / 8)] = char(row[size_t(x / 8)] | (0x80 >> (x % 8)));
        }
        s += row;
    }
    return s;
}

std::string EncodePng(const Image& image, int side) {
    // Every byte is ready before libpng may jump back here on an error.
    std::vector<png_byte> bytes;
    for (const Pixel& p : image) {
        for (double v : {p.r, p.g, p.b, p.a})
            bytes.push_back(Byte(v));
    }
    std::vector<png_bytep> rows;
    for (int y = 0; y < side; ++y)
        rows.push_back(bytes.data() + size_t(y) * size_t(side) * 4);
    std::string s;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw CException("cannot encode the %d pixel image as PNG", side);
    }
    png_set_write_fn(
        png, &s,
        [](png_structp p, png_bytep data, png_size_t size) {
            static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), size);
        },
        nullptr);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, png_uint_32(side), png_uint_32(side), 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return s;
}

// The icon file: its directory, one entry per image, then the images.
std::string EncodeIcon(const Image& source) {
    std::vector<std::string> images;
    for (int side : kSizes) {
        const Image scaled = Scale(source, kCropSide, side);
        images.push_back(side <= kLargestBitmap ? EncodeBitmap(scaled, side) : EncodePng(scaled, side));
    }
    std::string s;
    Put16(s, 0);
    Put16(s, 1);
    Put16(s, uint32_t(images.size()));
    uint32_t offset = uint32_t(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        s += char(kSizes[i] & 0xFF); // 256 is written as 0
        s += char(kSizes[i] & 0xFF);
        s += '\0';
        s += '\0';
        Put16(s, 1);
        Put16(s, 32);
        Put32(s, uint32_t(images[i].size()));
        Put32(s, offset);
        offset += uint32_t(images[i].size());
    }
    for (const std::string& image : images)
        s += image;
    return s;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string picture, out;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (args[i] == "-o" && i + 1 < args.size()) {
            out = args[++i];
        } else if (picture.empty() && !args[i].empty() && args[i][0] != '-') {
            picture = args[i];
        } else {
            return std::fputs(kUsage, stderr), 2;
        }
    }
    if (picture.empty() || out.empty())
        return std::fputs(kUsage, stderr), 2;

    std::string icon;
    try {
        const std::unique_ptr<CPixmap> koala = LoadImage(picture.c_str());
        if (koala->width != kPictureWidth || koala->height != kPictureHeight)
            return cli::Fail("icongen", picture + " is not a 256 x 512 picture");
        Image crop;
        for (int y = kCropY; y < kCropY + kCropSide; ++y) {
            for (int x = kCropX; x < kCropX + kCropSide; ++x) {
                const uint8_t* p = reinterpret_cast<const uint8_t*>(&koala->pixels[y * koala->width + x]);
                crop.push_back({p[0] / 255.0, p[1] / 255.0, p[2] / 255.0, p[3] / 255.0});
            }
        }
        icon = EncodeIcon(crop);
    } catch (const CException& e) {
        return cli::Fail("icongen", e.Text());
    }
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(icon.data(), std::streamsize(icon.size()));
    file.close();
    if (!file)
        return cli::Fail("icongen", "cannot write " + out);
    std::printf("icongen: %s: %zu bytes, %zu sizes\n", out.c_str(), icon.size(), std::size(kSizes));
    return 0;
}
