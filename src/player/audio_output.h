// The wave output and the mixing thread that keeps its looping ring filled.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/thread.h"

struct Module;
struct Player;
struct PlayPosition;

// The device's rate in frames per second.
extern int32_t g_mixingRate;
// Frames per block, and frames in the whole ring (a whole number of blocks).
extern int32_t g_blockLength;
extern int32_t g_ringLength;

bool OpenAudioDevice(int32_t rate);
void CloseAudioDevice();
// Milliseconds of sound in one block of the ring.
constexpr int32_t kMixBlockMs = 20;
// Frames per block at rate: 20 ms, a multiple of 4. Defined with the mixer,
// so that the offline tools have it without the device.
int32_t BlockLengthForRate(int32_t rate);

// Plays module from its start through player on the device, at the device's
// rate; the mixing thread alone touches player until StopPlayback. False for
// a null player or module.
bool StartPlayback(Player* player, Module* module);
// How long StopPlayback waits for the mixing thread by default.
constexpr uint32_t kStopPlaybackTimeoutMs = 2000;
// Ends playback on the device and waits for the mixing thread, at most
// timeoutMs; false for null, and false when the thread has not answered in
// time: it may still use the player, the song and the ring, which stay as they
// are (a later call tries again).
bool StopPlayback(Player* player, uint32_t timeoutMs = kStopPlaybackTimeoutMs);
// Runs action on the playing instance between two blocks, on the thread that
// renders them, and waits for it: the one safe way to look at or change the
// instance while it plays. With rerender, every block the device has not
// begun is rendered again afterwards, so a change is heard within a block
// instead of after the ring's two seconds. False when nothing plays.
bool ControlPlayback(const std::function<void(Player&)>& action, bool rerender);
// Where the song was at the start of the block the device plays now; call it
// from a ControlPlayback action. The instance itself is up to a ring ahead.
PlayPosition HeardPosition();

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
