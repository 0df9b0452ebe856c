#include <time.h>

#include "platform/native.h"

namespace platform {

int64_t NativeCounter() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t NativeCounterFrequency() {
    return 1000000000;
}

} // namespace platform
