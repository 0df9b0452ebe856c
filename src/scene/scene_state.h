// The scene's objects and timing, null until created so that a start-up that
// failed halfway can still be torn down.
#pragma once
#include <cstdint>

#include "scene/pan.h"

class CTexture;
class CGLFont;
class CSineScroller;
class CFadeScroller;
struct Module;
struct Player;

struct SceneState {
    CTexture* koala = nullptr;
    CTexture* roobeer = nullptr;
    CTexture* beach = nullptr;
    CGLFont* font = nullptr;
    CSineScroller* topScroller = nullptr;
    CFadeScroller* bottomScroller = nullptr;
    Module* song = nullptr;   // null: no music
    Player* player = nullptr; // plays song on the device; null: no device
    int64_t frequency = 0;
    int64_t lastCounter = 0;
    float frameTime = 0.0f;
    PanState pan;
};

extern SceneState g_scene;
