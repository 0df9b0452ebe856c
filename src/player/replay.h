// The replay engine's entry points as the loader and the audio output see them.
#pragma once

#include <cstdint>

struct Module;

void PlayTick(Module* module);
void SetBpm(Module* module, int32_t bpm);
