// Loudness of a render as a mastering engineer reads it: integrated loudness
// in LUFS (K-weighted, gated) and true peak in dBTP (4x oversampled), measured
// as the blocks are made at a small share of the render's own cost; and the
// gain that brings a render to a target loudness. The WebAssembly build
// measures nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Integrated loudness (LUFS) and true peak (dBTP); -inf for silence.
struct Loudness {
    double lufs;
    double truePeak;
};

// The highest true peak --normalize lets through.
constexpr double kNormalizeCeiling = -1.0; // dBTP

// True when this build can measure loudness.
bool LoudnessAvailable();

class LoudnessMeter {
public:
    explicit LoudnessMeter(int32_t rate);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Takes frames stereo frames at 16-bit scale, as the mixer makes them.
    void Add(const float* mix, int32_t frames);
    Loudness Result() const;

private:
    struct Batch;
    float m_peak = 0;     // true peak at 16-bit scale
    int m_peakPhases = 3; // points between two samples: 3, 1 or 0
    // Loudness: the 100 ms segments' K-weighted energy, summed over both
    // channels, and the batch of audio still being gathered for it (which the
    // true peak's filter reads too).
    std::vector<double> m_segments;
    std::unique_ptr<Batch> m_batch;
};

// The gain that brings a render measured as measured to target LUFS, lowered
// where it would lift the true peak past the ceiling; 1 for silence.
double NormalizeGain(const Loudness& measured, double target);
