// The song's length, found by playing it tick by tick with the engine of its
// rule set and no sound: every jump, break, pattern loop, pattern delay and
// speed or tempo change then counts exactly as playback performs it. A pass
// ends where playback comes back to a row it has already started in that
// pass in the same sequencing state; the song ends where it stalls (F00
// under FT2 rules). Every pass stops after kMaxTicks ticks, so the walk ends
// for any file.
#include <bitset>
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
    SongLength first;        // the first pass, and where the later ones start
    int64_t totalFrames;     // of all the passes asked for
    std::bitset<256> orders; // the orders the first pass plays
    int32_t songLength;      // orders as the rule set reads the header
};

// Where a walk starts and how fast its ticks go.
struct WalkStart {
    int32_t order = 0;
    double tempoFactor = 1.0;
};

// The instance walks play in, one a thread, kept from walk to walk (InitPlayer
// clears it for each): a song's facts, seeks and subsongs are walks, and a
// new instance each time cost its allocation and the faults of its pages.
// A WebAssembly build without threads has no thread-local storage, and needs
// none: it has the one thread.
#if defined(__wasm__) && !defined(__wasm_atomics__)
#define TINSEL_WALKER_STORAGE static
#else
#define TINSEL_WALKER_STORAGE thread_local
#endif
Player& Walker() {
    TINSEL_WALKER_STORAGE std::unique_ptr<Player> walker;
    if (walker == nullptr) {
        walker.reset(new Player);
    }
    return *walker;
}

// Later passes can differ from one another: a pass entered at another speed
// or tempo than the one before it lasts differently. Once two passes start
// alike in timing too, every later one repeats the last, and the walk
// counts them without playing them.
// A limit of 0 or more gives the walk up once it has passed that many frames.
Walk WalkPasses(const Module& module, int32_t rate, RuleSet rules, int64_t passes, int64_t limit,
                WalkStart from = {}) {
    Walk walk{};
    // The walker's own instance keeps the playback state: the song is only read.
    Player& walker = Walker();
    if (!InitPlayer(walker, rate) || !StartSong(walker, &module, rules)) {
        return walk;
    }
    walker.tempoFactor = from.tempoFactor;
    walk.songLength = walker.song.songLength;
    if (from.order > 0) {
        JumpToRow(walker, from.order, 0);
    }
    Ft2Detach(walker.ft2);                         // nobody hears the walk
    std::unordered_map<uint64_t, int64_t> started; // state -> frame of its row start, this pass
    int64_t frames = 0, rowStart = 0, passStart = 0, pass = 1, passTicks = 0;
    uint64_t passTiming = 0;
    for (;;) {
        NextRow next{};
        if (NextRowStart(walker, &next)) {
            rowStart = frames;
            if (pass == 1) {
                walk.orders[static_cast<size_t>(next.order & 255)] = true;
            }
            if (!started.emplace(next.state, frames).second) {
                if (pass == 1) {
                    walk.first = {frames, 0, next.order, next.row, true};
                } else if (pass == 2) {
                    walk.first.loopFrames = frames - passStart;
                }
                const SongState& clock = walker.song;
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
        PlayTick(walker);
        if (SongStalled(walker)) {
            // F00 under FT2 rules: the row never ends, and the song ends where it starts.
            if (pass == 1) {
                walk.first = {rowStart, 0, 0, 0, true};
            } else if (pass == 2) {
                walk.first.loopFrames = rowStart - passStart;
            }
            frames = rowStart;
            break;
        }
        const int32_t tickFrames = walker.song.samplesPerTick;
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

SongLength MeasureSong(const Player& player) {
    if (player.module == nullptr) {
        return SongLength{};
    }
    return WalkPasses(*player.module, player.mixingRate, player.rules, 2, -1,
                      {player.subsongStart, player.tempoFactor})
        .first;
}

int64_t MeasurePasses(const Player& player, int64_t passes, int64_t limit) {
    if (player.module == nullptr || passes <= 0) {
        return 0;
    }
    return WalkPasses(*player.module, player.mixingRate, player.rules, passes, limit,
                      {player.subsongStart, player.tempoFactor})
        .totalFrames;
}

std::vector<Subsong> FindSubsongs(const Module& module, int32_t rate, RuleSet rules) {
    std::vector<Subsong> subsongs;
    std::bitset<256> played;
    int32_t start = 0, orders = 1;
    while (start < orders) {
        const Walk walk = WalkPasses(module, rate, rules, 2, -1, {start, 1.0});
        subsongs.push_back({start, walk.first.frames, walk.first.loopFrames});
        played |= walk.orders;
        played[static_cast<size_t>(start)] = true; // a start that plays no row is passed all the same
        orders = walk.songLength > 0 ? (walk.songLength < 256 ? walk.songLength : 256) : 1;
        while (start < orders && played[static_cast<size_t>(start)]) {
            ++start;
        }
    }
    return subsongs;
}

bool SelectSubsong(Player& player, int32_t index) {
    if (player.module == nullptr || index < 0) {
        return false;
    }
    return SelectSubsong(player, FindSubsongs(*player.module, player.mixingRate, player.rules), index);
}

bool SelectSubsong(Player& player, const std::vector<Subsong>& subsongs, int32_t index) {
    ++player.changes;
    if (player.module == nullptr || index < 0 || index >= static_cast<int32_t>(subsongs.size())) {
        return false;
    }
    StartSong(player, player.module, player.rules);
    player.subsong = index;
    player.subsongStart = subsongs[static_cast<size_t>(index)].startOrder;
    if (player.subsongStart > 0) {
        JumpToRow(player, player.subsongStart, 0);
    }
    SetRepeatCount(player, player.repeatCount);
    return true;
}

int32_t CurrentSubsong(const Player& player) {
    return player.subsong;
}
