// Inner loops of the original tracker's mixer, one set per instruction set:
// a run of frames of one voice that crosses no loop end, ramp end or carry of
// the buffer address. Every set gives the scalar one's sums bit for bit; the
// scalar frame is also the tail of the vector loops.
#pragma once

#include <cstdint>

#include "player/mix/mix_runs.h"

// Adds count frames of a voice to the sums of each side and
// returns the position after them. position: 16.16, mirrored for a backward
// voice (the frame read is mirror - whole part); address: the low half of
// the original's position register at the run's first frame; gains at the
// first frame and their change per frame (0 but in a ramp).
using Ft2Run = uint64_t (*)(const int16_t* left, const int16_t* right, uint64_t position, uint32_t step,
                            uint32_t mirror, uint32_t address, int32_t* sumL, int32_t* sumR, uint32_t count,
                            int32_t gainL, int32_t gainR, int32_t deltaL, int32_t deltaR);

struct Ft2Kernels {
    Ft2Run runs[2][2]; // [backward][stereo]
};

// The set of the mixing path in use (CurrentMixPath); a path without a set
// of its own (SSE2 has no signed 32-bit product) runs the scalar one.
const Ft2Kernels& CurrentFt2Kernels();
const Ft2Kernels& Ft2KernelsOf(MixPath path);

// frames frames of the sums of each side shifted down 8 bits and clipped to
// 16, as floats, left and right in turn.
void Ft2Output(float* destination, const int32_t* sumL, const int32_t* sumR, int32_t frames);

#ifdef __wasm_simd128__
// WebAssembly's vector loops and output (mix_wasm.cpp).
extern const Ft2Kernels kSimd128Ft2Kernels;
void Ft2OutputSimd128(float* destination, const int32_t* sumL, const int32_t* sumR, int32_t frames);
#endif

namespace ft2frame {

constexpr uint32_t kAddressStep = 8;

// The interpolated value of a frame, as the original rounds it: the weight is
// the fraction over the buffer address, halved, and the product floored.
inline int32_t Interpolate(const int16_t* data, uint32_t i, uint32_t weight) {
    const int32_t a = data[i];
    return a + 2 * static_cast<int32_t>((static_cast<int64_t>(data[i + 1] - a) * (weight >> 1)) >> 32);
}

// A value's share at a gain, floored: both are on the original's scales.
inline int32_t Share(int32_t value, int32_t gain) {
    return static_cast<int32_t>((static_cast<int64_t>(value) * 4096 * gain) >> 32);
}

// Gains move by wrapping 32-bit adds: every gain a frame uses is in range,
// one step past a run's last frame need not be.
inline int32_t Moved(int32_t gain, uint32_t frames, int32_t delta) {
    return static_cast<int32_t>(static_cast<uint32_t>(gain) + frames * static_cast<uint32_t>(delta));
}

template <bool kBackward, bool kStereo>
uint64_t RunFrames(const int16_t* left, const int16_t* right, uint64_t position, uint32_t step,
                   uint32_t mirror, uint32_t address, int32_t* sumL, int32_t* sumR, uint32_t count,
                   int32_t gainL, int32_t gainR, int32_t deltaL, int32_t deltaR) {
    for (uint32_t n = count; n != 0; --n) {
        uint32_t i = static_cast<uint32_t>(position >> 16);
        uint32_t f = static_cast<uint32_t>(position) & 0xFFFF;
        if (kBackward) {
            i = mirror - i;
            f = 0xFFFF - f;
        }
        const uint32_t weight = (f << 16) + address;
        const int32_t x = Interpolate(left, i, weight);
        *sumL++ += Share(x, gainL);
        *sumR++ += Share(kStereo ? Interpolate(right, i, weight) : x, gainR);
        position += step;
        address += kAddressStep;
        gainL = Moved(gainL, 1, deltaL);
        gainR = Moved(gainR, 1, deltaR);
    }
    return position;
}

} // namespace ft2frame
