// Loads an XM image held in memory through the player's own loader.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "player/module.h"

struct ModuleDeleter {
    void operator()(Module* module) const { FreeModule(module); }
};
using ModulePtr = std::unique_ptr<Module, ModuleDeleter>;

// Null when the loader refuses the image.
ModulePtr LoadFromMemory(const std::vector<uint8_t>& image);

// The cell at row, channel of a loaded pattern.
const uint8_t* CellAt(const Module& module, int pattern, int row, int channel);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
