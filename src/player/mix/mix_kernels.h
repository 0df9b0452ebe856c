// Inner loops of the mixer, one set per instruction set, and the scalar frame
// every set falls back to for the frames that do not fill a whole vector.
#pragma once

#include <cmath>
#include <cstdint>

#include "player/mix/mix_runs.h"

extern const MixKernels kScalarKernels;
#if defined(__x86_64__) || defined(__i386__)
#define TINSEL_MIX_X86 1
extern const MixKernels kSse2Kernels;
extern const MixKernels kAvx2Kernels;
extern const MixKernels kAvx512Kernels;
#endif
#if defined(__wasm_simd128__)
#define TINSEL_MIX_WASM 1
extern const MixKernels kSimd128Kernels;
#endif

namespace mixframe {

// Linear interpolation at a 32.32 position; the weight drops the fraction's
// lowest bit, so a position and the same with that bit cleared read alike.
inline double Interpolate(const int16_t* data, uint64_t pos) {
    const int32_t i = static_cast<int32_t>(pos >> 32);
    const double a = data[i];
    const double b = data[i + 1];
    const double w = static_cast<double>(static_cast<uint32_t>(pos) >> 1) * (1.0 / 2147483648.0);
    return a + w * (b - a);
}

inline uint64_t Advance(uint64_t pos, uint64_t step) {
    return (pos & ~uint64_t{1}) + step;
}

// One frame at levels cL, cR; products and sums in double, the buffer in float.
inline uint64_t Frame(const int16_t* data, uint64_t pos, uint64_t step, float* o, float cL, float cR) {
    const double value = Interpolate(data, pos);
    o[0] = static_cast<float>(o[0] + value * cL);
    o[1] = static_cast<float>(o[1] + value * cR);
    return Advance(pos, step);
}

// The positions frame k reads are p0 + k * (step with its lowest bit
// cleared), p0 the start with its lowest bit cleared: clearing the bit before
// each add takes the step's low bit off every add but the last.
inline uint64_t PositionAfter(uint64_t pos, uint64_t step, uint32_t n) {
    if (n == 0) {
        return pos;
    }
    return (pos & ~uint64_t{1}) + (n - 1) * (step & ~uint64_t{1}) + step;
}

// A voice at gain 0 on both sides adds +0 or -0 to each float it mixes:
// x + 0 and x - 0 are x, and +0 - 0 is +0 when rounding to nearest, so a
// buffer without -0 entries keeps every bit and only the position moves.
// The block path's buffer is zeroed to +0, and a sum of two floats is -0
// only when both are, so it never holds a -0. (The values and gains are
// finite: there is no NaN or infinity to carry either.)
inline bool Silent(float gL, float gR) {
    return gL == 0.0f && gR == 0.0f;
}

// The scalar ramp, also the tail of the vector ones.
inline uint64_t RampFrames(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n, float& cL,
                           float& cR, float sL, float sR) {
    for (uint32_t k = n; k != 0; --k) {
        pos = Frame(data, pos, step, o, cL, cR);
        cL += sL;
        cR += sR;
        o += 2;
    }
    return pos;
}

// Nearest integer, ties to even (the default rounding mode), then clipped.
inline int16_t ConvertOne(float x) {
    const double r = std::nearbyint(static_cast<double>(x));
    return static_cast<int16_t>(r < -32768.0 ? -32768 : (r > 32767.0 ? 32767 : r));
}

} // namespace mixframe
