// The page's device: the audio context made at the viewer's click, with the
// player's worklet node on it. Nothing is rendered on this side and no ring is
// kept, so a busy page cannot break the sound.
#include "player/output/worklet_output.h"

#include <emscripten.h>

#include "player/output/audio_output.h"
#include "player/format/stream.h"

int32_t g_mixingRate = 44100;
int32_t g_blockLength = 0;
int32_t g_ringLength = 0;

namespace {

bool g_open = false;

// False where the browser has no audio worklets.
EM_JS(int, tinsel_sound_open, (int rate), { return Module['openSound'](rate) ? 1 : 0; });

EM_JS(void, tinsel_sound_play, (const void* image, int size),
      { Module['playSound'](HEAPU8.slice(image, image + size).buffer); });

EM_JS(void, tinsel_sound_stop, (), { Module['stopSound'](); });

} // namespace

bool OpenAudioDevice(int32_t rate) {
    if (!StreamCallbacksComplete())
        return false;
    CloseAudioDevice();
    if (rate <= 0 || !tinsel_sound_open(rate))
        return false;
    g_mixingRate = rate;
    g_blockLength = BlockLengthForRate(rate);
    g_open = true;
    return true;
}

void CloseAudioDevice() {
    if (g_open)
        tinsel_sound_stop();
    g_open = false;
}

bool AudioDeviceReady() {
    return g_open;
}

void PlayImageOnDevice(const void* image, int32_t size) {
    if (g_open)
        tinsel_sound_play(image, size);
}

void StopDeviceSong() {
    if (g_open)
        tinsel_sound_stop();
}
