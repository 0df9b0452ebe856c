// The player of the page and of the npm package: a WebAssembly module of its
// own, with no JavaScript glue, that the audio worklet instantiates from bytes
// handed to it once (and that renderSong instantiates in a page or in Node).
// It renders in blocks of the device's length, as the desktop ring and
// tinsel-render do, so the page sounds the same bytes.
//
// The caller writes an XM or MOD image into tinsel_image's room, loads it,
// then takes one block after another; everything else is read from fixed
// records.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "player/engine/replay.h"
#include "player/format/cell_text.h"
#include "player/format/module.h"
#include "player/mix/mixer.h"
#include "player/player.h"
#include "tools/render/song_file.h"

namespace {

std::vector<uint8_t> g_image;
Module* g_module = nullptr;
Player g_player;
int32_t g_rate = 0;
int32_t g_blockFrames = 0;
std::vector<float> g_mix;
std::vector<int16_t> g_block;
char g_error[256];
char g_text[64]; // the last text asked for: title, tracker, format or a name
// Order, pattern, row, speed, bpm, frame played (low, high word): where the
// song was at the start of the last block rendered; then the frames of song
// in it (fewer than the block's at the song's end or while paused).
int32_t g_position[8];
// Where rows start within the last block: count, then frame in the block,
// order, pattern and row for each; the first is the block's start.
std::vector<int32_t> g_marks;
std::vector<char> g_pattern;      // the last pattern asked for, as text
std::vector<float> g_renderFloat; // renderSong's samples, one of the two
std::vector<int16_t> g_render16;
int64_t g_renderFrames = 0;
int64_t g_lengthFrames = 0;
// Per channel after the last block: note, instrument, volume, panning, left and right level.
std::vector<float> g_channels;
std::vector<Subsong> g_subsongs;

void Unload() {
    g_player = Player{};
    FreeModule(g_module);
    g_module = nullptr;
    g_lengthFrames = 0;
    g_subsongs.clear();
}

const char* Text(const char* text) {
    std::snprintf(g_text, sizeof g_text, "%s", text);
    return g_text;
}

bool Loaded() {
    return g_module != nullptr;
}

int32_t Channels() {
    return Loaded() ? std::clamp<int32_t>(g_module->channelCount, 0, kMaxChannels) : 0;
}

} // namespace

extern "C" {

// Room for an image of size bytes; null when memory runs out.
__attribute__((export_name("tinsel_image"))) uint8_t* tinsel_image(int32_t size) {
    Unload();
    if (size < 0)
        return nullptr;
    g_image.assign(size_t(size), 0);
    return g_image.data();
}

// Loads the image at rate frames per second: 0 when it plays, 1 when it is no
// module, 2 when it does not load (tinsel_error says why in either case).
__attribute__((export_name("tinsel_load"))) int32_t tinsel_load(int32_t rate, int32_t repeatCount) {
    Unload();
    // Unnamed: the page puts the file's name before the reason.
    SongFile file = LoadSongImage(g_image.data(), g_image.size(), "");
    g_image = std::vector<uint8_t>();
    if (file.module == nullptr) {
        std::snprintf(g_error, sizeof g_error, "%s", file.error.c_str());
        return file.refused == LoadRefusal::NotAModule ? 1 : 2;
    }
    g_module = file.module;
    if (!InitPlayer(g_player, rate) || !StartSong(g_player, g_module)) {
        std::snprintf(g_error, sizeof g_error, "%s", "the song does not start");
        Unload();
        return 2;
    }
    g_rate = rate;
    SetRepeatCount(g_player, repeatCount);
    g_blockFrames = BlockLengthForRate(rate);
    g_mix.assign(size_t(g_blockFrames) * 2, 0.0f);
    g_block.assign(size_t(g_blockFrames) * 2, 0);
    g_lengthFrames = MeasureSong(*g_module, rate).frames;
    g_subsongs = FindSubsongs(*g_module, rate, g_player.rules);
    return 0;
}

__attribute__((export_name("tinsel_error"))) const char* tinsel_error() {
    return g_error;
}

__attribute__((export_name("tinsel_title"))) const char* tinsel_title() {
    return Text(Loaded() ? g_module->title : "");
}

__attribute__((export_name("tinsel_tracker"))) const char* tinsel_tracker() {
    return Text(Loaded() ? g_module->trackerName : "");
}

__attribute__((export_name("tinsel_format"))) const char* tinsel_format() {
    return Text(Loaded() ? g_module->format : "");
}

__attribute__((export_name("tinsel_channel_count"))) int32_t tinsel_channel_count() {
    return Channels();
}

__attribute__((export_name("tinsel_instrument_count"))) int32_t tinsel_instrument_count() {
    return Loaded() ? g_module->instrumentCount : 0;
}

// An instrument's name; its first sample's where the instrument has none (MOD).
__attribute__((export_name("tinsel_instrument_name"))) const char* tinsel_instrument_name(int32_t index) {
    if (!Loaded() || index < 0 || index >= g_module->instrumentCount)
        return Text("");
    const Instrument& instrument = g_module->instruments[index];
    if (instrument.name[0] == '\0' && instrument.sampleCount > 0)
        return Text(instrument.samples[0]->name);
    return Text(instrument.name);
}

__attribute__((export_name("tinsel_block_length"))) int32_t tinsel_block_length() {
    return g_blockFrames;
}

// The next block, 16-bit stereo: silence without a song, once it has ended
// or while paused. Tick by tick, so that tinsel_marks knows where rows start.
__attribute__((export_name("tinsel_render"))) const int16_t* tinsel_render() {
    if (!Loaded())
        return nullptr;
    const PlayPosition at = CurrentPosition(g_player);
    const int32_t position[] = {at.order,
                                at.pattern,
                                at.row,
                                at.speed,
                                at.bpm,
                                int32_t(at.frame & 0xFFFFFFFF),
                                int32_t(at.frame >> 32),
                                0};
    std::memcpy(g_position, position, sizeof g_position);
    g_marks.assign(1, 0);
    std::fill(g_mix.begin(), g_mix.end(), 0.0f);
    int32_t done = 0;
    while (done < g_blockFrames) {
        const PlayPosition next = UpcomingPosition(g_player);
        const size_t last = g_marks.size() - 4;
        if (g_marks[0] == 0 || g_marks[last + 1] != next.order || g_marks[last + 3] != next.row) {
            g_marks.insert(g_marks.end(), {done, next.order, next.pattern, next.row});
            ++g_marks[0];
        }
        const int32_t frames =
            RenderToTickEnd(g_player, g_mix.data() + 2 * size_t(done), g_blockFrames - done);
        if (frames <= 0)
            break; // the song has ended or stands still: silence follows
        done += frames;
    }
    g_position[7] = done;
    ConvertToPcm16(g_block.data(), g_mix.data(), g_blockFrames);
    return g_block.data();
}

__attribute__((export_name("tinsel_position"))) const int32_t* tinsel_position() {
    return g_position;
}

__attribute__((export_name("tinsel_marks"))) const int32_t* tinsel_marks() {
    return g_marks.data();
}

// 1 once the song has played its passes and only silence follows.
__attribute__((export_name("tinsel_ended"))) int32_t tinsel_ended() {
    return g_player.ended ? 1 : 0;
}

__attribute__((export_name("tinsel_orders"))) int32_t tinsel_orders() {
    return Loaded() ? g_player.song.songLength : 0;
}

// The pattern an order plays; -1 outside the order list.
__attribute__((export_name("tinsel_order_pattern"))) int32_t tinsel_order_pattern(int32_t order) {
    return Loaded() && order >= 0 && order < g_player.song.songLength ? g_module->orderTable[order] : -1;
}

// Frames of the song's first pass, as a double (exact to 2^53).
__attribute__((export_name("tinsel_length"))) double tinsel_length() {
    return double(g_lengthFrames);
}

__attribute__((export_name("tinsel_pattern_count"))) int32_t tinsel_pattern_count() {
    return Loaded() ? g_module->patternSlots : 0;
}

__attribute__((export_name("tinsel_pattern_rows"))) int32_t tinsel_pattern_rows(int32_t pattern) {
    return Loaded() && pattern >= 0 && pattern < g_module->patternSlots ? g_module->patterns[pattern].rows
                                                                        : 0;
}

// Characters of a cell in tracker notation.
__attribute__((export_name("tinsel_cell_width"))) int32_t tinsel_cell_width() {
    return int32_t(kCellTextLength);
}

// A pattern in tracker notation: its rows one after another, each its
// channels' cells of tinsel_cell_width characters, NUL-terminated.
__attribute__((export_name("tinsel_pattern_text"))) const char* tinsel_pattern_text(int32_t pattern) {
    g_pattern.assign(1, '\0');
    if (!Loaded() || pattern < 0 || pattern >= g_module->patternSlots)
        return g_pattern.data();
    const Pattern& p = g_module->patterns[pattern];
    const size_t cells = size_t(p.rows) * size_t(Channels());
    const uint8_t empty[5] = {};
    // Each cell written with its NUL, which the next one overwrites.
    g_pattern.assign(cells * kCellTextLength + 1, ' ');
    for (size_t i = 0; i < cells; ++i)
        FormatCell(p.cells != nullptr ? p.cells + 5 * i : empty, g_pattern.data() + i * kCellTextLength,
                   kCellTextLength + 1);
    return g_pattern.data();
}

__attribute__((export_name("tinsel_pause"))) void tinsel_pause(int32_t paused) {
    g_player.paused = paused != 0;
}

// Plays on from the start of row at order; 0 for a position outside the song.
__attribute__((export_name("tinsel_seek"))) int32_t tinsel_seek(int32_t order, int32_t row) {
    return Loaded() && SeekTo(g_player, order, row) ? 1 : 0;
}

// Plays on from the row playing at frame (a double, exact to 2^53).
__attribute__((export_name("tinsel_seek_frame"))) int32_t tinsel_seek_frame(double frame) {
    return Loaded() && SeekToFrame(g_player, int64_t(frame)) ? 1 : 0;
}

__attribute__((export_name("tinsel_set_repeat"))) void tinsel_set_repeat(int32_t count) {
    if (Loaded())
        SetRepeatCount(g_player, count);
}

__attribute__((export_name("tinsel_set_muted"))) void tinsel_set_muted(int32_t channel, int32_t muted) {
    SetChannelMuted(g_player, channel, muted != 0);
}

// The loaded song rendered offline as tinsel-render renders it, with the
// subsong and sound settings chosen: passes through the song (0: until the
// seconds cap), at most seconds (0: no cap);
// 16-bit samples, or floats at 1.0 full scale. The samples, interleaved
// stereo, as many as tinsel_rendered_length says; null when it cannot.
__attribute__((export_name("tinsel_render_song"))) const void*
tinsel_render_song(int32_t passes, double seconds, int32_t asFloat) {
    if (!Loaded())
        return nullptr;
    // As RenderLength measures, but of the subsong and tempo the player has.
    SetRepeatCount(g_player, passes);
    const int64_t cap = seconds > 0 ? int64_t(seconds * g_rate + 0.5) : -1;
    const int64_t frames = passes > 0 ? MeasurePasses(g_player, passes, cap) : 0;
    const int64_t total = passes <= 0 ? std::max<int64_t>(cap, 0) : cap >= 0 && cap < frames ? cap : frames;
    g_renderFloat = std::vector<float>();
    g_render16 = std::vector<int16_t>();
    (asFloat ? g_renderFloat.resize(size_t(total) * 2) : g_render16.resize(size_t(total) * 2));
    std::vector<float> mix(size_t(g_blockFrames) * 2);
    std::vector<int16_t> block(size_t(g_blockFrames) * 2);
    for (int64_t done = 0; done < total; done += g_blockFrames) {
        const size_t at = size_t(done) * 2;
        const size_t n = size_t(std::min<int64_t>(g_blockFrames, total - done)) * 2;
        // Past the song's end, if ever, only silence: the length stays as announced.
        RenderFrames(g_player, mix.data(), g_blockFrames);
        if (asFloat) {
            for (size_t i = 0; i < n; ++i)
                g_renderFloat[at + i] = mix[i] * (1.0f / 32768.0f);
        } else {
            ConvertToPcm16(block.data(), mix.data(), g_blockFrames);
            std::memcpy(g_render16.data() + at, block.data(), n * sizeof(int16_t));
        }
    }
    g_renderFrames = total;
    return asFloat ? static_cast<const void*>(g_renderFloat.data()) : g_render16.data();
}

// Frames of the last render, as a double.
__attribute__((export_name("tinsel_rendered_frames"))) double tinsel_rendered_frames() {
    return double(g_renderFrames);
}

// The song's subsongs: their count, first orders and lengths in frames.
__attribute__((export_name("tinsel_subsong_count"))) int32_t tinsel_subsong_count() {
    return int32_t(g_subsongs.size());
}

__attribute__((export_name("tinsel_subsong_order"))) int32_t tinsel_subsong_order(int32_t index) {
    return index >= 0 && size_t(index) < g_subsongs.size() ? g_subsongs[size_t(index)].startOrder : -1;
}

__attribute__((export_name("tinsel_subsong_length"))) double tinsel_subsong_length(int32_t index) {
    return index >= 0 && size_t(index) < g_subsongs.size() ? double(g_subsongs[size_t(index)].lengthFrames)
                                                           : 0;
}

__attribute__((export_name("tinsel_current_subsong"))) int32_t tinsel_current_subsong() {
    return Loaded() ? CurrentSubsong(g_player) : 0;
}

__attribute__((export_name("tinsel_select_subsong"))) int32_t tinsel_select_subsong(int32_t index) {
    return SelectSubsong(g_player, g_subsongs, index) ? 1 : 0;
}

__attribute__((export_name("tinsel_set_separation"))) int32_t tinsel_set_separation(int32_t percent) {
    return SetStereoSeparation(g_player, percent) ? 1 : 0;
}

__attribute__((export_name("tinsel_set_tempo"))) int32_t tinsel_set_tempo(double factor) {
    return SetTempoFactor(g_player, factor) ? 1 : 0;
}

__attribute__((export_name("tinsel_set_pitch"))) int32_t tinsel_set_pitch(double factor) {
    return SetPitchFactor(g_player, factor) ? 1 : 0;
}

// Per channel after the last block: note, instrument, volume, panning, and
// the left and right levels; a channel without a sample sounding is all 0.
__attribute__((export_name("tinsel_channel_states"))) const float* tinsel_channel_states() {
    const int32_t channels = Channels();
    g_channels.assign(size_t(channels) * 6 + 1, 0.0f);
    static ChannelState states[kMaxChannels];
    GetChannelStates(g_player, states, channels);
    for (int32_t i = 0; i < channels; ++i) {
        const ChannelState& state = states[i];
        if (!state.active)
            continue;
        const float values[] = {float(state.note),    float(state.instrument), float(state.volume),
                                float(state.panning), state.levelLeft,         state.levelRight};
        std::memcpy(g_channels.data() + 6 * size_t(i), values, sizeof values);
    }
    return g_channels.data();
}

} // extern "C"
