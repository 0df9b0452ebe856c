/* Renders a song with the installed library as raw 16-bit stereo frames on
 * standard output, in chunks of changing sizes as an audio callback might
 * ask for them: the bytes must be those of `tinsel-render --rate RATE`. */
#include <stdio.h>
#include <stdlib.h>

#include <tinsel.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: render_song SONG.xm RATE\n");
        return 2;
    }
    if (tinsel_version() >> 16 != TINSEL_VERSION_MAJOR) {
        fprintf(stderr, "render_song: library version %x, header %x\n", tinsel_version(), TINSEL_VERSION);
        return 1;
    }
    tinsel_player* player = tinsel_new(atoi(argv[2]));
    if (player == NULL) {
        fprintf(stderr, "render_song: no player at rate %s\n", argv[2]);
        return 1;
    }
    int result = tinsel_load_file(player, argv[1]);
    if (result < 0) {
        fprintf(stderr, "render_song: %s: %s\n", argv[1], tinsel_error(result));
        tinsel_free(player);
        return 1;
    }
    static int16_t pcm[2 * 4096];
    unsigned seed = 1;
    for (;;) {
        seed = seed * 1103515245u + 12345u;
        const int frames = 1 + (int)(seed >> 16) % 4096;
        result = tinsel_render_s16(player, pcm, frames);
        if (result < 0) {
            fprintf(stderr, "render_song: %s\n", tinsel_error(result));
            break;
        }
        if (fwrite(pcm, 4, (size_t)result, stdout) != (size_t)result) {
            result = -1;
            break;
        }
        if (result < frames)
            break;
    }
    tinsel_free(player);
    return result < 0 || fflush(stdout) != 0 ? 1 : 0;
}
