// XM reader (a file without the XM text goes to the MOD reader): turns the file into fixed five-byte cells
// and 16-bit delta-decoded samples. Every declared size is checked against what the stream can still deliver
// before anything is allocated, so a damaged image fails instead of exhausting memory or reading out of
// bounds. Files real trackers write in other ways load too: the 1.02/1.03 layout, short instrument headers,
// more than 16 samples per instrument, packed pattern data that ends before the pattern's last row, stereo
// samples, up to 127 channels, and instruments or sample data cut short by the end of the file (loaded as far
// as they are stored).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "player/format/load_report.h"
#include "player/format/module.h"
#include "player/format/stream.h"
#include "player/format/xm_reader.h"

Sample EmptySample{};

void CopyStoredName(char* to, const void* from, size_t size) {
    const char* text = static_cast<const char*>(from);
    size_t n = 0;
    while (n < size && text[n] != '\0') {
        ++n;
    }
    while (n > 0 && text[n - 1] == ' ') {
        --n;
    }
    std::memcpy(to, text, n);
    to[n] = '\0';
}

namespace {

using xm::AllocZeroed;
using xm::Le16;
using xm::Le32;
using xm::PointAtEmptySample;
using xm::Reader;
using xm::StoredSample;

constexpr char kXmId[] = "Extended Module: ";
constexpr int kXmIdLength = 17;
constexpr int kPatternHeaderSize = 9;
constexpr int kPatternHeaderSize102 = 8;   // rows - 1 in one byte
constexpr int kInstrumentFieldsSize = 29;  // header size .. number of samples
constexpr int kInstrumentHeaderSize = 241; // .. fadeout, when samples follow
constexpr int kSampleHeaderSize = 40;
constexpr int kInstrumentSizeFieldSize = 4; // stored even when the header says less
// As many instruments as cells can name: their records need no proof from the file.
constexpr int kNamedInstruments = 128;
constexpr int kMinBpm = 32;
constexpr int kMaxBpm = 255;
constexpr int kNoteKeyOffInFile = 97;
constexpr uint16_t kVersion102 = 0x0102;
constexpr uint16_t kVersion103 = 0x0103;

// Where the parts of the file lie: today's layout has each instrument's sample
// data after its headers and all patterns first; versions 1.02 and 1.03 store
// every instrument and sample header, then the patterns, then all sample data.
struct Layout {
    bool instrumentsFirst;
    int patternHeaderSize;
};

Layout LayoutOf(uint16_t version) {
    if (version == kVersion102) {
        return {true, kPatternHeaderSize102};
    }
    if (version == kVersion103) {
        return {true, kPatternHeaderSize};
    }
    return {false, kPatternHeaderSize};
}

// Cells of patterns stored without data, or past the end of their packed
// data, are zeros the stream never fills, so nine header bytes could each ask
// for megabytes. Their sum is bounded well above what songs need (256 empty
// patterns of 64 rows of 127 channels is 10 MB).
#ifdef TINSEL_FUZZ_BUDGET
// The fuzz targets' builds refuse at 64 KB (the seeds hold under 8 KB of
// cells): the same refusal, reached without each input allocating and
// clearing megabytes, twice over.
constexpr int64_t kUnstoredCellBudget = int64_t{64} << 10;
constexpr const char* kUnstoredCellBudgetText = "64 KB";
#else
constexpr int64_t kUnstoredCellBudget = int64_t{32} << 20;
constexpr const char* kUnstoredCellBudgetText = "32 MB";
#endif

// Unpacks one pattern's packed bytes into its cells: a byte with bit 7 set
// names the fields that follow, any other is the note of a whole cell. The
// bytes bound the unpacking: cells they do not reach stay empty, and so do
// the fields of a cell they end inside. False when they end before the last cell.
bool Unpack(const uint8_t* bytes, int64_t size, uint8_t* cells, int64_t cellCount) {
    int64_t at = 0;
    const auto next = [&] { return at < size ? bytes[at++] : uint8_t{0}; };
    int64_t i = 0;
    for (; i < cellCount && at < size; ++i) {
        uint8_t* cell = cells + i * kCellSize;
        const uint8_t b = next();
        if (b & 0x80) {
            for (int field = 0; field < kCellSize; ++field) {
                if (b & (1 << field)) {
                    cell[field] = next();
                }
            }
        } else {
            cell[0] = b;
            for (int field = 1; field < kCellSize; ++field) {
                cell[field] = next();
            }
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
    return i == cellCount;
}

// Reads one pattern: its header, then exactly the packed size it gives (or
// what the file still holds of it), so the next block starts where the
// size says whatever the cells took.
bool ReadPattern(Reader& in, Module* module, const Layout& layout, int number, int64_t& unstoredCellBytes,
                 std::vector<uint8_t>& packed) {
    Pattern& pattern = module->patterns[number];
    if (in.Remaining() < layout.patternHeaderSize) {
        return in.Refuse("the file ends inside pattern %d's header", number);
    }
    uint8_t header[kPatternHeaderSize] = {};
    in.Read(header, layout.patternHeaderSize);
    uint16_t packedSize = 0;
    if (layout.patternHeaderSize == kPatternHeaderSize102) {
        pattern.rows = header[5] + 1;
        packedSize = Le16(header + 6);
    } else {
        pattern.rows = Le16(header + 5);
        packedSize = Le16(header + 7);
    }
    const int64_t cellCount = static_cast<int64_t>(pattern.rows) * module->channelCount;
    const int64_t present = packedSize < in.Remaining() ? packedSize : in.Remaining();
    // Every stored cell takes at least one byte of packed data.
    unstoredCellBytes += (cellCount > present ? cellCount - present : 0) * kCellSize;
    if (unstoredCellBytes > kUnstoredCellBudget) {
        return in.Refuse("pattern %d: %d cells, more than the patterns' data and %s of empty cells hold",
                         number, static_cast<int>(cellCount), kUnstoredCellBudgetText);
    }
    pattern.cells = AllocZeroed<uint8_t>(static_cast<size_t>(cellCount) * kCellSize);
    if (pattern.cells == nullptr) {
        return in.Refuse(LoadRefusal::OutOfMemory, "out of memory for pattern %d", number);
    }
    if (packedSize == 0) {
        return true;
    }
    packed.resize(static_cast<size_t>(present));
    in.Read(packed.data(), present);
    if (!Unpack(packed.data(), present, pattern.cells, cellCount)) {
        ++in.report.shortPatterns;
    }
    return true;
}

bool ReadPatterns(Reader& in, Module* module, const Layout& layout, uint16_t storedPatterns) {
    if (static_cast<int64_t>(storedPatterns) * layout.patternHeaderSize > in.Remaining()) {
        return in.Refuse("the file ends before its %d patterns", storedPatterns);
    }
    module->patternSlots =
        storedPatterns > module->usedPatternCount ? storedPatterns : module->usedPatternCount;
    module->patterns = AllocZeroed<Pattern>(static_cast<size_t>(module->patternSlots));
    if (module->patterns == nullptr) {
        module->patternSlots = 0;
        return in.Refuse(LoadRefusal::OutOfMemory, "out of memory for patterns");
    }
    int64_t unstoredCellBytes = 0;
    std::vector<uint8_t> packed;
    for (int i = 0; i < storedPatterns; ++i) {
        if (!ReadPattern(in, module, layout, i, unstoredCellBytes, packed)) {
            return false;
        }
    }
    for (int i = storedPatterns; i < module->usedPatternCount; ++i) {
        Pattern& pattern = module->patterns[i];
        pattern.rows = 64;
        pattern.cells = AllocZeroed<uint8_t>(static_cast<size_t>(64) * module->channelCount * kCellSize);
        if (pattern.cells == nullptr) {
            return in.Refuse(LoadRefusal::OutOfMemory, "out of memory for pattern %d", i);
        }
    }
    return true;
}

// The file ended inside or before this instrument (1-based); so it does for
// every one after it.
void MarkCut(Reader& in, int number) {
    if (in.report.firstCutInstrument == 0) {
        in.report.firstCutInstrument = number;
    }
}

void ReadInstrumentFields(const uint8_t* h, Instrument& ins) {
    const uint8_t* p = h + 33;
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
    // As stored: under FT2 rules the type bit alone turns an envelope on.
    ins.volumeType = p[8];
    ins.panningType = p[9];
    ins.vibratoType = p[10];
    ins.vibratoSweep = p[11];
    ins.vibratoDepth = p[12];
    ins.vibratoRate = p[13];
    ins.fadeout = static_cast<uint16_t>(Le16(p + 14) << 1);
}

// Reads one instrument's header and sample headers, leaving the stream after
// the last sample header; its samples' data is queued in `pending`. Fields the
// header does not store, or the file ends before, are zero.
bool ReadInstrumentHeaders(Reader& in, int number, Instrument& ins, std::vector<StoredSample>& pending) {
    if (!PointAtEmptySample(in, ins, kInstrumentSampleSlots)) {
        return false;
    }
    const int64_t start = in.Tell();
    const int64_t available = in.Remaining();
    if (available < kInstrumentSizeFieldSize) {
        MarkCut(in, number);
        return true;
    }
    uint8_t h[kInstrumentHeaderSize] = {};
    in.Read(h, kInstrumentSizeFieldSize);
    int64_t headerSize = Le32(h);
    // A header smaller than its own size field still moves on past it, so the
    // reader never goes back over bytes and a small image cannot declare unbounded work.
    if (headerSize < kInstrumentSizeFieldSize) {
        headerSize = kInstrumentSizeFieldSize;
    }
    const int64_t stored = headerSize < kInstrumentHeaderSize ? headerSize : kInstrumentHeaderSize;
    in.Read(h + kInstrumentSizeFieldSize,
            (stored < available ? stored : available) - kInstrumentSizeFieldSize);
    const uint16_t sampleCount = stored >= kInstrumentFieldsSize ? Le16(h + 27) : 0;
    if (headerSize < kInstrumentFieldsSize || (sampleCount > 0 && headerSize < kInstrumentHeaderSize)) {
        ++in.report.shortInstrumentHeaders;
    }
    if (available < (sampleCount > 0 ? stored : std::min<int64_t>(stored, kInstrumentFieldsSize))) {
        MarkCut(in, number);
    }
    CopyStoredName(ins.name, h + 4, 22);
    if (sampleCount > 0) {
        ReadInstrumentFields(h, ins);
    }
    in.Seek(start + headerSize, 0);
    int32_t count = sampleCount;
    if (count > in.Remaining() / kSampleHeaderSize) {
        count = static_cast<int32_t>(in.Remaining() / kSampleHeaderSize);
        MarkCut(in, number);
    }
    if (count > kInstrumentSampleSlots) {
        ++in.report.instrumentsOver16;
        if (!PointAtEmptySample(in, ins, count)) {
            return false;
        }
    }
    if (count > in.report.mostSamples) {
        in.report.mostSamples = count;
    }
    // Samples join the instrument one by one, so a failure leaves counts FreeModule can trust.
    for (int i = 0; i < count; ++i) {
        Sample* s = new (std::nothrow) Sample{};
        if (s == nullptr) {
            return in.Refuse(LoadRefusal::OutOfMemory, "out of memory for samples");
        }
        ins.samples[i] = s;
        ins.sampleCount = i + 1;
        StoredSample data = xm::ReadSampleHeader(in, *s);
        data.instrument = number;
        data.index = i;
        pending.push_back(data);
    }
    return true;
}

bool ReadPendingSampleData(Reader& in, std::vector<StoredSample>& pending) {
    for (const StoredSample& stored : pending) {
        if (!xm::ReadSampleData(in, stored)) {
            return false;
        }
    }
    pending.clear();
    return true;
}

bool AllocInstruments(Reader& in, Module* module) {
    const int count = module->instrumentCount > 0 ? module->instrumentCount : 0;
    if (count > kNamedInstruments &&
        static_cast<int64_t>(count) * kInstrumentSizeFieldSize > in.Remaining()) {
        return in.Refuse("%d instruments, more than the file has room for", count);
    }
    module->instruments = AllocZeroed<Instrument>(static_cast<size_t>(count));
    return module->instruments != nullptr ||
           in.Refuse(LoadRefusal::OutOfMemory, "out of memory for instruments");
}

// The file's header as stored: the one place that knows where its fields lie.
struct XmHeader {
    char id[kXmIdLength]; // "Extended Module: "
    char title[20];
    char trackerName[20];
    uint16_t version;
    uint32_t headerSize; // counted from its own field, at offset 60
    uint16_t songLength;
    uint16_t restart;
    uint16_t channels;
    uint16_t patterns;
    uint16_t instruments;
    uint16_t flags;
    uint16_t tempo;
    uint16_t bpm;
    uint8_t orders[256];
};
constexpr int kXmHeaderBytes = 80 + 256;
constexpr int kXmHeaderSizeField = 60;

// Reads the header; fields the file ends before are zero.
XmHeader ReadHeader(Reader& in) {
    uint8_t b[kXmHeaderBytes] = {};
    in.Seek(0, 0);
    in.Read(b, kXmHeaderBytes);
    XmHeader h{};
    std::memcpy(h.id, b, kXmIdLength);
    std::memcpy(h.title, b + 17, 20);
    std::memcpy(h.trackerName, b + 38, 20);
    h.version = Le16(b + 58);
    h.headerSize = Le32(b + 60);
    h.songLength = Le16(b + 64);
    h.restart = Le16(b + 66);
    h.channels = Le16(b + 68);
    h.patterns = Le16(b + 70);
    h.instruments = Le16(b + 72);
    h.flags = Le16(b + 74);
    h.tempo = Le16(b + 76);
    h.bpm = Le16(b + 78);
    std::memcpy(h.orders, b + 80, 256);
    return h;
}

bool ReadXm(Reader& in, Module* module) {
    const XmHeader header = ReadHeader(in);
    if (std::memcmp(header.id, kXmId, kXmIdLength) != 0) {
        return xm::ReadMod(in, module);
    }
    module->initialGlobalVolume = 64;
    CopyStoredName(module->title, header.title, sizeof header.title);
    CopyStoredName(module->trackerName, header.trackerName, sizeof header.trackerName);
    const uint16_t version = header.version;
    const uint32_t headerSize = header.headerSize;
    int16_t songLength = static_cast<int16_t>(header.songLength);
    int16_t restart = static_cast<int16_t>(header.restart);
    module->channelCount = static_cast<int16_t>(header.channels);
    const uint16_t storedPatterns = header.patterns;
    module->storedPatterns = storedPatterns;
    module->version = version;
    module->instrumentCount = static_cast<int16_t>(header.instruments);
    module->flags = header.flags;
    module->defaultTempo = static_cast<int16_t>(header.tempo);
    int16_t bpm = static_cast<int16_t>(header.bpm);
    std::memcpy(module->orderTable, header.orders, 256);

    const Layout layout = LayoutOf(version);
    in.report.version = version;
    in.report.olderLayout = layout.instrumentsFirst;

    // The engine binds channel i to one of 32 voices and indexes a 256-entry order table.
    if (module->channelCount < 0 || module->channelCount > kMaxChannels) {
        return in.Refuse("%d channels; the player plays %d at most", module->channelCount, kMaxChannels);
    }
    if (module->channelCount == 0) {
        return in.Refuse("0 channels: the song has nothing to play");
    }
    std::snprintf(module->format, sizeof module->format, "XM %d.%02x", version >> 8, version & 0xFF);
    songLength = std::clamp<int16_t>(songLength, 0, 256);
    if (restart < 0 || restart >= songLength) {
        restart = 0;
    }
    bpm = std::clamp<int16_t>(bpm, kMinBpm, kMaxBpm);
    module->songLength = songLength;
    module->restartPosition = restart;
    module->defaultBpm = bpm;

    if (headerSize > static_cast<uint32_t>(INT32_MAX - kXmHeaderSizeField)) {
        return in.Refuse("damaged header: header size %u", headerSize);
    }
    in.Seek(static_cast<int32_t>(kXmHeaderSizeField + headerSize), 0);

    module->usedPatternCount = 0;
    for (int i = 0; i < songLength; ++i) {
        if (module->orderTable[i] >= module->usedPatternCount) {
            module->usedPatternCount = module->orderTable[i] + 1;
        }
    }

    if (!AllocInstruments(in, module)) {
        return false;
    }
    std::vector<StoredSample> pending;
    if (layout.instrumentsFirst) {
        for (int i = 0; i < module->instrumentCount; ++i) {
            if (!ReadInstrumentHeaders(in, i + 1, module->instruments[i], pending)) {
                return false;
            }
        }
        if (!ReadPatterns(in, module, layout, storedPatterns) || !ReadPendingSampleData(in, pending)) {
            return false;
        }
    } else {
        if (!ReadPatterns(in, module, layout, storedPatterns)) {
            return false;
        }
        for (int i = 0; i < module->instrumentCount; ++i) {
            if (!ReadInstrumentHeaders(in, i + 1, module->instruments[i], pending) ||
                !ReadPendingSampleData(in, pending)) {
                return false;
            }
        }
    }
    if (in.report.firstCutInstrument > 0) {
        in.report.cutInstruments = module->instrumentCount - in.report.firstCutInstrument + 1;
    }
    in.report.trailingBytes = in.Remaining();
    return true;
}

// The reader over an open stream; the stream stays open.
Module* ReadModule(ModuleStream* stream, LoadReport& report) {
    Module* module = new (std::nothrow) Module{};
    if (module == nullptr) {
        Refuse(report, LoadRefusal::OutOfMemory, "out of memory");
        return nullptr;
    }
    Reader reader(stream, report);
    if (!ReadXm(reader, module)) {
        FreeModule(module);
        return nullptr;
    }
    return module;
}

} // namespace

Module* LoadModule(const char* name, LoadReport* report) {
    LoadReport own{};
    LoadReport& out = report != nullptr ? *report : own;
    out = LoadReport{};
    ModuleStream* stream = StreamOpen(name);
    if (stream == nullptr) {
        Refuse(out, LoadRefusal::Unreadable, "cannot open the song");
        return nullptr;
    }
    Module* module = ReadModule(stream, out);
    StreamClose(stream);
    return module;
}

Module* LoadModuleFromMemory(const void* bytes, size_t size, LoadReport* report) {
    LoadReport own{};
    LoadReport& out = report != nullptr ? *report : own;
    out = LoadReport{};
    // No bytes at all are no module, rather than a failure to read.
    if ((bytes == nullptr && size > 0) || size > 0x7FFFFFFF) {
        Refuse(out, LoadRefusal::Unreadable, "no song in memory, or one of 2 GB or more");
        return nullptr;
    }
    MemoryStream memory{static_cast<const uint8_t*>(bytes), static_cast<int32_t>(size), 0};
    ModuleStream stream = MemoryModuleStream(memory);
    return ReadModule(&stream, out);
}

Module* LoadModuleFromStream(const StreamCallbacks& callbacks, StreamHandle handle, LoadReport* report) {
    LoadReport own{};
    LoadReport& out = report != nullptr ? *report : own;
    out = LoadReport{};
    if (callbacks.read == nullptr || callbacks.seek == nullptr || callbacks.tell == nullptr) {
        Refuse(out, LoadRefusal::Unreadable, "no way to read the song (a stream callback is missing)");
        return nullptr;
    }
    ModuleStream stream{handle, callbacks};
    return ReadModule(&stream, out);
}

bool FreeModule(Module* module) {
    if (module == nullptr) {
        return false;
    }
    if (module->instruments != nullptr) {
        const int count = module->instrumentCount > 0 ? module->instrumentCount : 0;
        for (int i = 0; i < count; ++i) {
            Instrument& ins = module->instruments[i];
            for (int k = 0; ins.samples != nullptr && k < ins.sampleCount; ++k) {
                Sample* s = ins.samples[k];
                if (s != nullptr && s != &EmptySample) {
                    xm::FreeSampleData(s->data);
                    delete[] s->peaks;
                    delete s;
                }
            }
            delete[] ins.samples;
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
