#include "load_xm.h"

#include <fstream>
#include <iterator>

ModulePtr LoadFromMemory(const std::vector<uint8_t>& image) {
    return ModulePtr(LoadModuleFromMemory(image.data(), image.size()));
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
