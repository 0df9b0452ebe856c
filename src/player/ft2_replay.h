// The replay engine under FT2 rules: the original tracker's row-start decision
// tree, tick timing, effect memories, envelopes and song clock. Its state is
// separate from the tinsel engine's TrackChannel, because the two model a
// channel differently (FT2 keeps a slid and a heard value of pitch and volume).
// What it performs, and where it still departs, is listed in rules.h.
#pragma once

#include <cstdint>

#include "player/module.h"

struct MixVoice;

namespace ft2 {

enum PortaDirection : uint8_t { kPortaNone, kPortaPeriodFalling, kPortaPeriodRising };

struct Channel {
    // Cell of the current row, kept for later ticks and note delay.
    uint8_t cellNote; // 0 none, 1..96, 97 key-off
    uint8_t cellInstrument;
    uint8_t volumeByte;
    uint8_t effect, parameter;
    uint8_t lastEffect, lastParameter; // of the previous row start

    uint8_t note;                 // last note started, 1..96; 0 none
    uint8_t instrumentNumber;     // remembered for the next note, 1..128; 0 none
    const Instrument* instrument; // the playing instrument, null for the placeholder
    const Sample* sample;         // the playing sample, null for none
    int8_t relativeNote;
    int16_t finetune; // -128..127

    int32_t basePeriod;                  // slid pitch
    int32_t outPeriod;                   // plus arpeggio, vibrato or glissando
    int32_t finalPeriod;                 // plus auto-vibrato; 0 is silence
    int32_t baseVolume;                  // 0..64, set by volume commands and slides
    int32_t outVolume;                   // heard, after tremolo and tremor
    int32_t sampleVolume, samplePanning; // defaults of the sample last started
    int32_t panning;                     // 0..255
    int32_t finalPanning;
    int32_t finalVolume; // 0..256, with envelope, fadeout and global volume

    bool keyOff;
    int32_t fadeoutLevel; // 32768 full
    int32_t fadeoutSpeed;

    int32_t volEnvTick, volEnvPoint, volEnvValue, volEnvSlope; // value and slope 8.8
    int32_t panEnvTick, panEnvPoint, panEnvValue, panEnvSlope;

    uint8_t autoVibratoPos;
    int32_t autoVibratoAmplitude, autoVibratoSweep; // 8.8 of the depth; sweep 0: none

    // Effect memories: a zero parameter reuses them.
    uint8_t portaUpMemory, portaDownMemory, finePortaUpMemory, finePortaDownMemory;
    uint8_t extraFineUpMemory, extraFineDownMemory;
    uint8_t volumeSlideMemory, fineVolumeUpMemory, fineVolumeDownMemory;
    uint8_t globalSlideMemory, panningSlideMemory, offsetMemory, tremorMemory;
    uint8_t retrigVolumeMemory, retrigIntervalMemory, retrigCounter;
    uint8_t tremorState; // bit 7 on-phase, low bits the count

    int32_t portaSpeed, portaTarget;
    PortaDirection portaDirection;
    bool glissando;
    uint8_t vibratoPos, vibratoSpeed, vibratoDepth;
    uint8_t tremoloPos, tremoloSpeed, tremoloDepth;
    uint8_t waveControl; // low nibble vibrato, high nibble tremolo

    uint8_t loopRow, loopCounter;

    // Voice requests of this tick.
    bool startVoice;
    uint32_t startOffset;
};

// Song clock and the per-row flags the effects leave for the row's end.
struct Song {
    uint16_t timer; // counts down from speed to 1; the row starts when it reaches 0
    int32_t breakRow;
    bool jumpFlag, loopFlag;
    int32_t jumpOrder; // order position a Bxx names; -1 for none
    int32_t delayRequest, delayRepeats;
    int32_t songLength, restart; // as the original tracker reads the header
    bool linear;
    int32_t patternRows[256];
};

struct State {
    Song song;
    Channel channels[kMaxChannels];
};

// Puts the song at its start under FT2 rules: clamps the header's values the
// way the original tracker does and clears every channel.
void Start(Module& module, State& state, int32_t rate);
// Advances one tick and sets voices 0..channelCount-1 from it.
void PlayTick(Module& module, State& state, MixVoice* voices, int32_t rate);

} // namespace ft2
