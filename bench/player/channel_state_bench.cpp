// What asking for every channel's state costs a render that asks every
// block, as a meter or a tracker view does: the program's own song a block
// at a time by either rule set, without asking and asking.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "player/format/module.h"
#include "player/format/song.h"
#include "player/mix/mixer.h"
#include "player/player.h"

namespace {

constexpr int32_t kRate = 44100;

// The demo's song started by the rules of the benchmark's first argument,
// a block at a time.
struct Song {
    Module* module = LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize);
    std::unique_ptr<Player> player = std::make_unique<Player>();
    int32_t blockLength = BlockLengthForRate(kRate);
    std::vector<float> mix = std::vector<float>(2 * static_cast<size_t>(blockLength));

    explicit Song(benchmark::State& state) {
        const RuleSet rules = state.range(0) == 0 ? RuleSet::Tinsel : RuleSet::Ft2;
        state.SetLabel(rules == RuleSet::Tinsel ? "tinsel" : "ft2");
        if (module == nullptr) {
            state.SkipWithError("the embedded song does not load");
            return;
        }
        InitPlayer(*player, kRate);
        StartSong(*player, module, rules);
        state.counters["channels"] = module->channelCount;
    }
    ~Song() { FreeModule(module); }
    void RenderBlock() { RenderFrames(*player, mix.data(), blockLength); }
    // Every channel's state, a little of it kept so that none is left out.
    void Ask(float& sum) const {
        for (int c = 0; c < module->channelCount; ++c) {
            const ChannelState s = GetChannelState(*player, c);
            sum += s.levelLeft + s.levelRight + static_cast<float>(s.note);
        }
    }
};

void BM_RenderAskingChannelState(benchmark::State& state) {
    Song song(state);
    if (song.module == nullptr)
        return;
    const bool ask = state.range(1) != 0;
    state.SetLabel(state.range(0) == 0 ? (ask ? "tinsel asking" : "tinsel not asking")
                                       : (ask ? "ft2 asking" : "ft2 not asking"));
    float sum = 0;
    for (auto _ : state) {
        song.RenderBlock();
        if (ask)
            song.Ask(sum);
        benchmark::DoNotOptimize(song.mix.data());
        benchmark::DoNotOptimize(sum);
    }
    state.counters["audio_s_per_cpu_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * song.blockLength / kRate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderAskingChannelState)->ArgNames({"rules", "ask"})->ArgsProduct({{0, 1}, {0, 1}});

// The asking alone, on a block well into the song: every channel's state,
// against a block's render above.
void BM_AskEveryChannelState(benchmark::State& state) {
    Song song(state);
    if (song.module == nullptr)
        return;
    for (int i = 0; i < 500; ++i)
        song.RenderBlock();
    float sum = 0;
    for (auto _ : state) {
        song.Ask(sum);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_AskEveryChannelState)->ArgName("rules")->DenseRange(0, 1);

} // namespace
