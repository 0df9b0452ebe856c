#include "render.h"

#include <memory>

#include "player/mixer.h"
#include "player/player.h"

std::vector<int16_t> RenderSong(Module* module, int frames) {
    auto player = std::make_unique<Player>();
    InitPlayer(*player, 44100);
    StartSong(*player, module);
    std::vector<float> mix(static_cast<size_t>(frames) * 2);
    RenderFrames(*player, mix.data(), frames);
    std::vector<int16_t> pcm(mix.size());
    ConvertToPcm16(pcm.data(), mix.data(), frames);
    return pcm;
}
