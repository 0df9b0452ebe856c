// The replay engine under both rule sets: small constructed songs played tick
// by tick, checked through the channel state and the voices.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "player/engine/engine.h"
#include "player/mix/mixer.h"
#include "player/format/module.h"
#include "player/player.h"
#include "player/engine/replay.h"
#include "player/engine/rules.h"
#include "tests/player/xm_image.h"

namespace {

constexpr uint8_t C0 = 1, C4 = 49, D4 = 51, E4 = 53, OFF = 97;
constexpr RuleSet kTinsel = RuleSet::Tinsel, kFt2 = RuleSet::Ft2;

// A short looping 8-bit sample at C-4 with no relative note or finetune.
XmSampleDesc PlainSample(uint8_t volume = 64, uint8_t relativeNote = 0) {
    XmSampleDesc s{16, 0, 16, 0x01, std::vector<uint8_t>(16, 4)};
    s.volume = volume;
    s.finetune = 0;
    s.relativeNote = relativeNote;
    return s;
}

struct SongSpec {
    uint16_t tempo = 6;
    bool linear = true;
    int channels = 1;
    int rows = 8;                              // rows per pattern
    std::vector<std::vector<XmCell>> patterns; // rows x channels cells each
    std::vector<uint8_t> orders = {0};
    uint16_t restart = 0;
    std::vector<XmSampleDesc> samples = {PlainSample()}; // one instrument each
    XmInstrumentDesc instrument;
};

XmImage Build(const SongSpec& s) {
    XmImage image(static_cast<uint16_t>(s.orders.size()), s.restart, static_cast<uint16_t>(s.channels),
                  static_cast<uint16_t>(s.patterns.size()), static_cast<uint16_t>(s.samples.size()), 125,
                  s.orders);
    image.SetTempo(s.tempo);
    image.SetFlags(s.linear ? 1 : 0);
    for (std::vector<XmCell> cells : s.patterns) {
        cells.resize(static_cast<size_t>(s.rows * s.channels));
        image.PatternCells(static_cast<uint16_t>(s.rows), cells);
    }
    for (const XmSampleDesc& sample : s.samples) {
        image.InstrumentWith(s.instrument, {sample});
    }
    return image;
}

// A one-channel song whose first pattern holds these rows.
SongSpec Rows(std::vector<XmCell> rows, uint16_t tempo = 6) {
    SongSpec s;
    s.tempo = tempo;
    s.rows = std::max<int>(8, static_cast<int>(rows.size()));
    s.patterns = {std::move(rows)};
    return s;
}

SongSpec Amiga(SongSpec s) {
    s.linear = false;
    return s;
}

SongSpec TwoInstruments(std::vector<XmCell> rows) {
    SongSpec s = Rows(std::move(rows));
    s.samples = {PlainSample(64), PlainSample(20)};
    return s;
}

SongSpec WithEnvelope(SongSpec s, std::vector<std::pair<uint16_t, uint16_t>> points, uint8_t type,
                      uint8_t sustain = 0, uint16_t fadeout = 0) {
    s.instrument.volumePoints = std::move(points);
    s.instrument.volumeType = type;
    s.instrument.volumeSustain = sustain;
    s.instrument.fadeout = fadeout;
    return s;
}

// What a trace reads after each tick: channel c, its voice v, the song m.
struct Seen {
    const Channel& c;
    const MixVoice& v; // tinsel rules
    const Ft2Voice& f; // FT2 rules: the voice that plays the channel's note
    const Module& m;
};
using Probe = int (*)(const Seen&);
// Tinsel state: the slid period, this tick's pitch delta, the heard Amiga period.
const Probe kBase = [](const Seen& s) { return s.c.basePeriod; };
const Probe kDelta = [](const Seen& s) { return s.c.periodDelta; };
const Probe kAmigaHeard = [](const Seen& s) { return s.c.basePeriod - s.c.periodDelta; };
const Probe kBaseVolume = [](const Seen& s) { return s.c.baseVolume; };
const Probe kVibratoPos = [](const Seen& s) { return int(int8_t(s.c.vibratoPos)); };
const Probe kEnvVolume = [](const Seen& s) { return s.c.envVolume; };
const Probe kFadeout = [](const Seen& s) { return s.c.fadeoutLevel; };
// FT2 state: the final period, the heard volume before and after envelope and global volume.
const Probe kPeriod = [](const Seen& s) { return s.c.finalPeriod; };
const Probe kVolume = [](const Seen& s) { return s.c.outVolume; };
const Probe kPanning = [](const Seen& s) { return s.c.finalPanning; };
const Probe kHeard = [](const Seen& s) { return s.c.finalVolume; };
const Probe kGlobal = [](const Seen& s) { return s.m.globalVolume; };
// Either: the voice, whether the tick started it and where it plays (-1: silent), the tick's length.
const Probe kHz = [](const Seen& s) { return s.v.frequency; };
const Probe kVoiceVolume = [](const Seen& s) { return s.v.volume; };
const Probe kStarted = [](const Seen& s) { return (s.c.updateFlags & kUpdateNoteStart) ? 1 : 0; };
const Probe kPlaying = [](const Seen& s) { return s.v.sample == nullptr ? -1 : s.v.posInt; };
const Probe kFt2Step = [](const Seen& s) { return int(s.f.step); };
const Probe kFt2Playing = [](const Seen& s) { return s.f.on ? int(s.f.position >> 16) : -1; };
const Probe kTickFrames = [](const Seen& s) { return s.m.samplesPerTick; };
const Probe kInstrument = [](const Seen& s) { return int(s.c.instrument - s.m.instruments); };

class Engine : public ::testing::Test {
protected:
    std::unique_ptr<Player> player = std::make_unique<Player>();
    Module* m = nullptr;

    void SetUp() override { InitPlayer(*player, 44100); }
    void TearDown() override { FreeModule(m); }

    void Start(const XmImage& image, RuleSet rules) {
        FreeModule(m);
        m = LoadModuleFromMemory(image.bytes.data(), image.bytes.size());
        ASSERT_NE(m, nullptr);
        StartSong(*player, m, rules);
    }
    void Start(const SongSpec& spec, RuleSet rules) { Start(Build(spec), rules); }
    Channel& Ch(int i) { return player->channels[i]; }
    MixVoice& Voice(int i) { return player->VoicePool[i]; }
    void Tick() { PlayTick(*player); }
    // The probe after each of `ticks` ticks from the first start of `row` of order 0.
    std::vector<int> Trace(int row, size_t ticks, const Probe& probe, int channel = 0) {
        std::vector<int> seen;
        for (int guard = 0; guard < 5000 && seen.size() < ticks; ++guard) {
            NextRow next{};
            const bool begins = NextRowStart(*player, &next) && next.order == 0 && next.row == row;
            Tick();
            if (begins || !seen.empty()) {
                const Ft2Voice& f = player->ft2.voices[2 * channel + player->ft2.current[channel]];
                seen.push_back(probe({Ch(channel), Voice(channel), f, *m}));
            }
        }
        return seen;
    }
    // The rows the song starts over `ticks` ticks, as (order, row).
    std::vector<std::pair<int, int>> RowStarts(int ticks) {
        std::vector<std::pair<int, int>> rows;
        for (int t = 0; t < ticks; ++t) {
            NextRow next{};
            if (NextRowStart(*player, &next)) {
                rows.emplace_back(next.order, next.row);
            }
            Tick();
        }
        return rows;
    }
};

struct Recipe {
    const char* name;
    RuleSet rules;
    SongSpec song;
    int row; // traced from its first tick, for as many ticks as expected
    Probe probe;
    std::vector<int> expect;
    int channel = 0;
};

class EngineRecipes : public Engine {
public:
    void Play(const std::vector<Recipe>& recipes) {
        for (const Recipe& r : recipes) {
            SCOPED_TRACE(std::string(RuleSetName(r.rules)) + ": " + r.name);
            Start(r.song, r.rules);
            EXPECT_EQ(Trace(r.row, r.expect.size(), r.probe, r.channel), r.expect);
        }
    }
};

TEST_F(EngineRecipes, Pitch) {
    const SongSpec arpeggio = Rows({{C4, 1, 0, 0, 0x37}});
    const SongSpec vibrato = Rows({{C4, 1, 0, 4, 0x88}, {0, 0, 0, 4, 0x00}}, 3);
    const SongSpec slides = Rows({{C4, 1, 0, 0x02, 0x04}, {0, 0, 0, 0x02, 0x00}}, 3);
    const SongSpec porta = Rows({{C4, 1}, {E4, 0, 0, 3, 0x10}, {0, 0, 0, 2, 0x20}, {0, 0, 0, 3, 0}});
    const auto tinselAutoVibrato = [](uint8_t type, uint8_t rate, uint8_t sweep) {
        SongSpec s = Rows({{C4, 1}});
        s.instrument.vibratoType = type;
        s.instrument.vibratoDepth = 64;
        s.instrument.vibratoRate = rate;
        s.instrument.vibratoSweep = sweep;
        return s;
    };
    const SongSpec wrap = Rows({{C0 + 12, 1, 0, 2, 0xFF}, {0, 0, 0, 1, 0xFF}});
    SongSpec autoVibrato = Rows({{C4, 1}});
    autoVibrato.instrument.vibratoDepth = 8;
    autoVibrato.instrument.vibratoRate = 16;
    Play({
        // clang-format off
        {"arpeggio 037: base, +3, +7", kTinsel, arpeggio, 0, kDelta, {0, 192, 448, 0, 192}},
        {"arpeggio 037 frequencies", kTinsel, arpeggio, 0, kHz, {8363, 9945, 12530, 8363, 9945}},
        {"vibrato holds its position on a row start", kTinsel, vibrato, 0, kVibratoPos, {0, 8, 16, 16, 24, -32}},
        {"vibrato depth", kTinsel, vibrato, 0, kDelta, {0, 0, -44, -60, -60, -44}},
        {"porta down and its memory", kTinsel, slides, 0, kBase, {4608, 4624, 4640, 4640, 4656, 4672}},
        {"amiga arpeggio from the table", kTinsel, Amiga(arpeggio), 0, kAmigaHeard,
         {1712, 1440, 1140, 1712, 1440, 1140}},
        {"amiga 2xx stops at 31999", kTinsel, Amiga(Rows({{C0, 1, 0, 2, 0xFF}})), 0, kAmigaHeard,
         {27392, 28412, 29432, 30452, 31472, 31999}},
        {"3xx glides down to its target", kTinsel, Rows({{C4, 1}, {C4 + 2, 0, 0, 3, 0x0F}}, 5), 1, kBase,
         {4608, 4548, 4488, 4480, 4480}},
        {"and up", kTinsel, Rows({{C4 + 2, 1}, {C4, 0, 0, 3, 0x0F}}, 5), 1, kBase, {4480, 4540, 4600, 4608, 4608}},
        // Auto-vibrato a quarter turn a tick: square, sine to its crest, ramps falling and rising.
        {"auto-vibrato square wraps at 256", kTinsel, tinselAutoVibrato(1, 64, 0), 0, kDelta, {64, 64, -64, -64, 64}},
        {"auto-vibrato sine", kTinsel, tinselAutoVibrato(0, 64, 0), 0, kDelta, {0, 63}},
        {"auto-vibrato ramp down", kTinsel, tinselAutoVibrato(2, 64, 0), 0, kDelta, {0, -32, 64, 32}},
        {"auto-vibrato ramp up", kTinsel, tinselAutoVibrato(3, 64, 0), 0, kDelta, {0, 32, 64, -32}},
        {"auto-vibrato sweep 4 grows from nothing", kTinsel, tinselAutoVibrato(1, 0, 4), 0, kDelta,
         {0, 16, 32, 48, 64, 64}},
        {"linear 2xx goes on", kTinsel, Rows({{C0, 1, 0, 2, 0xFF}}, 3), 0, kBase, {7680, 8700, 9720}},
        {"C-4 at linear 8363 Hz", kTinsel, Rows({{C4, 1}}), 0, kHz, {8363}},
        {"C-4 at amiga 8363 Hz", kTinsel, Amiga(Rows({{C4, 1}})), 0, kHz, {8363}},
        // Truncated: 14317456 / 1016 is 14091.98.
        {"A-4 at amiga 14091 Hz", kTinsel, Amiga(Rows({{C4 + 9, 1}})), 0, kHz, {14091}},
        // 44100 x 2.5 / BPM frames a tick, rounded down; at 42 single precision falls a frame short.
        {"F20: 32 BPM, ticks of 3445 frames", kTinsel, Rows({{0, 0, 0, 0xF, 0x20}}), 0, kTickFrames, {3445}},
        {"F2A: 42 BPM, 2625 frames", kTinsel, Rows({{0, 0, 0, 0xF, 0x2A}}), 0, kTickFrames, {2625}},
        {"F7D: 125 BPM, 882 frames", kTinsel, Rows({{0, 0, 0, 0xF, 0x7D}}), 0, kTickFrames, {882}},
        {"FB7: 183 BPM, 602 frames", kTinsel, Rows({{0, 0, 0, 0xF, 0xB7}}), 0, kTickFrames, {602}},
        {"FFF: 255 BPM, 432 frames", kTinsel, Rows({{0, 0, 0, 0xF, 0xFF}}), 0, kTickFrames, {432}},

        {"arpeggio 037", kFt2, arpeggio, 0, kPeriod, {4608, 4160, 4416, 4608, 4160, 4416}},
        {"arpeggio at speed 17", kFt2, Rows({{C4, 1, 0, 0, 0x37}}, 17), 0, kPeriod,
         {4608, 4608, 4608, 4160, 4416, 4608, 4160, 4416, 4608, 4160, 4416, 4608, 4160, 4416, 4608, 4160, 4416}},
        {"amiga arpeggio", kFt2, Amiga(arpeggio), 0, kPeriod, {1712, 1140, 1440, 1712, 1140, 1440}},
        {"amiga 101", kFt2, Amiga(Rows({{C4, 1, 0, 1, 0x01}})), 0, kPeriod, {1712, 1708, 1704, 1700, 1696, 1692}},
        {"volume-column porta holds the note", kFt2, Rows({{C4, 1}, {E4, 0, 0xF1}}), 1, kPeriod,
         {4608, 4544, 4480, 4416, 4352, 4352}},
        {"volume-column porta doubles 3xx", kFt2, Rows({{C4, 1}, {E4, 0, 0xF1, 3, 0xFF}}), 1, kPeriod,
         {4608, 4480, 4352, 4352, 4352, 4352}},
        {"3xx reaches its target", kFt2, porta, 1, kPeriod, {4608, 4544, 4480, 4416, 4352, 4352}},
        {"2xx after porta", kFt2, porta, 2, kPeriod, {4352, 4480, 4608, 4736, 4864, 4992}},
        {"300 past the target jumps to it", kFt2, porta, 3, kPeriod, {4992, 4352, 4352, 4352, 4352, 4352}},
        {"vibrato 448", kFt2, Rows({{C4, 1, 0, 4, 0x48}}), 0, kPeriod, {4608, 4608, 4632, 4653, 4666, 4671}},
        {"vibrato ramp", kFt2, Rows({{C4, 1, 0, 0xE, 0x41}, {0, 0, 0, 4, 0x48}}), 1, kPeriod,
         {4608, 4608, 4616, 4624, 4632, 4640}},
        {"auto-vibrato", kFt2, autoVibrato, 0, kPeriod, {4605, 4602, 4600, 4600, 4600, 4602}},
        {"E5F finetune", kFt2, Rows({{C4, 1, 0, 0xE, 0x5F}}), 0, kPeriod, {4552, 4552, 4552, 4552, 4552, 4552}},
        {"E5x lasts one note", kFt2, Rows({{C4, 1, 0, 0xE, 0x5F}, {C4, 0}}), 1, kPeriod,
         {4608, 4608, 4608, 4608, 4608, 4608}},
        {"glissando rounds the porta", kFt2, Rows({{C4, 1, 0, 0xE, 0x31}, {E4, 0, 0, 3, 0x05}}), 1, kPeriod,
         {4608, 4608, 4544, 4544, 4544, 4480}},
        {"X12", kFt2, Rows({{C4, 1, 0, 0x21, 0x12}}), 0, kPeriod, {4606, 4606, 4606, 4606, 4606, 4606}},
        // The original's 16.16 steps at 44100 Hz.
        {"C-4 steps 12428", kFt2, Rows({{C4, 1}}), 0, kFt2Step, {12428}},
        {"C-6 steps 49712", kFt2, Rows({{C4 + 24, 1}}), 0, kFt2Step, {49712}},
        {"amiga C-4 steps 12428", kFt2, Amiga(Rows({{C4, 1}})), 0, kFt2Step, {12428}},
        {"amiga C-6 steps 49712", kFt2, Amiga(Rows({{C4 + 24, 1}})), 0, kFt2Step, {49712}},
        // Past 9216 the linear table wraps in 16 bits: the voice stands still
        // (periods 9972, 10992, 12012), and sounds again as 1FF brings it back.
        {"2FF past 9216 stalls", kFt2, wrap, 0, kFt2Step, {1553, 618, 246, 0, 0, 0}},
        {"1FF brings it back", kFt2, wrap, 1, kFt2Step, {0, 0, 0, 246, 618, 1553}},
        {"1xx floor", kFt2, Rows({{C4, 1, 0, 1, 0xFF}, {0, 0, 0, 1, 0}, {0, 0, 0, 1, 0}, {0, 0, 0, 1, 0}}), 3,
         kPeriod, {1, 1, 1, 1, 1, 1}},
        // clang-format on
    });
}

TEST_F(EngineRecipes, Volume) {
    const SongSpec slides = Rows({{C4, 1, 0, 0x02, 0x04},
                                  {0, 0, 0, 0x02, 0x00},
                                  {0, 0, 0, 0x0A, 0x02},
                                  {0, 0, 0, 0x06, 0x00},
                                  {0, 0, 0, 0x0C, 0x20},
                                  {0, 0, 0, 0x0E, 0xA3},
                                  {0, 0, 0, 0x0E, 0xA0},
                                  {0, 0, 0, 0x0A, 0x30}},
                                 3);
    const SongSpec released =
        WithEnvelope(Rows({{C4, 1}, {OFF}}, 3), {{0, 64}, {2, 64}, {6, 32}}, 3, 1, 0x1000);
    const SongSpec keyOff = Rows({{C4, 1}, {OFF}, {0, 0, 0, 0xC, 0x20}});
    const SongSpec retrig = Rows({{C4, 1, 0, 0x1B, 0x23}, {0, 0, 0, 0x1B, 0}});
    const SongSpec sustained = WithEnvelope(Rows({{C4, 1}, {OFF}}), {{0, 64}, {2, 32}}, 3, 0, 2048);
    const SongSpec enveloped = WithEnvelope(Rows({{C4, 1}}), {{0, 64}, {10, 32}, {20, 0}}, 1, 0, 2048);
    const SongSpec delayed = TwoInstruments({{C4, 1}, {D4, 2, 0x2A, 0xE, 0xD3}});
    // EE1 plays row 0 twice: its slide goes on for eleven ticks, then row 1 sets 0.
    SongSpec patternDelay;
    patternDelay.channels = 2;
    patternDelay.patterns = {{{C4, 1, 0, 0xA, 0x01}, {0, 0, 0, 0xE, 0xE1}, {0, 0, 0, 0xC, 0x00}}};
    SongSpec globalVolume;
    globalVolume.channels = 3;
    globalVolume.patterns = {{{C4, 1}, {0, 0, 0, 0x10, 0x20}, {C4, 1}}};
    SongSpec envelopeAt5 = enveloped;
    envelopeAt5.patterns[0][0] = {C4, 1, 0, 0x15, 0x05};
    SongSpec damagedAt5 = WithEnvelope(envelopeAt5, {{65534, 0}, {65535, 65535}}, 1);
    Play({
        // clang-format off
        {"volume slides, Cxx, EAx", kTinsel, slides, 2, kBaseVolume,
         {64, 62, 60, 60, 58, 56, 32, 32, 32, 35, 35, 35, 38, 38, 38, 38, 41, 44}},
        {"key-off without envelope silences at once", kTinsel, Rows({{C4, 1}, {OFF}}, 2), 0, kVoiceVolume,
         {127, 127, 0, 0}},
        {"K00 likewise", kTinsel, Rows({{C4, 1}, {0, 0, 0, 0x14, 0}}, 2), 0, kVoiceVolume, {127, 127, 0, 0}},
        {"key-off fades", kTinsel, released, 1, kFadeout,
         {57344, 49152, 40960, 32768, 24576, 16384, 8192, 0, 0}},
        {"key-off leaves the sustain point", kTinsel, released, 1, kEnvVolume, {64, 56, 48, 40, 32, 32, 32, 32, 32}},

        {"volume column slides skip tick 0", kFt2, Rows({{C4, 1, 0x50}, {0, 0, 0x62}}), 1, kVolume,
         {64, 62, 60, 58, 56, 54}},
        {"key-off without envelope", kFt2, keyOff, 1, kVolume, {0, 0, 0, 0, 0, 0}},
        {"a volume command revives it", kFt2, keyOff, 2, kVolume, {32, 32, 32, 32, 32, 32}},
        {"note after key-off stays silent", kFt2, Rows({{C4, 1}, {OFF}, {D4}}), 2, kVolume, {0, 0, 0, 0, 0, 0}},
        {"lone instrument restores the playing sample", kFt2, TwoInstruments({{C4, 1, 0, 0xC, 0x0A}, {0, 2}}), 1,
         kVolume, {64, 64, 64, 64, 64, 64}},
        {"retrig R23", kFt2, retrig, 0, kVolume, {64, 64, 62, 62, 62, 60}},
        {"retrig R23, second row", kFt2, retrig, 1, kVolume, {60, 60, 58, 58, 58, 56}},
        {"retrig with a volume byte", kFt2, Rows({{C4, 1, 0x50, 0x1B, 0x23}, {0, 0, 0, 0x1B, 0}}), 1, kVolume,
         {62, 62, 62, 60, 60, 60}},
        {"tremor T12", kFt2, Rows({{C4, 1, 0, 0x1D, 0x12}}), 0, kVolume, {64, 64, 64, 0, 0, 0}},
        {"tremor T00 continues", kFt2, Rows({{C4, 1, 0, 0x1D, 0x12}, {0, 0, 0, 0x1D, 0}}), 1, kVolume,
         {0, 64, 64, 0, 0, 0}},
        {"tremolo ramp", kFt2, Rows({{C4, 1, 0x30, 0xE, 0x71}, {0, 0, 0, 7, 0x48}}), 1, kVolume,
         {32, 32, 36, 40, 44, 48}},
        {"note cut EC3", kFt2, Rows({{C4, 1, 0, 0xE, 0xC3}}), 0, kVolume, {64, 64, 64, 0, 0, 0}},
        {"K03 keys off on tick 3", kFt2, Rows({{C4, 1, 0, 0x14, 0x03}}), 0, kVolume, {64, 64, 64, 0, 0, 0}},
        {"ED3 starts the delayed note", kFt2, delayed, 1, kPeriod, {4608, 4608, 4608, 4480, 4480, 4480}},
        {"with its volume", kFt2, delayed, 1, kVolume, {64, 64, 64, 26, 26, 26}},
        {"and its instrument", kFt2, delayed, 1, kInstrument, {0, 0, 0, 1, 1, 1}},
        {"G20 reaches channels left of it a tick later", kFt2, globalVolume, 0, kHeard, {256, 128}},
        {"and those right of it at once", kFt2, globalVolume, 0, kHeard, {128, 128}, 2},
        {"H01", kFt2, Rows({{C4, 1, 0, 0x11, 0x01}}), 0, kGlobal, {64, 63, 62, 61, 60, 59}},
        {"volume envelope", kFt2, enveloped, 0, kHeard, {256, 240, 228, 216, 204, 192}},
        {"L05 moves the envelope", kFt2, envelopeAt5, 0, kHeard, {192, 176, 164, 152, 140, 128}},
        {"L05 into damaged points stays in range", kFt2, damagedAt5, 0, kHeard, {256, 256, 256, 256, 256, 256}},
        {"sustain holds", kFt2, sustained, 0, kHeard, {256, 256, 256, 256, 256, 256}},
        {"key-off releases and fades", kFt2, sustained, 1, kHeard, {240, 168, 104, 96, 88, 80}},
        {"volume byte 0x55 sets 64", kFt2, TwoInstruments({{C4, 2, 0x55}}), 0, kVolume, {64, 64, 64, 64, 64, 64}},
        {"pattern delay repeats only the later tick actions", kFt2, patternDelay, 0, kVolume,
         {64, 63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 0}},
        {"fine volume memories are separate", kFt2,
         Rows({{C4, 1, 0x30, 0xE, 0xA2}, {0, 0, 0, 0xE, 0xB1}, {0, 0, 0, 0xE, 0xA0}}), 2, kVolume,
         {35, 35, 35, 35, 35, 35}},
        // clang-format on
    });
}

TEST_F(EngineRecipes, PanningAndVoiceStarts) {
    SongSpec offset =
        Rows({{C4, 1, 0, 9, 0x02}, {C4, 1, 0, 9, 0x01}, {C4, 1, 0, 9, 0xFF}, {C4, 1, 0, 9, 0x00}});
    offset.samples = {{1000, 0, 500, 0x01, std::vector<uint8_t>(1000, 1)}};
    offset.samples[0].finetune = offset.samples[0].relativeNote = 0;
    Play({
        // clang-format off
        {"E93 twice, then E90", kTinsel,
         Rows({{C4, 1, 0, 0xE, 0x93}, {0, 0, 0, 0xE, 0x93}, {0, 0, 0, 0xE, 0x90}}), 0, kStarted,
         {1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}},

        {"volume-column D0", kFt2, Rows({{C4, 1, 0xD0}}), 0, kPanning, {128, 0, 0, 0, 0, 0}},
        {"P02", kFt2, Rows({{C4, 1, 0, 0x19, 0x02}}), 0, kPanning, {128, 126, 124, 122, 120, 118}},
        {"8xx and volume-column CF", kFt2, Rows({{C4, 1, 0xCF}, {0, 0, 0, 8, 0x10}}), 1, kPanning,
         {16, 16, 16, 16, 16, 16}},
        {"E93", kFt2, Rows({{C4, 1, 0, 0xE, 0x93}}), 0, kStarted, {1, 0, 0, 1, 0, 0}},
        {"E92", kFt2, Rows({{C4, 1, 0, 0xE, 0x92}}), 0, kStarted, {1, 0, 1, 0, 1, 0}},
        // No instrument is remembered at the start: a first note without one stays silent.
        {"note without an instrument", kFt2, Rows({{C4}}), 0, kPlaying, {-1, -1, -1, -1, -1, -1}},
        {"ED0 is a normal row", kFt2, Rows({{C4, 1, 0, 0xE, 0xD0}}), 0, kStarted, {1, 0, 0, 0, 0, 0}},
        {"ED7 never plays", kFt2, Rows({{C4, 1, 0, 0xE, 0xD7}}), 0, kStarted, {0, 0, 0, 0, 0, 0}},
        // 902 starts past the loop end: silence; 901 at 256; 9FF silent, and 900 takes up FF.
        {"902 past the loop end", kFt2, offset, 0, kFt2Playing, {-1}},
        {"901", kFt2, offset, 1, kFt2Playing, {256}},
        {"9FF", kFt2, offset, 2, kFt2Playing, {-1}},
        {"900 reuses FF", kFt2, offset, 3, kFt2Playing, {-1}},
        {"E90 retriggers without a note", kFt2, Rows({{C4, 1}, {0, 0, 0, 0xE, 0x90}}), 1, kStarted,
         {1, 0, 0, 0, 0, 0}},
        // clang-format on
    });
}

// Tinsel envelopes: 16.16 steps between the points, holding at a sustain point
// until key-off, jumping back at a loop.
TEST_F(EngineRecipes, TinselEnvelopes) {
    const auto song = [](std::vector<std::pair<uint16_t, uint16_t>> points, uint8_t type, int keyOffRow) {
        SongSpec s = Rows({{C4, 1}}, 4);
        s.rows = 64;
        s.patterns[0].resize(64);
        s.patterns[0][static_cast<size_t>(keyOffRow)] = {OFF};
        s = WithEnvelope(s, std::move(points), type, 2);
        s.instrument.volumeLoopStart = 3;
        s.instrument.volumeLoopEnd = 5;
        return s;
    };
    // Sustain at point 2 and a loop over points 3..5; key-off on tick 12.
    const SongSpec looped = song({{0, 48}, {4, 64}, {8, 44}, {14, 8}, {24, 22}, {32, 8}}, 7, 3);
    // Also when the sustain and loop points lie beyond those stored: they stay inside.
    SongSpec beyond = song({{0, 10}, {3, 40}}, 7, 63);
    beyond.instrument.volumeSustain = 200;
    beyond.instrument.volumeLoopStart = 40;
    beyond.instrument.volumeLoopEnd = 1;
    Play({
        // clang-format off
        {"sustain, then release into the loop", kTinsel, looped, 0, kEnvVolume,
         {48, 52, 56, 60, 64, 59, 54, 49, 44, 44, 44, 44, 44, 38, 32, 26, 20, 14, 8, 9, 10, 12, 13, 14, 16, 17, 19,
          20, 22, 20, 18, 16, 15, 13, 11, 9, 8, 9, 10, 12, 13, 14}},
        {"plain segments", kTinsel, song({{0, 64}, {7, 54}, {12, 27}, {23, 7}, {126, 0}}, 1, 63), 0, kEnvVolume,
         {64, 62, 61, 59, 58, 56, 55, 54, 48, 43}},
        {"two points reach the second and stay", kTinsel, song({{0, 10}, {3, 40}}, 1, 63), 0, kEnvVolume,
         {10, 20, 30, 40, 40, 40}},
        {"points named beyond those stored", kTinsel, beyond, 0, kEnvVolume, {10, 20, 30, 40, 40, 40}},
        // clang-format on
    });
}

TEST_F(Engine, TinselEnvelopesEndAtTheLastPoint) {
    SongSpec s = WithEnvelope(Rows({{C4, 1}}, 4), {{0, 64}, {7, 54}, {12, 27}, {23, 7}, {126, 0}}, 1);
    s.instrument.panningPoints = {{0, 32}, {2, 0}};
    s.instrument.panningType = 1;
    s.rows = 64;
    Start(s, kTinsel);
    for (int t = 0; t < 130; ++t) {
        Tick();
    }
    EXPECT_EQ(Ch(0).envVolume, 0);
    EXPECT_EQ(Ch(0).volEnvDone, 1);
    EXPECT_EQ(Ch(0).envPanning, 0);
    EXPECT_EQ(Ch(0).panEnvDone, 1);
    EXPECT_EQ(Voice(0).volume, 0);
}

TEST_F(Engine, TinselTonePortamentoKeepsNoteAndInstrumentAndGlides) {
    SongSpec s = Rows({{C4, 1}, {C4 + 2, 2, 0, 0x03, 0x10}}, 3);
    s.samples = {PlainSample(40, 0), PlainSample(20, 12)};
    Start(s, kTinsel);
    for (int t = 0; t < 3; ++t) {
        Tick();
    }
    const Sample* first = m->instruments[0].samples[0];
    EXPECT_EQ(Voice(0).sample, first);
    Voice(0).posInt = 5; // a restart would put it back to 0
    Ch(0).baseVolume = 10;
    EXPECT_EQ(Trace(1, 3, kBase), (std::vector<int>{4608, 4544, 4480}));
    EXPECT_EQ(Ch(0).note, C4);
    EXPECT_EQ(Ch(0).instrumentNumber, 1);
    // D-4 with the relative note of the sample the held note and instrument select.
    EXPECT_EQ(Ch(0).portaTarget, 4480);
    EXPECT_EQ(Ch(0).baseVolume, 40); // the note was reset with that sample
    EXPECT_EQ(Voice(0).sample, first);
    EXPECT_EQ(Voice(0).posInt, 5);
}

TEST_F(Engine, TinselInstrumentBeyondTheSongPlaysSilence) {
    Start(Rows({{C4, 9}}, 1), kTinsel);
    Tick();
    EXPECT_EQ(Voice(0).sample, &EmptySample);
    EXPECT_EQ(Ch(0).baseVolume, 0);
    std::vector<float> buffer(2 * 64, 0.0f);
    MixVoices(*player, buffer.data(), 64);
    EXPECT_EQ(Voice(0).sample, nullptr);
}

// Row order under each rule set's clock.
TEST_F(Engine, SongClocks) {
    using Visits = std::vector<std::pair<int, int>>;
    SongSpec loop;
    loop.tempo = 1;
    loop.patterns = {std::vector<XmCell>(8), std::vector<XmCell>(8)};
    loop.patterns[0][2] = {0, 0, 0, 0xE, 0x60};
    loop.patterns[0][4] = {0, 0, 0, 0xE, 0x61};
    loop.patterns[1][7] = {0, 0, 0, 0xF, 0x01}; // keeps the empty pattern at 8 rows
    loop.orders = {0, 1};
    SongSpec restart;
    restart.tempo = 1;
    restart.rows = 2;
    restart.patterns = {{}, {}, {}};
    restart.orders = {0, 1, 2};
    restart.restart = 1;
    const auto pair = [](bool breakFirst) {
        SongSpec s;
        s.tempo = 1;
        s.channels = 2;
        const XmCell d{0, 0, 0, 0xD, 0x05}, b{0, 0, 0, 0xB, 0x01};
        s.patterns = {{breakFirst ? d : b, breakFirst ? b : d}, {{0, 0, 0, 0xF, 0x01}}};
        s.orders = {0, 1};
        return s;
    };
    const struct {
        const char* name;
        RuleSet rules;
        SongSpec song;
        int ticks;
        Visits expect;
    } cases[] = {
        // clang-format off
        {"after the last order, the restart position", kTinsel, restart, 10,
         {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}}},
        {"F1F rules the row it stands on", kTinsel, Rows({{0, 0, 0, 0xF, 0x1F}, {0, 0, 0, 0xF, 0x01}}, 2), 34,
         {{0, 0}, {0, 1}, {0, 2}, {0, 3}}},
        {"F00 makes every tick a row start", kTinsel, Rows({{0, 0, 0, 0xF, 0x00}}, 3), 4,
         {{0, 0}, {0, 1}, {0, 2}, {0, 3}}},
        {"pattern loop carries its start row into the next pattern", kFt2, loop, 12,
         {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {0, 6}, {0, 7}, {1, 2}}},
        {"D05 left of B01", kFt2, pair(true), 2, {{0, 0}, {1, 0}}},
        {"B01 left of D05", kFt2, pair(false), 2, {{0, 0}, {1, 5}}},
        {"F00 stalls the row", kFt2, Rows({{C4, 1, 0, 0xF, 0x00}, {0, 0, 0, 0xF, 0x06}}), 5000, {{0, 0}}},
        // clang-format on
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(std::string(RuleSetName(k.rules)) + ": " + k.name);
        Start(k.song, k.rules);
        EXPECT_EQ(RowStarts(k.ticks), k.expect);
    }
}

TEST_F(Engine, TinselPatternsWithoutRowsOrCells) {
    // Order 1 names a pattern past the stored ones (added empty), order 0 one of 0 rows.
    XmImage image(3, 0, 1, 1, 0, 125, {0, 3, 0});
    image.SetTempo(1);
    image.Pattern(0, {});
    Start(image, kTinsel);
    EXPECT_EQ(m->patterns[0].rows, 0);
    for (int t = 0; t < 200; ++t) {
        Tick();
        EXPECT_LT(m->orderIndex, 3);
    }
    // A pattern stored without data plays empty rows, and the envelope steps on through them.
    XmImage stored(2, 0, 2, 2, 1, 125, {0, 1});
    stored.SetTempo(1);
    stored.PatternCells(1, {XmCell{C4, 1}, XmCell{}});
    stored.Pattern(256, {});
    XmInstrumentDesc ins;
    ins.volumePoints = {{0, 64}, {10, 0}};
    ins.volumeType = 1;
    stored.InstrumentWith(ins, {PlainSample()});
    Start(stored, kTinsel);
    EXPECT_EQ(m->patterns[1].rows, 256);
    EXPECT_EQ(Trace(0, 4, kEnvVolume), (std::vector<int>{64, 57, 51, 44}));
    EXPECT_EQ(m->orderIndex, 1);
    EXPECT_EQ(m->row, 2);
}

TEST_F(Engine, Ft2HeaderAndPatternLimitsAsTheOriginalLoadsThem) {
    SongSpec s = Rows({}, 0); // header speed 0, an all-empty pattern of 8 rows
    s.orders = {0, 0xFF};
    Start(s, kFt2);
    EXPECT_EQ(m->speed, 1);
    EXPECT_EQ(player->song.patternRows[0], 64);
    EXPECT_EQ(player->song.songLength, 1);
}

TEST(Rules, TrackerNameChoosesTheRuleSet) {
    const std::pair<const char*, RuleSet> cases[] = {{"songc", kTinsel}, {"songc               ", kTinsel},
                                                     {"songc2", kFt2},   {"FastTracker v2.00   ", kFt2},
                                                     {"", kFt2},         {nullptr, kFt2}};
    for (const auto& [name, rules] : cases) {
        EXPECT_EQ(RulesForTracker(name), rules) << (name ? name : "null");
    }
    RuleSet parsed = kTinsel;
    EXPECT_TRUE(ParseRuleSet("ft2", &parsed));
    EXPECT_EQ(parsed, kFt2);
    EXPECT_FALSE(ParseRuleSet("FT2", &parsed));
}

// The tinsel rules' pieces on a bare channel, outside any song.
class TinselPieces : public ::testing::Test {
protected:
    std::unique_ptr<Player> player = std::make_unique<Player>();
    Module song{};
    Context x{*player, song, player->song, kTinselRules, 44100};
    Channel c{};
    MixVoice v{};
    void SetUp() override {
        song.globalVolume = 64;
        c.fadeoutLevel = 65536;
        c.sample = &EmptySample;
    }
    // One later tick of the channel's effect.
    void Effect(uint8_t effect) {
        c.effect = effect;
        TinselEffects(x, c);
    }
};

TEST_F(TinselPieces, VibratoSineDepthAndClearedLowBits) {
    // {position, depth, delta}; position 16 is the crest: 255, not 256 (which gives -120).
    const int cases[][3] = {{8, 8, -44}, {-8, 8, 44}, {1, 4, 0}, {16, 15, -116}};
    for (const auto& [position, depth, delta] : cases) {
        c = Channel{};
        c.vibratoPos = static_cast<uint8_t>(position);
        c.vibratoDepth = static_cast<uint8_t>(depth);
        Effect(0x4);
        EXPECT_EQ(c.periodDelta, delta) << position << " " << depth;
    }
}

TEST_F(TinselPieces, VolumeColumnRowStartAndLaterTicks) {
    const auto column = [this](uint8_t byte, int laterTicks) {
        c.volumeByte = byte;
        TinselVolumeColumnRowStart(c);
        for (int t = 0; t < laterTicks; ++t) {
            TinselVolumeColumn(x, c);
        }
    };
    // The byte, a volume and panning, and both after the row start and after one later tick.
    const int cases[][7] = {
        {0x0F, 32, 100, 32, 100, 32, 100}, {0x10, 32, 100, 0, 100, 0, 100},
        {0x50, 32, 100, 64, 100, 64, 100}, {0x51, 32, 100, 32, 100, 32, 100},
        {0x63, 32, 100, 29, 100, 26, 100}, {0x73, 32, 100, 35, 100, 38, 100},
        {0x83, 32, 100, 29, 100, 29, 100}, {0x93, 32, 100, 35, 100, 35, 100},
        {0xC0, 32, 100, 32, 0, 32, 0},     {0xCF, 32, 100, 32, 240, 32, 240},
        {0xD5, 32, 100, 32, 95, 32, 90},   {0xE5, 32, 100, 32, 105, 32, 110},
        {0x9F, 62, 100, 64, 100, 64, 100}, {0x6F, 20, 100, 5, 100, 0, 100},
        {0xD5, 32, 2, 32, -3, 32, -8}, // panning slides run past the edges: the voice clamps its own copy
    };
    for (const auto& k : cases) {
        c = Channel{};
        c.baseVolume = k[1];
        c.panning = k[2];
        column(static_cast<uint8_t>(k[0]), 0);
        std::vector<int> seen = {c.baseVolume, c.panning};
        TinselVolumeColumn(x, c);
        seen.insert(seen.end(), {c.baseVolume, c.panning});
        EXPECT_EQ(seen, std::vector<int>(k + 3, k + 7)) << std::hex << k[0];
    }
    // Vibrato speed and depth, then a vibrato on later ticks.
    column(0xA4, 0);
    column(0xB8, 0);
    EXPECT_EQ(c.vibratoSpeed, 4);
    EXPECT_EQ(c.vibratoDepth, 8);
    c.vibratoPos = 8;
    TinselVolumeColumn(x, c);
    EXPECT_EQ(c.periodDelta, -44);
    EXPECT_EQ(c.vibratoPos, 12);
    // Tone portamento: speed y x 64 period units, no restart, glides on later ticks.
    c.notePeriod = 4000;
    c.basePeriod = 4608;
    c.updateFlags = kUpdateNoteStart | kUpdateFrequency;
    column(0xF2, 0);
    EXPECT_EQ(c.portaSpeed, 128);
    EXPECT_EQ(c.portaTarget, 4000);
    EXPECT_EQ(c.updateFlags, kUpdateFrequency);
    TinselVolumeColumn(x, c);
    EXPECT_EQ(c.basePeriod, 4480);
}

// The voice's volume, gains and panning from the channel's, its envelope's
// and the song's: 2^35 is full volume times full envelope, fadeout and global volume.
TEST_F(TinselPieces, VoiceVolumeGainsAndPanning) {
    const struct {
        int baseVolume, envVolume, panning, envPanning;
        int32_t volume, left, right, voicePanning;
    } cases[] = {
        {64, 64, 128, 32, 127, 63, 63, 128},
        {32, 64, 128, 32, 63, 31, 31, 128},
        {32, 64, 255, 32, 63, 0, 63, 255},
        {32, 64, 0, 32, 63, 63, 0, 0},
        // The panning envelope moves the centre most, the edges not at all;
        // a panning slid past the edge is clamped in the voice only.
        {32, 64, 128, 40, 63, 23, 39, 160},
        {32, 64, 16, 40, 63, 59, 3, 16},
        {32, 64, 300, 40, 63, 0, 63, 255},
        // An envelope value read as negative from a damaged file gives silence, not a negative gain.
        {32, -32768, 128, 32, 0, 0, 0, 128},
    };
    for (const auto& k : cases) {
        c.baseVolume = k.baseVolume;
        c.envVolume = k.envVolume;
        c.panning = k.panning;
        c.envPanning = k.envPanning;
        c.updateFlags = kUpdateVolume | kUpdatePanning;
        TinselUpdateVoice(x, c, v);
        EXPECT_EQ(std::vector<int>({v.volume, v.leftGain, v.rightGain, v.panning}),
                  std::vector<int>({k.volume, k.left, k.right, k.voicePanning}))
            << k.baseVolume << " " << k.envVolume << " " << k.panning << " " << k.envPanning;
    }
}

TEST_F(TinselPieces, VoiceLinearFrequencies) {
    player->song.linear = true;
    const auto frequency = [&](int period, int delta) {
        c.basePeriod = period;
        c.periodDelta = delta;
        c.updateFlags = kUpdateFrequency;
        TinselUpdateVoice(x, c, v);
        return v.frequency;
    };
    EXPECT_EQ(frequency(4608, 0), 8363);
    EXPECT_EQ(v.stepInt, 0);
    EXPECT_EQ(v.stepFrac, 814485521u);
    EXPECT_EQ(frequency(4608, 64), 8860);
    EXPECT_EQ(frequency(4608, -64), 7893);
    EXPECT_EQ(frequency(3840, 0), 16726);
    // A zero period sum leaves the voice as it was.
    EXPECT_EQ(frequency(64, -64), 16726);
    // Below 100 Hz the voice steps at 100 Hz.
    frequency(20000, 0);
    EXPECT_EQ(v.stepInt, 0);
    EXPECT_EQ(v.stepFrac, static_cast<uint32_t>((uint64_t{100} << 32) / 44100));
    // Far above the format's notes the step stops at the largest the mixer reads safely.
    frequency(-9000, 960);
    EXPECT_EQ(v.stepInt, kMaxStepSamples);
    EXPECT_EQ(v.stepFrac, 0u);
}

} // namespace
