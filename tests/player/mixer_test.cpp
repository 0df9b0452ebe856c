// The mixer's run logic on the scalar reference path, which every other path
// matches bit for bit (mix_paths_test): where a voice ends up at a loop's end,
// and the gain ramps.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "player/mix/mix_runs.h"
#include "player/mix/mixer.h"
#include "player/format/module.h"
#include "player/player.h"
#include "tests/player/sine_thd.h"

namespace {

using sine_thd::GuardedSample;

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
         5, 0x80000000u, 1, 1, 0, {1}, 5, 0x7FFFFFFFu, 2, true, {50}},
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
        GuardedSample t(c.values, c.mode, c.loopStart, c.loopLength);
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

// A ramp from a note's start goes on across calls to the exact levels. A
// ramp on one side leaves the other side where it is: carried on in the next
// run, the side now at its gain must not go on with its old step, or it would
// drift past its gain, below 0 and, read back as unsigned, to a gain in the
// millions. With the ramp off a note's attack is the sample as stored from its
// first frame, and a gain change is heard at once.
TEST_F(MixerTest, GainsRampAcrossCallsOneSideAtATimeOrNotAtAll) {
    GuardedSample t(std::vector<int16_t>(4000, 1000), kLoopForward, 0, 4000);
    const auto heard = [](int gain) {
        return static_cast<float>(1000.0 * static_cast<float>(gain * (1.0f / 255)));
    };
    std::vector<float> buf(2 * 200, 0.0f);
    Ramping(&t.s, 200);
    Mix(buf.data(), 50);
    EXPECT_EQ(v.rampRemaining, 78);
    Mix(buf.data() + 100, 150);
    EXPECT_EQ(buf[0], 0.0f);
    for (int k : {1, 64, 127})
        EXPECT_NEAR(buf[2 * k], 1000.0 * k * 200 / 255 / 128, 0.05) << k;
    EXPECT_EQ(std::vector<int>({v.leftLevel, v.rightLevel, v.rampRemaining, v.posInt}),
              std::vector<int>({200 * 256, 200 * 256, 0, 200}));
    EXPECT_FLOAT_EQ(buf[2 * 150], heard(200));

    Ramping(&t.s, 100);
    Mix(buf.data(), 64);
    v.leftGain = 20;
    v.rightGain = v.rightLevel >> 8;
    const int32_t right = v.rightLevel;
    Mix(buf.data(), 10);
    std::fill(buf.begin(), buf.end(), 0.0f);
    Mix(buf.data(), 10);
    EXPECT_EQ(v.rightLevel, right);
    EXPECT_EQ(buf[2 * 9 + 1], buf[1]);

    std::fill(buf.begin(), buf.end(), 0.0f);
    Ramping(&t.s, 200);
    SetRamp(*player, Ramp::Off);
    Mix(buf.data(), 10);
    v.leftGain = 100;
    Mix(buf.data() + 20, 10);
    EXPECT_EQ(std::vector<float>({buf[0], buf[19], buf[20], buf[21]}),
              std::vector<float>({heard(200), heard(200), heard(100), heard(200)}));
}

// Every interpolation reads past a loop's ends what playing on would give:
// mixing a looping sample equals mixing the same sample written out without a
// loop, over many passes, whatever the loop's length against the kernel's
// width, and before the first pass the sample's own entries. Forward loops
// give the same floats; ping-pong ones the same values but for the tiny
// difference of a mirrored position's last bit.
TEST_F(MixerTest, LoopsAndEndsReadWhatPlayingOnGives) {
    struct Case {
        const char* name;
        uint8_t mode;
        uint32_t length, loopStart, loopLength;
        double step;
    };
    const Case cases[] = {
        {"forward, long loop", kLoopForward, 900, 300, 600, 0.37},
        {"forward, loop shorter than the kernel", kLoopForward, 40, 33, 7, 0.61},
        {"forward loop at 0, a step of 1.7", kLoopForward, 64, 0, 64, 1.7},
        {"forward, 5.3 samples a frame", kLoopForward, 700, 100, 500, 5.3},
        {"ping-pong, long loop", kLoopPingPong, 900, 300, 600, 0.37},
        {"ping-pong, loop shorter than the kernel", kLoopPingPong, 40, 33, 7, 0.61},
        {"ping-pong loop at 0, a step of 1.7", kLoopPingPong, 64, 0, 64, 1.7},
        {"ping-pong, 5.3 samples a frame", kLoopPingPong, 700, 100, 500, 5.3},
        {"no loop: the end", kLoopNone, 3000, 0, 3000, 0.83},
    };
    constexpr int32_t kFrames = 6000;
    std::mt19937 rng(25);
    for (const Interpolation kernel :
         {Interpolation::Linear, Interpolation::Nearest, Interpolation::Cubic, Interpolation::Sinc}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(InterpolationName(kernel)) + ": " + c.name);
            std::vector<int16_t> values(c.length);
            for (int16_t& x : values)
                x = static_cast<int16_t>(static_cast<int32_t>(rng() % 40001) - 20000);
            GuardedSample looped(values, c.mode, c.loopStart, c.loopLength);
            // Written out: the entries as the loop plays them on, the end of a
            // ping-pong loop mirrored about its last position (whose entry is
            // the last one again) and its start about its first entry.
            const uint32_t end = c.loopStart + c.loopLength;
            std::vector<int16_t> out(values.begin(), values.begin() + end);
            const size_t total = static_cast<size_t>(kFrames * c.step) + 2 * kSampleGuard + end;
            if (c.mode == kLoopForward) {
                while (out.size() < total)
                    out.push_back(out[out.size() - c.loopLength]);
            } else if (c.mode == kLoopPingPong) {
                while (out.size() < total) {
                    out.push_back(values[end - 1]);
                    for (uint32_t k = end - 1; k > c.loopStart; --k)
                        out.push_back(values[k]);
                    for (uint32_t k = c.loopStart; k < end; ++k)
                        out.push_back(values[k]);
                }
            } else {
                out.resize(total, 0);
            }
            GuardedSample unrolled(out, kLoopNone, 0, static_cast<uint32_t>(out.size()));
            std::vector<float> a(2 * kFrames, 0.0f), b(2 * kFrames, 0.0f);
            const uint64_t step = static_cast<uint64_t>(c.step * 4294967296.0);
            for (auto [sample, buffer] : {std::pair{&looped.s, &a}, std::pair{&unrolled.s, &b}}) {
                Steady(sample, 255);
                v.stepInt = static_cast<int32_t>(step >> 32);
                v.stepFrac = static_cast<uint32_t>(step);
                player->interpolation = kernel;
                // In blocks, so that runs also end between a loop's end and its lead.
                for (int32_t done = 0; done < kFrames; done += 441)
                    Mix(buffer->data() + 2 * done, std::min(441, kFrames - done));
            }
            const int32_t heard = c.mode == kLoopNone ? static_cast<int32_t>(c.length / c.step) : kFrames;
            for (int32_t k = 0; k < heard; ++k) {
                if (c.mode == kLoopPingPong) {
                    ASSERT_NEAR(a[2 * k], b[2 * k], 0.5) << "frame " << k;
                } else {
                    ASSERT_EQ(a[2 * k], b[2 * k]) << "frame " << k;
                }
            }
        }
    }
}

// The windowed sinc keeps everything but the tone of a single-cycle sine 90 dB
// below it (8 entries a cycle played at C-4: its images fall in the audible
// band, plainly heard with linear interpolation).
TEST(Interpolation, SincKeepsASingleCycleSineClean) {
    EXPECT_LT(sine_thd::SineThdN(8, 0, Interpolation::Sinc), -90.0);
    EXPECT_GT(sine_thd::SineThdN(8, 0, Interpolation::Linear), -40.0);
}

} // namespace
