// The XM loader's view of the stream: bounded little-endian reads, the bytes
// that remain, and the report it fills. Internal to the loader's files.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <new>

#include "player/format/load_report.h"
#include "player/format/module.h"
#include "player/format/stream.h"

namespace xm {

inline uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

class Reader {
public:
    Reader(ModuleStream* stream, LoadReport& report) : report(report), m_stream(stream) {
        const int32_t here = StreamTell(stream);
        StreamSeek(stream, 0, 2);
        m_end = StreamTell(stream);
        StreamSeek(stream, here, 0);
    }
    // Destinations keep their contents where the stream runs out.
    void Read(void* destination, int64_t count) {
        if (count > 0) {
            StreamRead(destination, static_cast<int32_t>(count), m_stream);
        }
    }
    uint8_t U8() {
        uint8_t b[1] = {};
        Read(b, 1);
        return b[0];
    }
    void Seek(int64_t offset, int32_t origin) {
        const int64_t limit = origin == 1 ? INT32_MAX - static_cast<int64_t>(Tell()) : INT32_MAX;
        StreamSeek(m_stream, static_cast<int32_t>(offset < limit ? offset : limit), origin);
    }
    int32_t Tell() { return StreamTell(m_stream); }
    // Bytes the stream can still deliver from the current position.
    int64_t Remaining() {
        const int64_t left = static_cast<int64_t>(m_end) - Tell();
        return left > 0 ? left : 0;
    }
    // Records why the file is refused (damaged, unless a kind is given);
    // always false, for `return in.Refuse(...)`.
    bool Refuse(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, format);
        RefuseV(report, LoadRefusal::Damaged, format, args);
        va_end(args);
        return false;
    }
    bool Refuse(LoadRefusal kind, const char* format, ...) __attribute__((format(printf, 3, 4))) {
        va_list args;
        va_start(args, format);
        RefuseV(report, kind, format, args);
        va_end(args);
        return false;
    }

    LoadReport& report;

private:
    ModuleStream* m_stream;
    int32_t m_end = 0;
};

template <typename T> T* AllocZeroed(size_t count) {
    return new (std::nothrow) T[count == 0 ? 1 : count]();
}

// Gives ins slots sample slots, each at EmptySample (any it had are freed, not
// their samples); false, refused as out of memory, where they cannot be had.
bool PointAtEmptySample(Reader& in, Instrument& ins, int32_t slots);

// Where a sample's bytes lie in the file and how they are coded; the data pass
// reads them in this order.
struct StoredSample {
    Sample* sample;
    uint64_t storedBytes;
    bool adpcm;
    bool stereo;    // a left channel's data, then a right one's
    int instrument; // 1-based, for messages
    int index;      // 0-based within the instrument
};

// Reads one 40-byte sample header into `s` and says how its data is stored.
StoredSample ReadSampleHeader(Reader& in, Sample& s);
// Reads and decodes one sample's data, as much of it as the file holds.
bool ReadSampleData(Reader& in, const StoredSample& stored);
void FreeSampleData(int16_t* data);
// A sample's data block: length entries (twice that, for stereo) with zeroed
// guards on both sides; null when memory runs out.
int16_t* AllocSampleData(uint32_t length, bool stereo);

// Reads the file from its start as a MOD (mod_loader.cpp), for a file without
// the XM text.
bool ReadMod(Reader& in, Module* module);

} // namespace xm
