// The instance's life: its rate, the reset that starts a song, and the block
// loop that interleaves ticks with mixing.
#include "player/player.h"

#include <cstring>

#include "player/replay.h"

namespace {

void ClearVoices(Player& player) {
    for (int i = 0; i < kVoiceCount; ++i) {
        player.VoicePool[i] = MixVoice{};
        player.VoicePool[i].number = i;
        player.VoicePool[i].stepInt = 1;
    }
}

} // namespace

bool InitPlayer(Player& player, int32_t rate) {
    if (rate < 1) {
        return false;
    }
    player = Player{};
    player.mixingRate = rate;
    player.rampLength = RampLengthForRate(rate);
    player.rampReciprocal = 1.0f / static_cast<float>(player.rampLength);
    ClearVoices(player);
    return true;
}

bool StartSong(Player& player, Module* module) {
    return module != nullptr && StartSong(player, module, RulesForTracker(module->trackerName));
}

bool StartSong(Player& player, Module* module, RuleSet rules) {
    if (module == nullptr) {
        return false;
    }
    player.module = module;
    player.rules = rules;
    module->globalVolume = module->initialGlobalVolume;
    module->nextRow = -1;
    module->nextOrder = -1;
    module->speed = module->defaultTempo;
    module->row = 0;
    module->orderIndex = 0;
    module->samplesLeft = 0;
    module->tick = 0;
    module->patternDelay = 0;
    SetBpm(player, module->defaultBpm);
    // Voices may still point at the samples of a song freed since.
    ClearVoices(player);
    for (int i = 0; i < kMaxChannels; ++i) {
        player.TrackChannels[i] = TrackChannel{};
        player.TrackChannels[i].voice = &player.VoicePool[i];
        player.TrackChannels[i].index = i;
    }
    if (rules == RuleSet::Ft2) {
        ft2::Start(*module, player.ft2, player.mixingRate);
    }
    return true;
}

void RenderFrames(Player& player, float* destination, int32_t frames) {
    if (destination == nullptr || frames < 1) {
        return;
    }
    std::memset(destination, 0, static_cast<size_t>(frames) * 2 * sizeof(float));
    Module* module = player.module;
    if (module == nullptr) {
        return;
    }
    int32_t left = module->samplesLeft;
    int32_t done = 0;
    while (done < frames) {
        if (left == 0) {
            module->tickRoutine(player);
            left = module->samplesPerTick;
            if (left <= 0) {
                left = frames - done; // a broken tempo must not spin forever
            }
        }
        const int32_t n = left < frames - done ? left : frames - done;
        MixVoices(player, destination, n);
        done += n;
        left -= n;
        destination += static_cast<size_t>(n) * 2;
    }
    module->samplesLeft = left;
}
