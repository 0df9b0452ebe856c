#include "tools/snapshot/offscreen_scene.h"

#include "base/screen.h"
#include "scene/scene.h"

OffscreenScene::OffscreenScene() : m_gl(g_screenWidth, g_screenHeight) {
    m_silence.refuseOpen.store(true);
}

OffscreenScene::~OffscreenScene() {
    if (m_started)
        SceneStop();
}

void OffscreenScene::Start() {
    m_started = true;
    SceneStart();
}

void OffscreenScene::FrameAt(int64_t ticks) {
    if (ticks > m_ticks) {
        m_clock.AdvanceTicks(ticks - m_ticks);
        m_ticks = ticks;
    }
    SceneFrame();
}
