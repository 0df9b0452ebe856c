// The instance on the ring: each block records where the song stood before
// rendering it, so that what is heard can be told from what is rendered.
#include "player/playback.h"

namespace {

Player* g_player = nullptr; // the instance the mixing thread plays
PlayPosition g_blockPositions[kMaxRingBlocks];

void RenderBlock(void* context, int32_t block, float* destination, int32_t frames) {
    Player& player = *static_cast<Player*>(context);
    if (block < kMaxRingBlocks)
        g_blockPositions[block] = CurrentPosition(player);
    RenderFrames(player, destination, frames);
}

} // namespace

bool StartPlayback(Player* player, const Module* module) {
    return module != nullptr && StartPlayback(player, module, SongRules(*module));
}

bool StartPlayback(Player* player, const Module* module, RuleSet rules) {
    if (player == nullptr || module == nullptr)
        return false;
    // An earlier mixing thread that does not end may still use the ring.
    if (!StopPlayback(player))
        return false;
    if (!AudioDeviceReady())
        return true; // nothing to play on; the song stays silent
    // The ramp follows the rate; whatever else the caller set on the instance stays.
    player->mixingRate = g_mixingRate;
    player->rampLength = RampLengthForRate(g_mixingRate);
    player->rampReciprocal = 1.0f / static_cast<float>(player->rampLength);
    StartSong(*player, module, rules);
    g_player = player;
    if (!StartRing(BlockSource{player, RenderBlock})) {
        g_player = nullptr;
        return false;
    }
    return true;
}

bool StopPlayback(Player* player, uint32_t timeoutMs) {
    if (player == nullptr)
        return false;
    if (!StopRing(timeoutMs))
        return false;
    g_player = nullptr;
    return true;
}

bool ControlPlayback(const std::function<void(Player&)>& action, bool rerender) {
    Player* player = g_player;
    return player != nullptr && ControlRing([&] { action(*player); }, rerender);
}

PlayPosition HeardPosition() {
    const int32_t playing = PlayingRingBlock();
    return playing < kMaxRingBlocks ? g_blockPositions[playing] : PlayPosition{};
}
