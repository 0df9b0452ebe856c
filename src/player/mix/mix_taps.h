// The interpolations past the linear one, read at the same positions as the
// linear loops read: nearest entry, Catmull-Rom cubic and windowed sinc. Each
// frame's value is formed the same way on every path; the loops then add it
// at the gains or levels, nearest and cubic in double exactly as the linear
// loops add theirs, sinc in single precision.
#pragma once

#include <cstddef>
#include <cstdint>

#include "player/mix/mix_kernels.h"
#include "player/mix/mixer.h"

namespace mixtaps {

// The widest sinc: 512 taps, reading 255 entries before a position and 256
// from it on.
constexpr int32_t kMaxTaps = 512;
// Entries a forward loop plays on past its end at least before it wraps (it
// may go on through the guard), and a ping-pong loop past its start before it
// turns: a position at least this far
// inside the loop has every tap within it, so no tap has to know whether the
// voice has looped already (before the first pass the entries before the loop
// are the sample's own; after it, the loop's end).
constexpr int32_t LeadOf(Interpolation interpolation) {
    return interpolation == Interpolation::Cubic
               ? 1
               : (interpolation == Interpolation::Sinc ? kMaxTaps / 2 - 1 : 0);
}

// One sinc kernel: for each of 2^phaseBits phases (the fraction of the
// position, rows from 0 to 1), per 16 taps the coefficients for the row's
// phase, then their differences to the next row's, in single precision. Tap j
// reads the entry taps / 2 - 1 before the position's own plus j.
struct SincTable {
    int32_t taps; // a multiple of 16
    int32_t phaseBits;
    const float* rows;
    uint32_t weightMask; // the fraction's bits below the row's
    float weightScale;   // their unit: 2^(phaseBits - 32)
};

// The kernel for a step of size stepSize (32.32): 16 taps up to one sample a
// frame, wider and with its band narrowed by the step above.
const SincTable& SincTableFor(uint64_t stepSize);

inline const float* SincRow(const SincTable& t, uint32_t fraction) {
    return t.rows + static_cast<size_t>(fraction >> (32 - t.phaseBits)) * 2 * static_cast<size_t>(t.taps);
}

inline float SincWeight(const SincTable& t, uint32_t fraction) {
    return static_cast<float>(static_cast<int32_t>(fraction & t.weightMask)) * t.weightScale;
}

// A frame's value, as every path forms it: each tap's coefficient is the
// row's plus the weight times the difference, times the entry; the products
// are summed lane by lane over the 16-tap chunks, then the 16 lanes pairwise,
// each lane with the one 8, then 4, 2 and 1 after it.
inline float SincValue(const int16_t* data, uint64_t q, const SincTable& t) {
    const int16_t* x = data + static_cast<int32_t>(q >> 32) - (t.taps / 2 - 1);
    const uint32_t f = static_cast<uint32_t>(q);
    const float* row = SincRow(t, f);
    const float w = SincWeight(t, f);
    float lane[16];
    for (int32_t c = 0; c < t.taps; c += 16) {
        for (int32_t j = 0; j < 16; ++j) {
            const float product = static_cast<float>(x[c + j]) * (row[2 * c + j] + w * row[2 * c + 16 + j]);
            lane[j] = c == 0 ? product : lane[j] + product;
        }
    }
    for (int32_t half = 8; half != 0; half /= 2) {
        for (int32_t j = 0; j < half; ++j) {
            lane[j] = lane[j] + lane[j + half];
        }
    }
    return lane[0];
}

// Entries a kernel reads on either side of a position: from the reach - 1
// before its own entry to the reach after it.
inline int32_t ReachOf(Interpolation interpolation, uint64_t stepSize) {
    switch (interpolation) {
    case Interpolation::Cubic:
        return 2;
    case Interpolation::Sinc:
        return SincTableFor(stepSize).taps / 2;
    default:
        return 1;
    }
}

// Catmull-Rom through the entries before, at and two after the position:
// integer differences, then the cubic in t in double.
inline double CubicValue(const int16_t* data, uint64_t q) {
    const int16_t* x = data + static_cast<int32_t>(q >> 32);
    const int32_t x0 = x[-1], x1 = x[0], x2 = x[1], x3 = x[2];
    const double t = static_cast<double>(static_cast<uint32_t>(q)) * (1.0 / 4294967296.0);
    const double c1 = x2 - x0;
    const double c2 = 2 * x0 - 5 * x1 + 4 * x2 - x3;
    const double c3 = 3 * (x1 - x2) + x3 - x0;
    return x1 + 0.5 * t * (c1 + t * (c2 + t * c3));
}

// The entry nearest the position, the later one at a tie.
inline double NearestValue(const int16_t* data, uint64_t q) {
    return data[static_cast<int32_t>((q + 0x80000000u) >> 32)];
}

// Frames whose values a loop forms before adding them.
constexpr uint32_t kBatch = 16;

// How a frame's value is added: in double, as the linear loops add theirs
// (nearest, cubic), or in single precision (sinc: its values are floats, and
// the vector loops add eight frames with two products and two sums).
template <bool kSingle> inline float Added(float o, double v, float level) {
    if constexpr (kSingle) {
        return o + static_cast<float>(v) * level;
    } else {
        return static_cast<float>(o + v * level);
    }
}

// n frames from pos on at the gains: values(q, e, count, v) gives the values
// of count frames (at most kBatch) at q, q + e, ...; each is added as the
// linear loops add theirs. A silent voice only moves.
// The frames from pos on at left and right factors that step on after each
// frame by the given steps (none for gains, a ramp's for levels).
template <bool kSingle, typename Values>
inline void AddBatches(uint64_t pos, uint64_t step, float* o, uint32_t n, float& cL, float& cR,
                       const float* steps, const Values& values) {
    const uint64_t e = step & ~uint64_t{1};
    uint64_t q = pos & ~uint64_t{1};
    double v[kBatch];
    for (uint32_t k = n; k != 0;) {
        const uint32_t m = k < kBatch ? k : kBatch;
        values(q, e, m, v);
        for (uint32_t j = 0; j < m; ++j) {
            o[0] = Added<kSingle>(o[0], v[j], cL);
            o[1] = Added<kSingle>(o[1], v[j], cR);
            if (steps != nullptr) {
                cL += steps[0];
                cR += steps[1];
            }
            o += 2;
        }
        q += m * e;
        k -= m;
    }
}

template <bool kSingle = false, typename Values>
inline uint64_t PlainBatches(uint64_t pos, uint64_t step, float* o, uint32_t n, float gL, float gR,
                             const Values& values) {
    if (!mixframe::Silent(gL, gR)) {
        AddBatches<kSingle>(pos, step, o, n, gL, gR, nullptr, values);
    }
    return mixframe::PositionAfter(pos, step, n);
}

template <bool kSingle = false, typename Values>
inline uint64_t RampBatches(uint64_t pos, uint64_t step, float* o, uint32_t n, float* levels,
                            const float* steps, const Values& values) {
    float cL = levels[0], cR = levels[1];
    AddBatches<kSingle>(pos, step, o, n, cL, cR, steps, values);
    levels[0] = cL;
    levels[1] = cR;
    return mixframe::PositionAfter(pos, step, n);
}

// The scalar sinc values, the reference of the vector ones.
struct ScalarSinc {
    const int16_t* data;
    const SincTable& table;
    void operator()(uint64_t q, uint64_t e, uint32_t count, double* v) const {
        for (uint32_t j = 0; j < count; ++j, q += e) {
            v[j] = SincValue(data, q, table);
        }
    }
};

} // namespace mixtaps

// The loops of nearest and cubic, alike on every path, and the scalar sinc.
using PlainLoop = uint64_t(const int16_t* data, uint64_t pos, uint64_t step, float* out, uint32_t n, float gL,
                           float gR);
using RampLoop = uint64_t(const int16_t* data, uint64_t pos, uint64_t step, float* out, uint32_t n,
                          float* levels, const float* steps);
PlainLoop PlainNearest, PlainCubic, PlainSincScalar;
RampLoop RampNearest, RampCubic, RampSincScalar;
// The cubic with its values formed four at a time (AVX2, also on the AVX-512 path).
PlainLoop PlainCubicAvx2;
RampLoop RampCubicAvx2;
