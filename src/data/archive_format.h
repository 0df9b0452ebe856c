// Layout of the data archive, shared by the reader and the packer.
// All numbers are little-endian.
#pragma once
#include <cstdint>

namespace archive {

// Entry header: type (4), name (32, NUL padded), total size (4, header included).
constexpr int kEntryHeaderSize = 40;
constexpr int kTypeOffset = 0;
constexpr int kNameOffset = 4;
constexpr int kNameFieldSize = 32;
constexpr int kMaxNameLength = kNameFieldSize - 1;
constexpr int kTotalSizeOffset = 36;

constexpr uint32_t kTypeDirectory = 1;
constexpr uint32_t kTypeFile = 2;

// Trailer at the very end of a program file: first-entry offset (4, signed), magic (7).
constexpr int kTrailerSize = 11;
constexpr int kMagicSize = 7;
constexpr char kMagic[kMagicSize + 1] = "TROVAKE";

constexpr const char* kArchiveExtension = "Trovake";

inline uint32_t ReadLE32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void WriteLE32(unsigned char* p, uint32_t value) {
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
    p[2] = uint8_t(value >> 16);
    p[3] = uint8_t(value >> 24);
}

} // namespace archive
