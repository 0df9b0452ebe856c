// Songs built to work the mixer hard: every loop kind, pitches up to the
// largest steps, slides, vibrato and volume and panning changes that ramp.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "player/engine/effects.h"
#include "player/output/audio_output.h"
#include "player/player.h"
#include "xm_image.h"

inline std::vector<uint8_t> MixerWorkoutSong(uint16_t channels, uint32_t seed) {
    XmImage image(2, 0, channels, 2, 4, 125 + seed % 60, {0, 1});
    image.SetTempo(3);
    image.SetFlags(seed & 1); // both frequency tables
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int p = 0; p < 2; ++p) {
        std::vector<XmCell> cells(64 * channels);
        for (XmCell& c : cells) {
            const uint32_t r = next();
            if (r % 3 == 0) {
                c.note = static_cast<uint8_t>(1 + next() % 96);
                c.instrument = static_cast<uint8_t>(1 + next() % 4);
            }
            if (r % 5 == 0)
                c.volume = static_cast<uint8_t>(0x10 + next() % 0x41);
            static const uint8_t kEffects[] = {kArpeggio,   kPortaUp,     kPortaDown, kTonePorta,   kVibrato,
                                               kSetPanning, kVolumeSlide, kSetVolume, kSampleOffset};
            if (r % 4 == 0) {
                c.effect = kEffects[next() % sizeof kEffects];
                c.parameter = static_cast<uint8_t>(next());
            }
        }
        image.PatternCells(64, cells);
    }
    // Deltas of a rough wave: 8-bit ping-pong, 16-bit forward, 8-bit without
    // loop, and a 16-bit ping-pong loop that starts at the first sample.
    auto wave8 = [&](uint32_t n) {
        std::vector<uint8_t> d(n);
        for (uint8_t& b : d)
            b = static_cast<uint8_t>(next() % 23 - 11);
        return d;
    };
    auto wave16 = [&](uint32_t n) {
        std::vector<uint8_t> d(2 * n);
        for (uint32_t i = 0; i < n; ++i) {
            const uint16_t v = static_cast<uint16_t>(next() % 3001 - 1500);
            d[2 * i] = v & 0xFF;
            d[2 * i + 1] = v >> 8;
        }
        return d;
    };
    image.InstrumentWith(XmInstrumentDesc{}, {{900, 300, 37, 0x02, wave8(900)}});
    image.InstrumentWith(XmInstrumentDesc{}, {{2 * 700, 2 * 11, 2 * 650, 0x11, wave16(700)}});
    image.InstrumentWith(XmInstrumentDesc{}, {{400, 0, 0, 0x00, wave8(400)}});
    image.InstrumentWith(XmInstrumentDesc{}, {{2 * 64, 0, 2 * 3, 0x12, wave16(64)}});
    return image.bytes;
}

// The 16-bit output of blocks blocks of a song from its start, of the
// device's length, as the mixing thread renders them.
inline std::vector<int16_t> RenderBlocks(Module* m, RuleSet rules, int blocks, Interpolation kernel) {
    auto player = std::make_unique<Player>();
    InitPlayer(*player, 44100);
    StartSong(*player, m, rules);
    SetInterpolation(*player, kernel);
    const int32_t length = BlockLengthForRate(44100);
    std::vector<float> mix(2 * static_cast<size_t>(length));
    std::vector<int16_t> pcm(2 * static_cast<size_t>(length) * blocks);
    for (int b = 0; b < blocks; ++b) {
        RenderFrames(*player, mix.data(), length);
        ConvertToPcm16(pcm.data() + 2 * static_cast<size_t>(length) * b, mix.data(), length);
    }
    return pcm;
}
