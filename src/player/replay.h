// The replay engine: advances a song tick by tick and sets the voices from it.
#pragma once

#include <cstdint>

#include "player/track_channel.h"

struct Player;
struct Sample;

// One tick of the song, by the engine of the rule set StartSong chose.
void PlayTick(Player& player);
void SetBpm(Player& player, int32_t bpm);
// Frames of one tick at rate and bpm: floor(5 x rate / (2 x bpm)) at 44100 Hz; 0 for bpm below 1.
int32_t FramesPerTick(int32_t rate, int32_t bpm);

void ProcessRow(Player& player);
void ProcessTick(Player& player);
void ResetNote(TrackChannel& channel, const Sample& sample);
void UpdateVoice(TrackChannel& channel, const Sample& sample, const Player& player);
