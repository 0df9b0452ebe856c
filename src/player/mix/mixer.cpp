#include "player/mix/mixer.h"

#include <cstring>

#include "player/format/module.h"
#include "player/mix/mix_runs.h"

namespace {

constexpr const char* kInterpolationNames[kInterpolationCount] = {"linear", "nearest", "cubic", "sinc"};
constexpr const char* kRampNames[2] = {"rules", "off"};

} // namespace

const char* InterpolationName(Interpolation interpolation) {
    const int i = static_cast<int>(interpolation);
    return i >= 0 && i < kInterpolationCount ? kInterpolationNames[i] : "linear";
}

bool ParseInterpolation(const char* text, Interpolation* interpolation) {
    if (text == nullptr || interpolation == nullptr) {
        return false;
    }
    for (int i = 0; i < kInterpolationCount; ++i) {
        if (std::strcmp(text, kInterpolationNames[i]) == 0) {
            *interpolation = static_cast<Interpolation>(i);
            return true;
        }
    }
    return false;
}

const char* RampName(Ramp ramp) {
    return ramp == Ramp::Off ? kRampNames[1] : kRampNames[0];
}

bool ParseRamp(const char* text, Ramp* ramp) {
    if (text == nullptr || ramp == nullptr) {
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        if (std::strcmp(text, kRampNames[i]) == 0) {
            *ramp = static_cast<Ramp>(i);
            return true;
        }
    }
    return false;
}

int32_t RampLengthForRate(int32_t rate) {
    const int64_t length = static_cast<int64_t>(rate) * 128 / 44100;
    return length >= 1 ? static_cast<int32_t>(length) : 1; // a very low rate still ramps, over one frame
}

int32_t BlockLengthForRate(int32_t rate) {
    return ((rate * kMixBlockMs / 1000 + 3) / 4) * 4;
}

namespace {

// A stereo sample's voice mixes as two voices that move alike: its left
// channel at the left gain alone, its right channel at the right gain alone.
// Each side keeps its own ramp; the voice ramps while either side does.
void MixStereoVoice(MixVoice& v, float* destination, int32_t frames, int32_t rampLength, float rampReciprocal,
                    const MixKernels& kernels, Interpolation interpolation) {
    Sample right = *v.sample;
    right.data = right.right;
    right.right = nullptr;
    MixVoice l = v, r = v;
    l.rightGain = l.lastRightGain = l.rightLevel = 0;
    l.rightStep = 0.0f;
    r.sample = &right;
    r.leftGain = r.lastLeftGain = r.leftLevel = 0;
    r.leftStep = 0.0f;
    MixVoiceRuns(l, destination, frames, rampLength, rampReciprocal, kernels, interpolation);
    MixVoiceRuns(r, destination, frames, rampLength, rampReciprocal, kernels, interpolation);
    v = l; // its sample is null where the sample ended
    v.rightGain = r.rightGain;
    v.lastRightGain = r.lastRightGain;
    v.rightLevel = r.rightLevel;
    v.rightStep = r.rightStep;
    v.rampRemaining = l.rampRemaining > r.rampRemaining ? l.rampRemaining : r.rampRemaining;
}

} // namespace

void MixVoices(MixVoice* voices, int32_t count, int32_t rampLength, float rampReciprocal, float* destination,
               int32_t frames, Interpolation interpolation, bool stereoSamples) {
    if (voices == nullptr || destination == nullptr || frames < 1) {
        return;
    }
    const MixKernels& kernels = CurrentMixKernels();
    for (int i = 0; i < count; ++i) {
        MixVoice& voice = voices[i];
        if (voice.sample == nullptr) {
            continue;
        }
        if (stereoSamples && voice.sample->right != nullptr) {
            MixStereoVoice(voice, destination, frames, rampLength, rampReciprocal, kernels, interpolation);
        } else {
            MixVoiceRuns(voice, destination, frames, rampLength, rampReciprocal, kernels, interpolation);
        }
    }
}

void ConvertToPcm16(int16_t* destination, const float* source, int32_t frames) {
    if (destination == nullptr || source == nullptr || frames <= 0) {
        return;
    }
    CurrentMixKernels().convert(destination, source, 2 * frames);
}
