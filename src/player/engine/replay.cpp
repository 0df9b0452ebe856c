// The engine's skeleton, the same under both rule sets: the song clock reads a
// row or not, then each channel in turn gets its row start or later tick, its
// fadeout, envelopes and auto-vibrato, and hands over to its voice. Where the
// rule sets part, Rules (rules.h) names the piece that runs.
#include <algorithm>

#include "player/engine/replay.h"

#include "player/engine/engine.h"
#include "player/format/module.h"

namespace {

int CurrentPatternNumber(const Module& m, const SongState& s) {
    return m.orderTable[s.orderIndex & 255];
}

// Rows of the pattern playing; none at an order position beyond the table.
int32_t CurrentRows(const Context& x) {
    const int32_t order = x.song.orderIndex;
    return order < 0 || order > 255 ? 0 : x.song.patternRows[x.module.orderTable[order]];
}

void Fadeout(Channel& c) {
    if (c.keyOff) {
        c.fadeoutLevel -= c.fadeoutSpeed;
        if (c.fadeoutLevel < 0) {
            c.fadeoutLevel = 0;
        }
        c.updateFlags |= kUpdateVolume;
    }
}

Context ContextOf(ReplayState& player) {
    return {player, *player.module, player.song, RulesOf(player.rules), player.mixingRate};
}

// The cells of a row of the current pattern; null for a row not stored.
const uint8_t* RowCells(const Module& m, const SongState& s, int row) {
    const int number = CurrentPatternNumber(m, s);
    if (m.patterns == nullptr || number >= m.patternSlots) {
        return nullptr;
    }
    const Pattern& p = m.patterns[number];
    if (p.cells == nullptr || row < 0 || row >= p.rows) {
        return nullptr;
    }
    return p.cells + static_cast<int64_t>(row) * m.channelCount * kCellSize;
}

uint64_t Mix(uint64_t hash, int64_t value) {
    return (hash ^ static_cast<uint64_t>(value)) * 0x100000001b3u;
}

// Counting up (tinsel): the next row is chosen at a row start and taken at the
// next; a row the song does not store passes without any channel work.
bool RowStored(const Module& m, const SongState& s) {
    return s.orderIndex >= 0 && s.orderIndex <= 255 && m.channelCount > 0 && RowCells(m, s, s.row) != nullptr;
}

void CountUpTick(Context& x) {
    SongState& s = x.song;
    const bool rowStart = s.tick == 0;
    if (rowStart) {
        if (s.nextOrder >= 0) {
            s.orderIndex = s.nextOrder;
        }
        if (s.nextRow >= 0) {
            s.row = s.nextRow;
        }
    }
    if (RowStored(x.module, s)) {
        PlayChannels(x, rowStart);
    }
    if (rowStart) {
        s.nextRow = s.row + 1;
        s.nextOrder = -1;
        if (s.nextRow >= CurrentRows(x)) {
            s.nextOrder = s.orderIndex + 1;
            if (s.nextOrder >= s.songLength) {
                s.nextOrder = s.restart;
            }
            // The song never ends, but never plays past its order table either.
            if (s.nextOrder >= s.songLength || s.nextOrder < 0) {
                s.nextOrder = 0;
            }
            s.nextRow = 0;
        }
    }
    s.tick += 1;
    if (s.tick >= s.speed) {
        s.tick = 0;
    }
}

bool CountUpNextRowStart(const ReplayState& player, NextRow* next) {
    const SongState& s = player.song;
    if (s.tick != 0) {
        return false;
    }
    next->order = s.nextOrder >= 0 ? s.nextOrder : s.orderIndex;
    next->row = s.nextRow >= 0 ? s.nextRow : s.row;
    next->state = Mix(Mix(0xcbf29ce484222325u, next->order), next->row);
    return true;
}

void CountUpJumpToRow(ReplayState& player, int32_t order, int32_t row) {
    player.song.nextOrder = order;
    player.song.nextRow = row;
}

int32_t CountUpTickPlayed(const ReplayState& player) {
    // The tick counter already names the next tick; the one played is before it.
    const SongState& s = player.song;
    return s.tick > 0 ? s.tick - 1 : (player.framesPlayed > 0 && s.speed > 0 ? s.speed - 1 : 0);
}

bool NeverStalls(const ReplayState&) {
    return false;
}

// Counting down (FT2): a row starts when the timer runs out, and the position
// moves on at the end of the row's last tick, by breaks, jumps, loops and
// pattern delays.
void AdvancePosition(Context& x) {
    SongState& s = x.song;
    s.row += 1;
    if (s.delayRequest > 0) {
        s.delayRepeats = s.delayRequest;
        s.delayRequest = 0;
    }
    if (s.delayRepeats > 0) {
        s.delayRepeats -= 1;
        if (s.delayRepeats > 0) {
            s.row -= 1;
        }
    }
    if (s.loopFlag) {
        // The break row is kept: a taken loop's start row carries into the next pattern.
        s.loopFlag = false;
        s.row = s.breakRow;
    }
    if (s.row >= CurrentRows(x) || s.jumpFlag) {
        s.row = s.breakRow;
        s.breakRow = 0;
        s.jumpFlag = false;
        s.orderIndex = s.jumpOrder >= 0 ? s.jumpOrder : s.orderIndex + 1;
        s.jumpOrder = -1;
        if (s.orderIndex >= s.songLength) {
            s.orderIndex = s.restart;
        }
        // The original tracker plays one undefined row here; start the pattern instead.
        if (s.row >= CurrentRows(x)) {
            s.row = 0;
        }
    }
}

void CountDownTick(Context& x) {
    SongState& s = x.song;
    bool rowStart = false;
    s.timer = static_cast<uint16_t>(s.timer - 1);
    if (s.timer == 0) {
        s.timer = static_cast<uint16_t>(s.speed);
        rowStart = true;
    }
    s.tick = TickInRow(x);
    PlayChannels(x, rowStart && s.delayRepeats == 0);
    if (s.timer == 1) {
        AdvancePosition(x);
    }
}

bool CountDownNextRowStart(const ReplayState& player, NextRow* next) {
    const SongState& s = player.song;
    if (s.timer != 1 || s.delayRepeats != 0) {
        return false;
    }
    next->order = s.orderIndex;
    next->row = s.row;
    uint64_t state = Mix(Mix(0xcbf29ce484222325u, s.breakRow), s.jumpOrder);
    // Only the song's own channels play (the others keep what StartSong gave
    // them), and this runs at every row start of every walk.
    const int channels = ChannelCount(*player.module);
    for (int i = 0; i < channels; ++i) {
        state = Mix(Mix(state, player.channels[i].loopRow), player.channels[i].loopCounter);
    }
    next->state = Mix(Mix(state, next->order), next->row);
    return true;
}

void CountDownJumpToRow(ReplayState& player, int32_t order, int32_t row) {
    player.song.orderIndex = order;
    player.song.row = row;
}

int32_t CountDownTickPlayed(const ReplayState& player) {
    return player.song.tick;
}

bool StalledByF00(const ReplayState& player) {
    return player.song.speed == 0;
}

} // namespace

const SongClock kCountUpClock = {CountUpTick, CountUpNextRowStart, CountUpJumpToRow, CountUpTickPlayed,
                                 NeverStalls};
const SongClock kCountDownClock = {CountDownTick, CountDownNextRowStart, CountDownJumpToRow,
                                   CountDownTickPlayed, StalledByF00};

void RaiseVolume(Channel& c, int amount) {
    c.baseVolume += amount;
    if (c.baseVolume > kMaxVolume) {
        c.baseVolume = kMaxVolume;
    }
    c.outVolume = c.baseVolume;
    c.updateFlags |= kUpdateVolume;
}

void LowerVolume(Channel& c, int amount) {
    c.baseVolume -= amount;
    if (c.baseVolume < 0) {
        c.baseVolume = 0;
    }
    c.outVolume = c.baseVolume;
    c.updateFlags |= kUpdateVolume;
}

void VolumeSlide(Channel& c, uint8_t speed) {
    if ((speed >> 4) != 0) {
        RaiseVolume(c, speed >> 4);
    } else {
        LowerVolume(c, speed & 0x0F);
    }
}

void FineVolumeUp(Channel& c, int y) {
    RaiseVolume(c, Remembered(c.fineVolumeUpMemory, static_cast<uint8_t>(y)));
}

int32_t TickInRow(const Context& x) {
    return static_cast<int32_t>(x.song.speed) - static_cast<int32_t>(x.song.timer);
}

void PlayChannels(Context& x, bool readRow) {
    static const uint8_t kEmpty[kCellSize] = {};
    const Rules& r = x.rules;
    const int channels = ChannelCount(x.module);
    const uint8_t* cells = readRow ? RowCells(x.module, x.song, x.song.row) : nullptr;
    for (int i = 0; i < channels; ++i) {
        Channel& c = x.state.channels[i];
        c.updateFlags = 0;
        if (readRow) {
            r.rowStart(x, c, cells != nullptr ? cells + i * kCellSize : kEmpty);
        } else {
            r.volumeColumn(x, c);
            r.effects(x, c);
        }
        Fadeout(c);
        r.envelopes(x, c);
        r.autoVibrato(x, c);
        r.updateVoice(x, c, *c.voice);
    }
    x.song.globalVolumeSet = false;
}

void PlayTick(ReplayState& player) {
    if (player.module == nullptr) {
        return;
    }
    Context x = ContextOf(player);
    // The original's mixer snaps every voice to its target before the tick
    // and sets the new ramps once the tick's length is known.
    const bool ft2 = x.rules.mixer == VoiceMixer::Ft2;
    if (ft2) {
        Ft2StartTick(player.ft2);
    }
    x.rules.clock->tick(x);
    if (player.tempoFactor != 1.0 && x.song.bpm > 0) {
        // Each tick its share of the scaled length, the fractions carried on,
        // so that a song's length follows the factor to within a frame.
        const double exact = x.rules.tickFrames(x.rate, x.song.bpm) / player.tempoFactor + x.song.tickCarry;
        const double whole = exact >= 1.0 ? static_cast<double>(static_cast<int64_t>(exact)) : 1.0;
        x.song.tickCarry = exact - whole;
        x.song.samplesPerTick = static_cast<int32_t>(whole);
    }
    if (ft2) {
        Ft2EndTick(player.ft2, player.song.samplesPerTick);
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

void SetBpm(Context& x, int32_t bpm) {
    if (bpm <= 0) {
        return;
    }
    x.song.bpm = bpm;
    x.song.samplesPerTick = x.rules.tickFrames(x.rate, bpm);
}

void SetBpm(ReplayState& player, int32_t bpm) {
    if (player.module != nullptr) {
        Context x = ContextOf(player);
        SetBpm(x, bpm);
    }
}

bool NextRowStart(const ReplayState& player, NextRow* next) {
    return player.module != nullptr && RulesOf(player.rules).clock->nextRowStart(player, next);
}

bool SongStalled(const ReplayState& player) {
    return player.module != nullptr && RulesOf(player.rules).clock->stalled(player);
}

void JumpToRow(ReplayState& player, int32_t order, int32_t row) {
    if (player.module != nullptr) {
        RulesOf(player.rules).clock->jumpToRow(player, order, row);
    }
}
