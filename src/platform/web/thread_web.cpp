// A page has one thread: no mixing thread is ever started here (the wave
// output refills the ring from its callback instead).
#include <emscripten.h>

#include "platform/thread.h"

namespace platform {

struct Thread {};

// Only reached when something waits for a flag that a thread would set;
// there is none, so a short busy wait ends it.
void SleepMs(uint32_t milliseconds) {
    const double until = emscripten_get_now() + milliseconds;
    while (emscripten_get_now() < until) {
    }
}

Thread* CreateThread(ThreadEntry, void*, bool) {
    return nullptr;
}

void ReleaseThread(Thread* thread) {
    delete thread;
}

} // namespace platform
