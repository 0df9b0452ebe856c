// The inner loops with AVX2, chosen at run time on processors that have it,
// four frames per register. Only these functions use AVX2 (target
// attributes, not a flag for the file), so nothing shared with the rest of
// the program is compiled for it. FMA stays off; every product and sum that
// the scalar loop rounds is rounded here in the same precision and order.
#include "player/mix/mix_kernels.h"
#include "player/mix/mix_taps.h"

#ifdef TINSEL_MIX_X86

#include <immintrin.h>

#include <cstring>

#define TINSEL_AVX2 __attribute__((target("avx2")))
#define TINSEL_SINC_TARGET TINSEL_AVX2
#define TINSEL_SINC_WIDE 0
#include "player/mix/mix_sinc_x86.h"

namespace {

using namespace mixframe;

// Lanes hold the 64-bit positions of frames 0, 2, 1, 3 of a group, so that
// the values spread to left and right within each 128-bit half.
TINSEL_AVX2 inline __m256i Lanes(uint64_t q, uint64_t e) {
    return _mm256_set_epi64x(static_cast<long long>(q + 3 * e), static_cast<long long>(q + e),
                             static_cast<long long>(q + 2 * e), static_cast<long long>(q));
}

// The 16-bit words a, b, 0, a of one frame's pair, by a scalar load.
inline long long LoadWords(const int16_t* data, uint64_t q) {
    uint32_t x;
    std::memcpy(&x, data + static_cast<int32_t>(q >> 32), sizeof x);
    return static_cast<long long>(x | (static_cast<uint64_t>(x) << 48));
}

TINSEL_AVX2 inline __m256i LoadWords4(const int16_t* data, uint64_t q, uint64_t e) {
    return _mm256_set_epi64x(LoadWords(data, q + 3 * e), LoadWords(data, q + e), LoadWords(data, q + 2 * e),
                             LoadWords(data, q));
}

// The same words picked by a byte shuffle out of eight entries loaded from
// base on, the group's lowest index: for steps below 1.5 the four pairs lie
// within them. The caller makes sure the run reads every one of the eight.
TINSEL_AVX2 inline __m256i WindowAt(const int16_t* data, int32_t base) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + base)));
}

TINSEL_AVX2 inline __m256i WindowWords4(__m256i window, __m256i base, __m256i lanes) {
    // Only the low byte of each offset counts, so a base of -1 works too.
    const __m256i offset = _mm256_slli_epi64(_mm256_sub_epi64(_mm256_srli_epi64(lanes, 32), base), 1);
    const __m256i pick = _mm256_add_epi8(
        _mm256_shuffle_epi8(offset, _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 8, 8, 8, 8, 8, 8, 0, 0, 0,
                                                     0, 0, 0, 0, 0, 8, 8, 8, 8, 8, 8, 8, 8)),
        _mm256_setr_epi8(0, 1, 2, 3, -128, -128, 0, 1, 0, 1, 2, 3, -128, -128, 0, 1, 0, 1, 2, 3, -128, -128,
                         0, 1, 0, 1, 2, 3, -128, -128, 0, 1));
    return _mm256_shuffle_epi8(window, pick);
}

// The interpolated value a + w * (b - a) needs no rounding: w * (b - a) has
// at most 48 significant bits and so has the sum. So it is formed exactly in
// integers as a * 2^32 + f * 2 * (b - a), f the 31-bit weight (the madd
// gives 2 * (b - a) in the low and a in the high half of each lane), and
// made a double by adding it to the bits of 1.5 * 2^20 (whose last mantissa
// bit is worth 2^-32) and subtracting that again: the same double as the
// scalar code's, without a conversion instruction.
TINSEL_AVX2 inline __m256d Values4(__m256i words, __m256i lanes) {
    const __m256i m = _mm256_madd_epi16(words, _mm256_set1_epi64x(0x000100000002FFFELL));
    const __m256i p = _mm256_mul_epi32(_mm256_srli_epi32(lanes, 1), m);
    // a added to the high half alone: the low half adds 0 and carries nothing.
    const __m256i whole = _mm256_add_epi32(p, _mm256_blend_epi32(_mm256_setzero_si256(), m, 0xAA));
    const __m256d bias = _mm256_set1_pd(1572864.0);
    return _mm256_sub_pd(_mm256_castsi256_pd(_mm256_add_epi64(whole, _mm256_castpd_si256(bias))), bias);
}

// Adds frames 0, 2, 1, 3 of v times per-frame (left, right) factors, f01 for
// the first two frames and f23 for the others, to eight floats.
TINSEL_AVX2 inline void Add4(float* o, __m256d v, __m256d f01, __m256d f23) {
    const __m256d r01 =
        _mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(o)), _mm256_mul_pd(_mm256_unpacklo_pd(v, v), f01));
    const __m256d r23 =
        _mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(o + 4)), _mm256_mul_pd(_mm256_unpackhi_pd(v, v), f23));
    _mm_storeu_ps(o, _mm256_cvtpd_ps(r01));
    _mm_storeu_ps(o + 4, _mm256_cvtpd_ps(r23));
}

// Where the byte-shuffle window may be used: steps below 1.5 samples. Each
// frame reads entries i and i + 1 and i moves by at most 2, so the run reads
// every entry from its lowest index to its highest.
constexpr uint64_t kWindowStep = (uint64_t{3} << 32) / 2;
constexpr uint64_t kSharedStep = (uint64_t{6} << 32) / 7;

struct Group {
    const int16_t* data;
    uint64_t e;
    int32_t high; // the highest entry the run reads
    bool window;
    bool shared;
    bool forward;

    TINSEL_AVX2 __m256d Values(uint64_t qs, __m256i lanes) const {
        if (window) {
            const int32_t base = static_cast<int32_t>((forward ? qs : qs + 3 * e) >> 32);
            if (base + 7 <= high) {
                return Values4(WindowWords4(WindowAt(data, base), _mm256_set1_epi64x(base), lanes), lanes);
            }
        }
        return Values4(LoadWords4(data, qs, e), lanes);
    }

    // Eight frames from qs on, the second four at next: one window serves
    // both where the step is below 6/7 (the eight pairs span at most eight
    // entries).
    TINSEL_AVX2 void Values8(uint64_t qs, __m256i lanes, __m256i next, __m256d& v0, __m256d& v1) const {
        if (shared) {
            const int32_t base = static_cast<int32_t>((forward ? qs : qs + 7 * e) >> 32);
            if (base + 7 <= high) {
                const __m256i window = WindowAt(data, base);
                const __m256i b = _mm256_set1_epi64x(base);
                v0 = Values4(WindowWords4(window, b, lanes), lanes);
                v1 = Values4(WindowWords4(window, b, next), next);
                return;
            }
        }
        v0 = Values(qs, lanes);
        v1 = Values(qs + 4 * e, next);
    }
};

Group GroupFor(const int16_t* data, uint64_t q0, uint64_t step, uint32_t n) {
    const uint64_t e = step & ~uint64_t{1};
    const bool forward = static_cast<int64_t>(step) >= 0;
    const uint64_t size = forward ? step : ~step + 1;
    const uint64_t top = forward && n > 0 ? q0 + (n - 1) * e : q0;
    return Group{data,   e, static_cast<int32_t>(top >> 32) + 1, size < kWindowStep, size < kSharedStep,
                 forward};
}

TINSEL_AVX2 uint64_t PlainAvx2(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n,
                               float gL, float gR) {
    if (Silent(gL, gR)) {
        return PositionAfter(pos, step, n);
    }
    const uint64_t q0 = pos & ~uint64_t{1};
    const Group group = GroupFor(data, q0, step, n);
    const uint64_t e = group.e;
    const __m256d g = _mm256_setr_pd(gL, gR, gL, gR);
    const __m256i stride = _mm256_set1_epi64x(static_cast<long long>(4 * e));
    __m256i lanes = Lanes(q0, e);
    uint64_t qs = q0;
    uint32_t k = n;
    for (; k >= 8; k -= 8) {
        const __m256i next = _mm256_add_epi64(lanes, stride);
        __m256d v0, v1;
        group.Values8(qs, lanes, next, v0, v1);
        Add4(o, v0, g, g);
        Add4(o + 8, v1, g, g);
        lanes = _mm256_add_epi64(next, stride);
        qs += 8 * e;
        o += 16;
    }
    if (k >= 4) {
        Add4(o, group.Values(qs, lanes), g, g);
        qs += 4 * e;
        o += 8;
        k -= 4;
    }
    for (; k != 0; --k) {
        Frame(data, qs, step, o, gL, gR);
        qs += e;
        o += 2;
    }
    return PositionAfter(pos, step, n);
}

TINSEL_AVX2 uint64_t RampAvx2(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n,
                              float* levels, const float* steps) {
    const uint64_t q0 = pos & ~uint64_t{1};
    const Group group = GroupFor(data, q0, step, n);
    const uint64_t e = group.e;
    const __m256i stride = _mm256_set1_epi64x(static_cast<long long>(4 * e));
    __m256i lanes = Lanes(q0, e);
    uint64_t qs = q0;
    // Left and right level side by side: one single-precision add per frame,
    // the same rounding as the scalar pair of adds.
    __m128 level = _mm_setr_ps(levels[0], levels[1], 0.0f, 0.0f);
    const __m128 delta = _mm_setr_ps(steps[0], steps[1], 0.0f, 0.0f);
    uint32_t k = n;
    for (; k >= 4; k -= 4) {
        const __m128 l0 = level;
        const __m128 l1 = _mm_add_ps(l0, delta);
        const __m128 l2 = _mm_add_ps(l1, delta);
        const __m128 l3 = _mm_add_ps(l2, delta);
        level = _mm_add_ps(l3, delta);
        Add4(o, group.Values(qs, lanes), _mm256_cvtps_pd(_mm_movelh_ps(l0, l1)),
             _mm256_cvtps_pd(_mm_movelh_ps(l2, l3)));
        lanes = _mm256_add_epi64(lanes, stride);
        qs += 4 * e;
        o += 8;
    }
    float cL = _mm_cvtss_f32(level);
    float cR = _mm_cvtss_f32(_mm_shuffle_ps(level, level, 1));
    RampFrames(data, qs, step, o, k, cL, cR, steps[0], steps[1]);
    levels[0] = cL;
    levels[1] = cR;
    return PositionAfter(pos, step, n);
}

TINSEL_AVX2 void ConvertAvx2(int16_t* destination, const float* source, int32_t count) {
    // As the SSE2 conversion, sixteen values per pass; the pack works within
    // each 128-bit half, so the quarters are put back in order after it.
    const __m256 low = _mm256_set1_ps(-32768.0f), high = _mm256_set1_ps(32767.0f);
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256 x0 = _mm256_min_ps(_mm256_max_ps(_mm256_loadu_ps(source + i), low), high);
        const __m256 x1 = _mm256_min_ps(_mm256_max_ps(_mm256_loadu_ps(source + i + 8), low), high);
        const __m256i packed = _mm256_packs_epi32(_mm256_cvtps_epi32(x0), _mm256_cvtps_epi32(x1));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + i),
                            _mm256_permute4x64_epi64(packed, 0xD8));
    }
    for (; i < count; ++i) {
        destination[i] = ConvertOne(source[i]);
    }
}

} // namespace

const MixKernels kAvx2Kernels = {{{PlainAvx2, RampAvx2},
                                  {PlainNearest, RampNearest},
                                  {PlainCubicAvx2, RampCubicAvx2},
                                  {sinc::PlainSinc, sinc::RampSinc}},
                                 ConvertAvx2};

#endif
