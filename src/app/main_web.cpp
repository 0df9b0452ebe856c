// The page's entry: the program runs each time the viewer starts it, with a
// key table as fresh as a new process would have, until Escape ends it and
// the page offers it again.
#include <cstring>

#include "app/main_loop.h"
#include "app/window.h"
#include "platform/web/page.h"

int main() {
    for (;;) {
        platform::WaitForViewer();
        std::memset(g_keys, 0, sizeof g_keys);
        RunProgram();
    }
}
