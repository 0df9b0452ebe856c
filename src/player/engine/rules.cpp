#include "player/engine/rules.h"

#include <cstring>

#include "player/engine/engine.h"
#include "player/format/module.h"
#include "player/engine/replay.h"

RuleSet RulesForTracker(const char* trackerName) {
    return trackerName != nullptr && std::strcmp(trackerName, kTinselTracker) == 0 ? RuleSet::Tinsel
                                                                                   : RuleSet::Ft2;
}

RuleSet SongRules(const Module& module, std::optional<RuleSet> forced) {
    return forced ? *forced : RulesForTracker(module.trackerName);
}

const char* RuleSetName(RuleSet rules) {
    return rules == RuleSet::Tinsel ? "tinsel" : "ft2";
}

bool ParseRuleSet(const char* text, RuleSet* rules) {
    if (text == nullptr || rules == nullptr) {
        return false;
    }
    if (std::strcmp(text, "tinsel") == 0) {
        *rules = RuleSet::Tinsel;
        return true;
    }
    if (std::strcmp(text, "ft2") == 0) {
        *rules = RuleSet::Ft2;
        return true;
    }
    return false;
}

// The two rule sets side by side, one line per rule of rules.h.
const Rules kTinselRules = {
    .clock = &kCountUpClock,
    .headerLimits = false,
    .emptyPatterns = false,
    .channelAtStart = {.remembered = 1, .panning = 0, .fadeoutLevel = 0},
    .tickFrames = FramesPerTick,
    .rowStart = TinselRowStart,
    .volumeColumn = TinselVolumeColumn,
    .effects = TinselEffects,
    .envelopes = TinselEnvelopes,
    .autoVibrato = TinselAutoVibrato,
    .updateVoice = TinselUpdateVoice,
    .mixer = VoiceMixer::Float,
};

const Rules kFt2Rules = {
    .clock = &kCountDownClock,
    .headerLimits = true,
    .emptyPatterns = true,
    .channelAtStart = {.remembered = 0, .panning = 128, .fadeoutLevel = 65536},
    .tickFrames = Ft2TickFrames,
    .rowStart = Ft2RowStart,
    .volumeColumn = Ft2VolumeColumn,
    .effects = Ft2Effects,
    .envelopes = Ft2Envelopes,
    .autoVibrato = Ft2AutoVibrato,
    .updateVoice = Ft2UpdateVoice,
    .mixer = VoiceMixer::Ft2,
};
