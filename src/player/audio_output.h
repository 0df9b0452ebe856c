// The wave output and the mixing thread that keeps its looping ring filled.
#pragma once

#include <cstdint>

struct Module;

// Output rate in frames per second.
extern int32_t g_mixingRate;
// Frames per block, and frames in the whole ring (a whole number of blocks).
extern int32_t g_blockLength;
extern int32_t g_ringLength;

bool OpenAudioDevice(int32_t rate);
void CloseAudioDevice();
// Plays a loaded song from its start; false for a null module.
bool StartPlayback(Module* module);
// Ends playback of whatever is playing; false for a null module.
bool StopPlayback(Module* module);
// Renders the block at the write index and moves the index on.
void MixBlock();
uint32_t MixingThread(void* unused);

// True while the mixing thread renders a block.
bool MixingBusy();
// The block MixBlock renders next; read it only from the thread that calls MixBlock.
int32_t WriteIndex();
// The 16-bit stereo ring the device loops over; null before the first playback.
const int16_t* OutputRing();

// Offline rendering through the same block path, without device or thread:
// sizes the blocks for rate and resets the song as playback would.
bool BeginOfflineRender(Module* module, int32_t rate);
// Renders the next block; returns its frames, g_blockLength of them.
const int16_t* RenderNextBlock();
void EndOfflineRender();
