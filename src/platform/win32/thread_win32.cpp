#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <new>

#include "platform/thread.h"

namespace platform {

struct Thread {
    HANDLE handle;
    ThreadEntry entry;
    void* argument;
};

namespace {
DWORD WINAPI RunThread(LPVOID raw) {
    Thread* thread = static_cast<Thread*>(raw);
    return thread->entry(thread->argument);
}
} // namespace

void SleepMs(uint32_t milliseconds) {
    Sleep(milliseconds);
}

Thread* CreateThread(ThreadEntry entry, void* argument, bool timeCritical) {
    Thread* thread = new (std::nothrow) Thread{nullptr, entry, argument};
    if (!thread)
        return nullptr;
    DWORD id = 0;
    thread->handle = ::CreateThread(nullptr, 0, RunThread, thread, 0, &id);
    if (!thread->handle) {
        delete thread;
        return nullptr;
    }
    if (timeCritical)
        SetThreadPriority(thread->handle, THREAD_PRIORITY_TIME_CRITICAL);
    return thread;
}

void ReleaseThread(Thread* thread) {
    if (!thread)
        return;
    WaitForSingleObject(thread->handle, INFINITE);
    CloseHandle(thread->handle);
    delete thread;
}

} // namespace platform
