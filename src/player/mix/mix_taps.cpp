// The sinc kernels, made on first use, and the loops of the interpolations
// past the linear one that every path shares.
#include "player/mix/mix_taps.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <functional>
#include <mutex>
#include <vector>

namespace mixtaps {
namespace {

// Kernels for steps up to 1, then for steps up to 2^(k / 8) for k = 1..64: the
// band of each is set by the largest step it serves, so a step at the bottom
// of its range loses at most an eighth of an octave of treble.
constexpr int kRanges = 65;
constexpr double kEighthOctave = 1.0905077326652577; // 2^(1/8)
// The Kaiser window's shape: images and aliases near -100 dB with 16 taps.
constexpr double kBeta = 10.0;
constexpr double kPi = 3.141592653589793;

// Only +, -, *, / and square roots, each rounded as IEEE arithmetic rounds
// it: the kernels come out the same on every build and system library. The
// series run a fixed number of terms (enough for every argument here), each
// a product with a coefficient made once, so that the terms of neighbouring
// taps are worked on together.
constexpr int kSineTerms = 12;
constexpr int kBesselTerms = 32;

struct Series {
    double sine[kSineTerms + 1];     // -1 / ((2k)(2k + 1))
    double bessel[kBesselTerms + 1]; // 1 / k^2
    Series() {
        for (int k = 1; k <= kSineTerms; ++k) {
            sine[k] = -1.0 / ((2.0 * k) * (2.0 * k + 1.0));
        }
        for (int k = 1; k <= kBesselTerms; ++k) {
            bessel[k] = 1.0 / (static_cast<double>(k) * k);
        }
    }
};

double SinPi(const Series& series, double u) {
    double r = u - 2.0 * std::nearbyint(u * 0.5); // [-1, 1]
    const double sign = r < 0 ? -1.0 : 1.0;
    r = r < 0 ? -r : r;
    r = r > 0.5 ? 1.0 - r : r;
    const double x = kPi * r;
    const double x2 = x * x;
    double term = x, sum = x;
    for (int k = 1; k <= kSineTerms; ++k) {
        term *= x2 * series.sine[k];
        sum += term;
    }
    return sign * sum;
}

// The sum of (x / 2)^2k / (k!)^2; x is at most kBeta.
double BesselI0(const Series& series, double x) {
    const double y = x * x * 0.25;
    double sum = 1.0, term = 1.0;
    for (int k = 1; k <= kBesselTerms; ++k) {
        term *= y * series.bessel[k];
        sum += term;
    }
    return sum;
}

constexpr double LargestStep(int range) {
    double s = 1.0;
    for (int k = 0; k < range; ++k) {
        s *= kEighthOctave;
    }
    return s;
}

struct Kernel {
    std::once_flag made;
    std::atomic<const SincTable*> ready{nullptr};
    std::vector<float> rows;
    SincTable table{};
};

Kernel g_kernels[kRanges];

void Make(Kernel& kernel, int range) {
    static const Series series;
    const double s = LargestStep(range);
    int32_t octaves = 0;
    while (static_cast<double>(1 << octaves) < s) {
        ++octaves;
    }
    // 24 taps up to 1.5 samples a frame were tried: their band's edge lets
    // through 40 dB more of a tone just above the output's (-43 against -83 dB
    // at 1.3 samples a frame).
    const int32_t taps = std::min<int32_t>(kMaxTaps, 16 * static_cast<int32_t>(std::ceil(s)));
    const int32_t phaseBits = 7 - std::min<int32_t>(3, octaves);
    const int32_t phases = 1 << phaseBits;
    const int32_t half = taps / 2;
    // Rows 0 to phases (the last one only for the differences). Row phases - r
    // is row r backwards (the kernel is even), so only half are worked out.
    std::vector<float> c(static_cast<size_t>(phases + 1) * static_cast<size_t>(taps));
    const double window = BesselI0(series, kBeta);
    std::vector<double> row(static_cast<size_t>(taps));
    for (int32_t r = 0; r <= phases / 2; ++r) {
        const double phase = static_cast<double>(r) / phases;
        double sum = 0.0;
        for (int32_t j = 0; j < taps; ++j) {
            const double t = static_cast<double>(j - (half - 1)) - phase;
            const double u = t / half;
            const double w = u * u <= 1.0 ? BesselI0(series, kBeta * std::sqrt(1.0 - u * u)) / window : 0.0;
            const double x = t / s;
            row[static_cast<size_t>(j)] = (x == 0.0 ? 1.0 : SinPi(series, x) / (kPi * x)) * w;
            sum += row[static_cast<size_t>(j)];
        }
        // Each phase keeps a gain of exactly 1 for a constant signal.
        for (int32_t j = 0; j < taps; ++j) {
            const float v = static_cast<float>(row[static_cast<size_t>(j)] / sum);
            c[static_cast<size_t>(r) * static_cast<size_t>(taps) + static_cast<size_t>(j)] = v;
            c[static_cast<size_t>(phases - r) * static_cast<size_t>(taps) +
              static_cast<size_t>(taps - 1 - j)] = v;
        }
    }
    // Rows start on a 64-byte line, so that no load of 8 coefficients spans two.
    kernel.rows.assign(static_cast<size_t>(phases) * 2 * static_cast<size_t>(taps) + 16, 0.0f);
    float* const first =
        kernel.rows.data() + (16 - reinterpret_cast<uintptr_t>(kernel.rows.data()) / 4 % 16) % 16;
    for (int32_t r = 0; r < phases; ++r) {
        const float* here = c.data() + static_cast<size_t>(r) * static_cast<size_t>(taps);
        float* out = first + static_cast<size_t>(r) * 2 * static_cast<size_t>(taps);
        for (int32_t j = 0; j < taps; ++j) {
            const int32_t at = j / 16 * 32 + j % 16;
            out[at] = here[j];
            out[at + 16] = here[j + taps] - here[j];
        }
    }
    const uint32_t below = 32u - static_cast<uint32_t>(phaseBits);
    kernel.table = SincTable{taps, phaseBits, first, (1u << below) - 1,
                             static_cast<float>(1.0 / static_cast<double>(1u << below))};
}

// The ranges' limits as Make sees them: 1 times 2^(1/8), range by range
// (worked out by the compiler: a run looks its kernel up).
constexpr std::array<uint64_t, kRanges> kLimits = [] {
    std::array<uint64_t, kRanges> l{};
    for (int k = 0; k < kRanges; ++k) {
        l[static_cast<size_t>(k)] = static_cast<uint64_t>(LargestStep(k) * 4294967296.0);
    }
    return l;
}();

} // namespace

const SincTable& SincTableFor(uint64_t stepSize) {
    int range = 0;
    while (range < kRanges - 1 && stepSize > kLimits[static_cast<size_t>(range)]) {
        ++range;
    }
    Kernel& kernel = g_kernels[range];
    if (const SincTable* made = kernel.ready.load(std::memory_order_acquire)) {
        return *made;
    }
    std::call_once(kernel.made, Make, std::ref(kernel), range);
    kernel.ready.store(&kernel.table, std::memory_order_release);
    return kernel.table;
}

} // namespace mixtaps

namespace {

using namespace mixtaps;

struct NearestValues {
    const int16_t* data;
    void operator()(uint64_t q, uint64_t e, uint32_t count, double* v) const {
        for (uint32_t j = 0; j < count; ++j, q += e) {
            v[j] = NearestValue(data, q);
        }
    }
};

struct CubicValues {
    const int16_t* data;
    void operator()(uint64_t q, uint64_t e, uint32_t count, double* v) const {
        for (uint32_t j = 0; j < count; ++j, q += e) {
            v[j] = CubicValue(data, q);
        }
    }
};

uint64_t StepSize(uint64_t step) {
    return static_cast<int64_t>(step) >= 0 ? step : ~step + 1;
}

} // namespace

uint64_t PlainNearest(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n, float gL,
                      float gR) {
    return PlainBatches(pos, step, o, n, gL, gR, NearestValues{data});
}
uint64_t RampNearest(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n, float* levels,
                     const float* steps) {
    return RampBatches(pos, step, o, n, levels, steps, NearestValues{data});
}
uint64_t PlainCubic(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n, float gL,
                    float gR) {
    return PlainBatches(pos, step, o, n, gL, gR, CubicValues{data});
}
uint64_t RampCubic(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n, float* levels,
                   const float* steps) {
    return RampBatches(pos, step, o, n, levels, steps, CubicValues{data});
}
uint64_t PlainSincScalar(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n, float gL,
                         float gR) {
    return PlainBatches<true>(pos, step, o, n, gL, gR, ScalarSinc{data, SincTableFor(StepSize(step))});
}
uint64_t RampSincScalar(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n, float* levels,
                        const float* steps) {
    return RampBatches<true>(pos, step, o, n, levels, steps, ScalarSinc{data, SincTableFor(StepSize(step))});
}
