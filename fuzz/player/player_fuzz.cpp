// Loads arbitrary bytes as a song from memory and, when they
// load, plays a few hundred ticks under each rule set and mixes them, as the
// block renderer does.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "player/mixer.h"
#include "player/module.h"
#include "player/player.h"
#include "player/song.h"

namespace {

constexpr int kTicks = 300;
constexpr int32_t kBlockFrames = 884;
// Frames mixed per tick at most: enough for every boundary kind, bounded time per input.
constexpr int32_t kFramesPerTick = 192;

void PlayAndMix(Module* m, RuleSet rules) {
    static Player player;
    InitPlayer(player, 44100);
    StartSong(player, m, rules);
    static std::vector<float> mix(2 * kBlockFrames);
    static std::vector<int16_t> pcm(2 * kBlockFrames);
    int32_t done = 0;
    for (int t = 0; t < kTicks; ++t) {
        m->tickRoutine(player);
        int32_t left = m->samplesPerTick < kFramesPerTick ? m->samplesPerTick : kFramesPerTick;
        while (left > 0) {
            if (done == kBlockFrames) {
                ConvertToPcm16(pcm.data(), mix.data(), kBlockFrames);
                std::fill(mix.begin(), mix.end(), 0.0f);
                done = 0;
            }
            const int32_t n = left < kBlockFrames - done ? left : kBlockFrames - done;
            MixVoices(player, mix.data() + 2 * done, n);
            done += n;
            left -= n;
        }
    }
    ConvertToPcm16(pcm.data(), mix.data(), done);
}

void LoadAndPlay(const uint8_t* data, size_t size) {
    Module* m = LoadModuleFromMemory(data, size);
    if (m != nullptr) {
        PlayAndMix(m, RuleSet::Tinsel);
        PlayAndMix(m, RuleSet::Ft2);
        FreeModule(m);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) {
        return 0;
    }
    LoadAndPlay(data, size);
    // The same bytes behind a correct identification, so the fuzzer reaches
    // the header, patterns and instruments without first guessing it.
    static const char kId[] = "Extended Module: ";
    if (size > 17 && std::memcmp(data, kId, 17) != 0) {
        std::vector<uint8_t> patched(data, data + size);
        std::memcpy(patched.data(), kId, 17);
        LoadAndPlay(patched.data(), patched.size());
    }
    // The program's own song with the input written over it at an offset the
    // input chooses: damage deep inside patterns, instruments and samples.
    if (size > 3) {
        std::vector<uint8_t> song(EmbeddedSong, EmbeddedSong + EmbeddedSongSize);
        const size_t at = (data[0] | data[1] << 8 | data[2] << 16) % song.size();
        const size_t n = std::min(size - 3, song.size() - at);
        std::memcpy(song.data() + at, data + 3, n);
        LoadAndPlay(song.data(), song.size());
    }
    return 0;
}
