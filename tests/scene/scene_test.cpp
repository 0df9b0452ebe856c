#include "scene/scene.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "base/exception.h"
#include "data/texture.h"
#include "data/tga_writer.h"
#include "platform/fake/manual_clock.h"
#include "platform/fake/virtual_wave.h"
#include "platform/gl.h"
#include "platform/osmesa/offscreen_gl.h"
#include "player/audio_output.h"
#include "scene/scene_state.h"
#include "text/gl_font.h"

namespace {

// A TGA of one colour, 0xRRGGBBAA.
std::string SolidTga(int width, int height, uint32_t rgba) {
    return EncodeTga32(width, height, [rgba](int32_t, int32_t) { return rgba; });
}

class SceneTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(gl.Valid());
        char name[] = "/tmp/tinsel_scene_XXXXXX";
        root = mkdtemp(name);
        std::filesystem::create_directory(root / "data");
        previous = std::filesystem::current_path();
        std::filesystem::current_path(root);
    }
    void TearDown() override {
        SceneStop();
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(root);
    }
    void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(root / path, std::ios::binary) << bytes;
    }
    void WritePictures() {
        Write("data/koala.tga", SolidTga(256, 512, 0x00000000u)); // transparent sprites
        Write("data/roobeer.tga", SolidTga(256, 512, 0x00000000u));
        Write("data/sunbbqbeach.tga", SolidTga(256, 512, 0xC86432FFu));
    }
    void WriteAll() {
        WritePictures();
        Write("data/scrollfont.tga", SolidTga(368, 168, 0x00000000u));
        Write("data/topscroller.txt", "  top\r\n");
        Write("data/botscroller.txt", "  one\r\n  two\r\n");
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
    std::filesystem::path root;
    std::filesystem::path previous;
};

TEST_F(SceneTest, FrameShowsThePictureBetweenBlackBars) {
    WriteAll();
    SceneStart();
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    clock.AdvanceSeconds(1.0);
    SceneFrame();
    EXPECT_FLOAT_EQ(g_scene.pan.pan, 25.0f);
    const auto pixels = gl.ReadPixels();
    for (int x : {1, 320, 638}) {
        EXPECT_EQ(gl.PixelRGB(pixels, x, 1), 0u);
        EXPECT_EQ(gl.PixelRGB(pixels, x, 44), 0u);
        EXPECT_EQ(gl.PixelRGB(pixels, x, 436), 0u);
        EXPECT_EQ(gl.PixelRGB(pixels, x, 478), 0u);
    }
    EXPECT_EQ(gl.PixelRGB(pixels, 320, 240), 0xC86432u);
    EXPECT_EQ(gl.PixelRGB(pixels, 5, 100), 0xC86432u);
}

TEST_F(SceneTest, BuildsTheFontAndScrollersFromTheData) {
    WriteAll();
    SceneStart();
    ASSERT_NE(g_scene.font, nullptr);
    EXPECT_EQ(g_scene.font->CellWidth(), 23);
    EXPECT_EQ(g_scene.font->CellHeight(), 28);
    // A blank picture: every cell is blank and takes its full width.
    EXPECT_EQ(g_scene.font->GetGlyph('A').width, 23);
    EXPECT_NE(g_scene.topScroller, nullptr);
    EXPECT_NE(g_scene.bottomScroller, nullptr);
}

TEST_F(SceneTest, MissingPictureThrowsAndStopReleasesTheTexturesMade) {
    Write("data/koala.tga", SolidTga(256, 512, 0));
    EXPECT_EQ(StartMessage(), "LoadImage(): Unable to open 'data/roobeer.tga'!");
    ASSERT_NE(g_scene.koala, nullptr);
    EXPECT_EQ(g_scene.roobeer, nullptr);
    const GLuint koala = g_scene.koala->texture;
    EXPECT_TRUE(glIsTexture(koala));
    SceneStop();
    EXPECT_EQ(g_scene.koala, nullptr);
    EXPECT_FALSE(glIsTexture(koala));
}

TEST_F(SceneTest, MissingScrollTextThrowsAndStopReleasesEverything) {
    WritePictures();
    Write("data/scrollfont.tga", SolidTga(368, 168, 0));
    EXPECT_EQ(StartMessage(), "Unable to load \"data/topscroller.txt\"!");
    ASSERT_NE(g_scene.font, nullptr);
    const GLuint font = g_scene.font->Texture();
    const GLuint beach = g_scene.beach->texture;
    SceneStop();
    EXPECT_EQ(g_scene.font, nullptr);
    EXPECT_EQ(g_scene.beach, nullptr);
    EXPECT_FALSE(glIsTexture(font));
    EXPECT_FALSE(glIsTexture(beach));
    SceneStop(); // a second stop finds nothing left to release
}

TEST_F(SceneTest, MusicPlaysFromTheEndOfStartUpUntilStop) {
    platform::VirtualWaveOutput device;
    WriteAll();
    SceneStart();
    ASSERT_NE(g_scene.song, nullptr);
    EXPECT_EQ(device.rate.load(), 44100);
    EXPECT_TRUE(device.playing.load());
    EXPECT_EQ(device.buffer.load(), OutputRing());
    SceneStop();
    EXPECT_EQ(g_scene.song, nullptr);
    EXPECT_FALSE(device.open.load());
}

TEST_F(SceneTest, StartUpThatFailsAfterTheSongLoadedStopsNothingAndClosesTheDevice) {
    platform::VirtualWaveOutput device;
    EXPECT_EQ(StartMessage(), "LoadImage(): Unable to open 'data/koala.tga'!");
    ASSERT_NE(g_scene.song, nullptr);
    EXPECT_FALSE(device.playing.load());
    SceneStop();
    EXPECT_EQ(g_scene.song, nullptr);
    EXPECT_FALSE(device.open.load());
}

platform::Thread* NoThread(platform::ThreadEntry, void*, bool) {
    return nullptr;
}

TEST_F(SceneTest, WithoutAMixingThreadTheSceneRunsSilently) {
    platform::VirtualWaveOutput device;
    SetMixingThreadStarter(NoThread);
    WriteAll();
    SceneStart();
    SetMixingThreadStarter(nullptr);
    EXPECT_EQ(g_scene.song, nullptr);
    EXPECT_FALSE(device.playing.load());
    EXPECT_FALSE(device.open.load());
    clock.AdvanceSeconds(0.5);
    SceneFrame();
    SceneStop();
}

TEST_F(SceneTest, ALostDeviceLeavesTheSceneDrawingAndStoppingPromptly) {
    platform::VirtualWaveOutput device;
    WriteAll();
    SceneStart();
    ASSERT_NE(g_scene.song, nullptr);
    device.lost = true;
    for (int frame = 0; frame < 5; ++frame) {
        clock.AdvanceSeconds(0.1);
        SceneFrame();
    }
    const auto start = std::chrono::steady_clock::now();
    SceneStop();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
    EXPECT_EQ(g_scene.song, nullptr);
    EXPECT_FALSE(device.open.load());
}

TEST_F(SceneTest, WithoutAnAudioDeviceTheSceneRunsSilently) {
    platform::VirtualWaveOutput device;
    device.refuseOpen = true;
    WriteAll();
    SceneStart();
    EXPECT_EQ(g_scene.song, nullptr);
    clock.AdvanceSeconds(0.5);
    SceneFrame();
    SceneStop();
    EXPECT_EQ(device.resets.load(), 0);
}

} // namespace
