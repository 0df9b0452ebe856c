#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/native.h"

namespace platform {

int64_t NativeCounter() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t NativeCounterFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

} // namespace platform
