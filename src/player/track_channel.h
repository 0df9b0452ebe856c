// Replay state of one pattern channel; channel i drives voice i of the pool.
#pragma once

#include <cstdint>

#include "player/module.h"

struct MixVoice;

enum : uint8_t {
    kUpdateFrequency = 1,
    kUpdateVolume = 2,
    kUpdatePanning = 4,
    kUpdateNoteStart = 8,
};

struct TrackChannel {
    uint8_t note; // 0-based: 0 is C-0
    uint8_t updateFlags;
    MixVoice* voice;
    int32_t index;
    int32_t period; // linear: 64 units per semitone, larger is lower
    int32_t volume;
    int32_t panning; // slides may carry it outside 0..255
    int32_t volumeDelta;
    int32_t periodDelta;
    int32_t volEnvTick;
    int32_t volEnvPoint;
    int32_t volEnvValue; // 16.16
    int32_t envVolume;
    int32_t volEnvStep; // 16.16
    uint8_t volEnvDone;
    int32_t panEnvTick;
    int32_t panEnvPoint;
    int32_t panEnvValue;
    int32_t envPanning; // 32 is neutral
    int32_t panEnvStep;
    uint8_t panEnvDone;
    int32_t fadeoutLevel; // 65536 full
    int32_t autoVibratoPos;
    int32_t autoVibratoSweep;
    uint8_t keyOff;
    uint8_t instrument; // 0-based
    int32_t notePeriod;
    uint8_t lastEffect;
    uint8_t portaDownSpeed;
    uint8_t volumeSlideSpeed; // shared by Axy and 6xy
    int32_t portaTarget;
    uint8_t portaSpeed;
    int8_t vibratoPos; // -32..31
    uint8_t vibratoSpeed;
    uint8_t vibratoDepth;
    uint8_t tremoloPos;
    uint8_t waveControl;
    uint8_t fineVolumeUpSpeed;
};
