#include "tools/snapshot/offscreen_scene.h"

#include "scene/scene.h"

int32_t g_screenWidth = 640;
int32_t g_screenHeight = 480;

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
