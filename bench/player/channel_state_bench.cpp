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

void BM_RenderAskingChannelState(benchmark::State& state) {
    const RuleSet rules = state.range(0) == 0 ? RuleSet::Tinsel : RuleSet::Ft2;
    const bool ask = state.range(1) != 0;
    state.SetLabel(std::string(rules == RuleSet::Tinsel ? "tinsel" : "ft2") +
                   (ask ? " asking" : " not asking"));
    Module* m = LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize);
    if (m == nullptr) {
        state.SkipWithError("the embedded song does not load");
        return;
    }
    auto player = std::make_unique<Player>();
    InitPlayer(*player, kRate);
    StartSong(*player, m, rules);
    const int32_t blockLength = BlockLengthForRate(kRate);
    std::vector<float> mix(2 * static_cast<size_t>(blockLength));
    float sum = 0;
    for (auto _ : state) {
        RenderFrames(*player, mix.data(), blockLength);
        if (ask) {
            for (int c = 0; c < m->channelCount; ++c) {
                const ChannelState s = GetChannelState(*player, c);
                sum += s.levelLeft + s.levelRight + static_cast<float>(s.note);
            }
        }
        benchmark::DoNotOptimize(mix.data());
        benchmark::DoNotOptimize(sum);
    }
    state.counters["audio_s_per_cpu_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * blockLength / kRate, benchmark::Counter::kIsRate);
    state.counters["channels"] = m->channelCount;
    FreeModule(m);
}
BENCHMARK(BM_RenderAskingChannelState)->ArgNames({"rules", "ask"})->ArgsProduct({{0, 1}, {0, 1}});

// The asking alone, on a block well into the song: every channel's state,
// against a block's render above.
void BM_AskEveryChannelState(benchmark::State& state) {
    const RuleSet rules = state.range(0) == 0 ? RuleSet::Tinsel : RuleSet::Ft2;
    state.SetLabel(rules == RuleSet::Tinsel ? "tinsel" : "ft2");
    Module* m = LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize);
    if (m == nullptr) {
        state.SkipWithError("the embedded song does not load");
        return;
    }
    auto player = std::make_unique<Player>();
    InitPlayer(*player, kRate);
    StartSong(*player, m, rules);
    const int32_t blockLength = BlockLengthForRate(kRate);
    std::vector<float> mix(2 * static_cast<size_t>(blockLength));
    for (int i = 0; i < 500; ++i)
        RenderFrames(*player, mix.data(), blockLength);
    float sum = 0;
    for (auto _ : state) {
        for (int c = 0; c < m->channelCount; ++c) {
            const ChannelState s = GetChannelState(*player, c);
            sum += s.levelLeft + s.levelRight + static_cast<float>(s.note);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["channels"] = m->channelCount;
    FreeModule(m);
}
BENCHMARK(BM_AskEveryChannelState)->ArgName("rules")->DenseRange(0, 1);

} // namespace
