// The wave output as the rest of the player sees it.
#pragma once

#include <cstdint>

struct Module;

// Output rate in frames per second.
extern int32_t g_mixingRate;

// Ends playback of whatever is playing; false for a null module.
bool StopPlayback(Module* module);
