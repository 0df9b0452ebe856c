// Offline render speed of the embedded song.
#include <benchmark/benchmark.h>

#include "player/module.h"
#include "player/song.h"
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

} // namespace
