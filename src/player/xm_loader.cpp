// XM reader: turns the file into fixed five-byte cells and 16-bit delta-decoded
// samples. Every declared size is checked against what the stream can still
// deliver before anything is allocated, so a damaged image fails instead of
// exhausting memory or reading out of bounds.
#include <cstring>
#include <new>

#include "player/module.h"
#include "player/replay.h"
#include "player/stream.h"

Sample EmptySample{};

namespace {

constexpr char kXmId[] = "Extended Module: ";
constexpr int kXmIdLength = 17;
constexpr int kPatternHeaderSize = 9;
constexpr int kInstrumentFieldsSize = 29;  // header size .. number of samples
constexpr int kInstrumentHeaderSize = 241; // .. fadeout, when samples follow
constexpr int kSampleHeaderSize = 40;
constexpr int kMinBpm = 32;
constexpr int kMaxBpm = 255;
constexpr int kNoteKeyOffInFile = 97;

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

class Reader {
public:
    explicit Reader(ModuleStream* stream) : stream_(stream) {
        const int32_t here = StreamTell(stream);
        StreamSeek(stream, 0, 2);
        end_ = StreamTell(stream);
        StreamSeek(stream, here, 0);
    }
    // Destinations keep their contents where the stream runs out.
    void Read(void* destination, int32_t count) { StreamRead(destination, count, stream_); }
    uint8_t U8() {
        uint8_t b[1] = {};
        Read(b, 1);
        return b[0];
    }
    uint16_t U16() {
        uint8_t b[2] = {};
        Read(b, 2);
        return Le16(b);
    }
    uint32_t U32() {
        uint8_t b[4] = {};
        Read(b, 4);
        return Le32(b);
    }
    void Seek(int32_t offset, int32_t origin) { StreamSeek(stream_, offset, origin); }
    int32_t Tell() { return StreamTell(stream_); }
    // Bytes the stream can still deliver from the current position.
    int64_t Remaining() {
        const int64_t left = static_cast<int64_t>(end_) - Tell();
        return left > 0 ? left : 0;
    }

private:
    ModuleStream* stream_;
    int32_t end_ = 0;
};

template <typename T> T* AllocZeroed(size_t count) {
    return new (std::nothrow) T[count == 0 ? 1 : count]();
}

// The entries before data[0] stay 0: the mixer may read data[-1] just after a
// wrap to a loop at 0.
int16_t* AllocSampleData(uint32_t length) {
    int16_t* block = AllocZeroed<int16_t>(static_cast<size_t>(length) + 2 * kSampleGuard);
    return block == nullptr ? nullptr : block + kSampleGuard;
}

void FreeSampleData(int16_t* data) {
    if (data != nullptr) {
        delete[](data - kSampleGuard);
    }
}

// Cells of patterns stored without data are zeros the stream never fills, so
// nine header bytes could each ask for 10 MB. Their sum is bounded well above
// what any song needs (256 patterns of 256 rows of 32 channels is 10 MB).
constexpr int64_t kEmptyCellBudget = int64_t{32} << 20;

bool ReadPattern(Reader& in, Module* module, Pattern& pattern, int64_t& emptyCellBytes) {
    if (in.Remaining() < kPatternHeaderSize) {
        return false;
    }
    uint8_t header[kPatternHeaderSize] = {};
    in.Read(header, kPatternHeaderSize);
    pattern.rows = Le16(header + 5);
    const uint16_t packedSize = Le16(header + 7);
    const int64_t cellCount = static_cast<int64_t>(pattern.rows) * module->channelCount;
    // Every cell takes at least one byte of packed data.
    if (packedSize != 0 && cellCount > in.Remaining()) {
        return false;
    }
    if (packedSize == 0) {
        emptyCellBytes += cellCount * kCellSize;
        if (emptyCellBytes > kEmptyCellBudget) {
            return false;
        }
    }
    pattern.cells = AllocZeroed<uint8_t>(static_cast<size_t>(cellCount) * kCellSize);
    if (pattern.cells == nullptr) {
        return false;
    }
    if (packedSize == 0) {
        return true;
    }
    for (int64_t i = 0; i < cellCount; ++i) {
        uint8_t* cell = pattern.cells + i * kCellSize;
        const uint8_t b = in.U8();
        if (b & 0x80) {
            for (int field = 0; field < kCellSize; ++field) {
                if (b & (1 << field)) {
                    cell[field] = in.U8();
                }
            }
        } else {
            cell[0] = b;
            in.Read(cell + 1, 4);
        }
        if (cell[0] == kNoteKeyOffInFile) {
            cell[0] = kKeyOff;
        } else if (cell[0] > kNoteKeyOffInFile && cell[0] != kKeyOff) {
            cell[0] = 0; // not a note the engine could index its tables with
        }
        if (cell[1] > 128) {
            cell[1] = 0;
        }
    }
    return true;
}

// Returns the bytes the sample's data takes in the file.
uint32_t ReadSampleHeader(Reader& in, Sample& s) {
    uint8_t h[kSampleHeaderSize] = {};
    in.Read(h, kSampleHeaderSize);
    s.length = Le32(h);
    const uint32_t storedBytes = s.length;
    s.loopStart = Le32(h + 4);
    s.loopLength = Le32(h + 8);
    s.volume = h[12];
    s.finetune = static_cast<int8_t>(h[13]);
    s.loopMode = kLoopNone;
    s.bits = 8;
    const uint8_t type = h[14];
    if (type & 1) {
        s.loopMode = kLoopForward;
    }
    if (type & 2) {
        s.loopMode = kLoopPingPong;
    }
    if (type & 0x10) {
        s.bits = 16;
    }
    if (s.loopMode == kLoopNone) {
        s.loopStart = 0;
        s.loopLength = s.length;
    }
    if (s.bits == 16) {
        s.length /= 2;
        s.loopStart /= 2;
        s.loopLength /= 2;
    }
    // A loop reaching past the data would make the mixer read beyond it.
    if (s.loopStart > s.length) {
        s.loopStart = s.length;
    }
    if (s.loopLength > s.length - s.loopStart) {
        s.loopLength = s.length - s.loopStart;
    }
    if (s.loopLength == 0) {
        s.loopStart = 0;
        s.loopLength = s.length;
        s.loopMode = kLoopNone;
    }
    s.panning = h[15];
    s.relativeNote = static_cast<int8_t>(h[16]);
    return storedBytes;
}

bool ReadSampleData(Reader& in, Sample& s) {
    const uint32_t byteCount = s.bits == 16 ? s.length * 2 : s.length;
    if (s.bits == 16) {
        uint8_t* bytes = reinterpret_cast<uint8_t*>(s.data);
        in.Read(bytes, static_cast<int32_t>(byteCount));
        for (uint32_t k = 0; k < s.length; ++k) {
            s.data[k] = static_cast<int16_t>(Le16(bytes + 2 * k));
        }
    } else {
        uint8_t* scratch = AllocZeroed<uint8_t>(s.length);
        if (scratch == nullptr) {
            return false;
        }
        in.Read(scratch, static_cast<int32_t>(byteCount));
        for (uint32_t k = 0; k < s.length; ++k) {
            s.data[k] = static_cast<int16_t>(static_cast<uint16_t>(scratch[k] << 8));
        }
        delete[] scratch;
        s.bits = 16;
    }
    uint16_t previous = 0;
    for (uint32_t k = 0; k < s.length; ++k) {
        previous = static_cast<uint16_t>(previous + static_cast<uint16_t>(s.data[k]));
        s.data[k] = static_cast<int16_t>(previous);
    }
    const uint32_t loopEnd = s.loopStart + s.loopLength;
    if (s.loopMode == kLoopPingPong) {
        s.data[loopEnd] = s.data[loopEnd - 1];
    } else if (s.loopMode == kLoopForward) {
        s.data[loopEnd] = s.data[s.loopStart];
    }
    return true;
}

bool ReadInstrument(Reader& in, Instrument& ins) {
    const int64_t start = in.Tell();
    if (in.Remaining() < kInstrumentFieldsSize) {
        return false;
    }
    const uint32_t headerSize = in.U32();
    // A header too short for its own fields would make the reader go back over
    // bytes it has read, so a small image could declare unbounded work.
    if (headerSize < kInstrumentFieldsSize || headerSize > static_cast<uint32_t>(INT32_MAX - start)) {
        return false;
    }
    const int32_t sampleHeaders = static_cast<int32_t>(start + headerSize);
    in.Seek(23, 1);
    const uint16_t sampleCount = in.U16();
    if (sampleCount > 16) {
        return false;
    }
    ins.sampleCount = sampleCount;
    for (Sample*& slot : ins.samples) {
        slot = &EmptySample;
    }
    if (sampleCount == 0) {
        in.Seek(sampleHeaders, 0);
        return true;
    }
    if (headerSize < kInstrumentHeaderSize) {
        ins.sampleCount = 0;
        return false;
    }
    uint8_t fields[4 + 96 + 48 + 48 + 16] = {};
    in.Read(fields, sizeof fields);
    const uint8_t* p = fields + 4;
    std::memcpy(ins.sampleMap, p, 96);
    p += 96;
    for (int i = 0; i < 12; ++i, p += 4) {
        ins.volumeEnvelope[i] = EnvelopePoint{Le16(p), Le16(p + 2)};
    }
    for (int i = 0; i < 12; ++i, p += 4) {
        ins.panningEnvelope[i] = EnvelopePoint{Le16(p), Le16(p + 2)};
    }
    ins.volumePointCount = p[0];
    ins.panningPointCount = p[1];
    ins.volumeSustain = p[2];
    ins.volumeLoopStart = p[3];
    ins.volumeLoopEnd = p[4];
    ins.panningSustain = p[5];
    ins.panningLoopStart = p[6];
    ins.panningLoopEnd = p[7];
    ins.volumeType = ins.volumePointCount < 2 ? 0 : p[8];
    ins.panningType = ins.panningPointCount < 2 ? 0 : p[9];
    ins.vibratoType = p[10];
    ins.vibratoSweep = p[11];
    ins.vibratoDepth = p[12];
    ins.vibratoRate = p[13];
    ins.fadeout = static_cast<uint16_t>(Le16(p + 14) << 1);
    in.Seek(sampleHeaders, 0);

    // Samples join the instrument one by one, so a failure leaves counts FreeModule can trust.
    ins.sampleCount = 0;
    int64_t dataBytes = 0;
    uint32_t storedBytes[16] = {};
    for (int i = 0; i < sampleCount; ++i) {
        Sample* s = new (std::nothrow) Sample{};
        if (s == nullptr) {
            return false;
        }
        ins.samples[i] = s;
        ins.sampleCount = i + 1;
        storedBytes[i] = ReadSampleHeader(in, *s);
        dataBytes += storedBytes[i];
        if (dataBytes > in.Remaining()) {
            return false;
        }
        if (s->length > 0) {
            s->data = AllocSampleData(s->length);
            if (s->data == nullptr) {
                return false;
            }
        }
    }
    for (int i = 0; i < sampleCount; ++i) {
        Sample& s = *ins.samples[i];
        const uint32_t usedBytes = s.bits == 16 ? s.length * 2 : s.length;
        if (s.length > 0 && !ReadSampleData(in, s)) {
            return false;
        }
        // An odd byte count of 16-bit data leaves one byte unused; skipping it
        // keeps the next sample and instrument where the file has them.
        if (storedBytes[i] > usedBytes) {
            in.Seek(static_cast<int32_t>(storedBytes[i] - usedBytes), 1);
        }
    }
    return true;
}

bool ReadXm(Reader& in, Module* module) {
    char id[kXmIdLength] = {};
    in.Seek(0, 0);
    in.Read(id, kXmIdLength);
    if (std::memcmp(id, kXmId, kXmIdLength) != 0) {
        return false;
    }
    module->tickRoutine = PlayTick;
    module->initialGlobalVolume = 64;
    in.Seek(38, 0);
    in.Read(module->trackerName, 20);

    in.Seek(60, 0);
    uint8_t h[4 + 16 + 256] = {};
    in.Read(h, sizeof h);
    const uint32_t headerSize = Le32(h);
    int16_t songLength = static_cast<int16_t>(Le16(h + 4));
    int16_t restart = static_cast<int16_t>(Le16(h + 6));
    module->channelCount = static_cast<int16_t>(Le16(h + 8));
    const uint16_t storedPatterns = Le16(h + 10);
    module->instrumentCount = static_cast<int16_t>(Le16(h + 12));
    module->flags = Le16(h + 14);
    module->defaultTempo = static_cast<int16_t>(Le16(h + 16));
    int16_t bpm = static_cast<int16_t>(Le16(h + 18));
    std::memcpy(module->orderTable, h + 20, 256);

    // The engine binds channel i to one of 32 voices and indexes a 256-entry order table.
    if (module->channelCount < 0 || module->channelCount > kMaxChannels) {
        return false;
    }
    if (songLength < 0) {
        songLength = 0;
    }
    if (songLength > 256) {
        songLength = 256;
    }
    if (restart < 0 || restart >= songLength) {
        restart = 0;
    }
    if (bpm < kMinBpm) {
        bpm = kMinBpm;
    }
    if (bpm > kMaxBpm) {
        bpm = kMaxBpm;
    }
    module->songLength = songLength;
    module->restartPosition = restart;
    module->defaultBpm = bpm;

    if (headerSize > static_cast<uint32_t>(INT32_MAX - 60)) {
        return false;
    }
    in.Seek(static_cast<int32_t>(60 + headerSize), 0);

    module->usedPatternCount = 0;
    for (int i = 0; i < songLength; ++i) {
        if (module->orderTable[i] >= module->usedPatternCount) {
            module->usedPatternCount = module->orderTable[i] + 1;
        }
    }
    if (static_cast<int64_t>(storedPatterns) * kPatternHeaderSize > in.Remaining()) {
        return false;
    }
    module->patternSlots =
        storedPatterns > module->usedPatternCount ? storedPatterns : module->usedPatternCount;
    module->patterns = AllocZeroed<Pattern>(static_cast<size_t>(module->patternSlots));
    if (module->patterns == nullptr) {
        module->patternSlots = 0;
        return false;
    }
    int64_t emptyCellBytes = 0;
    for (int i = 0; i < storedPatterns; ++i) {
        if (!ReadPattern(in, module, module->patterns[i], emptyCellBytes)) {
            return false;
        }
    }
    for (int i = storedPatterns; i < module->usedPatternCount; ++i) {
        Pattern& pattern = module->patterns[i];
        pattern.rows = 64;
        pattern.cells = AllocZeroed<uint8_t>(static_cast<size_t>(64) * module->channelCount * kCellSize);
        if (pattern.cells == nullptr) {
            return false;
        }
    }

    if (module->instrumentCount <= 0) {
        module->instruments = AllocZeroed<Instrument>(0);
        return module->instruments != nullptr;
    }
    if (static_cast<int64_t>(module->instrumentCount) * kInstrumentFieldsSize > in.Remaining()) {
        return false;
    }
    module->instruments = AllocZeroed<Instrument>(static_cast<size_t>(module->instrumentCount));
    if (module->instruments == nullptr) {
        return false;
    }
    for (int i = 0; i < module->instrumentCount; ++i) {
        if (!ReadInstrument(in, module->instruments[i])) {
            return false;
        }
    }
    return true;
}

// The reader over an open stream; the stream stays open.
Module* ReadModule(ModuleStream* stream) {
    Module* module = new (std::nothrow) Module{};
    if (module == nullptr) {
        return nullptr;
    }
    Reader reader(stream);
    if (!ReadXm(reader, module)) {
        FreeModule(module);
        return nullptr;
    }
    return module;
}

} // namespace

Module* LoadModule(const char* name) {
    ModuleStream* stream = StreamOpen(name);
    if (stream == nullptr) {
        return nullptr;
    }
    Module* module = ReadModule(stream);
    StreamClose(stream);
    return module;
}

Module* LoadModuleFromMemory(const void* bytes, size_t size) {
    if (bytes == nullptr || size > 0x7FFFFFFF) {
        return nullptr;
    }
    MemoryStream memory{static_cast<const uint8_t*>(bytes), static_cast<int32_t>(size), 0};
    ModuleStream stream = MemoryModuleStream(memory);
    return ReadModule(&stream);
}

bool FreeModule(Module* module) {
    if (module == nullptr) {
        return false;
    }
    if (module->instruments != nullptr) {
        const int count = module->instrumentCount > 0 ? module->instrumentCount : 0;
        for (int i = 0; i < count; ++i) {
            Instrument& ins = module->instruments[i];
            for (int k = 0; k < ins.sampleCount; ++k) {
                Sample* s = ins.samples[k];
                if (s != nullptr && s != &EmptySample) {
                    FreeSampleData(s->data);
                    delete s;
                }
            }
        }
        delete[] module->instruments;
    }
    if (module->patterns != nullptr) {
        for (int i = 0; i < module->patternSlots; ++i) {
            delete[] module->patterns[i].cells;
        }
        delete[] module->patterns;
    }
    delete module;
    return true;
}
