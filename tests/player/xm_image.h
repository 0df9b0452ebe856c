// Builds small XM images in memory and serves them through the stream callbacks.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "player/stream.h"

struct XmSampleDesc {
    uint32_t lengthBytes, loopStartBytes, loopLengthBytes;
    uint8_t type;
    std::vector<uint8_t> data; // stored delta bytes
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
            U8(40);
            U8(0xFB);
            U8(s.type);
            U8(128);
            U8(0xFE);
            bytes.resize(bytes.size() + 23, 0);
        }
        for (const auto& s : samples) {
            bytes.insert(bytes.end(), s.data.begin(), s.data.end());
        }
    }
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

// A memory stream over one image, registered as the stream callbacks.
namespace memstream {
inline std::vector<uint8_t> g_image;
inline int64_t g_pos = 0;
inline StreamHandle Open(const char*) {
    g_pos = 0;
    return 7;
}
inline void Close(StreamHandle) {}
inline int32_t Read(void* dst, int32_t count, StreamHandle) {
    const int64_t left = static_cast<int64_t>(g_image.size()) - g_pos;
    const int32_t n = count < left ? count : static_cast<int32_t>(left);
    if (n <= 0) {
        return 0;
    }
    std::memcpy(dst, g_image.data() + g_pos, static_cast<size_t>(n));
    g_pos += n;
    return n;
}
inline void Seek(StreamHandle, int32_t offset, int32_t origin) {
    int64_t p = origin == 0   ? offset
                : origin == 1 ? g_pos + offset
                              : static_cast<int64_t>(g_image.size()) + offset;
    g_pos = p < 0 ? 0 : (p > static_cast<int64_t>(g_image.size()) ? static_cast<int64_t>(g_image.size()) : p);
}
inline int32_t Tell(StreamHandle) {
    return static_cast<int32_t>(g_pos);
}
inline void Serve(const std::vector<uint8_t>& image) {
    g_image = image;
    SetStreamCallbacks(Open, Close, Read, Seek, Tell);
}
} // namespace memstream
