// The fuzz targets' seed corpus: small modules and pictures built from the
// tests' own helpers, so that the checked-in files can always be made again.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Seed {
    std::string name;
    std::vector<uint8_t> bytes;
};

// Modules: every effect family with both frequency tables, the volume column,
// envelopes, sample loops of every kind and the ways a song moves and loops.
std::vector<Seed> MakeModuleSeeds();
// Pictures: both depths, both row orders, an image ID, an empty picture.
std::vector<Seed> MakeImageSeeds();
