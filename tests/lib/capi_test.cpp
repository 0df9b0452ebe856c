// The C interface: every call answers bad arguments with a code, the output
// is the offline renderer's however the frames are asked for, and positions,
// seeks and settings mean what tinsel.h says.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "player/format/cell_text.h"
#include "player/format/module.h"
#include "player/format/song.h"
#include "player/player.h"
#include "tests/player/mod_image.h"
#include "tinsel.h"
#include "tools/render/render.h"
#include "tools/render/song_file.h"

namespace {

struct PlayerFree {
    void operator()(tinsel_player* p) const { tinsel_free(p); }
};
using PlayerPtr = std::unique_ptr<tinsel_player, PlayerFree>;

PlayerPtr Loaded(int rate) {
    PlayerPtr p(tinsel_new(rate));
    EXPECT_EQ(tinsel_load(p.get(), EmbeddedSong, EmbeddedSongSize), TINSEL_OK);
    return p;
}

TEST(CApi, EveryCallAnswersBadArgumentsWithACode) {
    for (int rate : {INT_MIN, 0, 7999, 192001})
        EXPECT_EQ(tinsel_new(rate), nullptr) << rate;
    tinsel_free(nullptr);
    EXPECT_STREQ(tinsel_load_report(nullptr), "");

    PlayerPtr empty(tinsel_new(8000));
    PlayerPtr song = Loaded(8000);
    tinsel_player* e = empty.get();
    tinsel_player* s = song.get();
    ASSERT_NE(e, nullptr);
    const std::vector<uint8_t> image(EmbeddedSong, EmbeddedSong + EmbeddedSongSize);
    // The header promises patterns the cut file does not hold.
    const std::vector<uint8_t> cut(image.begin(), image.begin() + 400);
    const char notXm[] = "Extended Modul";
    int16_t pcm[8];
    float floats[8];
    tinsel_facts facts;
    tinsel_position at;
    tinsel_subsong subsong;
    tinsel_channel_state channel;
    tinsel_cell cell{};
    char text[TINSEL_CELL_TEXT_SIZE];
    // Each call made in the order of the rows, its answer kept.
    struct Case {
        const char* call;
        int answer, expected;
    };
    ModSpec modSpec;
    modSpec.samples = {ModSquare(100)};
    const std::vector<uint8_t> mod = BuildMod(modSpec);
    const Case cases[] = {
        {"load, no player", tinsel_load(nullptr, image.data(), image.size()), TINSEL_ERROR_ARGUMENT},
        {"load, no data but a size", tinsel_load(e, nullptr, 10), TINSEL_ERROR_ARGUMENT},
        {"load, nothing", tinsel_load(e, nullptr, 0), TINSEL_ERROR_NOT_XM},
        {"load, not an XM", tinsel_load(e, notXm, sizeof notXm), TINSEL_ERROR_NOT_XM},
        {"load, a MOD", tinsel_load(e, mod.data(), mod.size()), TINSEL_OK},
        {"load, damaged", tinsel_load(e, cut.data(), cut.size()), TINSEL_ERROR_DAMAGED},
        {"load_file, no path", tinsel_load_file(e, nullptr), TINSEL_ERROR_ARGUMENT},
        {"load_file, missing", tinsel_load_file(e, "/nonexistent/song.xm"), TINSEL_ERROR_FILE},
        {"load_file, a directory", tinsel_load_file(e, "/"), TINSEL_ERROR_FILE},
        {"render_s16, no player", tinsel_render_s16(nullptr, pcm, 4), TINSEL_ERROR_ARGUMENT},
        {"render_s16, no buffer", tinsel_render_s16(s, nullptr, 4), TINSEL_ERROR_ARGUMENT},
        {"render_s16, frames below 0", tinsel_render_s16(s, pcm, -1), TINSEL_ERROR_ARGUMENT},
        {"render_s16, no song", tinsel_render_s16(e, pcm, 4), TINSEL_ERROR_NO_SONG},
        {"render_f32, no buffer", tinsel_render_f32(s, nullptr, 4), TINSEL_ERROR_ARGUMENT},
        {"render_f32, frames below 0", tinsel_render_f32(s, floats, INT_MIN), TINSEL_ERROR_ARGUMENT},
        {"render_f32, no song", tinsel_render_f32(e, floats, 4), TINSEL_ERROR_NO_SONG},
        {"get_facts, no player", tinsel_get_facts(nullptr, &facts), TINSEL_ERROR_ARGUMENT},
        {"get_facts, no record", tinsel_get_facts(s, nullptr), TINSEL_ERROR_ARGUMENT},
        {"get_facts, no song", tinsel_get_facts(e, &facts), TINSEL_ERROR_NO_SONG},
        {"get_position, no player", tinsel_get_position(nullptr, &at), TINSEL_ERROR_ARGUMENT},
        {"get_position, no record", tinsel_get_position(s, nullptr), TINSEL_ERROR_ARGUMENT},
        {"get_position, no song", tinsel_get_position(e, &at), TINSEL_ERROR_NO_SONG},
        {"seek_row, no player", tinsel_seek_row(nullptr, 0, 0), TINSEL_ERROR_ARGUMENT},
        {"seek_row, no song", tinsel_seek_row(e, 0, 0), TINSEL_ERROR_NO_SONG},
        {"seek_row, order below 0", tinsel_seek_row(s, -1, 0), TINSEL_ERROR_POSITION},
        {"seek_row, order past the list", tinsel_seek_row(s, 14, 0), TINSEL_ERROR_POSITION},
        {"seek_row, row below 0", tinsel_seek_row(s, 0, -1), TINSEL_ERROR_POSITION},
        {"seek_row, row past the pattern", tinsel_seek_row(s, 0, 256), TINSEL_ERROR_POSITION},
        {"seek_time, no player", tinsel_seek_time(nullptr, 1.0), TINSEL_ERROR_ARGUMENT},
        {"seek_time, below 0", tinsel_seek_time(s, -0.001), TINSEL_ERROR_ARGUMENT},
        {"seek_time, not a number", tinsel_seek_time(s, std::nan("")), TINSEL_ERROR_ARGUMENT},
        {"seek_time, no song", tinsel_seek_time(e, 1.0), TINSEL_ERROR_NO_SONG},
        {"seek_time, past the end", tinsel_seek_time(s, 75.0), TINSEL_ERROR_POSITION},
        {"seek_time, forever", tinsel_seek_time(s, INFINITY), TINSEL_ERROR_POSITION},
        {"set_repeat_count, no player", tinsel_set_repeat_count(nullptr, 1), TINSEL_ERROR_ARGUMENT},
        {"set_repeat_count, below 0", tinsel_set_repeat_count(s, -1), TINSEL_ERROR_ARGUMENT},
        {"set_repeat_count, too many", tinsel_set_repeat_count(s, 1001), TINSEL_ERROR_ARGUMENT},
        {"set_muted, no player", tinsel_set_muted(nullptr, 1), TINSEL_ERROR_ARGUMENT},
        {"set_rules, no player", tinsel_set_rules(nullptr, TINSEL_RULES_FT2), TINSEL_ERROR_ARGUMENT},
        {"set_rules, below", tinsel_set_rules(s, -1), TINSEL_ERROR_ARGUMENT},
        {"set_rules, above", tinsel_set_rules(s, 3), TINSEL_ERROR_ARGUMENT},
        {"set_interpolation, above", tinsel_set_interpolation(s, 4), TINSEL_ERROR_ARGUMENT},
        {"set_ramp, above", tinsel_set_ramp(s, 2), TINSEL_ERROR_ARGUMENT},
        {"set_amplification, 0", tinsel_set_amplification(s, 0), TINSEL_ERROR_ARGUMENT},
        {"set_amplification, 33", tinsel_set_amplification(s, 33), TINSEL_ERROR_ARGUMENT},
        {"set_amplification, no player", tinsel_set_amplification(nullptr, 4), TINSEL_ERROR_ARGUMENT},
        {"subsong_count, no player", tinsel_subsong_count(nullptr), TINSEL_ERROR_ARGUMENT},
        {"subsong_count, no song", tinsel_subsong_count(e), TINSEL_ERROR_NO_SONG},
        {"select_subsong, no song", tinsel_select_subsong(e, 0), TINSEL_ERROR_NO_SONG},
        {"select_subsong, below 0", tinsel_select_subsong(s, -1), TINSEL_ERROR_ARGUMENT},
        {"select_subsong, past the last", tinsel_select_subsong(s, 1), TINSEL_ERROR_ARGUMENT},
        {"get_subsong, no record", tinsel_get_subsong(s, 0, nullptr), TINSEL_ERROR_ARGUMENT},
        {"get_subsong, no song", tinsel_get_subsong(e, 0, &subsong), TINSEL_ERROR_NO_SONG},
        {"get_subsong, past the last", tinsel_get_subsong(s, 1, &subsong), TINSEL_ERROR_ARGUMENT},
        {"set_stereo_separation, below 0", tinsel_set_stereo_separation(s, -1), TINSEL_ERROR_ARGUMENT},
        {"set_stereo_separation, above 200", tinsel_set_stereo_separation(s, 201), TINSEL_ERROR_ARGUMENT},
        {"set_tempo_factor, below", tinsel_set_tempo_factor(s, 0.249), TINSEL_ERROR_ARGUMENT},
        {"set_tempo_factor, not a number", tinsel_set_tempo_factor(s, std::nan("")), TINSEL_ERROR_ARGUMENT},
        {"set_pitch_factor, above", tinsel_set_pitch_factor(s, 4.01), TINSEL_ERROR_ARGUMENT},
        {"set_pitch_factor, no player", tinsel_set_pitch_factor(nullptr, 1), TINSEL_ERROR_ARGUMENT},
        {"set_channel_muted, below 0", tinsel_set_channel_muted(s, -1, 1), TINSEL_ERROR_ARGUMENT},
        {"set_channel_muted, past the song's", tinsel_set_channel_muted(s, 126, 1), TINSEL_ERROR_ARGUMENT},
        {"set_channel_muted, past 127", tinsel_set_channel_muted(e, 127, 1), TINSEL_ERROR_ARGUMENT},
        {"get_channel_state, no record", tinsel_get_channel_state(s, 0, nullptr), TINSEL_ERROR_ARGUMENT},
        {"get_channel_state, no song", tinsel_get_channel_state(e, 0, &channel), TINSEL_ERROR_NO_SONG},
        {"get_channel_state, past the song's", tinsel_get_channel_state(s, 127, &channel),
         TINSEL_ERROR_ARGUMENT},
        {"get_order, no player", tinsel_get_order(nullptr, 0), TINSEL_ERROR_ARGUMENT},
        {"get_order, no song", tinsel_get_order(e, 0), TINSEL_ERROR_NO_SONG},
        {"get_order, past the list", tinsel_get_order(s, 14), TINSEL_ERROR_POSITION},
        {"get_pattern_rows, below 0", tinsel_get_pattern_rows(s, -1), TINSEL_ERROR_POSITION},
        {"get_pattern_rows, no song", tinsel_get_pattern_rows(e, 0), TINSEL_ERROR_NO_SONG},
        {"get_cell, no record", tinsel_get_cell(s, 0, 0, 0, nullptr), TINSEL_ERROR_ARGUMENT},
        {"get_cell, no song", tinsel_get_cell(e, 0, 0, 0, &cell), TINSEL_ERROR_NO_SONG},
        {"get_cell, pattern past the song's", tinsel_get_cell(s, 256, 0, 0, &cell), TINSEL_ERROR_POSITION},
        {"get_cell, row past the pattern", tinsel_get_cell(s, 0, 256, 0, &cell), TINSEL_ERROR_POSITION},
        {"get_cell, channel past the song's", tinsel_get_cell(s, 0, 0, 127, &cell), TINSEL_ERROR_POSITION},
        {"format_cell, no cell", tinsel_format_cell(nullptr, text, sizeof text), TINSEL_ERROR_ARGUMENT},
        {"format_cell, no text", tinsel_format_cell(&cell, nullptr, 8), TINSEL_ERROR_ARGUMENT},
        {"format_cell, no room", tinsel_format_cell(&cell, text, 0), TINSEL_ERROR_ARGUMENT},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.answer, c.expected) << c.call;
    // Without a song the buffer is still silence, for a careless audio callback.
    EXPECT_EQ(tinsel_render_s16(e, pcm, 4), TINSEL_ERROR_NO_SONG);
    EXPECT_TRUE(std::all_of(pcm, pcm + 8, [](int16_t v) { return v == 0; }));
    // A failed load leaves the player empty, and usable.
    EXPECT_EQ(tinsel_load(s, cut.data(), cut.size()), TINSEL_ERROR_DAMAGED);
    EXPECT_NE(std::string(tinsel_load_report(s)), "");
    EXPECT_EQ(tinsel_get_position(s, &at), TINSEL_ERROR_NO_SONG);
    EXPECT_EQ(tinsel_load(s, image.data(), image.size()), TINSEL_OK);
    EXPECT_EQ(tinsel_render_s16(s, pcm, 4), 4);

    std::set<std::string> texts;
    for (int code = TINSEL_OK; code >= TINSEL_ERROR_POSITION; --code)
        texts.insert(tinsel_error(code));
    EXPECT_EQ(texts.size(), 8u);
    EXPECT_EQ(texts.count("unknown error"), 0u);
    for (int code : {1, TINSEL_ERROR_POSITION - 1, INT_MIN})
        EXPECT_STREQ(tinsel_error(code), "unknown error");
}

// The renderer's WAV for these settings, without its header.
struct Sound {
    int interpolation = TINSEL_INTERP_LINEAR, ramp = TINSEL_RAMP_RULES,
        amplification = TINSEL_DEFAULT_AMPLIFICATION;
};

std::vector<uint8_t> RendererOutput(int rate, SampleFormat format, uint32_t muted, int loops, int rules,
                                    double seconds, const Sound& sound) {
    Module* module = LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize);
    RenderSettings settings;
    if (rules != TINSEL_RULES_SONG)
        settings.rules = rules == TINSEL_RULES_TINSEL ? RuleSet::Tinsel : RuleSet::Ft2;
    settings.rate = rate;
    settings.format = format;
    settings.mutedChannels = muted;
    settings.loops = loops;
    settings.seconds = seconds;
    settings.interpolation = static_cast<Interpolation>(sound.interpolation);
    settings.ramp = sound.ramp == TINSEL_RAMP_OFF ? Ramp::Off : Ramp::Rules;
    settings.amplification = sound.amplification;
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    EXPECT_TRUE(RenderWav(module, settings, out));
    std::fclose(out);
    FreeModule(module);
    const size_t header = format == SampleFormat::Float32 ? 58 : 44;
    std::vector<uint8_t> data(reinterpret_cast<uint8_t*>(text) + header,
                              reinterpret_cast<uint8_t*>(text) + size);
    std::free(text);
    return data;
}

TEST(CApi, OutputIsTheRenderersHoweverItIsAskedFor) {
    struct Case {
        int rate;
        SampleFormat format;
        uint32_t muted;
        int repeats;
        int rules;
        double seconds; // 0: the whole song, to where the library says it ends
        Sound sound = {};
    };
    using enum SampleFormat;
    const Case cases[] = {
        {8000, Pcm16, 0, 1, TINSEL_RULES_SONG, 0},
        {8000, Float32, 0x5, 2, TINSEL_RULES_SONG, 0},
        {48000, Pcm16, 0x300, 1, TINSEL_RULES_FT2, 6},
        {192000, Float32, 0, 1, TINSEL_RULES_TINSEL, 2},
        {44100, Pcm16, 0, 1, TINSEL_RULES_FT2, 3, {TINSEL_INTERP_LINEAR, TINSEL_RAMP_RULES, 9}},
        {44100, Pcm16, 0, 1, TINSEL_RULES_FT2, 3, {TINSEL_INTERP_SINC, TINSEL_RAMP_OFF, 2}},
        {22050, Float32, 0, 1, TINSEL_RULES_TINSEL, 3, {TINSEL_INTERP_CUBIC, TINSEL_RAMP_RULES}},
    };
    std::mt19937 random(7);
    for (const Case& c : cases) {
        const bool pcm = c.format == SampleFormat::Pcm16;
        SCOPED_TRACE(std::to_string(c.rate) + (pcm ? " s16" : " f32"));
        const std::vector<uint8_t> expected =
            RendererOutput(c.rate, c.format, c.muted, c.repeats, c.rules, c.seconds, c.sound);
        // Settings made before the load are kept by it.
        PlayerPtr p(tinsel_new(c.rate));
        ASSERT_EQ(tinsel_set_muted(p.get(), c.muted), TINSEL_OK);
        ASSERT_EQ(tinsel_set_repeat_count(p.get(), c.repeats), TINSEL_OK);
        ASSERT_EQ(tinsel_set_rules(p.get(), c.rules), TINSEL_OK);
        ASSERT_EQ(tinsel_set_interpolation(p.get(), c.sound.interpolation), TINSEL_OK);
        ASSERT_EQ(tinsel_set_ramp(p.get(), c.sound.ramp), TINSEL_OK);
        ASSERT_EQ(tinsel_set_amplification(p.get(), c.sound.amplification), TINSEL_OK);
        ASSERT_EQ(tinsel_load(p.get(), EmbeddedSong, EmbeddedSongSize), TINSEL_OK);
        const size_t frameBytes = pcm ? 4 : 8;
        const size_t wanted = c.seconds > 0 ? expected.size() / frameBytes : SIZE_MAX;
        std::vector<uint8_t> got;
        std::vector<uint8_t> chunk(5000 * frameBytes);
        size_t frames = 0;
        for (;;) {
            const int ask = int(std::min<size_t>(1 + random() % 5000, wanted - frames));
            const int song = pcm ? tinsel_render_s16(p.get(), reinterpret_cast<int16_t*>(chunk.data()), ask)
                                 : tinsel_render_f32(p.get(), reinterpret_cast<float*>(chunk.data()), ask);
            ASSERT_GE(song, 0);
            got.insert(got.end(), chunk.begin(), chunk.begin() + song * long(frameBytes));
            frames += size_t(song);
            if (song < ask || frames == wanted)
                break;
        }
        EXPECT_TRUE(got == expected) << got.size() << " bytes against " << expected.size();
    }
}

// The facts of the demo's song as --info shows them (tests/audio/tools_test.cpp):
// the length counted at the player's rate, the rules chosen by the tracker
// name or forced; its one subsong and its names through the 1.2 calls.
TEST(CApi, FactsAreTheRenderersInfo) {
    const struct {
        int rules, rate;
        const char *length, *loop;
    } cases[] = {
        {TINSEL_RULES_SONG, 44100, "1:14.734", "1:09.413"},
        {TINSEL_RULES_FT2, 8000, "1:14.718", "1:09.398"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        PlayerPtr p = Loaded(c.rate);
        ASSERT_EQ(tinsel_set_rules(p.get(), c.rules), TINSEL_OK);
        tinsel_facts f;
        ASSERT_EQ(tinsel_get_facts(p.get(), &f), TINSEL_OK);
        EXPECT_STREQ(f.title, "Tinselbay");
        EXPECT_STREQ(f.tracker, "songc");
        EXPECT_EQ(std::vector<int>({f.channels, f.orders, f.restart_order, f.patterns, f.instruments,
                                    f.samples, f.linear_frequencies, f.speed, f.bpm, f.loop_order, f.loop_row,
                                    f.length_exact}),
                  std::vector<int>({10, 14, 1, 13, 11, 11, 1, 3, 180, 1, 0, 1}));
        EXPECT_EQ(f.rules, c.rules == TINSEL_RULES_FT2 ? TINSEL_RULES_FT2 : TINSEL_RULES_TINSEL);
        EXPECT_EQ(FormatTime(f.length_frames, c.rate), c.length);
        EXPECT_EQ(FormatTime(f.loop_frames, c.rate), c.loop);
        tinsel_subsong sub;
        ASSERT_EQ(tinsel_subsong_count(p.get()), 1);
        ASSERT_EQ(tinsel_get_subsong(p.get(), 0, &sub), TINSEL_OK);
        EXPECT_EQ(std::tuple(sub.start_order, sub.length_frames, sub.loop_frames),
                  std::tuple(0, f.length_frames, f.loop_frames));
        EXPECT_STREQ(tinsel_instrument_name(p.get(), 2), "steel pan");
        EXPECT_STREQ(tinsel_sample_name(p.get(), 2, 0), "steel pan");
        EXPECT_EQ(tinsel_sample_name(p.get(), 2, 1), nullptr);
        EXPECT_EQ(tinsel_instrument_name(p.get(), 12), nullptr);
        EXPECT_STREQ(tinsel_load_report(p.get()), "");
    }
}

// Order, row, tick and frame.
using Where = std::tuple<int, int, int, int64_t>;
Where Of(tinsel_player* p) {
    tinsel_position at{};
    EXPECT_EQ(tinsel_get_position(p, &at), TINSEL_OK);
    EXPECT_EQ(at.seconds, double(at.frame) / 44100);
    return {at.order, at.row, at.tick, at.frame};
}

// The embedded song on a player instance of its own at 44100 Hz.
struct Instance {
    std::unique_ptr<Module, decltype(&FreeModule)> song{LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize),
                                                        FreeModule};
    std::unique_ptr<Player> player = std::make_unique<Player>();
    Instance() {
        InitPlayer(*player, 44100);
        StartSong(*player, song.get());
    }
};

// The instance's position after frames frames: where ticks fall does not
// depend on how the frames are asked for.
Where InstanceAfter(int64_t frames) {
    Instance instance;
    std::vector<float> mix(2 * size_t(frames));
    RenderFrames(*instance.player, mix.data(), int32_t(frames));
    const PlayPosition at = CurrentPosition(*instance.player);
    return {at.order, at.row, at.tick, at.frame};
}

TEST(CApi, PositionIsTheTickOfTheLastFrameHandedOut) {
    PlayerPtr p = Loaded(44100);
    EXPECT_EQ(Of(p.get()), (Where{0, 0, 0, 0}));
    std::vector<int16_t> pcm(2 * 1000);
    int64_t done = 0;
    // A tick of the song is 612 frames, a row three ticks, a block 884 frames.
    for (int64_t frames : {1, 611, 612, 613, 884, 1836, 1837, 123457}) {
        while (done < frames) {
            const int n = int(std::min<int64_t>(1000, frames - done));
            ASSERT_EQ(tinsel_render_s16(p.get(), pcm.data(), n), n);
            done += n;
        }
        EXPECT_EQ(Of(p.get()), InstanceAfter(frames)) << frames;
    }
}

// Frames from here until the row changes, one frame at a time.
int64_t FramesLeftInRow(tinsel_player* p) {
    const auto row = [p] { return std::pair(std::get<0>(Of(p)), std::get<1>(Of(p))); };
    const auto start = row();
    int16_t pcm[2];
    int64_t frames = 0;
    while (tinsel_render_s16(p, pcm, 1) == 1 && row() == start)
        ++frames;
    return frames;
}

TEST(CApi, SeeksLandOnRowStarts) {
    PlayerPtr p = Loaded(44100);
    const Instance instance;
    // Where playback first reaches the row.
    ASSERT_TRUE(SeekTo(*instance.player, 3, 17));
    ASSERT_EQ(tinsel_seek_row(p.get(), 3, 17), TINSEL_OK);
    EXPECT_EQ(Of(p.get()), (Where{3, 17, 0, instance.player->framesPlayed}));
    EXPECT_EQ(FramesLeftInRow(p.get()), 1836);

    tinsel_facts facts;
    ASSERT_EQ(tinsel_get_facts(p.get(), &facts), TINSEL_OK);
    // Times in the first pass, and with no end, in the second.
    for (int repeats : {1, 0}) {
        ASSERT_EQ(tinsel_set_repeat_count(p.get(), repeats), TINSEL_OK);
        for (double seconds : {0.0, 0.01, 10.0, 40.5, 74.7, 100.0}) {
            SCOPED_TRACE(seconds);
            const int64_t target = int64_t(seconds * 44100);
            if (repeats == 1 && target >= facts.length_frames) {
                EXPECT_EQ(tinsel_seek_time(p.get(), seconds), TINSEL_ERROR_POSITION);
                continue;
            }
            ASSERT_EQ(tinsel_seek_time(p.get(), seconds), TINSEL_OK);
            const auto [order, row, tick, frame] = Of(p.get());
            EXPECT_EQ(tick, 0);
            EXPECT_LE(frame, target);
            if (target < facts.length_frames) {
                ASSERT_TRUE(SeekTo(*instance.player, order, row));
                EXPECT_EQ(instance.player->framesPlayed, frame);
            }
            EXPECT_GT(frame + FramesLeftInRow(p.get()), target);
        }
    }
}

TEST(CApi, TheRepeatCountMovesTheEnd) {
    PlayerPtr p = Loaded(8000);
    tinsel_facts facts;
    ASSERT_EQ(tinsel_get_facts(p.get(), &facts), TINSEL_OK);
    std::vector<int16_t> pcm(2 * 4096);
    const auto renderAll = [&] {
        int64_t song = 0;
        int n;
        while ((n = tinsel_render_s16(p.get(), pcm.data(), 4096)) == 4096)
            song += n;
        return song + n;
    };
    EXPECT_EQ(renderAll(), facts.length_frames);
    EXPECT_EQ(tinsel_render_s16(p.get(), pcm.data(), 16), 0);
    // Raised after the end, the song plays on through its loop.
    ASSERT_EQ(tinsel_set_repeat_count(p.get(), 2), TINSEL_OK);
    EXPECT_EQ(renderAll(), facts.loop_frames);
    // Lowered below where it is, it has ended.
    ASSERT_EQ(tinsel_set_repeat_count(p.get(), 0), TINSEL_OK);
    EXPECT_EQ(tinsel_render_s16(p.get(), pcm.data(), 4096), 4096);
    ASSERT_EQ(tinsel_set_repeat_count(p.get(), 1), TINSEL_OK);
    EXPECT_EQ(tinsel_render_s16(p.get(), pcm.data(), 4096), 0);
    EXPECT_TRUE(std::all_of(pcm.begin(), pcm.end(), [](int16_t v) { return v == 0; }));
    // A slower tempo moves the end too: the song goes on at once, with no
    // silence left over from the old end, and stops where the count says.
    ASSERT_EQ(tinsel_set_tempo_factor(p.get(), 0.5), TINSEL_OK);
    const int64_t more = renderAll();
    EXPECT_GT(more, 0);
    EXPECT_TRUE(std::all_of(pcm.begin() + 2 * (more % 4096), pcm.end(), [](int16_t v) { return v == 0; }));
}

} // namespace

namespace {

// Settings set to their defaults, or away and back, leave the renderer's
// bytes; the order list and cells read back as the loader read them.
TEST(CApi, NewSettingsAtTheirDefaultsAndTheSongsContents) {
    PlayerPtr plain = Loaded(48000), set = Loaded(48000);
    for (int rules : {TINSEL_RULES_TINSEL, TINSEL_RULES_FT2}) {
        ASSERT_EQ(tinsel_set_rules(plain.get(), rules), TINSEL_OK);
        ASSERT_EQ(tinsel_set_rules(set.get(), rules), TINSEL_OK);
        ASSERT_EQ(tinsel_set_stereo_separation(set.get(), 30), TINSEL_OK);
        ASSERT_EQ(tinsel_set_tempo_factor(set.get(), 0.5), TINSEL_OK);
        ASSERT_EQ(tinsel_set_pitch_factor(set.get(), 3), TINSEL_OK);
        ASSERT_EQ(tinsel_set_channel_muted(set.get(), 3, 1), TINSEL_OK);
        ASSERT_EQ(tinsel_set_stereo_separation(set.get(), 100), TINSEL_OK);
        ASSERT_EQ(tinsel_set_tempo_factor(set.get(), 1), TINSEL_OK);
        ASSERT_EQ(tinsel_set_pitch_factor(set.get(), 1), TINSEL_OK);
        ASSERT_EQ(tinsel_set_channel_muted(set.get(), 3, 0), TINSEL_OK);
        ASSERT_EQ(tinsel_select_subsong(set.get(), 0), TINSEL_OK);
        ASSERT_EQ(tinsel_seek_row(plain.get(), 0, 0), TINSEL_OK);
        std::vector<int16_t> a(2 * 48000), b(2 * 48000);
        ASSERT_EQ(tinsel_render_s16(plain.get(), a.data(), 48000), 48000);
        ASSERT_EQ(tinsel_render_s16(set.get(), b.data(), 48000), 48000);
        EXPECT_EQ(a, b) << rules;
    }
    Module* m = LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize);
    ASSERT_NE(m, nullptr);
    tinsel_player* p = plain.get();
    for (int order = 0; order < m->songLength; ++order)
        EXPECT_EQ(tinsel_get_order(p, order), m->orderTable[order]);
    const int pattern = m->orderTable[0];
    ASSERT_EQ(tinsel_get_pattern_rows(p, pattern), m->patterns[pattern].rows);
    for (int row = 0; row < m->patterns[pattern].rows; ++row) {
        for (int channel = 0; channel < m->channelCount; ++channel) {
            const uint8_t* stored =
                m->patterns[pattern].cells + (row * m->channelCount + channel) * kCellSize;
            tinsel_cell cell;
            ASSERT_EQ(tinsel_get_cell(p, pattern, row, channel, &cell), TINSEL_OK);
            char text[TINSEL_CELL_TEXT_SIZE], expected[TINSEL_CELL_TEXT_SIZE];
            EXPECT_EQ(tinsel_format_cell(&cell, text, sizeof text), 14);
            FormatCell(stored, expected, sizeof expected);
            EXPECT_STREQ(text, expected) << row << " " << channel;
        }
    }
    FreeModule(m);
}

} // namespace
