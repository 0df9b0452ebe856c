// What asking for every channel's state costs a render that asks every
// block, as a meter or a tracker view does: the program's own song a block
// at a time by either rule set, without asking and asking.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
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
    // Every channel's state, one by one (as the library's callers ask) or
    // all at once (as the mixing thread and the page do). The states are
    // left in memory the benchmark keeps: what a caller then does with them
    // is its own cost, not the asking's.
    void Ask(bool atOnce) {
        const int count = module->channelCount;
        if (atOnce) {
            GetChannelStates(*player, states.data(), count);
        } else {
            for (int c = 0; c < count; ++c)
                states[static_cast<size_t>(c)] = GetChannelState(*player, c);
        }
        benchmark::DoNotOptimize(states.data());
        benchmark::ClobberMemory();
    }
    std::vector<ChannelState> states = std::vector<ChannelState>(kMaxChannels);
};

const char* const kAsking[] = {"not asking", "asking one by one", "asking at once"};

void BM_RenderAskingChannelState(benchmark::State& state) {
    Song song(state);
    if (song.module == nullptr)
        return;
    const int64_t ask = state.range(1);
    state.SetLabel(std::string(state.range(0) == 0 ? "tinsel " : "ft2 ") + kAsking[ask]);
    for (auto _ : state) {
        song.RenderBlock();
        if (ask != 0)
            song.Ask(ask == 2);
        benchmark::DoNotOptimize(song.mix.data());
    }
    state.counters["audio_s_per_cpu_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * song.blockLength / kRate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderAskingChannelState)->ArgNames({"rules", "ask"})->ArgsProduct({{0, 1}, {0, 1, 2}});

// The asking alone, on a block well into the song: every channel's state,
// against a block's render above. Each ask follows a change of the
// player's settings (the stereo separation set as it is), as each block's
// first ask follows its render: what was asked of the block before holds
// no longer.
void BM_AskEveryChannelState(benchmark::State& state) {
    Song song(state);
    if (song.module == nullptr)
        return;
    const bool atOnce = state.range(1) != 0;
    state.SetLabel(std::string(state.range(0) == 0 ? "tinsel " : "ft2 ") + kAsking[atOnce ? 2 : 1]);
    for (int i = 0; i < 500; ++i)
        song.RenderBlock();
    for (auto _ : state) {
        SetStereoSeparation(*song.player, 100);
        song.Ask(atOnce);
    }
}
BENCHMARK(BM_AskEveryChannelState)->ArgNames({"rules", "at_once"})->ArgsProduct({{0, 1}, {0, 1}});

} // namespace
