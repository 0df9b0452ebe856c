// The song's length, found by walking its orders row by row with the
// sequencing effects (Fxx, Bxx, Dxx, E6x, EEx) as the original tracker
// performs them, and no sound. The walk stops where playback would come back
// to a row it has already played in the same sequencing state (pattern loop
// starts and counters, a pending break row), at an F00 (taken as the song's
// end), or after kMaxRows rows, so it ends for any file.
#include <unordered_map>

#include "player/player.h"
#include "player/replay.h"

namespace {

// Far beyond any real song (256 orders of 256 rows, each pattern looped 15
// times, is about a million rows), small enough to walk in well under a second.
constexpr int64_t kMaxRows = int64_t{1} << 22;
constexpr int kMaxBreakRow = 63;

int32_t RowsOf(const Module& m, int order) {
    const int number = m.orderTable[order];
    if (m.patterns == nullptr || number >= m.patternSlots) {
        return 0;
    }
    return m.patterns[number].rows;
}

const uint8_t* CellsOf(const Module& m, int order, int row) {
    const int number = m.orderTable[order];
    if (m.patterns == nullptr || number >= m.patternSlots || m.channelCount <= 0) {
        return nullptr;
    }
    const Pattern& pattern = m.patterns[number];
    if (pattern.cells == nullptr || row >= pattern.rows) {
        return nullptr;
    }
    return pattern.cells + static_cast<int64_t>(row) * m.channelCount * kCellSize;
}

// The row position with everything that decides where playback goes next.
uint64_t StateKey(int order, int row, int breakRow, const int* loopStart, const int* loopCount,
                  int channels) {
    uint64_t hash = 0xcbf29ce484222325u;
    const auto mix = [&hash](int value) { hash = (hash ^ static_cast<uint32_t>(value)) * 0x100000001b3u; };
    mix(order);
    mix(row);
    mix(breakRow);
    for (int c = 0; c < channels; ++c) {
        mix(loopStart[c]);
        mix(loopCount[c]);
    }
    return hash;
}

} // namespace

SongLength MeasureSong(const Module& m, int32_t rate) {
    SongLength result{};
    // An empty order list plays order 0 over and over, as the engine does.
    const int orders = m.songLength > 0 ? m.songLength : 1;
    const int restart = m.restartPosition >= 0 && m.restartPosition < orders ? m.restartPosition : 0;
    const int channels = m.channelCount < kMaxChannels ? m.channelCount : kMaxChannels;
    int order = 0, row = 0;
    int speed = m.defaultTempo, bpm = m.defaultBpm;
    int loopStart[kMaxChannels] = {}, loopCount[kMaxChannels] = {};
    int breakRow = 0, jumpOrder = -1;
    bool jump = false;
    std::unordered_map<uint64_t, int64_t> played; // state key -> frame where it first played
    int64_t frames = 0;

    for (int64_t walked = 0;; ++walked) {
        if (walked == kMaxRows) {
            result.bounded = false;
            break;
        }
        const auto [seen, first] =
            played.emplace(StateKey(order, row, breakRow, loopStart, loopCount, channels), frames);
        if (!first) {
            result.bounded = true;
            result.loopOrder = order;
            result.loopRow = row;
            result.loopFrames = frames - seen->second;
            break;
        }

        const int rows = RowsOf(m, order);
        const uint8_t* cells = CellsOf(m, order, row);
        bool loop = false, stop = false;
        int repeats = 1;
        for (int c = 0; cells != nullptr && c < channels; ++c) {
            const uint8_t effect = cells[c * kCellSize + 3];
            const uint8_t parameter = cells[c * kCellSize + 4];
            const int x = parameter >> 4, y = parameter & 15;
            if (effect == 0xF) {
                if (parameter == 0) {
                    stop = true;
                } else if (parameter < 0x20) {
                    speed = parameter;
                } else {
                    bpm = parameter;
                }
            } else if (effect == 0xB) {
                jumpOrder = parameter;
                breakRow = 0;
                jump = true;
            } else if (effect == 0xD) {
                breakRow = x * 10 + y;
                if (breakRow > kMaxBreakRow) {
                    breakRow = 0;
                }
                jump = true;
            } else if (effect == 0xE && x == 0x6) {
                if (y == 0) {
                    loopStart[c] = row;
                } else if (loopCount[c] == 0) {
                    loopCount[c] = y;
                    breakRow = loopStart[c];
                    loop = true;
                } else if (--loopCount[c] > 0) {
                    breakRow = loopStart[c];
                    loop = true;
                }
            } else if (effect == 0xE && x == 0xE) {
                repeats = y + 1; // the rightmost channel's wins
            }
        }
        if (stop) {
            // The original stalls the row for good: the song ends where it starts.
            result.bounded = true;
            result.loopFrames = 0;
            break;
        }
        const int64_t ticks = static_cast<int64_t>(speed > 0 ? speed : 1) * repeats;
        frames += ticks * FramesPerTick(rate, bpm);

        row += 1;
        if (loop) {
            row = breakRow;
        }
        if (row >= rows || jump) {
            row = breakRow;
            breakRow = 0;
            jump = false;
            order = jumpOrder >= 0 ? jumpOrder : order + 1;
            jumpOrder = -1;
            if (order >= orders) {
                order = restart;
            }
            if (row >= RowsOf(m, order)) {
                row = 0;
            }
        }
    }
    result.frames = frames;
    return result;
}
