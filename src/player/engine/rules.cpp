#include "player/engine/rules.h"

#include <cstring>

#include "player/engine/engine.h"
#include "player/format/module.h"
#include "player/engine/replay.h"

RuleSet RulesForTracker(const char* trackerName) {
    if (trackerName == nullptr) {
        return RuleSet::Ft2;
    }
    // The name is padded with spaces or NULs to 20 characters.
    char name[21] = {};
    for (int i = 0; i < 20 && trackerName[i] != '\0'; ++i) {
        name[i] = trackerName[i];
    }
    for (int i = 19; i >= 0 && (name[i] == ' ' || name[i] == '\0'); --i) {
        name[i] = '\0';
    }
    return std::strcmp(name, kTinselTracker) == 0 ? RuleSet::Tinsel : RuleSet::Ft2;
}

RuleSet SongRules(const Module& module) {
    if (module.forcedRules != 0) {
        return static_cast<RuleSet>(module.forcedRules - 1);
    }
    return RulesForTracker(module.trackerName);
}

void ForceRules(Module& module, RuleSet rules) {
    module.forcedRules = static_cast<uint8_t>(static_cast<uint8_t>(rules) + 1);
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
