#include "player/mix/ft2_mixer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "player/mix/ft2_kernels.h"

namespace {

constexpr int kStretch = static_cast<int>(sizeof(Ft2Mixer::sum) / sizeof(int32_t) / 2);
// The low half of the original's position register holds the mixing buffer's
// address: it starts every tick here and moves 8 a frame, and takes part in
// the interpolation's weight. Past 65535 it carries into the fraction.
constexpr uint32_t kAddressStart = 32856;
using ft2frame::kAddressStep;

// round(2^24 * 2^(r / 768)), r = 0..767: one octave of the linear table.
const uint32_t* OctaveTable() {
    static uint32_t table[768];
    static const bool filled = [] {
        for (int r = 0; r < 768; ++r) {
            table[r] = static_cast<uint32_t>(std::llround(16777216.0 * std::exp2(r / 768.0)));
        }
        return true;
    }();
    (void)filled;
    return table;
}

// Both held in 32 bits, as the original's; far below any device's rate they saturate.
uint32_t Saturated(double value) {
    return value < 4294967295.0 ? static_cast<uint32_t>(std::llround(value)) : 0xFFFFFFFFu;
}

uint32_t LinearScale(int32_t rate) {
    return Saturated(256.0 * 65536.0 * 8363.0 / rate);
}

uint32_t AmigaDividend(int32_t rate) {
    return Saturated(65536.0 * 1712.0 * 8363.0 / rate);
}

// The original's conversion: the linear table's distance from its lowest
// note wraps in 16 bits and its octave shift in 5, so periods above 9216 give
// no step up to 14080 and very high ones beyond.
uint32_t StepOf(bool linear, uint16_t period, uint32_t linearScale, uint32_t amigaDividend) {
    if (period == 0) {
        return 0;
    }
    if (!linear) {
        return amigaDividend / period;
    }
    const uint32_t distance = static_cast<uint16_t>(9216 - period);
    const uint32_t octave = distance / 768;
    const uint64_t scaled = (uint64_t{OctaveTable()[distance % 768]} * linearScale) >> 24;
    const uint64_t step = scaled >> ((14 - octave) & 31);
    return step < 0xFFFFFFFFu ? static_cast<uint32_t>(step) : 0xFFFFFFFFu;
}

bool Muted(const Ft2Mixer& m, int channel) {
    return channel >= 0 && channel < kMaxChannels && m.muted[static_cast<size_t>(channel)];
}

// Gain at frame k of the tick.
int64_t GainAt(uint32_t gain, int32_t delta, int32_t rampStart, int32_t rampFrames, int32_t k) {
    int32_t j = k - rampStart;
    j = std::clamp<int32_t>(j, 0, rampFrames);
    return int64_t{gain} + int64_t{j} * delta;
}

// New targets from the voice's volume and panning; the ramp to them starts
// at frame `from` of the tick from the gains the voice has there.
void Retarget(Ft2Mixer& m, Ft2Voice& v, bool muted, int32_t frames, int32_t from) {
    const uint32_t* pan = Ft2PanTable();
    const uint32_t g = muted ? 0u : uint32_t{v.volume} * 8u * static_cast<uint32_t>(m.amplification);
    if (from > 0) {
        v.gainL = static_cast<uint32_t>(GainAt(v.gainL, v.deltaL, v.rampStart, v.rampFrames, from));
        v.gainR = static_cast<uint32_t>(GainAt(v.gainR, v.deltaR, v.rampStart, v.rampFrames, from));
    }
    v.targetL = (g * pan[256 - v.panning]) >> 4;
    v.targetR = (g * pan[v.panning]) >> 4;
    v.deltaL = static_cast<int32_t>((int64_t{v.targetL} - v.gainL) / frames);
    v.deltaR = static_cast<int32_t>((int64_t{v.targetR} - v.gainR) / frames);
    v.rampStart = from;
    v.rampFrames = frames;
    v.silent = (v.targetL | v.targetR | v.gainL | v.gainR) == 0;
}

// The position has reached the end: a loop goes back by its length as often
// as it takes (a ping-pong loop turning each time), anything else stops.
void Wrap(Ft2Voice& v) {
    const uint64_t whole = v.position >> 16;
    if (whole < v.length) {
        return;
    }
    if (v.loop == kLoopNone || v.loopLength == 0) {
        v.on = false;
        return;
    }
    // Mostly one loop back: no division.
    const uint64_t past = whole - v.length;
    const uint64_t times = past < v.loopLength ? 1 : past / v.loopLength + 1;
    v.position -= (times * v.loopLength) << 16;
    if (v.loop == kLoopPingPong && (times & 1) != 0) {
        v.backward = !v.backward;
    }
}

// Frames [k, k + count) of the tick for one voice.
void MixRuns(Ft2Voice& v, int32_t* sumL, int32_t* sumR, int32_t k, int32_t count, const Ft2Kernels& kernels) {
    if (v.silent) {
        // Silent all tick: the position moves on in one go, as the original's does.
        v.position += uint64_t{v.step} * static_cast<uint32_t>(count);
        Wrap(v);
        return;
    }
    while (count > 0 && v.on) {
        uint32_t n = static_cast<uint32_t>(count);
        // The ramp's frames, then the held gain.
        const int32_t rampEnd = v.rampStart + v.rampFrames;
        const bool ramping = k >= v.rampStart && k < rampEnd;
        if (k < v.rampStart) {
            n = n < static_cast<uint32_t>(v.rampStart - k) ? n : static_cast<uint32_t>(v.rampStart - k);
        } else if (ramping) {
            n = n < static_cast<uint32_t>(rampEnd - k) ? n : static_cast<uint32_t>(rampEnd - k);
        }
        // The address carries into the fraction only at rates above about
        // 52 kHz in long ticks: the run ends there and the carry follows.
        const uint32_t address = kAddressStart + kAddressStep * static_cast<uint32_t>(k);
        const uint32_t toCarry = ((address | 0xFFFF) + 1 - address + kAddressStep - 1) / kAddressStep;
        if (toCarry <= n) {
            n = toCarry;
        }
        // Frames until the position reaches the end; most runs end before
        // it, as n steps tell without a division.
        const uint64_t left = (uint64_t{v.length} << 16) - v.position;
        if (left < uint64_t{n} * v.step) {
            n = static_cast<uint32_t>((left + v.step - 1) / v.step);
        }
        const bool backward = v.backward && v.loop == kLoopPingPong;
        v.position = kernels.runs[backward][v.right != nullptr](
            v.left, v.right, v.position, v.step, v.mirror, address & 0xFFFF, sumL, sumR, n,
            static_cast<int32_t>(GainAt(v.gainL, v.deltaL, v.rampStart, v.rampFrames, k)),
            static_cast<int32_t>(GainAt(v.gainR, v.deltaR, v.rampStart, v.rampFrames, k)),
            ramping ? v.deltaL : 0, ramping ? v.deltaR : 0);
        if (n == toCarry) {
            // The carry moves the real position on: the mirrored one back.
            v.position = backward ? v.position - 1 : v.position + 1;
        }
        Wrap(v);
        sumL += n;
        sumR += n;
        k += static_cast<int32_t>(n);
        count -= static_cast<int32_t>(n);
    }
}

void SilenceVoices(Ft2Mixer& m) {
    std::memset(m.voices, 0, sizeof m.voices);
    std::memset(m.current, 0, sizeof m.current);
    std::memset(m.updates, 0, sizeof m.updates);
    for (Ft2Voice& v : m.voices) {
        v.panning = 128;
        v.silent = true;
    }
}

} // namespace

void Ft2ResetMixer(Ft2Mixer& m, int32_t rate, int32_t amplification, int32_t channels, bool linear) {
    m.rate = rate > 0 ? rate : 1;
    m.quickFrames = m.rate / 200 > 0 ? m.rate / 200 : 1;
    m.linearScale = LinearScale(m.rate);
    m.amigaDividend = AmigaDividend(m.rate);
    m.linear = linear;
    m.channels = std::clamp<int32_t>(channels, 0, kMaxChannels);
    m.tickFrames = m.frame = 0;
    Ft2SetAmplification(m, amplification);
    SilenceVoices(m);
}

void Ft2Detach(Ft2Mixer& m) {
    m.channels = 0;
}

void Ft2StartTick(Ft2Mixer& m) {
    for (int i = 0; i < 2 * m.channels; ++i) {
        Ft2Voice& v = m.voices[i];
        if (v.fadingOut) {
            v.on = false;
        }
        v.gainL = v.targetL;
        v.gainR = v.targetR;
        v.deltaL = v.deltaR = 0;
        v.rampStart = v.rampFrames = 0;
    }
    m.frame = 0;
}

void Ft2Trigger(Ft2Mixer& m, int channel, const Sample* sample, uint32_t start) {
    if (channel < 0 || channel >= m.channels) {
        return;
    }
    // The sounding voice fades out over 5 ms, whatever it plays, from where it is.
    Ft2Voice& old = m.voices[2 * channel + m.current[channel]];
    old.fadingOut = true;
    old.volume = 0;
    old.targetL = old.targetR = 0;
    old.deltaL = static_cast<int32_t>(-int64_t{old.gainL} / m.quickFrames);
    old.deltaR = static_cast<int32_t>(-int64_t{old.gainR} / m.quickFrames);
    old.rampStart = 0;
    old.rampFrames = m.quickFrames;
    // The other takes the note, with the gains it has: 0 after a tick's
    // start, the note's own when two notes start in one tick.
    m.current[channel] ^= 1;
    Ft2Voice& v = m.voices[2 * channel + m.current[channel]];
    v.on = v.fadingOut = false;
    if (sample == nullptr || sample->data == nullptr || (sample->type & kSampleNeverSounds) != 0) {
        return;
    }
    const bool looped = sample->loopMode == kLoopForward || sample->loopMode == kLoopPingPong;
    v.length = looped ? sample->loopStart + sample->loopLength : sample->length;
    if (v.length == 0 || start >= v.length) {
        return;
    }
    v.left = sample->data;
    v.right = sample->right;
    v.loop = looped ? sample->loopMode : static_cast<uint8_t>(kLoopNone);
    v.loopStart = sample->loopStart;
    v.loopLength = sample->loopLength;
    v.mirror = 2 * sample->loopStart + sample->loopLength - 1;
    v.position = uint64_t{start} << 16;
    v.backward = false;
    v.on = true;
}

void Ft2SetChannel(Ft2Mixer& m, int channel, int32_t volume, int32_t panning, uint16_t period, bool quick) {
    if (channel < 0 || channel >= m.channels) {
        return;
    }
    Ft2Mixer::Update& u = m.updates[channel];
    u.pending = true;
    u.quick = quick;
    u.volume = static_cast<uint16_t>(std::clamp<int32_t>(volume, 0, 256));
    u.panning = static_cast<uint8_t>(std::clamp<int32_t>(panning, 0, 255));
    u.period = period;
}

void Ft2EndTick(Ft2Mixer& m, int32_t tickFrames) {
    m.tickFrames = tickFrames > 0 ? tickFrames : 1;
    m.frame = 0;
    for (int c = 0; c < m.channels; ++c) {
        Ft2Mixer::Update& u = m.updates[c];
        if (!u.pending) {
            continue;
        }
        u.pending = false;
        Ft2Voice& v = m.voices[2 * c + m.current[c]];
        v.volume = static_cast<uint8_t>(u.volume > 0 ? u.volume - 1 : 0);
        v.panning = u.panning;
        Retarget(m, v, Muted(m, c), u.quick ? m.quickFrames : m.tickFrames, 0);
        v.step = StepOf(m.linear, u.period, m.linearScale, m.amigaDividend);
        if (m.pitchFactor != 1.0) {
            const double step = static_cast<double>(v.step) * m.pitchFactor;
            v.step = step < 4294967295.0 ? static_cast<uint32_t>(step) : 0xFFFFFFFFu;
        }
    }
    for (int i = 0; i < 2 * m.channels; ++i) {
        Ft2Voice& v = m.voices[i];
        v.silent = (v.targetL | v.targetR | v.gainL | v.gainR) == 0;
    }
}

void Ft2Mix(Ft2Mixer& m, float* destination, int32_t frames) {
    const Ft2Kernels& kernels = CurrentFt2Kernels();
    while (frames > 0) {
        const int32_t n = frames < kStretch ? frames : kStretch;
        int32_t* sumL = m.sum;
        int32_t* sumR = m.sum + kStretch;
        std::memset(sumL, 0, sizeof(int32_t) * static_cast<size_t>(n));
        std::memset(sumR, 0, sizeof(int32_t) * static_cast<size_t>(n));
        for (int i = 0; i < 2 * m.channels; ++i) {
            if (m.voices[i].on) {
                MixRuns(m.voices[i], sumL, sumR, m.frame, n, kernels);
            }
        }
        Ft2Output(destination, sumL, sumR, n);
        destination += 2 * n;
        m.frame += n;
        frames -= n;
    }
}

void Ft2SetMuted(Ft2Mixer& m, const std::bitset<kMaxChannels>& muted) {
    const std::bitset<kMaxChannels> changed = m.muted ^ muted;
    m.muted = muted;
    for (int c = 0; c < m.channels; ++c) {
        if (changed[static_cast<size_t>(c)]) {
            Retarget(m, m.voices[2 * c + m.current[c]], Muted(m, c), m.quickFrames, m.frame);
        }
    }
}

void Ft2SetAmplification(Ft2Mixer& m, int32_t amplification) {
    m.amplification = amplification < kFt2MinAmplification   ? kFt2MinAmplification
                      : amplification > kFt2MaxAmplification ? kFt2MaxAmplification
                                                             : amplification;
}

const uint32_t* Ft2PanTable() {
    static uint32_t table[257];
    static const bool filled = [] {
        for (int i = 0; i <= 256; ++i) {
            table[i] = static_cast<uint32_t>(std::lround(65536.0 * std::sqrt(i / 256.0)));
        }
        return true;
    }();
    (void)filled;
    return table;
}
