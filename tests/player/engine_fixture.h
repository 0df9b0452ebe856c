// Loads an in-memory song through the real loader and starts it the way
// playback does, without a wave device: the tests then drive PlayTick.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "player/mixer.h"
#include "player/module.h"
#include "player/player.h"
#include "player/engine.h"
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
    std::unique_ptr<Player> player = std::make_unique<Player>();
    Module* m = nullptr;

    void SetUp() override { InitPlayer(*player, 44100); }
    void TearDown() override { FreeModule(m); }

    void Play(const XmImage& image) {
        m = LoadModuleFromMemory(image.bytes.data(), image.bytes.size());
        ASSERT_NE(m, nullptr);
        StartSong(*player, m, RuleSet::Tinsel);
    }
    // Plays one whole row from its start; returns the number of ticks it took.
    int PlayRow() {
        EXPECT_EQ(m->tick, 0);
        int ticks = 0;
        do {
            PlayTick(*player);
            ++ticks;
        } while (m->tick != 0 && ticks < 1000);
        return ticks;
    }
    ::Channel& Ch(int i) { return player->channels[i]; }
    MixVoice& Voice(int i) { return player->VoicePool[i]; }
};
