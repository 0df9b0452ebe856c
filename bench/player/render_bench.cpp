// Engine and mixer together on the program's own song, per inner-loop path and
// interpolation:
// one block as the mixing thread renders it (ticks, runs between them, 16-bit
// conversion) per iteration, also reported as seconds of audio per CPU second.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "player/output/audio_output.h"
#include "player/mix/mix_runs.h"
#include "player/mix/mixer.h"
#include "player/format/module.h"
#include "player/player.h"
#include "player/format/song.h"

namespace {

constexpr int32_t kRate = 44100;

void BM_RenderEmbeddedSong(benchmark::State& state) {
    const MixPath path = static_cast<MixPath>(state.range(0));
    const auto interpolation = static_cast<Interpolation>(state.range(1));
    const MixPath before = CurrentMixPath();
    if (!SetMixPath(path)) {
        state.SkipWithError("this processor lacks the path");
        return;
    }
    state.SetLabel(std::string(MixPathName(path)) + " " + InterpolationName(interpolation));
    Module* m = LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize);
    if (m == nullptr) {
        state.SkipWithError("the embedded song does not load");
        return;
    }
    auto player = std::make_unique<Player>();
    InitPlayer(*player, kRate);
    StartSong(*player, m);
    SetInterpolation(*player, interpolation);
    const int32_t blockLength = BlockLengthForRate(kRate);
    std::vector<float> mix(2 * static_cast<size_t>(blockLength));
    std::vector<int16_t> pcm(2 * static_cast<size_t>(blockLength));
    for (auto _ : state) {
        RenderFrames(*player, mix.data(), blockLength);
        ConvertToPcm16(pcm.data(), mix.data(), blockLength);
        benchmark::DoNotOptimize(pcm.data());
    }
    state.counters["audio_s_per_cpu_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * blockLength / kRate, benchmark::Counter::kIsRate);
    state.counters["channels"] = m->channelCount;
    FreeModule(m);
    SetMixPath(before);
}
BENCHMARK(BM_RenderEmbeddedSong)
    ->ArgNames({"path", "interp"})
    ->ArgsProduct({benchmark::CreateDenseRange(static_cast<int>(MixPath::Scalar),
                                               static_cast<int>(MixPath::Avx512), 1),
                   benchmark::CreateDenseRange(0, kInterpolationCount - 1, 1)});

} // namespace
