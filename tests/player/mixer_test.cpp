#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <memory>
#include <utility>

#include "player/mixer.h"
#include "player/module.h"
#include "player/player.h"
#include "player/replay.h"

namespace {

struct TestSample {
    std::vector<int16_t> storage;
    Sample s{};
    TestSample(std::vector<int16_t> values, uint8_t mode, uint32_t loopStart, uint32_t loopLength) {
        storage.assign(values.size() + 10, 0);
        std::copy(values.begin(), values.end(), storage.begin() + 1);
        s.data = storage.data() + 1;
        s.length = static_cast<uint32_t>(values.size());
        s.loopMode = mode;
        s.loopStart = loopStart;
        s.loopLength = loopLength;
        s.bits = 16;
    }
};

class MixerTest : public ::testing::Test {
protected:
    std::unique_ptr<Player> player = std::make_unique<Player>();
    MixVoice* VoicePool = player->VoicePool;

    void SetUp() override { InitPlayer(*player, 44100); }
    void MixVoices(float* destination, int32_t frames) { ::MixVoices(*player, destination, frames); }
    // A voice starting from silence, so it ramps up to its gains.
    MixVoice& Ramping(Sample* s, int gain) {
        MixVoice& v = VoicePool[0];
        v.sample = s;
        v.direction = 1;
        v.leftGain = v.rightGain = gain;
        return v;
    }
    // A voice already at its gains, so no ramp runs.
    MixVoice& Steady(Sample* s, int gain) {
        MixVoice& v = Ramping(s, gain);
        v.lastLeftGain = v.lastRightGain = gain;
        v.leftLevel = v.rightLevel = gain * 256;
        return v;
    }
};

TEST_F(MixerTest, RampFromNoteStartReachesExactLevels) {
    TestSample t(std::vector<int16_t>(400, 1000), kLoopNone, 0, 400);
    MixVoice& v = Ramping(&t.s, 200);
    std::vector<float> buf(2 * 200, 0.0f);
    MixVoices(buf.data(), 200);
    EXPECT_EQ(buf[0], 0.0f);
    for (int k : {1, 64, 127}) {
        EXPECT_NEAR(buf[2 * k], 1000.0 * k * 200 / 255 / 128, 0.05) << k;
    }
    EXPECT_EQ(v.leftLevel, 200 * 256);
    EXPECT_EQ(v.rightLevel, 200 * 256);
    EXPECT_EQ(v.rampRemaining, 0);
    EXPECT_FLOAT_EQ(buf[2 * 150], static_cast<float>(1000.0 * static_cast<float>(200 * (1.0f / 255))));
}

TEST_F(MixerTest, RampInterruptedContinuesAcrossCalls) {
    TestSample t(std::vector<int16_t>(400, 1000), kLoopNone, 0, 400);
    MixVoice& v = Ramping(&t.s, 255);
    std::vector<float> buf(2 * 200, 0.0f);
    MixVoices(buf.data(), 50);
    EXPECT_EQ(v.rampRemaining, 78);
    MixVoices(buf.data() + 100, 78);
    EXPECT_EQ(v.rampRemaining, 0);
    EXPECT_EQ(v.leftLevel, 255 * 256);
    MixVoices(buf.data(), 0);
    EXPECT_EQ(v.posInt, 128);
}

TEST_F(MixerTest, StepHalfGivesExactInterpolatedFloats) {
    TestSample t({100, 301, -7, 12, 0, 0}, kLoopNone, 0, 6);
    MixVoice& v = Steady(&t.s, 255);
    v.stepInt = 0;
    v.stepFrac = 0x80000000u;
    std::vector<float> buf(2 * 6, 0.0f);
    MixVoices(buf.data(), 6);
    const float g = static_cast<float>(255 * static_cast<double>(1.0f / 255));
    const double expect[6] = {100, 200.5, 301, 147, -7, 2.5};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(buf[2 * k], static_cast<float>(expect[k] * g)) << k;
        EXPECT_EQ(buf[2 * k + 1], buf[2 * k]);
    }
}

TEST_F(MixerTest, EndWithoutLoopSilencesVoice) {
    TestSample t({1000, 1000, 1000}, kLoopNone, 0, 3);
    MixVoice& v = Steady(&t.s, 255);
    v.stepFrac = 0x80000000u; // 1.5 samples per frame
    std::vector<float> buf(2 * 8, 0.0f);
    MixVoices(buf.data(), 8);
    EXPECT_EQ(v.sample, nullptr);
    EXPECT_EQ(v.posInt, 0);
    EXPECT_FLOAT_EQ(buf[2], 1000.0f * (255 * (1.0f / 255))); // position 1.5
    for (int k = 2; k < 8; ++k) {
        EXPECT_EQ(buf[2 * k], 0.0f) << k;
    }
}

TEST_F(MixerTest, ForwardWrapLandsAtLoopStartPlusOvershoot) {
    TestSample t({0, 1, 2, 3, 4, 5, 6, 7}, kLoopForward, 2, 6);
    MixVoice& v = Steady(&t.s, 255);
    v.posInt = 7;
    v.stepInt = 1;
    v.stepFrac = 0x40000000u; // overshoots loop end 8 by 0.25
    std::vector<float> buf(2, 0.0f);
    MixVoices(buf.data(), 1);
    EXPECT_EQ(v.posInt, 2);
    EXPECT_EQ(v.posFrac, 0x40000000u);
}

TEST_F(MixerTest, ForwardWrapBelowZeroStartStops) {
    // 1 + 2^-25 samples before the end of a loop at 0: the shifted division
    // drops the fraction and counts one frame, so the run stops just short of
    // the end and the wrap lands a fraction below 0. It must stop there.
    TestSample t({5, 6, 7, 8}, kLoopForward, 0, 4);
    t.storage[0] = 0; // the entry before data[0]
    MixVoice& v = Steady(&t.s, 255);
    v.posInt = 2;
    v.posFrac = 0xFFFFFF80u;
    std::vector<float> buf(2 * 3, 0.0f);
    MixVoices(buf.data(), 1);
    EXPECT_EQ(v.posInt, -1);
    EXPECT_EQ(v.posFrac, 0xFFFFFF80u);
    MixVoices(buf.data() + 2, 2);
    // Next frame interpolates from the zero entry to data[0] with a weight a hair below 1.
    const float g = static_cast<float>(255 * static_cast<double>(1.0f / 255));
    const double w = static_cast<double>(0xFFFFFF80u >> 1) / 2147483648.0;
    EXPECT_EQ(buf[2], static_cast<float>(w * 5 * g));
    EXPECT_EQ(v.posInt, 1);
    EXPECT_EQ(v.sample, &t.s);
}

TEST_F(MixerTest, LargestStepStaysInsideItsLoop) {
    for (uint8_t mode : {kLoopForward, kLoopPingPong}) {
        TestSample t({100, 200, 300}, mode, 1, 1);
        MixVoice& v = Steady(&t.s, 255);
        v.stepInt = kMaxStepSamples;
        v.stepFrac = 0x12345678u;
        std::vector<float> buf(2 * 884, 0.0f);
        MixVoices(buf.data(), 884);
        EXPECT_EQ(v.posInt, 1) << int(mode);
        EXPECT_EQ(v.sample, &t.s);
    }
}

TEST_F(MixerTest, PingPongTurnsAtBothEnds) {
    TestSample t({0, 10, 20, 30, 40, 50, 60}, kLoopPingPong, 2, 4);
    MixVoice& v = Steady(&t.s, 255);
    v.posInt = 5;
    v.posFrac = 0x80000000u;
    v.stepFrac = 0; // 1.0: reaches 6.5, half a sample past end 6
    std::vector<float> buf(2, 0.0f);
    MixVoices(buf.data(), 1);
    EXPECT_EQ(v.direction, 2);
    EXPECT_EQ(v.posInt, 5); // 6 - 0.5 - one unit
    EXPECT_EQ(v.posFrac, 0x7FFFFFFFu);
    v.posInt = 2;
    v.posFrac = 0x40000000u;
    std::vector<float> buf2(2, 0.0f);
    MixVoices(buf2.data(), 1); // to 1.25: 0.75 below start
    EXPECT_EQ(v.direction, 1);
    EXPECT_EQ(v.posInt, 2);
    EXPECT_EQ(v.posFrac, 0xBFFFFFFFu);
}

TEST_F(MixerTest, EmptySampleSilencedAtOnce) {
    MixVoice& v = Steady(&EmptySample, 255);
    std::vector<float> buf(4, 0.0f);
    MixVoices(buf.data(), 2);
    EXPECT_EQ(v.sample, nullptr);
    EXPECT_EQ(buf[0], 0.0f);
}

TEST_F(MixerTest, ARampOnOneSideLeavesTheOtherSideWhereItIs) {
    // Both sides ramp up; halfway the left gain changes while the right one
    // now equals its level. Carried on in the next run, the right side must not
    // go on with its old step: it would drift past its gain, below 0 and, read
    // back as unsigned, to a gain in the millions.
    TestSample t(std::vector<int16_t>(4000, 1000), kLoopForward, 0, 4000);
    MixVoice& v = Ramping(&t.s, 100);
    std::vector<float> buf(2 * 64, 0.0f);
    MixVoices(buf.data(), 64);
    v.leftGain = 20;
    v.rightGain = v.rightLevel >> 8;
    const int32_t right = v.rightLevel;
    MixVoices(buf.data(), 10);
    std::fill(buf.begin(), buf.end(), 0.0f);
    MixVoices(buf.data(), 10);
    EXPECT_EQ(v.rightLevel, right);
    EXPECT_EQ(buf[2 * 9 + 1], buf[1]);
}

TEST(ConvertToPcm16Test, TiesToEvenAndClipping) {
    const float in[8] = {2.5f, 3.5f, -2.5f, 32767.5f, 40000.0f, -40000.0f, -32768.4f, 0.49f};
    int16_t out[8] = {};
    ConvertToPcm16(out, in, 4);
    const int16_t expect[8] = {2, 4, -2, 32767, 32767, -32768, -32768, 0};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(out[i], expect[i]) << i;
    }
    int16_t untouched[2] = {9, 9};
    ConvertToPcm16(untouched, in, 0);
    EXPECT_EQ(untouched[0], 9);
}

TEST(SetBpmTest, FramesPerTickRoundDown) {
    Module m{};
    auto player = std::make_unique<Player>();
    InitPlayer(*player, 44100);
    player->module = &m;
    // 44100 * 2.5 / bpm, rounded down; 42 is where single precision falls a frame short.
    const std::pair<int, int> cases[] = {{32, 3445}, {42, 2625}, {125, 882}, {183, 602}, {255, 432}};
    for (const auto& [bpm, frames] : cases) {
        SetBpm(*player, bpm);
        EXPECT_EQ(m.samplesPerTick, frames) << bpm;
        EXPECT_EQ(m.bpm, bpm);
    }
    InitPlayer(*player, 50); // a tick always has at least one frame
    player->module = &m;
    SetBpm(*player, 255);
    EXPECT_EQ(m.samplesPerTick, 1);
}

} // namespace
