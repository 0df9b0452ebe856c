#include "scene/scene.h"

#include <cstdint>

#include "base/exception.h"
#include "base/pixel_space.h"
#include "base/screen.h"
#include "data/texture.h"
#include "data/tga.h"
#include "platform/counter.h"
#include "platform/gl.h"
#include "player/playback.h"
#include "player/format/module.h"
#include "player/player.h"
#include "player/format/song.h"
#include "player/format/stream.h"
#include "scene/pan.h"
#include "scene/scene_state.h"
#include "scene/sprites.h"
#include "text/fade_scroller.h"
#include "text/gl_font.h"
#include "text/sine_scroller.h"

SceneState g_scene;

namespace {

enum class Picture { Koala, Roobeer, Beach };
enum class Form { Upright, Turned };

struct Quad {
    int group;
    Picture picture;
    SpriteRect sprite;
    float x0, x1, y0, y1; // y1 < 0: down to the bottom of the screen
    Form form;
};

constexpr float kScreenBottom = -1.0f;

// 960 pixels of beach in the 640 x 480 layout.
constexpr Quad kQuads[] = {
    {1, Picture::Beach, kBeachStrip, 0.0f, 960.0f, 0.0f, kScreenBottom, Form::Upright},
    {2, Picture::Beach, kSun, 230.0f, 362.0f, 30.0f, 168.75f, Form::Upright},
    {3, Picture::Koala, kKoala, 600.0f, 714.0f, 150.0f, 426.75f, Form::Upright},
    {4, Picture::Roobeer, kBottle, 746.0f, 812.99f, 373.0f, 405.67f, Form::Upright},
    {4, Picture::Roobeer, kBottle, 15.0f, 81.99f, 405.0f, 437.67f, Form::Upright},
    {4, Picture::Roobeer, kBottle, 340.0f, 406.99f, 380.0f, 412.67f, Form::Upright},
    {5, Picture::Beach, kBarbecue, 670.0f, 837.25f, 300.0f, 423.75f, Form::Upright},
    {6, Picture::Roobeer, kBottle, 526.0f, 558.67f, 368.0f, 434.99f, Form::Turned},
    {6, Picture::Roobeer, kBottle, 740.0f, 772.67f, 266.0f, 332.99f, Form::Turned},
    {6, Picture::Roobeer, kKangaroo, 776.0f, 968.0f, 178.0f, 438.25f, Form::Upright},
};

uint32_t TextureOf(Picture picture) {
    switch (picture) {
    case Picture::Koala:
        return g_scene.koala->texture;
    case Picture::Roobeer:
        return g_scene.roobeer->texture;
    case Picture::Beach:
        break;
    }
    return g_scene.beach->texture;
}

void SendQuad(const Quad& q, float pan) {
    // Texel edges of the pictures, exact as floats.
    const float s0 = float(q.sprite.x0) / kPictureWidth, s1 = float(q.sprite.x1) / kPictureWidth;
    const float t0 = float(q.sprite.y0) / kPictureHeight, t1 = float(q.sprite.y1) / kPictureHeight;
    const float x0 = q.x0 - pan;
    const float x1 = q.x1 - pan;
    const float y1 = q.y1 == kScreenBottom ? float(g_screenHeight) : q.y1;
    // The corners counter-clockwise from the bottom left; a turned picture
    // takes its texel corners one on.
    const float texels[4][2] = {{s0, t1}, {s1, t1}, {s1, t0}, {s0, t0}};
    const float corners[4][2] = {{x0, y1}, {x1, y1}, {x1, q.y0}, {x0, q.y0}};
    const int turn = q.form == Form::Upright ? 0 : 1;
    for (int i = 0; i < 4; ++i) {
        glTexCoord2f(texels[(i + turn) % 4][0], texels[(i + turn) % 4][1]);
        glVertex2f(corners[i][0], corners[i][1]);
    }
}

void DrawQuads(float pan) {
    const size_t count = sizeof(kQuads) / sizeof(kQuads[0]);
    for (size_t i = 0; i < count;) {
        const int group = kQuads[i].group;
        glBindTexture(GL_TEXTURE_2D, TextureOf(kQuads[i].picture));
        glBegin(GL_QUADS);
        for (; i < count && kQuads[i].group == group; ++i)
            SendQuad(kQuads[i], pan);
        glEnd();
    }
}

void DrawLetterbox() {
    glDisable(GL_TEXTURE_2D);
    // The colour before glBegin: the same for every vertex, and the only
    // order that WebGL's fixed-function emulation accepts.
    glColor3f(0.0f, 0.0f, 0.0f);
    glBegin(GL_QUADS);
    glVertex2i(0, 45);
    glVertex2i(g_screenWidth, 45);
    glVertex2i(g_screenWidth, 0);
    glVertex2i(0, 0);
    glVertex2i(0, g_screenHeight);
    glVertex2i(g_screenWidth, g_screenHeight);
    glVertex2i(g_screenWidth, g_screenHeight - 45);
    glVertex2i(0, g_screenHeight - 45);
    glEnd();
}

void CreateFont() {
    CPixmap sheet(512, 256);
    sheet.Fill(0);
    {
        std::unique_ptr<CPixmap> picture = LoadImage("data/scrollfont.tga");
        sheet.Blit(*picture, 0, 0, picture->width, picture->height, 0, 0);
    }
    g_scene.font = new CGLFont(sheet, 23, 28);
}

// Deletes what object points at and forgets it.
template <typename T> void Release(T*& object) {
    delete object;
    object = nullptr;
}

} // namespace

void SceneStart() {
    glShadeModel(GL_FLAT);
    glEnable(GL_POLYGON_SMOOTH);
    glPolygonMode(GL_FRONT, GL_FILL);
    glPolygonMode(GL_BACK, GL_FILL);
    g_scene.pan = PanState{};

    // The callbacks first: the device refuses to open without them. No device
    // means a silent run, with no song and no message.
    SetStreamCallbacks(SongOpen, SongClose, SongRead, SongSeek, SongTell);
    if (OpenAudioDevice(44100)) {
        g_scene.player = new Player{};
        g_scene.song = LoadModule("#101");
        if (g_scene.song == nullptr)
            throw CException("Couldn't load music!");
    }

    g_scene.koala = new CTexture("data/koala.tga");
    g_scene.roobeer = new CTexture("data/roobeer.tga");
    g_scene.beach = new CTexture("data/sunbbqbeach.tga");

    CreateFont();
    g_scene.topScroller = new CSineScroller("data/topscroller.txt", true, 10.0f, g_scene.font, 90.0f);
    g_scene.topScroller->amplitude = 5.5f;
    g_scene.topScroller->waveFactor = 3.0f;
    g_scene.bottomScroller =
        new CFadeScroller("data/botscroller.txt", true, float(g_screenHeight) - 36.5f, g_scene.font, 200.0f);
    g_scene.bottomScroller->red = 0.7f;
    g_scene.bottomScroller->green = 0.0f;
    g_scene.bottomScroller->blue = 0.0f;

    g_scene.lastCounter = platform::QueryCounter();
    g_scene.frequency = platform::QueryCounterFrequency();

    // Without a mixing thread the scene runs silently, as without a device.
    if (g_scene.song != nullptr && !StartPlayback(g_scene.player, g_scene.song)) {
        FreeModule(g_scene.song);
        g_scene.song = nullptr;
        CloseAudioDevice();
        Release(g_scene.player);
    }
}

void SceneFrame() {
    const int64_t now = platform::QueryCounter();
    g_scene.frameTime = float(double(now - g_scene.lastCounter) / double(g_scene.frequency));
    g_scene.lastCounter = now;

    StepPan(g_scene.pan, g_scene.frameTime);

    PushPixelSpace();
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_TEXTURE_2D);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);

    DrawQuads(g_scene.pan.pan);
    DrawLetterbox();

    glDisable(GL_BLEND);
    glEnable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);
    PopPixelSpace();

    glColor3f(0.0f, 0.75f, 0.0f);
    g_scene.topScroller->Advance();
    g_scene.topScroller->Draw();
    g_scene.bottomScroller->Advance();
    g_scene.bottomScroller->Draw();
}

void SceneStop() {
    Release(g_scene.font);
    Release(g_scene.bottomScroller);
    Release(g_scene.topScroller);

    Release(g_scene.koala);
    Release(g_scene.roobeer);
    Release(g_scene.beach);

    // The mixing thread ends before the song goes; the device closes after
    // both, also when the song never loaded.
    if (g_scene.player != nullptr) {
        if (!StopPlayback(g_scene.player)) {
            // A mixing thread that never answered may still use the song, the
            // player and the device: they are left to the end of the process.
            g_scene.song = nullptr;
            g_scene.player = nullptr;
            return;
        }
        FreeModule(g_scene.song);
        g_scene.song = nullptr;
        CloseAudioDevice();
        Release(g_scene.player);
    }
}
