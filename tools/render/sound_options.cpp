#include "tools/render/sound_options.h"

namespace sound_options {

namespace {

cli::Option Needing(cli::Option option, bool needs, const char* what) {
    option.needs = needs ? what : nullptr;
    return option;
}

} // namespace

cli::Option Rate(int32_t* rate, bool needs) {
    return Needing({.names = "--rate",
                    .value = "HZ",
                    .low = 8000,
                    .high = 192000,
                    .sets = rate,
                    .help = "frames per second, 8000 to 192000 (default 44100)"},
                   needs, "a number");
}

cli::Option Rules(bool* forced, RuleSet* rules, bool needs) {
    return Needing(
        {.names = "--rules",
         .value = "R",
         .sets = [forced, rules](const char* value) { return *forced = ParseRuleSet(value, rules); },
         .wants = "tinsel or ft2",
         .help = "play by tinsel or ft2 rules (default: tinsel for songs by songc, else ft2)"},
        needs, "tinsel or ft2");
}

cli::Option Interpolation(::Interpolation* interpolation, bool needs) {
    return Needing(
        {.names = "--interp",
         .value = "I",
         .sets = [interpolation](const char* value) { return ParseInterpolation(value, interpolation); },
         .wants = "nearest, linear, cubic or sinc",
         .help = "how voices read between sample entries: nearest, linear (the rule set's\n"
                 "own mixing, the default), cubic (Catmull-Rom) or sinc (windowed sinc of\n"
                 "16 taps, wider for notes above the sample's rate, so that they do not alias)"},
        needs, "nearest, linear, cubic or sinc");
}

cli::Option Ramp(::Ramp* ramp, bool needs) {
    return Needing({.names = "--ramp",
                    .value = "R",
                    .sets = [ramp](const char* value) { return ParseRamp(value, ramp); },
                    .wants = "rules or off",
                    .help = "rules (the rule set's gain ramps, the default) or off (gain changes at\n"
                            "once, attacks exactly as stored)"},
                   needs, "rules or off");
}

cli::Option Stereo(int32_t* separation, bool needs) {
    return Needing({.names = "--stereo",
                    .value = "PERCENT",
                    .low = 0,
                    .high = 200,
                    .sets = separation,
                    .help = "stereo separation, 0 (mono) to 200 (sides doubled); 100, the default, as mixed"},
                   needs, "a percentage");
}

namespace {

cli::Option Factor(const char* names, double* factor, bool needs, const char* help) {
    return Needing({.names = names,
                    .value = "F",
                    .low = 0.25,
                    .high = 4,
                    .sets = factor,
                    .wants = "a factor from 0.25 to 4",
                    .help = help},
                   needs, "a factor");
}

} // namespace

cli::Option Tempo(double* tempo, bool needs) {
    return Factor("--tempo", tempo, needs,
                  "play faster or slower by this factor, 0.25 to 4, the pitch unchanged");
}

cli::Option Pitch(double* pitch, bool needs) {
    return Factor("--pitch", pitch, needs,
                  "play every note at this factor of its frequency, 0.25 to 4, the time unchanged");
}

} // namespace sound_options
