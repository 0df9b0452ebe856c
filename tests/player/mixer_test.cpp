// The mixer's run logic on the scalar reference path, which every other path
// matches bit for bit (mix_paths_test): where a voice ends up at a loop's end,
// and the gain ramps.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numeric>
#include <vector>

#include "player/mix/mix_runs.h"
#include "player/mix/mixer.h"
#include "player/format/module.h"
#include "player/player.h"
#include "player/engine/replay.h"

namespace {

// 16-bit values behind one zero entry, with zeros after them.
struct TestSample {
    std::vector<int16_t> storage;
    Sample s{};
    TestSample(std::vector<int16_t> values, uint8_t mode, uint32_t loopStart, uint32_t loopLength) {
        storage.assign(values.size() + 10, 0);
        std::copy(values.begin(), values.end(), storage.begin() + 1);
        s.data = storage.data() + 1;
        s.length = static_cast<uint32_t>(values.size());
        s.loopStart = loopStart;
        s.loopLength = loopLength;
        s.loopMode = mode;
        s.bits = 16;
    }
};

class MixerTest : public ::testing::Test {
protected:
    std::unique_ptr<Player> player = std::make_unique<Player>();
    MixVoice& v = player->VoicePool[0];

    MixPath before = CurrentMixPath();

    void SetUp() override {
        InitPlayer(*player, 44100);
        SetMixPath(MixPath::Scalar);
    }
    void TearDown() override { SetMixPath(before); }
    void Mix(float* destination, int32_t frames) { MixVoices(*player, destination, frames); }
    // From silence, so the voice ramps up to its gains.
    void Ramping(Sample* s, int gain) {
        v = MixVoice{};
        v.sample = s;
        v.direction = v.stepInt = 1;
        v.leftGain = v.rightGain = gain;
    }
    // Already at its gains: no ramp runs.
    void Steady(Sample* s, int gain) {
        Ramping(s, gain);
        v.lastLeftGain = v.lastRightGain = gain;
        v.leftLevel = v.rightLevel = gain * 256;
    }
};

TEST_F(MixerTest, RunsEndWrapAndTurnWhereTheLoopSays) {
    constexpr int64_t kAny = -1;
    const double g = static_cast<float>(255 * static_cast<double>(1.0f / 255)); // gain 255
    struct Case {
        const char* name;
        std::vector<int16_t> values;
        uint8_t mode;
        uint32_t loopStart, loopLength;
        int32_t posInt;
        uint32_t posFrac;
        int32_t direction, stepInt;
        uint32_t stepFrac;
        std::vector<int32_t> calls; // frames per call
        int32_t endInt;
        int64_t endFrac;      // kAny: not checked
        int32_t endDirection; // 0: not checked
        bool playing;
        std::vector<double> left; // each frame's value before the gain; NaN: not checked
    };
    const double nan = std::nan("");
    const double belowOne = static_cast<double>(0xFFFFFF80u >> 1) / 2147483648.0;
    const Case cases[] = {
        // clang-format off
        {"half steps interpolate", {100, 301, -7, 12, 0, 0}, kLoopNone, 0, 6,
         0, 0, 1, 0, 0x80000000u, {6}, 3, 0, 1, true, {100, 200.5, 301, 147, -7, 2.5}},
        {"the end of an unlooped sample silences", {1000, 1000, 1000}, kLoopNone, 0, 3,
         0, 0, 1, 1, 0x80000000u, {8}, 0, 0, 1, false, {1000, 1000, 0, 0, 0, 0, 0, 0}},
        {"a forward wrap keeps the overshoot", {0, 1, 2, 3, 4, 5, 6, 7}, kLoopForward, 2, 6,
         7, 0, 1, 1, 0x40000000u, {1}, 2, 0x40000000u, 1, true, {7}},
        // 1 + 2^-25 samples before the end of a loop at 0: the shifted division
        // drops the fraction, so the run stops just short and the wrap lands a
        // hair below 0. It must stop there and read the zero entry before data[0].
        {"a wrap below a loop at 0 stops there", {5, 6, 7, 8}, kLoopForward, 0, 4,
         2, 0xFFFFFF80u, 1, 1, 0, {1}, -1, 0xFFFFFF80u, 1, true, {nan}},
        {"and goes on from there", {5, 6, 7, 8}, kLoopForward, 0, 4,
         2, 0xFFFFFF80u, 1, 1, 0, {1, 2}, 1, kAny, 1, true, {nan, belowOne * 5}},
        {"ping-pong turns at the end", {0, 10, 20, 30, 40, 50, 60}, kLoopPingPong, 2, 4,
         5, 0x80000000u, 1, 1, 0, {1}, 5, 0x7FFFFFFFu, 2, true, {55}},
        {"and at the start", {0, 10, 20, 30, 40, 50, 60}, kLoopPingPong, 2, 4,
         2, 0x40000000u, 2, 1, 0, {1}, 2, 0xBFFFFFFFu, 1, true, {22.5}},
        {"the largest step stays in a forward loop", {100, 200, 300}, kLoopForward, 1, 1,
         0, 0, 1, kMaxStepSamples, 0x12345678u, {884}, 1, kAny, 1, true, {100}},
        {"and in a ping-pong loop", {100, 200, 300}, kLoopPingPong, 1, 1,
         0, 0, 1, kMaxStepSamples, 0x12345678u, {884}, 1, kAny, 0, true, {100}},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestSample t(c.values, c.mode, c.loopStart, c.loopLength);
        Steady(&t.s, 255);
        v.posInt = c.posInt;
        v.posFrac = c.posFrac;
        v.direction = c.direction;
        v.stepInt = c.stepInt;
        v.stepFrac = c.stepFrac;
        std::vector<float> buf(2 * static_cast<size_t>(std::accumulate(c.calls.begin(), c.calls.end(), 0)));
        float* out = buf.data();
        for (int32_t frames : c.calls) {
            Mix(out, frames);
            out += 2 * frames;
        }
        EXPECT_EQ(v.sample != nullptr, c.playing);
        EXPECT_EQ(v.posInt, c.endInt);
        if (c.endFrac != kAny) {
            EXPECT_EQ(v.posFrac, static_cast<uint32_t>(c.endFrac));
        }
        EXPECT_TRUE(c.endDirection == 0 || v.direction == c.endDirection);
        for (size_t k = 0; k < c.left.size(); ++k) {
            if (!std::isnan(c.left[k])) {
                EXPECT_EQ(buf[2 * k], static_cast<float>(c.left[k] * g)) << k;
            }
            EXPECT_EQ(buf[2 * k + 1], buf[2 * k]) << k;
        }
    }
    // The shared empty sample has no data to read: it falls silent at once.
    Steady(&EmptySample, 255);
    std::vector<float> buf(4, 0.0f);
    Mix(buf.data(), 2);
    EXPECT_EQ(v.sample, nullptr);
    EXPECT_EQ(buf[0], 0.0f);
}

TEST_F(MixerTest, ARampFromNoteStartGoesOnAcrossCallsToTheExactLevels) {
    TestSample t(std::vector<int16_t>(400, 1000), kLoopNone, 0, 400);
    Ramping(&t.s, 200);
    std::vector<float> buf(2 * 200, 0.0f);
    Mix(buf.data(), 50);
    EXPECT_EQ(v.rampRemaining, 78);
    Mix(buf.data() + 100, 150);
    EXPECT_EQ(buf[0], 0.0f);
    for (int k : {1, 64, 127}) {
        EXPECT_NEAR(buf[2 * k], 1000.0 * k * 200 / 255 / 128, 0.05) << k;
    }
    EXPECT_EQ(v.leftLevel, 200 * 256);
    EXPECT_EQ(v.rightLevel, 200 * 256);
    EXPECT_EQ(v.rampRemaining, 0);
    EXPECT_EQ(v.posInt, 200);
    EXPECT_FLOAT_EQ(buf[2 * 150], static_cast<float>(1000.0 * static_cast<float>(200 * (1.0f / 255))));
}

TEST_F(MixerTest, ARampOnOneSideLeavesTheOtherSideWhereItIs) {
    // Both sides ramp up; halfway the left gain changes while the right one
    // now equals its level. Carried on in the next run, the right side must not
    // go on with its old step: it would drift past its gain, below 0 and, read
    // back as unsigned, to a gain in the millions.
    TestSample t(std::vector<int16_t>(4000, 1000), kLoopForward, 0, 4000);
    Ramping(&t.s, 100);
    std::vector<float> buf(2 * 64, 0.0f);
    Mix(buf.data(), 64);
    v.leftGain = 20;
    v.rightGain = v.rightLevel >> 8;
    const int32_t right = v.rightLevel;
    Mix(buf.data(), 10);
    std::fill(buf.begin(), buf.end(), 0.0f);
    Mix(buf.data(), 10);
    EXPECT_EQ(v.rightLevel, right);
    EXPECT_EQ(buf[2 * 9 + 1], buf[1]);
}

// At an output rate far below any device's a tick still has a frame.
TEST(SetBpmTest, ATickHasAtLeastOneFrame) {
    Module m{};
    auto player = std::make_unique<Player>();
    InitPlayer(*player, 50);
    player->module = &m;
    SetBpm(*player, 255);
    EXPECT_EQ(m.samplesPerTick, 1);
}

} // namespace
