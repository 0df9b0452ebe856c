// The cubic's values four frames at a time, for the AVX2 and AVX-512 paths:
// each frame's integer differences as the scalar code forms them, then the
// polynomial in double, lane by lane in the scalar order, so every value is
// the scalar one to the bit.
#include "player/mix/mix_kernels.h"
#include "player/mix/mix_taps.h"

#ifdef TINSEL_MIX_X86

#include <immintrin.h>

#include <cstring>

#define TINSEL_AVX2 __attribute__((target("avx2")))

namespace {

// The four entries x[-1], x[0], x[1], x[2] about frame p's position.
inline long long Entries(const int16_t* data, uint64_t p) {
    long long x;
    std::memcpy(&x, data + static_cast<int32_t>(p >> 32) - 1, sizeof x);
    return x;
}

TINSEL_AVX2 inline __m256d Double(__m128i lanes) {
    return _mm256_cvtepi32_pd(lanes);
}

struct CubicAvx2 {
    const int16_t* data;

    TINSEL_AVX2 void operator()(uint64_t q, uint64_t e, uint32_t count, double* v) const {
        // The fractions' low 32 bits move by the step's.
        const __m128i offsets =
            _mm_mullo_epi32(_mm_setr_epi32(0, 1, 2, 3), _mm_set1_epi32(static_cast<int>(e)));
        uint32_t j = 0;
        for (; j + 4 <= count; j += 4, q += 4 * e) {
            // Frames 0 and 1, 2 and 3, then their entries transposed: the
            // four entries before, at and two after each position.
            const __m128i a = _mm_set_epi64x(Entries(data, q + e), Entries(data, q));
            const __m128i b = _mm_set_epi64x(Entries(data, q + 3 * e), Entries(data, q + 2 * e));
            const __m128i low = _mm_unpacklo_epi16(a, b), high = _mm_unpackhi_epi16(a, b);
            const __m128i x01 = _mm_unpacklo_epi16(low, high), x23 = _mm_unpackhi_epi16(low, high);
            const __m128i x0 = _mm_cvtepi16_epi32(x01), x1 = _mm_cvtepi16_epi32(_mm_srli_si128(x01, 8));
            const __m128i x2 = _mm_cvtepi16_epi32(x23), x3 = _mm_cvtepi16_epi32(_mm_srli_si128(x23, 8));
            // The scalar code's integer differences.
            const __m128i c1 = _mm_sub_epi32(x2, x0);
            const __m128i c2 = _mm_sub_epi32(
                _mm_add_epi32(_mm_sub_epi32(_mm_slli_epi32(x0, 1), _mm_add_epi32(_mm_slli_epi32(x1, 2), x1)),
                              _mm_slli_epi32(x2, 2)),
                x3);
            const __m128i d = _mm_sub_epi32(x1, x2);
            const __m128i c3 = _mm_sub_epi32(_mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(d, 1), d), x3), x0);
            // The unsigned fraction as a signed integer 2^31 lower, then
            // made exact again in double, as the scalar conversion.
            const __m128i f = _mm_xor_si128(_mm_add_epi32(_mm_set1_epi32(static_cast<int>(q)), offsets),
                                            _mm_set1_epi32(static_cast<int>(0x80000000u)));
            const __m256d t = _mm256_mul_pd(_mm256_add_pd(Double(f), _mm256_set1_pd(2147483648.0)),
                                            _mm256_set1_pd(1.0 / 4294967296.0));
            const __m256d inner = _mm256_add_pd(Double(c2), _mm256_mul_pd(t, Double(c3)));
            const __m256d outer = _mm256_add_pd(Double(c1), _mm256_mul_pd(t, inner));
            const __m256d value =
                _mm256_add_pd(Double(x1), _mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(0.5), t), outer));
            _mm256_storeu_pd(v + j, value);
        }
        for (; j < count; ++j, q += e) {
            v[j] = mixtaps::CubicValue(data, q);
        }
    }
};

} // namespace

TINSEL_AVX2 uint64_t PlainCubicAvx2(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n,
                                    float gL, float gR) {
    return mixtaps::PlainBatches(pos, step, o, n, gL, gR, CubicAvx2{data});
}

TINSEL_AVX2 uint64_t RampCubicAvx2(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n,
                                   float* levels, const float* steps) {
    return mixtaps::RampBatches(pos, step, o, n, levels, steps, CubicAvx2{data});
}

#endif
