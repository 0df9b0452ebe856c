// Offline rendering of a loaded song through the playback block path.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Module;

// Renders frames stereo frames of module at rate from its start; empty when
// it cannot (a null module, or the audio device is in use).
// progress, when given, hears the fraction done after every block.
std::vector<int16_t> RenderModule(Module* module, int32_t rate, int64_t frames,
                                  const std::function<void(double)>& progress = {});

// Writes 16-bit stereo PCM as a WAV file; false on any write failure.
bool WriteWav(const std::string& path, const std::vector<int16_t>& pcm, int32_t rate);
