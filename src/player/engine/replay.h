// The replay engine: advances a song tick by tick and sets the voices from it.
#pragma once

#include <cstdint>

#include "player/engine/channel.h"
#include "player/engine/rules.h"
#include "player/mix/ft2_mixer.h"
#include "player/mix/mixer.h"

// What the engine works on: the song, its channels, the song clock and the
// voices the channels drive. The instance (Player) is this plus its controls.
struct ReplayState;
// One tick of the song: PlayTick, unless whoever owns the instance gave another.
using TickRoutine = void (*)(ReplayState& state);

struct ReplayState {
    const Module* module; // the song playing, only read; null before StartSong
    TickRoutine tickRoutine;
    Channel channels[kMaxChannels];
    SongState song;
    MixVoice VoicePool[kVoiceCount];
    Ft2Mixer ft2; // the voices of FT2 rules
    // FT2 rules drive the float voices too (and the float mixer mixes them):
    // another interpolation or ramp than the rule set's own was chosen.
    bool ft2FloatVoices;
    int32_t mixingRate;   // output frames per second
    RuleSet rules;        // the rule set the song plays by, chosen by StartSong
    int64_t framesPlayed; // since StartSong
    // Sound settings the engine applies, kept across StartSong; 1 leaves
    // every tick's length and every voice's step as the rule set makes them.
    double tempoFactor = 1.0; // ticks last their frames divided by it
    double pitchFactor = 1.0; // voices step through their samples faster by it
};

// One tick of the song, by the rule set StartSong chose.
void PlayTick(ReplayState& player);
void SetBpm(ReplayState& player, int32_t bpm);
// A row the next tick starts from the pattern (not a pattern-delay repeat).
struct NextRow {
    int32_t order;
    int32_t row;
    // The row with everything that decides where play goes after it (pattern
    // loop rows and counters, a pending break row): equal for equal states.
    uint64_t state;
};
// False when the next tick does not start a row.
bool NextRowStart(const ReplayState& player, NextRow* next);
// True once an F00 has stopped the row clock under FT2 rules.
bool SongStalled(const ReplayState& player);
// Makes the next tick start row at order; right after StartSong only.
void JumpToRow(ReplayState& player, int32_t order, int32_t row);

// Frames of one tick at rate and bpm: floor(5 x rate / (2 x bpm)) at 44100 Hz; 0 for bpm below 1.
int32_t FramesPerTick(int32_t rate, int32_t bpm);
