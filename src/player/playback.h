// An instance played on the wave output: the song at the device's rate, the
// ring filled by the mixing thread, and the safe way to reach the instance
// while it plays.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "player/output/audio_output.h"
#include "player/player.h"

// Plays module from its start through player on the device, at the device's
// rate; the mixing thread alone touches player until StopPlayback. False for
// a null player or module. Without a device it succeeds and nothing plays.
// The rule set is the song's own (SongRules), or the one given.
bool StartPlayback(Player* player, const Module* module);
bool StartPlayback(Player* player, const Module* module, RuleSet rules);
// How long StopPlayback waits for the mixing thread by default.
constexpr uint32_t kStopPlaybackTimeoutMs = 2000;
// Ends playback on the device and waits for the mixing thread, at most
// timeoutMs; false for null, and false when the thread has not answered in
// time: it may still use the player, the song and the ring, which stay as they
// are (a later call tries again).
bool StopPlayback(Player* player, uint32_t timeoutMs = kStopPlaybackTimeoutMs);
// Runs action on the playing instance between two blocks, on the thread that
// renders them, and waits for it (see ControlRing). False when nothing plays.
bool ControlPlayback(const std::function<void(Player&)>& action, bool rerender);
// Where the song was at the start of the block the device plays now; call it
// from a ControlPlayback action. The instance itself is up to a ring ahead.
PlayPosition HeardPosition();
// Keeps each channel's state (GetChannelState) with every block rendered,
// for meters that follow what is heard rather than the instance, which runs
// up to a ring ahead. Off until asked for, as it costs a little each block;
// call while nothing plays.
void RecordHeardChannels(bool record);
// The states of the song's channels in the block the device plays now, as
// they stood after rendering it; call from a ControlPlayback action. Empty
// when not recording.
std::vector<ChannelState> HeardChannels();
