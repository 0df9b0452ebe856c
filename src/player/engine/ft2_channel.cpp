// FT2 rules, the end of each channel's tick: envelopes, auto-vibrato, the
// final volume, panning and period, and the hand-over to the original's mixer.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "player/engine/engine.h"
#include "player/engine/periods.h"

namespace {

constexpr int kEnvMax = 64 << 8;
constexpr double kPi = 3.14159265358979323846;

struct Envelope {
    const EnvelopePoint* points;
    int count;
    uint8_t type, sustain, loopStart, loopEnd;
};

// An envelope is on by its type bit alone; one of 0 points reads its stored
// first point, as one of 1 point does.
int Points(uint8_t count) {
    return std::clamp<int>(count, 1, kEnvelopePoints);
}

Envelope VolumeEnvelope(const Instrument& ins) {
    return {ins.volumeEnvelope, Points(ins.volumePointCount), ins.volumeType,
            ins.volumeSustain,  ins.volumeLoopStart,          ins.volumeLoopEnd};
}

Envelope PanningEnvelope(const Instrument& ins) {
    return {ins.panningEnvelope, Points(ins.panningPointCount), ins.panningType,
            ins.panningSustain,  ins.panningLoopStart,          ins.panningLoopEnd};
}

// One tick: the tick counts first, then a point reached sets the value exactly.
void StepEnvelope(const Envelope& e, bool keyOff, int32_t& tick, int32_t& point, int32_t& value,
                  int32_t& slope) {
    if (e.count < 1) {
        return;
    }
    if (point >= e.count) {
        point = e.count - 1;
    }
    tick += 1;
    if (tick == e.points[point].x) {
        value = e.points[point].y << 8;
        const bool loop = (e.type & 4) && e.loopStart < e.count && e.loopEnd < e.count;
        const bool sustain = (e.type & 2) != 0;
        if (loop && point == e.loopEnd && !(sustain && e.sustain == point && keyOff)) {
            point = e.loopStart;
            tick = e.points[point].x;
            value = e.points[point].y << 8;
        }
        if (sustain && !keyOff && point == e.sustain) {
            slope = 0;
        } else if (point + 1 < e.count) {
            const int dx = e.points[point + 1].x - e.points[point].x;
            slope = dx != 0 ? ((e.points[point + 1].y - e.points[point].y) * 256) / dx : 0;
            point += 1;
        } else {
            slope = 0;
        }
    } else {
        value += slope;
    }
    if (value > kEnvMax) {
        value = kEnvMax;
    } else if (value < 0) {
        value = 0;
    }
}

void PlaceEnvelope(const Envelope& e, uint8_t position, int32_t& tick, int32_t& point, int32_t& value,
                   int32_t& slope) {
    if (e.count < 1) {
        return;
    }
    tick = position - 1;
    for (int p = 1; p < e.count; ++p) {
        if (position < e.points[p].x) {
            const int a = p - 1;
            point = p;
            if (position == e.points[a].x) {
                point = a;
                return;
            }
            const int dx = e.points[p].x - e.points[a].x;
            slope = dx != 0 ? ((e.points[p].y - e.points[a].y) * 256) / dx : 0;
            // Points of a damaged file may run backwards or far above 64: the
            // product is wide, and the value kept in range as a step keeps it.
            const int64_t v = (int64_t{e.points[a].y} << 8) +
                              int64_t{slope} * (static_cast<int>(position) - e.points[a].x - 1);
            value = static_cast<int32_t>(std::clamp<int64_t>(v, 0, kEnvMax));
            return;
        }
    }
    point = e.count - 1;
    value = e.points[point].y << 8;
    slope = 0;
}

int AutoVibratoValue(int type, uint8_t pos) {
    switch (type) {
    case 0:
        return static_cast<int>(std::lround(64.0 * std::sin(-2.0 * kPi * pos / 256.0)));
    case 1:
        return pos <= 127 ? -64 : 64;
    case 2:
        return (((pos >> 1) + 64) & 127) - 64;
    case 3:
        return ((64 - (pos >> 1)) & 127) - 64;
    default: // outside the format: no vibrato
        return 0;
    }
}

} // namespace

void SetEnvelopePosition(Channel& c, uint8_t position) {
    const Instrument* ins = c.instrument;
    if (ins == nullptr || !(ins->volumeType & 1)) {
        return;
    }
    PlaceEnvelope(VolumeEnvelope(*ins), position, c.volEnvTick, c.volEnvPoint, c.volEnvValue, c.volEnvSlope);
    // The original moves the panning envelope on the volume envelope's sustain flag.
    if (ins->volumeType & 2) {
        PlaceEnvelope(PanningEnvelope(*ins), position, c.panEnvTick, c.panEnvPoint, c.panEnvValue,
                      c.panEnvSlope);
    }
}

void Ft2Envelopes(Context&, Channel& c) {
    const Instrument* ins = c.instrument;
    // A running envelope flags its value every tick.
    if (ins != nullptr && (ins->volumeType & 1)) {
        StepEnvelope(VolumeEnvelope(*ins), c.keyOff, c.volEnvTick, c.volEnvPoint, c.volEnvValue,
                     c.volEnvSlope);
        c.updateFlags |= kUpdateVolume;
    }
    if (ins != nullptr && (ins->panningType & 1)) {
        StepEnvelope(PanningEnvelope(*ins), c.keyOff, c.panEnvTick, c.panEnvPoint, c.panEnvValue,
                     c.panEnvSlope);
        c.updateFlags |= kUpdatePanning;
    }
}

void Ft2AutoVibrato(Context&, Channel& c) {
    const Instrument* ins = c.instrument;
    int32_t period = c.outPeriod;
    if (ins != nullptr && ins->vibratoDepth > 0) {
        int32_t amplitude = c.autoVibratoAmplitude;
        if (c.autoVibratoSweep > 0) {
            if (!c.keyOff) {
                c.autoVibratoAmplitude += c.autoVibratoSweep;
                if ((c.autoVibratoAmplitude >> 8) > ins->vibratoDepth) {
                    c.autoVibratoAmplitude = ins->vibratoDepth * 256;
                    c.autoVibratoSweep = 0;
                }
                amplitude = c.autoVibratoAmplitude;
            } else {
                amplitude = c.autoVibratoSweep; // released while sweeping: the original's slip
            }
        }
        c.autoVibratoPos = static_cast<uint8_t>(c.autoVibratoPos + ins->vibratoRate);
        const int32_t offset =
            (AutoVibratoValue(ins->vibratoType, static_cast<uint8_t>(c.autoVibratoPos)) * 4 * amplitude) >>
            16;
        period += offset;
        if (static_cast<uint16_t>(period) >= 32000 || period < 0) {
            period = 0;
        }
    }
    c.finalPeriod = period;
}

namespace {

// The float voice of a channel, where another interpolation or ramp than the
// rule set's own mixes FT2 rules: the note's start, its exact frequency and
// the square-root pan law on the mixer's 0..255 gains.
void SetFloatVoice(const Context& x, Channel& c, MixVoice& v) {
    const Sample* s = c.sample;
    const bool playable =
        s != nullptr && s->data != nullptr && s->length > 0 && (s->type & kSampleNeverSounds) == 0;
    if (c.updateFlags & kUpdateNoteStart) {
        const uint32_t end = playable ? s->loopStart + s->loopLength : 0;
        if (!playable || c.startOffset >= end) {
            v.sample = nullptr; // an offset past the end silences the voice
        } else {
            v.sample = s;
            v.posInt = static_cast<int32_t>(c.startOffset);
            v.posFrac = 0;
            v.direction = 1;
            v.leftLevel = v.rightLevel = v.rampRemaining = 0;
        }
    }
    if (!c.voiceTuned || c.finalPeriod != c.tunedPeriod) {
        const double hz = periods::FrequencyHz(x.song.linear, c.finalPeriod);
        v.frequency = static_cast<int32_t>(hz < 2147483647.0 ? hz : 2147483647.0);
        const uint32_t rate = x.rate > 0 ? static_cast<uint32_t>(x.rate) : 1;
        const double maxHz = static_cast<double>(rate) * kMaxStepSamples;
        const double heard = x.state.pitchFactor == 1.0 ? hz : hz * x.state.pitchFactor;
        const double step = (heard < maxHz ? heard : maxHz) / rate;
        v.stepInt = static_cast<int32_t>(step);
        v.stepFrac = static_cast<uint32_t>((step - v.stepInt) * 4294967296.0);
        c.voiceTuned = true;
        c.tunedPeriod = c.finalPeriod;
    }
    // Volume on the mixer's 0..255 gain scale, 127 for full as under tinsel
    // rules; a period of 0 (0 Hz) is silence.
    const int32_t heard = c.finalPeriod > 0 ? c.handedVolume : 0;
    const int pan = c.handedPanning;
    const uint32_t* law = Ft2PanTable();
    v.volume = heard * 127 / 256;
    v.panning = pan;
    v.leftGain = static_cast<int32_t>((int64_t{heard} * 127 * law[256 - pan]) >> 24);
    v.rightGain = static_cast<int32_t>((int64_t{heard} * 127 * law[pan]) >> 24);
}

} // namespace

void Ft2UpdateVoice(const Context& x, Channel& c, MixVoice& v) {
    const Instrument* ins = c.instrument;
    // The fadeout level is 65536 for full, twice the original's.
    const int64_t global = x.song.globalVolume;
    if (ins != nullptr && (ins->volumeType & 1)) {
        const int64_t env = c.volEnvValue >> 8;
        c.finalVolume = static_cast<int32_t>((((env * c.outVolume * c.fadeoutLevel) >> 19) * global) >> 7);
    } else {
        c.finalVolume =
            static_cast<int32_t>((((int64_t{c.outVolume} * 16 * c.fadeoutLevel) >> 17) * global) >> 7);
    }
    c.finalPanning = c.panning;
    if (ins != nullptr && (ins->panningType & 1)) {
        const int room = 128 - std::abs(c.panning - 128);
        // Kept in 8 bits: 256 wraps to hard left.
        c.finalPanning = (c.panning + (((c.panEnvValue - 8192) * (room * 8)) >> 16)) & 255;
    }
    // The mixer takes a new volume or panning only on a tick that flags it
    // (global volume flags every channel after the one that set it); else it
    // keeps the last, ramping from where it stands to itself.
    if ((c.updateFlags & kUpdateVolume) || x.song.globalVolumeSet) {
        c.handedVolume = c.finalVolume;
    }
    if (c.updateFlags & kUpdatePanning) {
        c.handedPanning = std::clamp<int32_t>(c.finalPanning, 0, 255);
    }
    Ft2SetChannel(x.state.ft2, ChannelIndex(x, c), c.handedVolume, c.handedPanning,
                  static_cast<uint16_t>(c.finalPeriod), (c.updateFlags & kUpdateQuick) != 0);
    if (x.state.ft2FloatVoices) {
        SetFloatVoice(x, c, v);
    }
}
