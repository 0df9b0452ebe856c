#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <cerrno>
#include <new>

#include "platform/thread.h"

namespace platform {

struct Thread {
    pthread_t handle;
    ThreadEntry entry;
    void* argument;
};

namespace {
void* RunThread(void* raw) {
    Thread* thread = static_cast<Thread*>(raw);
    thread->entry(thread->argument);
    return nullptr;
}
} // namespace

void SleepMs(uint32_t milliseconds) {
    timespec want{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
    while (nanosleep(&want, &want) == -1 && errno == EINTR) {
    }
}

Thread* CreateThread(ThreadEntry entry, void* argument, bool timeCritical) {
    Thread* thread = new (std::nothrow) Thread{{}, entry, argument};
    if (!thread)
        return nullptr;
    if (pthread_create(&thread->handle, nullptr, RunThread, thread) != 0) {
        delete thread;
        return nullptr;
    }
    if (timeCritical) {
        // Real-time scheduling needs privileges; without them the thread keeps
        // the default policy, which is fine for a 5 ms poll against a 2 s ring.
        sched_param param{};
        param.sched_priority = sched_get_priority_max(SCHED_FIFO);
        pthread_setschedparam(thread->handle, SCHED_FIFO, &param);
    }
    return thread;
}

void ReleaseThread(Thread* thread) {
    if (!thread)
        return;
    pthread_join(thread->handle, nullptr);
    delete thread;
}

} // namespace platform
