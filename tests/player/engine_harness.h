// The engine tests' harness: constructed songs, probes of the channel state,
// and recipes traced tick by tick.
#pragma once

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

constexpr uint8_t C0 = 1, C4 = 49, D4 = 51, E4 = 53, OFF = 97;
constexpr RuleSet kTinsel = RuleSet::Tinsel, kFt2 = RuleSet::Ft2;

// A one-channel song whose first pattern holds these rows.
inline SongSpec Rows(std::vector<XmCell> rows, uint16_t tempo = 6) {
    SongSpec s;
    s.tempo = tempo;
    s.rows = std::max<int>(8, static_cast<int>(rows.size()));
    s.patterns = {std::move(rows)};
    return s;
}

inline SongSpec Amiga(SongSpec s) {
    s.linear = false;
    return s;
}

inline SongSpec TwoInstruments(std::vector<XmCell> rows) {
    SongSpec s = Rows(std::move(rows));
    s.samples = {PlainSample(64), PlainSample(20)};
    return s;
}

inline SongSpec WithEnvelope(SongSpec s, std::vector<std::pair<uint16_t, uint16_t>> points, uint8_t type,
                             uint8_t sustain = 0, uint16_t fadeout = 0) {
    s.instrument.volumePoints = std::move(points);
    s.instrument.volumeType = type;
    s.instrument.volumeSustain = sustain;
    s.instrument.fadeout = fadeout;
    return s;
}

// What a trace reads after each tick: channel c, its voice v, the song m and its clock.
struct Seen {
    const Channel& c;
    const MixVoice& v; // tinsel rules
    const Ft2Voice& f; // FT2 rules: the voice that plays the channel's note
    const Module& m;
    const SongState& song;
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
const Probe kGlobal = [](const Seen& s) { return s.song.globalVolume; };
// Either: the voice, whether the tick started it and where it plays (-1: silent), the tick's length.
const Probe kHz = [](const Seen& s) { return s.v.frequency; };
const Probe kVoiceVolume = [](const Seen& s) { return s.v.volume; };
const Probe kStarted = [](const Seen& s) { return (s.c.updateFlags & kUpdateNoteStart) ? 1 : 0; };
const Probe kPlaying = [](const Seen& s) { return s.v.sample == nullptr ? -1 : s.v.posInt; };
const Probe kFt2Step = [](const Seen& s) { return int(s.f.step); };
const Probe kFt2Playing = [](const Seen& s) { return s.f.on ? int(s.f.position >> 16) : -1; };
const Probe kTickFrames = [](const Seen& s) { return s.song.samplesPerTick; };
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
                seen.push_back(probe({Ch(channel), Voice(channel), f, *m, player->song}));
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
