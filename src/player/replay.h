// The replay engine: advances a song tick by tick and sets the voices from it.
#pragma once

#include <cstdint>

#include "player/channel.h"

struct Player;

// One tick of the song, by the rule set StartSong chose.
void PlayTick(Player& player);
void SetBpm(Player& player, int32_t bpm);
// A row the next tick starts from the pattern (not a pattern-delay repeat).
struct NextRow {
    int32_t order;
    int32_t row;
    // The row with everything that decides where play goes after it (pattern
    // loop rows and counters, a pending break row): equal for equal states.
    uint64_t state;
};
// False when the next tick does not start a row.
bool NextRowStart(const Player& player, NextRow* next);
// True once an F00 has stopped the row clock under FT2 rules.
bool SongStalled(const Player& player);
// Makes the next tick start row at order; right after StartSong only.
void JumpToRow(Player& player, int32_t order, int32_t row);

// Frames of one tick at rate and bpm: floor(5 x rate / (2 x bpm)) at 44100 Hz; 0 for bpm below 1.
int32_t FramesPerTick(int32_t rate, int32_t bpm);
