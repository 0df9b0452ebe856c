// A player instance: everything one playing song needs, so that several songs
// can play at once in one process, each on its own thread if need be.
//
// An instance plays the Module it is given from StartSong on; it does not own
// the Module, which must stay loaded until playback of it has ended. Routines
// that take a Player touch only that instance, so two instances on two
// threads need no lock; one instance is used by one thread at a time.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "player/engine/replay.h"
#include "player/format/module.h"
#include "player/mix/mixer.h"

// What a channel is sounding.
struct ChannelState {
    bool active;      // a voice is playing a sample for it
    int note;         // 1..96 as the file stores notes (C-0 = 1); 0 for none
    int instrument;   // from 1; 0 for none
    int sample;       // of the instrument, from 0; -1 for none
    int volume;       // heard, 0..64
    int panning;      // heard, 0..255
    double frequency; // Hz, with the pitch factor (under FT2 rules, of the step the voice plays at)
    // Peak of the channel's own output over the last block rendered (levelFrames),
    // 0..1 of the 16-bit full scale, before the stereo separation: the
    // largest entry of the sample's blocks of 256 (kPeakBlock) that the
    // stretch played touches, at the voice's gains (of a sample the loaders
    // did not make, some points of the stretch).
    float levelLeft;
    float levelRight;
    bool operator==(const ChannelState&) const = default;
};

struct Player : ReplayState {
    int32_t rampLength; // frames over which a gain change glides; 0 with Ramp::Off
    float rampReciprocal;
    // Mixing, kept across StartSong: InitPlayer sets each rule set's own.
    Interpolation interpolation;
    Ramp ramp;
    // Control, kept across StartSong.
    std::bitset<kMaxChannels> muted; // bit i mutes channel i
    int32_t separation;              // stereo separation in percent, 0..200; 100 as mixed
    int32_t amplification;           // FT2 rules: the original's 1..32, 4 unless set
    int32_t repeatCount;             // passes through the song before it ends; 0 forever
    int64_t endFrame;                // frame at which the song ends, with a repeat count
    bool paused;                     // the song stands still and only silence is rendered
    bool ended;                      // the repeat count is used up: only silence follows
    // The subsong playing (SelectSubsong; StartSong starts subsong 0) and its first order.
    int32_t subsong;
    int32_t subsongStart;
    // Frames the channel levels look back over: those of the last
    // RenderFrames call, or those RenderToTickEnd rendered since whoever
    // renders by ticks set this to 0 at a block's start.
    int32_t levelFrames;
    // Bumped by every call that changes the instance (a render, a seek, a
    // setting), and by an owner that sets a field itself (levelFrames
    // aside, which the kept states check): states asked since the last
    // bump still hold.
    uint64_t changes;
    // The song's channels as asked one by one (GetChannelState): made all
    // at once by the first ask after a change, copied out by the rest.
    mutable struct {
        uint64_t changes;    // the instance's when made
        int32_t levelFrames; // the instance's when made: its owner may set it
        int32_t count;       // channels made, the song's; 0 for none
        ChannelState states[kMaxChannels];
    } asked;
};

// Where a song goes when played from its start.
struct SongLength {
    int64_t frames;     // until playback first comes back to a row it has played
    int64_t loopFrames; // of the second pass, from there; 0 when the song stops (F00)
    int32_t loopOrder;  // the row it comes back to
    int32_t loopRow;
    bool bounded; // false: the walk gave up (a damaged file), frames is a lower bound
};

struct PlayPosition {
    int32_t order;
    int32_t pattern;
    int32_t row;
    int32_t tick;
    int32_t speed; // ticks a row
    int32_t bpm;
    int64_t frame; // frames played since the start
    double seconds;
};

// Sets the output rate and clears the instance; false for a rate below 1.
bool InitPlayer(Player& player, int32_t rate);
// Starts module from its first order in the instance, which binds it to
// its channels and voices and keeps all that changes as it plays (the song
// is only read, so several instances may play one at once); false for a
// null module. The rule set is
// the song's own (SongRules: forced, or by its tracker name), or the one given.
bool StartSong(Player& player, const Module* module);
bool StartSong(Player& player, const Module* module, RuleSet rules);
// Plays frames stereo frames into destination (zeroed first): a tick
// whenever the frames of the last one are used up, the voices mixed between.
// Returns the frames of song; the rest, after the song's end, stay silent.
int32_t RenderFrames(Player& player, float* destination, int32_t frames);
// As RenderFrames, but ends where the tick it is in or starts ends: the
// frames up to there, or fewer at the song's end. The mixer's runs break at
// ticks either way, so such calls add up to the samples of one RenderFrames
// call, and a caller can note the position after every tick.
int32_t RenderToTickEnd(Player& player, float* destination, int32_t frames);
// Adds the instance's first kMixedVoices voices into destination.
void MixVoices(Player& player, float* destination, int32_t frames);

// The length of module played from its start at rate by its own rule set
// (SongRules), or the one given. Reads only the song's records,
// not its playback state.
SongLength MeasureSong(const Module& module, int32_t rate);
SongLength MeasureSong(const Module& module, int32_t rate, RuleSet rules);
// Frames of passes passes through the song, the later ones from where it
// comes back. Each is walked as played: a pass entered at another speed or
// tempo than the one before it lasts differently. A limit of 0 or more gives
// the walk up once it has passed that many frames (cheaper where only a
// render's first limit frames are wanted): the result is then limit or more.
int64_t MeasurePasses(const Module& module, int32_t rate, int64_t passes, int64_t limit = -1);
int64_t MeasurePasses(const Module& module, int32_t rate, RuleSet rules, int64_t passes, int64_t limit = -1);
PlayPosition CurrentPosition(const Player& player);
// Where the next frame comes from: after StartSong or a seek, the row the
// next tick starts, at tick 0; else CurrentPosition.
PlayPosition UpcomingPosition(const Player& player);
// Plays the song from the start of row at order, as reached by playing it
// from its start with no sound (voices then start silent); a position
// playback never reaches is jumped to directly. False without a song or
// for a position outside it. length: the song's as MeasureSong(player)
// gives it, where the caller keeps it; measured anew without it.
bool SeekTo(Player& player, int32_t order, int32_t row, const SongLength* length = nullptr);
// Plays the song from its start without sound to the start of the row that
// is playing at frame, in whichever pass that is, and lands there as SeekTo
// does. False without a song, for a frame below 0, or with a repeat count for
// a frame at or past the song's end (playback then stays as it was).
bool SeekToFrame(Player& player, int64_t frame);
// Plays the song count times through (the later passes from where it comes
// back to), then ends; 0 plays forever. Needs the song: call after StartSong.
// Playback already past the new end has ended; short of it, it plays on.
void SetRepeatCount(Player& player, int32_t count);
// The amplification of songs played by FT2 rules, as the original tracker's
// (1 to 32; 4, its own, until set); kept across StartSong. False, changing
// nothing, outside that range.
bool SetAmplification(Player& player, int32_t amplification);
// How the voices read their samples (Interpolation::Linear: the rule set's
// own mixing) and ramp their gains. Under FT2 rules any other choice mixes
// with the float mixer, the original's own with linear interpolation and its
// ramps; a change there is heard from each channel's next note.
void SetInterpolation(Player& player, Interpolation interpolation);
void SetRamp(Player& player, Ramp ramp);
// Mutes the first 32 channels whose bits are set, and unmutes the rest of
// them; a solo is the complement of its channels. Channels from 32 on keep
// their setting (SetChannelMuted).
void SetMutedChannels(Player& player, uint32_t mask);
// Mutes or unmutes one channel, 0 to 126 (and of the song's, with a song);
// kept across StartSong. False, changing nothing, for any other.
bool SetChannelMuted(Player& player, int channel, bool muted);

// A tune of a song that packs several: subsong 0 starts at order 0; each
// next one at the first order that no earlier one plays, and runs as
// playing from there plays it, until it comes back to a row it has played
// or stops (the walk of MeasureSong). Lengths at a tempo factor of 1.
struct Subsong {
    int32_t startOrder;
    int64_t lengthFrames; // until it comes back or stops
    int64_t loopFrames;   // of the second pass from where it comes back; 0 when it stops
};
std::vector<Subsong> FindSubsongs(const Module& module, int32_t rate, RuleSet rules);
// Plays subsong index of the player's song from its start, at its rule set;
// lengths, seeks and repeat counts then describe that subsong. False, changing
// nothing, without a song or for an index outside its subsongs.
bool SelectSubsong(Player& player, int32_t index);
// The same from the subsongs FindSubsongs gave for the player's song and rule
// set, which a caller that keeps them passes: finding them walks the song
// once for each, too long for a mixing thread between two blocks.
bool SelectSubsong(Player& player, const std::vector<Subsong>& subsongs, int32_t index);
int32_t CurrentSubsong(const Player& player);
// What the instance plays: its subsong at its tempo factor, walked as
// MeasureSong walks a song (seeks, repeat counts and the library use it).
SongLength MeasureSong(const Player& player);
int64_t MeasurePasses(const Player& player, int64_t passes, int64_t limit = -1);

// Sound settings, kept across StartSong and heard within the block rendered
// next; each default leaves the output as it is without them. False,
// changing nothing, outside the range.
// Stereo separation 0..200 %: 100 as mixed, 0 both sides their mean, 200
// the difference between the sides doubled.
bool SetStereoSeparation(Player& player, int32_t percent);
// 0.25..4: the ticks last 1 / factor of their frames (the song plays
// faster without changing pitch); a repeat count's end is measured anew.
bool SetTempoFactor(Player& player, double factor);
// 0.25..4: every voice plays at factor times its frequency, time unchanged.
bool SetPitchFactor(Player& player, double factor);

// All zero (sample -1) for a channel outside the song, or without one.
// The first ask after a change tells every channel of the song (as
// GetChannelStates does) and keeps them in the instance; the rest copy
// them. Asking thus writes the instance: one thread at a time, as for
// every other call.
// AskChannelState: GetChannelState's ask where no state is kept.
const ChannelState& AskChannelState(const Player& player, int channel);
// Whether the states kept by the last ask still hold.
inline bool KeptStatesHold(const Player& player) {
    return player.asked.changes == player.changes && player.asked.levelFrames == player.levelFrames;
}
inline ChannelState GetChannelState(const Player& player, int channel) {
    const auto& asked = player.asked;
    const bool kept =
        KeptStatesHold(player) && static_cast<unsigned>(channel) < static_cast<unsigned>(asked.count);
    const ChannelState& state = kept ? asked.states[channel] : AskChannelState(player, channel);
    // Copied whole, padding and all: fewer moves than field by field.
    ChannelState copy;
    __builtin_memcpy(&copy, &state, sizeof copy);
    return copy;
}
// The first count channels' states at once, as GetChannelState tells each,
// for less than asking each alone: how many of the song's were written.
int GetChannelStates(const Player& player, ChannelState* states, int count);
