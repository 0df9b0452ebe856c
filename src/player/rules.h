// The player's two rule sets, how a song gets one, and every way they differ.
//
// A Player plays each song by one rule set, chosen by StartSong: tinsel rules
// for a song whose tracker name is "songc" (our song compiler), FT2 rules for
// every other XM file; a caller may force either (the tools' --rules).
//
// TINSEL RULES (replay.cpp, effects.cpp, envelope.cpp, voice.cpp) play the
// demo's song exactly as it was written for, sample for sample. They perform
// 0xy (linear songs only), 2xx, 3xx, 4xy, 5xy (its portamento hold only), 6xy,
// Axy, Cxx, E9x, EAx, Fxx and Kxx; the volume column (slides on every tick);
// envelopes, fadeout and auto-vibrato; the linear table (finetune / 2) and the
// Amiga table (14317456 / period, a positive vibrato offset raising the pitch);
// a linear pan law. Every other effect is read for its note, instrument and
// volume column only; F00 makes every tick a row start.
//
// FT2 RULES (ft2_replay.cpp, ft2_effects.cpp, ft2_channel.cpp) are the original
// tracker's: every effect 0-9 and A-Z it has, every E-subcommand and every
// volume-column command, with its tick-0 and later-tick timing and memories.
// The named rules below are where they part from tinsel rules; each names the
// FT2 routine that performs it.
//
//  Song and loader
//   SongClock          timer counts down from speed; the position moves at the
//                      end of a row's last tick (ft2::PlayTick, AdvancePosition)
//   HeaderLimits       speed 1..31, BPM 32..255, restart beyond the song -> 0,
//                      song length 0 -> 1, trailing 0xFF orders dropped (Start)
//   EmptyPatterns      a stored pattern of only empty cells, or of 0 rows, plays
//                      64 rows; rows beyond 256 are dropped (StoredPatternRows)
//   OutOfTableNotes    notes 98..254 are empty cells; real notes outside
//                      0..119 start nothing (CellNote, StartNote)
//   F00Stall           F00 stalls the row (the 16-bit timer wraps) (SetSpeedOrTempo)
//   BreakAndJump       Bxx, Dxx (BCD, > 63 -> 0); Bxx zeroes a break row to its
//                      left; a break into a row the next pattern lacks starts it
//                      at row 0 (EffectTickZero, AdvancePosition)
//   PatternLoop        per-channel E6x with the loop row carried into the next
//                      pattern (PatternLoop, AdvancePosition)
//   PatternDelay       EEx repeats run only later-tick actions, rightmost wins
//  Row start
//   DecisionTree       note, instrument, key-off, K00, E90, EDx, tone porta and
//                      volume-column porta as the original decides them (RowStart)
//   NoInstrumentAtStart notes before any instrument number are silent
//   LoneInstrument     an instrument number restores the playing sample's volume
//                      and panning and restarts the playing instrument (RestoreVolume,
//                      ResetInstrument)
//   KeyOffNoEnvelope   zeroes the channel volume; the sample runs on (KeyOff)
//   SlidAndHeard       separate slid and heard pitch and volume: vibrato,
//                      arpeggio, tremolo and tremor touch only the heard value
//  Effects
//   ArpeggioCountsDown arpeggio on the tick countdown, snapped to a semitone,
//                      index capped (Arpeggio)
//   SeparateMemories   1xx, 2xx, E1x, E2x, X1x, X2x, EAx, EBx, Hxy, Pxy, Rxy, Txy,
//                      9xx each keep their own memory
//   PeriodLimits       slides stop at 1 and 31999, tested in 16 bits
//   Waveforms          sine table, ramp, square for vibrato and tremolo (E4x, E7x),
//                      amplitude (w * depth) >> 5 with no bits cleared (VibratoStep)
//   TonePortaQuirk     the direction memory that jumps to the target after a
//                      2xx pushed past it; volume-column Fy shares 3xx's speed
//                      and steps twice with it; glissando (TonePortaStep)
//   VolumeColumnTiming 6y, 7y, By, Dy, Ey only on later ticks; 8y, 9y only on
//                      tick 0; 0x51..0x5F set 64; D0 lands on 0 (VolumeColumn*)
//   SampleOffset       9xx past the sample end silences the voice
//   RetrigAndTremor    Rxy with its tick-0 count and volume-column override; Txy
//   NoteDelayCutKeyOff EDx, ECx, Kxx on their tick; E9x resets the instrument
//   GlobalVolume       Gxx, Hxy, heard one tick later by channels to the left
//   EnvelopePosition   Lxx, moving the panning envelope on the volume
//                      envelope's sustain flag (SetEnvelopePosition)
//  Per tick
//   Envelopes          8.8 envelopes, sustain and loop as the original, key-off
//                      rewinding the tick, loop end = sustain stops looping
//   AutoVibrato        position advanced before use, rounded sine, sweep as an
//                      amplitude ramp that freezes at key-off
//   FinalVolume        (env * vol * fadeout) >> 18 * global >> 7, fadeout from 32768
//   PanLaw             envelope panning (pan + ((e - 8192) * room * 8) >> 16) and
//                      square-root gains (UpdateVoice)
//   Frequencies        linear 8363 * 2^((4608 - p) / 768), finetune >> 3 steps of
//                      4 units; Amiga table generated as the original's
//
// Where the choice among readings of the original was ours:
//   - Rxy on tick 0 counts when the volume column left 0, also with a note.
//   - K00 with an instrument number remembers the number for later notes.
//   - E7x with bit 2 keeps the tremolo position (the original froze).
//   - Volume bytes 0x51..0x5F set 64; the instrument mute byte is not read.
//
// Known remaining departures from the original under FT2 rules:
//   - The mixer is ours: 32.32 steps from the exact frequency rather than the
//     original's integer step, our gain ramp instead of its 5 ms quick ramps,
//     and no fade-out of a cut note's tail on a second voice.
//   - Linear periods above 9216 give ever lower frequencies instead of the
//     original's 16-bit wraparound to high ones.
//   - A break or loop to a row the next pattern lacks starts it at row 0 (the
//     original plays one row of undefined content first).
//   - Ticks last floor(2.5 * rate / BPM) frames, not the original's rounding.
#pragma once

struct Module;

enum class RuleSet : unsigned char { Tinsel, Ft2 };

// Tracker name of the songs that keep tinsel rules.
constexpr const char kTinselTracker[] = "songc";

// Tinsel rules for "songc" (trailing spaces ignored), FT2 rules for any other name.
RuleSet RulesForTracker(const char* trackerName);
// The rule set a loaded song plays and is measured by: the forced one, else
// the one its tracker name calls for.
RuleSet SongRules(const Module& module);
void ForceRules(Module& module, RuleSet rules);
// "tinsel" or "ft2", as the tools print and accept them.
const char* RuleSetName(RuleSet rules);
// Reads "tinsel" or "ft2"; false for anything else.
bool ParseRuleSet(const char* text, RuleSet* rules);
