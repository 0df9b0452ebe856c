// The pan oscillator of the beach view: 25 pixels per second between 0 and
// 320, each turn costing one frame without movement.
#pragma once

#include "base/frame_steps.h"

struct PanState {
    float pan = 0.0f;
    bool panForward = true;
};

inline void StepPan(PanState& state, float frameTime) {
    // A long frame goes in steps of a normal one, so the pan passes a limit by
    // one such step at most and turns as often as a steady run would.
    StepFrameTime(frameTime, [&state](float seconds) {
        if (state.panForward) {
            if (state.pan < 320.0f)
                state.pan += 25.0f * seconds;
            else
                state.panForward = false;
        } else {
            if (state.pan > 0.0f)
                state.pan -= 25.0f * seconds;
            else
                state.panForward = true;
        }
    });
}
