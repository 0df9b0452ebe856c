#include "platform/wave_output.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<WaveOutput*> g_waveOutput{nullptr};
}

WaveOutput& CurrentWaveOutput() {
    WaveOutput* output = g_waveOutput.load(std::memory_order_acquire);
    return output ? *output : SystemWaveOutput();
}

void SetWaveOutput(WaveOutput* output) {
    g_waveOutput.store(output, std::memory_order_release);
}

} // namespace platform
