// fontgen: renders the scrollers' character sheet as a 32-bit TGA.
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "data/tga_writer.h"
#include "font_sheet.h"
#include "tools/cli.h"

namespace {

const char* kUsage = "Usage: fontgen [--font FONT.ttf] -o SHEET.tga\n"
                     "       fontgen [--font FONT.ttf] --widths\n"
                     "       fontgen --help\n"
                     "Renders codes 32..127 into 16 x 6 cells of 23 x 28 pixels: white ink with\n"
                     "alpha = coverage from each cell's left edge, two blank columns, then\n"
                     "invisible filler, so the font's column scan finds each glyph's advance.\n"
                     "--widths prints 'code advance' for each of the 96 cells instead.\n";

int Fail(const std::string& message) {
    return cli::Fail("fontgen", message);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string font = fontgen::kDefaultFont, out;
    bool widths = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (args[i] == "--font" && i + 1 < args.size()) {
            font = args[++i];
        } else if (args[i] == "-o" && i + 1 < args.size()) {
            out = args[++i];
        } else if (args[i] == "--widths") {
            widths = true;
        } else {
            return std::fputs(kUsage, stderr), 2;
        }
    }
    if (out.empty() == !widths)
        return std::fputs(kUsage, stderr), 2;

    fontgen::FontSheet sheet;
    try {
        sheet = fontgen::RenderFontSheet(font);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    if (widths) {
        for (int32_t i = 0; i < fontgen::kCodeCount; ++i)
            std::printf("%d %d\n", fontgen::kFirstCode + i, sheet.advance[i]);
        return 0;
    }
    const std::string tga = EncodeTga32(fontgen::kSheetWidth, fontgen::kSheetHeight,
                                        [&](int32_t x, int32_t y) { return sheet.At(x, y); });
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(tga.data(), std::streamsize(tga.size()));
    file.close();
    if (!file)
        return Fail("cannot write " + out);
    std::printf("fontgen: %s: %zu bytes, %d px glyphs\n", out.c_str(), tga.size(), sheet.pixelSize);
    return 0;
}
