// FLAC output of a render: the 16-bit samples a WAV render holds, losslessly
// compressed. Builds without libFLAC (the WebAssembly one) write none.
#pragma once

#include <cstdio>
#include <memory>

#include "tools/render/render.h"

// True when this build can write FLAC.
bool FlacAvailable();
// A writer of FLAC to out; null where FlacAvailable() is false. On a stream
// that cannot seek (a pipe) the header keeps no checksum, as the format allows.
std::unique_ptr<AudioWriter> MakeFlacWriter(std::FILE* out);
