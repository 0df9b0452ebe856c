// The song's length, found by playing it tick by tick with the engine of its
// rule set and no sound: every jump, break, pattern loop, pattern delay and
// speed or tempo change then counts exactly as playback performs it. A pass
// ends where playback comes back to a row it has already started in that
// pass in the same sequencing state; the song ends where it stalls (F00
// under FT2 rules). Every pass stops after kMaxTicks ticks, so the walk ends
// for any file.
#include <memory>
#include <unordered_map>

#include "player/player.h"
#include "player/engine/replay.h"

namespace {

// Far beyond any real song (256 orders of 256 rows at speed 31 is two
// million ticks), and walked within a second or two whatever the file.
constexpr int64_t kMaxTicks = int64_t{1} << 21;

uint64_t Mix(uint64_t hash, int64_t value) {
    return (hash ^ static_cast<uint64_t>(value)) * 0x100000001b3u;
}

struct Walk {
    SongLength first;    // the first pass, and where the later ones start
    int64_t totalFrames; // of all the passes asked for
};

// Later passes can differ from one another: a pass entered at another speed
// or tempo than the one before it lasts differently. Once two passes start
// alike in timing too, every later one repeats the last, and the walk
// counts them without playing them.
// A limit of 0 or more gives the walk up once it has passed that many frames.
Walk WalkPasses(const Module& module, int32_t rate, RuleSet rules, int64_t passes, int64_t limit) {
    Walk walk{};
    // The walker's own instance keeps the playback state: the song is only read.
    auto walker = std::make_unique<Player>();
    if (!InitPlayer(*walker, rate) || !StartSong(*walker, &module, rules)) {
        return walk;
    }
    Ft2Detach(walker->ft2);                        // nobody hears the walk
    std::unordered_map<uint64_t, int64_t> started; // state -> frame of its row start, this pass
    int64_t frames = 0, rowStart = 0, passStart = 0, pass = 1, passTicks = 0;
    uint64_t passTiming = 0;
    for (;;) {
        NextRow next{};
        if (NextRowStart(*walker, &next)) {
            rowStart = frames;
            if (!started.emplace(next.state, frames).second) {
                if (pass == 1) {
                    walk.first = {frames, 0, next.order, next.row, true};
                } else if (pass == 2) {
                    walk.first.loopFrames = frames - passStart;
                }
                const SongState& clock = walker->song;
                const uint64_t timing = Mix(Mix(next.state, clock.speed), clock.samplesPerTick);
                if (pass >= passes) {
                    break;
                }
                if (pass >= 2 && timing == passTiming) {
                    frames += (passes - pass) * (frames - passStart);
                    break;
                }
                ++pass;
                passStart = frames;
                passTiming = timing;
                passTicks = 0;
                started.clear();
                started.emplace(next.state, frames);
            }
        }
        if (passTicks++ >= kMaxTicks || (limit >= 0 && frames >= limit)) {
            // A damaged file, or as far as was wanted: what was walked is a lower bound.
            if (pass == 1) {
                walk.first.frames = frames;
            }
            break;
        }
        PlayTick(*walker);
        if (SongStalled(*walker)) {
            // F00 under FT2 rules: the row never ends, and the song ends where it starts.
            if (pass == 1) {
                walk.first = {rowStart, 0, 0, 0, true};
            } else if (pass == 2) {
                walk.first.loopFrames = rowStart - passStart;
            }
            frames = rowStart;
            break;
        }
        const int32_t tickFrames = walker->song.samplesPerTick;
        frames += tickFrames > 0 ? tickFrames : 1;
    }
    walk.totalFrames = frames;
    return walk;
}

} // namespace

SongLength MeasureSong(const Module& module, int32_t rate, RuleSet rules) {
    return WalkPasses(module, rate, rules, 2, -1).first;
}

SongLength MeasureSong(const Module& module, int32_t rate) {
    return MeasureSong(module, rate, SongRules(module));
}

int64_t MeasurePasses(const Module& module, int32_t rate, RuleSet rules, int64_t passes, int64_t limit) {
    return passes > 0 ? WalkPasses(module, rate, rules, passes, limit).totalFrames : 0;
}

int64_t MeasurePasses(const Module& module, int32_t rate, int64_t passes, int64_t limit) {
    return MeasurePasses(module, rate, SongRules(module), passes, limit);
}
