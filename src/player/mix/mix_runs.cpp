#include "player/mix/mix_runs.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "player/mix/mix_kernels.h"
#include "player/mix/mix_taps.h"
#include "player/mix/mixer.h"
#include "player/format/module.h"

namespace {

constexpr float kInv255 = 1.0f / 255.0f;

// The gain a side's 24.8 level stands at.
int32_t LevelGain(int32_t level) {
    return static_cast<int32_t>(static_cast<uint32_t>(level) >> 8);
}

// A side's step a frame from its level to its gain over the ramp; 0 where it
// stands at its gain already.
float SideStep(int32_t gain, int32_t level, float rampReciprocal) {
    const int32_t d = gain - LevelGain(level);
    return d != 0 ? static_cast<float>(d) * kInv255 * rampReciprocal : 0.0f;
}
constexpr int64_t kOne = int64_t{1} << 32;

const MixKernels* KernelsOf(MixPath path) {
    switch (path) {
#ifdef TINSEL_MIX_X86
    case MixPath::Sse2:
        return &kSse2Kernels;
    case MixPath::Avx2:
        return &kAvx2Kernels;
    case MixPath::Avx512:
        return &kAvx512Kernels;
#endif
#ifdef TINSEL_MIX_WASM
    case MixPath::Simd128:
        return &kSimd128Kernels;
#endif
    default:
        return &kScalarKernels;
    }
}

MixPath BestPath() {
    MixPath best = MixPath::Scalar;
    for (MixPath p : {MixPath::Sse2, MixPath::Avx2, MixPath::Avx512, MixPath::Simd128}) {
        if (MixPathAvailable(p)) {
            best = p;
        }
    }
    const char* asked = std::getenv("TINSEL_MIX_PATH");
    if (asked == nullptr || *asked == '\0') {
        return best;
    }
    for (MixPath p : {MixPath::Scalar, MixPath::Sse2, MixPath::Avx2, MixPath::Avx512, MixPath::Simd128}) {
        if (std::strcmp(asked, MixPathName(p)) == 0) {
            if (MixPathAvailable(p)) {
                return p;
            }
            std::fprintf(stderr, "TINSEL_MIX_PATH: this processor lacks %s; mixing with %s\n", asked,
                         MixPathName(best));
            return best;
        }
    }
    std::fprintf(stderr,
                 "TINSEL_MIX_PATH: no path named %s (scalar, sse2, avx2, avx512, simd128); mixing with %s\n",
                 asked, MixPathName(best));
    return best;
}

std::atomic<int>& PathSlot() {
    static std::atomic<int> slot{static_cast<int>(BestPath())};
    return slot;
}

bool SameBits(float a, float b) {
    uint32_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

int64_t Position(const MixVoice& v) {
    return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(v.posInt)) << 32) | v.posFrac);
}
void StorePosition(MixVoice& v, int64_t pos) {
    v.posInt = static_cast<int32_t>(static_cast<uint64_t>(pos) >> 32);
    v.posFrac = static_cast<uint32_t>(pos);
}

} // namespace

bool MixPathAvailable(MixPath path) {
    switch (path) {
    case MixPath::Scalar:
        return true;
#ifdef TINSEL_MIX_X86
    case MixPath::Sse2:
        return true; // the baseline of every build
    case MixPath::Avx2:
        return __builtin_cpu_supports("avx2");
    case MixPath::Avx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
               __builtin_cpu_supports("bmi2");
#endif
#ifdef TINSEL_MIX_WASM
    case MixPath::Simd128:
        return true; // the module does not load where the vectors are missing
#endif
    default:
        return false;
    }
}

const char* MixPathName(MixPath path) {
    switch (path) {
    case MixPath::Sse2:
        return "sse2";
    case MixPath::Avx2:
        return "avx2";
    case MixPath::Avx512:
        return "avx512";
    case MixPath::Simd128:
        return "simd128";
    default:
        return "scalar";
    }
}

MixPath CurrentMixPath() {
    return static_cast<MixPath>(PathSlot().load(std::memory_order_relaxed));
}

const MixKernels& CurrentMixKernels() {
    return *KernelsOf(CurrentMixPath());
}

bool SetMixPath(MixPath path) {
    if (!MixPathAvailable(path)) {
        return false;
    }
    PathSlot().store(static_cast<int>(path), std::memory_order_relaxed);
    return true;
}

namespace {

// The entries about a ping-pong loop's start, as the voice hears them once it
// has turned at the end: a kernel wider than linear reads them from here while
// its taps reach before the start (where the sample's own entries are what the
// first pass hears). Room for the widest kernel on both sides of the lead.
struct Seam {
    static constexpr int64_t kEntries =
        2 * (mixtaps::LeadOf(Interpolation::Sinc) + mixtaps::kMaxTaps / 2) + 4;
    int16_t entries[kEntries];
    int64_t first; // the loop entry at entries[0]

    // Only the entries a kernel of this reach reads: those from the lead and
    // its reach before the start to the lead and its reach after it.
    void Fill(const Sample& s, int64_t lead, int64_t reach) {
        first = static_cast<int64_t>(s.loopStart) - lead - reach - 1;
        for (int64_t k = 0; k < 2 * (lead + reach) + 4; ++k) {
            entries[k] = LoopedEntry(s.data, s, first + k);
        }
    }
};

} // namespace

void MixVoiceRuns(MixVoice& v, float* out, int32_t left, int32_t rampLength, float rampReciprocal,
                  const MixKernels& kernels, Interpolation interpolation) {
    const MixLoops& loops = kernels.loops[static_cast<int>(interpolation) & 3];
    const int64_t lead = mixtaps::LeadOf(interpolation);
    if (rampLength <= 0) {
        // No ramp: the levels are the gains, whatever they were.
        v.lastLeftGain = v.leftGain;
        v.lastRightGain = v.rightGain;
        v.leftLevel = v.leftGain * 256;
        v.rightLevel = v.rightGain * 256;
        v.rampRemaining = 0;
        v.leftStep = v.rightStep = 0.0f;
    }
    Seam seam; // filled where a run needs it
    for (;;) {
        const Sample& s = *v.sample;
        const uint32_t loopEnd = s.loopStart + s.loopLength;
        int64_t pos = Position(v);
        const uint64_t step = (static_cast<uint64_t>(static_cast<uint32_t>(v.stepInt)) << 32) | v.stepFrac;

        // 1. Boundary: the loop's end, or start going backward, each moved by
        // the lead where a tap could otherwise reach before the loop. Going
        // backward, the lead's width after the start is read from the seam.
        // A forward loop played by a kernel past linear goes on through the
        // guard, as far as the kernel's taps find the loop written out there,
        // and then wraps by as many loops as it went past: a short loop is
        // then one run of many passes, not a run a pass.
        int64_t boundary = v.direction == 1 ? static_cast<int64_t>(loopEnd) +
                                                  ((s.loopMode & kLoopForward) && lead != 0
                                                       ? kSampleGuard - mixtaps::ReachOf(interpolation, step)
                                                       : 0)
                                            : static_cast<int64_t>(s.loopStart) - lead;
        bool seamAhead = false, inSeam = false;
        if (v.direction != 1 && lead != 0) {
            // A run stops up to 255 units short of its boundary (the count
            // is taken in 24.8): so close, the voice is in the seam already.
            seamAhead = pos - (static_cast<int64_t>(s.loopStart) + lead) * kOne >= 256;
            inSeam = !seamAhead;
            boundary = seamAhead ? boundary + 2 * lead : boundary;
        }
        const int64_t distance = v.direction == 1 ? boundary * kOne - pos : pos - boundary * kOne;
        uint32_t n = static_cast<uint32_t>(left);
        bool atBoundary = false;
        const uint32_t s24 = (static_cast<uint32_t>(v.stepInt) << 24) | (v.stepFrac >> 8);
        if (distance < 0) {
            // Past it already: a voice left there by another interpolation.
            n = 0;
            atBoundary = true;
        } else if ((static_cast<uint64_t>(distance) >> 32) < (1u << 24) && s24 != 0) {
            const uint64_t d = static_cast<uint64_t>(distance) >> 8;
            // The count, d / s24 rounded up, is at most n exactly when d is at
            // most n * s24 (under 2^63): most runs end before the boundary
            // and need no division.
            if (d <= static_cast<uint64_t>(n) * s24) {
                n = static_cast<uint32_t>(d / s24 + (d % s24 != 0 ? 1 : 0));
                atBoundary = true;
            }
        }

        // 2. Ramp decision.
        const uint32_t unramped = n;
        int32_t ramp = 0;
        float steps[2] = {0.0f, 0.0f};
        if (v.rampRemaining != 0 && v.leftGain == v.lastLeftGain && v.rightGain == v.lastRightGain) {
            ramp = v.rampRemaining;
            steps[0] = v.leftStep;
            steps[1] = v.rightStep;
        } else {
            // Both steps are stored, 0 for a side that does not move: a ramp
            // carried on into the next run must not take up a side's old step.
            v.lastLeftGain = v.leftGain;
            v.lastRightGain = v.rightGain;
            steps[0] = v.leftStep = SideStep(v.leftGain, v.leftLevel, rampReciprocal);
            steps[1] = v.rightStep = SideStep(v.rightGain, v.rightLevel, rampReciprocal);
            if (v.leftGain != LevelGain(v.leftLevel) || v.rightGain != LevelGain(v.rightLevel)) {
                ramp = rampLength;
            }
        }
        if (ramp > 0) {
            v.rampRemaining = ramp;
            if (static_cast<uint32_t>(ramp) < n) {
                n = static_cast<uint32_t>(ramp);
            }
        }

        // 3. Values for the run.
        const float gL = static_cast<float>(static_cast<double>(v.leftGain) * kInv255);
        const float gR = static_cast<float>(static_cast<double>(v.rightGain) * kInv255);
        float levels[2] = {static_cast<float>(static_cast<double>(v.leftLevel) * (1.0 / 256.0) * kInv255),
                           static_cast<float>(static_cast<double>(v.rightLevel) * (1.0 / 256.0) * kInv255)};
        const uint64_t signedStep = v.direction == 1 ? step : ~step + 1;

        // 4. Frames: the loop is chosen once for the whole run. The direction
        // needs no loop of its own: it is the sign of the step. In the seam,
        // positions count from the seam's first entry.
        const int16_t* data = s.data;
        int64_t shift = 0;
        if (inSeam) {
            seam.Fill(s, lead, mixtaps::ReachOf(interpolation, step));
            data = seam.entries;
            shift = seam.first * kOne;
        }
        pos -= shift;
        if (ramp == 0) {
            // An odd last frame is mixed at the levels, which a run without
            // ramp holds still; where they are the gains, the plain loop
            // mixes it with the others.
            const uint32_t together = SameBits(levels[0], gL) && SameBits(levels[1], gR) ? n : n & ~1u;
            pos = static_cast<int64_t>(
                loops.plain(data, static_cast<uint64_t>(pos), signedStep, out, together, gL, gR));
            if (together != n) {
                static constexpr float kStill[2] = {0.0f, 0.0f};
                pos = static_cast<int64_t>(loops.ramp(data, static_cast<uint64_t>(pos), signedStep,
                                                      out + 2 * (n - 1), 1, levels, kStill));
            }
        } else {
            pos = static_cast<int64_t>(
                loops.ramp(data, static_cast<uint64_t>(pos), signedStep, out, n, levels, steps));
        }
        pos += shift;

        // 5. Ramp bookkeeping.
        if (ramp != 0) {
            v.leftLevel =
                static_cast<int32_t>(std::nearbyint(static_cast<double>(levels[0]) * 255.0 * 256.0));
            v.rightLevel =
                static_cast<int32_t>(std::nearbyint(static_cast<double>(levels[1]) * 255.0 * 256.0));
            v.rampRemaining = ramp - static_cast<int32_t>(n);
            if (v.rampRemaining == 0) {
                v.leftStep = v.rightStep = 0.0f;
                v.leftLevel = v.leftGain * 256;
                v.rightLevel = v.rightGain * 256;
                if (n < unramped) {
                    StorePosition(v, pos);
                    out += 2 * n;
                    left -= static_cast<int32_t>(n);
                    continue;
                }
            }
        }

        // 6. The buffer is full before the boundary.
        if (!atBoundary) {
            StorePosition(v, pos);
            return;
        }

        // 7. Boundary by loop mode.
        StorePosition(v, pos);
        if (seamAhead) {
            // Not a turn: the next run goes on into the seam.
        } else if ((s.loopMode & kLoopForward) && lead == 0) {
            v.posInt -= static_cast<int32_t>(s.loopLength);
            // Stop once negative: unsigned, -1 would look past the end and never wrap back.
            while (v.posInt >= 0 && static_cast<uint32_t>(v.posInt) >= loopEnd) {
                v.posInt -= static_cast<int32_t>(s.loopLength);
            }
        } else if (s.loopMode & kLoopForward) {
            const int64_t length = static_cast<int64_t>(s.loopLength) * kOne;
            const int64_t end = (static_cast<int64_t>(loopEnd) + lead) * kOne;
            pos -= length;
            if (pos >= end) {
                pos -= (pos - end) / length * length + length;
            }
            StorePosition(v, pos);
        } else if (s.loopMode & kLoopPingPong) {
            const int64_t endPos = static_cast<int64_t>(loopEnd) * kOne;
            const int64_t startPos = static_cast<int64_t>(s.loopStart) * kOne;
            const int64_t turnAt = static_cast<int64_t>(s.loopStart) - lead;
            bool atEnd = v.direction == 1;
            for (;;) {
                int64_t p = Position(v);
                if (atEnd) {
                    p = 2 * endPos - p - 1;
                    v.direction = 2;
                    StorePosition(v, p);
                    if (!(v.posInt < turnAt)) {
                        break;
                    }
                } else {
                    p = 2 * startPos - p - 1;
                    v.direction = 1;
                    StorePosition(v, p);
                    if (!(v.posInt >= static_cast<int32_t>(loopEnd))) {
                        break;
                    }
                }
                atEnd = !atEnd;
            }
        } else {
            v.posInt = 0;
            v.posFrac = 0;
            v.sample = nullptr;
            return;
        }
        out += 2 * n;
        left -= static_cast<int32_t>(n);
        if (left <= 0) {
            return;
        }
    }
}
