// The page's player where the sound is made: a WebAssembly module of its own,
// with no JavaScript glue, that the page's audio worklet instantiates from
// bytes handed to it once. It renders in blocks of the device's length, as
// the desktop ring and tinsel-render do, so the page sounds the same bytes.
//
// The worklet writes an XM image into tinsel_image's room, loads it, then
// takes one block after another; everything else is read from fixed records.
#include <cstdint>
#include <cstring>
#include <vector>

#include "player/mix/mixer.h"
#include "player/format/module.h"
#include "player/player.h"
#include "player/engine/replay.h"
#include "tools/render/song_file.h"

namespace {

std::vector<uint8_t> g_image;
Module* g_module = nullptr;
Player g_player;
int32_t g_blockFrames = 0;
std::vector<float> g_mix;
std::vector<int16_t> g_block;
char g_error[256];
char g_title[24];
// Order, pattern, row, speed, bpm, frame played (low, high word): where the
// song was at the start of the last block rendered.
int32_t g_position[7];
// One entry per row start of the song's first pass: frame, order, row.
std::vector<int32_t> g_rows;
int64_t g_lengthFrames = 0;

void Unload() {
    g_player = Player{};
    FreeModule(g_module);
    g_module = nullptr;
    g_rows.clear();
    g_lengthFrames = 0;
    g_title[0] = '\0';
}

// Where each row of the first pass starts, walked tick by tick without
// mixing, as the song's length is: a time on the page's bar maps to a row.
void WalkRows(int32_t rate) {
    const SongLength length = MeasureSong(*g_module, rate);
    g_lengthFrames = length.frames;
    Player walker; // keeps the walk's playback state: the song is only read
    if (!InitPlayer(walker, rate) || !StartSong(walker, g_module, g_player.rules))
        return;
    int64_t frames = 0;
    while (frames < length.frames && !SongStalled(walker)) {
        NextRow next{};
        if (NextRowStart(walker, &next) && frames <= INT32_MAX) {
            g_rows.insert(g_rows.end(), {int32_t(frames), next.order, next.row});
        }
        PlayTick(walker);
        frames += walker.song.samplesPerTick > 0 ? walker.song.samplesPerTick : 1;
    }
}

} // namespace

extern "C" {

// Room for an XM image of size bytes; null when memory runs out.
__attribute__((export_name("tinsel_image"))) uint8_t* tinsel_image(int32_t size) {
    Unload();
    if (size < 0)
        return nullptr;
    g_image.assign(size_t(size), 0);
    return g_image.data();
}

// Loads the image at rate frames per second: 0 when it plays, 1 when it is no
// XM, 2 when it does not load (tinsel_error says why in either case).
__attribute__((export_name("tinsel_load"))) int32_t tinsel_load(int32_t rate, int32_t repeatCount) {
    Unload();
    // Unnamed: the page puts the file's name before the reason.
    SongFile file = LoadSongImage(g_image.data(), g_image.size(), "");
    g_image = std::vector<uint8_t>();
    if (file.module == nullptr) {
        std::strncpy(g_error, file.error.c_str(), sizeof g_error - 1);
        return file.refused == LoadRefusal::NotAModule ? 1 : 2;
    }
    g_module = file.module;
    std::strncpy(g_title, g_module->title, sizeof g_title - 1);
    if (!InitPlayer(g_player, rate) || !StartSong(g_player, g_module)) {
        std::strncpy(g_error, "the song does not start", sizeof g_error - 1);
        Unload();
        return 2;
    }
    SetRepeatCount(g_player, repeatCount);
    g_blockFrames = BlockLengthForRate(rate);
    g_mix.assign(size_t(g_blockFrames) * 2, 0.0f);
    g_block.assign(size_t(g_blockFrames) * 2, 0);
    WalkRows(rate);
    return 0;
}

__attribute__((export_name("tinsel_error"))) const char* tinsel_error() {
    return g_error;
}

__attribute__((export_name("tinsel_title"))) const char* tinsel_title() {
    return g_title;
}

__attribute__((export_name("tinsel_block_length"))) int32_t tinsel_block_length() {
    return g_blockFrames;
}

// The next block, 16-bit stereo: silence without a song, once it has ended
// or while paused.
__attribute__((export_name("tinsel_render"))) const int16_t* tinsel_render() {
    if (g_module == nullptr)
        return nullptr;
    const PlayPosition at = CurrentPosition(g_player);
    const int32_t position[] = {at.order,
                                at.pattern,
                                at.row,
                                at.speed,
                                at.bpm,
                                int32_t(at.frame & 0xFFFFFFFF),
                                int32_t(at.frame >> 32)};
    std::memcpy(g_position, position, sizeof g_position);
    RenderFrames(g_player, g_mix.data(), g_blockFrames);
    ConvertToPcm16(g_block.data(), g_mix.data(), g_blockFrames);
    return g_block.data();
}

__attribute__((export_name("tinsel_position"))) const int32_t* tinsel_position() {
    return g_position;
}

// 1 once the song has played its passes and only silence follows.
__attribute__((export_name("tinsel_ended"))) int32_t tinsel_ended() {
    return g_player.ended ? 1 : 0;
}

__attribute__((export_name("tinsel_orders"))) int32_t tinsel_orders() {
    return g_module != nullptr ? g_player.song.songLength : 0;
}

// Frames of the song's first pass, as a double (exact to 2^53).
__attribute__((export_name("tinsel_length"))) double tinsel_length() {
    return double(g_lengthFrames);
}

__attribute__((export_name("tinsel_row_count"))) int32_t tinsel_row_count() {
    return int32_t(g_rows.size() / 3);
}

__attribute__((export_name("tinsel_rows"))) const int32_t* tinsel_rows() {
    return g_rows.data();
}

__attribute__((export_name("tinsel_pause"))) void tinsel_pause(int32_t paused) {
    g_player.paused = paused != 0;
}

// Plays on from the start of row at order; 0 for a position outside the song.
__attribute__((export_name("tinsel_seek"))) int32_t tinsel_seek(int32_t order, int32_t row) {
    return g_module != nullptr && SeekTo(g_player, order, row) ? 1 : 0;
}

} // extern "C"
