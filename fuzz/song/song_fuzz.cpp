// The song walk and the seek over arbitrary songs: the walk ends for any
// file, and where it says playback comes back to a row, playback does, at the
// frame it gives; a seek lands on the row asked for, at the frame playback
// first reaches it. A song that plays longer than a budget is walked only
// that far, so no input costs much whatever it loops or delays.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

#include "player/format/module.h"
#include "player/player.h"
#include "player/engine/replay.h"
#include "fuzz/song_bounds.h"

namespace {

constexpr int32_t kRate = 44100;
// Frames times channels (four to 64 of them counted), as a tick's work grows
// with the channels: about 6 s of song with four channels or fewer, under a
// second with 32. Two passes of all but six seeds fit; those (the loader's
// layouts and short pattern, the restart, the speed changes) are walked as
// far as it goes.
constexpr int64_t kBudget = int64_t{1} << 20;

void Check(bool condition, int line = __builtin_LINE()) {
    if (!condition) {
        std::fprintf(stderr, "song_fuzz.cpp:%d: check failed\n", line);
        std::abort();
    }
}

// Plays from the start, tick by tick without mixing, until the walk says it
// comes back to a row: the first frame at which each row starts.
std::map<std::pair<int32_t, int32_t>, int64_t> RowStarts(Player& player, Module* m, RuleSet rules,
                                                         const SongLength& length) {
    std::map<std::pair<int32_t, int32_t>, int64_t> starts;
    StartSong(player, m, rules);
    int64_t frames = 0;
    while (frames < length.frames) {
        NextRow next{};
        if (NextRowStart(player, &next))
            starts.emplace(std::make_pair(next.order, next.row), frames);
        PlayTick(player);
        frames += player.song.samplesPerTick > 0 ? player.song.samplesPerTick : 1;
    }
    // Playback is at a row start there, the row the walk names, one it has played.
    NextRow next{};
    Check(frames == length.frames && NextRowStart(player, &next) && next.order == length.loopOrder &&
          next.row == length.loopRow && starts.count({next.order, next.row}) == 1);
    return starts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > (1u << 20))
        return 0;
    Module* m = LoadModuleFromMemory(data, size);
    if (m == nullptr)
        return 0;
    const RuleSet rules = (data[size - 1] & 1) ? RuleSet::Ft2 : RuleSet::Tinsel;
    const int64_t limit = kBudget / std::clamp<int64_t>(m->channelCount, 4, 64);
    // A longer song is walked as far as the budget only. Kept out of the
    // corpus, as is one with large patterns: their mutations would mostly be
    // as costly.
    if (fuzz::PatternsTooLarge(*m) || MeasurePasses(*m, kRate, rules, 2, limit) >= limit) {
        FreeModule(m);
        return -1;
    }
    // Set up once: StartSong resets all that playing changes.
    static Player player;
    static const bool ready = InitPlayer(player, kRate);
    (void)ready;
    const SongLength length = MeasureSong(*m, kRate, rules);
    Check(length.frames >= 0 && length.loopFrames >= 0);
    if (length.bounded && length.loopFrames > 0) {
        const auto starts = RowStarts(player, m, rules, length);
        // A seek from the input's last bytes but one.
        StartSong(player, m, rules);
        const int32_t order = m->songLength > 0 ? data[size - 2] % m->songLength : 0;
        const int32_t row = data[size - 3];
        if (SeekTo(player, order, row)) {
            NextRow next{};
            Check(NextRowStart(player, &next) && next.order == order && next.row == row);
            const auto first = starts.find({order, row});
            Check(first == starts.end() ? player.framesPlayed == 0 : player.framesPlayed == first->second);
        }
    }
    FreeModule(m);
    return 0;
}
