// make-fuzz-seeds: writes the fuzz targets' seed corpus, fuzz/corpus/<target>/.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "fuzz/seeds/seeds.h"

namespace {

bool WriteAll(const std::filesystem::path& dir, const std::vector<Seed>& seeds) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    for (const Seed& seed : seeds) {
        std::ofstream out(dir / seed.name, std::ios::binary);
        if (!out.write(reinterpret_cast<const char*>(seed.bytes.data()), std::streamsize(seed.bytes.size()))
                 .flush()) {
            std::fprintf(stderr, "make-fuzz-seeds: cannot write %s\n", (dir / seed.name).c_str());
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '-') {
        const bool help = argc == 2 && std::strcmp(argv[1], "--help") == 0;
        std::fprintf(
            help ? stdout : stderr,
            "usage: make-fuzz-seeds CORPUS_DIR\n"
            "Writes the seed modules to CORPUS_DIR/player and the seed pictures to CORPUS_DIR/image.\n");
        return help ? 0 : 2;
    }
    const std::filesystem::path root = argv[1];
    return WriteAll(root / "player", MakeModuleSeeds()) && WriteAll(root / "image", MakeImageSeeds()) ? 0 : 1;
}
