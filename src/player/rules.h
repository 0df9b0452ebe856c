// The player's two rule sets, and how a song gets one.
//
// TINSEL rules: the engine of replay.cpp, effects.cpp, envelope.cpp and
// voice.cpp, exactly as the demo's song was written for. Songs whose tracker
// name is "songc" (our song compiler) play by it, so they render unchanged.
//
// FT2 rules: the engine of ft2_replay.cpp, ft2_effects.cpp and ft2_channel.cpp,
// the original tracker's behaviour. Every other XM file plays by it.
//
// (The list of named differences follows below.)
#pragma once

enum class RuleSet : unsigned char { Tinsel, Ft2 };

// Tracker name of the songs that keep tinsel rules.
constexpr const char kTinselTracker[] = "songc";

// Tinsel rules for "songc" (trailing spaces ignored), FT2 rules for any other name.
RuleSet RulesForTracker(const char* trackerName);
// "tinsel" or "ft2", as the tools print and accept them.
const char* RuleSetName(RuleSet rules);
// Reads "tinsel" or "ft2"; false for anything else.
bool ParseRuleSet(const char* text, RuleSet* rules);
