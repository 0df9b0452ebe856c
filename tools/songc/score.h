// Reader of the text score: instruments, tracks, patterns and the order list.
#pragma once

#include <string>

#include "song_data.h"

namespace songc {

// Fills song from the score text. Instruments get their voice name only; their sample is
// synthesised afterwards. On failure returns false with "line N: what" in error.
bool ParseScore(const std::string& text, Song& song, std::string& error);

} // namespace songc
