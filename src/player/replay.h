// The replay engine: advances a song tick by tick and sets the voices from it.
#pragma once

#include <cstdint>

#include "player/track_channel.h"

struct Module;
struct Sample;

void PlayTick(Module* module);
void SetBpm(Module* module, int32_t bpm);

void ProcessRow(Module* module);
void ProcessTick(Module* module);
void ResetNote(TrackChannel& channel, const Sample& sample);
void UpdateVoice(TrackChannel& channel, const Sample& sample, const Module& module);
