// The seed corpus: each module loads and plays, each picture loads, and the
// checked-in files are exactly what the generator makes.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "base/exception.h"
#include "data/tga.h"
#include "player/format/module.h"
#include "player/player.h"
#include "tests/common/test_util.h"
#include "fuzz/seeds/seeds.h"

namespace {

const std::filesystem::path kCorpus = std::filesystem::path(TINSEL_SOURCE_DIR) / "fuzz" / "corpus";

void ExpectCheckedIn(const std::string& target, const std::vector<Seed>& seeds) {
    std::set<std::string> names;
    for (const Seed& seed : seeds) {
        names.insert(seed.name);
        EXPECT_TRUE(testutil::ReadFile(kCorpus / target / seed.name) ==
                    std::string(seed.bytes.begin(), seed.bytes.end()))
            << seed.name << " differs from the generator: run make-fuzz-seeds fuzz/corpus";
    }
    for (const auto& entry : std::filesystem::directory_iterator(kCorpus / target))
        EXPECT_TRUE(names.count(entry.path().filename().string())) << "stray seed " << entry.path();
}

TEST(FuzzSeeds, EveryModuleLoadsAndPlays) {
    const std::vector<Seed> seeds = MakeModuleSeeds();
    EXPECT_GE(seeds.size(), 90u);
    int linear = 0;
    for (const Seed& seed : seeds) {
        Module* module = LoadModuleFromMemory(seed.bytes.data(), seed.bytes.size());
        ASSERT_NE(module, nullptr) << seed.name;
        linear += (module->flags & linearFrequencies) ? 1 : 0;
        static Player player;
        ASSERT_TRUE(InitPlayer(player, 44100));
        ASSERT_TRUE(StartSong(player, module));
        std::vector<float> mix(2 * 4410);
        for (int block = 0; block < 10; ++block)
            RenderFrames(player, mix.data(), 4410);
        FreeModule(module);
    }
    // Both frequency tables are represented in quantity.
    EXPECT_GT(linear, 40);
    EXPECT_GT(int(seeds.size()) - linear, 40);
    ExpectCheckedIn("player", seeds);
}

TEST(FuzzSeeds, EveryPictureLoads) {
    const std::vector<Seed> seeds = MakeImageSeeds();
    testutil::ScratchDir dir;
    for (const Seed& seed : seeds) {
        testutil::WriteFile("seed.tga", seed.bytes);
        EXPECT_NO_THROW(LoadImage("seed.tga")) << seed.name;
    }
    ExpectCheckedIn("image", seeds);
}

} // namespace
