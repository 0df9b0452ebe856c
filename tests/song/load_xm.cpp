#include "load_xm.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "player/stream.h"

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
    int32_t position = origin == 0 ? offset : origin == 1 ? g_position + offset : size + offset;
    g_position = position < 0 ? 0 : position > size ? size : position;
}
int32_t Tell(StreamHandle) {
    return g_position;
}

} // namespace

ModulePtr LoadFromMemory(const std::vector<uint8_t>& image) {
    g_image = &image;
    SetStreamCallbacks(Open, Close, Read, Seek, Tell);
    ModulePtr module(LoadModule("memory"));
    g_image = nullptr;
    return module;
}

const uint8_t* CellAt(const Module& module, int pattern, int row, int channel) {
    return module.patterns[pattern].cells + (row * module.channelCount + channel) * kCellSize;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
