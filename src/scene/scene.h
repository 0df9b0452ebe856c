// The beach scene: start-up, one frame, tear-down.
#pragma once

// Throws CException on a fatal error; whatever was made before the throw
// stays for SceneStop.
void SceneStart();
// Draws one frame into the current OpenGL context.
void SceneFrame();
// Releases every object that exists; safe after a start-up that failed halfway.
void SceneStop();
