// Plays a loaded song offline the way the mixing thread does: a tick whenever the frames of the
// last one are used up, the voices mixed between ticks, 16-bit conversion at the end.
#pragma once

#include <cstdint>
#include <vector>

struct Module;

// Interleaved stereo 16-bit frames at 44100 Hz.
std::vector<int16_t> RenderSong(Module* module, int frames);
