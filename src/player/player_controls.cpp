// The instance's sound settings and what it tells of its channels.
#include <algorithm>
#include <cstddef>
#include <cmath>

#include "player/engine/replay.h"
#include "player/player.h"

namespace {

// Points of the stretch a level looks at where its sample has no table of
// peaks, besides its last: enough for a meter.
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
    const int64_t span = stepped + 1;
    Stretch s{backward ? position : position - span, 0};
    s.to = s.from + span;
    looped = looped && loopLength > 0;
    // Most blocks play within the sample, or within its loop once in it.
    if (s.from >= (looped ? static_cast<int64_t>(loopStart) : 0) && s.to < int64_t{length}) [[likely]] {
        return s;
    }
    const int64_t last = length > 0 ? static_cast<int64_t>(length) - 1 : 0;
    if (looped) {
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

// The largest of a table's first blocks peaks, lane by lane: eight blocks a
// load, the last load's lanes past them left out (the table's padding holds
// the load's overreach).
[[gnu::always_inline]] inline Entries TopOf(const int16_t* table, int64_t blocks) {
    Entries top, e;
    if (blocks <= 8) [[likely]] {
        // A stretch of up to eight blocks, as most are: one load.
        __builtin_memcpy(&top, table, sizeof top);
        return top & kFirstLanes[blocks];
    }
    top = Entries{};
    for (; blocks > 8; blocks -= 8, table += 8) {
        __builtin_memcpy(&e, table, sizeof e);
        top = top > e ? top : e;
    }
    __builtin_memcpy(&e, table, sizeof e);
    e &= kFirstLanes[blocks];
    return top > e ? top : e;
}

// The largest peak of a sample's tables (MakePeaks) over the blocks the
// stretch touches, right null for a mono sample. No entry of the stretch is
// missed; up to a block less one on either side of it may count too.
[[gnu::always_inline]] inline Peaks PeaksOfTables(const int16_t* left, const int16_t* right, Stretch s) {
    const int64_t first = s.from >> kPeakBlockShift;
    const int64_t blocks = (s.to >> kPeakBlockShift) - first + 1;
    const int32_t peakL = LargestLane(TopOf(left + first, blocks));
    return {peakL, right != nullptr ? LargestLane(TopOf(right + first, blocks)) : peakL};
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

using Floats = float __attribute__((vector_size(8)));
using Ints = int32_t __attribute__((vector_size(8)));

// The left and right gains of a voice, kept side by side at gains, times
// scale: the output's full scale for a sample's entry of 1.
[[gnu::always_inline]] inline Floats GainsAt(const void* gains, float scale) {
    Ints g;
    __builtin_memcpy(&g, gains, sizeof g);
    return __builtin_convertvector(g, Floats) * scale;
}

// Both sides' levels in one go: the peaks at the gains, 1 at most.
[[gnu::always_inline]] inline Floats Levels(Peaks peaks, Floats gains) {
    const Floats level = __builtin_convertvector((Ints{peaks.left, peaks.right}), Floats) * gains;
    return level < 1.0f ? level : Floats{1.0f, 1.0f};
}

} // namespace

bool SetStereoSeparation(Player& player, int32_t percent) {
    ++player.changes;
    if (percent < 0 || percent > 200) {
        return false;
    }
    player.separation = percent;
    return true;
}

bool SetTempoFactor(Player& player, double factor) {
    ++player.changes;
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
    ++player.changes;
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

// What a channel is heard at: the state's fields after its sample's.
struct Heard {
    int32_t volume, panning;
    double frequency;
    Floats levels; // left, right
};

// A state written where it is asked for; inPieces: in the three pieces a
// copy of it reads, 16, 16 and 8 bytes, as the states kept for asks one by
// one are copied out right after they are made, and a load that spans
// several smaller stores cannot take its bytes from them until they are done.
template <bool inPieces>
[[gnu::always_inline]] inline void Put(ChannelState& state, bool active, int32_t note, int32_t instrument,
                                       int32_t sample, const Heard& heard) {
    if constexpr (!inPieces) {
        // States asked all at once are read a field at a time: pieces
        // would cost more than they save.
        state = ChannelState{active,         note,          instrument,      sample,
                             heard.volume,   heard.panning, heard.frequency, heard.levels[0],
                             heard.levels[1]};
        return;
    }
    static_assert(sizeof(ChannelState) == 40 && offsetof(ChannelState, note) == 4 &&
                  offsetof(ChannelState, volume) == 16 && offsetof(ChannelState, panning) == 20 &&
                  offsetof(ChannelState, frequency) == 24 && offsetof(ChannelState, levelRight) == 36);
    using Words = int32_t __attribute__((vector_size(16)));
    using Longs = int64_t __attribute__((vector_size(16)));
    // active as the first byte of its word, the rest of the word padding.
    const Words head = {active ? 1 : 0, note, instrument, sample};
    const Longs middle = {static_cast<int64_t>(static_cast<uint32_t>(heard.volume) |
                                               uint64_t{static_cast<uint32_t>(heard.panning)} << 32),
                          __builtin_bit_cast(int64_t, heard.frequency)};
    auto* bytes = reinterpret_cast<unsigned char*>(&state);
    __builtin_memcpy(bytes, &head, sizeof head);
    __builtin_memcpy(bytes + 16, &middle, sizeof middle);
    __builtin_memcpy(bytes + 32, &heard.levels, sizeof heard.levels);
}

template <bool inPieces> [[gnu::always_inline]] inline void PutSilent(ChannelState& state) {
    Put<inPieces>(state, false, 0, 0, -1, Heard{0, 0, 0.0, Floats{}});
}

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

template <Voices voices> Asking AskingOf(const Player& player) {
    Asking a{};
    a.frames = static_cast<uint32_t>(player.levelFrames);
    a.metered = player.levelFrames > 0;
    a.anyMuted = player.muted.any();
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
// heardAll: a block was rendered and no channel is muted, so that every
// level stands as measured.
template <Voices voices, bool inPieces, bool heardAll>
[[gnu::always_inline]] inline void StateOf(const Player& player, const Asking& asking, int channel,
                                           ChannelState& state) {
    constexpr bool ft2Rules = voices != Voices::Float;
    const Channel& c = player.channels[channel];
    Heard heard;
    Peaks peaks;
    Floats gains;
    if constexpr (voices == Voices::Ft2) {
        const Ft2Voice& f = player.ft2.voices[2 * channel + player.ft2.current[channel]];
        if (!f.on || f.fadingOut || f.left == nullptr) {
            PutSilent<inPieces>(state);
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
        if (played != nullptr && played->data == f.left && played->peaks != nullptr) [[likely]] {
            peaks = PeaksOfTables(played->peaks, played->rightPeaks, s);
        } else {
            peaks = PeaksOfProbes(f.left, f.right, s);
        }
        // A value's share of the sum, shifted down to 16 bits: gain / 2^28
        // (each below 2^31).
        constexpr float kScale = 1.0f / 268435456.0f / 32768.0f;
        static_assert(offsetof(Ft2Voice, targetR) == offsetof(Ft2Voice, targetL) + 4);
        gains = GainsAt(&f.targetL, kScale);
        // The step the voice plays at, the pitch factor in it.
        heard.frequency = static_cast<double>(f.step) * asking.ft2HzPerStep;
    } else {
        const MixVoice& v = player.VoicePool[channel];
        const Sample* sample = v.sample;
        if (sample == nullptr || sample->data == nullptr || sample->length == 0) {
            PutSilent<inPieces>(state);
            return;
        }
        // The frames stepped in whole entries: the 32.32 step times the
        // frames, exact in 64 bits.
        const int64_t stepped = int64_t{v.stepInt} * asking.frames +
                                static_cast<int64_t>((uint64_t{v.stepFrac} * asking.frames) >> 32);
        const Stretch s = PlayedStretch(v.posInt, stepped, v.direction != 1, sample->length,
                                        sample->loopStart, sample->loopLength, sample->loopMode != kLoopNone);
        // Only FT2 rules play a stereo sample's right channel.
        if (sample->peaks != nullptr) [[likely]] {
            peaks = PeaksOfTables(sample->peaks, ft2Rules ? sample->rightPeaks : nullptr, s);
        } else {
            peaks = PeaksOfProbes(sample->data, ft2Rules ? sample->right : nullptr, s);
        }
        static_assert(offsetof(MixVoice, rightGain) == offsetof(MixVoice, leftGain) + 4);
        gains = GainsAt(&v.leftGain, asking.floatGain);
        heard.frequency = static_cast<double>(v.frequency) * asking.floatHz;
        if constexpr (!ft2Rules) {
            // Out of 127 to out of 64, rounded up: (64 v + 63) / 127 is
            // (v + 1) / 2 for every v of 0..127.
            heard.volume = (std::clamp(v.volume, 0, 127) + 1) >> 1;
            // The float voice is driven only where the float mixer sounds it.
            heard.panning = std::clamp<int32_t>(v.panning, 0, 255);
        }
    }
    if constexpr (ft2Rules) {
        // FT2 rules keep the heard values in the channel.
        heard.volume = std::clamp<int32_t>((c.finalPeriod > 0 ? c.finalVolume : 0) >> 2, 0, 64);
        heard.panning = std::clamp<int32_t>(c.finalPanning, 0, 255);
    }
    heard.levels = Levels(peaks, gains);
    if (!heardAll && (!asking.metered || (asking.anyMuted && player.muted[static_cast<size_t>(channel)]))) {
        heard.levels = Floats{};
    }
    Put<inPieces>(state, true, c.note <= 96 ? c.note : 0, c.instrumentNumber, c.sampleSlot, heard);
}

template <Voices voices, bool inPieces> void StatesOf(const Player& player, ChannelState* states, int count) {
    const Asking asking = AskingOf<voices>(player);
    // As a song mostly plays: nothing to check channel by channel.
    if (asking.metered && !asking.anyMuted) [[likely]] {
        for (int i = 0; i < count; ++i) {
            StateOf<voices, inPieces, true>(player, asking, i, states[i]);
        }
        return;
    }
    for (int i = 0; i < count; ++i) {
        StateOf<voices, inPieces, false>(player, asking, i, states[i]);
    }
}

template <bool inPieces> void MakeStates(const Player& player, ChannelState* states, int count) {
    switch (VoicesOf(player)) {
    case Voices::Ft2:
        StatesOf<Voices::Ft2, inPieces>(player, states, count);
        break;
    case Voices::FloatFt2Rules:
        StatesOf<Voices::FloatFt2Rules, inPieces>(player, states, count);
        break;
    case Voices::Float:
        StatesOf<Voices::Float, inPieces>(player, states, count);
        break;
    }
}

} // namespace

const ChannelState& AskChannelState(const Player& player, int channel) {
    static constexpr ChannelState kNone{false, 0, 0, -1, 0, 0, 0.0, 0.0f, 0.0f};
    auto& asked = player.asked;
    if (!KeptStatesHold(player)) {
        asked.count = player.module != nullptr ? ChannelCount(*player.module) : 0;
        asked.changes = player.changes;
        asked.levelFrames = player.levelFrames;
        MakeStates<true>(player, asked.states, asked.count);
    }
    return static_cast<unsigned>(channel) < static_cast<unsigned>(asked.count) ? asked.states[channel]
                                                                               : kNone;
}

int GetChannelStates(const Player& player, ChannelState* states, int count) {
    const int channels = player.module != nullptr ? std::min(count, ChannelCount(*player.module)) : 0;
    const auto& asked = player.asked;
    if (KeptStatesHold(player) && channels <= asked.count) {
        std::copy_n(asked.states, std::max(channels, 0), states);
        return channels;
    }
    MakeStates<false>(player, states, channels);
    return channels;
}
