// Loads arbitrary bytes as a song from memory and, when they load, plays it
// under each rule set, a tick at a time with a short stretch of mixing after
// each, as the block renderer does. The work is bounded by the input's size
// and the song's channels, so the fuzzer spends its time on many inputs; it
// starts from the seed corpus of constructed modules (fuzz/corpus/player).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "player/mix/mixer.h"
#include "player/format/module.h"
#include "player/player.h"
#include "fuzz/song_bounds.h"

namespace {

// Half the demo's rate: a tick's stretch of mixing, the gain ramps and the
// output's blocks last as long in time as at the full rate, in half the frames.
constexpr int32_t kRate = 22050;
const int32_t kBlockFrames = BlockLengthForRate(kRate);
// Frames mixed per tick at most: enough to cross sample ends, loop turns,
// ramps and block boundaries, little enough to leave time for many inputs.
constexpr int32_t kFramesPerTick = 32;

// Ticks per rule set: a few per byte of input, within bounds, and fewer for
// a song of many channels (a tick's work grows with them): a song of 32 plays
// 32 ticks, one of eight or fewer up to 128.
int TicksFor(size_t size, int channels) {
    const int ticks = int(std::clamp<size_t>(size / 16, 16, 128));
    return std::min(ticks, std::max(16, 1024 / std::max(channels, 8)));
}

void PlayAndMix(Module* m, RuleSet rules, int ticks) {
    // Set up once: StartSong resets all that playing changes.
    static Player player;
    static const bool ready = InitPlayer(player, kRate);
    (void)ready;
    StartSong(player, m, rules);
    static std::vector<float> mix(2 * kBlockFrames);
    static std::vector<int16_t> pcm(2 * kBlockFrames);
    // memset rather than an element loop, which would carry the fuzzer's
    // comparison hooks on every sample.
    std::memset(mix.data(), 0, mix.size() * sizeof(float));
    int32_t done = 0;
    for (int t = 0; t < ticks; ++t) {
        player.tickRoutine(player);
        int32_t left = std::min(player.song.samplesPerTick, kFramesPerTick);
        while (left > 0) {
            if (done == kBlockFrames) {
                ConvertToPcm16(pcm.data(), mix.data(), kBlockFrames);
                std::memset(mix.data(), 0, mix.size() * sizeof(float));
                done = 0;
            }
            const int32_t n = std::min(left, kBlockFrames - done);
            MixVoices(player, mix.data() + 2 * done, n);
            done += n;
            left -= n;
        }
    }
    ConvertToPcm16(pcm.data(), mix.data(), done);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20))
        return 0;
    Module* m = LoadModuleFromMemory(data, size);
    if (m == nullptr)
        return 0;
    if (fuzz::PatternsTooLarge(*m)) {
        FreeModule(m);
        return -1; // kept out of the corpus: its mutations would mostly load as slowly
    }
    const int ticks = TicksFor(size, m->channelCount);
    PlayAndMix(m, RuleSet::Tinsel, ticks);
    PlayAndMix(m, RuleSet::Ft2, ticks);
    FreeModule(m);
    return 0;
}
