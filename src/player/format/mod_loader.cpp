// MOD reader: a file without the XM text becomes the same records an XM fills,
// as the original tracker's loader makes them, so its XM rules play it
// unchanged: 64-row patterns of notes found from the periods, a handful of
// effect rewrites, one 8-bit sample an instrument, all channels centred, the
// Amiga table, speed 6 at 125 BPM. Every signature it knows gives 31 samples
// and 2..32 channels. It reads any other file as a 15-sample one; we do so
// only for a file that looks like one, and refuse the rest.
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "player/format/load_report.h"
#include "player/format/module.h"
#include "player/format/xm_reader.h"

namespace xm {
namespace {

constexpr int kRows = 64;
constexpr int kModCellSize = 4;
constexpr int kSampleHeaderSize = 30;
constexpr int kNameSize = 20;
constexpr int kOrderEntries = 128;
constexpr int kSignatureAt = 1080;
constexpr int kHeaderSize31 = 1084;
constexpr int kHeaderSize15 = 600;
// The original gives up on a file that ends within its header read, so even a
// 15-sample file needs a byte past 1084.
constexpr int64_t kShortestFile = 1085;
// Old 15-sample files hold samples of at most 64 KB (9999 words in practice).
constexpr int kMaxWords15 = 32768;
constexpr int kMaxVolume = 64;
constexpr char kNotAModule[] = "neither an XM nor a MOD module";

// Notes 1..96 (C-0..B-7): a period takes the first entry it is at least.
constexpr uint16_t kPeriods[96] = {
    6848, 6464, 6096, 5760, 5424, 5120, 4832, 4560, 4304, 4064, 3840, 3624, 3424, 3232, 3048, 2880,
    2712, 2560, 2416, 2280, 2152, 2032, 1920, 1812, 1712, 1616, 1524, 1440, 1356, 1280, 1208, 1140,
    1076, 1016, 960,  906,  856,  808,  762,  720,  678,  640,  604,  570,  538,  508,  480,  453,
    428,  404,  381,  360,  339,  320,  302,  285,  269,  254,  240,  226,  214,  202,  190,  180,
    170,  160,  151,  143,  135,  127,  120,  113,  107,  101,  95,   90,   85,   80,   75,   71,
    67,   63,   60,   56,   53,   50,   47,   45,   42,   40,   37,   35,   33,   31,   30,   28};

uint16_t Be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint8_t NoteOfPeriod(int period) {
    for (int k = 0; k < 96; ++k) {
        if (period >= kPeriods[k]) {
            return static_cast<uint8_t>(k + 1);
        }
    }
    return 0; // 0..27: no note
}

// Channels a signature names; 0 for one the original does not know.
int SignatureChannels(const uint8_t* id) {
    const auto is = [id](const char* text) { return std::memcmp(id, text, 4) == 0; };
    if (is("M.K.") || is("M!K!") || is("FLT4")) {
        return 4;
    }
    if (is("OCTA")) {
        return 8;
    }
    if (id[0] >= '2' && id[0] <= '8' && id[0] % 2 == 0 && std::memcmp(id + 1, "CHN", 3) == 0) {
        return id[0] - '0';
    }
    if (id[0] >= '1' && id[0] <= '3' && id[1] >= '0' && id[1] <= '9' && id[2] == 'C' && id[3] == 'H') {
        const int n = (id[0] - '0') * 10 + (id[1] - '0');
        return n >= 10 && n <= 32 && n % 2 == 0 ? n : 0;
    }
    return 0;
}

// One cell as the original converts it: the note from the period, the
// instrument from both nibbles, the few effects whose zero parameter means
// "nothing" under ProTracker made into nothing.
void ConvertCell(const uint8_t* b, uint8_t* cell) {
    const uint8_t instrument = static_cast<uint8_t>((b[0] & 0xF0) | (b[2] >> 4));
    uint8_t effect = b[2] & 0x0F;
    uint8_t parameter = b[3];
    if (parameter == 0 && (effect == 0x1 || effect == 0x2 || effect == 0xA)) {
        effect = 0;
    } else if (parameter == 0 && (effect == 0x5 || effect == 0x6)) {
        effect = static_cast<uint8_t>(effect - 2);
    } else if (effect == 0xC && parameter > kMaxVolume) {
        parameter = kMaxVolume;
    }
    cell[0] = NoteOfPeriod((b[0] & 0x0F) << 8 | b[1]);
    cell[1] = instrument <= 128 ? instrument : 0; // 129..255 are no number, as in an XM
    cell[2] = 0;
    cell[3] = effect;
    cell[4] = parameter;
}

// The one thing a file without a known signature holds that no 15-sample
// file would; empty when every field is in range.
void Implausible15(const uint8_t* h, int64_t size, char* why, size_t room) {
    why[0] = '\0';
    for (int s = 0; s < 15; ++s) {
        const uint8_t* p = h + kNameSize + s * kSampleHeaderSize;
        if (Be16(p + 22) > kMaxWords15 || p[24] > 15 || p[25] > kMaxVolume) {
            std::snprintf(why, room, "sample %d's length, finetune or volume is out of range", s + 1);
            return;
        }
    }
    const uint8_t length = h[470];
    if (length == 0 || length > kOrderEntries) {
        std::snprintf(why, room, "its song length is %d", length);
        return;
    }
    int patterns = 0;
    for (int i = 0; i < kOrderEntries; ++i) {
        const uint8_t entry = h[472 + i];
        if (entry >= kOrderEntries) {
            std::snprintf(why, room, "order %d names pattern %d", i, entry);
            return;
        }
        patterns = entry + 1 > patterns ? entry + 1 : patterns;
    }
    if (size <= kHeaderSize15 + int64_t{patterns} * kRows * 4 * kModCellSize) {
        std::snprintf(why, room, "the file is too short for its %d patterns", patterns);
    }
}

// Into the first of the instrument's slots, which are all at EmptySample.
bool ReadSample(Reader& in, const uint8_t* header, Instrument& ins) {
    Sample* s = new (std::nothrow) Sample{};
    if (s == nullptr) {
        return in.Refuse(LoadRefusal::OutOfMemory, "out of memory for samples");
    }
    ins.samples[0] = s;
    ins.sampleCount = 1;

    const uint32_t length = 2u * Be16(header + 22);
    uint32_t loopStart = 2u * Be16(header + 26);
    uint32_t loopLength = 2u * Be16(header + 28);
    if (loopLength <= 2) {
        loopStart = loopLength = 0;
    }
    if (loopStart + loopLength > length) {
        if (loopStart >= length) {
            loopStart = loopLength = 0;
        } else {
            loopLength = length - loopStart;
        }
    }
    const int f = header[24] & 0x0F;
    s->length = length;
    s->finetune = static_cast<int8_t>(16 * (f < 8 ? f : f - 16));
    s->volume = header[25] < kMaxVolume ? header[25] : kMaxVolume;
    s->panning = 128;
    s->relativeNote = 0;
    if (loopLength > 2) {
        s->loopMode = kLoopForward;
        s->type = 1;
        s->loopStart = loopStart;
        s->loopLength = loopLength;
    } else {
        s->loopMode = kLoopNone; // as the XM reader keeps a sample without loop
        s->loopStart = 0;
        s->loopLength = length;
    }

    // Signed 8-bit data as stored; what the file lacks stays 0, and the sample
    // keeps its stated length.
    s->data = AllocSampleData(length, false);
    uint8_t* bytes = AllocZeroed<uint8_t>(length);
    if (s->data == nullptr || bytes == nullptr) {
        delete[] bytes;
        return in.Refuse(LoadRefusal::OutOfMemory, "out of memory for sample data");
    }
    const int64_t present = in.Remaining() < length ? in.Remaining() : length;
    in.Read(bytes, present);
    in.report.sampleBytesShort += length - present;
    for (uint32_t k = 0; k < length; ++k) {
        s->data[k] = static_cast<int16_t>(static_cast<uint16_t>(bytes[k] << 8));
    }
    delete[] bytes;
    FillLoopGuard(*s);
    MakePeaks(*s); // without memory for its peaks a sample still plays; its meter probes
    s->bits = 16;
    return true;
}

} // namespace

bool ReadMod(Reader& in, Module* module) {
    in.Seek(0, 0);
    const int64_t size = in.Remaining();
    if (size < kShortestFile) {
        return in.Refuse(LoadRefusal::NotAModule, "%s (no XM text at its start, and too short for a MOD)",
                         kNotAModule);
    }
    uint8_t h[kHeaderSize31] = {};
    in.Read(h, kHeaderSize31);

    int channels = SignatureChannels(h + kSignatureAt);
    const bool old = channels == 0;
    char why[96] = {};
    if (old) {
        Implausible15(h, size, why, sizeof why);
        if (why[0] != '\0') {
            return in.Refuse(LoadRefusal::NotAModule,
                             "%s (no XM text at its start, no MOD signature, and as a 15-sample MOD: %s)",
                             kNotAModule, why);
        }
        channels = 4;
    }
    const int samples = old ? 15 : 31;
    const int headerSize = old ? kHeaderSize15 : kHeaderSize31;
    const uint8_t* song = h + kNameSize + samples * kSampleHeaderSize;
    const uint8_t length = song[0];
    const uint8_t restart = song[1];
    const uint8_t* orders = song + 2;

    if (old) {
        std::snprintf(module->format, sizeof module->format, "15-sample MOD, 4 channels");
    } else {
        std::snprintf(module->format, sizeof module->format, "ProTracker MOD, %.4s, %d channels",
                      reinterpret_cast<const char*>(h + kSignatureAt), channels);
    }
    CopyStoredName(module->title, h, kNameSize);
    module->channelCount = static_cast<int16_t>(channels);
    module->instrumentCount = static_cast<int16_t>(samples);
    module->songLength = length;
    module->restartPosition = restart > length ? 0 : restart;
    module->flags = 0; // the Amiga table
    module->defaultTempo = 6;
    module->defaultBpm = 125;
    module->initialGlobalVolume = 64;
    std::memcpy(module->orderTable, orders, kOrderEntries);

    int patterns = 0;
    for (int i = 0; i < kOrderEntries; ++i) {
        patterns = orders[i] + 1 > patterns ? orders[i] + 1 : patterns;
    }
    const int64_t patternBytes = int64_t{patterns} * kRows * channels * kModCellSize;
    // The original gives up unless a byte follows the last pattern.
    if (size <= headerSize + patternBytes) {
        return in.Refuse("%s: %d pattern%s %lld bytes, the file has %lld", module->format, patterns,
                         patterns == 1 ? " needs" : "s need",
                         static_cast<long long>(headerSize + patternBytes + 1), static_cast<long long>(size));
    }
    module->patterns = AllocZeroed<Pattern>(static_cast<size_t>(patterns));
    module->instruments = AllocZeroed<Instrument>(static_cast<size_t>(samples));
    if (module->patterns == nullptr || module->instruments == nullptr) {
        return in.Refuse(LoadRefusal::OutOfMemory, "out of memory for patterns");
    }
    module->patternSlots = module->usedPatternCount = module->storedPatterns = patterns;
    in.Seek(headerSize, 0);
    std::vector<uint8_t> stored(static_cast<size_t>(kRows) * channels * kModCellSize);
    for (int p = 0; p < patterns; ++p) {
        Pattern& pattern = module->patterns[p];
        pattern.rows = kRows;
        pattern.cells = AllocZeroed<uint8_t>(static_cast<size_t>(kRows) * channels * kCellSize);
        if (pattern.cells == nullptr) {
            return in.Refuse(LoadRefusal::OutOfMemory, "out of memory for pattern %d", p);
        }
        in.Read(stored.data(), static_cast<int64_t>(stored.size()));
        for (int i = 0; i < kRows * channels; ++i) {
            ConvertCell(stored.data() + i * kModCellSize, pattern.cells + i * kCellSize);
        }
    }

    for (int i = 0; i < samples; ++i) {
        Instrument& ins = module->instruments[i];
        const uint8_t* header = h + kNameSize + i * kSampleHeaderSize;
        // An empty slot is an instrument without samples.
        if (!PointAtEmptySample(in, ins, kInstrumentSampleSlots) ||
            (Be16(header + 22) != 0 && !ReadSample(in, header, ins))) {
            return false;
        }
    }
    in.report.trailingBytes = in.Remaining();
    return true;
}

} // namespace xm
