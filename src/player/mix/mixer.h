// Software voices and the float mixer that sums them into a stereo buffer.
#pragma once

#include <cstdint>

struct Sample;

struct MixVoice {
    int32_t number;
    int32_t frequency;
    int32_t volume;
    int32_t panning;
    int32_t startOffset;
    const Sample* sample; // null: silent
    int32_t leftGain;
    int32_t rightGain;
    int32_t posInt;
    uint32_t posFrac;
    uint32_t stepFrac;
    int32_t stepInt;
    int32_t direction; // 1 forward, else backward
    int32_t lastLeftGain;
    int32_t lastRightGain;
    int32_t leftLevel;
    int32_t rightLevel;
    float leftStep;
    float rightStep;
    int32_t rampRemaining;
};

constexpr int kVoiceCount = 256;
constexpr int kMixedVoices = 32;
// Largest step, in samples per frame, the replay engine gives a voice: the
// boundary count divides by the step in 24.8 bits, so its integer part must
// stay below 256.
constexpr int kMaxStepSamples = 255;

// Frames over which a gain change glides at rate: 128 at 44100 Hz.
int32_t RampLengthForRate(int32_t rate);

// Milliseconds of sound in one block of the output's ring, and frames per
// block at rate: 20 ms, a multiple of 4. Here, beside the mixer, so that the
// offline tools mix in the same blocks without the device.
constexpr int32_t kMixBlockMs = 20;
int32_t BlockLengthForRate(int32_t rate);

// How a voice reads its sample between entries. Linear is each rule set's own
// mixing; the others are a choice for renders: the entry nearest the
// position, a Catmull-Rom cubic through four entries, or a windowed sinc of 16
// taps that widens with the step above one sample a frame (up to 512 taps), so
// that a note played high does not alias.
enum class Interpolation : unsigned char { Linear, Nearest, Cubic, Sinc };
constexpr int kInterpolationCount = 4;
// "linear", "nearest", "cubic" or "sinc", as the tools print and accept them.
const char* InterpolationName(Interpolation interpolation);
// Reads one of the names above; false for anything else.
bool ParseInterpolation(const char* text, Interpolation* interpolation);

// How gain changes reach the sound: the rule set's own ramp (a glide over
// RampLengthForRate frames, a note's attack included), or off: every change
// at once and attacks exactly as stored.
enum class Ramp : unsigned char { Rules, Off };
// "rules" or "off".
const char* RampName(Ramp ramp);
bool ParseRamp(const char* text, Ramp* ramp);

// Adds count voices into destination, each gliding its gains over rampLength
// frames (0: no glide, gains take effect at once). Where a silent voice
// passes, a -0 already in destination may keep or lose its sign depending on
// the path (the fast ones skip the additions of 0); no other bit depends on
// the path, and a buffer zeroed first never holds -0. With stereoSamples, a
// stereo sample plays its left channel on the left and its right on the
// right; without, its left channel alone, on both sides.
void MixVoices(MixVoice* voices, int32_t count, int32_t rampLength, float rampReciprocal, float* destination,
               int32_t frames, Interpolation interpolation = Interpolation::Linear,
               bool stereoSamples = false);
void ConvertToPcm16(int16_t* destination, const float* source, int32_t frames);
