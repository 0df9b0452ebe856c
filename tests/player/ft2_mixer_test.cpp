// The original tracker's mixer under FT2 rules: the nine songs whose output
// the notes give sample for sample, stereo samples, many channels, seeks.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "player/engine/effects.h"
#include "player/format/module.h"
#include "player/mix/ft2_mixer.h"
#include "player/mix/mixer.h"
#include "player/output/audio_output.h"
#include "player/player.h"
#include "tests/player/xm_image.h"

namespace {

constexpr uint8_t C2 = 25, C3 = 37, C4 = 49, C5 = 61, C6 = 73, OFF = 97;

// One pattern of rows x channels cells (those not given are empty), one
// instrument of one sample, speed 6, 125 BPM, linear periods.
SongSpec Song(int channels, int rows, std::vector<XmCell> cells, XmSampleDesc sample) {
    SongSpec s;
    s.channels = channels;
    s.rows = rows;
    s.patterns = {std::move(cells)};
    s.samples = {std::move(sample)};
    return s;
}

// A DC sample of 100 values, looped whole.
XmSampleDesc Dc(int16_t value = 16384) {
    return Wave(std::vector<int16_t>(100, value), 0, 100, 1);
}

// The 16-bit output of a song from its start, or from a row of order 0 that
// it seeks first, rendered in the device's blocks (which cut across ticks) at
// 44100 Hz and amplification 10.
std::vector<int16_t> Render(const SongSpec& song, int64_t frames, uint32_t muted = 0, int seekRow = -1,
                            Interpolation interpolation = Interpolation::Linear) {
    const XmImage image = Build(song);
    Module* m = LoadModuleFromMemory(image.bytes.data(), image.bytes.size());
    EXPECT_NE(m, nullptr);
    if (m == nullptr)
        return {};
    auto player = std::make_unique<Player>();
    InitPlayer(*player, 44100);
    SetAmplification(*player, 10);
    StartSong(*player, m);
    SetMutedChannels(*player, muted);
    SetInterpolation(*player, interpolation);
    EXPECT_TRUE(seekRow < 0 || SeekTo(*player, 0, seekRow));
    const int32_t block = BlockLengthForRate(44100);
    std::vector<float> mix(2 * static_cast<size_t>(block));
    std::vector<int16_t> pcm(2 * static_cast<size_t>((frames + block - 1) / block * block));
    for (int64_t done = 0; done < frames; done += block) {
        RenderFrames(*player, mix.data(), block);
        ConvertToPcm16(pcm.data() + 2 * done, mix.data(), block);
    }
    pcm.resize(static_cast<size_t>(frames) * 2);
    FreeModule(m);
    return pcm;
}

struct Recipe {
    const char* name;
    SongSpec song;
    int64_t frames;
    bool centred; // left equals right in every frame
};

// Frames from `first` on of recipe number `recipe`: left, and right where it differs.
struct Frames {
    int recipe, first;
    std::vector<int16_t> left, right;
};

// Every frame of first..last holds left and right.
struct Held {
    int recipe, first, last;
    int16_t left, right;
};

std::vector<Recipe> Recipes() {
    XmSampleDesc clip = Wave(std::vector<int16_t>(16, 32767), 0, 16, 1);
    clip.panning = 0;
    const XmCell note{C4, 1};
    return {
        {"1 dc note", Song(2, 2, {note}, Dc()), 10584, true},
        {"2 8-bit one-shot",
         Song(2, 1, {{C5, 1}},
              Wave<int8_t>({0, 16, 32, 48, 64, 80, 96, 112, 127, 90, 50, 10, -30, -70, -110, -128})),
         5292, true},
        {"3 16-bit loop in mid-sample",
         Song(2, 1, {{C6, 1}}, Wave<int16_t>({0, 1000, -1000, 3000, -3000, 8000, 20000, -20000, 5}, 2, 6, 1)),
         5292, true},
        {"4 A0F", Song(2, 2, {note, {}, {0, 0, 0, kVolumeSlide, 0x0F}}, Dc()), 10584, true},
        {"5 new note over a sounding one", Song(2, 2, {note, {}, {C4, 1, 0x30}}, Dc()), 10584, true},
        {"6 EC1 on a negative DC", Song(2, 2, {{C4, 1, 0, kExtended, Ext(kNoteCut, 1)}}, Dc(-16384)), 10584,
         true},
        {"7 8-bit ping-pong",
         Song(2, 1, {{C6, 1}}, Wave<int8_t>({0, 20, 40, 60, 80, 100, -50, -120}, 2, 4, 2)), 5292, true},
        {"8 8FF", Song(2, 2, {note, {}, {0, 0, 0, kSetPanning, 0xFF}}, Dc()), 10584, false},
        {"9 four hard-left channels clip", Song(4, 1, {note, note, note, note}, clip), 5292, false},
    };
}

// clang-format off
const std::vector<int16_t> kDcAttack = {0, 16, 32, 49, 65, 81, 98, 114, 131, 147, 163, 180, 196, 213, 229, 245};
const std::vector<int16_t> kDcAttackEnd = {3540, 3557, 3573, 3589, 3606, 3606, 3606, 3606};
const std::vector<int16_t> kDcSteady(8, 3606);

const std::vector<Frames> kFrames = {
    {1, 0, kDcAttack, {}}, {1, 216, kDcAttackEnd, {}}, {1, 878, kDcSteady, {}},
    {2, 0, {0, 1, 6, 13, 24, 38, 55, 76, 99, 125, 155, 188, 223, 262, 304, 349}, {}},
    {2, 36, {-887, -1049, -1143, -1242, -1088, -605, -98, 0, 0, 0, 0, 0}, {}},
    {3, 0, {0, 0, -1, 0, 11, -9, 18, 82, 138, -118, -89, 4, 28, -29, 53, 188}, {}},
    {3, 216, {-850, 307, 179, -366, 1469, 3446, 906, -3752}, {}},
    {3, 878, {4380, -2298, -2230, 24, 611, -391, 680, 2585}, {}},
    {4, 0, kDcAttack, {}}, {4, 216, kDcAttackEnd, {}}, {4, 878, kDcSteady, {}},
    {4, 6174, {3606, 3605, 3604}, {}}, {4, 6615, {3181}, {}}, {4, 7054, {2759, 2758, 2757, 2756, 2755}, {}},
    {4, 7497, {2333}, {}}, {4, 7936, {1911, 1910, 1909, 1908, 1907}, {}},
    {4, 8379, {1484}, {}}, {4, 8818, {1062, 1061, 1060, 1059, 1058}, {}},
    {4, 9261, {636}, {}}, {4, 9700, {214, 213, 212, 211, 211}, {}},
    {4, 10143, {106}, {}}, {4, 10582, {0, 0}, {}},
    {5, 0, kDcAttack, {}}, {5, 216, kDcAttackEnd, {}}, {5, 878, kDcSteady, {}},
    {5, 5290, {3606, 3606, 3606, 3598, 3589, 3581, 3573, 3565, 3556, 3548, 3540, 3532, 3523, 3515, 3507, 3499}, {}},
    {5, 5508, {1828, 1820, 1812, 1804, 1796, 1796, 1796, 1796}, {}},
    {6, 0, {0, -17, -33, -50, -66, -82, -99, -115, -132, -148, -164, -181, -197, -214, -230, -246}, {}},
    {6, 216, {-3541, -3558, -3574, -3590, -3607, -3607, -3607, -3607}, {}},
    {6, 878, {-3607, -3607, -3607, -3607, -3607, -3590, -3574, -3558}, {}},
    {6, 886, {-3541, -3525, -3508, -3492, -3476, -3459, -3443, -3426, -3410, -3394, -3377, -3361}, {}},
    {6, 1098, {-66, -50, -33, -17, -1, -1, -1, -1}, {}},
    {6, 1760, {-1, -1, -1, -1, 0, 0, 0, 0}, {}},
    {7, 0, {0, 3, 15, 34, 62, 97, 139, 179, 204, 230, 226, 205, 178, 142, 187, 259}, {}},
    {7, 16, {339, 426, 461, 486, 494, 437, 373, 300}, {}},
    {7, 216, {4255, 5117, 5583, 5609, 5634, 4915, 4060, 3205}, {}},
    {7, 878, {2256, 3111, 3966, 4820, 5634, 5634, 5634, 5282}, {}},
    {8, 0, kDcAttack, kDcAttack}, {8, 216, kDcAttackEnd, kDcAttackEnd}, {8, 878, kDcSteady, kDcSteady},
    {8, 5290, {3606, 3606, 3606, 3602, 3598, 3595, 3591, 3587}, {3606, 3606, 3606, 3607, 3609, 3611, 3612, 3614}},
    {8, 5731, {1969, 1966, 1962, 1958}, {4344, 4346, 4348, 4349}},
    {8, 6170, {333, 329, 326, 322, 318, 318, 318, 318}, {5083, 5084, 5086, 5088, 5090, 5090, 5090, 5090}},
    {9, 0, {0, 185, 370, 556, 741, 927, 1112, 1298, 1483, 1669, 1854, 2039, 2225, 2410, 2596, 2781},
     std::vector<int16_t>(16, 0)},
    {9, 172, {31897, 32082, 32268, 32453, 32638, 32767, 32767, 32767}, std::vector<int16_t>(8, 0)},
};

const std::vector<Held> kHeld = {
    {1, 220, 10583, 3606, 3606},
    {2, 43, 5291, 0, 0},
    {5, 5512, 10583, 1796, 1796},
    {6, 1102, 1763, -1, -1}, {6, 1764, 10583, 0, 0},
    {8, 6174, 10583, 318, 5090},
    {9, 177, 5291, 32767, 0},
};
// clang-format on

TEST(Ft2Mixer, RecipesGiveTheOriginalsSamples) {
    const std::vector<Recipe> recipes = Recipes();
    for (int number = 1; number <= static_cast<int>(recipes.size()); ++number) {
        const Recipe& recipe = recipes[static_cast<size_t>(number - 1)];
        SCOPED_TRACE(recipe.name);
        const std::vector<int16_t> pcm = Render(recipe.song, recipe.frames);
        ASSERT_EQ(pcm.size(), static_cast<size_t>(recipe.frames) * 2);
        const auto side = [&](size_t first, size_t count, int channel) {
            std::vector<int16_t> values;
            for (size_t i = first; i < first + count; ++i)
                values.push_back(pcm[2 * i + static_cast<size_t>(channel)]);
            return values;
        };
        for (const Frames& f : kFrames) {
            if (f.recipe == number) {
                EXPECT_EQ(side(f.first, f.left.size(), 0), f.left) << "left from frame " << f.first;
                EXPECT_TRUE(f.right.empty() || side(f.first, f.right.size(), 1) == f.right)
                    << "right from frame " << f.first;
            }
        }
        for (const Held& h : kHeld) {
            const size_t count = static_cast<size_t>(h.last - h.first + 1);
            if (h.recipe == number) {
                EXPECT_EQ(side(h.first, count, 0), std::vector<int16_t>(count, h.left)) << "from " << h.first;
                EXPECT_EQ(side(h.first, count, 1), std::vector<int16_t>(count, h.right))
                    << "from " << h.first;
            }
        }
        EXPECT_TRUE(!recipe.centred || side(0, pcm.size() / 2, 0) == side(0, pcm.size() / 2, 1))
            << "sides differ";
    }
}

// What the loader reads beyond the original's files plays as the trackers
// that write it play it: a stereo sample on both sides (whichever mixer
// sounds it), the 127th channel;
// a sample with type bit 3, which the original reads as "voice off", not at
// all; nor does a muted channel. A seek walks the song without sound, and
// the voices start from silence there: recipe 5's second note rises alone
// to its level.
TEST(Ft2Mixer, StereoSamplesManyChannelsSilentTypeBitsAndSeeks) {
    XmSampleDesc stereo = Dc();
    const std::vector<uint8_t> right = XmImage::Delta(std::vector<int16_t>(100, -16384));
    stereo.data.insert(stereo.data.end(), right.begin(), right.end());
    stereo.lengthBytes *= 2;
    stereo.loopLengthBytes *= 2;
    stereo.type |= kSampleStereo;
    XmSampleDesc off = Dc();
    off.type |= kSampleNeverSounds;
    std::vector<XmCell> last(127);
    last[126] = {C4, 1};
    const struct {
        const char* name;
        SongSpec song;
        int16_t left, right;
        uint32_t muted = 0;
        int seekRow = -1;
        Interpolation interpolation = Interpolation::Linear;
    } cases[] = {
        {"stereo", Song(2, 1, {{C4, 1}}, stereo), 3606, -3607},
        {"stereo, float voices", Song(2, 1, {{C4, 1}}, stereo), 3574, -3574, 0, -1, Interpolation::Cubic},
        {"channel 127", Song(127, 1, last, Dc()), 3606, 3606},
        {"type bit 3", Song(2, 1, {{C4, 1}}, off), 0, 0},
        {"muted", Song(2, 1, {{C4, 1}}, stereo), 0, 0, 1},
        {"after a seek", Song(2, 2, {{C4, 1}, {}, {C4, 1, 0x30}}, Dc()), 1796, 1796, 0, 1},
    };
    for (const auto& c : cases) {
        const std::vector<int16_t> pcm = Render(c.song, 882, c.muted, c.seekRow, c.interpolation);
        ASSERT_EQ(pcm.size(), 2u * 882);
        EXPECT_EQ(std::vector<int16_t>({pcm[0], pcm[1], pcm[2 * 881], pcm[2 * 881 + 1]}),
                  std::vector<int16_t>({0, 0, c.left, c.right}))
            << c.name;
    }
}

// A note and its retrig on the same tick (R01) start two notes at once: the
// second takes back the voice the first handed over, so the sounding note
// restarts in place at its own gain, with no fade-out and no fade-in. On a
// ramp the first frame reads the sample's start, 0; a single start would play
// the old note there (about 1080 into the ramp) at its old gain.
TEST(Ft2Mixer, TwoStartsInOneTickRestartTheVoiceInPlace) {
    std::vector<int16_t> ramp(100);
    for (int i = 0; i < 100; ++i)
        ramp[static_cast<size_t>(i)] = static_cast<int16_t>(i * 300);
    const std::vector<int16_t> pcm =
        Render(Song(2, 2, {{C4, 1}, {}, {C4, 1, 0, kMultiRetrig, 0x01}}, Wave(ramp, 0, 100, 1)), 5293);
    ASSERT_EQ(pcm.size(), 2u * 5293);
    EXPECT_GT(pcm[2 * 5291], 200);
    EXPECT_EQ(pcm[2 * 5292], 0);
}

} // namespace
