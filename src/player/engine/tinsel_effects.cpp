// Tinsel rules: the effect column and the volume column, on a row start and
// on the later ticks of a row, and the auto-vibrato.
#include <array>
#include <cmath>

#include "player/engine/engine.h"
#include "player/format/module.h"
#include "player/engine/periods.h"

namespace {

// The sine waves at every position the effects reach, each entry computed
// once by the very expression it replaces: the same values, without a call
// to sin on every tick of every channel.
int VibratoSine(int pos) {
    // 0.049087375 sits a little below pi/64, so position 16 gives 255.
    const auto at = [](int p) { return static_cast<int>(std::fabs(std::sin(p * 2 * 0.049087375) * 256)); };
    static const std::array<int16_t, 64> table = [&] {
        std::array<int16_t, 64> t{};
        for (int p = -32; p < 32; ++p) {
            t[static_cast<size_t>(p + 32)] = static_cast<int16_t>(at(p));
        }
        return t;
    }();
    return pos >= -32 && pos < 32 ? table[static_cast<size_t>(pos + 32)] : at(pos);
}

int AutoVibratoSine(int pos) {
    const auto at = [](int p) {
        return static_cast<int>(std::sin(p * static_cast<double>(0.024543688f)) * 64);
    };
    static const std::array<int8_t, 256> table = [&] {
        std::array<int8_t, 256> t{};
        for (int p = 0; p < 256; ++p) {
            t[static_cast<size_t>(p)] = static_cast<int8_t>(at(p));
        }
        return t;
    }();
    return pos >= 0 && pos < 256 ? table[static_cast<size_t>(pos)] : at(pos);
}

void SlidePanning(Channel& c, int amount) {
    c.panning += amount;
    c.updateFlags |= kUpdatePanning;
}

// A period far beyond any note's is inaudible anyway; the bound keeps an
// endless slide from overflowing.
constexpr int32_t kMaxPeriod = 1 << 24;

void TonePortamentoStep(Channel& c) {
    if (c.basePeriod < c.portaTarget) {
        c.basePeriod += c.portaSpeed;
        if (c.basePeriod > c.portaTarget) {
            c.basePeriod = c.portaTarget;
        }
    } else if (c.basePeriod > c.portaTarget) {
        c.basePeriod -= c.portaSpeed;
        if (c.basePeriod < c.portaTarget) {
            c.basePeriod = c.portaTarget;
        }
    }
    c.updateFlags |= kUpdateFrequency;
}

// Sine only: tinsel rules have no E4x to choose another waveform.
void ApplyVibrato(Channel& c) {
    const int pos = static_cast<int8_t>(c.vibratoPos);
    const int d = ((VibratoSine(pos) * c.vibratoDepth) >> 5) & ~3;
    c.periodDelta = pos >= 0 ? -d : d;
    c.updateFlags |= kUpdateFrequency;
}

void AdvanceVibrato(Channel& c) {
    int pos = static_cast<int8_t>(static_cast<uint8_t>(c.vibratoPos + c.vibratoSpeed));
    if (pos > 31) {
        pos -= 64;
    }
    c.vibratoPos = static_cast<uint8_t>(pos);
}

} // namespace

void TinselAutoVibrato(Context&, Channel& c) {
    const Instrument& ins = *c.instrument;
    const int p = c.autoVibratoPos;
    int value;
    switch (ins.vibratoType) {
    case 0:
        value = AutoVibratoSine(p);
        break;
    case 1:
        value = p < 128 ? 64 : -64;
        break;
    case 2:
        value = (128 - ((p + 128) % 256)) >> 1;
        break;
    case 3:
        value = (128 - ((384 - p) % 256)) >> 1;
        break;
    default: // outside the format: no vibrato
        value = 0;
        break;
    }
    value *= ins.vibratoDepth;
    if (ins.vibratoSweep != 0) {
        value = value * c.autoVibratoSweep / ins.vibratoSweep;
    }
    c.periodDelta += value >> 6;
    if (c.autoVibratoSweep < ins.vibratoSweep) {
        c.autoVibratoSweep += 1;
    }
    c.autoVibratoPos += ins.vibratoRate;
    if (c.autoVibratoPos > 255) {
        c.autoVibratoPos -= 256;
    }
    c.updateFlags |= kUpdateFrequency;
}

namespace {
// The volume column's slides, alike on a row start and on later ticks;
// false for any other command.
bool ColumnSlide(Channel& c, int command, int y) {
    switch (command) {
    case kVolumeSlideDown:
        LowerVolume(c, y);
        return true;
    case kVolumeSlideUp:
        RaiseVolume(c, y);
        return true;
    case kPanningSlideLeft:
        SlidePanning(c, -y);
        return true;
    case kPanningSlideRight:
        SlidePanning(c, y);
        return true;
    default:
        return false;
    }
}
} // namespace

void TinselVolumeColumnRowStart(Channel& c) {
    const uint8_t vol = c.volumeByte;
    const int y = vol & 0x0F;
    if (vol >= kVolumeByteSet && vol <= kVolumeByteSetMax) {
        c.baseVolume = vol - kVolumeByteSet;
        c.updateFlags |= kUpdateVolume;
        return;
    }
    // On a row start the fine slides 8y and 9y are the slides 6y and 7y.
    const int command = vol >> 4;
    const int slide = command == kFineVolumeDown ? kVolumeSlideDown
                      : command == kFineVolumeUp ? kVolumeSlideUp
                                                 : command;
    if (ColumnSlide(c, slide, y)) {
        return;
    }
    switch (command) {
    case kVibratoSpeed:
        c.vibratoSpeed = static_cast<uint8_t>(y);
        break;
    case kVibratoDepth:
        c.vibratoDepth = static_cast<uint8_t>(y);
        break;
    case kVolumeSetPanning:
        c.panning = y * 16;
        c.updateFlags |= kUpdatePanning;
        break;
    case kVolumeTonePorta:
        if (y != 0) {
            c.portaSpeed = y * 64;
        }
        c.portaTarget = c.notePeriod;
        c.updateFlags &= static_cast<uint8_t>(~kUpdateNoteStart);
        break;
    default:
        break;
    }
}

// The first piece of a later tick: it starts from the note's own pitch.
void TinselVolumeColumn(Context&, Channel& c) {
    c.periodDelta = 0;
    const int y = c.volumeByte & 0x0F;
    const int command = c.volumeByte >> 4;
    if (ColumnSlide(c, command, y)) {
        return;
    }
    switch (command) {
    case kVibratoDepth:
        c.vibratoDepth = static_cast<uint8_t>(y);
        ApplyVibrato(c);
        AdvanceVibrato(c);
        break;
    case kVolumeTonePorta:
        TonePortamentoStep(c);
        break;
    default:
        break;
    }
}

void TinselRowEffect(Context& ctx, Channel& c) {
    const uint8_t param = c.parameter;
    const int x = param >> 4;
    const int y = param & 0x0F;
    switch (c.effect) {
    case kPortaDown:
        Remembered(c.portaDownMemory, param);
        break;
    case kTonePorta:
        if (param != 0) {
            c.portaSpeed = param * 4;
        }
        c.portaTarget = c.notePeriod;
        c.updateFlags &= static_cast<uint8_t>(~(kUpdateNoteStart | kUpdateFrequency));
        break;
    case kVibrato:
        Remembered(c.vibratoSpeed, static_cast<uint8_t>(x));
        Remembered(c.vibratoDepth, static_cast<uint8_t>(y));
        ApplyVibrato(c);
        break;
    case kVibratoVolumeSlide:
        Remembered(c.volumeSlideMemory, param);
        ApplyVibrato(c);
        break;
    case kVolumeSlide:
        Remembered(c.volumeSlideMemory, param);
        break;
    case kSetVolume:
        c.baseVolume = param;
        c.updateFlags |= kUpdateVolume;
        break;
    case kExtended:
        if (x == kFineVolumeSlideUp) {
            FineVolumeUp(c, y);
        }
        break;
    case kSetSpeedOrTempo:
        if (param < kFirstTempo) {
            ctx.song.speed = param;
        } else {
            SetBpm(ctx, param);
        }
        break;
    default: // 0 sounds the base note; 5 only holds the note back; K acts in the row start
        break;
    }
}

void TinselEffects(Context& x, Channel& c) {
    const SongState& s = x.song;
    const uint8_t param = c.parameter;
    switch (c.effect) {
    case kArpeggio:
        if (param != 0) {
            const int r = s.tick % 3;
            const int semitones = r == 1 ? param >> 4 : (r == 2 ? param & 0x0F : 0);
            if (x.song.linear) {
                if (r != 0) {
                    c.periodDelta = semitones * 64;
                }
            } else if (semitones != 0) {
                // Amiga periods are not equal steps: the note comes from the table.
                c.periodDelta =
                    c.basePeriod - periods::SnapToSemitone(false, c.basePeriod, c.finetune, semitones);
            }
            c.updateFlags |= kUpdateFrequency;
        }
        break;
    case kPortaDown:
        if (x.song.linear) {
            c.basePeriod += c.portaDownMemory * 4;
            if (c.basePeriod > kMaxPeriod) {
                c.basePeriod = kMaxPeriod;
            }
        } else {
            SlidePeriodDown(c, c.portaDownMemory * 4);
        }
        c.periodDelta = 0;
        c.updateFlags |= kUpdateFrequency;
        break;
    case kTonePorta:
        c.periodDelta = 0;
        TonePortamentoStep(c);
        break;
    case kVibrato:
        ApplyVibrato(c);
        AdvanceVibrato(c);
        break;
    case kVibratoVolumeSlide:
        ApplyVibrato(c);
        AdvanceVibrato(c);
        VolumeSlide(c, c.volumeSlideMemory);
        break;
    case kVolumeSlide:
        VolumeSlide(c, c.volumeSlideMemory);
        break;
    case kExtended:
        if ((param >> 4) == kRetrigNote) {
            const int y = param & 0x0F;
            if (y != 0 && s.tick % y == 0) {
                c.updateFlags |= kUpdateNoteStart | kUpdateFrequency | kUpdateVolume;
            }
        }
        break;
    default:
        break;
    }
}
