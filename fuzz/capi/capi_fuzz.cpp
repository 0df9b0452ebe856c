// Drives the C interface as a program might, in an order the input gives: the
// input is an XM image whose last bytes (up to 24, read from the end) are
// also a script of calls, each byte a call and its argument: renders of
// either format and odd lengths, seeks to rows and times, mutes, repeat
// counts, rule sets, loads of the whole image or of a prefix of it (which
// mostly fails), facts and positions, and bad arguments among them. Every
// answer must be one tinsel.h allows, and the player must stay usable. The
// player renders at 8000 Hz and at most a few blocks a call, so the work is
// bounded and the fuzzer gets through many inputs; it starts from the
// player's seeds (fuzz/corpus/capi is fuzz/corpus/player).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz/song_bounds.h"
#include "player/format/module.h"
#include "player/player.h"
#include "tinsel.h"

namespace {

constexpr int kRate = 8000;
constexpr size_t kMaxScript = 24;
// Frames times channels: two passes of nearly every seed fit at this rate.
constexpr int64_t kBudget = int64_t{1} << 17;

void Check(bool condition, int line = __builtin_LINE()) {
    if (!condition) {
        std::fprintf(stderr, "capi_fuzz.cpp:%d: check failed\n", line);
        std::abort();
    }
}

// Whether the script (the last bytes, as the loop below reads them) sets a
// rule set: without one the song plays only by its own.
bool SetsRules(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size && i < kMaxScript; ++i) {
        const uint8_t byte = data[size - 1 - i];
        if ((byte & 7) == 5 && ((byte >> 3) & 16))
            return true;
    }
    return false;
}

// Songs that play longer than a budget of frames times channels (a tick's
// work grows with the channels), by the rule sets the script can play them
// by, over the two passes a repeat count can ask for. Each call that walks
// the song (a load, a seek, a repeat count, the facts) then costs little.
bool TooLong(const uint8_t* data, size_t size) {
    Module* m = LoadModuleFromMemory(data, size);
    if (m == nullptr)
        return false;
    if (fuzz::PatternsTooLarge(*m)) { // each load would clear megabytes
        FreeModule(m);
        return true;
    }
    const int64_t limit = kBudget / std::max<int64_t>(m->channelCount, 4);
    const bool both = SetsRules(data, size);
    bool longer = false;
    for (RuleSet rules : {RuleSet::Tinsel, RuleSet::Ft2})
        if (both || rules == SongRules(*m))
            longer = longer || MeasurePasses(*m, kRate, rules, 2, limit) >= limit;
    FreeModule(m);
    return longer;
}

bool IsCode(int result) {
    return result <= TINSEL_OK && result >= TINSEL_ERROR_POSITION;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20))
        return 0;
    if (TooLong(data, size))
        return -1; // kept out of the corpus: its mutations would mostly be as long
    static std::vector<int16_t> pcm(2 * 4096);
    static std::vector<float> floats(2 * 4096);
    // A player of its own for each input: nothing carries over, and every
    // allocation is freed before the next input (libFuzzer's leak check).
    tinsel_player* player = tinsel_new(kRate);
    Check(player != nullptr);
    bool loaded = tinsel_load(player, data, size) == TINSEL_OK;
    const size_t steps = size < kMaxScript ? size : kMaxScript;
    for (size_t i = 0; i < steps; ++i) {
        const uint8_t byte = data[size - 1 - i];
        const int arg = byte >> 3;
        int result = TINSEL_OK;
        switch (byte & 7) {
        case 0: { // odd lengths cross blocks and ticks
            const int frames = arg * 97 + (arg & 1);
            result = tinsel_render_s16(player, pcm.data(), frames);
            Check(loaded ? result >= 0 && result <= frames : result == TINSEL_ERROR_NO_SONG);
            for (int k = 2 * (result > 0 ? result : 0); k < 2 * frames; ++k)
                Check(pcm[size_t(k)] == 0); // after the song, silence
            break;
        }
        case 1: {
            const int frames = arg * 131;
            result = tinsel_render_f32(player, arg == 31 ? nullptr : floats.data(), frames);
            Check(arg == 31 ? result == TINSEL_ERROR_ARGUMENT
                            : (loaded ? result >= 0 && result <= frames : result == TINSEL_ERROR_NO_SONG));
            break;
        }
        case 2: // orders and rows around the song's, negative ones too
            result = tinsel_seek_row(player, (arg & 15) - 1, (arg >> 4) * 13 + (arg & 7) - 1);
            Check(loaded ? result == TINSEL_OK || result == TINSEL_ERROR_POSITION
                         : result == TINSEL_ERROR_NO_SONG);
            break;
        case 3: {
            const double seconds = arg == 31 ? std::nan("") : arg * 0.37 - 0.5;
            result = tinsel_seek_time(player, seconds);
            if (!(seconds >= 0))
                Check(result == TINSEL_ERROR_ARGUMENT);
            else
                Check(loaded ? result == TINSEL_OK || result == TINSEL_ERROR_POSITION
                             : result == TINSEL_ERROR_NO_SONG);
            break;
        }
        case 4: // mutes, or the sound: interpolations, ramps and amplifications around the valid ones
            if (arg < 16) {
                result = tinsel_set_muted(player, uint32_t(arg) * 0x9E3779B1u);
                Check(result == TINSEL_OK);
            } else if (arg < 24) {
                const int interpolation = (arg & 7) - 1;
                result = tinsel_set_interpolation(player, interpolation);
                Check(interpolation >= 0 && interpolation <= 3 ? result == TINSEL_OK
                                                               : result == TINSEL_ERROR_ARGUMENT);
            } else {
                const int amplification = (arg & 7) * 5 - 1;
                result = tinsel_set_amplification(player, amplification);
                Check(amplification >= 1 && amplification <= 32 ? result == TINSEL_OK
                                                                : result == TINSEL_ERROR_ARGUMENT);
                Check(tinsel_set_ramp(player, arg & 1) == TINSEL_OK);
            }
            break;
        case 5:
            if (arg & 16) {
                result = tinsel_set_rules(player, (arg & 3));
                Check((arg & 3) == 3 ? result == TINSEL_ERROR_ARGUMENT : result == TINSEL_OK);
            } else {
                result = tinsel_set_repeat_count(player, (arg & 3) - 1);
                Check((arg & 3) == 0 ? result == TINSEL_ERROR_ARGUMENT : result == TINSEL_OK);
            }
            break;
        case 6: // the whole image, or a prefix of it
            result = tinsel_load(player, data, arg == 31 ? size : size * size_t(arg) / 32);
            loaded = result == TINSEL_OK;
            Check(loaded || (result < 0 && IsCode(result)));
            break;
        default: {
            tinsel_facts facts;
            tinsel_position at;
            result = tinsel_get_position(player, &at);
            Check(loaded ? result == TINSEL_OK && at.frame >= 0 && at.order >= 0 && at.row >= 0
                         : result == TINSEL_ERROR_NO_SONG);
            if (arg & 1) {
                result = tinsel_get_facts(player, &facts);
                Check(loaded ? result == TINSEL_OK && facts.length_frames >= 0 && facts.loop_frames >= 0
                             : result == TINSEL_ERROR_NO_SONG);
            }
            break;
        }
        }
        Check(IsCode(result) || result > 0);
    }
    tinsel_free(player);
    return 0;
}
