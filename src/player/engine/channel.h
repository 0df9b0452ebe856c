// Replay state of one pattern channel and of the song clock, under either rule
// set: channel i drives voice i of the pool. Where the rule sets keep a value
// in different units, the field says so.
#pragma once

#include <cstdint>

#include "player/format/module.h"

struct MixVoice;

// What a tick changed, for the voice update.
enum : uint8_t {
    kUpdateFrequency = 1,
    kUpdateVolume = 2,
    kUpdatePanning = 4,
    kUpdateNoteStart = 8,
    // FT2 rules: a set event (note start, instrument number, set volume,
    // cut, key-off without envelope, tremor) asks the mixer for its 5 ms
    // ramp instead of one over the whole tick; it flags the volume too.
    kUpdateQuick = 16,
};

enum PortaDirection : uint8_t { kPortaNone, kPortaPeriodFalling, kPortaPeriodRising };

struct Channel {
    MixVoice* voice;
    uint8_t updateFlags;

    // Cell of the current row, kept for later ticks and note delay.
    uint8_t cellNote; // 0 none, 1..96, 97 key-off
    uint8_t cellInstrument;
    uint8_t volumeByte;
    uint8_t effect, parameter;
    uint8_t lastEffect, lastParameter; // of the previous row start

    uint8_t note;                 // last note, 1..96; 0 none
    uint8_t instrumentNumber;     // remembered for the next note, 1..128; 0 none
    const Instrument* instrument; // whose envelopes, fadeout and auto-vibrato run; null for none
    const Sample* sample;         // the one a note start plays; null for none
    int8_t sampleSlot = -1;       // of sample among the instrument's own (below its count); -1 for none
    int8_t relativeNote;
    int16_t finetune; // -128..127

    int32_t basePeriod;  // slid pitch; larger is lower
    int32_t notePeriod;  // tinsel: the cell's note, a tone portamento's target
    int32_t periodDelta; // tinsel: this tick's vibrato, arpeggio and auto-vibrato; positive raises
    int32_t outPeriod;   // FT2: plus arpeggio, vibrato or glissando, kept until rewritten
    int32_t finalPeriod; // FT2: plus auto-vibrato; 0 is silence
    int32_t tunedPeriod; // the heard period the voice's step was set for, once voiceTuned
    bool voiceTuned;
    int32_t baseVolume;                  // 0..64 as set by volume commands and slides
    int32_t outVolume;                   // FT2: heard, after tremolo and tremor
    int32_t sampleVolume, samplePanning; // FT2: defaults of the sample last started
    int32_t panning;                     // tinsel slides may carry it outside 0..255
    int32_t finalPanning;                // FT2: with the envelope
    int32_t finalVolume;                 // FT2: 0..256, with envelope, fadeout and global volume
    // FT2: the volume and panning the mixer last took; it takes new ones only
    // on a tick that flags them (kUpdateVolume, kUpdatePanning).
    int32_t handedVolume, handedPanning;

    bool keyOff;
    int32_t fadeoutLevel; // 65536 full
    int32_t fadeoutSpeed;

    // Envelope state; value and slope 16.16 (tinsel) or 8.8 (FT2).
    int32_t volEnvTick, volEnvPoint, volEnvValue, volEnvSlope;
    int32_t panEnvTick, panEnvPoint, panEnvValue, panEnvSlope;
    uint8_t volEnvDone, panEnvDone; // tinsel: the last point is reached
    int32_t envVolume;              // tinsel: 0..64
    int32_t envPanning;             // tinsel: 32 is neutral

    // Auto-vibrato: position 0..255; tinsel counts the sweep in ticks, FT2
    // ramps an 8.8 amplitude by a sweep step (0: none).
    int32_t autoVibratoPos;
    int32_t autoVibratoAmplitude, autoVibratoSweep;

    // Effect memories: a zero parameter reuses them.
    uint8_t portaUpMemory, portaDownMemory, finePortaUpMemory, finePortaDownMemory;
    uint8_t extraFineUpMemory, extraFineDownMemory;
    uint8_t volumeSlideMemory, fineVolumeUpMemory, fineVolumeDownMemory;
    uint8_t globalSlideMemory, panningSlideMemory, offsetMemory, tremorMemory;
    uint8_t retrigVolumeMemory, retrigIntervalMemory, retrigCounter;
    uint8_t tremorState; // bit 7 on-phase, low bits the count

    int32_t portaSpeed, portaTarget; // speed in period units a tick
    PortaDirection portaDirection;
    bool glissando;
    // Vibrato position: tinsel -32..31 (as int8_t) stepped by the speed x,
    // FT2 0..255 stepped by 4x.
    uint8_t vibratoPos, vibratoSpeed, vibratoDepth;
    uint8_t tremoloPos, tremoloSpeed, tremoloDepth;
    uint8_t waveControl; // low nibble vibrato, high nibble tremolo

    uint8_t loopRow, loopCounter;
    uint32_t startOffset; // FT2: where a voice started this tick begins
};

// The song clock and the per-row requests the effects leave for the row's end:
// everything about the song that changes while it plays (the Module is only read).
struct SongState {
    int32_t orderIndex, row; // the position playing
    int32_t tick;            // of the row: tinsel counts up to speed, FT2 is speed - timer
    int32_t speed;           // ticks a row; FT2: 0 once F00 stalls the row clock
    int32_t bpm;
    int32_t samplesPerTick;     // frames of a tick at bpm (of the tick playing, with a tempo factor)
    double tickCarry;           // with a tempo factor: the fraction of a frame the ticks so far left over
    int32_t samplesLeft;        // frames of the tick playing still to render
    int32_t globalVolume;       // 0..64
    uint16_t timer;             // FT2: counts down from speed to 1; the row starts when it reaches 0
    int32_t nextRow, nextOrder; // tinsel: where the next row start goes; -1 for on
    int32_t breakRow;           // FT2: Dxx, E6x
    bool jumpFlag, loopFlag;
    int32_t jumpOrder; // FT2: order position a Bxx names; -1 for none
    int32_t delayRequest, delayRepeats;
    int32_t songLength, restart; // as the rule set reads the header
    bool linear;
    // FT2: Gxx or Hxy ran during this tick's channel loop; the channels after
    // it hand the mixer their new volume, those before keep what they handed.
    bool globalVolumeSet;
    int32_t patternRows[256]; // rows each pattern number plays
};
