// FT2 rules: the effect column and the volume column, on tick 0 and on the
// later ticks, with the original tracker's memories and waveforms.
#include <algorithm>
#include <cstdlib>

#include "player/engine/engine.h"
#include "player/format/module.h"
#include "player/engine/periods.h"

namespace {

constexpr uint8_t kSine[32] = {0,   24,  49,  74,  97,  120, 141, 161, 180, 197, 212, 224, 235, 244, 250, 253,
                               255, 253, 250, 244, 235, 224, 212, 197, 180, 161, 141, 120, 97,  74,  49,  24};

// A set event: Cxx, the volume column's set volume, ECx.
void SetVolume(Channel& c, int v) {
    c.baseVolume = c.outVolume = std::clamp(v, 0, kMaxVolume);
    c.updateFlags |= kUpdateVolume | kUpdateQuick;
}

// The volume a retrig or delayed note sets: no flag of its own, so the mixer
// hears it only when something else flags the channel's volume.
void SetVolumeUnflagged(Channel& c, int v) {
    c.baseVolume = c.outVolume = std::clamp(v, 0, kMaxVolume);
}

int Waveform(int control, uint8_t pos, uint8_t rampPos) {
    const int i = (pos >> 2) & 31;
    switch (control & 3) {
    case 0:
        return kSine[i];
    case 1:
        return rampPos >= 128 ? 255 - i * 8 : i * 8;
    default:
        return 255;
    }
}

void VibratoStep(Channel& c) {
    const int a = (Waveform(c.waveControl, c.vibratoPos, c.vibratoPos) * c.vibratoDepth) >> 5;
    c.outPeriod = c.vibratoPos < 128 ? c.basePeriod + a : c.basePeriod - a;
    c.vibratoPos = static_cast<uint8_t>(c.vibratoPos + c.vibratoSpeed);
}

void TremoloStep(Channel& c) {
    // The ramp inverts on the vibrato's position, not the tremolo's: the original's slip.
    const int a = (Waveform(c.waveControl >> 4, c.tremoloPos, c.vibratoPos) * c.tremoloDepth) >> 6;
    c.outVolume = std::clamp(c.tremoloPos < 128 ? c.baseVolume + a : c.baseVolume - a, 0, kMaxVolume);
    c.updateFlags |= kUpdateVolume;
    c.tremoloPos = static_cast<uint8_t>(c.tremoloPos + c.tremoloSpeed);
}

void Arpeggio(const Context& x, Channel& c) {
    const int countdown = x.song.timer;
    int which;
    if (countdown <= 15) {
        which = countdown % 3;
    } else {
        which = countdown == 16 ? 0 : 2; // the original reads past its table here
    }
    // The base ticks keep the period as it is, on the semitone grid or not.
    if (which == 0) {
        c.outPeriod = c.basePeriod;
        return;
    }
    const int offset = which == 1 ? c.parameter >> 4 : c.parameter & 15;
    c.outPeriod = periods::SnapToSemitone(x.song.linear, c.basePeriod, c.finetune, offset);
}

// A retrig or delayed note takes the cell's volume-column volume or panning
// again, unflagged.
void VolumeByteAgain(Channel& c) {
    if (c.volumeByte >= kVolumeByteSet && c.volumeByte <= kVolumeByteSetMax) {
        SetVolumeUnflagged(c, c.volumeByte - kVolumeByteSet);
    } else if ((c.volumeByte >> 4) == kVolumeSetPanning) {
        c.panning = (c.volumeByte & 15) * 16;
    }
}

void Retrig(Context& x, Channel& c) {
    const int m = c.retrigVolumeMemory;
    int v = c.baseVolume;
    if (m >= 1 && m <= 5) {
        v -= 1 << (m - 1);
    } else if (m >= 9 && m <= 13) {
        v += 1 << (m - 9);
    } else if (m == 6) {
        v = (v >> 1) + (v >> 3) + (v >> 4);
    } else if (m == 7) {
        v >>= 1;
    } else if (m == 14) {
        v += v >> 1;
    } else if (m == 15) {
        v *= 2;
    }
    SetVolumeUnflagged(c, v);
    VolumeByteAgain(c);
    StartNote(x, c, 0, 0, 0);
}

void RetrigCount(Context& x, Channel& c) {
    const int k = c.retrigCounter + 1;
    if (k < c.retrigIntervalMemory) {
        c.retrigCounter = static_cast<uint8_t>(k);
        return;
    }
    c.retrigCounter = 0;
    Retrig(x, c);
}

void Tremor(Channel& c) {
    Remembered(c.tremorMemory, c.parameter);
    bool on = (c.tremorState & 0x80) != 0;
    int count = (c.tremorState & 0x7F) - 1;
    if (count < 0) {
        on = !on;
        count = on ? c.tremorMemory >> 4 : c.tremorMemory & 15;
    }
    c.tremorState = static_cast<uint8_t>((on ? 0x80 : 0) | count);
    c.outVolume = on ? c.baseVolume : 0;
    c.updateFlags |= kUpdateVolume | kUpdateQuick;
}

void PatternLoop(Context& x, Channel& c, int count) {
    SongState& s = x.song;
    if (count == 0) {
        c.loopRow = static_cast<uint8_t>(x.song.row);
        return;
    }
    if (c.loopCounter == 0) {
        c.loopCounter = static_cast<uint8_t>(count);
    } else if (--c.loopCounter == 0) {
        return;
    }
    s.breakRow = c.loopRow;
    s.loopFlag = true;
}

void ExtendedTickZero(Context& x, Channel& c) {
    const int y = c.parameter & 15;
    switch (c.parameter >> 4) {
    case kFinePortaUp:
        SlidePeriodUp(c, Remembered(c.finePortaUpMemory, static_cast<uint8_t>(y)) * 4);
        break;
    case kFinePortaDown:
        SlidePeriodDown(c, Remembered(c.finePortaDownMemory, static_cast<uint8_t>(y)) * 4);
        break;
    case kGlissandoControl:
        c.glissando = y != 0;
        break;
    case kVibratoControl:
        c.waveControl = static_cast<uint8_t>((c.waveControl & 0xF0) | y);
        break;
    case kPatternLoop:
        PatternLoop(x, c, y);
        break;
    case kTremoloControl:
        c.waveControl = static_cast<uint8_t>((c.waveControl & 0x0F) | (y << 4));
        break;
    case kFineVolumeSlideUp:
        FineVolumeUp(c, y);
        break;
    case kFineVolumeSlideDown:
        LowerVolume(c, Remembered(c.fineVolumeDownMemory, static_cast<uint8_t>(y)));
        break;
    case kNoteCut:
        if (y == 0) {
            SetVolume(c, 0);
        }
        break;
    case kPatternDelay:
        if (x.song.delayRepeats == 0) {
            x.song.delayRequest = y + 1;
        }
        break;
    default: // E0 filter, E5 (in the note start), E8, E9 (later ticks), ED (row start), EF
        break;
    }
}

void ExtendedLaterTick(Context& x, Channel& c) {
    const int y = c.parameter & 15;
    const int t = TickInRow(x);
    switch (c.parameter >> 4) {
    case kRetrigNote:
        if (y != 0 && t % y == 0) {
            StartNote(x, c, 0, 0, 0);
            ResetInstrument(c);
        }
        break;
    case kNoteCut:
        if (t == y) {
            SetVolume(c, 0);
        }
        break;
    case kNoteDelay:
        if (t == y) {
            StartNote(x, c, c.cellNote, 0, 0);
            if (c.cellInstrument != 0) {
                RestoreVolume(c);
            }
            ResetInstrument(c);
            VolumeByteAgain(c);
        }
        break;
    default:
        break;
    }
}

} // namespace

void SlidePeriodUp(Channel& c, int amount) {
    int v = static_cast<int16_t>(static_cast<uint16_t>(c.basePeriod - amount));
    if (v < periods::kMinSlidePeriod) {
        v = periods::kMinSlidePeriod;
    }
    c.basePeriod = c.outPeriod = static_cast<uint16_t>(v);
}

void SlidePeriodDown(Channel& c, int amount) {
    uint16_t v = static_cast<uint16_t>(c.basePeriod + amount);
    if (static_cast<int16_t>(v) >= 32000) {
        v = periods::kMaxSlidePeriod;
    }
    c.basePeriod = c.outPeriod = v;
}

void TonePortaStep(const Context& x, Channel& c) {
    if (c.portaDirection == kPortaNone) {
        return;
    }
    if (c.portaDirection == kPortaPeriodFalling) {
        c.basePeriod -= c.portaSpeed;
        if (c.basePeriod <= c.portaTarget) {
            c.basePeriod = c.portaTarget;
            c.portaDirection = kPortaPeriodRising;
        }
    } else {
        c.basePeriod += c.portaSpeed;
        if (c.basePeriod >= c.portaTarget) {
            c.basePeriod = c.portaTarget;
        }
    }
    c.outPeriod =
        c.glissando ? periods::SnapToSemitone(x.song.linear, c.basePeriod, c.finetune, 0) : c.basePeriod;
}

uint8_t VolumeColumnTickZero(Channel& c) {
    const uint8_t v = c.volumeByte;
    const int y = v & 15;
    if (v >= kVolumeByteSet && v <= 0x5F) {
        SetVolume(c, v - kVolumeByteSet); // 0x51..0x5F clamp to 64, as in the original
        return static_cast<uint8_t>(c.baseVolume);
    }
    switch (v >> 4) {
    case kFineVolumeDown:
        LowerVolume(c, y);
        return static_cast<uint8_t>(c.baseVolume);
    case kFineVolumeUp:
        RaiseVolume(c, y);
        return static_cast<uint8_t>(c.baseVolume);
    case kVibratoSpeed:
        Remembered(c.vibratoSpeed, static_cast<uint8_t>(y * 4));
        return static_cast<uint8_t>(y * 4);
    case kVolumeSetPanning:
        c.panning = y * 16;
        c.updateFlags |= kUpdatePanning;
        return static_cast<uint8_t>(y * 16);
    default:
        return v;
    }
}

void Ft2VolumeColumn(Context& x, Channel& c) {
    const uint8_t v = c.volumeByte;
    const int y = v & 15;
    switch (v >> 4) {
    case kVolumeSlideDown:
        LowerVolume(c, y);
        break;
    case kVolumeSlideUp:
        RaiseVolume(c, y);
        break;
    case kVibratoDepth:
        Remembered(c.vibratoDepth, static_cast<uint8_t>(y));
        VibratoStep(c);
        break;
    case kPanningSlideLeft: {
        // Slid in 8 bits: a result that wraps (D0 included) lands on 0.
        const int moved = c.panning + static_cast<uint8_t>(-y);
        c.panning = moved < 256 ? 0 : moved - 256;
        c.updateFlags |= kUpdatePanning;
        break;
    }
    case kPanningSlideRight:
        c.panning = std::clamp(c.panning + y, 0, 255);
        c.updateFlags |= kUpdatePanning;
        break;
    case kVolumeTonePorta:
        TonePortaStep(x, c);
        break;
    default:
        break;
    }
}

void EffectTickZero(Context& x, Channel& c, uint8_t vcopy) {
    const uint8_t p = c.parameter;
    if (c.effect == kArpeggio && p == 0) {
        return;
    }
    SongState& s = x.song;
    switch (c.effect) {
    case kSetPanning:
        c.panning = p;
        c.updateFlags |= kUpdatePanning;
        break;
    case kPositionJump:
        s.jumpOrder = p;
        s.breakRow = 0;
        s.jumpFlag = true;
        break;
    case kSetVolume:
        SetVolume(c, p);
        break;
    case kPatternBreak:
        s.breakRow = (p >> 4) * 10 + (p & 15);
        if (s.breakRow > 63) {
            s.breakRow = 0;
        }
        s.jumpFlag = true;
        break;
    case kExtended:
        ExtendedTickZero(x, c);
        break;
    case kSetSpeedOrTempo:
        SetSpeedOrTempo(x, p);
        break;
    case kSetGlobalVolume:
        s.globalVolume = p < kMaxVolume ? p : kMaxVolume;
        s.globalVolumeSet = true;
        break;
    case kSetEnvelopePosition:
        SetEnvelopePosition(c, p);
        break;
    case kMultiRetrig:
        Remembered(c.retrigVolumeMemory, static_cast<uint8_t>(p >> 4));
        Remembered(c.retrigIntervalMemory, static_cast<uint8_t>(p & 15));
        if (vcopy == 0) {
            RetrigCount(x, c);
        }
        break;
    case kExtraFinePorta:
        if ((p >> 4) == kExtraFineUp) {
            SlidePeriodUp(c, Remembered(c.extraFineUpMemory, static_cast<uint8_t>(p & 15)));
        } else if ((p >> 4) == kExtraFineDown) {
            SlidePeriodDown(c, Remembered(c.extraFineDownMemory, static_cast<uint8_t>(p & 15)));
        }
        break;
    default:
        break;
    }
}

void Ft2Effects(Context& x, Channel& c) {
    const uint8_t p = c.parameter;
    if (c.effect == kArpeggio && p == 0) {
        return;
    }
    switch (c.effect) {
    case kArpeggio:
        Arpeggio(x, c);
        break;
    case kPortaUp:
        SlidePeriodUp(c, Remembered(c.portaUpMemory, p) * 4);
        break;
    case kPortaDown:
        SlidePeriodDown(c, Remembered(c.portaDownMemory, p) * 4);
        break;
    case kTonePorta:
        TonePortaStep(x, c);
        break;
    case kVibrato:
        Remembered(c.vibratoSpeed, static_cast<uint8_t>((p >> 4) * 4));
        Remembered(c.vibratoDepth, static_cast<uint8_t>(p & 15));
        VibratoStep(c);
        break;
    case kTonePortaVolumeSlide:
        TonePortaStep(x, c);
        VolumeSlide(c, Remembered(c.volumeSlideMemory, p));
        break;
    case kVibratoVolumeSlide:
        VibratoStep(c);
        VolumeSlide(c, Remembered(c.volumeSlideMemory, p));
        break;
    case kTremolo:
        Remembered(c.tremoloSpeed, static_cast<uint8_t>((p >> 4) * 4));
        Remembered(c.tremoloDepth, static_cast<uint8_t>(p & 15));
        TremoloStep(c);
        break;
    case kVolumeSlide:
        VolumeSlide(c, Remembered(c.volumeSlideMemory, p));
        break;
    case kExtended:
        ExtendedLaterTick(x, c);
        break;
    case kGlobalVolumeSlide: {
        const int up = Remembered(c.globalSlideMemory, p) >> 4;
        int& g = x.song.globalVolume;
        g = std::clamp(up != 0 ? g + up : g - (c.globalSlideMemory & 15), 0, kMaxVolume);
        x.song.globalVolumeSet = true;
        break;
    }
    case kKeyOffAt:
        if (TickInRow(x) == (p & 31)) {
            KeyOff(c);
        }
        break;
    case kPanningSlide: {
        const int up = Remembered(c.panningSlideMemory, p) >> 4;
        c.panning = std::clamp(up != 0 ? c.panning + up : c.panning - (c.panningSlideMemory & 15), 0, 255);
        c.updateFlags |= kUpdatePanning;
        break;
    }
    case kMultiRetrig:
        RetrigCount(x, c);
        break;
    case kTremor:
        Tremor(c);
        break;
    default:
        break;
    }
}
