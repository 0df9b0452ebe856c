// Offline render speed of the embedded song, and the memory a long render of
// tinsel-render takes: it streams, so two hours need no more than seconds.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "player/format/module.h"
#include "player/format/song.h"
#include "tools/render/render.h"

namespace {

Module* Song() {
    static Module* song = LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize);
    return song;
}

// Items are seconds of audio: items per second is the speed over real time.
void BM_RenderSixtySeconds(benchmark::State& state) {
    Module* song = Song();
    for (auto _ : state)
        benchmark::DoNotOptimize(RenderModule(song, 44100, 60 * 44100));
    state.SetItemsProcessed(state.iterations() * 60);
}
BENCHMARK(BM_RenderSixtySeconds)->Unit(benchmark::kMillisecond);

// The tool as a program, two hours of the song to /dev/null; its peak
// resident memory must stay under 32 MB.
void BM_RenderTwoHoursPeakMemory(benchmark::State& state) {
    constexpr double kLimitMb = 32.0;
    double peakMb = 0;
#ifndef TINSEL_RENDER_TOOL
    state.SkipWithError("built without the tools");
    return;
#else
    for (auto _ : state) {
        const pid_t child = fork();
        if (child == 0) {
            execl(TINSEL_RENDER_TOOL, "tinsel-render", "--embedded", "--loops", "0", "--seconds", "7200",
                  "-q", "-o", "/dev/null", static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            state.SkipWithError("tinsel-render did not run to its end");
            return;
        }
        peakMb = usage.ru_maxrss / 1024.0; // reported in kilobytes
    }
    state.counters["peak_rss_mb"] = peakMb;
    state.SetItemsProcessed(state.iterations() * 7200);
    if (peakMb >= kLimitMb)
        state.SkipWithError("peak resident memory of 32 MB or more");
#endif
}
BENCHMARK(BM_RenderTwoHoursPeakMemory)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace
