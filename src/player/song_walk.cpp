// The song's length, found by playing it tick by tick with the engine of its
// rule set and no sound: every jump, break, pattern loop, pattern delay and
// speed or tempo change then counts exactly as playback performs it. The
// walk stops where playback would come back to a row it has already started
// in the same sequencing state, where the song stalls (F00 under FT2 rules),
// or after kMaxTicks ticks, so it ends for any file.
#include <memory>
#include <unordered_map>

#include "player/player.h"
#include "player/replay.h"

namespace {

// Far beyond any real song (256 orders of 256 rows at speed 31 is two
// million ticks), and walked within a second or two whatever the file.
constexpr int64_t kMaxTicks = int64_t{1} << 21;

} // namespace

SongLength MeasureSong(const Module& module, int32_t rate, RuleSet rules, int64_t limit) {
    SongLength result{};
    // The engine writes the song's playback state: it walks a copy of the
    // record, sharing the patterns and instruments it only reads.
    Module song = module;
    auto walker = std::make_unique<Player>();
    if (!InitPlayer(*walker, rate) || !StartSong(*walker, &song, rules)) {
        return result;
    }
    std::unordered_map<uint64_t, int64_t> started; // sequencing state -> frame of its row start
    int64_t frames = 0, rowStart = 0;
    for (int64_t ticks = 0; ticks < kMaxTicks && (limit < 0 || frames < limit); ++ticks) {
        NextRow next{};
        if (NextRowStart(*walker, &next)) {
            rowStart = frames;
            const auto [seen, first] = started.emplace(next.state, frames);
            if (!first) {
                result.bounded = true;
                result.loopOrder = next.order;
                result.loopRow = next.row;
                result.loopFrames = frames - seen->second;
                break;
            }
        }
        PlayTick(*walker);
        if (SongStalled(*walker)) {
            // F00 under FT2 rules: the row never ends, and the song ends where it starts.
            result.bounded = true;
            frames = rowStart;
            break;
        }
        frames += song.samplesPerTick > 0 ? song.samplesPerTick : 1;
    }
    result.frames = frames;
    return result;
}

SongLength MeasureSong(const Module& module, int32_t rate, RuleSet rules) {
    return MeasureSong(module, rate, rules, -1);
}

SongLength MeasureSong(const Module& module, int32_t rate) {
    return MeasureSong(module, rate, SongRules(module), -1);
}

SongLength MeasureSongUpTo(const Module& module, int32_t rate, int64_t limit) {
    return MeasureSong(module, rate, SongRules(module), limit);
}
