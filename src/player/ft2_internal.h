// Routines the FT2-rule engine's files share; not part of the player's interface.
#pragma once

#include "player/ft2_replay.h"

namespace ft2 {

struct Context {
    Module& module;
    State& state;
    int32_t rate;
};

constexpr uint8_t kKeyOffNote = 97;
constexpr int kMaxVolume = 64;

// Row start pieces (ft2_replay.cpp).
void StartNote(Context& x, Channel& c, uint8_t note, uint8_t effect, uint8_t parameter);
void KeyOff(Channel& c);
void RestoreVolume(Channel& c);
void ResetInstrument(Channel& c);
void SetSpeedOrTempo(Context& x, uint8_t parameter);
int32_t TickInRow(const Context& x);

// Effects (ft2_effects.cpp).
uint8_t VolumeColumnTickZero(Channel& c);
void VolumeColumnLaterTick(const Context& x, Channel& c);
void EffectTickZero(Context& x, Channel& c, uint8_t vcopy);
void EffectLaterTick(Context& x, Channel& c);
void TonePortaStep(const Context& x, Channel& c);

// Per tick after the effects (ft2_channel.cpp).
void UpdateChannel(Context& x, Channel& c);
void SetEnvelopePosition(Channel& c, uint8_t position);
void UpdateVoice(const Context& x, const Channel& c, MixVoice& v);

} // namespace ft2
