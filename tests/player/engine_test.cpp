// The replay engine under both rule sets: small constructed songs played tick
// by tick, checked through the channel state and the voices.

#include "tests/player/engine_harness.h"

namespace {

TEST_F(EngineRecipes, Pitch) {
    const SongSpec arpeggio = Rows({{C4, 1, 0, kArpeggio, 0x37}});
    const SongSpec vibrato = Rows({{C4, 1, 0, kVibrato, 0x88}, {0, 0, 0, kVibrato, 0x00}}, 3);
    const SongSpec slides = Rows({{C4, 1, 0, kPortaDown, 0x04}, {0, 0, 0, kPortaDown, 0x00}}, 3);
    const SongSpec porta =
        Rows({{C4, 1}, {E4, 0, 0, kTonePorta, 0x10}, {0, 0, 0, kPortaDown, 0x20}, {0, 0, 0, kTonePorta, 0}});
    const auto tinselAutoVibrato = [](uint8_t type, uint8_t rate, uint8_t sweep) {
        SongSpec s = Rows({{C4, 1}});
        s.instrument.vibratoType = type;
        s.instrument.vibratoDepth = 64;
        s.instrument.vibratoRate = rate;
        s.instrument.vibratoSweep = sweep;
        return s;
    };
    const SongSpec wrap = Rows({{C0 + 12, 1, 0, kPortaDown, 0xFF}, {0, 0, 0, kPortaUp, 0xFF}});
    SongSpec autoVibrato = Rows({{C4, 1}});
    autoVibrato.instrument.vibratoDepth = 8;
    autoVibrato.instrument.vibratoRate = 16;
    Play({
        // clang-format off
        {"arpeggio 037: base, +3, +7, C-4 at 8363 Hz", kTinsel, arpeggio, 0, kHz,
         {8363, 9945, 12530, 8363, 9945}},
        {"vibrato holds its position on a row start", kTinsel, vibrato, 0, kVibratoPos,
         {0, 8, 16, 16, 24, -32}},
        {"vibrato depth", kTinsel, vibrato, 0, kDelta, {0, 0, -44, -60, -60, -44}},
        {"porta down and its memory", kTinsel, slides, 0, kBase, {4608, 4624, 4640, 4640, 4656, 4672}},
        {"amiga arpeggio from the table", kTinsel, Amiga(arpeggio), 0, kAmigaHeard,
         {1712, 1440, 1140, 1712, 1440, 1140}},
        {"amiga 2xx stops at 31999", kTinsel, Amiga(Rows({{C0, 1, 0, kPortaDown, 0xFF}})), 0, kAmigaHeard,
         {27392, 28412, 29432, 30452, 31472, 31999}},
        {"3xx glides down to its target", kTinsel, Rows({{C4, 1}, {C4 + 2, 0, 0, kTonePorta, 0x0F}}, 5), 1,
         kBase, {4608, 4548, 4488, 4480, 4480}},
        {"and up", kTinsel, Rows({{C4 + 2, 1}, {C4, 0, 0, kTonePorta, 0x0F}}, 5), 1, kBase,
         {4480, 4540, 4600, 4608, 4608}},
        // Auto-vibrato a quarter turn a tick: square, sine to its crest, ramps falling and rising.
        {"auto-vibrato square wraps at 256", kTinsel, tinselAutoVibrato(1, 64, 0), 0, kDelta,
         {64, 64, -64, -64, 64}},
        {"auto-vibrato sine", kTinsel, tinselAutoVibrato(0, 64, 0), 0, kDelta, {0, 63}},
        {"auto-vibrato ramp down", kTinsel, tinselAutoVibrato(2, 64, 0), 0, kDelta, {0, -32, 64, 32}},
        {"auto-vibrato ramp up", kTinsel, tinselAutoVibrato(3, 64, 0), 0, kDelta, {0, 32, 64, -32}},
        {"auto-vibrato sweep 4 grows from nothing", kTinsel, tinselAutoVibrato(1, 0, 4), 0, kDelta,
         {0, 16, 32, 48, 64, 64}},
        {"linear 2xx goes on", kTinsel, Rows({{C0, 1, 0, kPortaDown, 0xFF}}, 3), 0, kBase,
         {7680, 8700, 9720}},
        {"C-4 at amiga 8363 Hz", kTinsel, Amiga(Rows({{C4, 1}})), 0, kHz, {8363}},
        // Truncated: 14317456 / 1016 is 14091.98.
        {"A-4 at amiga 14091 Hz", kTinsel, Amiga(Rows({{C4 + 9, 1}})), 0, kHz, {14091}},
        // 44100 x 2.5 / BPM frames a tick, rounded down; at 42 single precision falls a frame short.
        {"F20: 32 BPM, ticks of 3445 frames", kTinsel, Rows({{0, 0, 0, kSetSpeedOrTempo, 0x20}}), 0,
         kTickFrames, {3445}},
        {"F2A: 42 BPM, 2625 frames", kTinsel, Rows({{0, 0, 0, kSetSpeedOrTempo, 0x2A}}), 0, kTickFrames,
         {2625}},
        {"FFF: 255 BPM, 432 frames", kTinsel, Rows({{0, 0, 0, kSetSpeedOrTempo, 0xFF}}), 0, kTickFrames,
         {432}},

        {"arpeggio 037", kFt2, arpeggio, 0, kPeriod, {4608, 4160, 4416, 4608, 4160, 4416}},
        {"arpeggio at speed 17", kFt2, Rows({{C4, 1, 0, kArpeggio, 0x37}}, 17), 0, kPeriod,
         {4608, 4608, 4608, 4160, 4416, 4608, 4160, 4416, 4608, 4160, 4416, 4608, 4160, 4416, 4608, 4160, 4416}},
        {"amiga arpeggio", kFt2, Amiga(arpeggio), 0, kPeriod, {1712, 1140, 1440, 1712, 1140, 1440}},
        {"amiga 101", kFt2, Amiga(Rows({{C4, 1, 0, kPortaUp, 0x01}})), 0, kPeriod,
         {1712, 1708, 1704, 1700, 1696, 1692}},
        {"volume-column porta holds the note", kFt2, Rows({{C4, 1}, {E4, 0, 0xF1}}), 1, kPeriod,
         {4608, 4544, 4480, 4416, 4352, 4352}},
        {"volume-column porta doubles 3xx", kFt2, Rows({{C4, 1}, {E4, 0, 0xF1, kTonePorta, 0xFF}}), 1,
         kPeriod, {4608, 4480, 4352, 4352, 4352, 4352}},
        {"3xx reaches its target", kFt2, porta, 1, kPeriod, {4608, 4544, 4480, 4416, 4352, 4352}},
        {"2xx after porta", kFt2, porta, 2, kPeriod, {4352, 4480, 4608, 4736, 4864, 4992}},
        {"300 past the target jumps to it", kFt2, porta, 3, kPeriod, {4992, 4352, 4352, 4352, 4352, 4352}},
        {"vibrato 448", kFt2, Rows({{C4, 1, 0, kVibrato, 0x48}}), 0, kPeriod,
         {4608, 4608, 4632, 4653, 4666, 4671}},
        {"vibrato ramp", kFt2,
         Rows({{C4, 1, 0, kExtended, Ext(kVibratoControl, 1)}, {0, 0, 0, kVibrato, 0x48}}), 1, kPeriod,
         {4608, 4608, 4616, 4624, 4632, 4640}},
        {"auto-vibrato", kFt2, autoVibrato, 0, kPeriod, {4605, 4602, 4600, 4600, 4600, 4602}},
        {"E5F finetune", kFt2, Rows({{C4, 1, 0, kExtended, Ext(kSetFinetune, 15)}}), 0, kPeriod,
         {4552, 4552, 4552, 4552, 4552, 4552}},
        {"E5x lasts one note", kFt2, Rows({{C4, 1, 0, kExtended, Ext(kSetFinetune, 15)}, {C4, 0}}), 1,
         kPeriod, {4608, 4608, 4608, 4608, 4608, 4608}},
        {"glissando rounds the porta", kFt2,
         Rows({{C4, 1, 0, kExtended, Ext(kGlissandoControl, 1)}, {E4, 0, 0, kTonePorta, 0x05}}), 1, kPeriod,
         {4608, 4608, 4544, 4544, 4544, 4480}},
        {"X12", kFt2, Rows({{C4, 1, 0, kExtraFinePorta, 0x12}}), 0, kPeriod,
         {4606, 4606, 4606, 4606, 4606, 4606}},
        // The original's 16.16 steps at 44100 Hz.
        {"C-4 steps 12428", kFt2, Rows({{C4, 1}}), 0, kFt2Step, {12428}},
        {"C-6 steps 49712", kFt2, Rows({{C4 + 24, 1}}), 0, kFt2Step, {49712}},
        {"amiga C-4 steps 12428", kFt2, Amiga(Rows({{C4, 1}})), 0, kFt2Step, {12428}},
        {"amiga C-6 steps 49712", kFt2, Amiga(Rows({{C4 + 24, 1}})), 0, kFt2Step, {49712}},
        // Past 9216 the linear table wraps in 16 bits: the voice stands still
        // (periods 9972, 10992, 12012), and sounds again as 1FF brings it back.
        {"2FF past 9216 stalls", kFt2, wrap, 0, kFt2Step, {1553, 618, 246, 0, 0, 0}},
        {"1FF brings it back", kFt2, wrap, 1, kFt2Step, {0, 0, 0, 246, 618, 1553}},
        {"1xx floor", kFt2,
         Rows({{C4, 1, 0, kPortaUp, 0xFF}, {0, 0, 0, kPortaUp, 0}, {0, 0, 0, kPortaUp, 0},
               {0, 0, 0, kPortaUp, 0}}),
         3, kPeriod, {1, 1, 1, 1, 1, 1}},
        // clang-format on
    });
}

TEST_F(EngineRecipes, Volume) {
    const SongSpec slides = Rows({{C4, 1, 0, kPortaDown, 0x04},
                                  {0, 0, 0, kPortaDown, 0x00},
                                  {0, 0, 0, kVolumeSlide, 0x02},
                                  {0, 0, 0, kVibratoVolumeSlide, 0x00},
                                  {0, 0, 0, kSetVolume, 0x20},
                                  {0, 0, 0, kExtended, Ext(kFineVolumeSlideUp, 3)},
                                  {0, 0, 0, kExtended, Ext(kFineVolumeSlideUp, 0)},
                                  {0, 0, 0, kVolumeSlide, 0x30}},
                                 3);
    const SongSpec released =
        WithEnvelope(Rows({{C4, 1}, {OFF}}, 3), {{0, 64}, {2, 64}, {6, 32}}, 3, 1, 0x1000);
    const SongSpec keyOff = Rows({{C4, 1}, {OFF}, {0, 0, 0, kSetVolume, 0x20}});
    const SongSpec retrig = Rows({{C4, 1, 0, kMultiRetrig, 0x23}, {0, 0, 0, kMultiRetrig, 0}});
    const SongSpec sustained = WithEnvelope(Rows({{C4, 1}, {OFF}}), {{0, 64}, {2, 32}}, 3, 0, 2048);
    const SongSpec enveloped = WithEnvelope(Rows({{C4, 1}}), {{0, 64}, {10, 32}, {20, 0}}, 1, 0, 2048);
    const SongSpec delayed = TwoInstruments({{C4, 1}, {D4, 2, 0x2A, kExtended, Ext(kNoteDelay, 3)}});
    // EE1 plays row 0 twice: its slide goes on for eleven ticks, then row 1 sets 0.
    SongSpec patternDelay;
    patternDelay.channels = 2;
    patternDelay.patterns = {{{C4, 1, 0, kVolumeSlide, 0x01},
                              {0, 0, 0, kExtended, Ext(kPatternDelay, 1)},
                              {0, 0, 0, kSetVolume, 0x00}}};
    SongSpec globalVolume;
    globalVolume.channels = 3;
    globalVolume.patterns = {{{C4, 1}, {0, 0, 0, kSetGlobalVolume, 0x20}, {C4, 1}}};
    SongSpec envelopeAt5 = enveloped;
    envelopeAt5.patterns[0][0] = {C4, 1, 0, kSetEnvelopePosition, 0x05};
    SongSpec damagedAt5 = WithEnvelope(envelopeAt5, {{65534, 0}, {65535, 65535}}, 1);
    Play({
        // clang-format off
        {"volume slides, Cxx, EAx", kTinsel, slides, 2, kBaseVolume,
         {64, 62, 60, 60, 58, 56, 32, 32, 32, 35, 35, 35, 38, 38, 38, 38, 41, 44}},
        {"key-off without envelope silences at once", kTinsel, Rows({{C4, 1}, {OFF}}, 2), 0, kVoiceVolume,
         {127, 127, 0, 0}},
        {"K00 likewise", kTinsel, Rows({{C4, 1}, {0, 0, 0, kKeyOffAt, 0}}, 2), 0, kVoiceVolume,
         {127, 127, 0, 0}},
        {"key-off fades", kTinsel, released, 1, kFadeout,
         {57344, 49152, 40960, 32768, 24576, 16384, 8192, 0, 0}},
        {"key-off leaves the sustain point", kTinsel, released, 1, kEnvVolume,
         {64, 56, 48, 40, 32, 32, 32, 32, 32}},

        {"volume column slides skip tick 0", kFt2, Rows({{C4, 1, 0x50}, {0, 0, 0x62}}), 1, kVolume,
         {64, 62, 60, 58, 56, 54}},
        {"key-off without envelope", kFt2, keyOff, 1, kVolume, {0, 0, 0, 0, 0, 0}},
        {"a volume command revives it", kFt2, keyOff, 2, kVolume, {32, 32, 32, 32, 32, 32}},
        {"note after key-off stays silent", kFt2, Rows({{C4, 1}, {OFF}, {D4}}), 2, kVolume,
         {0, 0, 0, 0, 0, 0}},
        {"lone instrument restores the playing sample", kFt2,
         TwoInstruments({{C4, 1, 0, kSetVolume, 0x0A}, {0, 2}}), 1, kVolume, {64, 64, 64, 64, 64, 64}},
        {"retrig R23", kFt2, retrig, 0, kVolume, {64, 64, 62, 62, 62, 60}},
        {"retrig R23, second row", kFt2, retrig, 1, kVolume, {60, 60, 58, 58, 58, 56}},
        {"retrig with a volume byte", kFt2,
         Rows({{C4, 1, 0x50, kMultiRetrig, 0x23}, {0, 0, 0, kMultiRetrig, 0}}), 1, kVolume,
         {62, 62, 62, 60, 60, 60}},
        {"tremor T12", kFt2, Rows({{C4, 1, 0, kTremor, 0x12}}), 0, kVolume, {64, 64, 64, 0, 0, 0}},
        {"tremor T00 continues", kFt2, Rows({{C4, 1, 0, kTremor, 0x12}, {0, 0, 0, kTremor, 0}}), 1, kVolume,
         {0, 64, 64, 0, 0, 0}},
        {"tremolo ramp", kFt2,
         Rows({{C4, 1, 0x30, kExtended, Ext(kTremoloControl, 1)}, {0, 0, 0, kTremolo, 0x48}}), 1, kVolume,
         {32, 32, 36, 40, 44, 48}},
        {"note cut EC3", kFt2, Rows({{C4, 1, 0, kExtended, Ext(kNoteCut, 3)}}), 0, kVolume,
         {64, 64, 64, 0, 0, 0}},
        {"K03 keys off on tick 3", kFt2, Rows({{C4, 1, 0, kKeyOffAt, 0x03}}), 0, kVolume,
         {64, 64, 64, 0, 0, 0}},
        {"ED3 starts the delayed note", kFt2, delayed, 1, kPeriod, {4608, 4608, 4608, 4480, 4480, 4480}},
        {"with its volume", kFt2, delayed, 1, kVolume, {64, 64, 64, 26, 26, 26}},
        {"and its instrument", kFt2, delayed, 1, kInstrument, {0, 0, 0, 1, 1, 1}},
        {"G20 reaches channels left of it a tick later", kFt2, globalVolume, 0, kHeard, {256, 128}},
        {"and those right of it at once", kFt2, globalVolume, 0, kHeard, {128, 128}, 2},
        {"H01", kFt2, Rows({{C4, 1, 0, kGlobalVolumeSlide, 0x01}}), 0, kGlobal, {64, 63, 62, 61, 60, 59}},
        {"volume envelope", kFt2, enveloped, 0, kHeard, {256, 240, 228, 216, 204, 192}},
        {"L05 moves the envelope", kFt2, envelopeAt5, 0, kHeard, {192, 176, 164, 152, 140, 128}},
        {"L05 into damaged points stays in range", kFt2, damagedAt5, 0, kHeard,
         {256, 256, 256, 256, 256, 256}},
        {"sustain holds", kFt2, sustained, 0, kHeard, {256, 256, 256, 256, 256, 256}},
        {"key-off releases and fades", kFt2, sustained, 1, kHeard, {240, 168, 104, 96, 88, 80}},
        {"volume byte 0x55 sets 64", kFt2, TwoInstruments({{C4, 2, 0x55}}), 0, kVolume,
         {64, 64, 64, 64, 64, 64}},
        {"pattern delay repeats only the later tick actions", kFt2, patternDelay, 0, kVolume,
         {64, 63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 0}},
        {"fine volume memories are separate", kFt2,
         Rows({{C4, 1, 0x30, kExtended, Ext(kFineVolumeSlideUp, 2)},
               {0, 0, 0, kExtended, Ext(kFineVolumeSlideDown, 1)},
               {0, 0, 0, kExtended, Ext(kFineVolumeSlideUp, 0)}}),
         2, kVolume, {35, 35, 35, 35, 35, 35}},
        // clang-format on
    });
}

TEST_F(EngineRecipes, PanningAndVoiceStarts) {
    SongSpec offset = Rows({{C4, 1, 0, kSampleOffset, 0x02},
                            {C4, 1, 0, kSampleOffset, 0x01},
                            {C4, 1, 0, kSampleOffset, 0xFF},
                            {C4, 1, 0, kSampleOffset, 0x00}});
    offset.samples = {{1000, 0, 500, 0x01, std::vector<uint8_t>(1000, 1)}};
    offset.samples[0].finetune = offset.samples[0].relativeNote = 0;
    Play({
        // clang-format off
        {"E93 twice, then E90", kTinsel,
         Rows({{C4, 1, 0, kExtended, Ext(kRetrigNote, 3)},
               {0, 0, 0, kExtended, Ext(kRetrigNote, 3)},
               {0, 0, 0, kExtended, Ext(kRetrigNote, 0)}}),
         0, kStarted,
         {1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}},

        {"volume-column D0", kFt2, Rows({{C4, 1, 0xD0}}), 0, kPanning, {128, 0, 0, 0, 0, 0}},
        {"P02", kFt2, Rows({{C4, 1, 0, kPanningSlide, 0x02}}), 0, kPanning, {128, 126, 124, 122, 120, 118}},
        {"8xx and volume-column CF", kFt2, Rows({{C4, 1, 0xCF}, {0, 0, 0, kSetPanning, 0x10}}), 1, kPanning,
         {16, 16, 16, 16, 16, 16}},
        {"E93", kFt2, Rows({{C4, 1, 0, kExtended, Ext(kRetrigNote, 3)}}), 0, kStarted, {1, 0, 0, 1, 0, 0}},
        {"E92", kFt2, Rows({{C4, 1, 0, kExtended, Ext(kRetrigNote, 2)}}), 0, kStarted, {1, 0, 1, 0, 1, 0}},
        // No instrument is remembered at the start: a first note without one stays silent.
        {"note without an instrument", kFt2, Rows({{C4}}), 0, kPlaying, {-1, -1, -1, -1, -1, -1}},
        {"ED0 is a normal row", kFt2, Rows({{C4, 1, 0, kExtended, Ext(kNoteDelay, 0)}}), 0, kStarted,
         {1, 0, 0, 0, 0, 0}},
        {"ED7 never plays", kFt2, Rows({{C4, 1, 0, kExtended, Ext(kNoteDelay, 7)}}), 0, kStarted,
         {0, 0, 0, 0, 0, 0}},
        // 902 starts past the loop end: silence; 901 at 256; 9FF silent, and 900 takes up FF.
        {"902 past the loop end", kFt2, offset, 0, kFt2Playing, {-1}},
        {"901", kFt2, offset, 1, kFt2Playing, {256}},
        {"9FF", kFt2, offset, 2, kFt2Playing, {-1}},
        {"900 reuses FF", kFt2, offset, 3, kFt2Playing, {-1}},
        {"E90 retriggers without a note", kFt2, Rows({{C4, 1}, {0, 0, 0, kExtended, Ext(kRetrigNote, 0)}}), 1,
         kStarted, {1, 0, 0, 0, 0, 0}},
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
        {"plain segments", kTinsel, song({{0, 64}, {7, 54}, {12, 27}, {23, 7}, {126, 0}}, 1, 63), 0,
         kEnvVolume, {64, 62, 61, 59, 58, 56, 55, 54, 48, 43}},
        {"two points reach the second and stay", kTinsel, song({{0, 10}, {3, 40}}, 1, 63), 0, kEnvVolume,
         {10, 20, 30, 40, 40, 40}},
        {"points named beyond those stored", kTinsel, beyond, 0, kEnvVolume, {10, 20, 30, 40, 40, 40}},
        // clang-format on
    });
}

} // namespace
