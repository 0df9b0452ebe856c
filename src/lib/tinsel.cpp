// The C face of the player: tinsel.h over the C++ instance. Each call checks
// its arguments, turns the instance's answers into result codes and lets no
// exception out. Output goes through blocks of the device's length, so
// that any way of asking for frames gives the bytes the offline renderer
// writes; positions are kept per tick within a block, so that they tell the
// tick of the last frame handed out rather than of the block's end.
#include "tinsel.h"

#include <algorithm>
#include <bitset>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "player/format/cell_text.h"
#include "player/format/load_report.h"
#include "player/format/module.h"
#include "player/mix/mixer.h"
#include "player/engine/rules.h"
#include "player/player.h"

namespace {

// Files beyond this are no songs; reading them whole would only exhaust memory.
constexpr size_t kMaxSongBytes = size_t{256} << 20;

struct ModuleFree {
    void operator()(Module* module) const { FreeModule(module); }
};

// Frames of the block the player has rendered and not yet handed out, with
// the position after each tick's frames in it.
struct Block {
    struct Mark {
        int32_t end; // frames of the block up to the end of this piece
        PlayPosition position;
    };
    std::vector<float> frames; // stereo, one block
    std::vector<Mark> marks;
    int32_t length = 0;    // frames of a full block
    int32_t rendered = 0;  // frames of the block in use
    int32_t song = 0;      // of them, frames of song; silence follows
    int32_t handedOut = 0; // frames the caller has had
    int64_t start = 0;     // song frame of the block's first frame
    PlayPosition before{}; // the position before the block's first frame
};

} // namespace

struct tinsel_player {
    int32_t rate = 0;
    std::unique_ptr<Player> player;
    std::unique_ptr<Module, ModuleFree> module;
    // Settings, kept across loads.
    int32_t repeatCount = 1;
    int rules = TINSEL_RULES_SONG;
    std::string loadReport;
    bool lengthKnown = false;
    SongLength length{};
    bool subsongsKnown = false;
    std::vector<Subsong> subsongs;
    Block block;
};

namespace {

// The rest of the block, once handed out or dropped, is rendered anew.
void EmptyBlock(tinsel_player& p, const PlayPosition& before) {
    p.block.rendered = p.block.song = p.block.handedOut = 0;
    p.block.marks.clear();
    p.block.start = p.player->framesPlayed;
    p.block.before = before;
}

// The song from the player's rules and repeat count, as after a load: from
// its first order, the block empty.
void StartFromTop(tinsel_player& p) {
    const Module& m = *p.module;
    std::optional<RuleSet> forced;
    if (p.rules != TINSEL_RULES_SONG)
        forced = p.rules == TINSEL_RULES_TINSEL ? RuleSet::Tinsel : RuleSet::Ft2;
    StartSong(*p.player, &m, SongRules(m, forced));
    SetRepeatCount(*p.player, p.repeatCount);
    p.lengthKnown = p.subsongsKnown = false;
    EmptyBlock(p, UpcomingPosition(*p.player));
}

// The song's length as the player measures it, measured once for its
// settings: the facts and every seek ask it.
const SongLength& Length(tinsel_player& p) {
    if (!p.lengthKnown) {
        p.length = MeasureSong(*p.player);
        p.lengthKnown = true;
    }
    return p.length;
}

// Frames already rendered follow the player's end after a change of repeat
// count or tempo: song past it becomes silence, and silence rendered for the
// old end gives way to the song.
void FollowEnd(tinsel_player& p) {
    if (!p.module)
        return;
    const Player& instance = *p.player;
    Block& b = p.block;
    const int64_t end = instance.repeatCount > 0 ? instance.endFrame - b.start : INT64_MAX;
    if (end < b.song) {
        b.song = int32_t(std::max<int64_t>(end, b.handedOut));
        std::memset(b.frames.data() + 2 * size_t(b.song), 0, 2 * size_t(b.rendered - b.song) * sizeof(float));
    } else if (!instance.ended && b.song < b.rendered) {
        b.rendered = std::max(b.song, b.handedOut);
    }
}

// Renders the next block a tick at a time: the pieces add up to the samples
// of one call, and each leaves the position of its frames.
void RenderBlock(tinsel_player& p) {
    Block& b = p.block;
    EmptyBlock(p, b.marks.empty() ? b.before : b.marks.back().position);
    p.player->levelFrames = 0; // the channels' levels tell of this block
    while (b.song < b.length) {
        const int32_t n = RenderToTickEnd(*p.player, b.frames.data() + 2 * size_t(b.song), b.length - b.song);
        if (n <= 0)
            break;
        b.song += n;
        b.marks.push_back({b.song, CurrentPosition(*p.player)});
    }
    std::memset(b.frames.data() + 2 * size_t(b.song), 0, 2 * size_t(b.length - b.song) * sizeof(float));
    b.rendered = b.length;
}

void ToPcm16(int16_t* out, const float* in, int32_t frames) {
    ConvertToPcm16(out, in, frames);
}
// As the renderer's float output: the 16-bit full scale is 1.0.
void ToFloat(float* out, const float* in, int32_t frames) {
    for (int32_t i = 0; i < 2 * frames; ++i)
        out[i] = in[i] * (1.0f / 32768.0f);
}

template <typename Sample>
int Render(tinsel_player* p, Sample* out, int frames, void (*convert)(Sample*, const float*, int32_t)) {
    if (p == nullptr || out == nullptr || frames < 0)
        return TINSEL_ERROR_ARGUMENT;
    if (!p->module) {
        std::memset(out, 0, size_t(frames) * 2 * sizeof(Sample));
        return TINSEL_ERROR_NO_SONG;
    }
    Block& b = p->block;
    int song = 0;
    for (int done = 0; done < frames;) {
        if (b.handedOut == b.rendered)
            RenderBlock(*p);
        const int32_t n = std::min(frames - done, b.rendered - b.handedOut);
        convert(out + 2 * size_t(done), b.frames.data() + 2 * size_t(b.handedOut), n);
        song += std::max(0, std::min(b.handedOut + n, b.song) - b.handedOut);
        b.handedOut += n;
        done += n;
    }
    return song;
}

void Unload(tinsel_player& p) {
    // The instance forgets the song (its voices may point into it) before it
    // goes, and keeps its settings.
    const Player& was = *p.player;
    const std::bitset<kMaxChannels> muted = was.muted;
    const int32_t separation = was.separation;
    const double tempo = was.tempoFactor, pitch = was.pitchFactor;
    const int32_t amplification = was.amplification;
    const Interpolation interpolation = was.interpolation;
    const Ramp ramp = was.ramp;
    InitPlayer(*p.player, p.rate);
    p.player->muted = muted;
    SetStereoSeparation(*p.player, separation);
    SetTempoFactor(*p.player, tempo);
    SetPitchFactor(*p.player, pitch);
    SetAmplification(*p.player, amplification);
    SetInterpolation(*p.player, interpolation);
    SetRamp(*p.player, ramp);
    p.module.reset();
    p.loadReport.clear();
    p.lengthKnown = p.subsongsKnown = false;
    EmptyBlock(p, PlayPosition{});
}

int Load(tinsel_player& p, const uint8_t* data, size_t size) {
    Unload(p);
    if (size > kMaxSongBytes) {
        p.loadReport = "larger than any song";
        return TINSEL_ERROR_NOT_XM;
    }
    LoadReport report{};
    Module* module = LoadModuleFromMemory(data, size, &report);
    if (report.refused == LoadRefusal::NotAModule) {
        p.loadReport = "neither an XM nor a MOD module";
        return TINSEL_ERROR_NOT_XM;
    }
    for (const std::string& line : DescribeLoad(report))
        p.loadReport += line + "\n";
    if (module == nullptr)
        return report.refused == LoadRefusal::OutOfMemory ? TINSEL_ERROR_MEMORY : TINSEL_ERROR_DAMAGED;
    p.module.reset(module);
    StartFromTop(p);
    return TINSEL_OK;
}

// Every entry point: std::bad_alloc is the one exception the player throws.
template <typename Body> int Guarded(Body body) {
    try {
        return body();
    } catch (...) {
        return TINSEL_ERROR_MEMORY;
    }
}

const std::vector<Subsong>& Subsongs(tinsel_player& p) {
    if (!p.subsongsKnown) {
        p.subsongs = FindSubsongs(*p.module, p.rate, p.player->rules);
        p.subsongsKnown = true;
    }
    return p.subsongs;
}

// The stored cell at row and channel of pattern; false outside the song.
bool CellAt(const tinsel_player& p, int pattern, int row, int channel, uint8_t* cell) {
    const Module& m = *p.module;
    if (pattern < 0 || pattern >= m.patternSlots || pattern > 255 || channel < 0 ||
        channel >= m.channelCount || row < 0 || row >= p.player->song.patternRows[pattern])
        return false;
    std::memset(cell, 0, kCellSize);
    const Pattern& stored = m.patterns[pattern];
    if (stored.cells != nullptr && row < stored.rows)
        std::memcpy(cell, stored.cells + (size_t(row) * m.channelCount + channel) * kCellSize, kCellSize);
    return true;
}

} // namespace

extern "C" {

unsigned tinsel_version(void) {
    return TINSEL_VERSION;
}

const char* tinsel_error(int code) {
    switch (code) {
    case TINSEL_OK:
        return "no error";
    case TINSEL_ERROR_ARGUMENT:
        return "a null pointer or a value out of range";
    case TINSEL_ERROR_NO_SONG:
        return "the player holds no song";
    case TINSEL_ERROR_NOT_XM:
        return "neither an XM nor a MOD module";
    case TINSEL_ERROR_DAMAGED:
        return "a damaged XM or MOD module, or one the player cannot read";
    case TINSEL_ERROR_FILE:
        return "the file cannot be read";
    case TINSEL_ERROR_MEMORY:
        return "out of memory";
    case TINSEL_ERROR_POSITION:
        return "a position outside the song";
    default:
        return "unknown error";
    }
}

tinsel_player* tinsel_new(int rate) {
    if (rate < TINSEL_MIN_RATE || rate > TINSEL_MAX_RATE)
        return nullptr;
    try {
        auto p = std::make_unique<tinsel_player>();
        p->rate = rate;
        p->player = std::make_unique<Player>();
        InitPlayer(*p->player, rate);
        p->block.length = BlockLengthForRate(rate);
        p->block.frames.assign(2 * size_t(p->block.length), 0.0f);
        // Room for the ticks of a block at any tempo a song can set; more, at
        // a header's tempo beyond them, are made room for as they come.
        p->block.marks.reserve(size_t(p->block.length) / 16 + 4);
        return p.release();
    } catch (...) {
        return nullptr;
    }
}

void tinsel_free(tinsel_player* player) {
    delete player;
}

int tinsel_load(tinsel_player* player, const void* data, size_t size) {
    if (player == nullptr || (data == nullptr && size > 0))
        return TINSEL_ERROR_ARGUMENT;
    return Guarded([&]() -> int { return Load(*player, static_cast<const uint8_t*>(data), size); });
}

int tinsel_load_file(tinsel_player* player, const char* path) {
    if (player == nullptr || path == nullptr)
        return TINSEL_ERROR_ARGUMENT;
    return Guarded([&]() -> int {
        Unload(*player);
        std::FILE* file = std::fopen(path, "rb");
        std::vector<uint8_t> bytes;
        if (file != nullptr) {
            uint8_t chunk[65536];
            size_t n;
            while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0 && bytes.size() <= kMaxSongBytes)
                bytes.insert(bytes.end(), chunk, chunk + n);
        }
        const int error = errno;
        if (file == nullptr || std::ferror(file) != 0) {
            if (file != nullptr)
                std::fclose(file);
            player->loadReport = std::generic_category().message(error) + "\n";
            return TINSEL_ERROR_FILE;
        }
        std::fclose(file);
        return Load(*player, bytes.data(), bytes.size());
    });
}

const char* tinsel_load_report(const tinsel_player* player) {
    return player != nullptr ? player->loadReport.c_str() : "";
}

int tinsel_render_s16(tinsel_player* player, int16_t* out, int frames) {
    return Guarded([&]() -> int { return Render(player, out, frames, ToPcm16); });
}

int tinsel_render_f32(tinsel_player* player, float* out, int frames) {
    return Guarded([&]() -> int { return Render(player, out, frames, ToFloat); });
}

int tinsel_get_facts(tinsel_player* player, tinsel_facts* facts) {
    if (player == nullptr || facts == nullptr)
        return TINSEL_ERROR_ARGUMENT;
    if (!player->module)
        return TINSEL_ERROR_NO_SONG;
    return Guarded([&]() -> int {
        const Module& m = *player->module;
        Length(*player);
        tinsel_facts f{};
        std::memcpy(f.title, m.title, sizeof f.title);
        std::memcpy(f.tracker, m.trackerName, sizeof f.tracker);
        f.channels = m.channelCount;
        f.orders = m.songLength;
        f.restart_order = m.restartPosition;
        f.patterns = m.storedPatterns;
        f.instruments = m.instrumentCount;
        for (int i = 0; i < m.instrumentCount; ++i)
            f.samples += m.instruments[i].sampleCount;
        f.linear_frequencies = (m.flags & linearFrequencies) ? 1 : 0;
        f.speed = m.defaultTempo;
        f.bpm = m.defaultBpm;
        f.rules = player->player->rules == RuleSet::Tinsel ? TINSEL_RULES_TINSEL : TINSEL_RULES_FT2;
        f.length_frames = player->length.frames;
        f.loop_frames = player->length.loopFrames;
        f.loop_order = player->length.loopOrder;
        f.loop_row = player->length.loopRow;
        f.length_exact = player->length.bounded ? 1 : 0;
        *facts = f;
        return TINSEL_OK;
    });
}

int tinsel_get_position(const tinsel_player* player, tinsel_position* position) {
    if (player == nullptr || position == nullptr)
        return TINSEL_ERROR_ARGUMENT;
    if (!player->module)
        return TINSEL_ERROR_NO_SONG;
    const Block& b = player->block;
    PlayPosition at = b.before;
    if (b.handedOut > 0) {
        // The piece holding the last frame handed out; past the song, its last.
        size_t i = 0;
        while (i + 1 < b.marks.size() && b.marks[i].end < b.handedOut)
            ++i;
        if (!b.marks.empty())
            at = b.marks[i].position;
    }
    position->order = at.order;
    position->pattern = at.pattern;
    position->row = at.row;
    position->tick = at.tick;
    position->speed = at.speed;
    position->bpm = at.bpm;
    position->frame = b.start + std::min(b.handedOut, b.song);
    position->seconds = double(position->frame) / player->rate;
    return TINSEL_OK;
}

int tinsel_seek_row(tinsel_player* player, int order, int row) {
    if (player == nullptr)
        return TINSEL_ERROR_ARGUMENT;
    if (!player->module)
        return TINSEL_ERROR_NO_SONG;
    return Guarded([&]() -> int {
        if (!SeekTo(*player->player, order, row, &Length(*player)))
            return TINSEL_ERROR_POSITION;
        EmptyBlock(*player, UpcomingPosition(*player->player));
        return TINSEL_OK;
    });
}

int tinsel_seek_time(tinsel_player* player, double seconds) {
    if (player == nullptr || !(seconds >= 0))
        return TINSEL_ERROR_ARGUMENT;
    if (!player->module)
        return TINSEL_ERROR_NO_SONG;
    return Guarded([&]() -> int {
        // Far past any song's end: the walk stops at its own bound anyway.
        const double frame = std::min(seconds * player->rate, 0x1p62);
        if (!SeekToFrame(*player->player, int64_t(frame)))
            return TINSEL_ERROR_POSITION;
        EmptyBlock(*player, UpcomingPosition(*player->player));
        return TINSEL_OK;
    });
}

int tinsel_set_repeat_count(tinsel_player* player, int count) {
    if (player == nullptr || count < 0 || count > TINSEL_MAX_REPEATS)
        return TINSEL_ERROR_ARGUMENT;
    player->repeatCount = count;
    if (!player->module)
        return TINSEL_OK;
    return Guarded([&]() -> int {
        SetRepeatCount(*player->player, count);
        FollowEnd(*player);
        return TINSEL_OK;
    });
}

int tinsel_set_muted(tinsel_player* player, uint32_t mask) {
    if (player == nullptr)
        return TINSEL_ERROR_ARGUMENT;
    SetMutedChannels(*player->player, mask);
    return TINSEL_OK;
}

int tinsel_set_rules(tinsel_player* player, int rules) {
    if (player == nullptr || rules < TINSEL_RULES_SONG || rules > TINSEL_RULES_FT2)
        return TINSEL_ERROR_ARGUMENT;
    if (rules == player->rules)
        return TINSEL_OK;
    player->rules = rules;
    if (!player->module)
        return TINSEL_OK;
    return Guarded([&]() -> int {
        StartFromTop(*player);
        return TINSEL_OK;
    });
}

int tinsel_set_interpolation(tinsel_player* player, int interpolation) {
    if (player == nullptr || interpolation < TINSEL_INTERP_LINEAR || interpolation > TINSEL_INTERP_SINC)
        return TINSEL_ERROR_ARGUMENT;
    static_assert(int(Interpolation::Linear) == TINSEL_INTERP_LINEAR &&
                  int(Interpolation::Nearest) == TINSEL_INTERP_NEAREST &&
                  int(Interpolation::Cubic) == TINSEL_INTERP_CUBIC &&
                  int(Interpolation::Sinc) == TINSEL_INTERP_SINC);
    SetInterpolation(*player->player, static_cast<Interpolation>(interpolation));
    return TINSEL_OK;
}

int tinsel_set_ramp(tinsel_player* player, int ramp) {
    if (player == nullptr || (ramp != TINSEL_RAMP_RULES && ramp != TINSEL_RAMP_OFF))
        return TINSEL_ERROR_ARGUMENT;
    SetRamp(*player->player, ramp == TINSEL_RAMP_OFF ? Ramp::Off : Ramp::Rules);
    return TINSEL_OK;
}

int tinsel_set_amplification(tinsel_player* player, int amplification) {
    static_assert(TINSEL_MIN_AMPLIFICATION == kFt2MinAmplification &&
                  TINSEL_MAX_AMPLIFICATION == kFt2MaxAmplification &&
                  TINSEL_DEFAULT_AMPLIFICATION == kFt2DefaultAmplification);
    if (player == nullptr || !SetAmplification(*player->player, amplification))
        return TINSEL_ERROR_ARGUMENT;
    return TINSEL_OK;
}

int tinsel_subsong_count(tinsel_player* player) {
    if (player == nullptr)
        return TINSEL_ERROR_ARGUMENT;
    if (!player->module)
        return TINSEL_ERROR_NO_SONG;
    return Guarded([&]() -> int { return int(Subsongs(*player).size()); });
}

int tinsel_select_subsong(tinsel_player* player, int subsong) {
    if (player == nullptr)
        return TINSEL_ERROR_ARGUMENT;
    if (!player->module)
        return TINSEL_ERROR_NO_SONG;
    return Guarded([&]() -> int {
        if (!SelectSubsong(*player->player, Subsongs(*player), subsong))
            return TINSEL_ERROR_ARGUMENT;
        player->lengthKnown = false;
        EmptyBlock(*player, UpcomingPosition(*player->player));
        return TINSEL_OK;
    });
}

int tinsel_get_subsong(tinsel_player* player, int subsong, tinsel_subsong* info) {
    if (player == nullptr || info == nullptr)
        return TINSEL_ERROR_ARGUMENT;
    if (!player->module)
        return TINSEL_ERROR_NO_SONG;
    return Guarded([&]() -> int {
        const std::vector<Subsong>& all = Subsongs(*player);
        if (subsong < 0 || size_t(subsong) >= all.size())
            return TINSEL_ERROR_ARGUMENT;
        const Subsong& s = all[size_t(subsong)];
        *info = tinsel_subsong{s.startOrder, s.lengthFrames, s.loopFrames};
        return TINSEL_OK;
    });
}

int tinsel_set_stereo_separation(tinsel_player* player, int percent) {
    if (player == nullptr || !SetStereoSeparation(*player->player, percent))
        return TINSEL_ERROR_ARGUMENT;
    return TINSEL_OK;
}

int tinsel_set_tempo_factor(tinsel_player* player, double factor) {
    if (player == nullptr)
        return TINSEL_ERROR_ARGUMENT;
    return Guarded([&]() -> int {
        if (!SetTempoFactor(*player->player, factor))
            return TINSEL_ERROR_ARGUMENT;
        player->lengthKnown = false;
        // The end moves with the tempo, as with a new repeat count.
        FollowEnd(*player);
        return TINSEL_OK;
    });
}

int tinsel_set_pitch_factor(tinsel_player* player, double factor) {
    if (player == nullptr || !SetPitchFactor(*player->player, factor))
        return TINSEL_ERROR_ARGUMENT;
    return TINSEL_OK;
}

int tinsel_set_channel_muted(tinsel_player* player, int channel, int muted) {
    if (player == nullptr || !SetChannelMuted(*player->player, channel, muted != 0))
        return TINSEL_ERROR_ARGUMENT;
    return TINSEL_OK;
}

int tinsel_get_channel_state(const tinsel_player* player, int channel, tinsel_channel_state* state) {
    if (player == nullptr || state == nullptr)
        return TINSEL_ERROR_ARGUMENT;
    if (!player->module)
        return TINSEL_ERROR_NO_SONG;
    if (channel < 0 || channel >= player->module->channelCount || channel >= kMaxChannels)
        return TINSEL_ERROR_ARGUMENT;
    const ChannelState c = GetChannelState(*player->player, channel);
    *state = tinsel_channel_state{c.active ? 1 : 0, c.note,      c.instrument, c.sample,    c.volume,
                                  c.panning,        c.frequency, c.levelLeft,  c.levelRight};
    return TINSEL_OK;
}

int tinsel_get_order(const tinsel_player* player, int order) {
    if (player == nullptr)
        return TINSEL_ERROR_ARGUMENT;
    if (!player->module)
        return TINSEL_ERROR_NO_SONG;
    if (order < 0 || order >= player->module->songLength || order > 255)
        return TINSEL_ERROR_POSITION;
    return player->module->orderTable[order];
}

int tinsel_get_pattern_rows(const tinsel_player* player, int pattern) {
    if (player == nullptr)
        return TINSEL_ERROR_ARGUMENT;
    if (!player->module)
        return TINSEL_ERROR_NO_SONG;
    if (pattern < 0 || pattern >= player->module->patternSlots || pattern > 255)
        return TINSEL_ERROR_POSITION;
    return player->player->song.patternRows[pattern];
}

int tinsel_get_cell(const tinsel_player* player, int pattern, int row, int channel, tinsel_cell* cell) {
    if (player == nullptr || cell == nullptr)
        return TINSEL_ERROR_ARGUMENT;
    if (!player->module)
        return TINSEL_ERROR_NO_SONG;
    uint8_t bytes[kCellSize];
    if (!CellAt(*player, pattern, row, channel, bytes))
        return TINSEL_ERROR_POSITION;
    // The loader keeps a key-off as 255; the file and this interface say 97.
    *cell =
        tinsel_cell{bytes[0] == kKeyOff ? TINSEL_NOTE_OFF : bytes[0], bytes[1], bytes[2], bytes[3], bytes[4]};
    return TINSEL_OK;
}

int tinsel_format_cell(const tinsel_cell* cell, char* text, size_t size) {
    if (cell == nullptr || text == nullptr || size == 0)
        return TINSEL_ERROR_ARGUMENT;
    const uint8_t bytes[kCellSize] = {uint8_t(cell->note), uint8_t(cell->instrument), uint8_t(cell->volume),
                                      uint8_t(cell->effect), uint8_t(cell->parameter)};
    return int(FormatCell(bytes, text, size));
}

const char* tinsel_instrument_name(const tinsel_player* player, int instrument) {
    if (player == nullptr || !player->module || instrument < 1 ||
        instrument > player->module->instrumentCount)
        return nullptr;
    return player->module->instruments[instrument - 1].name;
}

const char* tinsel_sample_name(const tinsel_player* player, int instrument, int sample) {
    if (player == nullptr || !player->module || instrument < 1 ||
        instrument > player->module->instrumentCount)
        return nullptr;
    const Instrument& ins = player->module->instruments[instrument - 1];
    if (sample < 0 || sample >= ins.sampleCount || ins.samples == nullptr || ins.samples[sample] == nullptr)
        return nullptr;
    return ins.samples[sample]->name;
}

} // extern "C"
