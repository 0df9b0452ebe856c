// The scene against an offscreen context and a virtual wave device: its frame,
// its start-up and stop, its music, and the pan it steps each frame; and on
// the demo's own data as the snapshot tool draws it, a long frame taken in
// steady steps.
#include "scene/scene.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "data/texture.h"
#include "data/tga_writer.h"
#include "platform/fake/manual_clock.h"
#include "platform/fake/virtual_wave.h"
#include "platform/gl.h"
#include "platform/osmesa/offscreen_gl.h"
#include "player/output/audio_output.h"
#include "scene/pan.h"
#include "scene/scene_state.h"
#include "tests/common/test_util.h"
#include "text/fade_scroller.h"
#include "text/gl_font.h"
#include "text/sine_scroller.h"
#include "tools/snapshot/offscreen_scene.h"

namespace {

// A TGA of one colour, 0xRRGGBBAA.
std::string SolidTga(int width, int height, uint32_t rgba) {
    return EncodeTga32(width, height, [rgba](int32_t, int32_t) { return rgba; });
}

class SceneTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(gl.Valid()); }
    void TearDown() override { SceneStop(); }
    // The first n data files in the order start-up loads them.
    void WriteData(int n = 6) {
        const std::pair<const char*, std::string> files[] = {
            {"data/koala.tga", SolidTga(256, 512, 0x00000000u)}, // transparent sprites
            {"data/roobeer.tga", SolidTga(256, 512, 0x00000000u)},
            {"data/sunbbqbeach.tga", SolidTga(256, 512, 0xC86432FFu)},
            {"data/scrollfont.tga", SolidTga(368, 168, 0x00000000u)},
            {"data/topscroller.txt", "  top\r\n"},
            {"data/botscroller.txt", "  one\r\n  two\r\n"},
        };
        for (int i = 0; i < n; ++i)
            testutil::WriteFile(files[i].first, files[i].second);
    }
    static std::string StartMessage() {
        try {
            SceneStart();
        } catch (const CException& e) {
            return e.Text();
        }
        return "";
    }

    platform::OffscreenGL gl;
    platform::ManualClock clock{1000};
    testutil::ScratchDir dir;
};

TEST_F(SceneTest, FrameShowsThePictureBetweenBlackBars) {
    WriteData();
    SceneStart();
    ASSERT_NE(g_scene.font, nullptr);
    EXPECT_EQ(g_scene.font->CellWidth(), 23);
    EXPECT_EQ(g_scene.font->CellHeight(), 28);
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    clock.AdvanceSeconds(0.04);
    SceneFrame();
    EXPECT_FLOAT_EQ(g_scene.pan.pan, 1.0f);
    const auto pixels = gl.ReadPixels();
    for (int x : {1, 320, 638}) {
        for (int y : {1, 44, 436, 478})
            EXPECT_EQ(gl.PixelRGB(pixels, x, y), 0u) << x << "," << y;
    }
    EXPECT_EQ(gl.PixelRGB(pixels, 320, 240), 0xC86432u);
    EXPECT_EQ(gl.PixelRGB(pixels, 5, 100), 0xC86432u);
}

// A start-up that fails part way names the missing file, leaves the song loaded but not playing,
// and stop releases everything made so far (a second stop finds nothing left).
TEST_F(SceneTest, FailedStartUpThrowsAndStopReleasesWhatWasMade) {
    const std::pair<int, const char*> cases[] = {
        {0, "LoadImage(): Unable to open 'data/koala.tga'!"},
        {1, "LoadImage(): Unable to open 'data/roobeer.tga'!"},
        {4, "Unable to load \"data/topscroller.txt\"!"},
    };
    for (const auto& [files, message] : cases) {
        std::filesystem::remove_all("data");
        platform::VirtualWaveOutput device;
        WriteData(files);
        EXPECT_EQ(StartMessage(), message);
        ASSERT_NE(g_scene.song, nullptr) << message;
        EXPECT_FALSE(device.playing.load()) << message;
        std::vector<GLuint> textures;
        for (CTexture* texture : {g_scene.koala, g_scene.roobeer, g_scene.beach}) {
            if (texture != nullptr)
                textures.push_back(texture->texture);
        }
        if (g_scene.font != nullptr)
            textures.push_back(g_scene.font->Texture());
        EXPECT_EQ(textures.size(), size_t(std::min(files, 4))) << message;
        SceneStop();
        for (GLuint texture : textures)
            EXPECT_FALSE(glIsTexture(texture)) << message;
        EXPECT_TRUE(!g_scene.koala && !g_scene.roobeer && !g_scene.beach && !g_scene.font && !g_scene.song)
            << message;
        EXPECT_FALSE(device.open.load()) << message;
        SceneStop();
    }
}

platform::Thread* NoThread(platform::ThreadEntry, void*, bool) {
    return nullptr;
}

// The music plays from the end of start-up until stop; without a mixing
// thread or without a device the scene runs silently. A device lost while
// playing leaves the scene drawing and stopping promptly.
TEST_F(SceneTest, MusicPlaysUntilStopOrTheSceneRunsSilently) {
    WriteData();
    const struct {
        const char* what;
        bool threadless, refused, lost;
    } cases[] = {{"music", false, false, false},
                 {"no thread", true, false, false},
                 {"no device", false, true, false},
                 {"device lost", false, false, true}};
    for (const auto& [what, threadless, refused, lost] : cases) {
        platform::VirtualWaveOutput device;
        const bool music = !threadless && !refused;
        device.refuseOpen = refused;
        SetMixingThreadStarter(threadless ? NoThread : nullptr);
        SceneStart();
        SetMixingThreadStarter(nullptr);
        EXPECT_EQ(g_scene.song != nullptr, music) << what;
        EXPECT_EQ(device.playing.load(), music) << what;
        EXPECT_EQ(device.open.load(), music) << what;
        EXPECT_TRUE(!music || device.rate.load() == 44100) << what;
        device.lost = lost;
        for (int frame = 0; frame < 5; ++frame) {
            clock.AdvanceSeconds(0.1);
            SceneFrame();
        }
        const auto start = std::chrono::steady_clock::now();
        SceneStop();
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0)
            << what;
        EXPECT_EQ(g_scene.song, nullptr) << what;
        EXPECT_FALSE(device.open.load()) << what;
        EXPECT_TRUE(!refused || device.resets.load() == 0) << "a device never opened is not reset";
    }
}

// 25 pixels a second, a pixel a frame at 25 frames a second; a limit (0 or 320) is passed by one
// step, and the turn itself costs a frame. Time that runs backwards moves nothing.
TEST(PanTest, MovesAndTurnsOneFrameAfterPassingALimit) {
    struct Step {
        float pan;
        bool forward;
    };
    const struct {
        PanState start;
        float seconds;
        std::vector<Step> steps;
    } cases[] = {
        {{}, 0.04f, {{1.0f, true}, {2.0f, true}}},
        {{319.5f, true}, 0.04f, {{320.5f, true}, {320.5f, false}, {319.5f, false}}},
        {{0.5f, false}, 0.04f, {{-0.5f, false}, {-0.5f, true}, {0.5f, true}}},
        {{320.0f, true}, 0.04f, {{320.0f, false}}}, // exactly at the limit turns
        {{100.0f, true}, -30.0f, {{100.0f, true}}},
    };
    for (const auto& c : cases) {
        PanState state = c.start;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            StepPan(state, c.seconds);
            EXPECT_FLOAT_EQ(state.pan, c.steps[i].pan) << "from " << c.start.pan << ", step " << i;
            EXPECT_EQ(state.panForward, c.steps[i].forward) << "from " << c.start.pan << ", step " << i;
        }
    }
}

struct Moment {
    PanState pan;
    int32_t top, bottom;
    float topOffset, bottomOffset;
    std::vector<uint8_t> pixels;
};

// The demo's scene on its own data, drawn at the given frame numbers of a 60 fps clock; what
// the pan and the scrollers hold after the last one, and its picture.
Moment RunScene(const std::vector<int64_t>& frames) {
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(TINSEL_ASSETS_DIR);
    Moment moment{};
    {
        OffscreenScene scene;
        if (!scene.Valid()) {
            ADD_FAILURE() << "no offscreen OpenGL context";
            std::filesystem::current_path(previous);
            return moment;
        }
        scene.Start();
        // Only the last frame's picture is looked at: the others draw nothing, which
        // spares the time but leaves the scene's own steps as they are.
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, 0, 0);
        for (size_t i = 0; i < frames.size(); ++i) {
            if (i + 1 == frames.size())
                glDisable(GL_SCISSOR_TEST);
            scene.FrameAt(OffscreenScene::FrameTicks(frames[i], 60));
        }
        moment = {g_scene.pan,
                  g_scene.topScroller->Index(),
                  g_scene.bottomScroller->Index(),
                  g_scene.topScroller->ScrollOffset(),
                  g_scene.bottomScroller->ScrollOffset(),
                  scene.Pixels()};
    }
    std::filesystem::current_path(previous);
    return moment;
}

// One frame of 30 s (a hidden page, a dragged window) from 1 s on: it is gone through in the
// steps of a steady 60 fps run, so at 31 s the pan (past two turns) and both scrollers stand
// exactly where the steady run has them and the picture is the same. Taken whole, the pan
// would stand 455 pixels past its end and each scroller's text thousands of pixels off screen.
TEST(LongFrameTest, SceneStandsWhereASteadyRunStands) {
    const int64_t start = 60, end = 31 * 60;
    std::vector<int64_t> steady, jump;
    for (int64_t frame = 0; frame <= end; ++frame) {
        steady.push_back(frame);
        if (frame <= start || frame == end)
            jump.push_back(frame);
    }
    const Moment expected = RunScene(steady);
    const Moment got = RunScene(jump);
    EXPECT_TRUE(expected.pan.pan > 0.0f && expected.pan.pan < 320.0f) << expected.pan.pan;
    EXPECT_EQ(got.pan.pan, expected.pan.pan);
    EXPECT_EQ(got.pan.panForward, expected.pan.panForward);
    EXPECT_EQ(got.top, expected.top);
    EXPECT_EQ(got.topOffset, expected.topOffset);
    EXPECT_EQ(got.bottom, expected.bottom);
    EXPECT_EQ(got.bottomOffset, expected.bottomOffset);
    ASSERT_EQ(got.pixels.size(), expected.pixels.size());
    EXPECT_TRUE(got.pixels == expected.pixels);
}

} // namespace
