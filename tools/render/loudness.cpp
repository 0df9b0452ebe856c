#include "tools/render/loudness.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

// The two meters are written on vectors of 32 bytes that the compiler maps to
// whatever the target has (one AVX register, two SSE2 or WebAssembly ones); x86 builds also carry an AVX2
// copy, chosen at run time.
#if defined(__x86_64__) || defined(__i386__)
#define TINSEL_LOUDNESS_X86 1
#define TINSEL_AVX2 __attribute__((target("avx2,fma")))
#define TINSEL_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx2,fma")))
#endif

// The helpers that take and return vectors are all inlined: no call passes
// one, so the calling convention they would change is never used.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

using F8 = float __attribute__((vector_size(32)));
using F4 = float __attribute__((vector_size(16)));
using D4 = double __attribute__((vector_size(32)));

template <typename V> [[gnu::always_inline]] inline V Load(const void* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

using F16 = float __attribute__((vector_size(64)));

// Lanes of a vector.
template <typename V> constexpr int kWidth = int(sizeof(V) / sizeof(float));

template <typename V> [[gnu::always_inline]] inline V Max(V a, V b) {
    return a > b ? a : b;
}
// The sign bit cleared: one instruction, where a comparison and a blend take three.
template <typename V> [[gnu::always_inline]] inline V Abs(V a) {
    using I8 = int32_t __attribute__((vector_size(32)));
    using I16 = int32_t __attribute__((vector_size(64)));
    std::conditional_t<sizeof(V) == 32, I8, I16> bits;
    static_assert(sizeof bits == sizeof a);
    std::memcpy(&bits, &a, sizeof a);
    bits &= 0x7fffffff;
    std::memcpy(&a, &bits, sizeof a);
    return a;
}
// The largest lane, by halves: a loop over the lanes would go through memory.
[[gnu::always_inline]] inline float Largest(F4 v) {
    const F4 a = Max(v, __builtin_shufflevector(v, v, 2, 3, 0, 1));
    return std::max(a[0], a[1]);
}
[[gnu::always_inline]] inline float Largest(F8 v) {
    return Largest(Max(__builtin_shufflevector(v, v, 0, 1, 2, 3), __builtin_shufflevector(v, v, 4, 5, 6, 7)));
}
#ifdef TINSEL_LOUDNESS_X86
[[gnu::always_inline]] inline float Largest(F16 v) {
    return Largest(Max(__builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7),
                       __builtin_shufflevector(v, v, 8, 9, 10, 11, 12, 13, 14, 15)));
}
#endif

// True peak: the signal four times oversampled by a windowed sinc, a phase of
// 12 taps for each of the three points between two samples (the fourth is
// the sample itself). A Kaiser window (beta 5) over six samples either side
// keeps the passband within 0.02 dB to 0.35 of the rate (0.1 dB at 0.38) and
// the images from 0.65 of the rate 52 dB down.
constexpr int kTaps = 12;
constexpr int kReachBack = kTaps / 2 - 1; // samples before the point's left neighbour

struct PeakFilter {
    float taps[3][kTaps];
    // No point can exceed reach[phases] times the largest magnitude among its
    // taps' samples (with room for the rounding), for 3 phases (4x) or only
    // the middle one (2x).
    float reach[4] = {1, 1, 1, 1};
    // Nor can a point lie further from the line between its two neighbours
    // than bend[phases] times the largest second difference among its taps'
    // samples, give or take what straight[phases] allows: music bends little
    // between two samples, so this bound passes over most loud stretches
    // that the first must leave to the filter.
    float bend[4] = {0, 0, 0, 0}, straight[4] = {1, 1, 1, 1};
    PeakFilter() {
        const auto besselI0 = [](double x) {
            double sum = 1, term = 1;
            for (int k = 1; k < 30; ++k) {
                term *= (x / (2 * k)) * (x / (2 * k));
                sum += term;
            }
            return sum;
        };
        constexpr double kBeta = 5, kPi = 3.14159265358979323846;
        for (int p = 1; p <= 3; ++p) {
            double row[kTaps], sum = 0;
            for (int k = 0; k < kTaps; ++k) {
                // Tap k weighs sample n - kReachBack + k for the point n + p/4.
                const double t = kReachBack - k + p / 4.0, r = t / (kTaps / 2);
                row[k] =
                    std::sin(kPi * t) / (kPi * t) * besselI0(kBeta * std::sqrt(1 - r * r)) / besselI0(kBeta);
                sum += row[k];
            }
            // Each phase passes a constant as it is.
            double weight = 0;
            for (int k = 0; k < kTaps; ++k) {
                taps[p - 1][k] = float(row[k] / sum);
                weight += std::fabs(row[k] / sum);
            }
            reach[3] = std::max(reach[3], float(weight * 1.001));
            if (p == 2)
                reach[1] = float(weight * 1.001);
        }
        for (int p = 1; p <= 3; ++p) {
            // The phase's taps less the line between the point's neighbours,
            // divided by a second difference's (1, -2, 1) from the far end;
            // what is left over is a multiple of a first difference's (1, -1).
            double rest[kTaps], sum = 0;
            for (int k = 0; k < kTaps; ++k)
                rest[k] = taps[p - 1][k];
            rest[kReachBack] -= 1 - p / 4.0;
            rest[kReachBack + 1] -= p / 4.0;
            for (int k = kTaps - 1; k >= 2; --k) {
                const double q = rest[k];
                sum += std::fabs(q);
                rest[k - 1] += 2 * q;
                rest[k - 2] -= q;
            }
            // A first difference is at most twice the largest sample.
            const float lean = float((1 + 2 * std::fabs(rest[1])) * 1.001), curve = float(sum * 1.001);
            bend[3] = std::max(bend[3], curve);
            straight[3] = std::max(straight[3], lean);
            if (p == 2) {
                bend[1] = curve;
                straight[1] = lean;
            }
        }
        for (int j = 0; j < kTaps / 2; ++j) {
            outer[j] = (taps[0][j] + taps[0][kTaps - 1 - j]) / 2;
            inner[j] = (taps[0][j] - taps[0][kTaps - 1 - j]) / 2;
            middle[j] = taps[1][j];
        }
    }
    // The phases mirror each other: the third's taps are the first's
    // backwards, and the middle one's its own. So the taps' samples are
    // taken in pairs from either end, s = x[j] + x[11 - j] and
    // d = x[j] - x[11 - j], and then the middle point is the sum of
    // middle[j] * s, and the larger magnitude of the other two is
    // |sum of outer[j] * s| + |sum of inner[j] * d|: eighteen multiply-adds
    // for the three points, not thirty-six.
    float outer[kTaps / 2], inner[kTaps / 2], middle[kTaps / 2];
};

const PeakFilter& Filter() {
    static const PeakFilter filter;
    return filter;
}

// The largest magnitude among the kPhases points after each of x[kReachBack]
// to x[kReachBack + width - 1] and those samples themselves, lane by lane;
// unrolled whole, so that the sums stay in registers.
template <int kPhases, typename V>
[[gnu::always_inline]] inline V PointsOf(const float* x, const PeakFilter& f) {
    const V sample = Abs(Load<V>(x + kReachBack));
    if constexpr (kPhases == 0) {
        return sample;
    } else {
        V outer = {}, inner = {}, middle = {};
#pragma GCC unroll 6
        for (int j = 0; j < kTaps / 2; ++j) {
            const V a = Load<V>(x + j), b = Load<V>(x + kTaps - 1 - j);
            const V sum = a + b;
            middle += f.middle[j] * sum;
            if constexpr (kPhases == 3) {
                outer += f.outer[j] * sum;
                inner += f.inner[j] * (a - b);
            }
        }
        const V most = Max(sample, Abs(middle));
        if constexpr (kPhases == 3)
            return Max(most, Abs(outer) + Abs(inner));
        return most;
    }
}

// The largest magnitude among x[kReachBack + i] and the kPhases points after
// it (3: at quarters, 1: halfway), for i from 0 to n - 1 (x holds
// n + kTaps - 1 samples, and kPeakPad more).
template <int kPhases, typename V> [[gnu::always_inline]] inline float PeakOf(const float* x, int32_t n) {
    constexpr int kW = kWidth<V>;
    const PeakFilter& f = Filter();
    V peak = {};
    int32_t i = 0;
    // Two vectors of points at a time: each sum is a chain of multiply-adds,
    // and two sets of chains keep the unit busy while each waits on its last.
    for (; i + 2 * kW <= n; i += 2 * kW)
        peak = Max(peak, Max(PointsOf<kPhases, V>(x + i, f), PointsOf<kPhases, V>(x + i + kW, f)));
    for (; i + kW <= n; i += kW)
        peak = Max(peak, PointsOf<kPhases, V>(x + i, f));
    float most = Largest(peak);
    if (i < n) {
        // The last points through the same vector sums (x is padded for
        // them): a point's value must not depend on where a block ends.
        const V last = PointsOf<kPhases, V>(x + i, f);
        for (int l = 0; l < n - i; ++l)
            most = std::max(most, last[l]);
    }
    return most;
}

// Whether any lane of v lies above limit, without reducing v to its largest
// lane: that takes a chain of shuffles, this a comparison and a test.
[[gnu::always_inline]] inline bool AnyAbove(F8 v, F8 limit) {
    using I8 = int32_t __attribute__((vector_size(32)));
    using I4 = int32_t __attribute__((vector_size(16)));
    const I8 above = v > limit;
    const I4 half =
        __builtin_shufflevector(above, above, 0, 1, 2, 3) | __builtin_shufflevector(above, above, 4, 5, 6, 7);
    uint64_t a, b;
    std::memcpy(&a, &half, sizeof a);
    std::memcpy(&b, reinterpret_cast<const char*>(&half) + sizeof a, sizeof b);
    return (a | b) != 0;
}
#ifdef TINSEL_LOUDNESS_X86
[[gnu::always_inline]] inline bool AnyAbove(F16 v, F16 limit) {
    const F8 half = Max(__builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7),
                        __builtin_shufflevector(v, v, 8, 9, 10, 11, 12, 13, 14, 15));
    return AnyAbove(half, __builtin_shufflevector(limit, limit, 0, 1, 2, 3, 4, 5, 6, 7));
}
#endif

// The largest magnitude lane by lane among at least every sample the points
// after x[kReachBack] to x[kReachBack + count - 1] weigh; the few past them
// are as good a bound.
template <typename V> [[gnu::always_inline]] inline V Loudest(const float* x, int32_t count) {
    V most = {};
#pragma GCC unroll 8
    for (int32_t k = 0; k < count + kTaps - 1; k += kWidth<V>)
        most = Max(most, Abs(Load<V>(x + k)));
    return most;
}

// Whether the points of the stretch x[kReachBack] to x[kReachBack + count - 1]
// could lie above peak by the second bound, most being the largest magnitude
// among its taps' samples.
template <int kPhases, typename V>
[[gnu::always_inline]] inline bool Bends(const float* x, int32_t count, float most, float peak) {
    constexpr int kW = kWidth<V>;
    if constexpr (kPhases == 0) {
        return true;
    } else {
        V bend = {};
        for (int32_t k = 2; k < count + kTaps - 1; k += kW) {
            const V a = Load<V>(x + k), b = Load<V>(x + k - 1), c = Load<V>(x + k - 2);
            bend = Max(bend, Abs((a + c) - (b + b)));
        }
        const PeakFilter& f = Filter();
        return f.straight[kPhases] * most + f.bend[kPhases] * Largest(bend) > peak;
    }
}

// The larger of peak and PeakOf(x, n), x padded with kPeakPad samples: a
// stretch is filtered only where its samples could make a point above peak,
// which in most songs leaves the loud passages. Neighbouring stretches that
// need it are filtered in one go, which sets the filter up once.
constexpr int kPeakStretch = 64, kPeakPad = 16;
template <int kPhases, typename V>
[[gnu::always_inline]] inline float PeakBody(const float* x, int32_t n, float peak) {
    const float reach = Filter().reach[kPhases];
    // Below this no sample can make a point above peak (reach has room for the rounding).
    V limit = {};
    limit += peak / reach;
    int32_t run = -1; // the first stretch of those waiting to be filtered
    for (int32_t i = 0; i < n; i += kPeakStretch) {
        const int32_t count = std::min(kPeakStretch, n - i);
        // A whole stretch's loop unrolled: its count and the loads' are known.
        const V most = count == kPeakStretch ? Loudest<V>(x + i, kPeakStretch) : Loudest<V>(x + i, count);
        if (AnyAbove(most, limit) && Bends<kPhases, V>(x + i, count, Largest(most), peak)) {
            run = run < 0 ? i : run;
        } else if (run >= 0) {
            peak = std::max(peak, PeakOf<kPhases, V>(x + run, i - run));
            limit = V{} + peak / reach;
            run = -1;
        }
    }
    if (run >= 0)
        peak = std::max(peak, PeakOf<kPhases, V>(x + run, n - run));
    return peak;
}

template <int kPhases> float PeakPlain(const float* x, int32_t n, float peak) {
    return PeakBody<kPhases, F8>(x, n, peak);
}

// Loudness: each channel through the K-weighting (a high shelf, then a high
// pass), the squares summed over 100 ms segments. A filter's recursion allows
// no vector across time, so a batch is cut into eight stretches of a segment
// per channel, sixteen lanes run side by side. A stretch's lane starts 25 ms
// early, on the stretch before it, from rest: the filters forget their start
// within a few ms (the high pass's poles lie 4 ms in), so what is left of it
// at the stretch's first frame changes a segment's energy by about a part in
// 10^5. The first stretch takes the exact state the last one ended with. Float
// is enough: its rounding in the filters lies 50 dB and more below the signal.
constexpr int kStretches = 8;

struct KWeighting {
    // The shelf with its gain b0 taken out of its feedforward (1, c1, c2), as
    // the segments' energy takes it back as b0 squared: one multiply less a
    // frame. Its feedback a1, a2.
    float c1, c2, a1, a2;
    float h1, h2; // the high pass's feedback (its feedforward is 1, -2, 1)
    double gain;  // b0 squared
};

KWeighting KWeightingFor(int32_t rate) {
    // The filters' analog shapes, bilinear-transformed at the rate; at 48 kHz
    // they give the published coefficients.
    constexpr double kPi = 3.14159265358979323846;
    KWeighting w{};
    {
        const double f0 = 1681.974450955533, gain = 3.999843853973347, q = 0.7071752369554196;
        const double k = std::tan(kPi * f0 / rate), vh = std::pow(10.0, gain / 20);
        const double vb = std::pow(vh, 0.4996667741545416), a0 = 1 + k / q + k * k;
        const double b0 = (vh + vb * k / q + k * k) / a0;
        w.c1 = float(2 * (k * k - vh) / a0 / b0);
        w.c2 = float((vh - vb * k / q + k * k) / a0 / b0);
        w.gain = b0 * b0;
        w.a1 = float(2 * (k * k - 1) / a0);
        w.a2 = float((1 - k / q + k * k) / a0);
    }
    {
        const double f0 = 38.13547087602444, q = 0.5003270373238773;
        const double k = std::tan(kPi * f0 / rate), a0 = 1 + k / q + k * k;
        w.h1 = float(2 * (k * k - 1) / a0);
        w.h2 = float((1 - k / q + k * k) / a0);
    }
    return w;
}

// The seven state values of each channel's filters: the last two inputs,
// shelf outputs and high-pass outputs, and the shelf's last step.
constexpr int kStateValues = 7;
struct KState {
    float s[2][kStateValues];
};

// Lanes of both filters: one channel's eight stretches, or both channels'.
// Each filter in direct form, its terms summed so that an output waits on
// one multiply-add from the output before it and two from the one before
// that: a filter's recursion runs at the pace of one multiply-add a frame,
// which is what bounds it. The high pass's feedforward is two differences,
// which take no multiply.
template <typename V> struct KLanes {
    V v[kStateValues]; // x1, x2, y1, y2, z1, z2, y1 - y2

    [[gnu::always_inline]] inline V Step(const KWeighting& w, V x) {
        V& x1 = v[0];
        V& x2 = v[1];
        V& y1 = v[2];
        V& y2 = v[3];
        V& z1 = v[4];
        V& z2 = v[5];
        V& d1 = v[6];
        const V q = (x + w.c1 * x1) + w.c2 * x2;
        const V y = (q - w.a2 * y2) - w.a1 * y1;
        const V d = y - y1;
        const V r = (d - d1) - w.h2 * z2;
        const V z = r - w.h1 * z1;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        z2 = z1;
        z1 = z;
        d1 = d;
        return z;
    }
    // Lane lane's values to or from state.
    [[gnu::always_inline]] inline void Put(int lane, const float (&state)[kStateValues]) {
        for (int k = 0; k < kStateValues; ++k) {
            float lanes[kWidth<V>];
            std::memcpy(lanes, &v[k], sizeof lanes);
            lanes[lane] = state[k];
            v[k] = Load<V>(lanes);
        }
    }
    [[gnu::always_inline]] inline void Take(int lane, float (&state)[kStateValues]) const {
        for (int k = 0; k < kStateValues; ++k) {
            float lanes[kWidth<V>];
            std::memcpy(lanes, &v[k], sizeof lanes);
            state[k] = lanes[lane];
        }
    }
};

// Frames i to i + 7 of a channel's eight lanes (lane l's frame i at
// x[l * stride + i]) as eight vectors of the lanes, frame by frame.
[[gnu::always_inline]] inline void Transpose(const float* x, int32_t stride, F8 (&out)[8]) {
    F8 r[8], t[8], u[8];
#pragma GCC unroll 8
    for (int l = 0; l < 8; ++l)
        r[l] = Load<F8>(x + size_t(l) * size_t(stride));
#pragma GCC unroll 4
    for (int l = 0; l < 8; l += 2) {
        t[l] = __builtin_shufflevector(r[l], r[l + 1], 0, 8, 1, 9, 4, 12, 5, 13);
        t[l + 1] = __builtin_shufflevector(r[l], r[l + 1], 2, 10, 3, 11, 6, 14, 7, 15);
    }
#pragma GCC unroll 2
    for (int l = 0; l < 8; l += 4) {
        u[l] = __builtin_shufflevector(t[l], t[l + 2], 0, 1, 8, 9, 4, 5, 12, 13);
        u[l + 1] = __builtin_shufflevector(t[l], t[l + 2], 2, 3, 10, 11, 6, 7, 14, 15);
        u[l + 2] = __builtin_shufflevector(t[l + 1], t[l + 3], 0, 1, 8, 9, 4, 5, 12, 13);
        u[l + 3] = __builtin_shufflevector(t[l + 1], t[l + 3], 2, 3, 10, 11, 6, 7, 14, 15);
    }
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
        out[k] = __builtin_shufflevector(u[k], u[k + 4], 0, 1, 2, 3, 8, 9, 10, 11);
        out[k + 4] = __builtin_shufflevector(u[k], u[k + 4], 4, 5, 6, 7, 12, 13, 14, 15);
    }
}

// Both channels' lanes: each channel's eight stretches in a vector of its
// own, or both channels' in one vector of sixteen (left's, then right's).
struct SplitLanes {
    using Sum = F8;
    KLanes<F8> l{}, r{};
    template <bool kSum>
    [[gnu::always_inline]] inline void Frame(const KWeighting& w, F8 xl, F8 xr, Sum& sum) {
        const F8 zl = l.Step(w, xl), zr = r.Step(w, xr);
        if (kSum)
            sum += zl * zl + zr * zr;
    }
    [[gnu::always_inline]] inline void Put(const KState& state) {
        l.Put(0, state.s[0]);
        r.Put(0, state.s[1]);
    }
    [[gnu::always_inline]] inline void Take(KState& state) const {
        l.Take(kStretches - 1, state.s[0]);
        r.Take(kStretches - 1, state.s[1]);
    }
    static double Energy(const Sum& sum, int stretch) { return sum[stretch]; }
};

#ifdef TINSEL_LOUDNESS_X86
struct JoinedLanes {
    using Sum = F16;
    KLanes<F16> lanes{};
    template <bool kSum>
    [[gnu::always_inline]] inline void Frame(const KWeighting& w, F8 xl, F8 xr, Sum& sum) {
        const F16 z = lanes.Step(
            w, __builtin_shufflevector(xl, xr, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
        if (kSum)
            sum += z * z;
    }
    [[gnu::always_inline]] inline void Put(const KState& state) {
        lanes.Put(0, state.s[0]);
        lanes.Put(kStretches, state.s[1]);
    }
    [[gnu::always_inline]] inline void Take(KState& state) const {
        lanes.Take(kStretches - 1, state.s[0]);
        lanes.Take(2 * kStretches - 1, state.s[1]);
    }
    static double Energy(const Sum& sum, int stretch) {
        return double(sum[stretch]) + sum[stretch + kStretches];
    }
};
#endif

// Both channels' lanes from frame from to frame to, summing the squares if asked.
template <bool kSum, typename Lanes>
[[gnu::always_inline]] inline void Steps(const KWeighting& w, const float* left, const float* right,
                                         int32_t stride, int32_t from, int32_t to, Lanes& lanes,
                                         typename Lanes::Sum& sum) {
    int32_t i = from;
    for (; i + 8 <= to; i += 8) {
        F8 xl[8], xr[8];
        Transpose(left + i, stride, xl);
        Transpose(right + i, stride, xr);
#pragma GCC unroll 8
        for (int k = 0; k < 8; ++k)
            lanes.template Frame<kSum>(w, xl[k], xr[k], sum);
    }
    for (; i < to; ++i) {
        F8 xl, xr;
        for (int k = 0; k < 8; ++k) {
            xl[k] = left[ptrdiff_t(k) * stride + i];
            xr[k] = right[ptrdiff_t(k) * stride + i];
        }
        lanes.template Frame<kSum>(w, xl, xr, sum);
    }
}

// Runs a batch's lanes (lane l's frame i at left[l * segment + i], the same
// in right, for i from -warmup) through warmup frames from rest, then through
// a segment, writing each stretch's energy, both channels', to
// energy[stretch]. state is the first stretch's at the start and becomes the
// last one's at the end.
template <typename Lanes>
[[gnu::always_inline]] inline void KWeighBody(const KWeighting& w, const float* left, const float* right,
                                              int32_t warmup, int32_t segment, KState& state,
                                              double* energy) {
    Lanes lanes;
    typename Lanes::Sum sum = {};
    Steps<false>(w, left, right, segment, -warmup, 0, lanes, sum);
    lanes.Put(state);
    // Sums of at most 20,000 squares, each a part of the segment's energy,
    // add up in float to well within 0.01 dB.
    Steps<true>(w, left, right, segment, 0, segment, lanes, sum);
    for (int k = 0; k < kStretches; ++k)
        energy[k] = Lanes::Energy(sum, k);
    lanes.Take(state);
}

void KWeighPlain(const KWeighting& w, const float* left, const float* right, int32_t warmup, int32_t segment,
                 KState& state, double* energy) {
    KWeighBody<SplitLanes>(w, left, right, warmup, segment, state, energy);
}

// A block's frames into each channel's own run of samples; returns the
// bits of all of them together, which are zero only for silence.
[[gnu::always_inline]] inline uint32_t SplitBody(const float* mix, float* left, float* right, int32_t n) {
    using I8 = uint32_t __attribute__((vector_size(32)));
    I8 any = {};
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const F8 a = Load<F8>(mix + 2 * i), b = Load<F8>(mix + 2 * i + 8);
        const F8 l = __builtin_shufflevector(a, b, 0, 2, 4, 6, 8, 10, 12, 14);
        const F8 r = __builtin_shufflevector(a, b, 1, 3, 5, 7, 9, 11, 13, 15);
        std::memcpy(left + i, &l, sizeof l);
        std::memcpy(right + i, &r, sizeof r);
        any |= reinterpret_cast<I8>(a) | reinterpret_cast<I8>(b);
    }
    uint32_t bits = 0;
    for (; i < n; ++i) {
        left[i] = mix[2 * i];
        right[i] = mix[2 * i + 1];
        uint32_t b[2];
        std::memcpy(b, mix + 2 * i, sizeof b);
        bits |= b[0] | b[1];
    }
    for (int k = 0; k < 8; ++k)
        bits |= any[k];
    return bits;
}

uint32_t SplitPlain(const float* mix, float* left, float* right, int32_t n) {
    return SplitBody(mix, left, right, n);
}

#ifdef TINSEL_LOUDNESS_X86
template <int kPhases> TINSEL_AVX2 float PeakAvx2(const float* x, int32_t n, float peak) {
    return PeakBody<kPhases, F8>(x, n, peak);
}
template <int kPhases> TINSEL_AVX512 float PeakAvx512(const float* x, int32_t n, float peak) {
    return PeakBody<kPhases, F16>(x, n, peak);
}
TINSEL_AVX2 uint32_t SplitAvx2(const float* mix, float* left, float* right, int32_t n) {
    return SplitBody(mix, left, right, n);
}
// AVX-512 takes each channel's eight from the two vectors in one shuffle.
TINSEL_AVX512 uint32_t SplitAvx512(const float* mix, float* left, float* right, int32_t n) {
    return SplitBody(mix, left, right, n);
}
TINSEL_AVX2 void KWeighAvx2(const KWeighting& w, const float* left, const float* right, int32_t warmup,
                            int32_t segment, KState& state, double* energy) {
    KWeighBody<SplitLanes>(w, left, right, warmup, segment, state, energy);
}
TINSEL_AVX512 void KWeighAvx512(const KWeighting& w, const float* left, const float* right, int32_t warmup,
                                int32_t segment, KState& state, double* energy) {
    KWeighBody<JoinedLanes>(w, left, right, warmup, segment, state, energy);
}
#endif

struct Kernels {
    // By the phases: none (the samples alone), the middle one, all three.
    float (*peak[4])(const float*, int32_t, float) = {PeakPlain<0>, PeakPlain<1>, nullptr, PeakPlain<3>};
    void (*weigh)(const KWeighting&, const float*, const float*, int32_t, int32_t, KState&,
                  double*) = KWeighPlain;
    uint32_t (*split)(const float*, float*, float*, int32_t) = SplitPlain;
    Kernels() {
#ifdef TINSEL_LOUDNESS_X86
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
            peak[0] = PeakAvx2<0>;
            peak[1] = PeakAvx2<1>;
            peak[3] = PeakAvx2<3>;
            weigh = KWeighAvx2;
            split = SplitAvx2;
        }
        // As the mixer, only where the whole AVX-512 set it uses is there.
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl")) {
            peak[0] = PeakAvx512<0>;
            peak[1] = PeakAvx512<1>;
            peak[3] = PeakAvx512<3>;
            weigh = KWeighAvx512;
            split = SplitAvx512;
        }
#endif
    }
};

const Kernels& Kernel() {
    static const Kernels kernels;
    return kernels;
}

} // namespace

struct LoudnessMeter::Batch {
    KWeighting weighting;
    int32_t segment; // frames in 100 ms, a stretch
    int32_t warmup;  // frames a lane runs before its stretch, about 25 ms
    int32_t front;   // room before the batch: the lanes' warmup, and the last batch's final samples
    // Each channel's frames of the batch, after front frames of room and
    // before the few the peak filter reads past the last.
    std::vector<float> input[2];
    int32_t filled = 0; // frames of the batch gathered
    uint32_t heard = 0; // their bits together: zero for silence
    KState state{};     // the filters' at the batch's first frame

    explicit Batch(int32_t rate)
        : weighting(KWeightingFor(rate)), segment((rate + 5) / 10), warmup(segment / 32 * 8),
          front(std::max(warmup, kTaps - 1)) {
        for (auto& x : input)
            x.assign(size_t(front + segment * kStretches + kPeakPad), 0.0f);
    }

    int32_t Capacity() const { return segment * kStretches; }
    // Whether the filters are at rest in s and the batch so far is silence
    // (which a negative zero is not: it is filtered).
    bool Silent(const KState& s) const {
        uint32_t bits = heard;
        for (const auto& channel : s.s) {
            for (const float v : channel) {
                uint32_t b;
                std::memcpy(&b, &v, sizeof b);
                bits |= b;
            }
        }
        return bits == 0;
    }
    float* Frames(int c) { return input[c].data() + front; }
    const float* Frames(int c) const { return input[c].data() + front; }

    // Runs the batch's first frames frames; appends the segments they fill
    // to segments and leaves in state the filters' after the batch's end.
    void Run(int32_t frames, std::vector<double>* segments, KState* after) const {
        KState s = state;
        double energy[kStretches] = {};
        // Silence into filters at rest leaves them at rest and weighs
        // nothing: a silent song, or its silent start, is not filtered.
        if (!Silent(s))
            Kernel().weigh(weighting, Frames(0), Frames(1), warmup, segment, s, energy);
        for (int l = 0; l < kStretches && (l + 1) * segment <= frames; ++l)
            segments->push_back(energy[l] * weighting.gain);
        if (after != nullptr)
            *after = s;
    }
};

bool LoudnessAvailable() {
#ifdef TINSEL_MEASURE_LOUDNESS
    return true;
#else
    return false;
#endif
}

// Oversampled to 192 kHz or more, as the true peak is defined: 4x below
// 96 kHz, 2x below 192 kHz.
LoudnessMeter::LoudnessMeter(int32_t rate)
    : m_peakPhases(rate < 96000    ? 3
                   : rate < 192000 ? 1
                                   : 0),
      m_batch(std::make_unique<Batch>(rate)) {}

LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::Add(const float* mix, int32_t frames) {
    Batch& b = *m_batch;
    const int32_t capacity = b.Capacity();
    for (int32_t i = 0; i < frames;) {
        const int32_t n = std::min(frames - i, capacity - b.filled);
        float* at[2] = {b.Frames(0) + b.filled, b.Frames(1) + b.filled};
        b.heard |= Kernel().split(mix + 2 * size_t(i), at[0], at[1], n);
        // The points the new samples complete: the filter's reach of samples
        // before them lies just ahead, in this batch or copied from the last.
        for (const float* x : at)
            m_peak = Kernel().peak[m_peakPhases](x - (kTaps - 1), n, m_peak);
        i += n;
        b.filled += n;
        if (b.filled == capacity) {
            b.Run(b.filled, &m_segments, &b.state);
            for (int c = 0; c < 2; ++c)
                std::copy(b.Frames(c) + capacity - (kTaps - 1), b.Frames(c) + capacity,
                          b.Frames(c) - (kTaps - 1));
            b.filled = 0;
            b.heard = 0;
        }
    }
}

Loudness LoudnessMeter::Result() const {
    constexpr double kNone = -std::numeric_limits<double>::infinity();
    Loudness result{kNone, kNone};
    // The frames of an unfinished batch, run without disturbing it.
    std::vector<double> segments = m_segments;
    if (m_batch->filled > 0)
        m_batch->Run(m_batch->filled, &segments, nullptr);
    // The points after each channel's last samples, the song followed by silence.
    float peak = m_peak;
    for (int c = 0; c < 2; ++c) {
        float x[kTaps - 1 + kTaps / 2 + kPeakPad] = {};
        const float* end = m_batch->Frames(c) + m_batch->filled;
        std::copy(end - (kTaps - 1), end, x);
        peak = Kernel().peak[m_peakPhases](x, kTaps / 2, peak);
    }

    // Blocks of 400 ms every 100 ms, gated at -70 LUFS and then at 10 LU
    // below the loudness of the blocks the first gate passed.
    const double scale = 1.0 / (4.0 * m_batch->segment * 32768.0 * 32768.0);
    std::vector<double> blocks;
    for (size_t j = 3; j < segments.size(); ++j)
        blocks.push_back((segments[j - 3] + segments[j - 2] + segments[j - 1] + segments[j]) * scale);
    const auto lufs = [](double energy) { return -0.691 + 10 * std::log10(energy); };
    const auto meanAbove = [&](double gate) {
        double sum = 0;
        size_t count = 0;
        for (const double e : blocks) {
            if (e > 0 && lufs(e) > gate) {
                sum += e;
                ++count;
            }
        }
        return count > 0 ? sum / double(count) : 0.0;
    };
    const double ungated = meanAbove(-70);
    if (ungated > 0) {
        const double gated = meanAbove(lufs(ungated) - 10);
        result.lufs = lufs(gated);
    }
    if (peak > 0)
        result.truePeak = 20 * std::log10(double(peak) / 32768);
    return result;
}

double NormalizeGain(const Loudness& measured, double target) {
    if (!std::isfinite(measured.lufs))
        return 1;
    double gain = std::pow(10.0, (target - measured.lufs) / 20);
    if (std::isfinite(measured.truePeak)) {
        // The peak scales with the gain; two 16-bit steps of room keep the
        // rounding to 16 bits from lifting it past the ceiling.
        const double ceiling = std::pow(10.0, kNormalizeCeiling / 20) - 2.0 / 32768;
        gain = std::min(gain, ceiling / std::pow(10.0, measured.truePeak / 20));
    }
    return gain;
}
