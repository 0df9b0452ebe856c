// The sinc's vector loops, compiled twice: by mix_avx2.cpp for AVX2 and by
// mix_avx512.cpp for AVX-512, each defining first TINSEL_SINC_TARGET (the
// target attribute of every function here) and TINSEL_SINC_WIDE (1 where the
// 512-bit conversions may be used). Everything here is internal to the file
// that includes it.
//
// A run goes in parts whose entries are first made floats in a buffer on the
// stack, so that each frame only loads them. A frame's 16 lanes are formed in
// two 256-bit registers, whose sum is the first of the pairwise sums (the
// 512-bit operations cost two 256-bit ones on the processors measured, and a
// 512-bit formulation needs shuffles for that sum); eight frames' 8 lanes are
// then summed together by shuffles, as the scalar sum goes, and added to the
// buffer in single precision as the scalar loop adds them. FMA stays off.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "player/mix/mix_kernels.h"
#include "player/mix/mix_taps.h"

#if !defined(TINSEL_SINC_TARGET) || !defined(TINSEL_SINC_WIDE)
#error "define TINSEL_SINC_TARGET and TINSEL_SINC_WIDE before including mix_sinc_x86.h"
#endif

namespace {

namespace sinc {

using namespace mixframe;

// Floats in the buffer: room for a group of eight frames of the widest kernel
// at the largest step, so a part always holds one.
constexpr int32_t kStage = 4096;
// Frames in one part at most: a part's span, its frames times the step, is
// then worked out without overflow for any step.
constexpr uint32_t kPart = 1024;

// count (16 or more) entries from source on as floats (exactly), reading
// none past them: the last sixteen again where count is not a multiple.
TINSEL_SINC_TARGET inline void Widen(const int16_t* source, float* destination, int32_t count) {
    for (int32_t i = 0;; i += 16) {
        i = i + 16 <= count ? i : count - 16;
        const __m128i* s = reinterpret_cast<const __m128i*>(source + i);
        _mm256_storeu_ps(destination + i, _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm_loadu_si128(s))));
        _mm256_storeu_ps(destination + i + 8,
                         _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm_loadu_si128(s + 1))));
        if (i + 16 == count) {
            return;
        }
    }
}

// A kernel's rows, their size fixed at compile time where kTaps and
// kPhaseBits are not 0.
template <int32_t kTaps, int32_t kPhaseBits> struct Rows {
    const float* rows;
    int32_t taps;
    int32_t shift; // 32 - phaseBits
    __m256i mask;
    __m256 scale;

    TINSEL_SINC_TARGET explicit Rows(const mixtaps::SincTable& t)
        : rows(t.rows), taps(kTaps != 0 ? kTaps : t.taps),
          shift(32 - (kPhaseBits != 0 ? kPhaseBits : t.phaseBits)),
          mask(_mm256_set1_epi32(static_cast<int>(t.weightMask))), scale(_mm256_set1_ps(t.weightScale)) {}

    // The row of a position (its fraction is its low 32 bits).
    const float* Row(uint64_t position) const {
        const uint32_t fraction = static_cast<uint32_t>(position);
        constexpr int32_t kStride = 2 * kTaps * static_cast<int32_t>(sizeof(float));
        if constexpr (kTaps != 0 && kPhaseBits != 0 && (kStride & (kStride - 1)) == 0) {
            // The byte offset in one shift and one mask where a row's size is
            // a power of two: the frame's address arithmetic is most of the
            // instructions the loop issues beside its loads.
            constexpr int32_t kBits = __builtin_ctz(kStride);
            return reinterpret_cast<const float*>(
                reinterpret_cast<const char*>(rows) +
                ((position >> (32 - kPhaseBits - kBits)) & (((uint64_t{1} << kPhaseBits) - 1) << kBits)));
        } else if constexpr (kTaps != 0 && kPhaseBits != 0) {
            return rows + static_cast<size_t>(fraction >> (32 - kPhaseBits)) * (2 * kTaps);
        } else {
            return rows + static_cast<size_t>(fraction >> shift) * static_cast<size_t>(2 * taps);
        }
    }
};

// One frame's lanes as the scalar sum has them: taps 0 to 7 and 8 to 15 of
// each 16-tap chunk summed over the chunks in two registers, then the two
// added (lanes j and j + 8).
// Eight entries as floats: from the buffer, or made from the sample's.
TINSEL_SINC_TARGET inline __m256 Load8(const float* x) {
    return _mm256_loadu_ps(x);
}
TINSEL_SINC_TARGET inline __m256 Load8(const int16_t* x) {
    return _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x))));
}

template <int32_t kTaps, typename Entry>
TINSEL_SINC_TARGET inline __m256 FrameLanes(const Entry* x, const float* row, __m256 w, int32_t taps) {
    const int32_t t = kTaps != 0 ? kTaps : taps;
    __m256 low = _mm256_mul_ps(
        Load8(x), _mm256_add_ps(_mm256_loadu_ps(row), _mm256_mul_ps(w, _mm256_loadu_ps(row + 16))));
    __m256 high = _mm256_mul_ps(
        Load8(x + 8), _mm256_add_ps(_mm256_loadu_ps(row + 8), _mm256_mul_ps(w, _mm256_loadu_ps(row + 24))));
    for (int32_t c = 16; c < t; c += 16) {
        const float* r = row + 2 * c;
        low = _mm256_add_ps(
            low, _mm256_mul_ps(Load8(x + c),
                               _mm256_add_ps(_mm256_loadu_ps(r), _mm256_mul_ps(w, _mm256_loadu_ps(r + 16)))));
        high = _mm256_add_ps(
            high, _mm256_mul_ps(Load8(x + c + 8), _mm256_add_ps(_mm256_loadu_ps(r + 8),
                                                                _mm256_mul_ps(w, _mm256_loadu_ps(r + 24)))));
    }
    return _mm256_add_ps(low, high);
}

// Lanes j and j + 4 of frames a and b: [a's | b's].
TINSEL_SINC_TARGET inline __m256 Fold4(__m256 a, __m256 b) {
    return _mm256_add_ps(_mm256_blend_ps(a, b, 0xF0), _mm256_permute2f128_ps(a, b, 0x21));
}
// Then j and j + 2 of two such: in each half, a's two sums then b's.
TINSEL_SINC_TARGET inline __m256 Fold2(__m256 a, __m256 b) {
    return _mm256_add_ps(_mm256_blend_ps(a, b, 0xCC), _mm256_shuffle_ps(a, b, 0x4E));
}
// Then j and j + 1: in each half, a's two values then b's.
TINSEL_SINC_TARGET inline __m256 Fold1(__m256 a, __m256 b) {
    return _mm256_add_ps(_mm256_shuffle_ps(a, b, 0x88), _mm256_shuffle_ps(a, b, 0xDD));
}

// The weights of the eight frames from at on (fractionSteps: the step's
// fraction times 0 to 7), as SincWeight forms them.
template <int32_t kTaps, int32_t kPhaseBits>
TINSEL_SINC_TARGET inline __m256 Weights(const Rows<kTaps, kPhaseBits>& r, __m256i fractionSteps,
                                         uint64_t at) {
    const __m256i fractions =
        _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(static_cast<uint32_t>(at))), fractionSteps);
    return _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(fractions, r.mask)), r.scale);
}

// A group's values come in the order of frames 0, 4, 1, 5, 2, 6, 3, 7: the
// even lanes are frames 0 to 3, the odd ones 4 to 7.

// The values of the eight frames q, q + e, ... (from count on, the last
// repeats: nothing more is read), the positions counted from the entries'
// first.
template <int32_t kTaps, int32_t kPhaseBits, typename Entry>
TINSEL_SINC_TARGET inline __m256 GroupValues(const Rows<kTaps, kPhaseBits>& r, const Entry* entries, __m256 w,
                                             uint64_t q, uint64_t e, uint32_t count) {
    __m256 lanes[8];
    // The weights come in one register, each spread by a shuffle: a load for
    // each would be the frame's seventh, and loads bound the loop.
    const __m256 w03 = _mm256_permute2f128_ps(w, w, 0x00), w47 = _mm256_permute2f128_ps(w, w, 0x11);
#pragma GCC unroll 8
    for (uint32_t k = 0; k < 8; ++k) {
        if (k == 0 || k < count) {
            const uint64_t qk = q + k * e;
            const __m256 half = k < 4 ? w03 : w47;
            const __m256 wk = k % 4 == 0   ? _mm256_permute_ps(half, 0x00)
                              : k % 4 == 1 ? _mm256_permute_ps(half, 0x55)
                              : k % 4 == 2 ? _mm256_permute_ps(half, 0xAA)
                                           : _mm256_permute_ps(half, 0xFF);
            lanes[k] = FrameLanes<kTaps>(entries + (qk >> 32), r.Row(qk), wk, r.taps);
        } else {
            lanes[k] = lanes[k - 1];
        }
    }
    return Fold1(Fold2(Fold4(lanes[0], lanes[2]), Fold4(lanes[4], lanes[6])),
                 Fold2(Fold4(lanes[1], lanes[3]), Fold4(lanes[5], lanes[7])));
}

// Adds a group's values times (left, right) factors to its floats in single
// precision, as the scalar loop adds them: all eight frames', or the first
// frames' of a run's last group (only their floats are read and written).
// f03 and f47 hold the factors of frames 0 to 3 and 4 to 7, left and right
// side by side.
TINSEL_SINC_TARGET inline void AddGroup(float* o, __m256 values, __m256 f03, __m256 f47, uint32_t frames) {
    // Each frame's value twice, frames 0 to 3 from the even lanes, 4 to 7 from the odd.
    const __m256 first = _mm256_mul_ps(_mm256_moveldup_ps(values), f03);
    const __m256 second = _mm256_mul_ps(_mm256_movehdup_ps(values), f47);
    if (frames == 8) {
        _mm256_storeu_ps(o, _mm256_add_ps(_mm256_loadu_ps(o), first));
        _mm256_storeu_ps(o + 8, _mm256_add_ps(_mm256_loadu_ps(o + 8), second));
        return;
    }
#if TINSEL_SINC_WIDE
    const uint32_t mask = (1u << (2 * frames)) - 1;
    const __mmask8 m0 = static_cast<__mmask8>(mask), m1 = static_cast<__mmask8>(mask >> 8);
    _mm256_mask_storeu_ps(o, m0, _mm256_add_ps(_mm256_maskz_loadu_ps(m0, o), first));
    _mm256_mask_storeu_ps(o + 8, m1, _mm256_add_ps(_mm256_maskz_loadu_ps(m1, o + 8), second));
#else
    alignas(32) float products[16];
    _mm256_store_ps(products, first);
    _mm256_store_ps(products + 8, second);
    for (uint32_t i = 0; i < 2 * frames; ++i) {
        o[i] = o[i] + products[i];
    }
#endif
}

// The two gains.
struct PlainMix {
    __m256 gains; // left, right, left, ...

    TINSEL_SINC_TARGET void Group(float* o, __m256 values, uint32_t frames) const {
        AddGroup(o, values, gains, gains, frames);
    }
};

// A level of each frame, stepped on frame by frame in single precision (left
// and right side by side, one add for both, rounded as the scalar pair of adds).
struct RampMix {
    __m128 level; // left, right, 0, 0
    __m128 delta;

    TINSEL_SINC_TARGET void Group(float* o, __m256 values, uint32_t frames) {
        // The levels of frames 0 to 7 and the one after the last.
        __m128 l[9];
        l[0] = level;
        for (int k = 0; k < 8; ++k) {
            l[k + 1] = _mm_add_ps(l[k], delta);
        }
        level = l[frames];
        AddGroup(o, values, _mm256_set_m128(_mm_movelh_ps(l[2], l[3]), _mm_movelh_ps(l[0], l[1])),
                 _mm256_set_m128(_mm_movelh_ps(l[6], l[7]), _mm_movelh_ps(l[4], l[5])), frames);
    }
};

// n frames from q on (e: the step with its lowest bit cleared), in parts
// whose entries fit the buffer, eight frames at a time, a part's last fewer.
// The mix comes and goes by value, so that its registers are not reloaded
// after every store to the buffer.
template <int32_t kTaps, int32_t kPhaseBits, typename Mix>
TINSEL_SINC_TARGET Mix Frames(const int16_t* data, uint64_t q, uint64_t e, float* o, uint32_t n,
                              const mixtaps::SincTable& table, Mix mix) {
    alignas(32) float stage[kStage];
    const Rows<kTaps, kPhaseBits> rows(table);
    const int32_t taps = rows.taps;
    const bool forward = static_cast<int64_t>(e) >= 0;
    const uint64_t size = forward ? e : ~e + 1;
    uint32_t most = kPart;
    if (n <= kPart && static_cast<int64_t>(((n - 1) * size) >> 32) + taps + 2 <= kStage) {
        most = n; // all in one part (no division)
    } else if (size != 0) {
        const uint64_t fit = (static_cast<uint64_t>(kStage - taps - 2) << 32) / size + 1;
        most =
            fit >= most ? most : (fit >= 8 ? static_cast<uint32_t>(fit) & ~7u : static_cast<uint32_t>(fit));
    }
    const __m256i fractionSteps =
        _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7),
                           _mm256_set1_epi32(static_cast<int>(static_cast<uint32_t>(e))));
    for (uint32_t k = n; k != 0;) {
        const uint32_t m = k < most ? k : most;
        const uint64_t last = q + (m - 1) * e;
        const int32_t low = static_cast<int32_t>((forward ? q : last) >> 32);
        const int32_t high = static_cast<int32_t>((forward ? last : q) >> 32);
        // From the first tap of the part's lowest frame to the last of its
        // highest; the positions then count from the lowest frame's, so that
        // a frame's first tap is the entry its position names.
        const int16_t* direct = data + (low - (taps / 2 - 1));
        Widen(direct, stage, high - low + taps);
        const uint64_t origin = static_cast<uint64_t>(static_cast<int64_t>(low)) << 32;
        uint64_t p = q - origin;
        uint32_t j = 0;
        __m256 w = Weights(rows, fractionSteps, p);
        if (m >= 8) {
            // A group's values are formed while the one before is added, and
            // the next group's weights meanwhile. The first from the sample's
            // entries: loads from the buffer would wait for its stores to be
            // written out.
            __m256 values = GroupValues(rows, direct, w, p, e, 8);
            w = Weights(rows, fractionSteps, p + 8 * e);
            for (j = 8; j + 8 <= m; j += 8) {
                p += 8 * e;
                const __m256 following = Weights(rows, fractionSteps, p + 8 * e);
                const __m256 next = GroupValues(rows, stage, w, p, e, 8);
                mix.Group(o, values, 8);
                values = next;
                w = following;
                o += 16;
            }
            mix.Group(o, values, 8);
            p += 8 * e;
            o += 16;
        }
        if (j != m) {
            mix.Group(
                o, j == 0 ? GroupValues(rows, direct, w, p, e, m) : GroupValues(rows, stage, w, p, e, m - j),
                m - j);
            p += (m - j) * e;
            o += 2 * (m - j);
        }
        q = p + origin;
        k -= m;
    }
    return mix;
}

template <typename Mix>
TINSEL_SINC_TARGET void Run(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n,
                            Mix& mix) {
    const mixtaps::SincTable& table =
        mixtaps::SincTableFor(static_cast<int64_t>(step) >= 0 ? step : ~step + 1);
    const uint64_t q = pos & ~uint64_t{1}, e = step & ~uint64_t{1};
    // The common kernels with their sizes known.
    if (table.taps == 16 && table.phaseBits == 7) {
        mix = Frames<16, 7>(data, q, e, o, n, table, mix);
    } else if (table.taps == 32 && table.phaseBits == 6) {
        mix = Frames<32, 6>(data, q, e, o, n, table, mix);
    } else if (table.taps == 48 && table.phaseBits == 5) {
        mix = Frames<48, 5>(data, q, e, o, n, table, mix);
    } else if (table.taps == 64 && table.phaseBits == 5) {
        mix = Frames<64, 5>(data, q, e, o, n, table, mix);
    } else {
        mix = Frames<0, 0>(data, q, e, o, n, table, mix);
    }
}

TINSEL_SINC_TARGET inline uint64_t PlainSinc(const int16_t* data, uint64_t pos, uint64_t step, float* o,
                                             uint32_t n, float gL, float gR) {
    if (!Silent(gL, gR) && n != 0) {
        PlainMix mix{_mm256_setr_ps(gL, gR, gL, gR, gL, gR, gL, gR)};
        Run(data, pos, step, o, n, mix);
    }
    return PositionAfter(pos, step, n);
}

TINSEL_SINC_TARGET inline uint64_t RampSinc(const int16_t* data, uint64_t pos, uint64_t step, float* o,
                                            uint32_t n, float* levels, const float* steps) {
    if (n != 0) {
        RampMix mix{_mm_setr_ps(levels[0], levels[1], 0.0f, 0.0f),
                    _mm_setr_ps(steps[0], steps[1], 0.0f, 0.0f)};
        Run(data, pos, step, o, n, mix);
        levels[0] = _mm_cvtss_f32(mix.level);
        levels[1] = _mm_cvtss_f32(_mm_shuffle_ps(mix.level, mix.level, 1));
    }
    return PositionAfter(pos, step, n);
}

} // namespace sinc

} // namespace
