// A bound the song and player fuzz targets set on the songs they keep in
// their corpus, so that the fuzzer spends its time on many inputs rather than
// on a few large ones and their mutations.
#pragma once

#include <cstdint>

#include "player/format/module.h"

namespace fuzz {

// The loader gives a pattern whose data ends early its full rows, empty: a
// header can make it allocate and clear megabytes, and every start of the
// song reads them again. The seeds hold under 8 KB.
constexpr int64_t kMaxPatternBytes = int64_t{64} << 10;

inline bool PatternsTooLarge(const Module& m) {
    int64_t bytes = 0;
    for (int p = 0; p < m.patternSlots; ++p)
        bytes += int64_t(m.patterns[p].rows) * m.channelCount * kCellSize;
    return bytes > kMaxPatternBytes;
}

} // namespace fuzz
