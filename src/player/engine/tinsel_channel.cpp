// Tinsel rules: a channel's row start, its envelopes, and the hand-over of
// the tick's changes to its voice.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "player/engine/engine.h"
#include "player/mix/mixer.h"
#include "player/format/module.h"
#include "player/engine/periods.h"
#include "player/engine/replay.h"

namespace {

constexpr int kNoteCount = 96;

// Stands in for an instrument number the song does not have.
const Instrument kEmptyInstrument{};

// Tinsel rules take an envelope of fewer than 2 points as off, whatever its type.
bool EnvelopeOn(uint8_t type, uint8_t points) {
    return (type & 1) != 0 && points >= 2;
}

bool IsNote(uint8_t note) {
    return note >= 1 && note <= kNoteCount;
}

// The remembered instrument, and the sample it maps the remembered note to.
void Select(const Module& m, Channel& c) {
    const int number = c.instrumentNumber - 1;
    if (number < 0 || number >= m.instrumentCount || m.instruments == nullptr) {
        c.instrument = &kEmptyInstrument;
        c.sample = &EmptySample;
        c.sampleSlot = -1;
        return;
    }
    const Instrument& ins = m.instruments[number];
    c.instrument = &ins;
    const uint8_t slot =
        c.note >= 1 && c.note <= kNoteCount ? ins.sampleMap[c.note - 1] : kMapSelectableSamples;
    c.sample = MappedSample(ins, slot);
    c.sampleSlot = static_cast<int8_t>(c.sample != &EmptySample && slot < ins.sampleCount ? slot : -1);
}

int32_t Fixed(uint16_t y) {
    return static_cast<int32_t>(static_cast<uint32_t>(y) << 16);
}

// One tick of a volume or panning envelope; raises flagBit in updateFlags.
void StepEnvelope(Channel& c, int32_t& tick, int32_t& point, int32_t& value, int32_t& step, uint8_t& done,
                  int32_t& output, const EnvelopePoint* points, uint8_t pointCount, uint8_t type,
                  uint8_t sustain, uint8_t loopStart, uint8_t loopEnd, uint8_t flagBit) {
    // A damaged instrument may count more points, or name points, beyond those stored.
    const int n = pointCount < kEnvelopePoints ? pointCount : kEnvelopePoints;
    const bool loop = (type & 4) && loopStart < n && loopEnd < n;
    if (point >= 0 && point < n) {
        if (tick != points[point].x) {
            value = static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(step));
        } else {
            if (loop && point == loopEnd) {
                point = loopStart;
                tick = points[loopStart].x;
            }
            if (point == n - 1) {
                output = points[point].y;
                done = 1;
                c.updateFlags |= flagBit;
                return;
            }
            if ((type & 2) && point == sustain && !c.keyOff) {
                output = points[point].y;
                c.updateFlags |= flagBit;
                return;
            }
            const int dx = points[point + 1].x - points[point].x;
            const int64_t dy = static_cast<int64_t>(Fixed(points[point + 1].y)) - Fixed(points[point].y);
            step = dx != 0 ? static_cast<int32_t>(dy / dx) : 0;
            value = Fixed(points[point].y);
            point += 1;
        }
    }
    output = static_cast<int16_t>(static_cast<uint32_t>(value) >> 16);
    tick += 1;
    c.updateFlags |= flagBit;
}

constexpr int32_t kMinFrequency = 100;

void SetGains(MixVoice& v) {
    v.leftGain = v.volume * (255 - v.panning) / 255;
    v.rightGain = v.volume * v.panning / 255;
}

int32_t Frequency(const Channel& c, bool linear) {
    double f;
    if (linear) {
        // A positive delta raises the pitch. 1/768 as the single-precision
        // constant, promoted: octave steps land on whole frequencies.
        const int64_t offset = 4608 - static_cast<int64_t>(c.basePeriod) + c.periodDelta;
        f = 8363.0 * std::exp2(static_cast<double>(offset) * static_cast<double>(0.0013020834f));
    } else {
        // Amiga periods: a positive delta raises the pitch here too.
        const int64_t period = static_cast<int64_t>(c.basePeriod) - c.periodDelta;
        f = period > 0 ? static_cast<double>(14317456 / period) : 0.0;
    }
    // Notes far above the format's range would not fit the voice's integer frequency.
    if (!(f < 2147483647.0)) {
        f = 2147483647.0;
    }
    if (f < -2147483648.0) {
        f = -2147483648.0;
    }
    return static_cast<int32_t>(f);
}

void SetStep(MixVoice& v, int32_t frequency, int32_t mixingRate) {
    const uint32_t rate = mixingRate > 0 ? static_cast<uint32_t>(mixingRate) : 1;
    int64_t f = frequency < kMinFrequency ? kMinFrequency : frequency;
    // Only notes far beyond the format's range step faster than the mixer's
    // boundary count can divide by.
    const int64_t maxFrequency = static_cast<int64_t>(rate) * kMaxStepSamples;
    if (f > maxFrequency) {
        f = maxFrequency;
    }
    const uint32_t fu = static_cast<uint32_t>(f);
    v.stepInt = static_cast<int32_t>(fu / rate);
    v.stepFrac = static_cast<uint32_t>((static_cast<uint64_t>(fu % rate) << 32) / rate);
}

// A new instrument number: its sample's volume and panning, envelopes and
// fadeout from the start.
void ResetNote(Channel& c, const Sample& sample) {
    c.baseVolume = sample.volume;
    c.panning = static_cast<int32_t>(sample.panning);
    c.envVolume = 64;
    c.volEnvPoint = c.volEnvTick = c.volEnvSlope = 0;
    c.envPanning = 32;
    c.panEnvPoint = c.panEnvTick = c.panEnvSlope = 0;
    c.keyOff = false;
    c.fadeoutLevel = 65536;
    c.volEnvDone = c.panEnvDone = 0;
    c.autoVibratoSweep = c.autoVibratoPos = c.vibratoPos = 0;
    c.updateFlags |= kUpdateVolume | kUpdatePanning;
}

} // namespace

void TinselRowStart(Context& x, Channel& c, const uint8_t* cell) {
    const Module& m = x.module;
    const uint8_t note = cell[0];
    const uint8_t instr = cell[1];
    const uint8_t fx = cell[3];
    const bool porta = fx == kTonePorta || fx == kTonePortaVolumeSlide;
    c.volumeByte = cell[2];
    c.effect = c.lastEffect = fx;
    c.parameter = c.lastParameter = cell[4];

    if (instr != 0 && !porta) {
        c.instrumentNumber = instr;
    }
    if (IsNote(note) && !porta) {
        c.note = note;
    }
    Select(m, c);
    c.fadeoutSpeed = c.instrument->fadeout;

    if (IsNote(note)) {
        const int realNote = (note + c.sample->relativeNote - 1) & 255;
        if (x.song.linear) {
            c.notePeriod = 7680 - 64 * realNote - c.sample->finetune / 2;
        } else {
            c.notePeriod = periods::AmigaPeriod(periods::TableIndex(realNote + 1, c.sample->finetune));
        }
        if (!porta) {
            c.basePeriod = c.notePeriod;
            c.finetune = c.sample->finetune;
        }
        c.updateFlags = kUpdateNoteStart;
    }
    c.periodDelta = 0;
    c.updateFlags |= kUpdateFrequency | kUpdateVolume;

    if (instr != 0) {
        ResetNote(c, *c.sample);
    }
    if (c.volumeByte != 0) {
        TinselVolumeColumnRowStart(c);
    }
    if (note == kKeyOff || fx == kKeyOffAt) {
        c.keyOff = true;
    }
    if (!EnvelopeOn(c.instrument->volumeType, c.instrument->volumePointCount) && c.keyOff) {
        // A released note without a volume envelope falls silent at once.
        c.envVolume = 0;
    }
    TinselRowEffect(x, c);
}

void TinselEnvelopes(Context&, Channel& c) {
    const Instrument& ins = *c.instrument;
    if (EnvelopeOn(ins.volumeType, ins.volumePointCount) && c.volEnvDone == 0) {
        StepEnvelope(c, c.volEnvTick, c.volEnvPoint, c.volEnvValue, c.volEnvSlope, c.volEnvDone, c.envVolume,
                     ins.volumeEnvelope, ins.volumePointCount, ins.volumeType, ins.volumeSustain,
                     ins.volumeLoopStart, ins.volumeLoopEnd, kUpdateVolume);
    }
    if (EnvelopeOn(ins.panningType, ins.panningPointCount) && c.panEnvDone == 0) {
        StepEnvelope(c, c.panEnvTick, c.panEnvPoint, c.panEnvValue, c.panEnvSlope, c.panEnvDone, c.envPanning,
                     ins.panningEnvelope, ins.panningPointCount, ins.panningType, ins.panningSustain,
                     ins.panningLoopStart, ins.panningLoopEnd, kUpdatePanning);
    }
}

void TinselUpdateVoice(const Context& x, Channel& c, MixVoice& v) {
    if (static_cast<int64_t>(c.basePeriod) + c.periodDelta == 0) {
        c.updateFlags &= static_cast<uint8_t>(~kUpdateFrequency);
    }
    if (c.updateFlags & kUpdateNoteStart) {
        const Sample& sample = *c.sample;
        v.sample = &sample;
        if (static_cast<uint32_t>(v.startOffset) >= sample.loopStart + sample.loopLength) {
            v.startOffset = 0;
        }
        v.posInt = v.startOffset;
        v.posFrac = 0;
        v.direction = 1;
        v.startOffset = 0;
        v.leftLevel = v.rightLevel = v.rampRemaining = 0;
    }
    if (c.updateFlags & kUpdateVolume) {
        const double product = static_cast<double>(c.baseVolume) * c.envVolume * c.fadeoutLevel *
                               x.song.globalVolume * 255.0 / 34359738368.0; // 2^35
        // Envelope points of a damaged file can read as negative values; the
        // mixer's gains and levels are defined for gains of 0 and up only.
        v.volume = product > 0 ? static_cast<int32_t>(product) : 0;
        SetGains(v);
    }
    if (c.updateFlags & kUpdatePanning) {
        const int64_t away = std::llabs(static_cast<int64_t>(c.panning) - 128);
        int64_t p = c.panning + ((128 - away) / 32) * (static_cast<int64_t>(c.envPanning) - 32);
        p = std::clamp<int64_t>(p, 0, 255);
        v.panning = static_cast<int32_t>(p);
        SetGains(v);
    }
    if (c.updateFlags & kUpdateFrequency) {
        // Most ticks ask again for the pitch the voice already has.
        const int64_t heard = static_cast<int64_t>(c.basePeriod) - c.periodDelta;
        if (!c.voiceTuned || heard != c.tunedPeriod) {
            v.frequency = Frequency(c, x.song.linear);
            if (x.state.pitchFactor == 1.0) {
                SetStep(v, v.frequency, x.rate);
            } else {
                const double heard = v.frequency * x.state.pitchFactor;
                SetStep(v, static_cast<int32_t>(heard < 2147483647.0 ? heard : 2147483647.0), x.rate);
            }
            c.voiceTuned = heard == static_cast<int32_t>(heard);
            c.tunedPeriod = static_cast<int32_t>(heard);
        }
    }
}
