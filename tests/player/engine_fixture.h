// Loads an in-memory song through the real loader and starts it the way
// playback does, without a wave device: the tests then drive PlayTick.
#pragma once

#include <gtest/gtest.h>

#include "player/audio_output.h"
#include "player/mixer.h"
#include "player/module.h"
#include "player/replay.h"
#include "tests/player/xm_image.h"

// A short looping 8-bit sample at C-4 with no relative note or finetune.
inline XmSampleDesc PlainSample(uint8_t volume = 64, uint8_t relativeNote = 0) {
    XmSampleDesc s{16, 0, 16, 0x01, std::vector<uint8_t>(16, 4)};
    s.volume = volume;
    s.finetune = 0;
    s.relativeNote = relativeNote;
    return s;
}

class EngineTest : public ::testing::Test {
protected:
    Module* m = nullptr;

    void SetUp() override {
        g_mixingRate = 44100;
        rampLength = 128;
        rampReciprocal = 1.0f / 128;
        for (int i = 0; i < kVoiceCount; ++i) {
            VoicePool[i] = MixVoice{};
            VoicePool[i].number = i;
            VoicePool[i].stepInt = 1;
        }
    }
    void TearDown() override { FreeModule(m); }

    void Play(const XmImage& image) {
        memstream::Serve(image.bytes);
        m = LoadModule("#101");
        ASSERT_NE(m, nullptr);
        m->globalVolume = m->initialGlobalVolume;
        m->nextRow = m->nextOrder = -1;
        m->speed = m->defaultTempo;
        m->row = m->orderIndex = m->samplesLeft = m->tick = m->patternDelay = 0;
        SetBpm(m, m->defaultBpm);
        for (int i = 0; i < m->channelCount; ++i) {
            TrackChannels[i] = TrackChannel{};
            TrackChannels[i].voice = &VoicePool[i];
            TrackChannels[i].index = i;
        }
    }
    // Plays one whole row from its start; returns the number of ticks it took.
    int PlayRow() {
        EXPECT_EQ(m->tick, 0);
        int ticks = 0;
        do {
            PlayTick(m);
            ++ticks;
        } while (m->tick != 0 && ticks < 1000);
        return ticks;
    }
    static TrackChannel& Channel(int i) { return TrackChannels[i]; }
    static MixVoice& Voice(int i) { return VoicePool[i]; }
};
