// Row and tick sequencing: which row plays, when a row starts, and the order
// in which a channel's note, instrument, envelopes and effects are applied.
#include "player/replay.h"

#include "player/effects.h"
#include "player/module.h"
#include "player/periods.h"
#include "player/player.h"

namespace {

constexpr uint8_t kEffectTonePorta = 0x03;
constexpr uint8_t kEffectTonePortaSlide = 0x05;
constexpr uint8_t kEffectTremolo = 0x07;
constexpr uint8_t kEffectKeyOff = 0x14;
constexpr int kNoteCount = 96;

// Stands in for an instrument number the song does not have.
const Instrument kEmptyInstrument{};

bool IsNote(uint8_t note) {
    return note >= 1 && note <= kNoteCount;
}

const Pattern* CurrentPattern(const Module& m) {
    if (m.patterns == nullptr || m.orderIndex < 0 || m.orderIndex > 255) {
        return nullptr;
    }
    const int number = m.orderTable[m.orderIndex];
    return number < m.patternSlots ? &m.patterns[number] : nullptr;
}

const uint8_t* CurrentRowCells(const Module& m) {
    const Pattern* pattern = CurrentPattern(m);
    if (pattern == nullptr || pattern->cells == nullptr || m.channelCount <= 0 || m.row < 0 ||
        m.row >= pattern->rows) {
        return nullptr;
    }
    return pattern->cells + static_cast<int64_t>(m.row) * m.channelCount * kCellSize;
}

int ChannelCount(const Module& m) {
    return m.channelCount < kMaxChannels ? m.channelCount : kMaxChannels;
}

struct Selection {
    const Instrument* instrument;
    const Sample* sample;
};

Selection Select(const Module& m, const TrackChannel& c) {
    if (c.instrument >= m.instrumentCount || m.instruments == nullptr) {
        return {&kEmptyInstrument, &EmptySample};
    }
    const Instrument& ins = m.instruments[c.instrument];
    if (c.note >= kNoteCount) {
        return {&ins, &EmptySample};
    }
    return {&ins, MappedSample(ins, ins.sampleMap[c.note])};
}

void StepEnvelopes(TrackChannel& c, const Instrument& ins, bool silenceReleased) {
    if (ins.volumeType & 1) {
        if (c.volEnvDone == 0) {
            StepVolumeEnvelope(c, ins);
        }
    } else if (silenceReleased && c.keyOff) {
        // A released note without a volume envelope falls silent at once.
        c.envVolume = 0;
    }
    if ((ins.panningType & 1) && c.panEnvDone == 0) {
        StepPanningEnvelope(c, ins);
    }
}

void Fadeout(TrackChannel& c, const Instrument& ins) {
    if (c.keyOff) {
        c.fadeoutLevel -= ins.fadeout;
        if (c.fadeoutLevel < 0) {
            c.fadeoutLevel = 0;
        }
        c.updateFlags |= kUpdateVolume;
    }
}

void RowStart(Player& player, TrackChannel& c, const uint8_t* cell) {
    const Module& m = *player.module;
    const uint8_t note = cell[0];
    const uint8_t instr = cell[1];
    const uint8_t vol = cell[2];
    const uint8_t fx = cell[3];
    const uint8_t param = cell[4];
    const bool porta = fx == kEffectTonePorta || fx == kEffectTonePortaSlide;

    if (instr != 0 && !porta) {
        c.instrument = static_cast<uint8_t>(instr - 1);
    }
    if (IsNote(note) && !porta) {
        c.note = static_cast<uint8_t>(note - 1);
    }
    const Selection sel = Select(m, c);

    if (c.lastEffect == kEffectTremolo && fx != kEffectTremolo) {
        c.volume += c.volumeDelta;
    }
    c.volumeDelta = 0;
    c.updateFlags = 0;
    c.lastEffect = fx;

    if (IsNote(note)) {
        const int realNote = (note + sel.sample->relativeNote - 1) & 255;
        if (m.flags & linearFrequencies) {
            c.notePeriod = 7680 - 64 * realNote - sel.sample->finetune / 2;
        } else {
            c.notePeriod = periods::AmigaPeriod(periods::TableIndex(realNote + 1, sel.sample->finetune));
        }
        if (!porta) {
            c.period = c.notePeriod;
        }
        c.updateFlags = kUpdateNoteStart;
    }
    c.periodDelta = 0;
    c.updateFlags |= kUpdateFrequency | kUpdateVolume;

    if (instr != 0) {
        ResetNote(c, *sel.sample);
    }
    if (vol != 0) {
        ApplyVolumeColumn(c, vol);
    }
    if (note == kKeyOff || fx == kEffectKeyOff) {
        c.keyOff = 1;
    }
    StepEnvelopes(c, *sel.instrument, true);
    Fadeout(c, *sel.instrument);
    ApplyRowEffect(c, player, fx, param);
    ApplyAutoVibrato(c, *sel.instrument);
    UpdateVoice(c, *sel.sample, player);
}

void LaterTick(Player& player, TrackChannel& c, const uint8_t* cell) {
    const Selection sel = Select(*player.module, c);
    c.volumeDelta = 0;
    c.periodDelta = 0;
    c.updateFlags = 0;
    StepEnvelopes(c, *sel.instrument, false);
    Fadeout(c, *sel.instrument);
    ApplyVolumeColumnTick(c, cell[2]);
    ApplyTickEffect(c, player, cell[3], cell[4]);
    ApplyAutoVibrato(c, *sel.instrument);
    UpdateVoice(c, *sel.sample, player);
}

} // namespace

void ProcessRow(Player& player) {
    Module& m = *player.module;
    m.nextOrder = -1;
    m.nextRow = -1;
    const uint8_t* cells = CurrentRowCells(m);
    if (cells == nullptr) {
        return;
    }
    const int channels = ChannelCount(m);
    for (int i = 0; i < channels; ++i) {
        RowStart(player, player.TrackChannels[i], cells + i * kCellSize);
    }
}

void ProcessTick(Player& player) {
    const uint8_t* cells = CurrentRowCells(*player.module);
    if (cells == nullptr) {
        return;
    }
    const int channels = ChannelCount(*player.module);
    for (int i = 0; i < channels; ++i) {
        LaterTick(player, player.TrackChannels[i], cells + i * kCellSize);
    }
}

void PlayTick(Player& player) {
    if (player.module == nullptr) {
        return;
    }
    if (player.rules == RuleSet::Ft2) {
        ft2::PlayTick(*player.module, player.ft2, player.VoicePool, player.mixingRate);
        return;
    }
    Module& m = *player.module;
    if (m.tick == 0) {
        if (m.nextOrder >= 0) {
            m.orderIndex = m.nextOrder;
        }
        if (m.nextRow >= 0) {
            m.row = m.nextRow;
        }
        ProcessRow(player);
        if (m.nextRow == -1) {
            m.nextRow = m.row + 1;
            const Pattern* pattern = CurrentPattern(m);
            if (m.nextRow >= (pattern != nullptr ? pattern->rows : 0)) {
                m.nextOrder = m.orderIndex + 1;
                if (m.nextOrder >= m.songLength) {
                    m.nextOrder = m.restartPosition;
                }
                // The song never ends, but never plays past its order table either.
                if (m.nextOrder >= m.songLength || m.nextOrder < 0) {
                    m.nextOrder = 0;
                }
                m.nextRow = 0;
            }
        }
    } else {
        ProcessTick(player);
    }
    m.tick += 1;
    if (m.tick >= m.speed + m.patternDelay) {
        m.patternDelay = 0;
        m.tick = 0;
    }
}

int32_t FramesPerTick(int32_t rate, int32_t bpm) {
    if (bpm <= 0) {
        return 0;
    }
    // Evaluated in double with the single-precision constants promoted: in float
    // the result is one frame short at some tempos (42 BPM gives 2624, not 2625).
    const double frames = 1000.0 / (bpm * static_cast<double>(0.4f)) * rate * static_cast<double>(0.001f);
    // A tick of no frames would leave the block renderer waiting for a tick
    // that never ends (only at output rates far below any device's).
    return frames >= 1.0 ? static_cast<int32_t>(frames) : 1;
}

void SetBpm(Player& player, int32_t bpm) {
    if (player.module == nullptr || bpm <= 0) {
        return;
    }
    player.module->bpm = bpm;
    player.module->samplesPerTick = FramesPerTick(player.mixingRate, bpm);
}

namespace {
uint64_t Mix(uint64_t hash, int64_t value) {
    return (hash ^ static_cast<uint64_t>(value)) * 0x100000001b3u;
}
} // namespace

bool NextRowStart(const Player& player, NextRow* next) {
    const Module* m = player.module;
    if (m == nullptr) {
        return false;
    }
    uint64_t state = 0xcbf29ce484222325u;
    if (player.rules == RuleSet::Ft2) {
        const ft2::Song& s = player.ft2.song;
        if (s.timer != 1 || s.delayRepeats != 0) {
            return false;
        }
        next->order = m->orderIndex;
        next->row = m->row;
        state = Mix(Mix(state, s.breakRow), s.jumpOrder);
        for (const ft2::Channel& c : player.ft2.channels) {
            state = Mix(Mix(state, c.loopRow), c.loopCounter);
        }
    } else {
        if (m->tick != 0) {
            return false;
        }
        next->order = m->nextOrder >= 0 ? m->nextOrder : m->orderIndex;
        next->row = m->nextRow >= 0 ? m->nextRow : m->row;
    }
    next->state = Mix(Mix(state, next->order), next->row);
    return true;
}

bool SongStalled(const Player& player) {
    return player.module != nullptr && player.rules == RuleSet::Ft2 && player.module->speed == 0;
}

void JumpToRow(Player& player, int32_t order, int32_t row) {
    Module* m = player.module;
    if (m == nullptr) {
        return;
    }
    if (player.rules == RuleSet::Ft2) {
        m->orderIndex = order;
        m->row = row;
    } else {
        m->nextOrder = order;
        m->nextRow = row;
    }
}
