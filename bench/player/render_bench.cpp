// Engine and mixer together on the program's own song: seconds of audio
// rendered per second of CPU, ticks started lazily as the block renderer does.
#include <benchmark/benchmark.h>

#include <vector>

#include "player/audio_output.h"
#include "player/mixer.h"
#include "player/module.h"
#include "player/replay.h"
#include "player/song.h"
#include "player/stream.h"

namespace {

constexpr int32_t kRate = 44100;
constexpr int32_t kBlockFrames = 884;

void StartSong(Module* m) {
    for (int i = 0; i < kVoiceCount; ++i) {
        VoicePool[i] = MixVoice{};
        VoicePool[i].number = i;
        VoicePool[i].stepInt = 1;
    }
    m->globalVolume = m->initialGlobalVolume;
    m->nextRow = m->nextOrder = -1;
    m->speed = m->defaultTempo;
    m->row = m->orderIndex = m->samplesLeft = m->tick = m->patternDelay = 0;
    SetBpm(m, m->defaultBpm);
    for (int i = 0; i < m->channelCount; ++i) {
        TrackChannels[i] = TrackChannel{};
        TrackChannels[i].voice = &VoicePool[i];
        TrackChannels[i].index = i;
    }
}

// One block: ticks where the frames of the last are used up, runs between them.
void RenderBlock(Module* m, float* mix, int16_t* pcm) {
    std::fill(mix, mix + 2 * kBlockFrames, 0.0f);
    int32_t left = m->samplesLeft;
    int32_t done = 0;
    while (done < kBlockFrames) {
        if (left == 0) {
            m->tickRoutine(m);
            left = m->samplesPerTick;
        }
        const int32_t n = left < kBlockFrames - done ? left : kBlockFrames - done;
        MixVoices(mix + 2 * done, n);
        done += n;
        left -= n;
    }
    m->samplesLeft = left;
    ConvertToPcm16(pcm, mix, kBlockFrames);
}

void BM_RenderEmbeddedSong(benchmark::State& state) {
    g_mixingRate = kRate;
    SetStreamCallbacks(SongOpen, SongClose, SongRead, SongSeek, SongTell);
    Module* m = LoadModule("#101");
    if (m == nullptr) {
        state.SkipWithError("the embedded song does not load");
        return;
    }
    StartSong(m);
    std::vector<float> mix(2 * kBlockFrames);
    std::vector<int16_t> pcm(2 * kBlockFrames);
    for (auto _ : state) {
        RenderBlock(m, mix.data(), pcm.data());
        benchmark::DoNotOptimize(pcm.data());
    }
    state.counters["audio_s_per_cpu_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kBlockFrames / kRate, benchmark::Counter::kIsRate);
    state.counters["channels"] = m->channelCount;
    FreeModule(m);
}
BENCHMARK(BM_RenderEmbeddedSong);

} // namespace
