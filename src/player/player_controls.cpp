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
    Stretch s{backward ? position : position - span, 0};
    s.to = s.from + span;
    if (looped && loopLength > 0 && (s.from < static_cast<int64_t>(loopStart) || s.to > last)) {
        s.from = s.from < static_cast<int64_t>(loopStart) ? loopStart : s.from;
        s.to = static_cast<int64_t>(loopStart) + loopLength - 1;
    }
    s.from = std::clamp<int64_t>(s.from, 0, last);
    s.to = std::clamp(s.to, s.from, last); // s.from now lies within 0..last: the bounds never cross
    return s;
}

using Entries = int16_t __attribute__((vector_size(16)));

// The largest of eight values, each 0 or more.
[[gnu::always_inline]] inline int32_t LargestLane(Entries v) {
    using Pairs = uint32_t __attribute__((vector_size(16)));
    const auto largest = [](Entries a, Entries b) { return a > b ? a : b; };
    v = largest(v, __builtin_shufflevector(v, v, 4, 5, 6, 7, 0, 1, 2, 3));
    v = largest(v, __builtin_shufflevector(v, v, 2, 3, 0, 1, 2, 3, 0, 1));
    // The last pair within 32-bit lanes: SSE2 shuffles no 16-bit pair, but
    // shifts them.
    v = largest(v, reinterpret_cast<Entries>(reinterpret_cast<Pairs>(v) >> 16));
    return v[0];
}

struct Peaks {
    int32_t left, right;
};

// The first n lanes of eight kept, for n of 1..8.
constexpr Entries kFirstLanes[9] = {
    {0, 0, 0, 0, 0, 0, 0, 0},       {-1, 0, 0, 0, 0, 0, 0, 0},       {-1, -1, 0, 0, 0, 0, 0, 0},
    {-1, -1, -1, 0, 0, 0, 0, 0},    {-1, -1, -1, -1, 0, 0, 0, 0},    {-1, -1, -1, -1, -1, 0, 0, 0},
    {-1, -1, -1, -1, -1, -1, 0, 0}, {-1, -1, -1, -1, -1, -1, -1, 0}, {-1, -1, -1, -1, -1, -1, -1, -1}};

// The largest peak of a sample's tables (MakePeaks) over the blocks the
// stretch touches, right null for a mono sample: eight blocks a load, the
// last load's lanes past the stretch left out. No entry of the stretch is
// missed; up to a block less one on either side of it may count too.
[[gnu::always_inline]] inline Peaks PeaksOfTables(const int16_t* left, const int16_t* right, Stretch s) {
    const int64_t first = s.from >> kPeakBlockShift;
    int64_t blocks = (s.to >> kPeakBlockShift) - first + 1;
    left += first;
    Entries topL{}, topR{}, e;
    int64_t at = 0;
    for (; blocks > 8; blocks -= 8, at += 8) {
        __builtin_memcpy(&e, left + at, sizeof e);
        topL = topL > e ? topL : e;
        if (right != nullptr) {
            __builtin_memcpy(&e, right + first + at, sizeof e);
            topR = topR > e ? topR : e;
        }
    }
    const Entries keep = kFirstLanes[blocks];
    __builtin_memcpy(&e, left + at, sizeof e); // within the table's padding
    e &= keep;
    const int32_t peakL = LargestLane(topL > e ? topL : e);
    if (right == nullptr) {
        return {peakL, peakL};
    }
    __builtin_memcpy(&e, right + first + at, sizeof e);
    e &= keep;
    return {peakL, LargestLane(topR > e ? topR : e)};
}

// Without a table (a sample the loaders did not make): the largest
// magnitude among evenly spread entries of the stretch, its first, six more
// a seventh of it apart and its last (the whole of a short one). A negative
// entry counts one less, as in the tables.
int32_t PeakOfProbes(const int16_t* data, Stretch s) {
    const int16_t* p = data + s.from;
    const auto count = static_cast<uint64_t>(s.to - s.from + 1);
    int32_t peak = 0;
    if (count < 2 * kLevelProbes) {
        for (uint64_t i = 0; i < count; ++i) {
            peak = std::max(peak, static_cast<int32_t>(p[i] ^ (p[i] >> 15)));
        }
        return peak;
    }
    static_assert(kLevelProbes == 8);
    const uint64_t stride = count / 7;
    Entries v = {p[0],          p[stride],     p[2 * stride], p[3 * stride],
                 p[4 * stride], p[5 * stride], p[6 * stride], data[s.to]};
    return LargestLane(v ^ (v >> 15));
}

[[gnu::noinline]] Peaks PeaksOfProbes(const int16_t* left, const int16_t* right, Stretch s) {
    const int32_t peakL = PeakOfProbes(left, s);
    return {peakL, right != nullptr ? PeakOfProbes(right, s) : peakL};
}

// gain: the output's full scale for a sample's entry of 1.
[[gnu::always_inline]] inline float Level(int32_t peak, float gain) {
    const float level = static_cast<float>(peak) * gain;
    return level < 1.0f ? level : 1.0f;
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

// Which voices sound the song, and so where a channel's state is read.
enum class Voices { Ft2, FloatFt2Rules, Float };

Voices VoicesOf(const Player& player) {
    if (RulesOf(player.rules).mixer != VoiceMixer::Ft2) {
        return Voices::Float;
    }
    return player.ft2FloatVoices ? Voices::FloatFt2Rules : Voices::Ft2;
}

constexpr ChannelState kSilent{false, 0, 0, -1, 0, 0, 0.0, 0.0f, 0.0f};

// What every channel asked at once shares, read once: the states written
// may, for all the compiler knows, overlap the player.
struct Asking {
    uint32_t frames;     // of the last block rendered (levelFrames)
    bool metered;        // a block was rendered since the levels were cleared
    bool anyMuted;       // some channel is muted
    float floatGain;     // a float voice's gain of 1 for a sample's entry of 1
    double floatHz;      // a float voice's frequency of 1 in Hz: the pitch factor
    double ft2HzPerStep; // an FT2 voice's 16.16 step of 1 in Hz
};

template <Voices voices> Asking AskingOf(const Player& player, bool anyMuted) {
    Asking a{};
    a.frames = static_cast<uint32_t>(player.levelFrames);
    a.metered = player.levelFrames > 0;
    a.anyMuted = anyMuted;
    if constexpr (voices == Voices::Ft2) {
        a.ft2HzPerStep = player.ft2.rate / 65536.0;
    } else {
        // The float mixer's gains are out of 255; under FT2 rules it
        // sounds at the original's amplification / 16.
        a.floatGain =
            (voices == Voices::FloatFt2Rules ? static_cast<float>(player.amplification) / 16.0f : 1.0f) /
            255.0f / 32768.0f;
        a.floatHz = player.pitchFactor;
    }
    return a;
}

// One channel of the song, as GetChannelState and GetChannelStates tell it,
// written straight where it is asked for.
template <Voices voices>
[[gnu::always_inline]] inline void StateOf(const Player& player, const Asking& asking, int channel,
                                           ChannelState& state) {
    constexpr bool ft2Rules = voices != Voices::Float;
    const Channel& c = player.channels[channel];
    Peaks peaks;
    int32_t volume, panning;
    float gainL, gainR;
    double hz;
    if constexpr (voices == Voices::Ft2) {
        const Ft2Mixer& m = player.ft2;
        const Ft2Voice& f = m.voices[2 * channel + m.current[channel]];
        if (!f.on || f.fadingOut || f.left == nullptr) {
            state = kSilent;
            return;
        }
        const uint32_t whole = static_cast<uint32_t>(f.position >> 16);
        const int64_t at = f.backward ? static_cast<int64_t>(f.mirror) - whole : whole;
        const auto stepped = static_cast<int64_t>((uint64_t{f.step} * asking.frames) >> 16);
        const Stretch s =
            PlayedStretch(at, stepped, f.backward, f.length, f.loopStart, f.loopLength, f.loop != kLoopNone);
        // The voice plays the channel's sample, but for a note that started
        // none; the tables are the sample's.
        const Sample* played = c.sample;
        if (played != nullptr && played->data == f.left && played->peaks != nullptr) {
            peaks = PeaksOfTables(played->peaks, played->rightPeaks, s);
        } else {
            peaks = PeaksOfProbes(f.left, f.right, s);
        }
        // A value's share of the sum, shifted down to 16 bits: gain / 2^28
        // (each below 2^31).
        constexpr float kScale = 1.0f / 268435456.0f / 32768.0f;
        gainL = static_cast<float>(static_cast<int32_t>(f.targetL)) * kScale;
        gainR = static_cast<float>(static_cast<int32_t>(f.targetR)) * kScale;
        // The step the voice plays at, the pitch factor in it.
        hz = static_cast<double>(f.step) * asking.ft2HzPerStep;
    } else {
        const MixVoice& v = player.VoicePool[channel];
        const Sample* sample = v.sample;
        if (sample == nullptr || sample->data == nullptr || sample->length == 0) {
            state = kSilent;
            return;
        }
        // The frames stepped in whole entries: the 32.32 step times the
        // frames, exact in 64 bits.
        const int64_t stepped = int64_t{v.stepInt} * asking.frames +
                                static_cast<int64_t>((uint64_t{v.stepFrac} * asking.frames) >> 32);
        const Stretch s = PlayedStretch(v.posInt, stepped, v.direction != 1, sample->length,
                                        sample->loopStart, sample->loopLength, sample->loopMode != kLoopNone);
        // Only FT2 rules play a stereo sample's right channel.
        const int16_t* right = ft2Rules ? sample->right : nullptr;
        if (sample->peaks != nullptr) {
            peaks = PeaksOfTables(sample->peaks, ft2Rules ? sample->rightPeaks : nullptr, s);
        } else {
            peaks = PeaksOfProbes(sample->data, right, s);
        }
        gainL = static_cast<float>(v.leftGain) * asking.floatGain;
        gainR = static_cast<float>(v.rightGain) * asking.floatGain;
        hz = static_cast<double>(v.frequency) * asking.floatHz;
        if constexpr (!ft2Rules) {
            // Out of 127 to out of 64, rounded up: (64 v + 63) / 127 is
            // (v + 1) / 2 for every v of 0..127.
            volume = (std::clamp(v.volume, 0, 127) + 1) >> 1;
            // The float voice is driven only where the float mixer sounds it.
            panning = v.panning;
        }
    }
    if constexpr (ft2Rules) {
        // FT2 rules keep the heard values in the channel.
        volume = std::clamp<int32_t>((c.finalPeriod > 0 ? c.finalVolume : 0) >> 2, 0, 64);
        panning = c.finalPanning;
    }
    float levelL = Level(peaks.left, gainL), levelR = Level(peaks.right, gainR);
    if (!asking.metered || (asking.anyMuted && player.muted[static_cast<size_t>(channel)])) {
        levelL = levelR = 0.0f;
    }
    state.active = true;
    state.note = c.note <= 96 ? c.note : 0;
    state.instrument = c.instrumentNumber;
    state.sample = c.sampleSlot;
    state.volume = volume;
    state.panning = std::clamp<int32_t>(panning, 0, 255);
    state.frequency = hz;
    state.levelLeft = levelL;
    state.levelRight = levelR;
}

template <Voices voices> void StatesOf(const Player& player, ChannelState* states, int count) {
    const Asking asking = AskingOf<voices>(player, player.muted.any());
    for (int i = 0; i < count; ++i) {
        StateOf<voices>(player, asking, i, states[i]);
    }
}

template <Voices voices> ChannelState StateAlone(const Player& player, int channel) {
    ChannelState state;
    StateOf<voices>(player, AskingOf<voices>(player, true), channel, state);
    return state;
}

} // namespace

ChannelState GetChannelState(const Player& player, int channel) {
    if (player.module == nullptr || channel < 0 || channel >= ChannelCount(*player.module)) {
        return kSilent;
    }
    switch (VoicesOf(player)) {
    case Voices::Ft2:
        return StateAlone<Voices::Ft2>(player, channel);
    case Voices::FloatFt2Rules:
        return StateAlone<Voices::FloatFt2Rules>(player, channel);
    case Voices::Float:
        break;
    }
    return StateAlone<Voices::Float>(player, channel);
}

int GetChannelStates(const Player& player, ChannelState* states, int count) {
    const int channels = player.module != nullptr ? std::min(count, ChannelCount(*player.module)) : 0;
    switch (VoicesOf(player)) {
    case Voices::Ft2:
        StatesOf<Voices::Ft2>(player, states, channels);
        break;
    case Voices::FloatFt2Rules:
        StatesOf<Voices::FloatFt2Rules>(player, states, channels);
        break;
    case Voices::Float:
        StatesOf<Voices::Float>(player, states, channels);
        break;
    }
    return channels;
}
