// The inner loops with WebAssembly's 128-bit vectors, for the page's player:
// four frames per pass, as the SSE2 loops take them, and the original
// tracker's loop four frames at a time. WebAssembly has no gather, so each
// frame's pair of entries is one 32-bit load; every product and sum is formed
// as the scalar loops form it, so the floats and sums are theirs to the bit.
#include "player/mix/ft2_kernels.h"
#include "player/mix/ft2_mixer.h"
#include "player/mix/mix_kernels.h"
#include "player/mix/mix_taps.h"

#ifdef TINSEL_MIX_WASM

#include <wasm_simd128.h>

#include <cstring>

namespace {

using namespace mixframe;

int32_t Pair(const int16_t* data, int32_t i) {
    int32_t x;
    std::memcpy(&x, data + i, sizeof x);
    return x;
}

// The weights of four frames at q, q + e, q + 2e, q + 3e (q and e even), two
// per register: the low 32 bits of each position over 2^32, the weight the
// scalar loop takes. Four frames on, each is the sum with the step's share
// less its whole part, 0 or 1: both exact, 33 bits of a double's 53.
struct Weights4 {
    v128_t w01, w23, step;

    Weights4(uint64_t q, uint64_t e) {
        auto at = [](uint64_t p) { return static_cast<double>(static_cast<uint32_t>(p)) * 0x1p-32; };
        w01 = wasm_f64x2_make(at(q), at(q + e));
        w23 = wasm_f64x2_make(at(q + 2 * e), at(q + 3 * e));
        step = wasm_f64x2_splat(at(4 * e));
    }

    static v128_t Moved(v128_t w, v128_t step) {
        const v128_t sum = wasm_f64x2_add(w, step);
        return wasm_f64x2_sub(sum, wasm_f64x2_floor(sum));
    }

    void Next() {
        w01 = Moved(w01, step);
        w23 = Moved(w23, step);
        // Adding +0 changes no step, and keeps V8 from computing it anew on
        // every pass, which it otherwise does for a value made before the loop.
        step = wasm_f64x2_add(step, wasm_f64x2_splat(0.0));
    }
};

// The interpolated values of four frames at q, q + e, q + 2e, q + 3e of
// weights w, two per register: a + w * (b - a), where b - a is exact in 32 bits.
inline void Values4(const int16_t* data, uint64_t q, uint64_t e, const Weights4& w, v128_t& v01,
                    v128_t& v23) {
    const uint64_t q1 = q + e, q2 = q1 + e, q3 = q2 + e;
    const v128_t x = wasm_i32x4_make(
        Pair(data, static_cast<int32_t>(q >> 32)), Pair(data, static_cast<int32_t>(q1 >> 32)),
        Pair(data, static_cast<int32_t>(q2 >> 32)), Pair(data, static_cast<int32_t>(q3 >> 32)));
    const v128_t a = wasm_i32x4_shr(wasm_i32x4_shl(x, 16), 16);
    const v128_t d = wasm_i32x4_sub(wasm_i32x4_shr(x, 16), a);
    const v128_t aHi = wasm_i32x4_shuffle(a, a, 2, 3, 2, 3), dHi = wasm_i32x4_shuffle(d, d, 2, 3, 2, 3);
    v01 = wasm_f64x2_add(wasm_f64x2_convert_low_i32x4(a),
                         wasm_f64x2_mul(w.w01, wasm_f64x2_convert_low_i32x4(d)));
    v23 = wasm_f64x2_add(wasm_f64x2_convert_low_i32x4(aHi),
                         wasm_f64x2_mul(w.w23, wasm_f64x2_convert_low_i32x4(dHi)));
}

// Adds two frames' values times (left, right) factors to four floats.
inline void Add2(float* o, v128_t v01, v128_t f0, v128_t f1) {
    const v128_t old = wasm_v128_load(o);
    const v128_t r0 = wasm_f64x2_add(wasm_f64x2_promote_low_f32x4(old),
                                     wasm_f64x2_mul(wasm_i64x2_shuffle(v01, v01, 0, 0), f0));
    const v128_t r1 = wasm_f64x2_add(wasm_f64x2_promote_low_f32x4(wasm_i32x4_shuffle(old, old, 2, 3, 2, 3)),
                                     wasm_f64x2_mul(wasm_i64x2_shuffle(v01, v01, 1, 1), f1));
    wasm_v128_store(o, wasm_i32x4_shuffle(wasm_f32x4_demote_f64x2_zero(r0), wasm_f32x4_demote_f64x2_zero(r1),
                                          0, 1, 4, 5));
}

// The same at one pair of gains for both frames: the lefts side by side and
// the rights, each frame's value taken as it is.
inline void Add2Held(float* o, v128_t v01, v128_t gL, v128_t gR) {
    const v128_t sides = wasm_i32x4_shuffle(wasm_v128_load(o), wasm_v128_load(o), 0, 2, 1, 3);
    const v128_t l = wasm_f64x2_add(wasm_f64x2_promote_low_f32x4(sides), wasm_f64x2_mul(v01, gL));
    const v128_t r = wasm_f64x2_add(
        wasm_f64x2_promote_low_f32x4(wasm_i32x4_shuffle(sides, sides, 2, 3, 2, 3)), wasm_f64x2_mul(v01, gR));
    wasm_v128_store(
        o, wasm_i32x4_shuffle(wasm_f32x4_demote_f64x2_zero(l), wasm_f32x4_demote_f64x2_zero(r), 0, 4, 1, 5));
}

uint64_t PlainSimd128(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n, float gL,
                      float gR) {
    if (Silent(gL, gR)) {
        return PositionAfter(pos, step, n);
    }
    const uint64_t e = step & ~uint64_t{1};
    uint64_t q = pos & ~uint64_t{1};
    const v128_t left = wasm_f64x2_splat(gL), right = wasm_f64x2_splat(gR);
    Weights4 w(q, e);
    uint32_t k = n;
    for (; k >= 4; k -= 4) {
        v128_t v01, v23;
        Values4(data, q, e, w, v01, v23);
        Add2Held(o, v01, left, right);
        Add2Held(o + 4, v23, left, right);
        w.Next();
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

uint64_t RampSimd128(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n, float* levels,
                     const float* steps) {
    const uint64_t e = step & ~uint64_t{1};
    uint64_t q = pos & ~uint64_t{1};
    // Left and right level side by side: one single-precision add per frame,
    // the same rounding as the scalar pair of adds.
    v128_t level = wasm_f32x4_make(levels[0], levels[1], 0.0f, 0.0f);
    const v128_t delta = wasm_f32x4_make(steps[0], steps[1], 0.0f, 0.0f);
    Weights4 w(q, e);
    uint32_t k = n;
    for (; k >= 4; k -= 4) {
        v128_t v01, v23;
        Values4(data, q, e, w, v01, v23);
        w.Next();
        const v128_t l0 = level;
        const v128_t l1 = wasm_f32x4_add(l0, delta);
        const v128_t l2 = wasm_f32x4_add(l1, delta);
        const v128_t l3 = wasm_f32x4_add(l2, delta);
        level = wasm_f32x4_add(l3, delta);
        Add2(o, v01, wasm_f64x2_promote_low_f32x4(l0), wasm_f64x2_promote_low_f32x4(l1));
        Add2(o + 4, v23, wasm_f64x2_promote_low_f32x4(l2), wasm_f64x2_promote_low_f32x4(l3));
        q += 4 * e;
        o += 8;
    }
    float cL = wasm_f32x4_extract_lane(level, 0);
    float cR = wasm_f32x4_extract_lane(level, 1);
    RampFrames(data, q, step, o, k, cL, cR, steps[0], steps[1]);
    levels[0] = cL;
    levels[1] = cR;
    return PositionAfter(pos, step, n);
}

void ConvertSimd128(int16_t* destination, const float* source, int32_t count) {
    // Clipping before rounding gives what clipping after it does, both bounds
    // being whole numbers. Then 1.5 * 2^23 added rounds to a whole number,
    // to nearest with ties to even, in the low bits of the sum, which taking
    // away its own bits leaves as an integer; the narrowing to 16 bits only
    // packs. (pmin and pmax are one instruction each: the bounds are never NaN.)
    const v128_t low = wasm_f32x4_splat(-32768.0f), high = wasm_f32x4_splat(32767.0f);
    const v128_t magic = wasm_f32x4_splat(12582912.0f);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const v128_t x0 = wasm_f32x4_pmin(high, wasm_f32x4_pmax(low, wasm_v128_load(source + i)));
        const v128_t x1 = wasm_f32x4_pmin(high, wasm_f32x4_pmax(low, wasm_v128_load(source + i + 4)));
        wasm_v128_store(destination + i,
                        wasm_i16x8_narrow_i32x4(wasm_i32x4_sub(wasm_f32x4_add(x0, magic), magic),
                                                wasm_i32x4_sub(wasm_f32x4_add(x1, magic), magic)));
    }
    for (; i < count; ++i) {
        destination[i] = ConvertOne(source[i]);
    }
}

// clang takes a lane it knows to be non-negative for an unsigned one, and a
// product of signed and unsigned lanes for a whole 64-bit multiply, which V8
// lowers to a dozen instructions: an empty statement it cannot see through
// keeps the signed widening multiply, one instruction on x86.
inline v128_t Opaque(v128_t x) {
    __asm__("" : "+r"(x));
    return x;
}

// The original tracker's loop: floor(a * b / 2^32) of signed 32-bit lanes,
// the high halves of their whole 64-bit products.
inline v128_t MulHigh(v128_t a, v128_t b) {
    return wasm_i32x4_shuffle(wasm_i64x2_extmul_low_i32x4(a, b), wasm_i64x2_extmul_high_i32x4(a, b), 1, 3, 5,
                              7);
}

// The entry pairs of four frames, each a load of its own.
inline v128_t Ft2Pairs(const int16_t* data, v128_t index) {
    return wasm_i32x4_make(
        Pair(data, wasm_i32x4_extract_lane(index, 0)), Pair(data, wasm_i32x4_extract_lane(index, 1)),
        Pair(data, wasm_i32x4_extract_lane(index, 2)), Pair(data, wasm_i32x4_extract_lane(index, 3)));
}

inline v128_t Ft2Values(v128_t pairs, v128_t halfWeight) {
    const v128_t a = wasm_i32x4_shr(wasm_i32x4_shl(pairs, 16), 16);
    const v128_t t = MulHigh(wasm_i32x4_sub(wasm_i32x4_shr(pairs, 16), a), halfWeight);
    return wasm_i32x4_add(a, wasm_i32x4_add(t, t));
}

// A frame's value is a + 2t, t = floor((b - a) * halfWeight / 2^32): with the
// half weight below 2^31, t is within 16 bits as a is. Each lane gets a in
// its low half and t in its high one, so that a product of the value with a
// 16-bit factor f is one multiply-add of halves, a * f + t * 2f.
inline v128_t Ft2Halves(v128_t pairs, v128_t halfWeight) {
    const v128_t a = wasm_i32x4_shr(wasm_i32x4_shl(pairs, 16), 16);
    const v128_t t = MulHigh(wasm_i32x4_sub(wasm_i32x4_shr(pairs, 16), a), halfWeight);
    return wasm_i16x8_shuffle(pairs, wasm_i32x4_shl(t, 16), 0, 9, 2, 11, 4, 13, 6, 15);
}

// A gain below 2^28 as two 14-bit parts g = h * 2^14 + l, each as the factor
// pair (f, 2f) of the halves above.
inline void GainFactors(v128_t gain, v128_t& high, v128_t& low) {
    const v128_t h = wasm_u32x4_shr(gain, 14);
    const v128_t l = wasm_v128_and(gain, wasm_i32x4_splat(0x3FFF));
    high = wasm_v128_or(h, wasm_i32x4_shl(h, 17));
    low = wasm_v128_or(l, wasm_i32x4_shl(l, 17));
}

// floor(x * 4096 * g / 2^32) = floor((x * h + floor(x * l / 2^14)) / 2^6),
// every product and sum within 30 bits.
inline v128_t Ft2Shares(v128_t halves, v128_t high, v128_t low) {
    const v128_t p = wasm_i32x4_dot_i16x8(halves, high);
    const v128_t q = wasm_i32x4_dot_i16x8(halves, low);
    return wasm_i32x4_shr(wasm_i32x4_add(p, wasm_i32x4_shr(q, 14)), 6);
}

// The gains stay below 2^28: the largest is the loudest volume at the
// largest amplification fully to one side.
static_assert(uint64_t{255} * 8 * kFt2MaxAmplification * 65536 / 16 < (uint64_t{1} << 28),
              "a gain no longer splits into two 14-bit factors");

// The lanes' fractions, the first's plus three steps, must not wrap in 32
// bits; only steps of thousands of frames come near, and they run the scalar loop.
constexpr uint32_t kMaxVectorStep = 0xFFFF0000u / 4;
// Up to two entries a frame, four frames read at most eight entries from the
// first frame's on (backward: up to its pair's second): one load of them and
// a byte shuffle give every frame its pair. The sample's guard entries on
// both sides hold what the load reads past the run.
constexpr uint32_t kMaxWindowStep = 0x20000;

template <bool kBackward, bool kStereo, bool kWindow, bool kRamp>
uint64_t Ft2Loop(const int16_t* left, const int16_t* right, uint64_t position, uint32_t step, uint32_t mirror,
                 uint32_t address, int32_t* sumL, int32_t* sumR, uint32_t count, int32_t gainL, int32_t gainR,
                 int32_t deltaL, int32_t deltaR) {
    const v128_t lanes = wasm_i32x4_make(0, 1, 2, 3);
    const v128_t offsets = wasm_i32x4_mul(lanes, wasm_i32x4_splat(static_cast<int32_t>(step)));
    v128_t addresses =
        wasm_i32x4_add(wasm_i32x4_splat(static_cast<int32_t>(address)), wasm_i32x4_shl(lanes, 3));
    v128_t gL = wasm_i32x4_add(wasm_i32x4_splat(gainL), wasm_i32x4_mul(lanes, wasm_i32x4_splat(deltaL)));
    v128_t gR = wasm_i32x4_add(wasm_i32x4_splat(gainR), wasm_i32x4_mul(lanes, wasm_i32x4_splat(deltaR)));
    const v128_t moveL = wasm_i32x4_splat(ft2frame::Moved(0, 4, deltaL));
    const v128_t moveR = wasm_i32x4_splat(ft2frame::Moved(0, 4, deltaR));
    const v128_t moveAddress = wasm_i32x4_splat(4 * ft2frame::kAddressStep);
    // Held gains: their factors once for the run.
    v128_t highL, lowL, highR, lowR;
    GainFactors(gL, highL, lowL);
    GainFactors(gR, highR, lowR);
    // A lane's pair in the window: bytes 2r to 2r + 3 for r entries past its
    // start; backward, the window ends with the first frame's pair.
    const v128_t pairBytes = wasm_i32x4_splat(kBackward ? 0x0F0E0D0C : 0x03020100);
    const uint32_t groups = count / 4;
    auto group = [&](uint32_t k) {
        const v128_t fractions =
            wasm_i32x4_add(wasm_i32x4_splat(static_cast<int32_t>(position & 0xFFFF)), offsets);
        // The fraction's 16 bits on top, which the weight takes (mirrored backward).
        v128_t weightHigh = wasm_i32x4_shl(fractions, 16);
        if (kBackward) {
            weightHigh = wasm_v128_xor(weightHigh, wasm_i32x4_splat(static_cast<int32_t>(0xFFFF0000u)));
        }
        const v128_t halfWeight = Opaque(wasm_u32x4_shr(wasm_i32x4_add(weightHigh, addresses), 1));
        const uint32_t whole = static_cast<uint32_t>(position >> 16);
        v128_t pl, pr;
        if (kWindow) {
            // Twice the entries past the first frame's, in every byte of the lane.
            const v128_t twice = wasm_i32x4_mul(wasm_u32x4_shr(fractions, 16), wasm_i32x4_splat(0x02020202));
            const v128_t bytes =
                kBackward ? wasm_i8x16_sub(pairBytes, twice) : wasm_i8x16_add(pairBytes, twice);
            const uint32_t start = kBackward ? mirror - whole - 6 : whole;
            pl = wasm_i8x16_swizzle(wasm_v128_load(left + start), bytes);
            pr = kStereo ? wasm_i8x16_swizzle(wasm_v128_load(right + start), bytes) : pl;
        } else {
            v128_t index =
                wasm_i32x4_add(wasm_i32x4_splat(static_cast<int32_t>(whole)), wasm_u32x4_shr(fractions, 16));
            if (kBackward) {
                index = wasm_i32x4_sub(wasm_i32x4_splat(static_cast<int32_t>(mirror)), index);
            }
            pl = Ft2Pairs(left, index);
            pr = kStereo ? Ft2Pairs(right, index) : pl;
        }
        v128_t l, r;
        if (kRamp) {
            // Gains that move: their products whole, as the scalar loop forms them.
            const v128_t xl = wasm_i32x4_shl(Ft2Values(pl, halfWeight), 12);
            l = MulHigh(xl, gL);
            r = MulHigh(kStereo ? wasm_i32x4_shl(Ft2Values(pr, halfWeight), 12) : xl, gR);
            gL = wasm_i32x4_add(gL, moveL);
            gR = wasm_i32x4_add(gR, moveR);
        } else {
            const v128_t xl = Ft2Halves(pl, halfWeight);
            l = Ft2Shares(xl, highL, lowL);
            r = Ft2Shares(kStereo ? Ft2Halves(pr, halfWeight) : xl, highR, lowR);
        }
        wasm_v128_store(sumL + 4 * k, wasm_i32x4_add(wasm_v128_load(sumL + 4 * k), l));
        wasm_v128_store(sumR + 4 * k, wasm_i32x4_add(wasm_v128_load(sumR + 4 * k), r));
        position += uint64_t{step} * 4;
        addresses = wasm_i32x4_add(addresses, moveAddress);
    };
    // Two groups a pass: the loop's own work, and what V8 makes anew each
    // pass, counts once for eight frames.
    uint32_t k = 0;
    for (; k + 2 <= groups; k += 2) {
        group(k);
        group(k + 1);
    }
    if (k < groups) {
        group(k);
    }
    const uint32_t done = 4 * groups;
    return ft2frame::RunFrames<kBackward, kStereo>(
        left, right, position, step, mirror, address + done * ft2frame::kAddressStep, sumL + done,
        sumR + done, count - done, ft2frame::Moved(gainL, done, deltaL), ft2frame::Moved(gainR, done, deltaR),
        deltaL, deltaR);
}

template <bool kBackward, bool kStereo, bool kWindow>
uint64_t Ft2Gains(const int16_t* left, const int16_t* right, uint64_t position, uint32_t step,
                  uint32_t mirror, uint32_t address, int32_t* sumL, int32_t* sumR, uint32_t count,
                  int32_t gainL, int32_t gainR, int32_t deltaL, int32_t deltaR) {
    // Held gains (most runs) make their factors once.
    if (deltaL == 0 && deltaR == 0) {
        return Ft2Loop<kBackward, kStereo, kWindow, false>(left, right, position, step, mirror, address, sumL,
                                                           sumR, count, gainL, gainR, 0, 0);
    }
    return Ft2Loop<kBackward, kStereo, kWindow, true>(left, right, position, step, mirror, address, sumL,
                                                      sumR, count, gainL, gainR, deltaL, deltaR);
}

template <bool kBackward, bool kStereo>
uint64_t Ft2RunSimd128(const int16_t* left, const int16_t* right, uint64_t position, uint32_t step,
                       uint32_t mirror, uint32_t address, int32_t* sumL, int32_t* sumR, uint32_t count,
                       int32_t gainL, int32_t gainR, int32_t deltaL, int32_t deltaR) {
    if (step <= kMaxWindowStep) {
        return Ft2Gains<kBackward, kStereo, true>(left, right, position, step, mirror, address, sumL, sumR,
                                                  count, gainL, gainR, deltaL, deltaR);
    }
    if (step <= kMaxVectorStep) {
        return Ft2Gains<kBackward, kStereo, false>(left, right, position, step, mirror, address, sumL, sumR,
                                                   count, gainL, gainR, deltaL, deltaR);
    }
    return ft2frame::RunFrames<kBackward, kStereo>(left, right, position, step, mirror, address, sumL, sumR,
                                                   count, gainL, gainR, deltaL, deltaR);
}

} // namespace

const MixKernels kSimd128Kernels = {{{PlainSimd128, RampSimd128},
                                     {PlainNearest, RampNearest},
                                     {PlainCubic, RampCubic},
                                     {PlainSincScalar, RampSincScalar}},
                                    ConvertSimd128};

const Ft2Kernels kSimd128Ft2Kernels = {{{Ft2RunSimd128<false, false>, Ft2RunSimd128<false, true>},
                                        {Ft2RunSimd128<true, false>, Ft2RunSimd128<true, true>}}};

void Ft2OutputSimd128(float* destination, const int32_t* sumL, const int32_t* sumR, int32_t frames) {
    int32_t i = 0;
    // The saturating narrow is the clip; the sides are interleaved as floats.
    for (; i + 4 <= frames; i += 4) {
        const v128_t l = wasm_i32x4_shr(wasm_v128_load(sumL + i), 8);
        const v128_t r = wasm_i32x4_shr(wasm_v128_load(sumR + i), 8);
        const v128_t clipped = wasm_i16x8_narrow_i32x4(l, r);
        // (Opaque: clang would convert the 16-bit values one by one.)
        const v128_t fl = wasm_f32x4_convert_i32x4(Opaque(wasm_i32x4_extend_low_i16x8(clipped)));
        const v128_t fr = wasm_f32x4_convert_i32x4(Opaque(wasm_i32x4_extend_high_i16x8(clipped)));
        wasm_v128_store(destination + 2 * i, wasm_i32x4_shuffle(fl, fr, 0, 4, 1, 5));
        wasm_v128_store(destination + 2 * i + 4, wasm_i32x4_shuffle(fl, fr, 2, 6, 3, 7));
    }
    for (; i < frames; ++i) {
        for (int side = 0; side < 2; ++side) {
            const int32_t s = (side == 0 ? sumL : sumR)[i] >> 8;
            destination[2 * i + side] = static_cast<float>(s < -32768 ? -32768 : (s > 32767 ? 32767 : s));
        }
    }
}

#endif
