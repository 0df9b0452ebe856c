#include "player/mixer.h"
#include "player/audio_output.h"

#include "player/mix_runs.h"
#include "player/player.h"

int32_t RampLengthForRate(int32_t rate) {
    const int64_t length = static_cast<int64_t>(rate) * 128 / 44100;
    return length >= 1 ? static_cast<int32_t>(length) : 1; // a very low rate still ramps, over one frame
}

int32_t BlockLengthForRate(int32_t rate) {
    return ((rate * kMixBlockMs / 1000 + 3) / 4) * 4;
}

void MixVoices(Player& player, float* destination, int32_t frames) {
    if (destination == nullptr || frames < 1) {
        return;
    }
    const MixKernels& kernels = CurrentMixKernels();
    for (int i = 0; i < kMixedVoices; ++i) {
        MixVoice& voice = player.VoicePool[i];
        if (voice.sample != nullptr) {
            MixVoiceRuns(voice, destination, frames, player.rampLength, player.rampReciprocal, kernels);
        }
    }
}

void ConvertToPcm16(int16_t* destination, const float* source, int32_t frames) {
    if (destination == nullptr || source == nullptr || frames <= 0) {
        return;
    }
    CurrentMixKernels().convert(destination, source, 2 * frames);
}
