// Drives the C interface as a program might, in an order the input gives: the
// input is an XM image whose last bytes (up to 24, read from the end) are
// also a script of calls, each byte a call and its argument: renders of
// either format and odd lengths, seeks to rows and times, mutes, repeat
// counts, rule sets, loads of the whole image or of a prefix of it (which
// mostly fails), facts and positions, subsongs, separation, tempo and pitch,
// channel states and mutes, the song's contents and names, and bad
// arguments among them. Every
// answer must be one tinsel.h allows, and the player must stay usable. The
// player renders at 8000 Hz and at most a few blocks a call, so the work is
// bounded and the fuzzer gets through many inputs; it starts from the
// player's seeds (fuzz/corpus/capi is fuzz/corpus/player).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// Whether the script (the last bytes, as the loop below reads them) selects
// rules by name (TINSEL_RULES_TINSEL or _FT2): the song's own, or none, play
// it by its own, which the load measures anyway.
bool Selects(const uint8_t* data, size_t size, RuleSet rules) {
    const int wanted = rules == RuleSet::Tinsel ? TINSEL_RULES_TINSEL : TINSEL_RULES_FT2;
    for (size_t i = 0; i < size && i < kMaxScript; ++i) {
        const uint8_t byte = data[size - 1 - i];
        if ((byte & 7) == 5 && ((byte >> 3) & 16) && ((byte >> 3) & 3) == wanted)
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
    const RuleSet own = SongRules(*m);
    bool longer = false;
    for (RuleSet rules : {RuleSet::Tinsel, RuleSet::Ft2})
        if (rules == own || Selects(data, size, rules))
            longer = longer || MeasurePasses(*m, kRate, rules, 2, limit) >= limit;
    FreeModule(m);
    return longer;
}

bool IsCode(int result) {
    return result <= TINSEL_OK && result >= TINSEL_ERROR_POSITION;
}

// The subsongs: their count, one of them (from -1 on) and playing it.
int Subsongs(tinsel_player* player, bool loaded, int subsong) {
    const int count = tinsel_subsong_count(player);
    Check(loaded ? count >= 1 : count == TINSEL_ERROR_NO_SONG);
    tinsel_subsong info{};
    const int got = tinsel_get_subsong(player, subsong, &info);
    const bool inside = loaded && subsong >= 0 && subsong < count;
    Check(inside
              ? got == TINSEL_OK && info.start_order >= 0 && info.length_frames >= 0 && info.loop_frames >= 0
              : got == (loaded ? TINSEL_ERROR_ARGUMENT : TINSEL_ERROR_NO_SONG));
    const int selected = tinsel_select_subsong(player, subsong);
    Check(inside ? selected == TINSEL_OK : selected == got);
    tinsel_facts facts;
    if (inside && tinsel_set_tempo_factor(player, 1.0) == TINSEL_OK)
        Check(tinsel_get_facts(player, &facts) == TINSEL_OK && facts.length_frames == info.length_frames);
    return selected;
}

// The contents around the song's edges: orders, rows, cells and names, and
// a channel's state and mute.
int Contents(tinsel_player* player, bool loaded, int arg) {
    const int pattern = tinsel_get_order(player, arg - 1);
    Check(loaded ? pattern >= 0 || pattern == TINSEL_ERROR_POSITION : pattern == TINSEL_ERROR_NO_SONG);
    const int rows = tinsel_get_pattern_rows(player, pattern >= 0 ? pattern : arg);
    Check(loaded ? rows >= 0 || rows == TINSEL_ERROR_POSITION : rows == TINSEL_ERROR_NO_SONG);
    tinsel_cell cell{};
    const int row = rows > 0 ? (arg * 7) % (rows + 1) : arg;
    const int got = tinsel_get_cell(player, pattern >= 0 ? pattern : 0, row, arg % 5, &cell);
    Check(loaded ? got == TINSEL_OK || got == TINSEL_ERROR_POSITION : got == TINSEL_ERROR_NO_SONG);
    if (got == TINSEL_OK) {
        Check(cell.note >= 0 && cell.note <= 255 && cell.instrument >= 0 && cell.instrument <= 255);
        char text[TINSEL_CELL_TEXT_SIZE];
        const int room = arg % TINSEL_CELL_TEXT_SIZE;
        Check(tinsel_format_cell(&cell, text, size_t(room) + 1) == room && std::strlen(text) == size_t(room));
    }
    const char* name = tinsel_instrument_name(player, arg - 1);
    Check(name == nullptr || std::strlen(name) <= 22);
    name = tinsel_sample_name(player, (arg & 3) + 1, (arg >> 2) - 1);
    Check(name == nullptr || std::strlen(name) <= 22);
    tinsel_channel_state state;
    const int channel = (arg * 37) % 130 - 1;
    const int sounding = tinsel_get_channel_state(player, channel, &state);
    Check(loaded ? sounding == TINSEL_OK || sounding == TINSEL_ERROR_ARGUMENT
                 : sounding == TINSEL_ERROR_NO_SONG);
    if (sounding == TINSEL_OK)
        Check(state.volume >= 0 && state.volume <= 64 && state.panning >= 0 && state.panning <= 255 &&
              state.level_left >= 0 && state.level_left <= 1 && state.level_right >= 0 &&
              state.level_right <= 1 && state.frequency >= 0);
    const int muted = tinsel_set_channel_muted(player, channel, arg & 1);
    Check(sounding == TINSEL_OK ? muted == TINSEL_OK : muted == TINSEL_OK || muted == TINSEL_ERROR_ARGUMENT);
    return got;
}

// Separation, tempo and pitch at and around their ranges' ends.
int Settings(tinsel_player* player, int which, int arg) {
    const double factors[] = {0.2, 0.25, 0.5, 1.0, 1.5, 4.0, 4.5, std::nan("")};
    const double factor = factors[arg & 7];
    const bool inside = factor >= 0.25 && factor <= 4.0;
    int result;
    if (which == 0) {
        const int percent = (arg & 7) * 40 - 40;
        result = tinsel_set_stereo_separation(player, percent);
        Check(percent >= 0 && percent <= 200 ? result == TINSEL_OK : result == TINSEL_ERROR_ARGUMENT);
    } else if (which == 1) {
        result = tinsel_set_tempo_factor(player, factor);
        Check(inside ? result == TINSEL_OK : result == TINSEL_ERROR_ARGUMENT);
    } else {
        result = tinsel_set_pitch_factor(player, factor);
        Check(inside ? result == TINSEL_OK : result == TINSEL_ERROR_ARGUMENT);
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20))
        return 0;
    if (TooLong(data, size))
        return -1; // kept out of the corpus: its mutations would mostly be as long
    static std::vector<int16_t> pcm(2 * 4096);
    static const std::vector<int16_t> silence(2 * 4096);
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
            // After the song, silence: one comparison rather than a loop
            // carrying the fuzzer's hooks on every sample.
            const size_t song = 2 * size_t(result > 0 ? result : 0);
            Check(std::memcmp(pcm.data() + song, silence.data(),
                              (2 * size_t(frames) - song) * sizeof(int16_t)) == 0);
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
            if (arg & 2)
                result = Subsongs(player, loaded, (arg >> 2) - 1);
            if (arg & 4)
                result = Contents(player, loaded, arg);
            if (arg & 8)
                result = Settings(player, arg >> 4, arg);
            break;
        }
        }
        Check(IsCode(result) || result > 0);
    }
    tinsel_free(player);
    return 0;
}
