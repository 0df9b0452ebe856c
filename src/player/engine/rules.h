// The player's two rule sets, how a song gets one, and every way they differ.
//
// A Player plays each song by one rule set, chosen by StartSong: tinsel rules
// for a song whose tracker name is "songc" (our song compiler), FT2 rules for
// every other XM file; a caller may force either (the tools' --rules).
//
// One engine plays both (replay.cpp): the song clock, a row start or a later
// tick for each channel, then its fadeout, envelopes, auto-vibrato and voice.
// Each place where the rule sets part is one member of Rules below, consulted
// at one place in the engine (the mixer also where the instance mixes, seeks
// and mutes); kTinselRules and kFt2Rules (rules.cpp) fill them
// in side by side. The pieces named Tinsel* live in tinsel_*.cpp, the Ft2*
// ones in ft2_*.cpp. What both do alike is one piece of code: the skeleton and
// its cells, the start-up, the fadeout, volume raises, lowers, slides and EAx
// (replay.cpp), Amiga period slides with their limits (ft2_effects.cpp), and
// the frequency tables and semitone search (periods.h).
//
// TINSEL RULES play the demo's song exactly as it was written for, sample for
// sample. They perform 0xy, 2xx, 3xx, 4xy, 5xy (its portamento hold only),
// 6xy, Axy, Cxx, E9x, EAx, Fxx and Kxx; the volume column (slides on every
// tick); envelopes, fadeout and auto-vibrato; the linear table (finetune / 2)
// and the Amiga table (14317456 / period, a positive vibrato offset raising
// the pitch); a linear pan law. In an Amiga song, 2xx stops at the FT2 limit
// and the arpeggio's notes come from the Amiga table; vibrato, auto-vibrato
// and tone portamento move the period in Amiga units. Every other effect is
// read for its note, instrument and volume column only; F00 makes every tick
// a row start.
//
// FT2 RULES are the original tracker's: every effect 0-9 and A-Z it has,
// every E-subcommand and every volume-column command, with its tick-0 and
// later-tick timing and memories. A MOD file plays by them too: the loader
// makes it the records the original's loader makes (mod_loader.cpp), and
// nothing here knows where a song came from.
//
// The rules, member by member (tinsel / FT2):
//  clock            the song clock. Tinsel: the tick counts up, the next row is
//                   chosen at a row start, F00 makes every tick a row start, a
//                   row not stored skips the tick. FT2: the timer counts down
//                   from speed, the position moves at the end of a row's last
//                   tick with Bxx, Dxx (BCD, > 63 -> 0; Bxx zeroes a break row
//                   to its left), E6x (per channel, the loop row carried into
//                   the next pattern) and EEx (repeats run only later-tick
//                   actions, rightmost wins); F00 stalls the row (the 16-bit
//                   timer wraps); a break or loop into a row the next pattern
//                   lacks starts it at row 0.
//  headerLimits     FT2: speed 1..31, BPM 32..255, restart beyond the song -> 0
//                   (a MOD's restart equal to its length is kept), song length
//                   0 -> 1, trailing 0xFF orders dropped. Tinsel: the header as
//                   stored.
//  emptyPatterns    FT2: a stored pattern of only empty cells, or of 0 rows,
//                   plays 64 rows; rows beyond 256 are dropped. Tinsel: the
//                   stored rows.
//  channelAtStart   a channel at play start. Tinsel: remembers the first
//                   instrument and C-0, panning 0, fadeout level 0 (a note
//                   without an instrument number stays silent). FT2: remembers
//                   no instrument (notes before any instrument number are
//                   silent), panning centre, fadeout level full.
//  tickFrames       frames of a tick: tinsel through single-precision
//                   constants, FT2 (2 * rate + rate / 2) / BPM.
//  rowStart         a channel's row start. Tinsel: the cell's note, instrument,
//                   volume column, key-off and tick-0 effects in a fixed order;
//                   an instrument number takes its own sample's defaults; a
//                   key-off without volume envelope silences until a new
//                   instrument. FT2: the original's decision tree (note,
//                   instrument, key-off, K00, E90, EDx, tone porta and
//                   volume-column porta); a lone instrument number restores the
//                   playing sample's volume and panning and restarts the playing
//                   instrument; a key-off without envelope zeroes the volume, the
//                   sample runs on; notes 98..254 are empty cells, real notes
//                   outside 0..119 start nothing; 9xx past the sample end
//                   silences; 0x51..0x5F set 64; 8y, 9y only on tick 0.
//  volumeColumn     later ticks of the volume column. Tinsel: slides every
//                   tick. FT2: 6y, 7y, By, Dy, Ey only on later ticks, D0 lands
//                   on 0, pan slides clamp; Fy shares 3xx's speed.
//  effects          later ticks of the effect column. FT2 keeps the slid and the
//                   heard pitch and volume apart (vibrato, arpeggio, tremolo,
//                   tremor touch only the heard one); arpeggio on the tick
//                   countdown, index capped, its offset ticks snapped to a
//                   semitone, its base ticks at the period as it is; 1xx, 2xx,
//                   E1x, E2x, X1x, X2x, EAx, EBx, Hxy, Pxy, Rxy, Txy, 9xx keep
//                   their own memories; slides stop at 1 and 31999 tested in 16
//                   bits; sine, ramp and square waveforms with amplitude
//                   (w * depth) >> 5; the tone-porta direction memory and
//                   glissando; Rxy with its tick-0 count, Txy; EDx, ECx, Kxx on
//                   their tick; E9x resets the instrument; Lxx moves the panning
//                   envelope on the volume envelope's sustain flag. Tinsel: the
//                   effects listed above, vibrato with its low bits cleared.
//  envelopes        tinsel: 16.16 steps, done at the last point, off with fewer
//                   than 2 points. FT2: 8.8, key-off rewinding the tick, loop
//                   end = sustain stops looping, on by the type bit alone (0
//                   points read the stored first one).
//  autoVibrato      tinsel: sweep as a depth ramp in ticks, position advanced
//                   after use. FT2: position advanced before use, rounded sine,
//                   sweep as an amplitude ramp that freezes at key-off.
//  updateVoice      tinsel: volume product in double, linear pan law, voice set
//                   only where the tick changed something; linear frequency
//                   8363 * 2^((4608 - p) / 768) with a single-precision 1/768.
//                   FT2: (env * vol * fadeout) >> 19 * global >> 7, envelope
//                   panning (pan + ((e - 8192) * room * 8) >> 16) kept in 8
//                   bits (256 wraps to 0); the period goes to the mixer every
//                   tick, the volume and panning only on a tick that flags
//                   them (set and slide commands, tremolo, tremor, note starts,
//                   an instrument's restore, a running envelope or fadeout;
//                   Gxx and Hxy flag the channels from theirs on, so those to
//                   the left keep what they handed before the change), quick
//                   when a set event asked for it; the volume column a delayed
//                   note or retrig takes again, and a retrig's volume, flag
//                   nothing; linear periods with finetune >> 3 steps of 4 units.
//  mixer            tinsel: ours (mixer.h), in floats: 32.32 steps from the
//                   frequency, 0..127 gains of 255 gliding over 128 frames at
//                   44.1 kHz, one voice a channel. FT2: the original's
//                   (ft2_mixer.h), in its integers: 16.16 steps from the
//                   period (linear ones wrapping in 16 bits above 9216), two
//                   voices a channel with the fade-out of a replaced note, the
//                   5 ms ramp for set events and one over the whole tick for
//                   every other change, gains from the square-root pan table
//                   and the amplification (1..32, 4 unless set), its
//                   interpolation, a 32-bit sum shifted and clipped.
//
// Where the choice among readings of the original was ours:
//   - Rxy on tick 0 counts when the volume column left 0, also with a note.
//   - K00 with an instrument number remembers the number for later notes.
//   - E7x with bit 2 keeps the tremolo position (the original froze).
//   - Volume bytes 0x51..0x5F set 64; the instrument mute byte is not read.
//
// The one departure from the original under FT2 rules:
//   - Stereo samples (type bit 5, written by later trackers) play in stereo,
//     the file's left data on the left side, its right data on the right, as
//     the trackers that write them play them. The original has no stereo: it
//     reads the bytes as one mono sample and, taking the bit for its own
//     fade-out flag, cuts the voice after one tick. No file it writes carries
//     the bit.
//
// Beyond the original's limits, where it refuses a file or reads memory it
// never wrote:
//   - Songs of 33 to 127 channels, which later trackers write, play; the
//     original does not load them.
//   - A file without the XM text and without a MOD signature loads as a
//     15-sample MOD only when its header looks like one; the original takes
//     any bytes so. A song of 0 channels is refused.
//   - MOD sample data the file lacks is silence.
//   - Cells past the end of a pattern's packed data are empty; the original
//     reads them from whatever memory follows its buffer.
//   - A break or loop to a row the next pattern lacks starts it at row 0 (the
//     original plays one row of undefined content first).
//   - A sample with type bit 2 and a ping-pong loop starts forward; the
//     original starts it backward, reading before the loop start where the
//     loop does not start at 0.
//   - A loop of no length plays the sample once, and a loop past the sample's
//     end stops at it (the loader's choice; what the original's loader makes
//     of such headers was not pinned down).
//
// Not a matter of the sound:
//   - The reported row runs one row ahead during a row's last tick: the song
//     clock moves on at the end of that tick, before its frames are mixed.
#pragma once

#include <optional>

#include <cstdint>

struct Channel;
struct Context;
struct MixVoice;
struct Module;
struct NextRow;
struct ReplayState;

enum class RuleSet : unsigned char { Tinsel, Ft2 };

// Which mixer sums a rule set's voices.
enum class VoiceMixer : unsigned char { Float, Ft2 };

// Tracker name of the songs that keep tinsel rules.
constexpr const char kTinselTracker[] = "songc";

// Tinsel rules for "songc" (the loader has removed the name's trailing
// spaces), FT2 rules for any other name.
RuleSet RulesForTracker(const char* trackerName);
// The rule set a loaded song plays and is measured by: the one a caller
// forces, else the one its tracker name calls for.
RuleSet SongRules(const Module& module, std::optional<RuleSet> forced = std::nullopt);
// "tinsel" or "ft2", as the tools print and accept them.
const char* RuleSetName(RuleSet rules);
// Reads "tinsel" or "ft2"; false for anything else.
bool ParseRuleSet(const char* text, RuleSet* rules);

// The song clock: its tick, where it goes next, and what it reports.
struct SongClock {
    // One tick: reads a row or not, plays every channel (PlayChannels), and
    // moves the position.
    void (*tick)(Context& x);
    // False when the next tick does not start a row.
    bool (*nextRowStart)(const ReplayState& player, NextRow* next);
    // Makes the next tick start row at order.
    void (*jumpToRow)(ReplayState& player, int32_t order, int32_t row);
    // The tick of the row that played last.
    int32_t (*tickPlayed)(const ReplayState& player);
    // True once F00 has stopped the row clock.
    bool (*stalled)(const ReplayState& player);
};

// Every difference between the rule sets; see the list above.
struct Rules {
    const SongClock* clock;
    bool headerLimits;
    bool emptyPatterns;
    struct {
        uint8_t remembered; // instrument number and note; 0 for none
        int32_t panning, fadeoutLevel;
    } channelAtStart;
    int32_t (*tickFrames)(int32_t rate, int32_t bpm);
    void (*rowStart)(Context& x, Channel& c, const uint8_t* cell);
    void (*volumeColumn)(Context& x, Channel& c);
    void (*effects)(Context& x, Channel& c);
    void (*envelopes)(Context& x, Channel& c);
    void (*autoVibrato)(Context& x, Channel& c);
    void (*updateVoice)(const Context& x, Channel& c, MixVoice& v);
    VoiceMixer mixer;
};

extern const Rules kTinselRules;
extern const Rules kFt2Rules;

inline const Rules& RulesOf(RuleSet set) {
    return set == RuleSet::Tinsel ? kTinselRules : kFt2Rules;
}
