// tinsel-snapshot: renders the demo's scene offscreen at chosen times and
// writes each frame as a PNG. Time is a manual clock stepped at 60 frames per
// second, so the same options always give the same pictures.
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "base/exception.h"
#include "tools/cli.h"
#include "tools/snapshot/offscreen_scene.h"

namespace {

void Usage(FILE* out) {
    std::fprintf(out, "usage: tinsel-snapshot --data DIR [--at T1,T2,...] [--out DIR]\n"
                      "  --data DIR  directory holding data/ (plain files) or *.Trovake archives\n"
                      "  --at LIST   seconds after start-up to capture (default 0)\n"
                      "  --out DIR   where frame-<seconds>.png files go, made if missing (default .)\n");
}

bool WritePng(const std::string& path, const std::vector<uint8_t>& rgba, int width, int height) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row(size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        // The screen has no alpha worth keeping: write RGB only.
        for (int x = 0; x < width; ++x)
            std::memcpy(&row[size_t(x) * 3], &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4], 3);
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string dataDir, outDir = ".", at = "0";
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help") {
            Usage(stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            Usage(stderr);
            return 2;
        }
        if (arg == "--data")
            dataDir = argv[++i];
        else if (arg == "--out")
            outDir = argv[++i];
        else if (arg == "--at")
            at = argv[++i];
        else {
            Usage(stderr);
            return 2;
        }
    }
    std::vector<double> times;
    for (const char* p = at.c_str(); *p;) {
        char* end = nullptr;
        double t = std::strtod(p, &end);
        if (end == p || t < 0) {
            std::fprintf(stderr, "tinsel-snapshot: bad time list '%s'\n", at.c_str());
            return 2;
        }
        times.push_back(t);
        p = *end == ',' ? end + 1 : end;
    }
    if (!outDir.empty() && outDir[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd))
            outDir = std::string(cwd) + "/" + outDir;
    }
    if (!dataDir.empty() && chdir(dataDir.c_str()) != 0) {
        std::fprintf(stderr, "tinsel-snapshot: cannot enter '%s'\n", dataDir.c_str());
        return 1;
    }
    std::string error;
    if (!cli::MakeFolder(outDir, &error))
        return cli::Fail("tinsel-snapshot", error);

    OffscreenScene scene;
    if (!scene.Valid()) {
        std::fprintf(stderr, "tinsel-snapshot: no offscreen OpenGL context\n");
        return 1;
    }
    // Later times are reached by stepping on from earlier ones.
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    const int fps = 60;
    int status = 0;
    try {
        scene.Start();
        // Frames are counted in integers: summing 1/60 in floating point
        // falls a frame short of some times (1.0 s, 10 s).
        int64_t next = 0;
        for (double t : times) {
            const auto last = int64_t(std::floor(t * fps + 1e-6));
            for (; next <= last; ++next)
                scene.FrameAt(OffscreenScene::FrameTicks(next, fps));
            char name[64];
            std::snprintf(name, sizeof name, "/frame-%.2f.png", t);
            std::string path = outDir + name;
            if (!WritePng(path, scene.Pixels(), scene.Width(), scene.Height())) {
                std::fprintf(stderr, "tinsel-snapshot: cannot write '%s'\n", path.c_str());
                status = 1;
                break;
            }
            std::printf("%s\n", path.c_str());
        }
    } catch (CException& error) {
        std::fprintf(stderr, "tinsel-snapshot: %s\n", error.Text());
        status = 1;
    }
    return status;
}
