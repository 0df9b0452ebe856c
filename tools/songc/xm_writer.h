// Writes a Song as an XM module: packed patterns, instruments with one 8-bit sample each.
#pragma once

#include <cstdint>
#include <vector>

#include "song_data.h"

namespace songc {

std::vector<uint8_t> WriteXm(const Song& song);

} // namespace songc
