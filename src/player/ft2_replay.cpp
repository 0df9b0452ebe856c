// FT2 rules, song clock and row start. The clock counts down: a row starts when
// the timer runs out, and the position moves on at the end of the row's last tick.
#include "player/ft2_replay.h"

#include "player/ft2_internal.h"
#include "player/mixer.h"
#include "player/periods.h"

namespace ft2 {
namespace {

constexpr int kSampleSlots = 16;
constexpr int kNoteCount = 96;
constexpr int kDefaultRows = 64;
constexpr int kMaxRows = 256;

int ChannelCount(const Module& m) {
    return m.channelCount < 0 ? 0 : (m.channelCount < kMaxChannels ? m.channelCount : kMaxChannels);
}

// The original tracker loads a pattern of only empty cells as 64 rows, whatever its header says.
int32_t StoredPatternRows(const Module& m, int number) {
    if (m.patterns == nullptr || number >= m.patternSlots) {
        return kDefaultRows;
    }
    const Pattern& p = m.patterns[number];
    if (p.rows <= 0 || p.cells == nullptr) {
        return kDefaultRows;
    }
    const int64_t bytes = static_cast<int64_t>(p.rows) * ChannelCount(m) * kCellSize;
    bool empty = true;
    for (int64_t i = 0; i < bytes && empty; ++i) {
        empty = p.cells[i] == 0;
    }
    if (empty) {
        return kDefaultRows;
    }
    return p.rows < kMaxRows ? p.rows : kMaxRows;
}

int CurrentPatternNumber(const Module& m) {
    return m.orderTable[m.orderIndex & 255];
}

// Cells beyond the stored rows (an empty pattern played as 64 rows) are empty.
const uint8_t* CellAt(const Module& m, int row, int channel) {
    static const uint8_t kEmpty[kCellSize] = {};
    const int number = CurrentPatternNumber(m);
    if (m.patterns == nullptr || number >= m.patternSlots) {
        return kEmpty;
    }
    const Pattern& p = m.patterns[number];
    if (p.cells == nullptr || row < 0 || row >= p.rows || channel >= m.channelCount) {
        return kEmpty;
    }
    return p.cells + (static_cast<int64_t>(row) * m.channelCount + channel) * kCellSize;
}

uint8_t CellNote(uint8_t stored) {
    if (stored == kKeyOff) {
        return kKeyOffNote;
    }
    // Notes outside the format are taken as empty.
    return stored <= kNoteCount ? stored : 0;
}

void PortaPrepare(Context& x, Channel& c, uint8_t note, uint8_t instrument) {
    if (note == kKeyOffNote) {
        KeyOff(c);
    } else if (note != 0) {
        // Target from the playing sample's relative note and the channel's finetune.
        const int k = periods::TableIndex(note + c.relativeNote, c.finetune);
        if (k >= 0 && k < periods::kTableSize) {
            c.portaTarget = periods::Period(x.state.song.linear, k);
            c.portaDirection = c.portaTarget == c.basePeriod  ? kPortaNone
                               : c.portaTarget > c.basePeriod ? kPortaPeriodRising
                                                              : kPortaPeriodFalling;
        }
    }
    if (instrument != 0) {
        RestoreVolume(c);
        if (note != kKeyOffNote) {
            ResetInstrument(c);
        }
    }
}

void RowStart(Context& x, Channel& c, const uint8_t* cell) {
    const uint8_t note = CellNote(cell[0]);
    const uint8_t instrument = cell[1] <= 128 ? cell[1] : 0;
    const uint8_t vol = cell[2];
    const uint8_t fx = cell[3];
    const uint8_t param = cell[4];

    c.volumeByte = vol;
    // The transient pitch of an arpeggio, or of a vibrato that ends here, is undone.
    if (c.lastEffect == 0 && c.lastParameter != 0) {
        c.outPeriod = c.basePeriod;
    } else if ((c.lastEffect == 4 || c.lastEffect == 6) && fx != 4 && fx != 6) {
        c.outPeriod = c.basePeriod;
    }
    c.effect = c.lastEffect = fx;
    c.parameter = c.lastParameter = param;
    c.cellNote = note;
    c.cellInstrument = instrument;
    if (instrument != 0) {
        c.instrumentNumber = instrument;
    }
    if (fx == 0xE && param >= 0xD1 && param <= 0xDF) {
        return; // note delay: nothing more on tick 0, not even the volume column
    }
    const bool retrigNow = fx == 0xE && param == 0x90;
    if (!retrigNow) {
        if (vol >= 0xF0) {
            if ((vol & 0x0F) != 0) {
                c.portaSpeed = (vol & 0x0F) * 64;
            }
            PortaPrepare(x, c, note, instrument);
            EffectTickZero(x, c, VolumeColumnTickZero(c));
            return;
        }
        if (fx == 3 || fx == 5) {
            if (fx == 3 && param != 0) {
                c.portaSpeed = param * 4;
            }
            PortaPrepare(x, c, note, instrument);
            EffectTickZero(x, c, VolumeColumnTickZero(c));
            return;
        }
        if (fx == 0x14 && param == 0) {
            KeyOff(c);
            if (instrument != 0) {
                RestoreVolume(c);
            }
            EffectTickZero(x, c, VolumeColumnTickZero(c));
            return;
        }
        if (note == 0) {
            if (instrument != 0) {
                RestoreVolume(c);
                ResetInstrument(c);
            }
            EffectTickZero(x, c, VolumeColumnTickZero(c));
            return;
        }
    }
    if (note == kKeyOffNote) {
        KeyOff(c);
    } else {
        StartNote(x, c, note, fx, param);
    }
    if (instrument != 0) {
        RestoreVolume(c);
        if (note != kKeyOffNote) {
            ResetInstrument(c);
        }
    }
    EffectTickZero(x, c, VolumeColumnTickZero(c));
}

void AdvancePosition(Context& x) {
    Module& m = x.module;
    Song& s = x.state.song;
    m.row += 1;
    if (s.delayRequest > 0) {
        s.delayRepeats = s.delayRequest;
        s.delayRequest = 0;
    }
    if (s.delayRepeats > 0) {
        s.delayRepeats -= 1;
        if (s.delayRepeats > 0) {
            m.row -= 1;
        }
    }
    if (s.loopFlag) {
        // The break row is kept: a taken loop's start row carries into the next pattern.
        s.loopFlag = false;
        m.row = s.breakRow;
    }
    if (m.row >= s.patternRows[CurrentPatternNumber(m)] || s.jumpFlag) {
        m.row = s.breakRow;
        s.breakRow = 0;
        s.jumpFlag = false;
        m.orderIndex = s.jumpOrder >= 0 ? s.jumpOrder : m.orderIndex + 1;
        s.jumpOrder = -1;
        if (m.orderIndex >= s.songLength) {
            m.orderIndex = s.restart;
        }
        // The original tracker plays one undefined row here; start the pattern instead.
        if (m.row >= s.patternRows[CurrentPatternNumber(m)]) {
            m.row = 0;
        }
    }
}

} // namespace

int32_t TickInRow(const Context& x) {
    return static_cast<int32_t>(x.module.speed) - static_cast<int32_t>(x.state.song.timer);
}

void SetSpeedOrTempo(Context& x, uint8_t parameter) {
    Module& m = x.module;
    if (parameter >= 0x20) {
        m.bpm = parameter;
        m.samplesPerTick = static_cast<int32_t>(int64_t{5} * x.rate / (2 * parameter));
        if (m.samplesPerTick < 1) {
            m.samplesPerTick = 1;
        }
        return;
    }
    // The row being played now lasts the new number of ticks; F00 stalls it
    // (the 16-bit timer wraps), as in the original tracker.
    m.speed = parameter;
    x.state.song.timer = parameter;
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
        c.fadeoutLevel = 32768;
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
    c.fadeoutSpeed = ins->fadeout >> 1; // the loader doubled it
    c.fadeoutLevel = 32768;
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
    if (ins != nullptr) {
        const int slot = ins->sampleMap[note - 1] & 15;
        sample = slot < kSampleSlots ? ins->samples[slot] : nullptr;
    }
    c.instrument = ins;
    c.sample = sample;
    c.relativeNote = sample != nullptr ? sample->relativeNote : 0;
    const int real = note + c.relativeNote;
    if (real >= 120 || real < 0) {
        return;
    }
    c.sampleVolume = sample != nullptr ? sample->volume : 0;
    c.samplePanning = sample != nullptr ? static_cast<int32_t>(sample->panning) : 128;
    if (c.sampleVolume > kMaxVolume) {
        c.sampleVolume = kMaxVolume;
    }
    c.finetune = (effect == 0xE && (parameter >> 4) == 5) ? static_cast<int16_t>((parameter & 15) * 16 - 128)
                 : sample != nullptr                      ? sample->finetune
                                                          : 0;
    if (real != 0) {
        c.basePeriod = c.outPeriod =
            periods::Period(x.state.song.linear, periods::TableIndex(real, c.finetune));
    }
    c.startVoice = true;
    c.startOffset = 0;
    if (effect == 9) {
        if (parameter != 0) {
            c.offsetMemory = parameter;
        }
        c.startOffset = static_cast<uint32_t>(c.offsetMemory) * 256;
    }
}

void Start(Module& m, State& state, int32_t rate) {
    state = State{};
    Song& s = state.song;
    s.linear = (m.flags & linearFrequencies) != 0;
    // Header values as the original tracker takes them.
    s.songLength = m.songLength < 1 ? 1 : (m.songLength > 256 ? 256 : m.songLength);
    // Some trackers pad the order list with 0xFF entries.
    while (s.songLength > 1 && m.orderTable[s.songLength - 1] == 0xFF) {
        s.songLength -= 1;
    }
    s.restart = m.restartPosition >= 0 && m.restartPosition < s.songLength ? m.restartPosition : 0;
    for (int p = 0; p < 256; ++p) {
        s.patternRows[p] = StoredPatternRows(m, p);
    }
    m.speed = m.defaultTempo < 1 ? 1 : (m.defaultTempo > 31 ? 31 : m.defaultTempo);
    const int bpm = m.defaultBpm < 32 ? 32 : (m.defaultBpm > 255 ? 255 : m.defaultBpm);
    Context x{m, state, rate};
    SetSpeedOrTempo(x, static_cast<uint8_t>(bpm));
    m.globalVolume = m.initialGlobalVolume;
    m.row = m.orderIndex = m.tick = m.patternDelay = 0;
    m.nextRow = m.nextOrder = -1;
    m.samplesLeft = 0;
    s.timer = 1; // the first tick is a row start
    s.jumpOrder = -1;
    for (Channel& c : state.channels) {
        c.panning = c.finalPanning = c.samplePanning = 128;
        c.fadeoutLevel = 32768;
    }
}

void PlayTick(Module& m, State& state, MixVoice* voices, int32_t rate) {
    Context x{m, state, rate};
    Song& s = state.song;
    bool rowStart = false;
    s.timer = static_cast<uint16_t>(s.timer - 1);
    if (s.timer == 0) {
        s.timer = static_cast<uint16_t>(m.speed);
        rowStart = true;
    }
    m.tick = TickInRow(x);
    const bool readRow = rowStart && s.delayRepeats == 0;
    const int channels = ChannelCount(m);
    for (int i = 0; i < channels; ++i) {
        Channel& c = state.channels[i];
        c.startVoice = false;
        if (readRow) {
            RowStart(x, c, CellAt(m, m.row, i));
        } else {
            VolumeColumnLaterTick(x, c);
            EffectLaterTick(x, c);
        }
        UpdateChannel(x, c);
        if (voices != nullptr) {
            UpdateVoice(x, c, voices[i]);
        }
    }
    if (s.timer == 1) {
        AdvancePosition(x);
    }
}

} // namespace ft2
