// What each backend provides beneath the seam's own shared code.
#pragma once
#include <cstdint>

namespace platform {
int64_t NativeCounter();
int64_t NativeCounterFrequency();
} // namespace platform
