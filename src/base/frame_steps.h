// How the scene's movers (the pan and both scrollers) take the time of one frame.
#pragma once
#include <algorithm>
#include <cmath>

// Frames of up to 1/25 s are taken whole, as they always were. A longer one (a hidden page, a
// dragged window, a stalled machine) is gone through in equal steps of at most 1/60 s, as if
// the frames had come at a normal rate meanwhile: the scene then stands where a steady run
// stands after the same time, in step with the music that played on, and no mover is thrown
// past its turn or its text in one go. Catching up stops at an hour (a machine that slept);
// time that runs backwards counts as none.
constexpr float kLongestWholeFrame = 1.0f / 25.0f;
constexpr float kCatchUpRate = 60.0f;
constexpr float kLongestCatchUp = 3600.0f;

// Calls move(seconds) once per step that the frame's time is taken in.
template <typename Move> void StepFrameTime(float seconds, Move&& move) {
    if (!(seconds > 0.0f)) {
        move(0.0f);
        return;
    }
    if (seconds <= kLongestWholeFrame) {
        move(seconds);
        return;
    }
    seconds = std::min(seconds, kLongestCatchUp);
    const int steps = int(std::ceil(seconds * kCatchUpRate));
    const float step = seconds / float(steps);
    for (int i = 0; i < steps; ++i)
        move(step);
}
