// Song length, position, seek and mute on a player instance (the repeat count: tests/lib).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>
#include <vector>

#include "player/engine/effects.h"
#include "player/mix/mixer.h"
#include "player/player.h"
#include "player/engine/replay.h"
#include "player/format/song.h"
#include "tests/player/xm_image.h"

namespace {

constexpr int32_t kRate = 44100;
constexpr int64_t kRow = 6 * 882; // speed 6 at 125 BPM

struct EffectAt {
    int order, row;
    uint8_t effect, parameter;
};

// One channel, no instruments, a pattern of `rows` rows per order with the
// given effects placed in it. Row 0 sets a volume, so that no pattern is
// empty (the original tracker plays an empty pattern as 64 rows).
XmImage SequenceSong(std::vector<int> rows, int restart, const std::vector<EffectAt>& effects) {
    std::vector<uint8_t> orders;
    for (size_t i = 0; i < rows.size(); ++i)
        orders.push_back(static_cast<uint8_t>(i));
    XmImage image(static_cast<uint16_t>(rows.size()), static_cast<uint16_t>(restart), 1,
                  static_cast<uint16_t>(rows.size()), 0, 125, orders);
    for (size_t p = 0; p < rows.size(); ++p) {
        std::vector<XmCell> cells(static_cast<size_t>(rows[p]));
        cells[0].volume = 0x50;
        for (const EffectAt& e : effects)
            if (e.order == static_cast<int>(p))
                cells[static_cast<size_t>(e.row)] = {0, 0, 0x50, e.effect, e.parameter};
        image.PatternCells(static_cast<uint16_t>(rows[p]), cells);
    }
    return image;
}

using ModulePtr = std::unique_ptr<Module, decltype(&FreeModule)>;

TEST(SongLength, CountedByHand) {
    struct Case {
        const char* name;
        std::vector<int> rows;
        int restart;
        std::vector<EffectAt> effects;
        int64_t frames, loopFrames;
        int loopOrder, loopRow;
    };
    const int64_t fastRow = 3 * 882, fastSlowRow = 3 * 735; // F03, then F96 (150 BPM)
    const std::vector<Case> cases = {
        // clang-format off
        {"plain, restart 1", {4, 4, 4}, 1, {}, 12 * kRow, 8 * kRow, 1, 0},
        {"backward jump", {4, 4}, 0, {{1, 1, kPositionJump, 0x00}}, 6 * kRow, 6 * kRow, 0, 0},
        {"pattern loop, twice more",
         {4}, 0, {{0, 0, kExtended, Ext(kPatternLoop, 0)}, {0, 2, kExtended, Ext(kPatternLoop, 2)}},
         10 * kRow, 10 * kRow, 0, 0},
        // The loop's start row carries into the next pass: rows 0 1 2 1 2 1 2 3, then 1 2 ...
        {"pattern loop from row 1",
         {4}, 0, {{0, 1, kExtended, Ext(kPatternLoop, 0)}, {0, 2, kExtended, Ext(kPatternLoop, 2)}},
         9 * kRow, 7 * kRow, 0, 2},
        {"pattern delay of two rows",
         {4}, 0, {{0, 1, kExtended, Ext(kPatternDelay, 2)}}, 6 * kRow, 6 * kRow, 0, 0},
        {"break into row 2 of the next", {4, 4}, 0, {{0, 1, kPatternBreak, 0x02}}, 4 * kRow, 4 * kRow, 0, 0},
        {"break beyond the next pattern", {4, 4}, 0, {{0, 0, kPatternBreak, 0x10}}, 5 * kRow, 5 * kRow, 0, 0},
        {"jump past the end to restart",
         {2, 2, 2}, 1, {{0, 1, kPositionJump, 0x09}}, 6 * kRow, 4 * kRow, 1, 0},
        {"endless jumps between two orders",
         {2, 2}, 0, {{0, 0, kPositionJump, 0x01}, {1, 0, kPositionJump, 0x00}}, 2 * kRow, 2 * kRow, 0, 0},
        // The second pass starts at 150 BPM: all of its rows are fast and slow.
        {"speed and tempo",
         {4}, 0, {{0, 0, kSetSpeedOrTempo, 0x03}, {0, 2, kSetSpeedOrTempo, 0x96}},
         2 * fastRow + 2 * fastSlowRow, 4 * fastSlowRow, 0, 0},
        {"F00 ends the song", {4, 4}, 0, {{1, 2, kSetSpeedOrTempo, 0x00}}, 6 * kRow, 0, 0, 0},
        // clang-format on
    };
    for (const Case& c : cases) {
        const XmImage image = SequenceSong(c.rows, c.restart, c.effects);
        ModulePtr song(LoadModuleFromMemory(image.bytes.data(), image.bytes.size()), FreeModule);
        ASSERT_NE(song, nullptr) << c.name;
        const SongLength length = MeasureSong(*song, kRate);
        // Where the loop starts only counts when there is one.
        const bool loops = c.loopFrames > 0;
        EXPECT_EQ(std::tuple(length.bounded, length.frames, length.loopFrames, loops ? length.loopOrder : 0,
                             loops ? length.loopRow : 0),
                  std::tuple(true, c.frames, c.loopFrames, c.loopOrder, c.loopRow))
            << c.name;
        // The third pass starts as the second did, so it lasts as long.
        EXPECT_EQ(MeasurePasses(*song, kRate, 3), c.frames + 2 * c.loopFrames) << c.name;
    }
}

class DemoSong : public ::testing::Test {
protected:
    ModulePtr song{LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize), FreeModule};
    std::unique_ptr<Player> player = std::make_unique<Player>();
    void SetUp() override {
        ASSERT_NE(song, nullptr);
        InitPlayer(*player, kRate);
        StartSong(*player, song.get());
    }
    // Frames until the engine is about to start (order, row) after frame `after`.
    int64_t EngineFramesTo(int order, int row, int64_t after) {
        const SongState& m = player->song;
        int64_t frames = 0;
        for (int ticks = 0; ticks < 1 << 20; ++ticks) {
            const int next = m.nextOrder >= 0 ? m.nextOrder : m.orderIndex;
            const int nextRow = m.nextRow >= 0 ? m.nextRow : m.row;
            if (m.tick == 0 && next == order && nextRow == row && frames > after)
                return frames;
            PlayTick(*player);
            frames += m.samplesPerTick;
        }
        return -1;
    }
};

TEST_F(DemoSong, LastsItsScoresSeventyFourPointSevenSecondsAndTheEngineAgrees) {
    const SongLength length = MeasureSong(*song, kRate);
    EXPECT_TRUE(length.bounded);
    EXPECT_NEAR(static_cast<double>(length.frames) / kRate, 74.7, 0.05);
    // The walk knows the rules the engine plays by: the engine comes back to
    // the walk's loop row exactly when the walk says.
    const int64_t firstVisit = EngineFramesTo(length.loopOrder, length.loopRow, -1);
    ASSERT_GE(firstVisit, 0);
    StartSong(*player, song.get());
    EXPECT_EQ(EngineFramesTo(length.loopOrder, length.loopRow, firstVisit), length.frames);
    EXPECT_EQ(EngineFramesTo(length.loopOrder, length.loopRow, 0), length.loopFrames);
}

TEST_F(DemoSong, SeekLandsOnTheRowWithTheTimePlaybackReachesItAt) {
    const int64_t frames = EngineFramesTo(3, 8, -1);
    ASSERT_GT(frames, 0);
    ASSERT_TRUE(SeekTo(*player, 3, 8));
    EXPECT_EQ(player->framesPlayed, frames);
    std::vector<float> block(2 * 64);
    RenderFrames(*player, block.data(), 64);
    const PlayPosition at = CurrentPosition(*player);
    EXPECT_EQ(std::tuple(at.order, at.pattern, at.row, at.tick, at.frame),
              std::tuple(3, int(song->orderTable[3]), 8, 0, frames + 64));
    EXPECT_DOUBLE_EQ(at.seconds, static_cast<double>(frames + 64) / kRate);
}

// Muted mid-song, every channel falls silent within one ramp; unmuted, the
// song sounds again. (Which channels a mask mutes: the renderer's stems.)
TEST_F(DemoSong, MutedChannelsFallSilentWithinOneRampAndComeBack) {
    std::vector<float> block(2 * kRate);
    for (uint32_t muted : {0u, ~0u, 0u}) {
        SetMutedChannels(*player, muted);
        RenderFrames(*player, block.data(), kRate);
        const auto first = block.begin() + 2 * player->rampLength;
        EXPECT_EQ(std::all_of(first, block.end(), [](float v) { return v == 0.0f; }), muted != 0) << muted;
    }
}

} // namespace
