// A player instance: everything one playing song needs, so that several songs
// can play at once in one process, each on its own thread if need be.
//
// An instance plays the Module it is given from StartSong on; it does not own
// the Module, which must stay loaded until playback of it has ended. Routines
// that take a Player touch only that instance, so two instances on two
// threads need no lock; one instance is used by one thread at a time.
#pragma once

#include <cstdint>

#include "player/ft2_replay.h"
#include "player/mixer.h"
#include "player/module.h"
#include "player/rules.h"
#include "player/track_channel.h"

struct Player {
    Module* module; // the song playing; null before StartSong
    TrackChannel TrackChannels[kMaxChannels];
    MixVoice VoicePool[kVoiceCount];
    int32_t mixingRate; // output frames per second
    int32_t rampLength; // frames over which a gain change glides
    float rampReciprocal;
    RuleSet rules;  // which engine plays the song, chosen by StartSong
    ft2::State ft2; // the song's state under FT2 rules
};

// Sets the output rate and clears the instance; false for a rate below 1.
bool InitPlayer(Player& player, int32_t rate);
// Resets module for playback from its first order and binds it to the
// instance's channels and voices; false for a null module. The rule set is
// the one its tracker name calls for (rules.h), or the one given.
bool StartSong(Player& player, Module* module);
bool StartSong(Player& player, Module* module, RuleSet rules);
// Plays frames stereo frames into destination (zeroed first): a tick
// whenever the frames of the last one are used up, the voices mixed between.
void RenderFrames(Player& player, float* destination, int32_t frames);
