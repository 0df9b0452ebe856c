// A single-cycle sine sample played through the mixer, and the error of what
// comes out: everything but the tone (THD+N), relative to the tone. Shared by
// the interpolation test and its benchmark.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "player/format/module.h"
#include "player/mix/mixer.h"

namespace sine_thd {

// Values behind and before the guards the loader gives a sample, the loop's
// continuation written into the one after it.
struct GuardedSample {
    std::vector<int16_t> storage;
    Sample s{};
    GuardedSample(const std::vector<int16_t>& values, uint8_t mode, uint32_t loopStart, uint32_t loopLength)
        : storage(values.size() + 2 * kSampleGuard, 0) {
        std::copy(values.begin(), values.end(), storage.begin() + kSampleGuard);
        s.data = storage.data() + kSampleGuard;
        s.length = static_cast<uint32_t>(values.size());
        s.loopStart = loopStart;
        s.loopLength = loopLength;
        s.loopMode = mode;
        s.bits = 16;
        FillLoopGuard(s);
    }
};

// A sine of cycle entries at nearly full scale, looping forward.
struct SineSample : GuardedSample {
    explicit SineSample(uint32_t cycle) : GuardedSample(Sine(cycle), kLoopForward, 0, cycle) {}
    static std::vector<int16_t> Sine(uint32_t cycle) {
        std::vector<int16_t> values;
        for (uint32_t k = 0; k < cycle; ++k)
            values.push_back(static_cast<int16_t>(std::lround(32000.0 * std::sin(2.0 * M_PI * k / cycle))));
        return values;
    }
};

// The step of a note of a sample tuned to C-4 = 8363 Hz (relative note 0),
// octaves above C-4, at rate, as the engine gives it.
inline uint64_t NoteStep(int octaves, int32_t rate) {
    return static_cast<uint64_t>(8363.0 * std::pow(2.0, octaves) / rate * 4294967296.0);
}

// Mixes frames frames of the sample at step (32.32) and full gain on one side,
// after the attack's ramp has passed; returns the left side.
inline std::vector<double> Play(Sample& sample, uint64_t step, Interpolation interpolation, int32_t frames) {
    MixVoice v{};
    v.sample = &sample;
    v.direction = 1;
    v.stepInt = static_cast<int32_t>(step >> 32);
    v.stepFrac = static_cast<uint32_t>(step);
    v.leftGain = v.lastLeftGain = 255;
    v.leftLevel = 255 * 256;
    constexpr int32_t kSkip = 4096;
    std::vector<float> mix(2 * static_cast<size_t>(frames + kSkip), 0.0f);
    MixVoices(&v, 1, 128, 1.0f / 128, mix.data(), frames + kSkip, interpolation);
    std::vector<double> left(static_cast<size_t>(frames));
    for (int32_t i = 0; i < frames; ++i)
        left[static_cast<size_t>(i)] = mix[2 * static_cast<size_t>(i + kSkip)];
    return left;
}

// The power of x less its best fit by a constant and a sine of the given
// frequency, relative to the sine's, in dB.
inline double ThdN(const std::vector<double>& x, double cyclesPerFrame) {
    double m[3][4] = {};
    for (size_t n = 0; n < x.size(); ++n) {
        const double b[3] = {1.0, std::sin(2.0 * M_PI * cyclesPerFrame * double(n)),
                             std::cos(2.0 * M_PI * cyclesPerFrame * double(n))};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                m[i][j] += b[i] * b[j];
            m[i][3] += b[i] * x[n];
        }
    }
    for (int c = 0; c < 3; ++c)
        for (int r = c + 1; r < 3; ++r) {
            const double k = m[r][c] / m[c][c];
            for (int q = c; q < 4; ++q)
                m[r][q] -= k * m[c][q];
        }
    double fit[3];
    for (int c = 2; c >= 0; --c) {
        double sum = m[c][3];
        for (int q = c + 1; q < 3; ++q)
            sum -= m[c][q] * fit[q];
        fit[c] = sum / m[c][c];
    }
    double rest = 0.0, tone = 0.0;
    for (size_t n = 0; n < x.size(); ++n) {
        const double t = fit[1] * std::sin(2.0 * M_PI * cyclesPerFrame * double(n)) +
                         fit[2] * std::cos(2.0 * M_PI * cyclesPerFrame * double(n));
        rest += (x[n] - fit[0] - t) * (x[n] - fit[0] - t);
        tone += t * t;
    }
    return 10.0 * std::log10(rest / tone);
}

// THD+N of the sample of cycle entries played octaves above C-4 at 44100 Hz.
inline double SineThdN(uint32_t cycle, int octaves, Interpolation interpolation, int32_t frames = 32768) {
    SineSample sine(cycle);
    const uint64_t step = NoteStep(octaves, 44100);
    // The mixer moves by the step with its lowest bit cleared.
    const double cyclesPerFrame = static_cast<double>(step & ~uint64_t{1}) / 4294967296.0 / cycle;
    return ThdN(Play(sine.s, step, interpolation, frames), cyclesPerFrame);
}

} // namespace sine_thd
