#include "player/mix/mixer.h"

#include "player/mix/mix_runs.h"

int32_t RampLengthForRate(int32_t rate) {
    const int64_t length = static_cast<int64_t>(rate) * 128 / 44100;
    return length >= 1 ? static_cast<int32_t>(length) : 1; // a very low rate still ramps, over one frame
}

int32_t BlockLengthForRate(int32_t rate) {
    return ((rate * kMixBlockMs / 1000 + 3) / 4) * 4;
}

void MixVoices(MixVoice* voices, int32_t count, int32_t rampLength, float rampReciprocal, float* destination,
               int32_t frames) {
    if (voices == nullptr || destination == nullptr || frames < 1) {
        return;
    }
    const MixKernels& kernels = CurrentMixKernels();
    for (int i = 0; i < count; ++i) {
        MixVoice& voice = voices[i];
        if (voice.sample != nullptr) {
            MixVoiceRuns(voice, destination, frames, rampLength, rampReciprocal, kernels);
        }
    }
}

void ConvertToPcm16(int16_t* destination, const float* source, int32_t frames) {
    if (destination == nullptr || source == nullptr || frames <= 0) {
        return;
    }
    CurrentMixKernels().convert(destination, source, 2 * frames);
}
