// The original tracker's inner loop by instruction set. The vector loops
// take eight (AVX2) or sixteen (AVX-512) frames at once: each frame's two
// sample entries come in one 32-bit gather, and every product the scalar
// loop floors is formed whole in 64 bits and floored alike, so the sums are
// the scalar ones to the bit. Only these functions are compiled for the
// wider instructions, chosen at run time.
#include "player/mix/ft2_kernels.h"

#include "player/mix/mix_kernels.h"

namespace {

using ft2frame::RunFrames;

const Ft2Kernels kScalar = {
    {{RunFrames<false, false>, RunFrames<false, true>}, {RunFrames<true, false>, RunFrames<true, true>}}};

} // namespace

#ifdef TINSEL_MIX_X86

// g++ 12's AVX-512 intrinsics start from an undefined register that its
// flow analysis then takes for an uninitialised variable.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#define TINSEL_FT2_AVX2 __attribute__((target("avx2")))
#define TINSEL_FT2_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl")))

namespace {

// The lanes' fractions, the first's plus up to 15 steps, must not wrap in 32
// bits; only steps of thousands of frames (output rates far below any
// device's) come near, and they take the scalar loop.
constexpr uint32_t kMaxVectorStep = 0xFFFF0000u / 16;

// floor(a * b / 2^32) for signed 32-bit lanes: the even lanes' products and
// the odd lanes' (moved down) are whole 64-bit ones; their high halves are kept.
TINSEL_FT2_AVX2 inline __m256i MulHigh(__m256i a, __m256i b) {
    const __m256i even = _mm256_mul_epi32(a, b);
    const __m256i odd = _mm256_mul_epi32(_mm256_srli_epi64(a, 32), _mm256_srli_epi64(b, 32));
    return _mm256_blend_epi32(_mm256_srli_epi64(even, 32), odd, 0xAA);
}

// The interpolated values of eight frames from the entry pairs of their indices.
TINSEL_FT2_AVX2 inline __m256i Values(const int16_t* data, __m256i index, __m256i halfWeight) {
    const __m256i pairs = _mm256_i32gather_epi32(reinterpret_cast<const int*>(data), index, 2);
    const __m256i a = _mm256_srai_epi32(_mm256_slli_epi32(pairs, 16), 16);
    const __m256i t = MulHigh(_mm256_sub_epi32(_mm256_srai_epi32(pairs, 16), a), halfWeight);
    return _mm256_add_epi32(a, _mm256_add_epi32(t, t));
}

template <bool kBackward, bool kStereo>
TINSEL_FT2_AVX2 uint64_t RunAvx2(const int16_t* left, const int16_t* right, uint64_t position, uint32_t step,
                                 uint32_t mirror, uint32_t address, int32_t* sumL, int32_t* sumR,
                                 uint32_t count, int32_t gainL, int32_t gainR, int32_t deltaL,
                                 int32_t deltaR) {
    if (step > kMaxVectorStep) {
        return RunFrames<kBackward, kStereo>(left, right, position, step, mirror, address, sumL, sumR, count,
                                             gainL, gainR, deltaL, deltaR);
    }
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i offsets = _mm256_mullo_epi32(lanes, _mm256_set1_epi32(static_cast<int>(step)));
    __m256i addresses =
        _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(address)), _mm256_slli_epi32(lanes, 3));
    __m256i gL =
        _mm256_add_epi32(_mm256_set1_epi32(gainL), _mm256_mullo_epi32(lanes, _mm256_set1_epi32(deltaL)));
    __m256i gR =
        _mm256_add_epi32(_mm256_set1_epi32(gainR), _mm256_mullo_epi32(lanes, _mm256_set1_epi32(deltaR)));
    const __m256i moveL = _mm256_set1_epi32(ft2frame::Moved(0, 8, deltaL));
    const __m256i moveR = _mm256_set1_epi32(ft2frame::Moved(0, 8, deltaR));
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    // Eight frames a group, the frames after the last whole group one by one
    // (masked loads and stores cost more than they save on some processors).
    uint32_t n = count;
    for (; n >= 8; n -= 8) {
        const __m256i fractions =
            _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(position & 0xFFFF)), offsets);
        __m256i index = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(position >> 16)),
                                         _mm256_srli_epi32(fractions, 16));
        __m256i f = _mm256_and_si256(fractions, low16);
        if (kBackward) {
            index = _mm256_sub_epi32(_mm256_set1_epi32(static_cast<int>(mirror)), index);
            f = _mm256_xor_si256(f, low16);
        }
        const __m256i halfWeight =
            _mm256_srli_epi32(_mm256_add_epi32(_mm256_slli_epi32(f, 16), addresses), 1);
        const __m256i x = _mm256_slli_epi32(Values(left, index, halfWeight), 12);
        const __m256i l = MulHigh(x, gL);
        const __m256i r = MulHigh(kStereo ? _mm256_slli_epi32(Values(right, index, halfWeight), 12) : x, gR);
        __m256i* outL = reinterpret_cast<__m256i*>(sumL);
        __m256i* outR = reinterpret_cast<__m256i*>(sumR);
        _mm256_storeu_si256(outL, _mm256_add_epi32(_mm256_loadu_si256(outL), l));
        _mm256_storeu_si256(outR, _mm256_add_epi32(_mm256_loadu_si256(outR), r));
        sumL += 8;
        sumR += 8;
        position += uint64_t{step} * 8;
        addresses = _mm256_add_epi32(addresses, _mm256_set1_epi32(8 * ft2frame::kAddressStep));
        gL = _mm256_add_epi32(gL, moveL);
        gR = _mm256_add_epi32(gR, moveR);
        address += 8 * ft2frame::kAddressStep;
        gainL = ft2frame::Moved(gainL, 8, deltaL);
        gainR = ft2frame::Moved(gainR, 8, deltaR);
    }
    return RunFrames<kBackward, kStereo>(left, right, position, step, mirror, address, sumL, sumR, n, gainL,
                                         gainR, deltaL, deltaR);
}

TINSEL_FT2_AVX512 inline __m512i MulHigh(__m512i a, __m512i b) {
    const __m512i even = _mm512_mul_epi32(a, b);
    const __m512i odd = _mm512_mul_epi32(_mm512_srli_epi64(a, 32), _mm512_srli_epi64(b, 32));
    return _mm512_mask_blend_epi32(0xAAAA, _mm512_srli_epi64(even, 32), odd);
}

// The entry pairs of the frames of a group: where they lie within 32 entries
// from base on (steps below about two), out of one load that reads nothing
// past them, by a word permute; else gathered. Lanes outside the mask read
// nothing.
TINSEL_FT2_AVX512 inline __m512i Pairs(const int16_t* data, __m512i index, uint32_t base, uint32_t span,
                                       __mmask16 lanes) {
    if (span > 32) {
        return _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), lanes, index, data, 2);
    }
    const __mmask32 mask = span == 32 ? 0xFFFFFFFFu : (1u << span) - 1;
    const __m512i window = _mm512_maskz_loadu_epi16(mask, data + base);
    const __m512i first = _mm512_sub_epi32(index, _mm512_set1_epi32(static_cast<int>(base)));
    const __m512i second = _mm512_add_epi32(first, _mm512_set1_epi32(1));
    return _mm512_permutexvar_epi16(_mm512_or_si512(first, _mm512_slli_epi32(second, 16)), window);
}

TINSEL_FT2_AVX512 inline __m512i Values(__m512i pairs, __m512i halfWeight) {
    const __m512i a = _mm512_srai_epi32(_mm512_slli_epi32(pairs, 16), 16);
    const __m512i t = MulHigh(_mm512_sub_epi32(_mm512_srai_epi32(pairs, 16), a), halfWeight);
    return _mm512_add_epi32(a, _mm512_add_epi32(t, t));
}

template <bool kBackward, bool kStereo>
TINSEL_FT2_AVX512 uint64_t RunAvx512(const int16_t* left, const int16_t* right, uint64_t position,
                                     uint32_t step, uint32_t mirror, uint32_t address, int32_t* sumL,
                                     int32_t* sumR, uint32_t count, int32_t gainL, int32_t gainR,
                                     int32_t deltaL, int32_t deltaR) {
    if (step > kMaxVectorStep) {
        return RunFrames<kBackward, kStereo>(left, right, position, step, mirror, address, sumL, sumR, count,
                                             gainL, gainR, deltaL, deltaR);
    }
    const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512i offsets = _mm512_mullo_epi32(lanes, _mm512_set1_epi32(static_cast<int>(step)));
    __m512i addresses =
        _mm512_add_epi32(_mm512_set1_epi32(static_cast<int>(address)), _mm512_slli_epi32(lanes, 3));
    __m512i gL =
        _mm512_add_epi32(_mm512_set1_epi32(gainL), _mm512_mullo_epi32(lanes, _mm512_set1_epi32(deltaL)));
    __m512i gR =
        _mm512_add_epi32(_mm512_set1_epi32(gainR), _mm512_mullo_epi32(lanes, _mm512_set1_epi32(deltaR)));
    const __m512i moveL = _mm512_set1_epi32(ft2frame::Moved(0, 16, deltaL));
    const __m512i moveR = _mm512_set1_epi32(ft2frame::Moved(0, 16, deltaR));
    const __m512i low16 = _mm512_set1_epi32(0xFFFF);
    // Sixteen frames a group; the last group's lanes past the run are masked.
    for (uint32_t n = count; n != 0;) {
        const uint32_t used = n < 16 ? n : 16;
        const __mmask16 mask = static_cast<__mmask16>(used == 16 ? 0xFFFFu : (1u << used) - 1);
        const __m512i fractions =
            _mm512_add_epi32(_mm512_set1_epi32(static_cast<int>(position & 0xFFFF)), offsets);
        __m512i index = _mm512_add_epi32(_mm512_set1_epi32(static_cast<int>(position >> 16)),
                                         _mm512_srli_epi32(fractions, 16));
        __m512i f = _mm512_and_si512(fractions, low16);
        if (kBackward) {
            index = _mm512_sub_epi32(_mm512_set1_epi32(static_cast<int>(mirror)), index);
            f = _mm512_xor_si512(f, low16);
        }
        const __m512i halfWeight =
            _mm512_srli_epi32(_mm512_add_epi32(_mm512_slli_epi32(f, 16), addresses), 1);
        // The entries the group reads: from its first frame's to its last's, and one more.
        const uint32_t first = static_cast<uint32_t>(position >> 16);
        const uint32_t last = static_cast<uint32_t>((position + uint64_t{step} * (used - 1)) >> 16);
        const uint32_t base = kBackward ? mirror - last : first;
        const uint32_t span = last - first + 2;
        const __m512i x = _mm512_slli_epi32(Values(Pairs(left, index, base, span, mask), halfWeight), 12);
        const __m512i l = MulHigh(x, gL);
        const __m512i y =
            kStereo ? _mm512_slli_epi32(Values(Pairs(right, index, base, span, mask), halfWeight), 12) : x;
        const __m512i r = MulHigh(y, gR);
        _mm512_mask_storeu_epi32(sumL, mask, _mm512_add_epi32(_mm512_maskz_loadu_epi32(mask, sumL), l));
        _mm512_mask_storeu_epi32(sumR, mask, _mm512_add_epi32(_mm512_maskz_loadu_epi32(mask, sumR), r));
        sumL += used;
        sumR += used;
        position += uint64_t{step} * used;
        addresses = _mm512_add_epi32(addresses, _mm512_set1_epi32(16 * ft2frame::kAddressStep));
        gL = _mm512_add_epi32(gL, moveL);
        gR = _mm512_add_epi32(gR, moveR);
        n -= used;
    }
    return position;
}

const Ft2Kernels kAvx2 = {
    {{RunAvx2<false, false>, RunAvx2<false, true>}, {RunAvx2<true, false>, RunAvx2<true, true>}}};
const Ft2Kernels kAvx512 = {
    {{RunAvx512<false, false>, RunAvx512<false, true>}, {RunAvx512<true, false>, RunAvx512<true, true>}}};

} // namespace

#endif

void Ft2Output(float* destination, const int32_t* sumL, const int32_t* sumR, int32_t frames) {
#ifdef __wasm_simd128__
    Ft2OutputSimd128(destination, sumL, sumR, frames);
#else
    int32_t i = 0;
#ifdef TINSEL_MIX_X86
    // SSE2, every x86 build's baseline: the saturating pack is the clip.
    for (; i + 4 <= frames; i += 4) {
        const __m128i l = _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sumL + i)), 8);
        const __m128i r = _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sumR + i)), 8);
        const __m128i clipped = _mm_packs_epi32(l, r);
        const __m128i pairs = _mm_unpacklo_epi16(clipped, _mm_srli_si128(clipped, 8));
        _mm_storeu_ps(destination + 2 * i,
                      _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(pairs, pairs), 16)));
        _mm_storeu_ps(destination + 2 * i + 4,
                      _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(pairs, pairs), 16)));
    }
#endif
    for (; i < frames; ++i) {
        for (int side = 0; side < 2; ++side) {
            const int32_t s = (side == 0 ? sumL : sumR)[i] >> 8;
            destination[2 * i + side] = static_cast<float>(s < -32768 ? -32768 : (s > 32767 ? 32767 : s));
        }
    }
#endif
}

const Ft2Kernels& Ft2KernelsOf(MixPath path) {
#ifdef TINSEL_MIX_X86
    if (path == MixPath::Avx2 && MixPathAvailable(path)) {
        return kAvx2;
    }
    if (path == MixPath::Avx512 && MixPathAvailable(path)) {
        return kAvx512;
    }
#endif
#ifdef __wasm_simd128__
    if (path == MixPath::Simd128) {
        return kSimd128Ft2Kernels;
    }
#endif
    (void)path;
    return kScalar;
}

const Ft2Kernels& CurrentFt2Kernels() {
    return Ft2KernelsOf(CurrentMixPath());
}
