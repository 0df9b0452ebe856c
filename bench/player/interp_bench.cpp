// What each interpolation does to a single-cycle sine: the error left beside
// the tone (THD+N) at C-4 to C-7 for cycles of 8, 16 and 64 entries, and what
// is left of a tone above the output's band (a note that steps more than one
// entry a frame: all of it is alias). Each runs once; the numbers are the
// counters. The speed of each interpolation on the songs is in render_bench.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "player/mix/mixer.h"
#include "tests/player/sine_thd.h"

namespace {

void BM_SineThdN(benchmark::State& state) {
    const auto interpolation = static_cast<Interpolation>(state.range(0));
    const auto cycle = static_cast<uint32_t>(state.range(1));
    const int octaves = static_cast<int>(state.range(2));
    double thdN = 0.0;
    for (auto _ : state) {
        thdN = sine_thd::SineThdN(cycle, octaves, interpolation);
    }
    state.counters["thd_n_db"] = thdN;
    state.SetLabel(std::string(InterpolationName(interpolation)) + ", " + std::to_string(cycle) +
                   " a cycle, C-" + std::to_string(4 + octaves));
}
BENCHMARK(BM_SineThdN)
    ->ArgNames({"interp", "cycle", "octave"})
    ->ArgsProduct({benchmark::CreateDenseRange(0, kInterpolationCount - 1, 1), {8, 16, 64}, {0, 1, 2, 3}})
    ->Iterations(1);

// A sine of 3 entries a cycle stepped 2 and 3 entries a frame: its tone lies
// above half the output rate, so all that comes out is alias, given here
// against the tone's level.
void BM_AliasLeft(benchmark::State& state) {
    const auto interpolation = static_cast<Interpolation>(state.range(0));
    const int64_t stepHalves = state.range(1);
    double left = 0.0;
    for (auto _ : state) {
        sine_thd::SineSample sine(3);
        const std::vector<double> out =
            sine_thd::Play(sine.s, static_cast<uint64_t>(stepHalves) << 31, interpolation, 32768);
        double power = 0.0;
        for (double x : out)
            power += x * x;
        const double tone = 32000.0 * 32000.0 / 2.0 * static_cast<double>(out.size());
        left = 10.0 * std::log10(power / tone + 1e-30);
    }
    state.counters["alias_db"] = left;
    state.SetLabel(std::string(InterpolationName(interpolation)) + ", step " +
                   std::to_string(stepHalves / 2.0));
}
BENCHMARK(BM_AliasLeft)
    ->ArgNames({"interp", "step_halves"})
    ->ArgsProduct({benchmark::CreateDenseRange(0, kInterpolationCount - 1, 1), {4, 5, 8}})
    ->Iterations(1);

} // namespace
