// Per-note channel reset and the hand-over of a channel's changes to its voice.
#include <cmath>
#include <cstdlib>

#include "player/mixer.h"
#include "player/module.h"
#include "player/player.h"
#include "player/replay.h"

namespace {

constexpr int32_t kMinFrequency = 100;

void SetGains(MixVoice& v) {
    v.leftGain = v.volume * (255 - v.panning) / 255;
    v.rightGain = v.volume * v.panning / 255;
}

int32_t Frequency(const TrackChannel& c, const Module& m) {
    double f;
    if (m.flags & linearFrequencies) {
        // A positive delta raises the pitch. 1/768 as the single-precision
        // constant, promoted: octave steps land on whole frequencies.
        const int64_t offset = 4608 - static_cast<int64_t>(c.period) + c.periodDelta;
        f = 8363.0 * std::exp2(static_cast<double>(offset) * static_cast<double>(0.0013020834f));
    } else {
        // Amiga periods: a positive delta raises the pitch here too.
        const int64_t period = static_cast<int64_t>(c.period) - c.periodDelta;
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

} // namespace

void ResetNote(TrackChannel& c, const Sample& sample) {
    c.volume = sample.volume;
    c.panning = static_cast<int32_t>(sample.panning);
    c.envVolume = 64;
    c.volEnvPoint = c.volEnvTick = c.volEnvStep = 0;
    c.envPanning = 32;
    c.panEnvPoint = c.panEnvTick = c.panEnvStep = 0;
    c.keyOff = 0;
    c.fadeoutLevel = 65536;
    c.volEnvDone = c.panEnvDone = 0;
    c.autoVibratoSweep = c.autoVibratoPos = 0;
    if ((c.waveControl & 0x0F) < 4) {
        c.vibratoPos = 0;
    }
    if ((c.waveControl >> 4) < 4) {
        c.tremoloPos = 0;
    }
    c.updateFlags |= kUpdateVolume | kUpdatePanning;
}

void UpdateVoice(TrackChannel& c, const Sample& sample, const Player& player) {
    const Module& m = *player.module;
    if (c.voice == nullptr) {
        return;
    }
    MixVoice& v = *c.voice;
    if (static_cast<int64_t>(c.period) + c.periodDelta == 0) {
        c.updateFlags &= static_cast<uint8_t>(~kUpdateFrequency);
    }
    if (c.updateFlags & kUpdateNoteStart) {
        v.sample = const_cast<Sample*>(&sample);
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
        const double product = static_cast<double>(c.volume + c.volumeDelta) * c.envVolume * c.fadeoutLevel *
                               m.globalVolume * 255.0 / 34359738368.0; // 2^35
        // Envelope points of a damaged file can read as negative values; the
        // mixer's gains and levels are defined for gains of 0 and up only.
        v.volume = product > 0 ? static_cast<int32_t>(product) : 0;
        SetGains(v);
    }
    if (c.updateFlags & kUpdatePanning) {
        const int64_t away = std::llabs(static_cast<int64_t>(c.panning) - 128);
        int64_t p = c.panning + ((128 - away) / 32) * (static_cast<int64_t>(c.envPanning) - 32);
        p = p < 0 ? 0 : (p > 255 ? 255 : p);
        v.panning = static_cast<int32_t>(p);
        SetGains(v);
    }
    if (c.updateFlags & kUpdateFrequency) {
        v.frequency = Frequency(c, m);
        SetStep(v, v.frequency, player.mixingRate);
    }
}
