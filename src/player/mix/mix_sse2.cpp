// The inner loops with SSE2, the baseline of every x86 build: four frames per
// pass, each product and sum formed in double as the scalar loop forms it.
#include "player/mix/mix_kernels.h"
#include "player/mix/mix_taps.h"

#ifdef TINSEL_MIX_X86

#include <emmintrin.h>

#include <cstring>

namespace {

using namespace mixframe;

int32_t Pair(const int16_t* data, uint64_t q) {
    int32_t x;
    std::memcpy(&x, data + static_cast<int32_t>(q >> 32), sizeof x);
    return x;
}

int32_t Weight(uint64_t q) {
    return static_cast<int32_t>(static_cast<uint32_t>(q) >> 1);
}

// The interpolated values of four frames at q, q + e, q + 2e, q + 3e (q even),
// two per register: a + w * (b - a), where b - a is exact in 32 bits.
inline void Values4(const int16_t* data, uint64_t q, uint64_t e, __m128d& v01, __m128d& v23) {
    const uint64_t q1 = q + e, q2 = q1 + e, q3 = q2 + e;
    const __m128i x = _mm_setr_epi32(Pair(data, q), Pair(data, q1), Pair(data, q2), Pair(data, q3));
    const __m128i f = _mm_setr_epi32(Weight(q), Weight(q1), Weight(q2), Weight(q3));
    const __m128i a = _mm_srai_epi32(_mm_slli_epi32(x, 16), 16);
    const __m128i d = _mm_sub_epi32(_mm_srai_epi32(x, 16), a);
    const __m128d scale = _mm_set1_pd(1.0 / 2147483648.0);
    const __m128i aHi = _mm_unpackhi_epi64(a, a), dHi = _mm_unpackhi_epi64(d, d),
                  fHi = _mm_unpackhi_epi64(f, f);
    const __m128d w01 = _mm_mul_pd(_mm_cvtepi32_pd(f), scale);
    const __m128d w23 = _mm_mul_pd(_mm_cvtepi32_pd(fHi), scale);
    v01 = _mm_add_pd(_mm_cvtepi32_pd(a), _mm_mul_pd(w01, _mm_cvtepi32_pd(d)));
    v23 = _mm_add_pd(_mm_cvtepi32_pd(aHi), _mm_mul_pd(w23, _mm_cvtepi32_pd(dHi)));
}

// Adds two frames' values times (left, right) factors to four floats.
inline void Add2(float* o, __m128d v01, __m128d f0, __m128d f1) {
    const __m128 old = _mm_loadu_ps(o);
    const __m128d r0 = _mm_add_pd(_mm_cvtps_pd(old), _mm_mul_pd(_mm_unpacklo_pd(v01, v01), f0));
    const __m128d r1 =
        _mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(old, old)), _mm_mul_pd(_mm_unpackhi_pd(v01, v01), f1));
    _mm_storeu_ps(o, _mm_movelh_ps(_mm_cvtpd_ps(r0), _mm_cvtpd_ps(r1)));
}

uint64_t PlainSse2(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n, float gL,
                   float gR) {
    if (Silent(gL, gR)) {
        return PositionAfter(pos, step, n);
    }
    const uint64_t e = step & ~uint64_t{1};
    uint64_t q = pos & ~uint64_t{1};
    const __m128d g = _mm_setr_pd(gL, gR);
    uint32_t k = n;
    for (; k >= 4; k -= 4) {
        __m128d v01, v23;
        Values4(data, q, e, v01, v23);
        Add2(o, v01, g, g);
        Add2(o + 4, v23, g, g);
        q += 4 * e;
        o += 8;
    }
    for (; k != 0; --k) {
        Frame(data, q, step, o, gL, gR);
        q += e;
        o += 2;
    }
    return PositionAfter(pos, step, n);
}

uint64_t RampSse2(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n, float* levels,
                  const float* steps) {
    const uint64_t e = step & ~uint64_t{1};
    uint64_t q = pos & ~uint64_t{1};
    // Left and right level side by side: one single-precision add per frame,
    // the same rounding as the scalar pair of adds.
    __m128 level = _mm_setr_ps(levels[0], levels[1], 0.0f, 0.0f);
    const __m128 delta = _mm_setr_ps(steps[0], steps[1], 0.0f, 0.0f);
    uint32_t k = n;
    for (; k >= 4; k -= 4) {
        __m128d v01, v23;
        Values4(data, q, e, v01, v23);
        const __m128 l0 = level;
        const __m128 l1 = _mm_add_ps(l0, delta);
        const __m128 l2 = _mm_add_ps(l1, delta);
        const __m128 l3 = _mm_add_ps(l2, delta);
        level = _mm_add_ps(l3, delta);
        Add2(o, v01, _mm_cvtps_pd(l0), _mm_cvtps_pd(l1));
        Add2(o + 4, v23, _mm_cvtps_pd(l2), _mm_cvtps_pd(l3));
        q += 4 * e;
        o += 8;
    }
    float cL = _mm_cvtss_f32(level);
    float cR = _mm_cvtss_f32(_mm_shuffle_ps(level, level, 1));
    RampFrames(data, q, step, o, k, cL, cR, steps[0], steps[1]);
    levels[0] = cL;
    levels[1] = cR;
    return PositionAfter(pos, step, n);
}

void ConvertSse2(int16_t* destination, const float* source, int32_t count) {
    // Clipping before the conversion gives what clipping after rounding does,
    // both bounds being whole numbers; the conversion rounds ties to even in
    // the default rounding mode, and the pack only narrows.
    const __m128 low = _mm_set1_ps(-32768.0f), high = _mm_set1_ps(32767.0f);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128 x0 = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(source + i), low), high);
        const __m128 x1 = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(source + i + 4), low), high);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + i),
                         _mm_packs_epi32(_mm_cvtps_epi32(x0), _mm_cvtps_epi32(x1)));
    }
    for (; i < count; ++i) {
        destination[i] = ConvertOne(source[i]);
    }
}

// The sinc frame by frame: the 16 lanes in four registers, summed over the
// chunks, then pairwise as the scalar sum goes.
struct SincSse2 {
    const int16_t* data;
    const mixtaps::SincTable& table;

    static __m128 Products(__m128i entries, bool high, const float* r, __m128 w) {
        const __m128i words =
            high ? _mm_unpackhi_epi16(entries, entries) : _mm_unpacklo_epi16(entries, entries);
        const __m128 x = _mm_cvtepi32_ps(_mm_srai_epi32(words, 16));
        return _mm_mul_ps(x, _mm_add_ps(_mm_loadu_ps(r), _mm_mul_ps(w, _mm_loadu_ps(r + 16))));
    }

    void operator()(uint64_t q, uint64_t e, uint32_t count, double* v) const {
        const int32_t taps = table.taps;
        for (uint32_t f = 0; f < count; ++f, q += e) {
            const uint32_t fraction = static_cast<uint32_t>(q);
            const int16_t* x = data + static_cast<int32_t>(q >> 32) - (taps / 2 - 1);
            const float* row = mixtaps::SincRow(table, fraction);
            const __m128 w = _mm_set1_ps(mixtaps::SincWeight(table, fraction));
            __m128 lane[4] = {};
            for (int32_t c = 0; c < taps; c += 16) {
                const __m128i e0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + c));
                const __m128i e1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + c + 8));
                const float* r = row + 2 * c;
                const __m128 p[4] = {Products(e0, false, r, w), Products(e0, true, r + 4, w),
                                     Products(e1, false, r + 8, w), Products(e1, true, r + 12, w)};
                for (int k = 0; k < 4; ++k) {
                    lane[k] = c == 0 ? p[k] : _mm_add_ps(lane[k], p[k]);
                }
            }
            const __m128 s4 = _mm_add_ps(_mm_add_ps(lane[0], lane[2]), _mm_add_ps(lane[1], lane[3]));
            const __m128 s2 = _mm_add_ps(s4, _mm_movehl_ps(s4, s4));
            v[f] = _mm_cvtss_f32(_mm_add_ss(s2, _mm_shuffle_ps(s2, s2, 1)));
        }
    }
};

uint64_t SincStepSize(uint64_t step) {
    return static_cast<int64_t>(step) >= 0 ? step : ~step + 1;
}

uint64_t PlainSincSse2(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n, float gL,
                       float gR) {
    return mixtaps::PlainBatches<true>(pos, step, o, n, gL, gR,
                                       SincSse2{data, mixtaps::SincTableFor(SincStepSize(step))});
}

uint64_t RampSincSse2(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n, float* levels,
                      const float* steps) {
    return mixtaps::RampBatches<true>(pos, step, o, n, levels, steps,
                                      SincSse2{data, mixtaps::SincTableFor(SincStepSize(step))});
}

} // namespace

const MixKernels kSse2Kernels = {{{PlainSse2, RampSse2},
                                  {PlainNearest, RampNearest},
                                  {PlainCubic, RampCubic},
                                  {PlainSincSse2, RampSincSse2}},
                                 ConvertSse2};

#endif
