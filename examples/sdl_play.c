/* sdl_play: plays an XM file once through SDL2's audio callback with the
 * Tinselbay player library, showing where the song is.
 *
 *   cc sdl_play.c $(pkg-config --cflags --libs tinsel sdl2) -o sdl_play
 *   ./sdl_play song.xm
 *
 * SDL calls the callback on its own audio thread; the main thread asks for
 * the position under SDL's audio lock, since a player is used by one thread
 * at a time. */
#include <SDL.h>
#include <stdio.h>
#include <stdlib.h>

#include <tinsel.h>

struct playback {
    tinsel_player* player;
    SDL_atomic_t ended; /* set by the callback once the song is over */
};

/* Fills SDL's buffer straight from the player: 16-bit stereo frames. */
static void fill_audio(void* userdata, Uint8* stream, int bytes) {
    struct playback* playback = userdata;
    const int frames = bytes / 4;
    const int song = tinsel_render_s16(playback->player, (int16_t*)stream, frames);
    if (song < frames) /* the rest is silence, or an error filled it with silence */
        SDL_AtomicSet(&playback->ended, 1);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: sdl_play SONG.xm\n");
        return 2;
    }
    if (SDL_Init(SDL_INIT_AUDIO) != 0) {
        fprintf(stderr, "sdl_play: no audio: %s\n", SDL_GetError());
        return 1;
    }
    SDL_AudioSpec want, have;
    SDL_zero(want);
    want.freq = 48000;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = fill_audio;
    struct playback playback = {NULL, {0}};
    want.userdata = &playback;
    /* The device's own rate: the player renders at any rate from 8000 to 192000. */
    SDL_AudioDeviceID device = SDL_OpenAudioDevice(NULL, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (device == 0) {
        fprintf(stderr, "sdl_play: cannot open the audio device: %s\n", SDL_GetError());
        SDL_Quit();
        return 1;
    }
    playback.player = tinsel_new(have.freq);
    int result = playback.player != NULL ? tinsel_load_file(playback.player, argv[1]) : TINSEL_ERROR_MEMORY;
    if (result != TINSEL_OK) {
        fprintf(stderr, "sdl_play: %s: %s\n", argv[1], tinsel_error(result));
        tinsel_free(playback.player);
        SDL_CloseAudioDevice(device);
        SDL_Quit();
        return 1;
    }
    tinsel_facts facts;
    if (tinsel_get_facts(playback.player, &facts) == TINSEL_OK)
        printf("%s: %s, %d channels, %.1f s\n", argv[1], facts.title, facts.channels,
               (double)facts.length_frames / have.freq);

    SDL_PauseAudioDevice(device, 0);
    while (!SDL_AtomicGet(&playback.ended)) {
        tinsel_position at;
        SDL_LockAudioDevice(device);
        tinsel_get_position(playback.player, &at);
        SDL_UnlockAudioDevice(device);
        printf("\r  order %3d  row %3d  %7.2f s", at.order, at.row, at.seconds);
        fflush(stdout);
        SDL_Delay(100);
    }
    printf("\n");
    SDL_CloseAudioDevice(device);
    tinsel_free(playback.player);
    SDL_Quit();
    return 0;
}
