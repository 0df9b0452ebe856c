// The instance's life: its rate, the reset that starts a song, and the block
// loop that interleaves ticks with mixing.
#include "player/player.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "player/engine/engine.h"
#include "player/engine/replay.h"

namespace {

// Ticks a seek plays at most: a damaged song's walk may not end early enough.
constexpr int64_t kMaxSeekTicks = int64_t{1} << 22;

// Muted voices play on, unheard, so that unmuting finds them where they would be.
void SilenceMuted(Player& player) {
    for (int i = 0; i < kMaxChannels; ++i) {
        if (player.muted[static_cast<size_t>(i)]) {
            player.VoicePool[i].leftGain = player.VoicePool[i].rightGain = 0;
        }
    }
}

int32_t RowsAt(const Player& player, int32_t order) {
    const Module& m = *player.module;
    return player.song.patternRows[m.orderTable[order & 255]];
}

// Eight bytes at a time: every start of a song asks it of every pattern.
bool AllZero(const uint8_t* bytes, int64_t size) {
    int64_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        if (word != 0) {
            return false;
        }
    }
    for (; i < size; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

// The rows a pattern number plays; with emptyPatterns, a pattern of only
// empty cells (or of none) plays 64, as the original tracker loads it.
int32_t PatternRows(const Module& m, int number, bool emptyPatterns) {
    constexpr int kDefaultRows = 64;
    constexpr int kMaxRows = 256;
    if (m.patterns == nullptr || number >= m.patternSlots) {
        return emptyPatterns ? kDefaultRows : 0;
    }
    const Pattern& p = m.patterns[number];
    if (!emptyPatterns) {
        return p.rows;
    }
    if (p.rows <= 0 || p.cells == nullptr) {
        return kDefaultRows;
    }
    const int channels = std::clamp<int>(m.channelCount, 0, kMaxChannels);
    const int64_t bytes = static_cast<int64_t>(p.rows) * channels * kCellSize;
    if (AllZero(p.cells, bytes)) {
        return kDefaultRows;
    }
    return p.rows < kMaxRows ? p.rows : kMaxRows;
}

// FT2 rules mix with the original's mixer, unless another interpolation or
// ramp was chosen: the float mixer then mixes the float voices they drive.
bool Ft2Mixing(const Player& player) {
    return RulesOf(player.rules).mixer == VoiceMixer::Ft2 && !player.ft2FloatVoices;
}

// After a seek every voice starts silent: the walk there mixed nothing (and
// the original's mixer was detached for it).
void SilenceVoices(Player& player) {
    for (MixVoice& voice : player.VoicePool) {
        voice.sample = nullptr;
    }
    Ft2ResetMixer(player.ft2, player.mixingRate, player.amplification, ChannelCount(*player.module),
                  player.song.linear);
}

void ClearVoices(Player& player) {
    for (int i = 0; i < kVoiceCount; ++i) {
        player.VoicePool[i] = MixVoice{};
        player.VoicePool[i].number = i;
        player.VoicePool[i].stepInt = 1;
    }
}

// The subsong playing from its start, as StartSong starts the song; with
// land, the next tick starts its first row.
void Restart(Player& player, bool land = true) {
    const int32_t subsong = player.subsong, start = player.subsongStart;
    StartSong(player, player.module, player.rules);
    player.subsong = subsong;
    player.subsongStart = start;
    if (land && start > 0) {
        JumpToRow(player, start, 0);
    }
}

} // namespace

bool InitPlayer(Player& player, int32_t rate) {
    if (rate < 1) {
        return false;
    }
    // Copied from one cleared instance: a temporary would be cleared first
    // on the stack (the instance is tens of KB), then copied.
    static const Player kCleared{};
    player = kCleared;
    player.mixingRate = rate;
    player.rampLength = RampLengthForRate(rate);
    player.rampReciprocal = 1.0f / static_cast<float>(player.rampLength);
    player.amplification = kFt2DefaultAmplification;
    player.separation = 100;
    ClearVoices(player);
    return true;
}

bool StartSong(Player& player, const Module* module) {
    return module != nullptr && StartSong(player, module, SongRules(*module));
}

bool StartSong(Player& player, const Module* module, RuleSet rules) {
    ++player.changes;
    if (module == nullptr) {
        return false;
    }
    const Rules& r = RulesOf(rules);
    // The engine's tick, unless the instance's owner gave it another.
    if (player.tickRoutine == nullptr) {
        player.tickRoutine = PlayTick;
    }
    player.module = module;
    player.rules = rules;
    player.framesPlayed = 0;
    player.ended = false;
    player.subsong = player.subsongStart = 0;
    player.levelFrames = 0;
    SongState& s = player.song;
    s = SongState{};
    s.linear = (module->flags & linearFrequencies) != 0;
    s.songLength = module->songLength;
    s.restart = module->restartPosition;
    int32_t speed = module->defaultTempo;
    int32_t bpm = module->defaultBpm;
    if (r.headerLimits) {
        s.songLength = std::clamp<int32_t>(s.songLength, 1, 256);
        // Some trackers pad the order list with 0xFF entries.
        while (s.songLength > 1 && module->orderTable[s.songLength - 1] == 0xFF) {
            s.songLength -= 1;
        }
        // A MOD's restart byte may equal its length (an XM's never does): the
        // song goes on at that order.
        const bool atLength = s.restart == module->songLength && module->songLength > 0;
        s.restart = s.restart >= 0 && (s.restart < s.songLength || atLength) ? s.restart : 0;
        speed = std::clamp<int32_t>(speed, 1, 31);
        bpm = std::clamp<int32_t>(bpm, 32, 255);
    }
    for (int p = 0; p < 256; ++p) {
        s.patternRows[p] = PatternRows(*module, p, r.emptyPatterns);
    }
    s.timer = 1; // counting down, the first tick is a row start
    s.nextRow = s.nextOrder = s.jumpOrder = -1;
    s.globalVolume = module->initialGlobalVolume;
    s.speed = speed;
    SetBpm(player, bpm);
    // Voices may still point at the samples of a song freed since.
    ClearVoices(player);
    Ft2ResetMixer(player.ft2, player.mixingRate, player.amplification, ChannelCount(*module), s.linear);
    player.ft2.muted = player.muted;
    for (int i = 0; i < kMaxChannels; ++i) {
        Channel& c = player.channels[i];
        c = Channel{};
        c.voice = &player.VoicePool[i];
        c.instrumentNumber = c.note = r.channelAtStart.remembered;
        c.panning = c.finalPanning = c.samplePanning = r.channelAtStart.panning;
        c.fadeoutLevel = r.channelAtStart.fadeoutLevel;
    }
    return true;
}

namespace {

// Each side's difference from the frame's mean scaled by percent / 100: at
// 0 both sides hold the mean exactly.
void Separate(float* frames, int32_t count, int32_t percent) {
    const float k = static_cast<float>(percent) / 100.0f;
    for (int32_t i = 0; i < count; ++i) {
        const float mid = (frames[2 * i] + frames[2 * i + 1]) * 0.5f;
        const float side = (frames[2 * i] - frames[2 * i + 1]) * 0.5f * k;
        frames[2 * i] = mid + side;
        frames[2 * i + 1] = mid - side;
    }
}

// The block loop: a tick whenever the frames of the last one are used up,
// the voices mixed between. With toTickEnd it stops where a tick is due,
// once it has rendered a frame.
int32_t Render(Player& player, float* destination, int32_t frames, bool toTickEnd) {
    ++player.changes;
    if (player.module == nullptr || player.ended || player.paused) {
        return 0;
    }
    bool last = false;
    if (player.repeatCount > 0 && player.framesPlayed + frames >= player.endFrame) {
        // Never a negative count: a new repeat count may end the song behind playback.
        const int64_t rest = player.endFrame - player.framesPlayed;
        frames = static_cast<int32_t>(rest > 0 ? rest : 0);
        last = true;
    }
    const bool ft2 = Ft2Mixing(player);
    const bool floatFt2 = !ft2 && RulesOf(player.rules).mixer == VoiceMixer::Ft2;
    int32_t left = player.song.samplesLeft;
    int32_t done = 0;
    float* const start = destination;
    while (done < frames) {
        if (left == 0) {
            if (toTickEnd && done > 0) {
                break;
            }
            player.tickRoutine(player);
            if (player.muted.any() && !ft2) {
                SilenceMuted(player);
            }
            left = player.song.samplesPerTick;
            if (left <= 0) {
                left = frames - done; // a broken tempo must not spin forever
            }
        }
        const int32_t n = left < frames - done ? left : frames - done;
        if (toTickEnd) {
            std::memset(destination, 0, static_cast<size_t>(n) * 2 * sizeof(float));
        }
        if (ft2) {
            Ft2Mix(player.ft2, destination, n);
        } else {
            MixVoices(player, destination, n);
            if (floatFt2) {
                // The original's mixer sounds at amplification / 16 of the
                // float voices' gains: the same level, whichever mixes.
                const float level = static_cast<float>(player.amplification) / 16.0f;
                for (int32_t i = 0; i < 2 * n; ++i) {
                    destination[i] *= level;
                }
            }
        }
        done += n;
        left -= n;
        destination += static_cast<size_t>(n) * 2;
    }
    player.song.samplesLeft = left;
    player.framesPlayed += done;
    player.levelFrames = toTickEnd ? player.levelFrames + done : done;
    if (player.separation != 100) {
        Separate(start, done, player.separation);
    }
    player.ended = last && done == frames;
    return done;
}

} // namespace

int32_t RenderFrames(Player& player, float* destination, int32_t frames) {
    if (destination == nullptr || frames < 1) {
        return 0;
    }
    std::memset(destination, 0, static_cast<size_t>(frames) * 2 * sizeof(float));
    return Render(player, destination, frames, false);
}

int32_t RenderToTickEnd(Player& player, float* destination, int32_t frames) {
    if (destination == nullptr || frames < 1) {
        return 0;
    }
    return Render(player, destination, frames, true);
}

void MixVoices(Player& player, float* destination, int32_t frames) {
    ++player.changes;
    // Channel i drives voice i: those past the song's channels never sound.
    const int count = player.module != nullptr ? ChannelCount(*player.module) : kMixedVoices;
    // By FT2 rules stereo samples play in stereo, whichever mixer sounds them.
    MixVoices(player.VoicePool, count, player.rampLength, player.rampReciprocal, destination, frames,
              player.interpolation, RulesOf(player.rules).mixer == VoiceMixer::Ft2);
}

void SetInterpolation(Player& player, Interpolation interpolation) {
    ++player.changes;
    player.interpolation = interpolation;
    player.ft2FloatVoices = player.interpolation != Interpolation::Linear || player.ramp != Ramp::Rules;
}

void SetRamp(Player& player, Ramp ramp) {
    ++player.changes;
    player.ramp = ramp;
    const bool off = ramp == Ramp::Off || player.mixingRate < 1;
    player.rampLength = off ? 0 : RampLengthForRate(player.mixingRate);
    player.rampReciprocal = off ? 0.0f : 1.0f / static_cast<float>(player.rampLength);
    player.ft2FloatVoices = player.interpolation != Interpolation::Linear || player.ramp != Ramp::Rules;
}

PlayPosition CurrentPosition(const Player& player) {
    PlayPosition position{};
    const Module* m = player.module;
    if (m == nullptr) {
        return position;
    }
    const SongState& s = player.song;
    position.order = s.orderIndex;
    position.pattern = s.orderIndex >= 0 && s.orderIndex < 256 ? m->orderTable[s.orderIndex] : 0;
    position.row = s.row;
    position.tick = RulesOf(player.rules).clock->tickPlayed(player);
    position.speed = s.speed;
    position.bpm = s.bpm;
    position.frame = player.framesPlayed;
    position.seconds = static_cast<double>(player.framesPlayed) / player.mixingRate;
    return position;
}

PlayPosition UpcomingPosition(const Player& player) {
    PlayPosition position = CurrentPosition(player);
    NextRow next{};
    const Module* m = player.module;
    if (m != nullptr && !player.ended && player.song.samplesLeft == 0 && NextRowStart(player, &next)) {
        position.order = next.order;
        position.pattern = m->orderTable[next.order & 255];
        position.row = next.row;
        position.tick = 0;
    }
    return position;
}

bool SeekTo(Player& player, int32_t order, int32_t row, const SongLength* known) {
    ++player.changes;
    const Module* m = player.module;
    if (m == nullptr || order < 0 || order >= (m->songLength > 0 ? m->songLength : 1) || row < 0) {
        return false;
    }
    const int32_t rows = RowsAt(player, order);
    if (row >= (rows > 0 ? rows : 1)) {
        return false;
    }
    Restart(player);
    Ft2Detach(player.ft2);
    // Tick by tick without mixing until the row is about to start: every
    // channel, speed and tempo is then as if the song had played there. The
    // walk's length bounds the search for a row playback never reaches.
    const SongLength length = known != nullptr ? *known : MeasureSong(player);
    const int64_t limit = length.frames + length.loopFrames;
    bool found = false;
    for (int64_t ticks = 0; ticks < kMaxSeekTicks && player.framesPlayed <= limit; ++ticks) {
        NextRow next{};
        if (NextRowStart(player, &next) && next.order == order && next.row == row) {
            found = true;
            break;
        }
        player.tickRoutine(player);
        player.framesPlayed += player.song.samplesPerTick > 0 ? player.song.samplesPerTick : 1;
    }
    if (!found) {
        Restart(player, false);
        Ft2Detach(player.ft2);
        JumpToRow(player, order, row);
    }
    player.song.samplesLeft = 0;
    SilenceVoices(player);
    player.ended = player.repeatCount > 0 && player.framesPlayed >= player.endFrame;
    return true;
}

bool SeekToFrame(Player& player, int64_t frame) {
    ++player.changes;
    const Module* m = player.module;
    if (m == nullptr || frame < 0 || (player.repeatCount > 0 && frame >= player.endFrame)) {
        return false;
    }
    // The walk finds the last row start at or before frame and the ticks
    // that reach it; playback is then walked there again.
    Restart(player);
    Ft2Detach(player.ft2);
    int64_t rowTicks = 0, rowFrame = 0;
    for (int64_t ticks = 0; ticks < kMaxSeekTicks && player.framesPlayed <= frame; ++ticks) {
        NextRow next{};
        if (NextRowStart(player, &next)) {
            rowTicks = ticks;
            rowFrame = player.framesPlayed;
        }
        player.tickRoutine(player);
        player.framesPlayed += player.song.samplesPerTick > 0 ? player.song.samplesPerTick : 1;
    }
    Restart(player);
    Ft2Detach(player.ft2);
    for (int64_t ticks = 0; ticks < rowTicks; ++ticks) {
        player.tickRoutine(player);
    }
    player.framesPlayed = rowFrame;
    player.song.samplesLeft = 0;
    SilenceVoices(player);
    return true;
}

void SetRepeatCount(Player& player, int32_t count) {
    ++player.changes;
    player.repeatCount = count > 0 && player.module != nullptr ? count : 0;
    player.endFrame = 0;
    if (player.repeatCount > 0) {
        player.endFrame = MeasurePasses(player, player.repeatCount);
    }
    player.ended = player.repeatCount > 0 && player.framesPlayed >= player.endFrame;
}

namespace {

// The voices hear of a mute at once, not at the next tick that sets them.
void ApplyMutes(Player& player) {
    if (player.module == nullptr) {
        return;
    }
    if (Ft2Mixing(player)) {
        Ft2SetMuted(player.ft2, player.muted);
        return;
    }
    // The voices hear of it at once, not at the next tick that sets them.
    const Context x{player, *player.module, player.song, RulesOf(player.rules), player.mixingRate};
    // FT2 rules hand over what the mixer holds, as no tick flagged anything.
    const uint8_t asked = x.rules.mixer == VoiceMixer::Ft2 ? 0 : kUpdateVolume;
    for (Channel& channel : player.channels) {
        const uint8_t flags = channel.updateFlags;
        channel.updateFlags = asked;
        x.rules.updateVoice(x, channel, *channel.voice);
        channel.updateFlags = flags;
    }
    SilenceMuted(player);
}

} // namespace

void SetMutedChannels(Player& player, uint32_t mask) {
    ++player.changes;
    for (size_t i = 0; i < 32; ++i) {
        player.muted[i] = ((mask >> i) & 1) != 0;
    }
    ApplyMutes(player);
}

bool SetChannelMuted(Player& player, int channel, bool muted) {
    ++player.changes;
    if (channel < 0 || channel >= kMaxChannels ||
        (player.module != nullptr && channel >= ChannelCount(*player.module))) {
        return false;
    }
    player.muted[static_cast<size_t>(channel)] = muted;
    ApplyMutes(player);
    return true;
}

bool SetAmplification(Player& player, int32_t amplification) {
    ++player.changes;
    if (amplification < kFt2MinAmplification || amplification > kFt2MaxAmplification) {
        return false;
    }
    player.amplification = amplification;
    Ft2SetAmplification(player.ft2, amplification);
    return true;
}
