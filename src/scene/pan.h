// The pan oscillator of the beach view: 25 pixels per second between 0 and
// 320, each turn costing one frame without movement.
#pragma once

struct PanState {
    float pan = 0.0f;
    bool panForward = true;
};

inline void StepPan(PanState& state, float frameTime) {
    if (state.panForward) {
        if (state.pan < 320.0f)
            state.pan += 25.0f * frameTime;
        else
            state.panForward = false;
    } else {
        if (state.pan > 0.0f)
            state.pan -= 25.0f * frameTime;
        else
            state.panForward = true;
    }
}
