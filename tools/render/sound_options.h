// The option rows tinsel-render and tinsel-play share: the rate, the rule set
// and how the mix sounds. One row a function, so each tool keeps its own order.
// needs: a missing value fails as "NAME needs ..." (tinsel-render's way);
// else as a refused one, "NAME wants ..." (tinsel-play's).
#pragma once

#include <cstdint>

#include "player/engine/rules.h"
#include "player/mix/mixer.h"
#include "tools/cli.h"

namespace sound_options {

cli::Option Rate(int32_t* rate, bool needs);
// forced becomes true when the option is given.
cli::Option Rules(bool* forced, RuleSet* rules, bool needs);
cli::Option Interpolation(::Interpolation* interpolation, bool needs);
cli::Option Ramp(::Ramp* ramp, bool needs);
cli::Option Stereo(int32_t* separation, bool needs);
cli::Option Tempo(double* tempo, bool needs);
cli::Option Pitch(double* pitch, bool needs);

} // namespace sound_options
