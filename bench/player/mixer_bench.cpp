// Mixer throughput per inner-loop path and interpolation: 4, 10 or 32 voices
// on looping samples, one block of frames per pass.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "player/mix/mix_runs.h"
#include "player/mix/mixer.h"
#include "player/format/module.h"
#include "player/player.h"

namespace {

constexpr int kVoices = 32;
constexpr int32_t kFrames = 884; // one 20 ms block at 44100 Hz
constexpr uint32_t kLength = 4096;

struct LoopedSamples {
    std::vector<std::vector<int16_t>> storage;
    std::vector<Sample> samples;
    LoopedSamples() : storage(kVoices), samples(kVoices) {
        for (int i = 0; i < kVoices; ++i) {
            storage[i].assign(kLength + 2 * kSampleGuard, 0);
            int16_t* data = storage[i].data() + kSampleGuard;
            for (uint32_t k = 0; k < kLength; ++k) {
                data[k] = static_cast<int16_t>(12000 * std::sin(k * (i + 1) * 0.01));
            }
            Sample& s = samples[i];
            s.data = data;
            s.length = kLength;
            s.bits = 16;
            // Half the voices loop forward, half ping-pong, with loops of different lengths.
            s.loopMode = i % 2 == 0 ? kLoopForward : kLoopPingPong;
            s.loopStart = 256 + 16 * i;
            s.loopLength = 1024 + 64 * i;
            FillLoopGuard(s);
        }
    }
};

void BM_MixVoices(benchmark::State& state) {
    const MixPath path = static_cast<MixPath>(state.range(0));
    const int voices = static_cast<int>(state.range(1));
    const auto interpolation = static_cast<Interpolation>(state.range(2));
    const MixPath before = CurrentMixPath();
    if (!SetMixPath(path)) {
        state.SkipWithError("this processor lacks the path");
        return;
    }
    state.SetLabel(std::string(MixPathName(path)) + " " + InterpolationName(interpolation));
    static LoopedSamples looped;
    auto player = std::make_unique<Player>();
    InitPlayer(*player, 44100);
    SetInterpolation(*player, interpolation);
    for (int i = 0; i < voices; ++i) {
        MixVoice& v = player->VoicePool[i];
        v.sample = &looped.samples[i];
        v.direction = 1;
        // Steps from about 0.6 to 1.9 samples per frame, as notes around C-4 give.
        const uint64_t step = (uint64_t{1} << 32) * (6 + i * 13 / 32) / 10 + 12345 * i;
        v.stepInt = static_cast<int32_t>(step >> 32);
        v.stepFrac = static_cast<uint32_t>(step);
        v.leftGain = v.lastLeftGain = 40 + i;
        v.rightGain = v.lastRightGain = 90 - i;
        v.leftLevel = v.leftGain * 256;
        v.rightLevel = v.rightGain * 256;
    }
    std::vector<float> buffer(2 * kFrames);
    for (auto _ : state) {
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        MixVoices(*player, buffer.data(), kFrames);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * voices * kFrames);
    state.counters["voice_frames_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * voices * kFrames, benchmark::Counter::kIsRate);
    SetMixPath(before);
}
BENCHMARK(BM_MixVoices)
    ->ArgNames({"path", "voices", "interp"})
    ->ArgsProduct({{static_cast<int>(MixPath::Scalar), static_cast<int>(MixPath::Sse2),
                    static_cast<int>(MixPath::Avx2), static_cast<int>(MixPath::Avx512)},
                   {4, 10, 32},
                   benchmark::CreateDenseRange(0, kInterpolationCount - 1, 1)});

} // namespace
