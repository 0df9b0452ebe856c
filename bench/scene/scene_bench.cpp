// Frames per second of the scene at 640 x 480 on the offscreen context, and
// the cost of building the font, over stand-in data written to a temp dir.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "data/pixmap.h"
#include "data/tga_writer.h"
#include "platform/fake/manual_clock.h"
#include "platform/gl.h"
#include "platform/osmesa/offscreen_gl.h"
#include "scene/scene.h"
#include "text/gl_font.h"

namespace {

// White strokes 15 pixels wide in every 23, so the font finds glyphs.
std::string Tga(int width, int height) {
    return EncodeTga32(width, height, [](int32_t x, int32_t) { return x % 23 < 15 ? 0xFFFFFFFFu : 0u; });
}

struct StandInData {
    std::filesystem::path root, previous;
    StandInData() {
        char name[] = "/tmp/tinsel_bench_XXXXXX";
        root = mkdtemp(name);
        std::filesystem::create_directory(root / "data");
        for (const char* picture : {"koala", "roobeer", "sunbbqbeach"})
            std::ofstream(root / "data" / (std::string(picture) + ".tga"), std::ios::binary) << Tga(256, 512);
        std::ofstream(root / "data/scrollfont.tga", std::ios::binary) << Tga(368, 168);
        std::ofstream(root / "data/topscroller.txt")
            << std::string(68, ' ') << "SUMMER CHRISTMAS ON THE BEACH";
        std::ofstream(root / "data/botscroller.txt") << std::string(68, ' ') << "ONE\r\n"
                                                     << std::string(68, ' ') << "TWO\r\n";
        previous = std::filesystem::current_path();
        std::filesystem::current_path(root);
    }
    ~StandInData() {
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(root);
    }
};

void BM_SceneFrame(benchmark::State& state) {
    platform::OffscreenGL gl;
    StandInData data;
    platform::ManualClock clock(1000000);
    SceneStart();
    for (auto _ : state) {
        clock.AdvanceSeconds(1.0 / 60.0);
        SceneFrame();
        glFinish();
    }
    SceneStop();
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SceneFrame)->Unit(benchmark::kMillisecond);

void BM_FontConstruction(benchmark::State& state) {
    platform::OffscreenGL gl;
    CPixmap source(512, 256);
    for (auto _ : state) {
        CGLFont font(source, 23, 28);
        benchmark::DoNotOptimize(&font);
    }
}
BENCHMARK(BM_FontConstruction)->Unit(benchmark::kMillisecond);

} // namespace
