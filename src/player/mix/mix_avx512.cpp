// The inner loops with AVX-512 (F, BW, DQ, VL), chosen at run time on
// processors that have it: eight frames per group, the sample entries of a
// group picked out of one 32-entry window by a word permute. As in the AVX2
// file, only these functions are compiled for the wider instructions, FMA
// stays off, and every product and sum the scalar loop rounds is rounded
// here in the same precision and order.
#include "player/mix/mix_kernels.h"
#include "player/mix/mix_taps.h"

#ifdef TINSEL_MIX_X86

// g++ 12's AVX-512 intrinsics start from an undefined register that its
// flow analysis then takes for an uninitialised variable.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>

#include <cstring>
#include <initializer_list>

#define TINSEL_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,bmi,bmi2")))
#define TINSEL_SINC_TARGET TINSEL_AVX512
#define TINSEL_SINC_WIDE 1
#include "player/mix/mix_sinc_x86.h"

namespace {

using namespace mixframe;

constexpr double kUnit = 1.0 / 4294967296.0;

// The lanes of a group hold the positions of frames 0, 4, 1, 5, 2, 6, 3, 7,
// so that duplicating the low or the high double of each 128-bit part gives
// frames 0 to 3 or 4 to 7 in order, each twice (left and right).
TINSEL_AVX512 inline __m512i Lanes(uint64_t q, uint64_t e) {
    return _mm512_add_epi64(_mm512_set1_epi64(static_cast<long long>(q)),
                            _mm512_mullo_epi64(_mm512_set1_epi64(static_cast<long long>(e)),
                                               _mm512_setr_epi64(0, 4, 1, 5, 2, 6, 3, 7)));
}

// The value of each lane's frame times 2^32, exactly, from the words a, b, a
// of its pair (the fourth word is not read): the madd gives 2 * (b - a) in
// the low and a in the high half, f * 2 * (b - a) with the 31-bit weight f
// is exact in 64 bits, and a * 2^32 is added to the high half alone. The
// conversion to double is exact too (under 2^49).
TINSEL_AVX512 inline __m512d Values(__m512i words, __m512i lanes) {
    const __m512i m = _mm512_madd_epi16(words, _mm512_set1_epi64(0x000000010002FFFELL));
    const __m512i p = _mm512_mul_epi32(_mm512_srli_epi32(lanes, 1), m);
    return _mm512_cvtepi64_pd(_mm512_mask_add_epi32(p, 0xAAAA, p, m));
}

// Up to 32 entries from base on, none past high (a masked load reads nothing
// beyond it, so the window never leaves the sample), and the word offsets
// that turn a lane's entry index into the window's words a, b, a.
struct Window {
    __m512i table;
    __m512i offsets;

    TINSEL_AVX512 Window(const int16_t* data, int32_t base, int32_t high) {
        const int64_t count = static_cast<int64_t>(high) - base + 1;
        const __mmask32 mask =
            count >= 32 ? 0xFFFFFFFFu : _bzhi_u32(0xFFFFFFFFu, static_cast<uint32_t>(count));
        table = _mm512_maskz_loadu_epi16(mask, data + base);
        // Words -base, 1 - base, -base (and one not read), each modulo 2^16.
        const uint64_t minus = static_cast<uint16_t>(-base);
        const uint64_t next = static_cast<uint16_t>(1 - base);
        offsets = _mm512_set1_epi64(static_cast<long long>(minus | next << 16 | minus << 32));
    }

    // The permute reads the low five bits of each index word only.
    TINSEL_AVX512 __m512i Words(__m512i lanes) const {
        const __m512i index = _mm512_shuffle_epi8(
            lanes,
            _mm512_broadcast_i32x4(_mm_setr_epi8(4, 5, 4, 5, 4, 5, 4, 5, 12, 13, 12, 13, 12, 13, 12, 13)));
        return _mm512_permutexvar_epi16(_mm512_add_epi16(index, offsets), table);
    }
};

// The same words for any step: each frame's pair by a scalar load (a gather
// is slower on the processors measured), then spread. Only the first count
// frames' pairs are read.
inline int32_t Pair(const int16_t* data, uint64_t q) {
    int32_t x;
    std::memcpy(&x, data + static_cast<int32_t>(q >> 32), sizeof x);
    return x;
}

TINSEL_AVX512 inline __m512i LoadWords(const int16_t* data, uint64_t qs, uint64_t e, uint32_t count) {
    int32_t p[8] = {};
    for (uint32_t k = 0; k < 8; ++k) {
        if (k < count) {
            p[k] = Pair(data, qs + k * e);
        }
    }
    // Dwords in lane order: frames 0, 4, 1, 5, 2, 6, 3, 7.
    const __m256i pairs = _mm256_setr_epi32(p[0], p[4], p[1], p[5], p[2], p[6], p[3], p[7]);
    return _mm512_permutexvar_epi16(_mm512_set_epi16(0, 14, 15, 14, 0, 12, 13, 12, 0, 10, 11, 10, 0, 8, 9, 8,
                                                     0, 6, 7, 6, 0, 4, 5, 4, 0, 2, 3, 2, 0, 0, 1, 0),
                                    _mm512_castsi256_si512(pairs));
}

// Adds frames 0 to 7 of v times per-frame (left, right) factors, low for
// frames 0 to 3 and high for 4 to 7, to sixteen floats; AddMasked only to the
// floats of the first frames (the others are neither read nor written).
TINSEL_AVX512 inline void Add(float* o, __m512d v, __m512d low, __m512d high) {
    const __m512d r0 =
        _mm512_add_pd(_mm512_cvtps_pd(_mm256_loadu_ps(o)), _mm512_mul_pd(_mm512_unpacklo_pd(v, v), low));
    const __m512d r1 =
        _mm512_add_pd(_mm512_cvtps_pd(_mm256_loadu_ps(o + 8)), _mm512_mul_pd(_mm512_unpackhi_pd(v, v), high));
    _mm256_storeu_ps(o, _mm512_cvtpd_ps(r0));
    _mm256_storeu_ps(o + 8, _mm512_cvtpd_ps(r1));
}

TINSEL_AVX512 inline void AddMasked(float* o, __m512d v, __m512d low, __m512d high, uint32_t frames) {
    const __mmask16 m = static_cast<__mmask16>(_bzhi_u32(0xFFFFu, 2 * frames));
    const __mmask8 m0 = static_cast<__mmask8>(m), m1 = static_cast<__mmask8>(m >> 8);
    const __m512d r0 = _mm512_add_pd(_mm512_cvtps_pd(_mm256_maskz_loadu_ps(m0, o)),
                                     _mm512_mul_pd(_mm512_unpacklo_pd(v, v), low));
    const __m512d r1 = _mm512_add_pd(_mm512_cvtps_pd(_mm256_maskz_loadu_ps(m1, o + 8)),
                                     _mm512_mul_pd(_mm512_unpackhi_pd(v, v), high));
    _mm256_mask_storeu_ps(o, m0, _mm512_cvtpd_ps(r0));
    _mm256_mask_storeu_ps(o + 8, m1, _mm512_cvtpd_ps(r1));
}

// Frames one window serves: its 32 entries hold the pairs of f frames when
// f - 1 steps stay below 30 entries. 0: the step is too large for a window.
inline uint32_t FramesPerWindow(uint64_t size) {
    for (uint32_t f : {64u, 32u, 16u, 8u}) {
        if (size < (uint64_t{30} << 32) / (f - 1)) {
            return f;
        }
    }
    return 0;
}

// Where a run's groups find their entries.
struct Reader {
    const int16_t* data;
    uint64_t e;   // the step with its lowest bit cleared
    int32_t high; // the highest entry the run reads
    bool forward;
    uint64_t size; // the step's size

    // The entry index of the lowest of count frames from qs on.
    int32_t Base(uint64_t qs, uint32_t count) const {
        return static_cast<int32_t>((forward ? qs : qs + (count - 1) * e) >> 32);
    }
};

Reader ReaderFor(const int16_t* data, uint64_t q0, uint64_t step, uint32_t n) {
    const uint64_t e = step & ~uint64_t{1};
    const bool forward = static_cast<int64_t>(step) >= 0;
    const uint64_t top = forward && n > 0 ? q0 + (n - 1) * e : q0;
    return Reader{data, e, static_cast<int32_t>(top >> 32) + 1, forward, forward ? step : ~step + 1};
}

// Hands the values of n frames from q0 on to mix(o, values, count), eight
// frames at a time, the last group count (1 to 8) frames long.
template <typename Mix>
TINSEL_AVX512 inline void EachGroup(const Reader& r, uint64_t q0, uint32_t n, float* o, Mix& mix) {
    const uint64_t e = r.e;
    const __m512i stride = _mm512_set1_epi64(static_cast<long long>(8 * e));
    __m512i lanes = Lanes(q0, e);
    uint64_t qs = q0;
    const uint32_t perWindow = FramesPerWindow(r.size);
    for (uint32_t k = n; k != 0;) {
        const uint32_t m = perWindow == 0 ? (k < 8 ? k : 8) : (k < perWindow ? k : perWindow);
        if (perWindow != 0) {
            const Window w(r.data, r.Base(qs, m), r.high);
            for (uint32_t j = m; j != 0;) {
                const uint32_t count = j < 8 ? j : 8;
                mix(o, Values(w.Words(lanes), lanes), count);
                lanes = _mm512_add_epi64(lanes, stride);
                o += 16;
                j -= count;
            }
        } else {
            mix(o, Values(LoadWords(r.data, qs, e, m), lanes), m);
            lanes = _mm512_add_epi64(lanes, stride);
            o += 16;
        }
        qs += m * e;
        k -= m;
    }
}

struct PlainMix {
    __m512d g;
    TINSEL_AVX512 void operator()(float* o, __m512d v, uint32_t count) const {
        if (count == 8) {
            Add(o, v, g, g);
        } else {
            AddMasked(o, v, g, g, count);
        }
    }
};

TINSEL_AVX512 uint64_t PlainAvx512(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n,
                                   float gL, float gR) {
    if (Silent(gL, gR) || n == 0) {
        return PositionAfter(pos, step, n);
    }
    const uint64_t q0 = pos & ~uint64_t{1};
    // The values come times 2^32: the gains take the 2^-32, which changes no
    // rounding of the product.
    const double sL = static_cast<double>(gL) * kUnit;
    const double sR = static_cast<double>(gR) * kUnit;
    PlainMix mix{_mm512_setr_pd(sL, sR, sL, sR, sL, sR, sL, sR)};
    EachGroup(ReaderFor(data, q0, step, n), q0, n, o, mix);
    return PositionAfter(pos, step, n);
}

struct RampMix {
    // Left and right level side by side: one single-precision add per frame,
    // the same rounding as the scalar pair of adds.
    __m128 level;
    __m128 delta;

    TINSEL_AVX512 void operator()(float* o, __m512d v, uint32_t count) {
        const __m128 l0 = level;
        const __m128 l1 = _mm_add_ps(l0, delta);
        const __m128 l2 = _mm_add_ps(l1, delta);
        const __m128 l3 = _mm_add_ps(l2, delta);
        const __m128 l4 = _mm_add_ps(l3, delta);
        const __m128 l5 = _mm_add_ps(l4, delta);
        const __m128 l6 = _mm_add_ps(l5, delta);
        const __m128 l7 = _mm_add_ps(l6, delta);
        const __m512d low = _mm512_cvtps_pd(_mm256_set_m128(_mm_movelh_ps(l2, l3), _mm_movelh_ps(l0, l1)));
        const __m512d high = _mm512_cvtps_pd(_mm256_set_m128(_mm_movelh_ps(l6, l7), _mm_movelh_ps(l4, l5)));
        // Scaling by 2^-32 is exact: the value is the scalar loop's.
        v = _mm512_mul_pd(v, _mm512_set1_pd(kUnit));
        if (count == 8) {
            level = _mm_add_ps(l7, delta);
            Add(o, v, low, high);
        } else {
            // The adds past the last frame are not kept.
            const __m128 after[8] = {l0, l1, l2, l3, l4, l5, l6, l7};
            level = after[count];
            AddMasked(o, v, low, high, count);
        }
    }
};

TINSEL_AVX512 uint64_t RampAvx512(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n,
                                  float* levels, const float* steps) {
    const uint64_t q0 = pos & ~uint64_t{1};
    RampMix mix{_mm_setr_ps(levels[0], levels[1], 0.0f, 0.0f), _mm_setr_ps(steps[0], steps[1], 0.0f, 0.0f)};
    EachGroup(ReaderFor(data, q0, step, n), q0, n, o, mix);
    levels[0] = _mm_cvtss_f32(mix.level);
    levels[1] = _mm_cvtss_f32(_mm_shuffle_ps(mix.level, mix.level, 1));
    return PositionAfter(pos, step, n);
}

TINSEL_AVX512 void ConvertAvx512(int16_t* destination, const float* source, int32_t count) {
    // As the SSE2 conversion, sixteen values at once, the last ones masked.
    const __m512 low = _mm512_set1_ps(-32768.0f), high = _mm512_set1_ps(32767.0f);
    for (int32_t i = 0; i < count; i += 16) {
        const int32_t left = count - i;
        const __mmask16 m = left >= 16 ? 0xFFFF : static_cast<__mmask16>(_bzhi_u32(0xFFFFu, left));
        const __m512 x = _mm512_min_ps(_mm512_max_ps(_mm512_maskz_loadu_ps(m, source + i), low), high);
        _mm256_mask_storeu_epi16(destination + i, m, _mm512_cvtsepi32_epi16(_mm512_cvtps_epi32(x)));
    }
}

} // namespace

const MixKernels kAvx512Kernels = {{{PlainAvx512, RampAvx512},
                                    {PlainNearest, RampNearest},
                                    {PlainCubicAvx2, RampCubicAvx2},
                                    {sinc::PlainSinc, sinc::RampSinc}},
                                   ConvertAvx512};

#endif
