// The engine's pieces as the rule tables and the files of each rule set share
// them; not part of the player's interface.
#pragma once

#include "player/engine/channel.h"
#include "player/engine/effects.h"
#include "player/engine/replay.h"
#include "player/engine/rules.h"

struct Context {
    ReplayState& state;
    const Module& module;
    SongState& song;
    const Rules& rules;
    int32_t rate;
};

inline int ChannelIndex(const Context& x, const Channel& c) {
    return static_cast<int>(&c - x.state.channels);
}

constexpr uint8_t kKeyOffNote = 97;
constexpr int kMaxVolume = 64;

// The skeleton (replay.cpp): every channel's row start or later tick, then its
// fadeout, envelopes, auto-vibrato and voice.
void PlayChannels(Context& x, bool readRow);
void SetBpm(Context& x, int32_t bpm);

// Volume commands both rule sets perform alike (replay.cpp). Under FT2 rules
// the volume stays in 0..64 anyway; a tinsel Cxx may leave more, which only a
// raise brings back to 64. The heard volume follows.
void RaiseVolume(Channel& c, int amount);
void LowerVolume(Channel& c, int amount);
void VolumeSlide(Channel& c, uint8_t speed); // x raises, else y lowers
void FineVolumeUp(Channel& c, int y);        // EAx, with its memory

// Song clocks (replay.cpp).
extern const SongClock kCountUpClock;   // tinsel
extern const SongClock kCountDownClock; // FT2

// Tinsel rules (tinsel_effects.cpp, tinsel_channel.cpp).
void TinselRowStart(Context& x, Channel& c, const uint8_t* cell);
void TinselVolumeColumn(Context& x, Channel& c);
void TinselEffects(Context& x, Channel& c);
void TinselEnvelopes(Context& x, Channel& c);
void TinselAutoVibrato(Context& x, Channel& c);
void TinselUpdateVoice(const Context& x, Channel& c, MixVoice& v);
// Pieces the tinsel files share.
void TinselRowEffect(Context& x, Channel& c);
void TinselVolumeColumnRowStart(Channel& c);

// FT2 rules (ft2_replay.cpp, ft2_effects.cpp, ft2_channel.cpp).
void Ft2RowStart(Context& x, Channel& c, const uint8_t* cell);
void Ft2VolumeColumn(Context& x, Channel& c);
void Ft2Effects(Context& x, Channel& c);
void Ft2Envelopes(Context& x, Channel& c);
void Ft2AutoVibrato(Context& x, Channel& c);
void Ft2UpdateVoice(const Context& x, Channel& c, MixVoice& v);
int32_t Ft2TickFrames(int32_t rate, int32_t bpm);
// Pieces the FT2 files share.
void StartNote(Context& x, Channel& c, uint8_t note, uint8_t effect, uint8_t parameter);
void KeyOff(Channel& c);
void RestoreVolume(Channel& c);
void ResetInstrument(Channel& c);
void SetSpeedOrTempo(Context& x, uint8_t parameter);
int32_t TickInRow(const Context& x);
uint8_t VolumeColumnTickZero(Channel& c);
void EffectTickZero(Context& x, Channel& c, uint8_t vcopy);
void TonePortaStep(const Context& x, Channel& c);
void SetEnvelopePosition(Channel& c, uint8_t position);

// Period slides with the original's limits, tested in 16 bits: up stops at 1,
// down at 31999 unless the period already escaped past 32767. Both rule sets
// slide Amiga periods this way.
void SlidePeriodUp(Channel& c, int amount);
void SlidePeriodDown(Channel& c, int amount);
