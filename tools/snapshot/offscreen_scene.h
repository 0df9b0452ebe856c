// The demo's scene drawn offscreen on a manual clock, silent: the same times
// always give the same pictures. Shared by the snapshot and capture tools.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/fake/manual_clock.h"
#include "platform/fake/virtual_wave.h"
#include "platform/osmesa/offscreen_gl.h"

class OffscreenScene {
public:
    // Divisible by 60, 50 and 30, so every frame of those rates falls on a whole tick.
    static constexpr int64_t kFrequency = 3000000;

    OffscreenScene();
    // SceneStop, whatever SceneStart got to.
    ~OffscreenScene();
    OffscreenScene(const OffscreenScene&) = delete;
    OffscreenScene& operator=(const OffscreenScene&) = delete;

    // False when no offscreen OpenGL context could be made.
    bool Valid() const { return m_gl.Valid(); }
    int Width() const { return m_gl.Width(); }
    int Height() const { return m_gl.Height(); }

    // SceneStart with the clock at 0; throws CException like the demo's start-up.
    void Start();
    // One SceneFrame with the clock moved on to ticks (never back).
    void FrameAt(int64_t ticks);
    // The clock reading of frame number frame at fps frames per second.
    static int64_t FrameTicks(int64_t frame, int fps) { return frame * kFrequency / fps; }
    // The picture drawn so far: RGBA bytes, row 0 at the top.
    std::vector<uint8_t> Pixels() const { return m_gl.ReadPixels(); }

private:
    platform::OffscreenGL m_gl;
    platform::ManualClock m_clock{kFrequency};
    // Refuses to open, so the scene runs without music, thread or sound card.
    platform::VirtualWaveOutput m_silence;
    int64_t m_ticks = 0;
    bool m_started = false;
};
