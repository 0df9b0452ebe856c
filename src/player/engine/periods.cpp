// The Amiga table is generated rather than stored: one octave of base periods
// at 1/8 semitone, scaled per octave with halves rounded down, and the odd
// entries (1/16 semitone) interpolated between their neighbours.
#include "player/engine/periods.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace periods {
namespace {

constexpr uint16_t kAmigaBase[96] = {
    907, 900, 894, 887, 881, 875, 868, 862, 856, 850, 844, 838, 832, 826, 820, 814, //
    808, 802, 796, 791, 785, 779, 774, 768, 762, 757, 752, 746, 741, 736, 730, 725, //
    720, 715, 709, 704, 699, 694, 689, 684, 678, 675, 670, 665, 660, 655, 651, 646, //
    640, 636, 632, 628, 623, 619, 614, 610, 604, 601, 597, 592, 588, 584, 580, 575, //
    570, 567, 563, 559, 555, 551, 547, 543, 538, 535, 532, 528, 524, 520, 516, 513, //
    508, 505, 502, 498, 494, 491, 487, 484, 480, 477, 474, 470, 467, 463, 460, 457,
};

// The original tracker read past its base table for the last entries; these
// are the values it got, so a tone-portamento target up there matches it.
constexpr uint16_t kAmigaTail[17] = {22, 16, 8, 0, 16, 32, 24, 16, 8, 0, 16, 32, 24, 16, 8, 0, 0};

constexpr int kGenerated = 1919;

std::array<uint16_t, kTableSize> MakeAmigaTable() {
    std::array<uint16_t, kTableSize> t{};
    auto even = [](int k) {
        const int octave = k / 192;
        const uint32_t base = kAmigaBase[(k % 192) / 2];
        return static_cast<uint16_t>((base * 64 + (1u << octave) - 1) >> (octave + 1));
    };
    for (int k = 0; k < kGenerated; k += 2) {
        t[static_cast<size_t>(k)] = even(k);
    }
    for (int k = 1; k < kGenerated; k += 2) {
        const int next = k + 1 < kGenerated ? t[static_cast<size_t>(k + 1)] : even(k + 1);
        t[static_cast<size_t>(k)] = static_cast<uint16_t>((t[static_cast<size_t>(k - 1)] + next) / 2);
    }
    for (int k = kGenerated; k < kTableSize; ++k) {
        t[static_cast<size_t>(k)] = kAmigaTail[k - kGenerated];
    }
    return t;
}

const std::array<uint16_t, kTableSize>& AmigaTable() {
    static const std::array<uint16_t, kTableSize> table = MakeAmigaTable();
    return table;
}

int Clamp(int index) {
    return std::clamp(index, 0, kTableSize - 1);
}

} // namespace

int32_t LinearPeriod(int index) {
    return (kTableSize - Clamp(index)) * 4;
}

int32_t AmigaPeriod(int index) {
    return AmigaTable()[static_cast<size_t>(Clamp(index))];
}

double FrequencyHz(bool linear, int32_t period) {
    if (period <= 0) {
        return 0.0;
    }
    if (linear) {
        return 8363.0 * std::exp2((4608.0 - period) / 768.0);
    }
    return 14317456.0 / period;
}

int32_t SnapToSemitone(bool linear, int32_t period, int finetune, int offset) {
    const int f = (finetune >> 3) + 16;
    // The largest note n in 0..95 whose lower half-way point lies above the
    // period; an exact midpoint keeps the lower note.
    int n = 0;
    for (int k = 95; k >= 0; --k) {
        const int idx = 16 * k + f - 8;
        if (period < Period(linear, idx < 0 ? 0 : idx)) {
            n = k;
            break;
        }
    }
    int index = 16 * n + f + 16 * offset;
    if (index >= 1550) {
        index = 1551;
    }
    return Period(linear, index);
}

} // namespace periods
