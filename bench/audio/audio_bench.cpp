// One block of the embedded song through MixBlock, and offline render speed.
#include <benchmark/benchmark.h>

#include "player/audio_output.h"
#include "player/module.h"
#include "player/song.h"
#include "player/stream.h"
#include "tools/render/render.h"

namespace {

Module* Song() {
    SetStreamCallbacks(SongOpen, SongClose, SongRead, SongSeek, SongTell);
    static Module* song = LoadModule("#101");
    return song;
}

void BM_MixBlock(benchmark::State& state) {
    Module* song = Song();
    if (song == nullptr || !BeginOfflineRender(song, 44100)) {
        state.SkipWithError("song did not load");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(RenderNextBlock());
    EndOfflineRender();
    state.counters["channels"] = song->channelCount;
}
BENCHMARK(BM_MixBlock);

// Items are seconds of audio: items per second is the speed over real time.
void BM_RenderSixtySeconds(benchmark::State& state) {
    Module* song = Song();
    for (auto _ : state)
        benchmark::DoNotOptimize(RenderModule(song, 44100, 60 * 44100));
    state.SetItemsProcessed(state.iterations() * 60);
}
BENCHMARK(BM_RenderSixtySeconds)->Unit(benchmark::kMillisecond);

} // namespace
