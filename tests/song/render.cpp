#include "render.h"

#include <algorithm>

#include "player/audio_output.h"
#include "player/mixer.h"
#include "player/module.h"
#include "player/replay.h"
#include "player/track_channel.h"

std::vector<int16_t> RenderSong(Module* module, int frames) {
    g_mixingRate = 44100;
    for (int i = 0; i < kVoiceCount; ++i) {
        VoicePool[i] = MixVoice{};
        VoicePool[i].number = i;
    }
    module->globalVolume = module->initialGlobalVolume;
    module->nextRow = module->nextOrder = -1;
    module->speed = module->defaultTempo;
    module->row = module->orderIndex = module->samplesLeft = module->tick = module->patternDelay = 0;
    SetBpm(module, module->defaultBpm);
    for (int i = 0; i < module->channelCount; ++i) {
        TrackChannels[i] = TrackChannel{};
        TrackChannels[i].voice = &VoicePool[i];
        TrackChannels[i].index = i;
    }
    std::vector<float> mix(static_cast<size_t>(frames) * 2, 0.0f);
    int done = 0;
    while (done < frames) {
        if (module->samplesLeft <= 0) {
            module->tickRoutine(module);
            module->samplesLeft = module->samplesPerTick;
        }
        const int n = std::min(module->samplesLeft, frames - done);
        MixVoices(mix.data() + 2 * done, n);
        module->samplesLeft -= n;
        done += n;
    }
    std::vector<int16_t> pcm(mix.size());
    ConvertToPcm16(pcm.data(), mix.data(), frames);
    return pcm;
}
