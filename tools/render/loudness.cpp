#include "tools/render/loudness.h"

#include <algorithm>
#include <cmath>
#include <limits>

#ifdef TINSEL_HAVE_EBUR128
#include <ebur128.h>
#endif

struct LoudnessMeter::State {
#ifdef TINSEL_HAVE_EBUR128
    ebur128_state* meter = nullptr;
    ~State() {
        if (meter != nullptr)
            ebur128_destroy(&meter);
    }
#endif
};

bool LoudnessAvailable() {
#ifdef TINSEL_HAVE_EBUR128
    return true;
#else
    return false;
#endif
}

LoudnessMeter::LoudnessMeter(int32_t rate) : m_state(std::make_unique<State>()) {
#ifdef TINSEL_HAVE_EBUR128
    m_state->meter = ebur128_init(2, unsigned(rate), EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
#else
    (void)rate;
#endif
}

LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::Add(const float* mix, int32_t frames) {
#ifdef TINSEL_HAVE_EBUR128
    if (m_state->meter == nullptr || frames <= 0)
        return;
    m_scaled.resize(size_t(frames) * 2);
    for (size_t i = 0; i < m_scaled.size(); ++i)
        m_scaled[i] = mix[i] * (1.0f / 32768.0f);
    ebur128_add_frames_float(m_state->meter, m_scaled.data(), size_t(frames));
#else
    (void)mix;
    (void)frames;
#endif
}

Loudness LoudnessMeter::Result() const {
    constexpr double kNone = -std::numeric_limits<double>::infinity();
    Loudness result{kNone, kNone};
#ifdef TINSEL_HAVE_EBUR128
    double lufs = kNone, left = 0, right = 0;
    if (m_state->meter == nullptr || ebur128_loudness_global(m_state->meter, &lufs) != EBUR128_SUCCESS ||
        ebur128_true_peak(m_state->meter, 0, &left) != EBUR128_SUCCESS ||
        ebur128_true_peak(m_state->meter, 1, &right) != EBUR128_SUCCESS)
        return result;
    const double peak = std::max(left, right);
    result.lufs = lufs;
    result.truePeak = peak > 0 ? 20 * std::log10(peak) : kNone;
#endif
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
