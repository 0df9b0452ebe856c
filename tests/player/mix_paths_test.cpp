// Every inner-loop path of the mixer against the scalar reference, bit for
// bit: random voice states run by run, the 16-bit conversion, whole songs.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <random>
#include <tuple>
#include <type_traits>
#include <vector>

#include "player/output/audio_output.h"
#include "player/mix/ft2_kernels.h"
#include "player/mix/mix_runs.h"
#include "player/mix/mixer.h"
#include "player/format/module.h"
#include "player/player.h"
#include "player/format/song.h"
#include "tests/player/mix_songs.h"

namespace {

constexpr MixPath kFastPaths[] = {MixPath::Sse2, MixPath::Avx2, MixPath::Avx512};
constexpr Interpolation kInterpolations[] = {Interpolation::Linear, Interpolation::Nearest,
                                             Interpolation::Cubic, Interpolation::Sinc};

// Restores the path the process started with, whatever a test chose.
template <typename Param> class PathTest : public ::testing::TestWithParam<Param> {
protected:
    void SetUp() override {
        if (!MixPathAvailable(Path()))
            GTEST_SKIP() << "this processor or build has no " << MixPathName(Path()) << " path";
    }
    void TearDown() override { SetMixPath(m_before); }
    MixPath Path() const {
        if constexpr (std::is_same_v<Param, MixPath>)
            return this->GetParam();
        else
            return std::get<0>(this->GetParam());
    }
    MixPath m_before = CurrentMixPath();
};

using MixPaths = PathTest<MixPath>;

// Each path with each interpolation's loops.
class KernelPaths : public PathTest<std::tuple<MixPath, Interpolation>> {
protected:
    Interpolation Kernel() const { return std::get<1>(GetParam()); }
};

// A sample with room for the reads of the largest step on either side.
struct RandomSample {
    static constexpr uint32_t kRoom = 2 * (kMaxStepSamples + 1);
    std::vector<int16_t> storage;
    Sample s{};
};

// A copy of a sample's entries and the kSampleGuard entries on either side,
// all the loader gives a sample, against a page that cannot be read: before
// them or after them. A read beyond the guard stops the test.
class GuardedCopy {
public:
    GuardedCopy(const Sample& s, bool before) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t entries = s.length + 2 * kSampleGuard;
        const size_t bytes = (entries * sizeof(int16_t) + page - 1) / page * page;
        m_size = bytes + page;
        void* map = mmap(nullptr, m_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) {
            m_size = 0;
            return;
        }
        m_map = static_cast<char*>(map);
        char* wall = before ? m_map : m_map + bytes;
        int16_t* first = before ? reinterpret_cast<int16_t*>(m_map + page)
                                : reinterpret_cast<int16_t*>(m_map + bytes) - entries;
        if (mprotect(wall, page, PROT_NONE) != 0)
            return;
        std::memcpy(first, s.data - kSampleGuard, entries * sizeof(int16_t));
        data = first + kSampleGuard;
    }
    ~GuardedCopy() {
        if (m_map != nullptr)
            munmap(m_map, m_size);
    }
    GuardedCopy(const GuardedCopy&) = delete;
    GuardedCopy& operator=(const GuardedCopy&) = delete;
    int16_t* data = nullptr;

private:
    char* m_map = nullptr;
    size_t m_size = 0;
};

struct Case {
    RandomSample sample;
    MixVoice voice{};
    int32_t rampLength = 128;
    bool rampOff = false;
    std::vector<int32_t> calls; // frames per call, one after the other
    std::vector<float> buffer;
};

Case MakeCase(std::mt19937& rng) {
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    Case c;
    Sample& s = c.sample.s;
    s.length = 1 + pick(pick(4) == 0 ? 8 : 3000);
    c.sample.storage.assign(s.length + 2 * RandomSample::kRoom, 0);
    s.data = c.sample.storage.data() + RandomSample::kRoom;
    for (uint32_t i = 0; i < s.length; ++i)
        s.data[i] =
            static_cast<int16_t>(pick(4) == 0 ? (pick(2) ? 32767 : -32768) : int32_t(pick(65536)) - 32768);
    static const uint8_t kModes[] = {kLoopNone, kLoopForward, kLoopPingPong};
    s.loopMode = kModes[pick(3)];
    s.loopStart = s.loopMode == kLoopNone ? 0 : (pick(3) == 0 ? 0 : pick(s.length));
    s.loopLength = s.loopMode == kLoopNone ? s.length : 1 + pick(s.length - s.loopStart);
    if (s.loopMode == kLoopNone)
        s.loopStart = 0;
    const uint32_t loopEnd = s.loopStart + s.loopLength;

    MixVoice& v = c.voice;
    v.sample = &s;
    // Steps from below a thousandth of a sample to the largest allowed, and
    // just below 1 to 8 samples, where a vector loop's window may fall short.
    switch (pick(4)) {
    case 0:
        v.stepInt = 0;
        v.stepFrac = 256 + pick(1u << 24);
        break;
    case 1:
        v.stepInt = static_cast<int32_t>(pick(5));
        v.stepFrac = static_cast<uint32_t>(rng());
        break;
    case 2:
        v.stepInt = static_cast<int32_t>(pick(8));
        v.stepFrac = 0xFFFFFFFFu - pick(1u << 16);
        break;
    default:
        v.stepInt = static_cast<int32_t>(pick(kMaxStepSamples + 1));
        v.stepFrac = static_cast<uint32_t>(rng());
    }
    // Near a loop end, a loop start or the sample start, inside the part the
    // voice may be in.
    const bool backward = s.loopMode == kLoopPingPong && pick(2) == 0;
    v.direction = backward ? 2 : 1;
    const uint32_t low = backward ? s.loopStart : 0;
    const uint32_t near[] = {low, s.loopStart, loopEnd - 1};
    int64_t at = static_cast<int64_t>(near[pick(3)]) + (pick(2) ? 1 : -1) * static_cast<int64_t>(pick(4));
    at = at < low ? low : (at >= loopEnd ? loopEnd - 1 : at);
    // Where a wider kernel's lead leaves a voice: past a forward loop's end,
    // or before a ping-pong loop's start going backward.
    if (pick(8) == 0 && s.loopMode != kLoopNone)
        at = backward ? static_cast<int64_t>(s.loopStart) - pick(256) : loopEnd + pick(256);
    v.posInt = static_cast<int32_t>(at);
    v.posFrac = pick(4) == 0 ? 0xFFFFFFFFu - pick(256) : static_cast<uint32_t>(rng());

    // Gains, levels and ramps: at rest, continuing, or starting afresh.
    // Silent voices too: the fast paths only move their position.
    const bool silent = pick(6) == 0;
    v.leftGain = silent ? 0 : static_cast<int32_t>(pick(256));
    v.rightGain = silent ? 0 : static_cast<int32_t>(pick(256));
    c.rampLength = 1 + static_cast<int32_t>(pick(256));
    c.rampOff = pick(8) == 0;
    switch (pick(3)) {
    case 0:
        v.lastLeftGain = v.leftGain;
        v.lastRightGain = v.rightGain;
        v.leftLevel = pick(2) ? v.leftGain * 256 : v.leftGain * 256 + static_cast<int32_t>(pick(256));
        v.rightLevel = v.rightGain * 256;
        break;
    case 1:
        v.lastLeftGain = v.leftGain;
        v.lastRightGain = v.rightGain;
        v.leftLevel = static_cast<int32_t>(pick(256 * 256));
        v.rightLevel = static_cast<int32_t>(pick(256 * 256));
        v.rampRemaining = 1 + static_cast<int32_t>(pick(static_cast<uint32_t>(c.rampLength)));
        v.leftStep = (static_cast<float>(pick(512)) - 256.0f) / 255.0f / static_cast<float>(c.rampLength);
        v.rightStep = (static_cast<float>(pick(512)) - 256.0f) / 255.0f / static_cast<float>(c.rampLength);
        break;
    default:
        v.lastLeftGain = static_cast<int32_t>(pick(256));
        v.lastRightGain = static_cast<int32_t>(pick(256));
        v.leftLevel = static_cast<int32_t>(pick(256 * 256));
        v.rightLevel = static_cast<int32_t>(pick(256 * 256));
        v.rampRemaining = static_cast<int32_t>(pick(static_cast<uint32_t>(c.rampLength)));
    }
    int32_t total = 0;
    for (uint32_t k = 1 + pick(3); k != 0; --k) {
        c.calls.push_back(1 + static_cast<int32_t>(pick(pick(2) ? 16 : 1500)));
        total += c.calls.back();
    }
    c.buffer.resize(2 * static_cast<size_t>(total));
    // Some +0 entries, which a silent voice's -0 products must leave +0.
    for (float& f : c.buffer)
        f = pick(8) == 0 ? 0.0f : static_cast<float>(static_cast<int32_t>(rng() % 2000001) - 1000000) / 7.0f;
    return c;
}

// Runs the case's calls through the current path; the voice may end silent.
void Mix(Case& c, Interpolation kernel) {
    float* out = c.buffer.data();
    for (int32_t frames : c.calls) {
        if (c.voice.sample != nullptr)
            MixVoiceRuns(c.voice, out, frames, c.rampOff ? 0 : c.rampLength,
                         c.rampOff ? 0.0f : 1.0f / static_cast<float>(c.rampLength), CurrentMixKernels(),
                         kernel);
        out += 2 * frames;
    }
}

TEST_P(KernelPaths, RandomVoiceStatesMixTheReferenceFloats) {
    std::mt19937 rng(20261207);
    for (int i = 0; i < 4000; ++i) {
        Case reference = MakeCase(rng);
        Case fast = reference;
        fast.voice.sample = &fast.sample.s;
        const GuardedCopy guarded(reference.sample.s, i % 2 == 0);
        ASSERT_NE(guarded.data, nullptr);
        fast.sample.s.data = guarded.data;
        ASSERT_TRUE(SetMixPath(MixPath::Scalar));
        Mix(reference, Kernel());
        ASSERT_TRUE(SetMixPath(Path()));
        Mix(fast, Kernel());
        ASSERT_EQ(std::memcmp(fast.buffer.data(), reference.buffer.data(), reference.buffer.size() * 4), 0)
            << "case " << i;
        const MixVoice& a = fast.voice;
        const MixVoice& b = reference.voice;
        ASSERT_EQ(a.sample == nullptr, b.sample == nullptr) << "case " << i;
        ASSERT_EQ(std::make_tuple(a.posInt, a.posFrac, a.direction, a.leftLevel, a.rightLevel,
                                  a.rampRemaining, a.lastLeftGain, a.lastRightGain),
                  std::make_tuple(b.posInt, b.posFrac, b.direction, b.leftLevel, b.rightLevel,
                                  b.rampRemaining, b.lastLeftGain, b.lastRightGain))
            << "case " << i;
        ASSERT_EQ(std::memcmp(&a.leftStep, &b.leftStep, 4) | std::memcmp(&a.rightStep, &b.rightStep, 4), 0);
    }
}

TEST_P(MixPaths, ConversionRoundsAndClipsAsTheReference) {
    std::vector<float> in = {0.5f,     1.5f,     2.5f,        -0.5f,     -1.5f,     -2.5f,  -0.0f,  0.0f,
                             32766.5f, 32767.5f, 32768.5f,    -32767.5f, -32768.5f, 1e6f,   -1e6f,  3e9f,
                             -3e9f,    1e-30f,   0.49999997f, 40000.0f,  -40000.0f, 12.25f, -7.75f, 65535.5f};
    std::mt19937 rng(7);
    while (in.size() < 4096 + 6)
        in.push_back(static_cast<float>(static_cast<int32_t>(rng() % 140001) - 70000) /
                     (rng() % 2 ? 2.0f : 7.0f));
    const int32_t frames = static_cast<int32_t>(in.size() / 2);
    std::vector<int16_t> reference(in.size()), fast(in.size(), 0x5555);
    ASSERT_TRUE(SetMixPath(MixPath::Scalar));
    ConvertToPcm16(reference.data(), in.data(), frames);
    ASSERT_TRUE(SetMixPath(Path()));
    ConvertToPcm16(fast.data(), in.data(), 0);
    EXPECT_EQ(fast[0], 0x5555);
    // From an odd frame on too, so the vector loop meets unaligned data and a tail.
    ConvertToPcm16(fast.data(), in.data(), 1);
    ConvertToPcm16(fast.data() + 2, in.data() + 2, frames - 1);
    EXPECT_EQ(fast, reference);
    // Nearest, ties to even, then clipped.
    const std::vector<int16_t> expect = {0,      2,     2,     0,      -2,     -2,    0,      0,
                                         32766,  32767, 32767, -32768, -32768, 32767, -32768, 32767,
                                         -32768, 0,     0,     32767,  -32768, 12,    -8,     32767};
    EXPECT_EQ(std::vector<int16_t>(reference.begin(), reference.begin() + 24), expect);
}

TEST_P(KernelPaths, SongsRenderTheReferenceBytes) {
    // The workout songs by both rule sets: ours mixes tinsel rules in floats,
    // the original's mixer FT2 rules in integers (the other interpolations
    // mix both in floats).
    struct Song {
        const char* name;
        uint16_t channels;
        uint32_t seed;
        int blocks;
        RuleSet rules = RuleSet::Tinsel;
    };
    for (const Song& song :
         {Song{"embedded", 0, 0, 1500}, Song{"4 channels", 4, 17, 400}, Song{"10 channels", 10, 1017, 400},
          Song{"32 channels", 32, 2017, 400}, Song{"4 channels, FT2", 4, 17, 400, RuleSet::Ft2},
          Song{"10 channels, FT2", 10, 1017, 400, RuleSet::Ft2},
          Song{"32 channels, FT2", 32, 2017, 400, RuleSet::Ft2}}) {
        const std::vector<uint8_t> image =
            song.channels == 0 ? std::vector<uint8_t>(EmbeddedSong, EmbeddedSong + EmbeddedSongSize)
                               : MixerWorkoutSong(song.channels, song.seed);
        Module* m = LoadModuleFromMemory(image.data(), image.size());
        ASSERT_NE(m, nullptr) << song.name;
        // The wider kernels' reference is slow: a quarter of the blocks.
        const int blocks = Kernel() == Interpolation::Linear ? song.blocks : song.blocks / 4;
        ASSERT_TRUE(SetMixPath(MixPath::Scalar));
        const std::vector<int16_t> reference = RenderBlocks(m, song.rules, blocks, Kernel());
        ASSERT_TRUE(SetMixPath(Path()));
        const std::vector<int16_t> fast = RenderBlocks(m, song.rules, blocks, Kernel());
        FreeModule(m);
        ASSERT_EQ(reference.size(), size_t(blocks) * 884 * 2) << song.name;
        EXPECT_TRUE(fast == reference) << song.name;
    }
}

// The original's inner loop on random runs: any sample data, step, position
// (forward or mirrored backward), buffer address, gains and ramp, mono or
// stereo, from a sample copy that ends at an unreadable page.
TEST_P(MixPaths, Ft2RunsSumTheReferenceIntegers) {
    std::mt19937 rng(20261208);
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    for (int i = 0; i < 4000; ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        RandomSample random;
        Sample& s = random.s;
        s.length = 1 + pick(pick(4) == 0 ? 8 : 3000);
        random.storage.assign(2 * (s.length + 2 * kSampleGuard), 0);
        s.data = random.storage.data() + kSampleGuard;
        s.right = s.data + s.length + 2 * kSampleGuard;
        for (uint32_t k = 0; k <= s.length; ++k)
            for (int16_t* channel : {s.data, s.right})
                channel[k] = static_cast<int16_t>(pick(4) == 0 ? (pick(2) ? 32767 : -32768)
                                                               : int32_t(pick(65536)) - 32768);
        const bool backward = pick(2) == 0, stereo = pick(2) == 0;
        const uint32_t loopStart = pick(s.length);
        const uint32_t mirror = loopStart + s.length - 1;
        const uint32_t step = pick(4) == 0 ? pick(1u << 26) : pick(3) == 0 ? 0 : pick(1u << 18);
        const uint64_t low = uint64_t{backward ? loopStart : 0} << 16;
        const uint64_t end = uint64_t{s.length} << 16;
        const uint64_t position = low + (uint64_t{rng()} << 16 | pick(65536)) % (end - low);
        const uint32_t address = pick(65536);
        // No loop end, no carry of the address inside the run.
        uint32_t count = 1 + pick(pick(2) ? 40 : 1100);
        count = std::min<uint32_t>(count, (65536 - address + 7) / 8);
        if (step != 0)
            count = std::min<uint64_t>(count, (end - 1 - position) / step + 1);
        const int32_t top = 1 << 28;
        const int32_t gainL = static_cast<int32_t>(pick(top)), gainR = static_cast<int32_t>(pick(top));
        const int32_t targetL = pick(3) == 0 ? gainL : static_cast<int32_t>(pick(top));
        const int32_t deltaL = (targetL - gainL) / static_cast<int32_t>(count);
        const int32_t deltaR = (static_cast<int32_t>(pick(top)) - gainR) / static_cast<int32_t>(count);
        std::vector<int32_t> reference(2 * count), fast; // left, then right
        for (int32_t& v : reference)
            v = static_cast<int32_t>(pick(1u << 24)) - (1 << 23);
        fast = reference;
        const GuardedCopy left(s, i % 2 == 0);
        Sample right = s;
        right.data = s.right;
        const GuardedCopy guardedRight(right, i % 2 == 0);
        ASSERT_NE(left.data, nullptr);
        ASSERT_NE(guardedRight.data, nullptr);
        const uint64_t a =
            Ft2KernelsOf(MixPath::Scalar)
                .runs[backward][stereo](s.data, s.right, position, step, mirror, address, reference.data(),
                                        reference.data() + count, count, gainL, gainR, deltaL, deltaR);
        const uint64_t b = Ft2KernelsOf(GetParam())
                               .runs[backward][stereo](left.data, guardedRight.data, position, step, mirror,
                                                       address, fast.data(), fast.data() + count, count,
                                                       gainL, gainR, deltaL, deltaR);
        ASSERT_EQ(a, b);
        ASSERT_EQ(fast, reference);
    }
}

INSTANTIATE_TEST_SUITE_P(, MixPaths, ::testing::ValuesIn(kFastPaths),
                         [](const auto& info) { return std::string(MixPathName(info.param)); });
INSTANTIATE_TEST_SUITE_P(, KernelPaths,
                         ::testing::Combine(::testing::ValuesIn(kFastPaths),
                                            ::testing::ValuesIn(kInterpolations)),
                         [](const auto& info) {
                             return std::string(MixPathName(std::get<0>(info.param))) + "_" +
                                    InterpolationName(std::get<1>(info.param));
                         });

} // namespace
