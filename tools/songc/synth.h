// The instrument synthesiser: every sample of the song is made here, as 8-bit PCM.
#pragma once

#include <string>
#include <vector>

#include "song_data.h"

namespace songc {

// Names of the voices Synthesise knows.
std::vector<std::string> VoiceNames();

// Makes the sample of a voice, tuned so that note C-4 sounds middle C (drums: their own pitch).
// False for an unknown voice.
bool Synthesise(const std::string& voice, SampleData& sample);

} // namespace songc
