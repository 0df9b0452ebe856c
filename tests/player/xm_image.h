// Builds small XM images in memory for the loader.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

struct XmSampleDesc {
    uint32_t lengthBytes, loopStartBytes, loopLengthBytes;
    uint8_t type;
    std::vector<uint8_t> data; // stored delta bytes
    uint8_t volume = 40;
    uint8_t finetune = 0xFB;
    uint8_t panning = 128;
    uint8_t relativeNote = 0xFE;
};

// The instrument fields the replay engine reads, as stored in the file.
struct XmInstrumentDesc {
    std::vector<std::pair<uint16_t, uint16_t>> volumePoints, panningPoints;
    uint8_t volumeSustain = 0, volumeLoopStart = 0, volumeLoopEnd = 0;
    uint8_t panningSustain = 0, panningLoopStart = 0, panningLoopEnd = 0;
    uint8_t volumeType = 0, panningType = 0;
    uint8_t vibratoType = 0, vibratoSweep = 0, vibratoDepth = 0, vibratoRate = 0;
    uint16_t fadeout = 0; // as in the file: the loader doubles it
    uint8_t sampleMap[96] = {};
};

// One row of cells, note, instrument, volume, effect, parameter each, unpacked.
struct XmCell {
    uint8_t note = 0, instrument = 0, volume = 0, effect = 0, parameter = 0;
};

class XmImage {
public:
    std::vector<uint8_t> bytes;

    XmImage(uint16_t songLength, uint16_t restart, uint16_t channels, uint16_t patterns, uint16_t instruments,
            uint16_t bpm, std::vector<uint8_t> orders) {
        const char* id = "Extended Module: ";
        bytes.assign(id, id + 17);
        bytes.resize(60, 0);
        U32(276);
        U16(songLength);
        U16(restart);
        U16(channels);
        U16(patterns);
        U16(instruments);
        U16(1);
        U16(6);
        U16(bpm);
        orders.resize(256, 0);
        bytes.insert(bytes.end(), orders.begin(), orders.end());
    }
    void Pattern(uint16_t rows, const std::vector<uint8_t>& packed) {
        U32(9);
        U8(0);
        U16(rows);
        U16(static_cast<uint16_t>(packed.size()));
        bytes.insert(bytes.end(), packed.begin(), packed.end());
    }
    void Instrument(const std::vector<XmSampleDesc>& samples, uint32_t headerSize = 263) {
        if (samples.empty() && headerSize == 263) {
            headerSize = 33;
        }
        const size_t start = bytes.size();
        U32(headerSize);
        bytes.resize(start + 27, 0);
        U16(static_cast<uint16_t>(samples.size()));
        if (!samples.empty()) {
            U32(40);
        }
        bytes.resize(start + headerSize, 0);
        if (!samples.empty()) {
            bytes[start + 225] = 2; // volume points: keeps the volume type
            bytes[start + 233] = 5;
            bytes[start + 234] = 5; // panning type, dropped: one point only
            bytes[start + 239] = 0x34;
            bytes[start + 240] = 0x12;
        }
        for (const auto& s : samples) {
            U32(s.lengthBytes);
            U32(s.loopStartBytes);
            U32(s.loopLengthBytes);
            U8(s.volume);
            U8(s.finetune);
            U8(s.type);
            U8(s.panning);
            U8(s.relativeNote);
            bytes.resize(bytes.size() + 23, 0);
        }
        for (const auto& s : samples) {
            bytes.insert(bytes.end(), s.data.begin(), s.data.end());
        }
    }
    // A pattern of unpacked cells, row by row: every cell spends five bytes.
    void PatternCells(uint16_t rows, const std::vector<XmCell>& cells) {
        std::vector<uint8_t> packed;
        for (const XmCell& c : cells) {
            packed.insert(packed.end(), {c.note, c.instrument, c.volume, c.effect, c.parameter});
        }
        Pattern(rows, packed);
    }
    void InstrumentWith(const XmInstrumentDesc& d, const std::vector<XmSampleDesc>& samples) {
        const size_t start = bytes.size();
        Instrument(samples);
        uint8_t* h = bytes.data() + start;
        std::memcpy(h + 33, d.sampleMap, 96);
        for (size_t i = 0; i < d.volumePoints.size() && i < 12; ++i) {
            Put16(h + 129 + 4 * i, d.volumePoints[i].first);
            Put16(h + 131 + 4 * i, d.volumePoints[i].second);
        }
        for (size_t i = 0; i < d.panningPoints.size() && i < 12; ++i) {
            Put16(h + 177 + 4 * i, d.panningPoints[i].first);
            Put16(h + 179 + 4 * i, d.panningPoints[i].second);
        }
        const uint8_t fields[14] = {static_cast<uint8_t>(d.volumePoints.size()),
                                    static_cast<uint8_t>(d.panningPoints.size()),
                                    d.volumeSustain,
                                    d.volumeLoopStart,
                                    d.volumeLoopEnd,
                                    d.panningSustain,
                                    d.panningLoopStart,
                                    d.panningLoopEnd,
                                    d.volumeType,
                                    d.panningType,
                                    d.vibratoType,
                                    d.vibratoSweep,
                                    d.vibratoDepth,
                                    d.vibratoRate};
        std::memcpy(h + 225, fields, sizeof fields);
        Put16(h + 239, d.fadeout);
    }
    static void Put16(uint8_t* p, uint16_t v) {
        p[0] = v & 0xFF;
        p[1] = v >> 8;
    }
    void SetTempo(uint16_t tempo) { Put16(bytes.data() + 76, tempo); }
    void SetFlags(uint16_t flags) { Put16(bytes.data() + 74, flags); }
    void U8(uint8_t v) { bytes.push_back(v); }
    void U16(uint16_t v) {
        U8(v & 0xFF);
        U8(v >> 8);
    }
    void U32(uint32_t v) {
        U16(v & 0xFFFF);
        U16(v >> 16);
    }
};
