// Any text either fails to parse with a message, or becomes an XM that the player's own loader
// takes back with the channel count, order list and pattern rows the score gave.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "player/module.h"
#include "player/stream.h"
#include "score.h"
#include "xm_writer.h"

namespace {

const std::vector<uint8_t>* g_image = nullptr;
int32_t g_position = 0;

StreamHandle Open(const char*) {
    g_position = 0;
    return 1;
}
void Close(StreamHandle) {}
int32_t Read(void* destination, int32_t count, StreamHandle) {
    const int32_t size = static_cast<int32_t>(g_image->size());
    const int32_t n = count < size - g_position ? count : size - g_position;
    if (n <= 0)
        return 0;
    std::memcpy(destination, g_image->data() + g_position, static_cast<size_t>(n));
    g_position += n;
    return n;
}
void Seek(StreamHandle, int32_t offset, int32_t origin) {
    const int32_t size = static_cast<int32_t>(g_image->size());
    const int32_t position = origin == 0 ? offset : origin == 1 ? g_position + offset : size + offset;
    g_position = position < 0 ? 0 : position > size ? size : position;
}
int32_t Tell(StreamHandle) {
    return g_position;
}

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
    const std::vector<uint8_t> xm = songc::WriteXm(song);
    g_image = &xm;
    SetStreamCallbacks(Open, Close, Read, Seek, Tell);
    Module* module = LoadModule("score");
    if (module == nullptr || module->channelCount != song.channels ||
        module->songLength != static_cast<int>(song.order.size()))
        std::abort();
    for (size_t i = 0; i < song.order.size(); ++i) {
        if (module->orderTable[i] != song.order[i] ||
            module->patterns[song.order[i]].rows != song.patterns[song.order[i]].rows)
            std::abort();
    }
    FreeModule(module);
    return 0;
}
