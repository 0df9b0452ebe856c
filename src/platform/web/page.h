// What the page adds to the window seam: the program starts when the viewer
// asks for it (a click on the overlay, which also lets the page sound).
#pragma once

namespace platform {

// Shows the page's start overlay and returns once the viewer has started the
// demo, or at once when the page was opened to start by itself and may sound.
void WaitForViewer();

} // namespace platform
