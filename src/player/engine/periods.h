// Period tables and frequency rules of the XM format's two frequency modes.
// Both modes share one 1936-entry layout: index = (realNote - 1) * 16 +
// (finetune >> 3) + 16, realNote 1..119 (C-0..A#9), 16 steps per semitone.
// Periods grow as pitch falls; the linear mode has 64 units per semitone, the
// Amiga mode Amiga periods scaled by 4 (C-4 = 1712).
#pragma once

#include <cstdint>

namespace periods {

constexpr int kTableSize = 1936;
// Limits of the period variable that slides keep to (tested as signed 16-bit).
constexpr int32_t kMinSlidePeriod = 1;
constexpr int32_t kMaxSlidePeriod = 31999;

// Table index of a real note (1-based, C-0 = 1) at a finetune of -128..127.
constexpr int TableIndex(int realNote, int finetune) {
    return (realNote - 1) * 16 + (finetune >> 3) + 16;
}

// Entry k of the tables; k outside 0..kTableSize-1 reads the nearest entry.
int32_t LinearPeriod(int index);
int32_t AmigaPeriod(int index);
inline int32_t Period(bool linear, int index) {
    return linear ? LinearPeriod(index) : AmigaPeriod(index);
}

// Frequency in Hz of a period: linear 8363 * 2^((4608 - p) / 768), Amiga
// 14317456 / p. Period 0 (or below) is silence: 0 Hz.
double FrequencyHz(bool linear, int32_t period);

// Nearest semitone of a slid period, plus offset semitones, as arpeggio and
// glissando pick it: the period of the table note at the channel's finetune.
int32_t SnapToSemitone(bool linear, int32_t period, int finetune, int offset);

} // namespace periods
