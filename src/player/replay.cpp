// Stand-in until the replay engine lands here: a tick only keeps the tempo.
#include "player/replay.h"

#include "player/audio_output.h"
#include "player/module.h"

void PlayTick(Module* module) {
    if (module != nullptr) {
        SetBpm(module, module->bpm != 0 ? module->bpm : module->defaultBpm);
    }
}

void SetBpm(Module* module, int32_t bpm) {
    if (module == nullptr || bpm <= 0) {
        return;
    }
    module->bpm = bpm;
    // Evaluated in double with the single-precision constants promoted: in float
    // the result is one frame short at some tempos (42 BPM gives 2624, not 2625).
    const double frames =
        1000.0 / (bpm * static_cast<double>(0.4f)) * g_mixingRate * static_cast<double>(0.001f);
    module->samplesPerTick = static_cast<int32_t>(frames);
}
