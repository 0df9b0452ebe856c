// Drawing in screen pixels: origin at the top-left corner, y growing
// downward, one unit per pixel of g_screenWidth x g_screenHeight.
#pragma once

// Pushes the projection (set to the pixel-space orthographic one) and the
// model-view matrix (set to identity); the model-view matrix stays selected.
void PushPixelSpace();
// Pops the projection, then the model-view matrix, which stays selected.
void PopPixelSpace();
