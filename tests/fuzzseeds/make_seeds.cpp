// make-fuzz-seeds: writes the fuzz targets' seed corpus, fuzz/corpus/<target>/.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/fuzzseeds/seeds.h"

namespace {

bool WriteAll(const std::filesystem::path& dir, const std::vector<Seed>& seeds) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    for (const Seed& seed : seeds) {
        const std::filesystem::path path = dir / seed.name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        const bool ok = file != nullptr &&
                        std::fwrite(seed.bytes.data(), 1, seed.bytes.size(), file) == seed.bytes.size();
        if (file != nullptr && std::fclose(file) != 0)
            return false;
        if (!ok) {
            std::fprintf(stderr, "make-fuzz-seeds: cannot write %s\n", path.c_str());
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0 || argv[1][0] == '-') {
        std::fprintf(
            argc == 2 && std::strcmp(argv[1], "--help") == 0 ? stdout : stderr,
            "usage: make-fuzz-seeds CORPUS_DIR\n"
            "Writes the seed modules to CORPUS_DIR/player and the seed pictures to CORPUS_DIR/image.\n");
        return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
    }
    const std::filesystem::path root = argv[1];
    const bool ok =
        WriteAll(root / "player", MakeModuleSeeds()) && WriteAll(root / "image", MakeImageSeeds());
    return ok ? 0 : 1;
}
