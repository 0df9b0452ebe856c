// The wave output and the mixing thread that keeps its looping ring filled.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/thread.h"
#include "player/mix/mixer.h"

// The device's rate in frames per second.
extern int32_t g_mixingRate;
// Frames per block, and frames in the whole ring (a whole number of blocks).
extern int32_t g_blockLength;
extern int32_t g_ringLength;

bool OpenAudioDevice(int32_t rate);
void CloseAudioDevice();

// What the ring plays: render fills frames stereo frames of ring block number
// block into destination, on the mixing thread.
struct BlockSource {
    void* context;
    void (*render)(void* context, int32_t block, float* destination, int32_t frames);
};
// Blocks in the ring at most, whatever the rate.
constexpr int32_t kMaxRingBlocks = 100;

// True when a device is open to play a ring on.
bool AudioDeviceReady();
// Renders the whole ring from source, starts the device looping over it and
// the mixing thread keeping it filled; the thread alone calls source until
// StopRing. False without a device, for a source without render, or when
// memory or the thread fails.
bool StartRing(const BlockSource& source);
// Ends the ring on the device and waits for the mixing thread, at most
// timeoutMs; false when the thread has not answered in time: it may still use
// the source and the ring, which stay as they are (a later call tries again).
bool StopRing(uint32_t timeoutMs);
// Runs action between two blocks, on the thread that renders them, and waits
// for it: the one safe way to touch the source while it plays. With rerender,
// every block the device has not begun is rendered again afterwards, so a
// change is heard within a block instead of after the ring's two seconds.
// False when nothing plays.
bool ControlRing(const std::function<void()>& action, bool rerender);
// The ring block the device plays now; 0 before a ring exists.
int32_t PlayingRingBlock();

// Renders the block at the write index and moves the index on.
void MixBlock();
// One pass of the mixing thread: renders the blocks the device has played
// since the last pass and returns how many.
int32_t MixPlayedBlocks();
uint32_t MixingThread(void* unused);

// Starts the mixing thread; tests put one in that fails. Null restores the platform's.
using MixingThreadStarter = platform::Thread* (*)(platform::ThreadEntry entry, void* argument,
                                                  bool timeCritical);
void SetMixingThreadStarter(MixingThreadStarter starter);

// True while the mixing thread renders a block.
bool MixingBusy();
// The block MixBlock renders next; read it only from the thread that calls MixBlock.
int32_t WriteIndex();
// The 16-bit stereo ring the device loops over; null before the first playback.
const int16_t* OutputRing();
