// Volume and panning envelopes: 16.16 values stepped once per tick between
// the instrument's points, holding at a sustain point and jumping back at a loop.
#include "player/effects.h"
#include "player/module.h"

namespace {
constexpr int kStoredPoints = 12;

int32_t Fixed(uint16_t y) {
    return static_cast<int32_t>(static_cast<uint32_t>(y) << 16);
}
} // namespace

void StepEnvelope(TrackChannel& c, int32_t& tick, int32_t& point, int32_t& value, int32_t& step,
                  uint8_t& done, int32_t& output, const EnvelopePoint* points, uint8_t pointCount,
                  uint8_t type, uint8_t sustain, uint8_t loopStart, uint8_t loopEnd, uint8_t flagBit) {
    // A damaged instrument may count more points, or name points, beyond those stored.
    const int n = pointCount < kStoredPoints ? pointCount : kStoredPoints;
    const bool loop = (type & 4) && loopStart < n && loopEnd < n;
    if (point >= 0 && point < n) {
        if (tick != points[point].x) {
            value = static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(step));
        } else {
            if (loop && point == loopEnd) {
                point = loopStart;
                tick = points[loopStart].x;
            }
            if (point == n - 1) {
                output = points[point].y;
                done = 1;
                c.updateFlags |= flagBit;
                return;
            }
            if ((type & 2) && point == sustain && c.keyOff == 0) {
                output = points[point].y;
                c.updateFlags |= flagBit;
                return;
            }
            const int dx = points[point + 1].x - points[point].x;
            const int64_t dy = static_cast<int64_t>(Fixed(points[point + 1].y)) - Fixed(points[point].y);
            step = dx != 0 ? static_cast<int32_t>(dy / dx) : 0;
            value = Fixed(points[point].y);
            point += 1;
        }
    }
    output = static_cast<int16_t>(static_cast<uint32_t>(value) >> 16);
    tick += 1;
    c.updateFlags |= flagBit;
}

void StepVolumeEnvelope(TrackChannel& c, const Instrument& ins) {
    StepEnvelope(c, c.volEnvTick, c.volEnvPoint, c.volEnvValue, c.volEnvStep, c.volEnvDone, c.envVolume,
                 ins.volumeEnvelope, ins.volumePointCount, ins.volumeType, ins.volumeSustain,
                 ins.volumeLoopStart, ins.volumeLoopEnd, kUpdateVolume);
}

void StepPanningEnvelope(TrackChannel& c, const Instrument& ins) {
    StepEnvelope(c, c.panEnvTick, c.panEnvPoint, c.panEnvValue, c.panEnvStep, c.panEnvDone, c.envPanning,
                 ins.panningEnvelope, ins.panningPointCount, ins.panningType, ins.panningSustain,
                 ins.panningLoopStart, ins.panningLoopEnd, kUpdatePanning);
}
