// The instance on the ring: each block records where the song stood before
// rendering it, so that what is heard can be told from what is rendered.
#include "player/playback.h"

#include <algorithm>

namespace {

Player* g_player = nullptr; // the instance the mixing thread plays
PlayPosition g_blockPositions[kMaxRingBlocks];
// With RecordHeardChannels: kMaxChannels states for each ring block, and the
// song's channel count in each.
std::vector<ChannelState> g_blockChannels;
int32_t g_blockChannelCounts[kMaxRingBlocks];

void RenderBlock(void* context, int32_t block, float* destination, int32_t frames) {
    Player& player = *static_cast<Player*>(context);
    if (block < kMaxRingBlocks)
        g_blockPositions[block] = CurrentPosition(player);
    RenderFrames(player, destination, frames);
    if (block < kMaxRingBlocks && !g_blockChannels.empty()) {
        g_blockChannelCounts[block] =
            GetChannelStates(player, g_blockChannels.data() + size_t(block) * kMaxChannels, kMaxChannels);
    }
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
    // The ramp follows the rate, as the caller chose it (off stays off);
    // whatever else the caller set on the instance stays.
    player->mixingRate = g_mixingRate;
    SetRamp(*player, player->ramp);
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

void RecordHeardChannels(bool record) {
    if (!record) {
        std::vector<ChannelState>().swap(g_blockChannels);
    } else if (g_blockChannels.empty()) {
        g_blockChannels.assign(size_t(kMaxRingBlocks) * kMaxChannels, ChannelState{});
        std::fill(std::begin(g_blockChannelCounts), std::end(g_blockChannelCounts), 0);
    }
}

std::vector<ChannelState> HeardChannels() {
    const int32_t playing = PlayingRingBlock();
    if (g_blockChannels.empty() || playing >= kMaxRingBlocks)
        return {};
    const auto first = g_blockChannels.begin() + ptrdiff_t(playing) * kMaxChannels;
    return std::vector<ChannelState>(first, first + g_blockChannelCounts[playing]);
}
