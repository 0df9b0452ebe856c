// The mixer's per-voice run loop and the interchangeable inner loops it calls.
// Every inner loop gives the same floats bit for bit; the scalar one is the
// reference the faster ones are checked against.
#pragma once

#include <cstdint>

struct MixVoice;
enum class Interpolation : unsigned char;

enum class MixPath { Scalar, Sse2, Avx2, Avx512, Simd128 }; // Simd128: WebAssembly's

// One interpolation's inner loops.
struct MixLoops {
    // Mixes n frames at the constant gains gL, gR starting at position pos
    // (32.32 fixed point) moving by step (already negated for backward play);
    // returns the position after them.
    uint64_t (*plain)(const int16_t* data, uint64_t pos, uint64_t step, float* out, uint32_t n, float gL,
                      float gR);
    // Mixes n frames at levels[0..1], adding steps[0..1] to them after each
    // frame; leaves the levels as they stand after the last frame.
    uint64_t (*ramp)(const int16_t* data, uint64_t pos, uint64_t step, float* out, uint32_t n, float* levels,
                     const float* steps);
};

struct MixKernels {
    MixLoops loops[4]; // by Interpolation
    // Rounds (ties to even) and clips count floats to 16 bits.
    void (*convert)(int16_t* destination, const float* source, int32_t count);
};

// The path that runs until changed: the widest the processor has, unless the
// environment variable TINSEL_MIX_PATH names another (scalar, sse2, avx2, avx512,
// simd128).
MixPath CurrentMixPath();
const MixKernels& CurrentMixKernels();
bool MixPathAvailable(MixPath path);
// False, changing nothing, when the processor lacks the path.
bool SetMixPath(MixPath path);
const char* MixPathName(MixPath path);

// Mixes frames frames of one voice into out, run by run, with the ramp
// constants given (a length of 0: no ramp) and the interpolation's loops; the
// voice must have a sample.
void MixVoiceRuns(MixVoice& v, float* out, int32_t frames, int32_t rampLength, float rampReciprocal,
                  const MixKernels& kernels, Interpolation interpolation);
