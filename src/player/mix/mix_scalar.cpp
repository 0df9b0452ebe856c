// The reference inner loops: one frame at a time, exactly as the mixer is
// defined. The vector loops must reproduce these floats bit for bit.
#include "player/mix/mix_kernels.h"
#include "player/mix/mix_taps.h"

namespace {

using namespace mixframe;

uint64_t PlainScalar(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n, float gL,
                     float gR) {
    // Two frames per pass, as the mixer has always done it.
    for (uint32_t k = n / 2; k != 0; --k) {
        pos = Frame(data, pos, step, o, gL, gR);
        pos = Frame(data, pos, step, o + 2, gL, gR);
        o += 4;
    }
    if (n & 1) {
        pos = Frame(data, pos, step, o, gL, gR);
    }
    return pos;
}

uint64_t RampScalar(const int16_t* data, uint64_t pos, uint64_t step, float* o, uint32_t n, float* levels,
                    const float* steps) {
    return RampFrames(data, pos, step, o, n, levels[0], levels[1], steps[0], steps[1]);
}

void ConvertScalar(int16_t* destination, const float* source, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        destination[i] = ConvertOne(source[i]);
    }
}

} // namespace

const MixKernels kScalarKernels = {{{PlainScalar, RampScalar},
                                    {PlainNearest, RampNearest},
                                    {PlainCubic, RampCubic},
                                    {PlainSincScalar, RampSincScalar}},
                                   ConvertScalar};
