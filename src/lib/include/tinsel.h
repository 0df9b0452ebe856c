/* tinsel.h: the Tinselbay module player for other programs.
 *
 * Plays XM and MOD modules: load a song from memory or a file, then render it into
 * your buffer as interleaved stereo frames at the rate you chose. The 16-bit
 * output is the same, byte for byte, as the offline renderer's
 * (`tinsel-render --rate R`) for the same song and rate, however the frames
 * are asked for.
 *
 * Errors are negative codes; tinsel_error() gives a text for each. Every
 * function checks its arguments: a null pointer or a value out of range is
 * answered with TINSEL_ERROR_ARGUMENT, never a crash.
 *
 * Threads: a player is used by one thread at a time (calls on one player
 * from two threads need the caller's lock). Separate players share nothing
 * and may play on separate threads at once.
 *
 * The player renders ahead of the caller by at most one block of 20 ms
 * (rate / 50 frames, rounded up to a multiple of 4): settings made while
 * frames of such a block are still to be handed out apply from the next
 * block on. A seek or a load applies at once.
 *
 * C99; usable from C++. Link with `pkg-config --cflags --libs tinsel`, or in
 * CMake with find_package(Tinsel) and the target Tinsel::tinsel.
 */
#ifndef TINSEL_H
#define TINSEL_H

#include <stddef.h>
#include <stdint.h>

#if defined(TINSEL_BUILDING_LIBRARY) && defined(__GNUC__)
#define TINSEL_API __attribute__((visibility("default")))
#else
#define TINSEL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The interface's version: the major number changes only when a program
 * written against an older interface would no longer build or run. */
#define TINSEL_VERSION_MAJOR 1
#define TINSEL_VERSION_MINOR 2
#define TINSEL_VERSION_PATCH 0
#define TINSEL_VERSION ((TINSEL_VERSION_MAJOR << 16) | (TINSEL_VERSION_MINOR << 8) | TINSEL_VERSION_PATCH)

/* Rates a player renders at, in frames per second. */
#define TINSEL_MIN_RATE 8000
#define TINSEL_MAX_RATE 192000
/* Channels tinsel_set_muted() has a bit for each: the first 32 of a song's
 * (later trackers write up to 127, which all play). */
#define TINSEL_MAX_CHANNELS 32
/* Channels a song has at most: tinsel_set_channel_muted() and
 * tinsel_get_channel_state() take any of them. Since 1.2. */
#define TINSEL_MAX_SONG_CHANNELS 127
/* A key-off in a tinsel_cell's note. Since 1.2. */
#define TINSEL_NOTE_OFF 97
/* Bytes tinsel_format_cell() needs for a whole cell, the NUL included. Since 1.2. */
#define TINSEL_CELL_TEXT_SIZE 15
/* The most passes tinsel_set_repeat_count() accepts. */
#define TINSEL_MAX_REPEATS 1000
/* The amplifications tinsel_set_amplification() accepts, and the default. */
#define TINSEL_MIN_AMPLIFICATION 1
#define TINSEL_MAX_AMPLIFICATION 32
#define TINSEL_DEFAULT_AMPLIFICATION 4

/* Results: 0 for success, or one of these. */
enum {
    TINSEL_OK = 0,
    TINSEL_ERROR_ARGUMENT = -1, /* a null pointer, or a value outside its range */
    TINSEL_ERROR_NO_SONG = -2,  /* the player holds no song: none loaded, or the last load failed */
    TINSEL_ERROR_NOT_XM = -3,   /* the data is neither an XM nor a MOD module */
    TINSEL_ERROR_DAMAGED = -4,  /* an XM or MOD module the loader refuses; tinsel_load_report() says why */
    TINSEL_ERROR_FILE = -5,     /* the file cannot be opened or read */
    TINSEL_ERROR_MEMORY = -6,   /* memory ran out */
    TINSEL_ERROR_POSITION = -7  /* an order or row outside the song */
};

/* Rule sets: how a song's effects and timing are performed. */
enum {
    TINSEL_RULES_SONG = 0,   /* the song's own: tinsel rules for songs by songc, else FT2 rules */
    TINSEL_RULES_TINSEL = 1, /* the small effect set the demo's song was written for */
    TINSEL_RULES_FT2 = 2     /* every effect of the original tracker, with its quirks */
};

/* Interpolations: how a voice reads its sample between the stored entries
 * (the renderer's --interp). */
enum {
    TINSEL_INTERP_LINEAR = 0,  /* the default: each rule set's own mixing, byte for byte */
    TINSEL_INTERP_NEAREST = 1, /* the nearest entry, no interpolation */
    TINSEL_INTERP_CUBIC = 2,   /* a cubic spline through four entries */
    TINSEL_INTERP_SINC = 3     /* a windowed sinc, widened for notes above the output's rate */
};

/* Ramps: how volume and panning changes glide (the renderer's --ramp). */
enum {
    TINSEL_RAMP_RULES = 0, /* the default: as the rule set glides them */
    TINSEL_RAMP_OFF = 1    /* at once, attacks exactly as stored */
};

/* A player: one song, its playback state and its settings. Opaque. */
typedef struct tinsel_player tinsel_player;

/* What a song holds and how long it plays (the renderer's --info). */
typedef struct tinsel_facts {
    char title[21];   /* the song's name, trailing spaces removed */
    char tracker[21]; /* the name of the program that wrote it */
    int channels;
    int orders;        /* entries of the order list */
    int restart_order; /* where the song goes on after its last order */
    int patterns;      /* as stored in the file */
    int instruments;
    int samples;            /* of all instruments together */
    int linear_frequencies; /* 1: the linear frequency table; 0: the Amiga one */
    int speed;              /* ticks a row at the start */
    int bpm;                /* tempo at the start */
    int rules;              /* TINSEL_RULES_TINSEL or _FT2: the set the player plays it by */
    /* Played from its start by those rules at the player's rate: */
    int64_t length_frames; /* until it first comes back to a row it has played */
    int64_t loop_frames;   /* of one loop from there on; 0 when the song stops instead */
    int loop_order;        /* the row it comes back to */
    int loop_row;
    int length_exact; /* 0: the song never came back within the walk's bounds (a damaged
                         file); length_frames is then a lower bound */
} tinsel_facts;

/* Where playback is: the tick of the last frame rendered, or, before any
 * frame since the load or a seek, the row the song goes on from. */
typedef struct tinsel_position {
    int order;
    int pattern;
    int row;
    int tick;
    int speed; /* ticks a row */
    int bpm;
    int64_t frame;  /* frames of song before the next one, counted from the song's start as
                       played: a seek moves it to where playback reaches the new place */
    double seconds; /* frame in seconds */
} tinsel_position;

/* A tune of a song that packs several (tinsel_get_subsong()). Since 1.2. */
typedef struct tinsel_subsong {
    int start_order;       /* where it starts, at row 0 */
    int64_t length_frames; /* at the player's rate and a tempo factor of 1, as tinsel_facts counts */
    int64_t loop_frames;   /* of one loop from where it comes back; 0 when it stops */
} tinsel_subsong;

/* What a channel is sounding (tinsel_get_channel_state()). Since 1.2. */
typedef struct tinsel_channel_state {
    int active;        /* 1: a voice plays a sample for the channel; 0: silent, the rest is 0 */
    int note;          /* 1..96 as the file stores notes (C-0 = 1); 0 for none */
    int instrument;    /* from 1; 0 for none */
    int sample;        /* of the instrument, from 0; -1 for none */
    int volume;        /* heard, 0..64 */
    int panning;       /* heard, 0 (left) .. 255 (right) */
    double frequency;  /* Hz, with the pitch factor */
    float level_left;  /* peak of the channel's own output over the last block rendered, */
    float level_right; /* 0..1 of full scale, before the stereo separation; 0 when muted */
} tinsel_channel_state;

/* A pattern cell as stored. Since 1.2. */
typedef struct tinsel_cell {
    int note;       /* 1..96 (C-0 = 1), TINSEL_NOTE_OFF for a key-off, 0 for none */
    int instrument; /* from 1; 0 for none */
    int volume;     /* the volume-column byte; 0 for none */
    int effect;     /* as stored: 0..35 for 0-9 and A-Z */
    int parameter;  /* as stored */
} tinsel_cell;

/* The library's version, as TINSEL_VERSION is for the header: a program can
 * check that the library it runs with is as new as the header it was built with. */
TINSEL_API unsigned tinsel_version(void);

/* A text for a result code: constant, never null; "unknown error" for a
 * code that is none of the above. */
TINSEL_API const char* tinsel_error(int code);

/* A player rendering at rate frames per second (TINSEL_MIN_RATE to
 * TINSEL_MAX_RATE), holding no song, with the settings' defaults: one pass
 * through each song, no channel muted, each song's own rules.
 * Null for a bad rate or when memory runs out. */
TINSEL_API tinsel_player* tinsel_new(int rate);

/* Releases the player and its song. Null is fine. */
TINSEL_API void tinsel_free(tinsel_player* player);

/* Loads an XM or MOD image of size bytes and starts it from its first order, in
 * place of any song the player held. The library keeps its own copy: data
 * may be freed as soon as this returns. Settings are kept.
 * Errors: ARGUMENT (null player, or null data with a size), NOT_XM, DAMAGED,
 * MEMORY. A failed load leaves the player empty and usable: renders give
 * NO_SONG until a load succeeds. */
TINSEL_API int tinsel_load(tinsel_player* player, const void* data, size_t size);

/* The same from the file at path. Errors as tinsel_load(), and FILE when it
 * cannot be read; a file over 256 MB is NOT_XM. */
TINSEL_API int tinsel_load_file(tinsel_player* player, const char* path);

/* The loader's account of the last load: why it refused the data, or what it
 * found beyond the plain layout of today's trackers (older layouts, ADPCM
 * samples, a file cut short), one finding a line; "" when there is nothing to
 * say. Valid until the next load or tinsel_free(); "" for a null player. */
TINSEL_API const char* tinsel_load_report(const tinsel_player* player);

/* Fills out with frames interleaved stereo frames (left, right) and returns
 * how many of them are song: fewer than frames where the song ends within
 * them (after its repeat count), and 0 from then on; the rest are silence.
 * 16-bit samples are the renderer's; floats are the same mix scaled so that
 * 1.0 is the 16-bit full scale, unclipped (a loud song may pass 1.0).
 * Errors: ARGUMENT (null player, null out, frames below 0), NO_SONG (out is
 * then filled with silence), MEMORY. */
TINSEL_API int tinsel_render_s16(tinsel_player* player, int16_t* out, int frames);
TINSEL_API int tinsel_render_f32(tinsel_player* player, float* out, int frames);

/* Fills facts for the song the player holds. Finding the length plays the
 * song through without sound (a few milliseconds for most songs); the
 * answer is kept until the next load or change of rules.
 * Errors: ARGUMENT, NO_SONG, MEMORY. */
TINSEL_API int tinsel_get_facts(tinsel_player* player, tinsel_facts* facts);

/* Fills position with where playback is. Errors: ARGUMENT, NO_SONG. */
TINSEL_API int tinsel_get_position(const tinsel_player* player, tinsel_position* position);

/* Plays on from the start of row at order, with every channel, speed and
 * tempo as playing the song from its start would leave them (notes start
 * silent and sound from the next one); a row playback never reaches is
 * jumped to directly. A song that had ended plays again.
 * Errors: ARGUMENT, NO_SONG, POSITION (an order outside the order list, a
 * row outside its pattern), MEMORY. */
TINSEL_API int tinsel_seek_row(tinsel_player* player, int order, int row);

/* Plays on from the start of the row that is playing seconds into the song,
 * as tinsel_seek_row() lands on a row; the position then tells where that is.
 * Times in later passes count: 100 s into a 60 s song that loops from its
 * start lands 40 s into its second pass. The call takes longer the later the
 * time: the song is played there without sound.
 * Errors: ARGUMENT (seconds below 0 or not a number), NO_SONG, POSITION (at
 * or past the song's end with its repeat count; the player is left as it
 * was), MEMORY. */
TINSEL_API int tinsel_seek_time(tinsel_player* player, double seconds);

/* Setting: passes through a song before it ends (the later ones from where it
 * comes back to), 0 to play forever; 1 by default. Raising it after the song
 * has ended plays on. Errors: ARGUMENT (a count outside 0..TINSEL_MAX_REPEATS), MEMORY. */
TINSEL_API int tinsel_set_repeat_count(tinsel_player* player, int count);

/* Setting: bit i of mask mutes channel i (counted from 0), the other channels
 * sound; a muted channel plays on unheard. 0 by default. Errors: ARGUMENT. */
TINSEL_API int tinsel_set_muted(tinsel_player* player, uint32_t mask);

/* Setting: the rule set songs play by, a TINSEL_RULES_ value. Changing it
 * starts the song again from its first order. Errors: ARGUMENT, MEMORY. */
TINSEL_API int tinsel_set_rules(tinsel_player* player, int rules);

/* Setting: the interpolation, a TINSEL_INTERP_ value; TINSEL_INTERP_LINEAR by
 * default. By FT2 rules, any other (or TINSEL_RAMP_OFF) mixes with the float
 * mixer at the original mixer's level instead of the original's own mixer.
 * Errors: ARGUMENT. Since 1.1. */
TINSEL_API int tinsel_set_interpolation(tinsel_player* player, int interpolation);

/* Setting: the ramp, a TINSEL_RAMP_ value; TINSEL_RAMP_RULES by default.
 * Errors: ARGUMENT. Since 1.1. */
TINSEL_API int tinsel_set_ramp(tinsel_player* player, int ramp);

/* Setting: the amplification of songs played by FT2 rules, as the original
 * tracker's setting of that name (TINSEL_MIN_AMPLIFICATION to
 * TINSEL_MAX_AMPLIFICATION; TINSEL_DEFAULT_AMPLIFICATION by default). Songs
 * played by tinsel rules keep their level. Errors: ARGUMENT. Since 1.1. */
TINSEL_API int tinsel_set_amplification(tinsel_player* player, int amplification);

/* Subsongs: tunes packed into one song. Subsong 0 starts at order 0; each
 * next one at the first order that no earlier one plays, and runs as playing
 * from there plays it, until it comes back to a row it has played or stops.
 * Finding them plays the song through without sound; the answer is kept
 * until the next load or change of rules. */

/* The song's subsong count, 1 or more. Errors: ARGUMENT, NO_SONG, MEMORY. Since 1.2. */
TINSEL_API int tinsel_subsong_count(tinsel_player* player);

/* Plays subsong 0.. from its start; tinsel_get_facts() then describes it (its
 * length_frames and loop are the subsong's), and seeks and the repeat count
 * count from its start. Loading a song or changing the rules plays subsong 0.
 * Errors: ARGUMENT (null player, a subsong outside the song's), NO_SONG,
 * MEMORY. Since 1.2. */
TINSEL_API int tinsel_select_subsong(tinsel_player* player, int subsong);

/* Fills info for subsong 0... Errors: ARGUMENT (null pointer, a subsong
 * outside the song's), NO_SONG, MEMORY. Since 1.2. */
TINSEL_API int tinsel_get_subsong(tinsel_player* player, int subsong, tinsel_subsong* info);

/* Setting: stereo separation in percent, 0..200; 100 by default, the mix as
 * it is (byte for byte); 0 gives both sides their mean (mono); 200 doubles
 * the difference between the sides. Errors: ARGUMENT. Since 1.2. */
TINSEL_API int tinsel_set_stereo_separation(tinsel_player* player, int percent);

/* Setting: tempo factor 0.25..4, 1 by default: the song plays factor times
 * as fast, its pitch unchanged; tinsel_get_facts() counts lengths at it.
 * Errors: ARGUMENT (outside the range, or not a number), MEMORY. Since 1.2. */
TINSEL_API int tinsel_set_tempo_factor(tinsel_player* player, double factor);

/* Setting: pitch factor 0.25..4, 1 by default: every channel sounds at
 * factor times its frequency, its timing unchanged. Errors: ARGUMENT
 * (outside the range, or not a number). Since 1.2. */
TINSEL_API int tinsel_set_pitch_factor(tinsel_player* player, double factor);

/* Setting: mutes (muted not 0) or unmutes one channel, 0 to
 * TINSEL_MAX_SONG_CHANNELS - 1, and with a song only its own; kept across
 * loads. tinsel_set_muted() still sets the first 32 at once and leaves the
 * others. Errors: ARGUMENT (a channel outside that). Since 1.2. */
TINSEL_API int tinsel_set_channel_muted(tinsel_player* player, int channel, int muted);

/* Fills state with what channel 0.. of the song sounds, after the frames
 * handed out last (at most a block ahead of them). Cheap: a meter may ask
 * for every channel every block. Errors: ARGUMENT (null pointer, a channel
 * outside the song's), NO_SONG. Since 1.2. */
TINSEL_API int tinsel_get_channel_state(const tinsel_player* player, int channel,
                                        tinsel_channel_state* state);

/* The song's contents, as stored. */

/* The pattern at order 0.. of the order list. Errors: ARGUMENT (null
 * player), NO_SONG, POSITION (an order outside the order list). Since 1.2. */
TINSEL_API int tinsel_get_order(const tinsel_player* player, int order);

/* The rows pattern 0.. plays (a pattern the order list names but the file
 * lacks plays as empty rows). Errors: ARGUMENT, NO_SONG, POSITION (a pattern
 * outside the song). Since 1.2. */
TINSEL_API int tinsel_get_pattern_rows(const tinsel_player* player, int pattern);

/* Fills cell with the cell at row and channel of pattern, all 0 for a row
 * the file leaves empty. Errors: ARGUMENT (null pointer), NO_SONG, POSITION
 * (a pattern, row or channel outside the song). Since 1.2. */
TINSEL_API int tinsel_get_cell(const tinsel_player* player, int pattern, int row, int channel,
                               tinsel_cell* cell);

/* Writes cell as trackers show it into text, "NNN II VVV EPP" (14
 * characters, TINSEL_CELL_TEXT_SIZE with the NUL), cut to size - 1 and
 * NUL-terminated; returns the characters written. NNN is the note, "C-4",
 * "C#4", "===" for a key-off, "..." for none; II the instrument in two
 * decimal digits, ".." for none; VVV the volume column: "..." for none,
 * "vNN" a volume 00..40 in hex, else a mark and the value's nibble: "-0x"
 * slide down, "+0x" up, "d0x" fine down, "u0x" fine up, "s0x" vibrato
 * speed, "b0x" vibrato depth, "px0" panning, "<0x" and ">0x" panning slides,
 * "g0x" tone portamento, "?NN" a byte of no meaning; EPP the effect's
 * letter (0-9, A-Z) and parameter in hex, "..." for none. Values outside
 * a byte are taken modulo 256. Errors: ARGUMENT (null pointer, size 0).
 * Since 1.2. */
TINSEL_API int tinsel_format_cell(const tinsel_cell* cell, char* text, size_t size);

/* Instrument 1.. of the song's name as stored, trailing spaces removed (often
 * where composers write their messages); null without a song or for an
 * instrument outside it. Valid until the next load or tinsel_free(). Since 1.2. */
TINSEL_API const char* tinsel_instrument_name(const tinsel_player* player, int instrument);

/* Sample 0.. of instrument 1..'s name, as tinsel_instrument_name(); null for
 * an index outside the song. Since 1.2. */
TINSEL_API const char* tinsel_sample_name(const tinsel_player* player, int instrument, int sample);

#ifdef __cplusplus
}
#endif

#endif
