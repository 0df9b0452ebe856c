// FT2 rules: the row start's decision tree, note starts, key-off and the
// instrument's restore and reset.
#include "player/engine/engine.h"
#include "player/engine/periods.h"

namespace {

constexpr int kSampleSlots = 16;
constexpr int kNoteCount = 96;

uint8_t CellNote(uint8_t stored) {
    if (stored == kKeyOff) {
        return kKeyOffNote;
    }
    // Notes outside the format are taken as empty.
    return stored <= kNoteCount ? stored : 0;
}

// Tone portamento's target from the playing sample's relative note and the
// channel's finetune; the note does not start.
void PortaTarget(const Context& x, Channel& c, uint8_t note) {
    const int k = periods::TableIndex(note + c.relativeNote, c.finetune);
    if (k >= 0 && k < periods::kTableSize) {
        c.portaTarget = periods::Period(x.song.linear, k);
        c.portaDirection = c.portaTarget == c.basePeriod  ? kPortaNone
                           : c.portaTarget > c.basePeriod ? kPortaPeriodRising
                                                          : kPortaPeriodFalling;
    }
}

// The decision tree's note and instrument part: tone portamento (3xx, 5xy,
// volume-column Fy) holds the note, K00 keys off and ignores it, E90 restarts
// the last note; an instrument number restores the playing sample's volume and
// panning and, but with a key-off, restarts the playing instrument.
void NoteAndInstrument(Context& x, Channel& c, uint8_t note, uint8_t instrument) {
    const uint8_t fx = c.effect, param = c.parameter, vol = c.volumeByte;
    const bool retrigNow = fx == kExtended && param == Ext(kRetrigNote, 0);
    const bool columnPorta = (vol >> 4) == kVolumeTonePorta;
    if (!retrigNow && (columnPorta || fx == kTonePorta || fx == kTonePortaVolumeSlide)) {
        if (columnPorta) {
            if ((vol & 0x0F) != 0) {
                c.portaSpeed = (vol & 0x0F) * 64;
            }
        } else if (fx == kTonePorta && param != 0) {
            c.portaSpeed = param * 4;
        }
        if (note == kKeyOffNote) {
            KeyOff(c);
        } else if (note != 0) {
            PortaTarget(x, c, note);
        }
    } else if (!retrigNow && fx == kKeyOffAt && param == 0) {
        KeyOff(c);
        if (instrument != 0) {
            RestoreVolume(c);
        }
        return;
    } else if (note == kKeyOffNote) {
        KeyOff(c);
    } else if (note != 0 || retrigNow) {
        StartNote(x, c, note, fx, param);
    }
    if (instrument != 0) {
        RestoreVolume(c);
        if (note != kKeyOffNote) {
            ResetInstrument(c);
        }
    }
}

} // namespace

void Ft2RowStart(Context& x, Channel& c, const uint8_t* cell) {
    const uint8_t note = CellNote(cell[0]);
    const uint8_t instrument = cell[1] <= 128 ? cell[1] : 0;
    const uint8_t fx = cell[3];
    const uint8_t param = cell[4];

    c.volumeByte = cell[2];
    // The transient pitch of an arpeggio, or of a vibrato that ends here, is undone.
    if (c.lastEffect == kArpeggio && c.lastParameter != 0) {
        c.outPeriod = c.basePeriod;
    } else if ((c.lastEffect == kVibrato || c.lastEffect == kVibratoVolumeSlide) && fx != kVibrato &&
               fx != kVibratoVolumeSlide) {
        c.outPeriod = c.basePeriod;
    }
    c.effect = c.lastEffect = fx;
    c.parameter = c.lastParameter = param;
    c.cellNote = note;
    c.cellInstrument = instrument;
    if (instrument != 0) {
        c.instrumentNumber = instrument;
    }
    if (fx == kExtended && (param >> 4) == kNoteDelay && (param & 15) != 0) {
        return; // note delay: nothing more on tick 0, not even the volume column
    }
    NoteAndInstrument(x, c, note, instrument);
    EffectTickZero(x, c, VolumeColumnTickZero(c));
}

void SetSpeedOrTempo(Context& x, uint8_t parameter) {
    if (parameter >= kFirstTempo) {
        SetBpm(x, parameter);
        return;
    }
    // The row being played now lasts the new number of ticks; F00 stalls it
    // (the 16-bit timer wraps), as in the original tracker.
    x.song.speed = parameter;
    x.song.timer = parameter;
}

void KeyOff(Channel& c) {
    c.keyOff = true;
    const Instrument* ins = c.instrument;
    if (ins != nullptr && (ins->volumeType & 1)) {
        const int p = c.volEnvPoint < ins->volumePointCount ? c.volEnvPoint : 0;
        if (c.volEnvTick >= ins->volumeEnvelope[p].x) {
            c.volEnvTick = ins->volumeEnvelope[p].x - 1;
        }
    } else {
        c.baseVolume = c.outVolume = 0;
        c.updateFlags |= kUpdateVolume | kUpdateQuick;
    }
    // The original tracker rewinds the panning envelope only when it is off, so
    // an enabled one held at its sustain point stays held.
    if (ins != nullptr && !(ins->panningType & 1)) {
        const int p = c.panEnvPoint < 12 ? c.panEnvPoint : 0;
        if (c.panEnvTick >= ins->panningEnvelope[p].x) {
            c.panEnvTick = ins->panningEnvelope[p].x - 1;
        }
    }
}

void RestoreVolume(Channel& c) {
    c.baseVolume = c.outVolume = c.sampleVolume;
    c.panning = c.samplePanning;
    c.updateFlags |= kUpdateVolume | kUpdatePanning | kUpdateQuick;
}

void ResetInstrument(Channel& c) {
    if ((c.waveControl & 0x04) == 0) {
        c.vibratoPos = 0;
    }
    if ((c.waveControl & 0x40) == 0) {
        c.tremoloPos = 0;
    }
    c.retrigCounter = 0;
    c.tremorState = 0;
    c.keyOff = false;
    const Instrument* ins = c.instrument;
    if (ins == nullptr) {
        c.fadeoutSpeed = 0;
        c.fadeoutLevel = 65536;
        return;
    }
    if (ins->volumeType & 1) {
        c.volEnvTick = -1;
        c.volEnvPoint = 0;
    }
    if (ins->panningType & 1) {
        c.panEnvTick = -1;
        c.panEnvPoint = 0;
    }
    c.fadeoutSpeed = ins->fadeout;
    c.fadeoutLevel = 65536;
    if (ins->vibratoDepth > 0) {
        c.autoVibratoPos = 0;
        if (ins->vibratoSweep > 0) {
            c.autoVibratoAmplitude = 0;
            c.autoVibratoSweep = ins->vibratoDepth * 256 / ins->vibratoSweep;
        } else {
            c.autoVibratoAmplitude = ins->vibratoDepth * 256;
            c.autoVibratoSweep = 0;
        }
    }
}

void StartNote(Context& x, Channel& c, uint8_t note, uint8_t effect, uint8_t parameter) {
    if (note == kKeyOffNote) {
        KeyOff(c);
        return;
    }
    if (note == 0) {
        note = c.note;
        if (note == 0) {
            return;
        }
    }
    c.note = note;
    const Module& m = x.module;
    const Instrument* ins = nullptr;
    if (c.instrumentNumber != 0 && c.instrumentNumber <= m.instrumentCount && m.instruments != nullptr &&
        m.instruments[c.instrumentNumber - 1].sampleCount > 0) {
        ins = &m.instruments[c.instrumentNumber - 1];
    }
    const Sample* sample = nullptr;
    int slot = -1;
    if (ins != nullptr) {
        slot = ins->sampleMap[note - 1] & 15;
        sample = slot < kSampleSlots ? ins->samples[slot] : nullptr;
    }
    c.instrument = ins;
    c.sample = sample;
    c.sampleSlot = static_cast<int8_t>(sample != nullptr && slot < ins->sampleCount ? slot : -1);
    c.relativeNote = sample != nullptr ? sample->relativeNote : 0;
    const int real = note + c.relativeNote;
    // Out of range: nothing starts and nothing is flagged, so the mixer
    // keeps the volume and panning it had.
    if (real >= 120 || real < 0) {
        return;
    }
    c.sampleVolume = sample != nullptr ? sample->volume : 0;
    c.samplePanning = sample != nullptr ? static_cast<int32_t>(sample->panning) : 128;
    if (c.sampleVolume > kMaxVolume) {
        c.sampleVolume = kMaxVolume;
    }
    const bool setFinetune = effect == kExtended && (parameter >> 4) == kSetFinetune;
    c.finetune = setFinetune         ? static_cast<int16_t>((parameter & 15) * 16 - 128)
                 : sample != nullptr ? sample->finetune
                                     : 0;
    if (real != 0) {
        c.basePeriod = c.outPeriod = periods::Period(x.song.linear, periods::TableIndex(real, c.finetune));
    }
    c.updateFlags |= kUpdateNoteStart | kUpdateVolume | kUpdatePanning | kUpdateQuick;
    c.startOffset = 0;
    if (effect == kSampleOffset) {
        c.startOffset = static_cast<uint32_t>(Remembered(c.offsetMemory, parameter)) * 256;
    }
    // The mixer hears of each start at once: two in one tick (a note and
    // its retrig) hand the voices over twice.
    Ft2Trigger(x.state.ft2, ChannelIndex(x, c), c.sample, c.startOffset);
}

int32_t Ft2TickFrames(int32_t rate, int32_t bpm) {
    const int32_t frames = static_cast<int32_t>((int64_t{2} * rate + rate / 2) / bpm);
    return frames < 1 ? 1 : frames;
}
