// Wave output: one 16-bit stereo PCM stream that loops a single buffer and
// reports how many bytes it has played, counting on across loop passes.
// Tests install a virtual device in place of the system one.
#pragma once
#include <cstdint>

#include "platform/thread.h"

namespace platform {

class WaveOutput {
public:
    virtual ~WaveOutput() = default;
    // Opens the default device for 16-bit stereo at rate frames per second.
    virtual bool Open(int32_t rate) = 0;
    // Makes buffer known to the device; it is played only after Play.
    virtual void Prepare(void* buffer, uint32_t bytes) = 0;
    // Starts looping the prepared buffer from its first byte, endlessly.
    virtual void Play() = 0;
    // Gives the buffer back once the device no longer plays it; a buffer
    // still looping goes on sounding until Reset.
    virtual void Unprepare() = 0;
    // Bytes played since Play, counting on across loop passes.
    virtual uint64_t BytesPlayed() = 0;
    // True once the device has failed or gone away since Play: its position
    // then stands still for good and nothing it is given is heard.
    virtual bool Lost() { return false; }
    // Lets the device play on for about milliseconds before the next look at
    // its position; a test device may answer at once.
    virtual void Idle(uint32_t milliseconds) { SleepMs(milliseconds); }
    // Stops playing; the buffer is no longer touched afterwards.
    virtual void Reset() = 0;
    virtual void Close() = 0;
    // A device whose callback runs on the program's only thread (a browser
    // page has no mixing thread) calls refill after each chunk it has played,
    // so the caller keeps the ring filled from there; false when the device
    // takes no refill and the caller needs its own thread. nullptr ends it.
    using Refill = int32_t (*)();
    virtual bool SetRefill(Refill) { return false; }
};

// The device the player uses: the installed one, else the system's.
WaveOutput& CurrentWaveOutput();
// Installs a device in place of the system's; nullptr restores the system's.
void SetWaveOutput(WaveOutput* output);
// The system's device, one per process.
WaveOutput& SystemWaveOutput();

} // namespace platform
