// Score text to XM bytes: parse, synthesise every instrument's sample, write.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "song_data.h"

namespace songc {

bool CompileScore(const std::string& text, Song& song, std::vector<uint8_t>& xm, std::string& error);

} // namespace songc
