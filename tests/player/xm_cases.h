// Files that trackers write beyond the plain layout, built with the test
// writer: the loader tests check what each loads as, and the same bytes seed
// the player's fuzz target.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/player/xm_image.h"

namespace xmcases {

inline const std::vector<int8_t> kRamp8 = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90};
inline const std::vector<int16_t> kRamp16 = {100, -200, 300, -400, 500, -600, 700, -800, 900, -1000};

inline XmSampleDesc Plain8(const std::vector<int8_t>& wave, uint32_t loopStart = 0, uint32_t loopLength = 0) {
    const uint32_t n = static_cast<uint32_t>(wave.size());
    return {n, loopStart, loopLength, static_cast<uint8_t>(loopLength > 0 ? 0x01 : 0), XmImage::Delta(wave)};
}

// One pattern of one channel that plays C-4 on the first instrument: the
// instruments are what matters.
inline XmImage Song(uint16_t instruments) {
    XmImage image(1, 0, 1, 1, instruments, 125, {0});
    image.Pattern(2, {0x83, 49, 1, 0x80});
    return image;
}

// The file ends 9 bytes before the second instrument's 16-bit sample does.
inline XmImage CutSampleData() {
    XmImage image = Song(2);
    image.Instrument({Plain8(kRamp8, 2, 8)});
    image.Instrument({{20, 8, 12, 0x11, XmImage::Delta(kRamp16)}});
    image.bytes.resize(image.bytes.size() - 9);
    return image;
}

// The file ends inside the second of three instruments, 100 bytes into its header.
inline XmImage CutInstrumentHeader() {
    XmImage image = Song(3);
    image.Instrument({Plain8(kRamp8)});
    const size_t second = image.bytes.size();
    XmInstrumentDesc d;
    std::memset(d.sampleMap, 1, sizeof d.sampleMap);
    image.Instrument({Plain8({1, 2}), Plain8({3, 4})}, 263, &d);
    image.bytes.resize(second + 100);
    return image;
}

// Headers that store fewer fields than the whole FT2 header: the shortest
// header without samples (29), one that ends after the sample map (129), one
// that ends before it (33), one whose size says 0, and a whole one after them.
inline XmImage ShortHeaders() {
    XmImage image = Song(5);
    image.Instrument({}, 29);
    XmInstrumentDesc d;
    d.sampleMap[10] = 1;
    d.volumePoints = {{0, 64}, {10, 0}};
    d.volumeType = 1;
    d.fadeout = 0x100;
    image.Instrument({Plain8({1, 2, 3, 4}), Plain8({5, 6, 7, 8})}, 129, &d);
    image.Instrument({Plain8({-1, -2, -3, -4})}, 33, &d);
    image.Instrument({}, 0);
    image.Instrument({Plain8(kRamp8)});
    return image;
}

// Version 1.02 or 1.03: instruments with their sample headers, then the
// patterns (1.02: 8-byte headers with rows - 1), then all sample data.
inline XmImage OlderLayout(uint16_t version) {
    XmImage image(2, 0, 2, 2, 2, 125, {0, 1});
    image.SetVersion(version);
    image.Instrument({Plain8(kRamp8), Plain8({1, 2, 3, 4})});
    image.Instrument({{20, 4, 16, 0x12, XmImage::Delta(kRamp16)}});
    image.Pattern(64, std::vector<uint8_t>(128, 0x80));
    image.PatternCells(1, {{49, 1, 0, 0, 0}, {50, 2, 0x40, 0x0F, 3}});
    image.SampleData();
    return image;
}

inline constexpr int8_t kAdpcmTable[16] = {0, 1, 2, 4, 8, 16, 32, 64, -128, -64, -32, -16, -8, -4, -2, -1};

// 33 values that every table step visits, wrapping through -128 and 127.
inline std::vector<int8_t> AdpcmWave() {
    std::vector<int8_t> wave;
    uint8_t value = 0;
    for (int k = 0; k < 33; ++k) {
        value = static_cast<uint8_t>(value + kAdpcmTable[1 + k % 15]);
        wave.push_back(static_cast<int8_t>(value));
    }
    return wave;
}

// Two ADPCM samples (odd and even length) and a plain one after them.
inline XmImage Adpcm() {
    XmImage image = Song(1);
    XmSampleDesc looped{33, 8, 25, 0x01, XmImage::Adpcm(AdpcmWave(), kAdpcmTable)};
    looped.reserved = 0xAD;
    XmSampleDesc shortOne{4, 0, 0, 0, XmImage::Adpcm({-1, -2, -4, 60}, kAdpcmTable)};
    shortOne.reserved = 0xAD;
    image.Instrument({looped, shortOne, Plain8({7, -7, 7, -7})});
    return image;
}

// Twenty samples in one instrument, sample i holding i and -i; the map names
// samples 19, 17 and 3 for its first three notes.
inline XmImage TwentySamples() {
    XmImage image = Song(2);
    std::vector<XmSampleDesc> samples;
    for (int i = 0; i < 20; ++i)
        samples.push_back(Plain8({static_cast<int8_t>(i), static_cast<int8_t>(-i)}));
    XmInstrumentDesc d;
    d.sampleMap[0] = 19;
    d.sampleMap[1] = 17;
    d.sampleMap[2] = 3;
    image.Instrument(samples, 263, &d);
    image.Instrument({Plain8(kRamp8)});
    return image;
}

// A tracker's extension chunk after the last sample.
inline XmImage ExtensionChunk() {
    XmImage image = Song(1);
    image.Instrument({Plain8(kRamp8)});
    image.Chunk("text", {'h', 'i'});
    return image;
}

// A sample stored as an Ogg Vorbis stream after a 4-byte length.
inline XmImage OggSample() {
    XmImage image = Song(1);
    std::vector<uint8_t> data = {0x40, 0, 0, 0, 'O', 'g', 'g', 'S', 0, 2};
    data.resize(16, 0);
    image.Instrument({{16, 0, 0, 0, data}});
    return image;
}

// A 64-row pattern of 4 channels whose packed data (44 bytes) ends after row
// 7: C-4, C-3 and C-2 each released on the next row, EEF on row 6 and D00 on
// row 7; then one instrument of a 32-frame looped sample.
inline XmImage ShortPattern() {
    XmImage image(1, 0, 4, 1, 1, 125, {0});
    std::vector<uint8_t> packed;
    const auto row = [&](std::vector<uint8_t> first, std::vector<uint8_t> last) {
        packed.insert(packed.end(), first.begin(), first.end());
        packed.insert(packed.end(), {0x80, 0x80});
        packed.insert(packed.end(), last.begin(), last.end());
    };
    for (uint8_t note : {49, 37, 25}) {
        row({0x83, note, 1}, {0x80});
        row({0x81, 97}, {0x80});
    }
    row({0x80}, {0x98, 0x0E, 0xEF});
    row({0x80}, {0x88, 0x0D});
    image.Pattern(64, packed);
    std::vector<int8_t> wave;
    for (int i = 0; i < 32; ++i)
        wave.push_back(static_cast<int8_t>(i % 8 < 4 ? 60 : -60));
    image.Instrument({Plain8(wave, 0, 32)});
    return image;
}

// Stereo samples as later trackers store them: the lengths count both
// channels, the left channel's deltas come first, then the right's, each
// coded from 0. An 8-bit one with a forward loop and a 16-bit one without.
inline XmImage StereoSamples() {
    const auto both = [](auto left, decltype(left) right) {
        std::vector<uint8_t> data = XmImage::Delta(left), second = XmImage::Delta(right);
        data.insert(data.end(), second.begin(), second.end());
        return data;
    };
    XmImage image = Song(1);
    image.Instrument({{8, 2, 6, 0x21, both(std::vector<int8_t>{10, 20, 30, 40}, {-1, -2, -3, -4})},
                      {12, 0, 0, 0x30, both(std::vector<int16_t>{1000, 2000, 3000}, {-1000, -2000, -3000})}});
    return image;
}

// As many channels as later trackers write, or one more.
inline XmImage Channels(uint16_t channels) {
    XmImage image(1, 0, channels, 1, 1, 125, {0});
    image.Pattern(1, std::vector<uint8_t>(channels, 0x80));
    image.Instrument({Plain8(kRamp8)});
    return image;
}

struct Case {
    const char* name;
    XmImage (*build)();
    bool refused = false; // a file the loader names a reason to refuse
};

inline const Case kCases[] = {
    {"cut-sample-data", CutSampleData},
    {"cut-instrument-header", CutInstrumentHeader},
    {"short-headers", ShortHeaders},
    {"layout-102", [] { return OlderLayout(0x0102); }},
    {"layout-103", [] { return OlderLayout(0x0103); }},
    {"adpcm", Adpcm},
    {"twenty-samples", TwentySamples},
    {"extension-chunk", ExtensionChunk},
    {"ogg-sample", OggSample, true},
    {"short-pattern", ShortPattern},
    {"stereo-samples", StereoSamples},
    {"127-channels", [] { return Channels(127); }},
    {"128-channels", [] { return Channels(128); }, true},
};

} // namespace xmcases
