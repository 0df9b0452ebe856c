#include "app/main_loop.h"

#include "base/exception.h"
#include "app/window.h"
#include "platform/window.h"
#include "scene/scene.h"

namespace {
bool g_quit = false;
}

int RunProgram() {
    g_quit = false;
    g_fullscreen = true;
    if (!CreateMainWindow("Tinselbay", g_screenWidth, g_screenHeight, 32, true))
        return 0;

    platform::Message last;
    try {
        SceneStart();
        while (!g_quit) {
            platform::Message message;
            if (platform::PeekWindowMessage(message)) {
                last = message;
                if (message.message == platform::kMsgQuit)
                    g_quit = true;
                else
                    platform::DispatchWindowMessage(message);
                continue; // every pending message before the next frame
            }
            // Escape is seen between batches: a press whose down and up
            // arrive in one batch does not end the program.
            if (g_keys[27])
                g_quit = true;
            SceneFrame();
            platform::SwapMainBuffers();
            platform::ValidateMainWindow();
        }
        SceneStop();
        DestroyMainWindow();
        return int(last.wParam);
    } catch (CException& error) {
        SceneStop();
        // The display mode is restored before the box is shown.
        DestroyMainWindow();
        platform::ShowMessageBox(error.Text() ? error.Text() : "", platform::BoxButtons::Ok);
        return 0;
    }
}
