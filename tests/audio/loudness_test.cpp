// The render summary's meters against libebur128's (integrated loudness and
// true peak): on the demo's song and on signals whose peaks fall between
// samples, fed in blocks of three lengths.
#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "player/format/module.h"
#include "player/engine/rules.h"
#include "player/format/song.h"
#include "tools/render/loudness.h"
#include "tools/render/render.h"
#include "tools/render/song_file.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Stereo frames at 16-bit scale, as the mixer makes them.
using Signal = std::vector<float>;

Loudness Ours(const Signal& mix, int32_t rate, int32_t block) {
    LoudnessMeter meter(rate);
    const int32_t frames = int32_t(mix.size() / 2);
    for (int32_t done = 0; done < frames; done += block)
        meter.Add(mix.data() + 2 * size_t(done), std::min(block, frames - done));
    return meter.Result();
}

Loudness Reference(const Signal& mix, int32_t rate) {
    ebur128_state* meter = ebur128_init(2, unsigned(rate), EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    Signal scaled(mix);
    for (float& v : scaled)
        v /= 32768;
    ebur128_add_frames_float(meter, scaled.data(), scaled.size() / 2);
    double lufs = 0, left = 0, right = 0;
    ebur128_loudness_global(meter, &lufs);
    ebur128_true_peak(meter, 0, &left);
    ebur128_true_peak(meter, 1, &right);
    ebur128_destroy(&meter);
    const double peak = std::max(left, right);
    return {lufs, peak > 0 ? 20 * std::log10(peak) : -INFINITY};
}

// seconds of a sine of frequency Hz at peak amplitude (1: full scale) and
// phase (radians) in the left channel, the right one at gain times it. It
// fades in and out over 50 ms, so that no edge overshoots its crest.
Signal Sine(int32_t rate, double seconds, double hz, double amplitude, double phase, double gain = 1) {
    Signal s(size_t(seconds * rate) * 2);
    const size_t frames = s.size() / 2, fade = size_t(rate / 20);
    for (size_t i = 0; i < frames; ++i) {
        const size_t edge = std::min(i, frames - 1 - i);
        const double ramp = edge < fade ? 0.5 - 0.5 * std::cos(kPi * double(edge) / double(fade)) : 1.0;
        const double v = 32768 * amplitude * ramp * std::sin(2 * kPi * hz * double(i) / rate + phase);
        s[2 * i] = float(v);
        s[2 * i + 1] = float(v * gain);
    }
    return s;
}

// White noise, loud for a second then 30 dB down for four: the relative gate drops the quiet part.
Signal GatedNoise(int32_t rate) {
    Signal s(size_t(5 * rate) * 2);
    uint32_t x = 12345;
    for (size_t i = 0; i < s.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        const double level = i < size_t(rate) * 2 ? 0.25 : 0.25 / 31.6;
        s[i] = float((double(x >> 8) / double(1 << 24) - 0.5) * 32768 * level);
    }
    return s;
}

Signal Song(int32_t rate, double seconds, const char* rules) {
    const SongFile file = LoadSongImage(EmbeddedSong, EmbeddedSongSize, "the embedded song");
    EXPECT_NE(file.module, nullptr) << file.error;
    if (file.module == nullptr)
        return {};
    RenderSettings settings;
    if (std::string(rules) == "ft2")
        settings.rules = RuleSet::Ft2;
    settings.rate = rate;
    settings.seconds = seconds;
    Signal mix;
    RenderSong(file.module, settings, nullptr,
               [&](const float* block, int32_t n) { mix.insert(mix.end(), block, block + 2 * size_t(n)); });
    FreeModule(file.module);
    return mix;
}

// seconds of silence before s: whole batches the meter does not filter.
Signal AfterSilence(int32_t rate, double seconds, Signal s) {
    s.insert(s.begin(), size_t(seconds * rate) * 2, 0.0f);
    return s;
}

Signal Then(Signal a, const Signal& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Loudness, MatchesLibebur128OnSongsAndSignals) {
    const struct {
        const char* name;
        int32_t rate;
        Signal mix;
        double truePeak; // dBTP where the signal fixes it, else NaN
        bool peakAsReference = true;
    } cases[] = {
        // A quarter of the rate, 45 degrees in: every sample at 0.707 of the
        // crest, which lies halfway between two samples.
        {"fs/4 at 45 degrees", 44100, Sine(44100, 3, 44100 / 4.0, 0.5, kPi / 4), 20 * std::log10(0.5)},
        {"fs/4 at 45 degrees, 48 kHz", 48000, Sine(48000, 3, 12000, 0.9, kPi / 4, 0.5), 20 * std::log10(0.9)},
        {"997 Hz, right 6 dB down", 48000, Sine(48000, 4, 997, 0.1, 0, 0.5), 20 * std::log10(0.1)},
        // The crests between samples of the second tone lie above the first's
        // peak, its samples well below it: only how sharply it bends tells.
        {"a low tone, then fs/4 at 45 degrees a little louder", 44100,
         Then(Sine(44100, 1, 100, 0.58, 0), Sine(44100, 1, 44100 / 4.0, 0.6, kPi / 4)), 20 * std::log10(0.6)},
        {"0.3 of the rate, 22.05 kHz", 22050, Sine(22050, 2, 22050 * 0.3, 0.7, 1.0), NAN},
        // White noise's true peak hangs on how each filter treats the top
        // octave, where songs have little: its loudness only.
        {"gated noise", 44100, GatedNoise(44100), NAN, false},
        {"gated noise, 96 kHz", 96000, GatedNoise(96000), NAN, false},
        {"the demo's song, 96 kHz", 96000, Song(96000, 10, "tinsel"), NAN},
        {"the demo's song", 44100, Song(44100, 30, "tinsel"), NAN},
        {"the demo's song by ft2 rules, 48 kHz", 48000, Song(48000, 20, "ft2"), NAN},
        {"two seconds of silence, then the demo's song", 44100,
         AfterSilence(44100, 2, Song(44100, 10, "tinsel")), NAN},
    };
    for (const auto& c : cases) {
        const Loudness ours = Ours(c.mix, c.rate, 1024), reference = Reference(c.mix, c.rate);
        EXPECT_NEAR(ours.lufs, reference.lufs, 0.1) << c.name;
        if (c.peakAsReference) {
            EXPECT_NEAR(ours.truePeak, reference.truePeak, 0.1) << c.name;
        }
        if (!std::isnan(c.truePeak)) {
            EXPECT_NEAR(ours.truePeak, c.truePeak, 0.05) << c.name;
        }
        // Blocks that end between the peak filter's groups of eight, and cross the
        // loudness batches elsewhere: the same figures.
        for (const int32_t block : {1, 333}) {
            const Loudness other = Ours(c.mix, c.rate, block);
            EXPECT_EQ(other.lufs, ours.lufs) << c.name << ", blocks of " << block;
            EXPECT_EQ(other.truePeak, ours.truePeak) << c.name << ", blocks of " << block;
        }
    }
}

TEST(Loudness, SilenceAndRendersShorterThanABlockMeasureNoLoudness) {
    const Loudness silent = Ours(Signal(44100 * 2 * 2, 0.0f), 44100, 1024);
    EXPECT_TRUE(std::isinf(silent.lufs) && silent.lufs < 0);
    EXPECT_TRUE(std::isinf(silent.truePeak) && silent.truePeak < 0);
    // 300 ms: no 400 ms block, but a peak; a sample alone at the very end has its peak too.
    Signal shortTone = Sine(44100, 0.3, 1000, 0.5, 0);
    shortTone.back() = 32767;
    const Loudness tone = Ours(shortTone, 44100, 1024);
    EXPECT_TRUE(std::isinf(tone.lufs)) << tone.lufs;
    EXPECT_GE(tone.truePeak, 20 * std::log10(32767.0 / 32768));
}

} // namespace
