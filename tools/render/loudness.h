// Loudness of a render as a mastering engineer reads it: integrated loudness
// in LUFS and true peak in dBTP, measured with libebur128; and the gain that
// brings a render to a target loudness. Builds without the library (the
// WebAssembly one) measure nothing.
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
    struct State;
    std::unique_ptr<State> m_state;
    std::vector<float> m_scaled;
};

// The gain that brings a render measured as measured to target LUFS, lowered
// where it would lift the true peak past the ceiling; 1 for silence.
double NormalizeGain(const Loudness& measured, double target);
