// The original tracker's own mixer, in its integer formats, for songs played
// by FT2 rules: two voices a channel (a new note hands the sounding one to the
// other, which fades it out over 5 ms), gains from the final volume, the
// square-root pan table and the amplification, ramps that glide over the
// whole tick or over 5 ms, every voice snapped to its target at each tick's
// start, the original's rounding of the interpolation, and a 32-bit sum
// shifted and clipped to 16 bits.
//
// The engine drives it tick by tick: Ft2StartTick before the tick's replay,
// Ft2Trigger as each note starts, Ft2SetChannel once a channel's tick is
// done, Ft2EndTick once every channel's is. Ft2Mix then mixes the tick's
// frames, in as many calls as the caller likes.
#pragma once

#include <bitset>
#include <cstdint>

#include "player/format/module.h"

// The amplification the original starts with, and its range.
constexpr int32_t kFt2DefaultAmplification = 4;
constexpr int32_t kFt2MinAmplification = 1;
constexpr int32_t kFt2MaxAmplification = 32;

struct Ft2Voice {
    const int16_t* left;  // the sample's data; its left channel when stereo
    const int16_t* right; // the right channel of a stereo sample; null for mono
    uint32_t length;      // frames played: the loop's end for a looped sample
    uint32_t loopStart, loopLength;
    uint32_t mirror; // 2 x loop start + loop length - 1: where a backward position reads
    // 16.16 position. For a ping-pong voice moving backward it is mirrored,
    // so that it only ever grows: the frame read is mirror - whole part.
    uint64_t position;
    uint32_t step; // 16.16 frames a frame
    // Gains on the scale of the sum: the current one from the tick's start,
    // the target, and the ramp between them over rampFrames frames from
    // frame rampStart of the tick.
    uint32_t gainL, gainR, targetL, targetR;
    int32_t deltaL, deltaR;
    int32_t rampStart, rampFrames;
    uint8_t volume, panning; // 0..255 each, what the gains were made from
    uint8_t loop;            // kLoopNone, kLoopForward or kLoopPingPong
    bool on, fadingOut, backward;
    bool silent; // no gain on either side all tick: only the position moves
};

struct Ft2Mixer {
    int32_t rate;
    int32_t amplification; // 1..32
    int32_t quickFrames;   // the 5 ms ramp: rate / 200
    bool linear;           // the song's frequency table
    uint32_t linearScale;  // step factor of the linear table at this rate
    uint32_t amigaDividend;
    int32_t channels;                // the song's, each with voices 2c and 2c + 1
    int32_t tickFrames;              // of the tick being mixed
    int32_t frame;                   // the next one to mix, counted from the tick's start
    std::bitset<kMaxChannels> muted; // bit c mutes channel c
    double pitchFactor = 1.0;        // every step scaled by it; 1 leaves them as the original's
    uint8_t current[kMaxChannels];   // which of the pair plays the channel's note
    struct Update {
        bool pending, quick;
        uint16_t volume; // final volume 0..256
        uint8_t panning;
        uint16_t period;
    } updates[kMaxChannels];
    Ft2Voice voices[2 * kMaxChannels];
    int32_t sum[2 * 1024]; // a stretch of frames, both sides
};

// round(65536 * sqrt(i / 256)) for i = 0..256: the original's pan law, which
// the float voices under FT2 rules share.
const uint32_t* Ft2PanTable();

// Silences every voice and sets the mixer up for a song of channels channels.
void Ft2ResetMixer(Ft2Mixer& m, int32_t rate, int32_t amplification, int32_t channels, bool linear);
// No voices at all until the next reset: for a song played tick by tick
// without sound (a walk, a seek), whose voices nobody hears.
void Ft2Detach(Ft2Mixer& m);
// Before the tick's replay: the fade-out voices of the last tick stop, and
// every voice takes its target gain.
void Ft2StartTick(Ft2Mixer& m);
// A note starts on channel: the voice that played it fades out, the other of
// the pair starts sample at frame start (or stays silent where there is
// nothing to play from there).
void Ft2Trigger(Ft2Mixer& m, int channel, const Sample* sample, uint32_t start);
// What the channel's tick ended with: final volume 0..256, panning 0..255,
// period; quick when a set event of the tick asks for the 5 ms ramp.
void Ft2SetChannel(Ft2Mixer& m, int channel, int32_t volume, int32_t panning, uint16_t period, bool quick);
// After the tick's replay: the updates reach the voices, ramping over
// tickFrames or the 5 ms.
void Ft2EndTick(Ft2Mixer& m, int32_t tickFrames);
// Mixes frames frames of the tick from where the last call ended into
// destination, as 16-bit values held in floats. frames must not pass the
// tick's end.
void Ft2Mix(Ft2Mixer& m, float* destination, int32_t frames);
// Mutes the channels whose bits are set: each channel whose mute changes
// glides there over 5 ms from the current frame.
void Ft2SetMuted(Ft2Mixer& m, const std::bitset<kMaxChannels>& muted);
// The amplification, clamped to 1..32, from the next tick on.
void Ft2SetAmplification(Ft2Mixer& m, int32_t amplification);
