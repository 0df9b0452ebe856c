// Stand-in until the wave output and its mixing thread exist: nothing plays, so
// there is nothing to stop or wait for.
#include "player/audio_output.h"

int32_t g_mixingRate = 44100;

bool StopPlayback(Module* module) {
    return module != nullptr;
}
