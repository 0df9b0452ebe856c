// Per-channel effect helpers the replay engine runs within a tick: pitch
// glides and vibratos, envelopes, the volume column and the effect table.
#pragma once

#include <cstdint>

#include "player/track_channel.h"

struct Instrument;
struct Player;

void TonePortamentoStep(TrackChannel& channel);
void ApplyVibrato(TrackChannel& channel);
void AdvanceVibrato(TrackChannel& channel);
void ApplyAutoVibrato(TrackChannel& channel, const Instrument& instrument);

// One tick of a volume or panning envelope; raises flagBit in updateFlags.
void StepEnvelope(TrackChannel& channel, int32_t& tick, int32_t& point, int32_t& value, int32_t& step,
                  uint8_t& done, int32_t& output, const EnvelopePoint* points, uint8_t pointCount,
                  uint8_t type, uint8_t sustain, uint8_t loopStart, uint8_t loopEnd, uint8_t flagBit);
void StepVolumeEnvelope(TrackChannel& channel, const Instrument& instrument);
void StepPanningEnvelope(TrackChannel& channel, const Instrument& instrument);

void ApplyVolumeColumn(TrackChannel& channel, uint8_t volume);
void ApplyVolumeColumnTick(TrackChannel& channel, uint8_t volume);

// The effect column on a row start and on the later ticks of the row.
void ApplyRowEffect(TrackChannel& channel, Player& player, uint8_t effect, uint8_t parameter);
void ApplyTickEffect(TrackChannel& channel, Player& player, uint8_t effect, uint8_t parameter);
