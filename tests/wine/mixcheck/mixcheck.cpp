// tinsel-mixcheck: renders the demo's song and three constructed songs, those
// by both rule sets (our float mixer and the original's integer one), through
// every mixing path this processor has, with each interpolation, and prints
// one hash per path, interpolation and song;
// fails when a path's bytes differ from the scalar reference's. Built for
// Linux and for Windows, so that a test can compare both builds under wine.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "player/output/audio_output.h"
#include "player/mix/mix_runs.h"
#include "player/mix/mixer.h"
#include "player/format/module.h"
#include "player/player.h"
#include "player/format/song.h"
#include "tests/player/mix_songs.h"

namespace {

// FNV-1a of the 16-bit output of blocks blocks of the device's length.
uint64_t RenderHash(Module* module, RuleSet rules, int blocks, Interpolation interpolation) {
    uint64_t hash = 1469598103934665603ull;
    // Low byte first on either system.
    for (const int16_t s : RenderBlocks(module, rules, blocks, interpolation))
        for (const int shift : {0, 8})
            hash = (hash ^ static_cast<uint8_t>(static_cast<uint16_t>(s) >> shift)) * 1099511628211ull;
    return hash;
}

} // namespace

int main() {
    struct Song {
        std::string name;
        std::vector<uint8_t> image;
        int blocks;
        RuleSet rules = RuleSet::Tinsel;
    };
    std::vector<Song> songs = {{"embedded", {EmbeddedSong, EmbeddedSong + EmbeddedSongSize}, 1000}};
    for (const RuleSet rules : {RuleSet::Tinsel, RuleSet::Ft2})
        for (const auto& [channels, seed] : {std::pair{4, 17}, {10, 1017}, {32, 2017}})
            songs.push_back({"workout-" + std::to_string(channels) + (rules == RuleSet::Ft2 ? "-ft2" : ""),
                             MixerWorkoutSong(channels, seed), 300, rules});
    int failures = 0;
    for (const Song& song : songs) {
        Module* module = LoadModuleFromMemory(song.image.data(), song.image.size());
        if (module == nullptr) {
            std::printf("%s: does not load\n", song.name.c_str());
            return 1;
        }
        for (Interpolation interpolation :
             {Interpolation::Linear, Interpolation::Nearest, Interpolation::Cubic, Interpolation::Sinc}) {
            // The linear lines as they always were; the others name their interpolation.
            const bool linear = interpolation == Interpolation::Linear;
            const std::string kernel = linear ? "" : std::string(" ") + InterpolationName(interpolation);
            uint64_t reference = 0;
            for (MixPath path : {MixPath::Scalar, MixPath::Sse2, MixPath::Avx2, MixPath::Avx512}) {
                if (!SetMixPath(path)) {
                    std::printf("%s %s%s: not on this processor\n", song.name.c_str(), MixPathName(path),
                                kernel.c_str());
                    continue;
                }
                const uint64_t hash =
                    RenderHash(module, song.rules, linear ? song.blocks : song.blocks / 4, interpolation);
                if (path == MixPath::Scalar)
                    reference = hash;
                const bool same = hash == reference;
                failures += same ? 0 : 1;
                std::printf("%s %s%s: %016llx%s\n", song.name.c_str(), MixPathName(path), kernel.c_str(),
                            static_cast<unsigned long long>(hash), same ? "" : " DIFFERS FROM SCALAR");
            }
        }
        FreeModule(module);
    }
    return failures == 0 ? 0 : 1;
}
