// Any text either fails to parse with a message, or becomes an XM that the player's own loader
// takes back with the channel count, order list and pattern rows the score gave.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "player/format/module.h"
#include "score.h"
#include "xm_writer.h"

namespace {
struct FreeSong {
    void operator()(Module* m) const { FreeModule(m); }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    songc::Song song;
    std::string error;
    if (!songc::ParseScore(std::string(reinterpret_cast<const char*>(data), size), song, error)) {
        if (error.empty())
            std::abort();
        return 0;
    }
    // Instruments stay without samples: the synthesiser takes no input from the score.
    const std::vector<uint8_t> image = songc::WriteXm(song);
    const std::unique_ptr<Module, FreeSong> module(LoadModuleFromMemory(image.data(), image.size()));
    if (module == nullptr || module->channelCount != song.channels ||
        module->songLength != static_cast<int>(song.order.size()))
        std::abort();
    for (size_t i = 0; i < song.order.size(); ++i) {
        if (module->orderTable[i] != song.order[i] ||
            module->patterns[song.order[i]].rows != song.patterns[song.order[i]].rows)
            std::abort();
    }
    return 0;
}
