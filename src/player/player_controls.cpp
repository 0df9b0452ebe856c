// The instance's sound settings and what it tells of its channels.
#include <algorithm>
#include <cmath>

#include "player/engine/replay.h"
#include "player/player.h"

namespace {

// Points of the stretch a level looks at, besides its last: enough for a
// meter, few enough to ask for every channel every block.
constexpr int kLevelProbes = 8;

// The stretch of a sample a voice played over the last block: back from
// where it is by the frames it stepped, forward when it runs backward; the
// whole loop once it went round it.
struct Stretch {
    int64_t from, to; // entries, to included
};

[[gnu::always_inline]] inline Stretch PlayedStretch(int64_t position, int64_t stepped, bool backward,
                                                    uint32_t length, uint32_t loopStart, uint32_t loopLength,
                                                    bool looped) {
    const int64_t last = length > 0 ? static_cast<int64_t>(length) - 1 : 0;
    const int64_t span = stepped + 1;
    Stretch s{backward ? position : position - span, backward ? position + span : position};
    if (looped && loopLength > 0 && (s.from < static_cast<int64_t>(loopStart) || s.to > last)) {
        s.from = s.from < static_cast<int64_t>(loopStart) ? loopStart : s.from;
        s.to = static_cast<int64_t>(loopStart) + loopLength - 1;
    }
    s.from = std::clamp<int64_t>(s.from, 0, last);
    s.to = std::clamp(s.to, s.from, last); // s.from now lies within 0..last: the bounds never cross
    return s;
}

// The largest magnitude among evenly spread entries of the stretch: its
// first, six more a seventh of it apart and its last (the whole of a short
// one). A negative entry counts one less, which no meter shows.
[[gnu::always_inline]] inline int32_t PeakOf(const int16_t* data, Stretch s) {
    if (data == nullptr) {
        return 0;
    }
    const int64_t count = s.to - s.from + 1;
    if (count < 2 * kLevelProbes) {
        int32_t peak = 0;
        for (int64_t i = s.from; i <= s.to; ++i) {
            peak = std::max(peak, std::abs(static_cast<int32_t>(data[i])));
        }
        return peak;
    }
    // All eight in one vector: asked for every channel every block, this is
    // the meter's cost.
    using Entries = int16_t __attribute__((vector_size(16)));
    static_assert(kLevelProbes == 8);
    const int64_t stride = count / 7;
    const int16_t* p = data + s.from;
    Entries v = {p[0],          p[stride],     p[2 * stride], p[3 * stride],
                 p[4 * stride], p[5 * stride], p[6 * stride], data[s.to]};
    v ^= v >> 15;
    const auto largest = [](Entries a, Entries b) { return a > b ? a : b; };
    v = largest(v, __builtin_shufflevector(v, v, 4, 5, 6, 7, 0, 1, 2, 3));
    v = largest(v, __builtin_shufflevector(v, v, 2, 3, 0, 1, 2, 3, 0, 1));
    return std::max(v[0], v[1]); // the last step on the lanes themselves: SSE2 swaps no 16-bit pair
}

// gain: the output's full scale for a sample's entry of 1.
[[gnu::always_inline]] inline float Level(int32_t peak, float gain) {
    const float level = static_cast<float>(peak) * gain;
    return level < 1.0f ? level : 1.0f;
}

[[gnu::always_inline]] inline int SampleIndex(const Channel& c) {
    const Instrument* ins = c.instrument;
    if (ins == nullptr || ins->samples == nullptr || c.sample == nullptr) {
        return -1;
    }
    for (int i = 0; i < ins->sampleCount; ++i) {
        if (ins->samples[i] == c.sample) {
            return i;
        }
    }
    return -1;
}

} // namespace

bool SetStereoSeparation(Player& player, int32_t percent) {
    if (percent < 0 || percent > 200) {
        return false;
    }
    player.separation = percent;
    return true;
}

bool SetTempoFactor(Player& player, double factor) {
    if (!(factor >= 0.25 && factor <= 4.0)) {
        return false;
    }
    player.tempoFactor = factor;
    SongState& s = player.song;
    s.tickCarry = 0;
    if (player.module != nullptr && s.bpm > 0) {
        // The tick playing keeps its frames; the next one takes the factor.
        if (factor == 1.0) {
            s.samplesPerTick = RulesOf(player.rules).tickFrames(player.mixingRate, s.bpm);
        }
        if (player.repeatCount > 0) {
            SetRepeatCount(player, player.repeatCount);
        }
    }
    return true;
}

bool SetPitchFactor(Player& player, double factor) {
    if (!(factor >= 0.25 && factor <= 4.0)) {
        return false;
    }
    player.pitchFactor = factor;
    player.ft2.pitchFactor = factor;
    // Every voice is tuned anew by the next tick.
    for (Channel& c : player.channels) {
        c.voiceTuned = false;
    }
    return true;
}

namespace {

// One channel of the song: what GetChannelState and GetChannelStates tell.
template <bool ft2Mixing>
[[gnu::always_inline]] inline ChannelState StateOf(const Player& player, int channel, bool ft2Rules) {
    ChannelState state{};
    state.sample = -1;
    const Channel& c = player.channels[channel];
    const MixVoice& v = player.VoicePool[channel];
    const bool muted = player.muted[static_cast<size_t>(channel)];
    int32_t peakL = 0, peakR = 0;
    float gainL = 0, gainR = 0;
    double hz = 0;
    if constexpr (ft2Mixing) {
        const Ft2Mixer& m = player.ft2;
        const Ft2Voice& f = m.voices[2 * channel + m.current[channel]];
        state.active = f.on && !f.fadingOut && f.left != nullptr;
        if (state.active) {
            const uint32_t whole = static_cast<uint32_t>(f.position >> 16);
            const int64_t at = f.backward ? static_cast<int64_t>(f.mirror) - whole : whole;
            const int64_t stepped =
                static_cast<int64_t>((uint64_t{f.step} * static_cast<uint32_t>(player.levelFrames)) >> 16);
            const Stretch s = PlayedStretch(at, stepped, f.backward, f.length, f.loopStart, f.loopLength,
                                            f.loop != kLoopNone);
            peakL = PeakOf(f.left, s);
            peakR = f.right != nullptr ? PeakOf(f.right, s) : peakL;
            // A value's share of the sum, shifted down to 16 bits: gain / 2^28.
            constexpr float kScale = 1.0f / 268435456.0f / 32768.0f;
            gainL = static_cast<float>(f.targetL) * kScale;
            gainR = static_cast<float>(f.targetR) * kScale;
            // The step the voice plays at, the pitch factor in it.
            hz = static_cast<double>(f.step) * m.rate / 65536.0;
        }
    } else {
        state.active = v.sample != nullptr && v.sample->data != nullptr && v.sample->length > 0;
        if (state.active) {
            const Sample& sample = *v.sample;
            const double step = v.stepInt + v.stepFrac / 4294967296.0;
            const Stretch s = PlayedStretch(v.posInt, static_cast<int64_t>(step * player.levelFrames),
                                            v.direction != 1, sample.length, sample.loopStart,
                                            sample.loopLength, sample.loopMode != kLoopNone);
            peakL = PeakOf(sample.data, s);
            peakR = ft2Rules && sample.right != nullptr ? PeakOf(sample.right, s) : peakL;
            // The float mixer's gains are out of 255; under FT2 rules it
            // sounds at the original's amplification / 16.
            const float level =
                (ft2Rules ? static_cast<float>(player.amplification) / 16.0f : 1.0f) / 255.0f / 32768.0f;
            gainL = static_cast<float>(v.leftGain) * level;
            gainR = static_cast<float>(v.rightGain) * level;
            hz = static_cast<double>(v.frequency) * player.pitchFactor;
        }
    }
    if (!state.active) {
        return state;
    }
    state.note = c.note <= 96 ? c.note : 0;
    state.instrument = c.instrumentNumber;
    state.sample = SampleIndex(c);
    const int32_t volume =
        ft2Rules ? (c.finalPeriod > 0 ? c.finalVolume : 0) >> 2 : (v.volume * 64 + 63) / 127;
    state.volume = std::clamp<int32_t>(volume, 0, 64);
    // FT2 rules keep the heard values in the channel; the float voice is
    // driven only where the float mixer sounds them.
    const int32_t panning = ft2Rules ? c.finalPanning : v.panning;
    state.panning = std::clamp<int32_t>(panning, 0, 255);
    state.frequency = hz;
    if (!muted && player.levelFrames > 0) {
        state.levelLeft = Level(peakL, gainL);
        state.levelRight = Level(peakR, gainR);
    }
    return state;
}

} // namespace

ChannelState GetChannelState(const Player& player, int channel) {
    if (player.module == nullptr || channel < 0 || channel >= ChannelCount(*player.module)) {
        ChannelState none{};
        none.sample = -1;
        return none;
    }
    const bool ft2Rules = RulesOf(player.rules).mixer == VoiceMixer::Ft2;
    return ft2Rules && !player.ft2FloatVoices ? StateOf<true>(player, channel, true)
                                              : StateOf<false>(player, channel, ft2Rules);
}

int GetChannelStates(const Player& player, ChannelState* states, int count) {
    const int channels = player.module != nullptr ? std::min(count, ChannelCount(*player.module)) : 0;
    const bool ft2Rules = RulesOf(player.rules).mixer == VoiceMixer::Ft2;
    if (ft2Rules && !player.ft2FloatVoices) {
        for (int i = 0; i < channels; ++i) {
            states[i] = StateOf<true>(player, i, true);
        }
    } else {
        for (int i = 0; i < channels; ++i) {
            states[i] = StateOf<false>(player, i, ft2Rules);
        }
    }
    return channels;
}
