/* Drives every call libtinsel 1.2 added on a song, with the installed
 * library: subsongs, separation, tempo and pitch, mutes and channel state,
 * the order list, cells and names. Prints one line a call; exits 1 at the
 * first answer tinsel.h does not promise. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tinsel.h>

static int failed = 0;

static void check(int ok, const char* what) {
    printf("%s: %s\n", what, ok ? "ok" : "FAILED");
    if (!ok)
        failed = 1;
}

static tinsel_player* open_song(const char* path, int rate) {
    tinsel_player* player = tinsel_new(rate);
    if (player == NULL || tinsel_load_file(player, path) != TINSEL_OK) {
        fprintf(stderr, "controls_song: cannot load %s\n", path);
        exit(1);
    }
    return player;
}

int main(int argc, char** argv) {
    static int16_t pcm[2 * 4096];
    tinsel_facts facts, fast;
    tinsel_subsong subsong;
    tinsel_channel_state state;
    tinsel_cell cell;
    char text[TINSEL_CELL_TEXT_SIZE];
    int i, frames, channel = -1;
    if (argc != 2) {
        fprintf(stderr, "usage: controls_song SONG.xm\n");
        return 2;
    }
    check(tinsel_version() >= ((1u << 16) | (2u << 8)), "library 1.2 or later");
    tinsel_player* player = open_song(argv[1], 44100);

    check(tinsel_subsong_count(player) >= 1, "tinsel_subsong_count");
    check(tinsel_get_subsong(player, 0, &subsong) == TINSEL_OK && subsong.start_order == 0,
          "tinsel_get_subsong");
    check(tinsel_select_subsong(player, 0) == TINSEL_OK && tinsel_get_facts(player, &facts) == TINSEL_OK &&
              facts.length_frames == subsong.length_frames,
          "tinsel_select_subsong");
    check(tinsel_select_subsong(player, tinsel_subsong_count(player)) == TINSEL_ERROR_ARGUMENT,
          "tinsel_select_subsong past the last");

    check(tinsel_set_tempo_factor(player, 2.0) == TINSEL_OK && tinsel_get_facts(player, &fast) == TINSEL_OK &&
              llabs(2 * fast.length_frames - facts.length_frames) <= 2,
          "tinsel_set_tempo_factor halves the length");
    check(tinsel_set_tempo_factor(player, 1.0) == TINSEL_OK, "tinsel_set_tempo_factor back to 1");

    /* What these do to the sound: the player's own tests; here, that each is there and answers. */
    check(tinsel_set_stereo_separation(player, 100) == TINSEL_OK &&
              tinsel_set_stereo_separation(player, 201) == TINSEL_ERROR_ARGUMENT,
          "tinsel_set_stereo_separation");
    check(tinsel_set_pitch_factor(player, 1.0) == TINSEL_OK &&
              tinsel_set_pitch_factor(player, 5.0) == TINSEL_ERROR_ARGUMENT,
          "tinsel_set_pitch_factor");
    frames = tinsel_render_s16(player, pcm, 4096);
    for (i = 0; i < facts.channels && channel < 0; ++i)
        if (tinsel_get_channel_state(player, i, &state) == TINSEL_OK && state.active)
            channel = i;
    check(frames == 4096 && channel >= 0 && state.note >= 1 && state.note <= 96 && state.volume >= 0 &&
              state.volume <= 64 && state.frequency > 0 && state.level_left >= 0 && state.level_left <= 1,
          "tinsel_get_channel_state finds a channel sounding");
    check(tinsel_set_channel_muted(player, facts.channels - 1, 1) == TINSEL_OK &&
              tinsel_set_channel_muted(player, facts.channels, 1) == TINSEL_ERROR_ARGUMENT,
          "tinsel_set_channel_muted");

    check(tinsel_get_order(player, 0) >= 0 && tinsel_get_order(player, facts.orders) == TINSEL_ERROR_POSITION,
          "tinsel_get_order");
    check(tinsel_get_pattern_rows(player, tinsel_get_order(player, 0)) > 0, "tinsel_get_pattern_rows");
    check(tinsel_get_cell(player, tinsel_get_order(player, 0), 0, 0, &cell) == TINSEL_OK, "tinsel_get_cell");
    check(tinsel_format_cell(&cell, text, sizeof text) == 14 && strlen(text) == 14 && text[3] == ' ',
          "tinsel_format_cell");
    printf("  order 0, row 0, channel 0: %s\n", text);
    check(facts.instruments < 1 || tinsel_instrument_name(player, 1) != NULL, "tinsel_instrument_name");
    check(tinsel_instrument_name(player, 0) == NULL && tinsel_sample_name(player, 1, -1) == NULL,
          "tinsel_sample_name");
    tinsel_free(player);
    return failed;
}
