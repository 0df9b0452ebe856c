// Threads and sleeping: what the mixing thread needs of the OS.
#pragma once
#include <cstdint>

namespace platform {

void SleepMs(uint32_t milliseconds);

struct Thread;
using ThreadEntry = uint32_t (*)(void* argument);

// Starts a thread running entry(argument) at once; null on failure.
// timeCritical asks for the highest priority the OS grants without privileges.
Thread* CreateThread(ThreadEntry entry, void* argument, bool timeCritical);

// Releases the handle of a thread that has ended (waits for it to end first).
void ReleaseThread(Thread* thread);

} // namespace platform
