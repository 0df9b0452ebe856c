#include "synth.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>

namespace songc {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMiddleC = 261.6255653005986;
constexpr double kC4Rate = 8363.0; // what note C-4 plays a sample at with no relative note

// Deterministic noise, the same on every machine.
class Noise {
public:
    double Next() {
        m_state = m_state * 1664525u + 1013904223u;
        return static_cast<double>(m_state >> 8) / 8388608.0 - 1.0;
    }

private:
    uint32_t m_state = 0x1234567u;
};

// Relative note and finetune that make note C-4 play the sample at rate.
void Tune(double rate, SampleData& sample) {
    const double semitones = 12.0 * std::log2(rate / kC4Rate);
    int note = static_cast<int>(std::lround(semitones));
    int fine = static_cast<int>(std::lround((semitones - note) * 128.0));
    if (fine > 127) {
        fine -= 128;
        ++note;
    }
    sample.relativeNote = static_cast<int8_t>(note);
    sample.finetune = static_cast<int8_t>(fine);
}

// Scales to a peak of 127 (times level) and rounds into signed bytes.
void Quantise(const std::vector<double>& wave, double level, SampleData& sample) {
    double peak = 0.0;
    for (double v : wave)
        peak = std::max(peak, std::fabs(v));
    const double scale = peak > 0.0 ? 127.0 * level / peak : 0.0;
    sample.pcm.resize(wave.size());
    for (size_t i = 0; i < wave.size(); ++i) {
        const long v = std::lround(wave[i] * scale);
        sample.pcm[i] = static_cast<int8_t>(std::clamp(v, -128L, 127L));
    }
}

struct Partial {
    double ratio;     // to the fundamental; times the loop's cycle count must be whole
    double amplitude; // at the start
    double decay;     // per second of the attack; 0 keeps it steady
};

// An additive tone: attackCycles of decaying partials, then a loop of loopCycles cycles of
// what remains steady. cycle is samples per fundamental period at middle C.
void Additive(const std::vector<Partial>& partials, int cycle, int attackCycles, int loopCycles,
              SampleData& sample) {
    const double rate = kMiddleC * cycle;
    const int attack = attackCycles * cycle;
    const int loop = loopCycles * cycle;
    std::vector<double> wave(static_cast<size_t>(attack + loop));
    for (int i = 0; i < attack + loop; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double phase = 2.0 * kPi * static_cast<double>(i) / cycle;
        double v = 0.0;
        for (const Partial& p : partials) {
            double a = p.amplitude;
            // Decaying partials reach exactly zero where the loop begins, so it starts clean.
            if (p.decay > 0.0)
                a = i < attack ? a * std::exp(-p.decay * t) * (1.0 - static_cast<double>(i) / attack) : 0.0;
            v += a * std::sin(phase * p.ratio);
        }
        wave[static_cast<size_t>(i)] = v;
    }
    Quantise(wave, 0.98, sample);
    sample.loopStart = static_cast<uint32_t>(attack);
    sample.loopLength = static_cast<uint32_t>(loop);
    Tune(rate, sample);
}

// Saw-like or square-like harmonic series with a soft roll-off.
std::vector<Partial> Series(int count, bool oddOnly, double rolloff) {
    std::vector<Partial> partials;
    for (int k = 1; k <= count; ++k) {
        if (oddOnly && k % 2 == 0)
            continue;
        partials.push_back({static_cast<double>(k), std::pow(1.0 / k, rolloff), 0.0});
    }
    return partials;
}

void Lead(SampleData& s) {
    // Mostly odd harmonics (hollow, flute-meets-square), a little even colour.
    std::vector<Partial> p = Series(15, true, 1.1);
    p.push_back({2.0, 0.18, 0.0});
    p.push_back({4.0, 0.06, 0.0});
    Additive(p, 64, 0, 1, s);
}

void Bass(SampleData& s) {
    std::vector<Partial> p = Series(20, false, 1.35);
    p[0].amplitude = 1.3;
    Additive(p, 128, 0, 1, s);
}

void Pluck(SampleData& s) {
    // Bright square for chord arpeggios.
    Additive(Series(13, true, 1.0), 64, 0, 1, s);
}

void Steel(SampleData& s) {
    // Tuned pan: strong octave and twelfth, plus a short metallic ping in the attack.
    const std::vector<Partial> p = {{1.0, 1.0, 0.0},  {2.0, 0.55, 0.0},  {3.0, 0.22, 0.0}, {4.0, 0.08, 0.0},
                                    {5.0, 0.35, 9.0}, {7.0, 0.25, 14.0}, {9.0, 0.15, 20.0}};
    Additive(p, 64, 48, 1, s);
}

void Bell(SampleData& s) {
    // Loop of four fundamental cycles, so partials at quarter ratios stay whole.
    const std::vector<Partial> p = {{1.0, 1.0, 0.0},   {0.5, 0.25, 0.0},  {2.0, 0.45, 0.0},
                                    {2.75, 0.35, 0.0}, {5.25, 0.2, 0.0},  {3.5, 0.4, 6.0},
                                    {6.75, 0.3, 10.0}, {8.25, 0.25, 16.0}};
    Additive(p, 64, 64, 4, s);
}

void Pad(SampleData& s) {
    // Three soft saws a few cents apart; cycle counts 95, 96 and 97 close the loop.
    constexpr int kCycle = 64, kLoopCycles = 96;
    const int length = kCycle * kLoopCycles;
    std::vector<double> wave(static_cast<size_t>(length));
    const double counts[] = {95.0, 96.0, 97.0};
    for (int i = 0; i < length; ++i) {
        const double phase = 2.0 * kPi * static_cast<double>(i) / length;
        double v = 0.0;
        for (double c : counts)
            for (int k = 1; k <= 10; ++k)
                v += std::sin(phase * c * k + c) * std::pow(1.0 / k, 1.4);
        wave[static_cast<size_t>(i)] = v;
    }
    Quantise(wave, 0.98, s);
    s.loopStart = 0;
    s.loopLength = static_cast<uint32_t>(length);
    Tune(kMiddleC * kCycle, s);
}

constexpr double kDrumRate = 22050.0;

// A drum of seconds at kDrumRate: voice gives each entry from its index and
// time, then the wave is quantised to peak at peak.
void Drum(SampleData& s, double seconds, double peak, const std::function<double(int i, double t)>& voice) {
    const int length = static_cast<int>(kDrumRate * seconds);
    std::vector<double> wave(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
        wave[static_cast<size_t>(i)] = voice(i, i / kDrumRate);
    Quantise(wave, peak, s);
    Tune(kDrumRate, s);
}

void Kick(SampleData& s) {
    double phase = 0.0;
    Drum(s, 0.28, 1.0, [&phase](int i, double t) {
        const double frequency = 48.0 + 130.0 * std::exp(-t * 28.0);
        phase += 2.0 * kPi * frequency / kDrumRate;
        const double click = i < 40 ? 0.5 * (1.0 - i / 40.0) : 0.0;
        return std::sin(phase) * std::exp(-t * 9.0) + click;
    });
}

void Snare(SampleData& s) {
    Noise noise;
    double previous = 0.0, phase = 0.0;
    Drum(s, 0.22, 1.0, [&](int, double t) {
        const double n = noise.Next();
        const double bright = n - 0.6 * previous; // tilt the noise upwards
        previous = n;
        phase += 2.0 * kPi * (185.0 + 60.0 * std::exp(-t * 40.0)) / kDrumRate;
        return 0.75 * bright * std::exp(-t * 16.0) + 0.8 * std::sin(phase) * std::exp(-t * 30.0);
    });
}

// Noise, high-passed: each entry less the one before.
void HiHat(SampleData& s, double seconds, double decay) {
    Noise noise;
    double previous = 0.0;
    Drum(s, seconds, 1.0, [&](int, double t) {
        const double n = noise.Next();
        const double v = (n - previous) * std::exp(-t * decay);
        previous = n;
        return v;
    });
}

void Shaker(SampleData& s) {
    Noise noise;
    double previous = 0.0;
    Drum(s, 0.09, 0.9, [&](int, double t) {
        const double n = noise.Next();
        const double shape = std::sin(kPi * t / 0.09); // soft swell, no click
        const double v = (n - previous) * shape * shape;
        previous = n;
        return v;
    });
}

const std::map<std::string, std::function<void(SampleData&)>>& Voices() {
    static const std::map<std::string, std::function<void(SampleData&)>> voices = {
        {"lead", Lead},
        {"bass", Bass},
        {"pluck", Pluck},
        {"steel", Steel},
        {"bell", Bell},
        {"pad", Pad},
        {"kick", Kick},
        {"snare", Snare},
        {"hat", [](SampleData& s) { HiHat(s, 0.05, 70.0); }},
        {"openhat", [](SampleData& s) { HiHat(s, 0.3, 12.0); }},
        {"shaker", Shaker},
    };
    return voices;
}

} // namespace

std::vector<std::string> VoiceNames() {
    std::vector<std::string> names;
    for (const auto& entry : Voices())
        names.push_back(entry.first);
    return names;
}

bool Synthesise(const std::string& voice, SampleData& sample) {
    const auto found = Voices().find(voice);
    if (found == Voices().end())
        return false;
    sample = SampleData{};
    found->second(sample);
    return true;
}

} // namespace songc
