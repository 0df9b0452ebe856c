// What the XM reader found beyond the plain layout of today's trackers, and
// why it refused a file it could not read.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

// Why a file did not load, for callers that act on it; the text beside it says more.
enum class LoadRefusal : uint8_t {
    None,        // it loaded
    NotAModule,  // not a format the player reads
    Damaged,     // the format, but not a song the player can read
    OutOfMemory, // the song needs more memory than there is
    Unreadable,  // the stream could not be opened or read
};

struct LoadReport {
    uint16_t version;               // format version as stored, e.g. 0x0104
    bool olderLayout;               // 1.02/1.03: instruments, then patterns, then all sample data
    int32_t adpcmSamples;           // 4-bit ADPCM samples decoded
    int32_t shortInstrumentHeaders; // headers that end before the fields their instrument needs
    int32_t instrumentsOver16;      // instruments with more than 16 samples
    int32_t mostSamples;            // the largest sample count of one instrument
    int32_t shortPatterns;          // patterns whose packed data ends before their last cell
    int32_t stereoSamples;          // samples with a left and a right channel
    int32_t firstCutInstrument; // 1-based: the first instrument the file ends inside or before; 0 for none
    int32_t cutInstruments;     // that one and every instrument after it
    int64_t sampleBytesShort;   // sample data the file ends before
    int64_t trailingBytes;      // bytes after the song, such as a tracker's extension chunks
    LoadRefusal refused;        // None when it loaded
    char refusal[160];          // why the file was refused, for people; empty when it loaded
};

// Records why the file is refused (the first reason given stands); always
// false, for `return Refuse(...)`.
bool Refuse(LoadReport& report, LoadRefusal kind, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
bool RefuseV(LoadReport& report, LoadRefusal kind, const char* format, va_list args);

// One line per finding, for people; empty for a file in the plain layout.
std::vector<std::string> DescribeLoad(const LoadReport& report);
