// Builds small XM images in memory: the loader's files, the tests' songs and the fuzz seeds.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>
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
    uint8_t reserved = 0; // 0xAD marks 4-bit ADPCM data
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
    int volumePointCount = -1; // as stored; -1 for as many as volumePoints holds
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
        bytes.resize(60, 0); // version 0: read as today's layout
        Le(276, 4);
        for (uint16_t v :
             {songLength, restart, channels, patterns, instruments, uint16_t{1}, uint16_t{6}, bpm})
            Le(v, 2);
        orders.resize(256, 0);
        bytes.insert(bytes.end(), orders.begin(), orders.end());
    }
    // Versions 1.02 and 1.03 store every instrument first (call Instrument
    // before Pattern) and all sample data last (SampleData); 1.02's pattern
    // header is 8 bytes with rows - 1 in one byte.
    void SetVersion(uint16_t version) {
        m_version = version;
        Put(bytes.data() + 58, version, 2);
    }
    void SetFlags(uint16_t flags) { Put(bytes.data() + 74, flags, 2); }
    void SetTempo(uint16_t tempo) { Put(bytes.data() + 76, tempo, 2); }
    void Pattern(uint16_t rows, const std::vector<uint8_t>& packed) {
        const bool old = m_version == 0x0102;
        Le(old ? 8 : 9, 4);
        Le(0, 1);
        Le(old ? rows - 1u : rows, old ? 1 : 2);
        Le(static_cast<uint32_t>(packed.size()), 2);
        bytes.insert(bytes.end(), packed.begin(), packed.end());
    }
    // A pattern of unpacked cells, row by row: every cell spends five bytes.
    void PatternCells(uint16_t rows, const std::vector<XmCell>& cells) {
        std::vector<uint8_t> packed;
        for (const XmCell& c : cells)
            packed.insert(packed.end(), {c.note, c.instrument, c.volume, c.effect, c.parameter});
        Pattern(rows, packed);
    }
    // The instrument header as the tracker writes it, of which the file keeps
    // the first headerSize bytes (zeros past its 263).
    void Instrument(const std::vector<XmSampleDesc>& samples, uint32_t headerSize = 263,
                    const XmInstrumentDesc* desc = nullptr) {
        if (samples.empty() && headerSize == 263)
            headerSize = 33;
        uint8_t h[263] = {};
        Put(h, headerSize, 4);
        Put(h + 27, static_cast<uint32_t>(samples.size()), 2);
        if (!samples.empty()) {
            Put(h + 29, 40, 4);
            h[225] = 2; // volume points: keeps the volume type
            h[233] = 5;
            h[234] = 5; // panning type, kept though no point is stored
            Put(h + 239, 0x1234, 2);
        }
        if (desc != nullptr)
            Describe(*desc, h);
        // The size field is there even when the size says less.
        bytes.insert(bytes.end(), h, h + (headerSize < 4 ? 4 : headerSize < 263 ? headerSize : 263));
        if (headerSize > 263)
            bytes.resize(bytes.size() + headerSize - 263, 0);
        for (const auto& s : samples) {
            for (uint32_t v : {s.lengthBytes, s.loopStartBytes, s.loopLengthBytes})
                Le(v, 4);
            bytes.insert(bytes.end(), {s.volume, s.finetune, s.type, s.panning, s.relativeNote, s.reserved});
            bytes.resize(bytes.size() + 22, 0);
            m_pendingData.insert(m_pendingData.end(), s.data.begin(), s.data.end());
        }
        if (m_version != 0x0102 && m_version != 0x0103)
            SampleData();
    }
    void InstrumentWith(const XmInstrumentDesc& d, const std::vector<XmSampleDesc>& samples) {
        Instrument(samples, 263, &d);
    }
    // The sample data of every instrument written since the last call.
    void SampleData() {
        bytes.insert(bytes.end(), m_pendingData.begin(), m_pendingData.end());
        m_pendingData.clear();
    }
    // An extension chunk as some trackers append after the last sample.
    void Chunk(const char (&id)[5], const std::vector<uint8_t>& payload) {
        bytes.insert(bytes.end(), id, id + 4);
        Le(static_cast<uint32_t>(payload.size()), 4);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
    }
    // Stored 8-bit or 16-bit data: each value as its difference from the one before.
    template <typename T> static std::vector<uint8_t> Delta(const std::vector<T>& wave) {
        std::vector<uint8_t> out;
        T previous = 0;
        for (T v : wave) {
            const auto d = static_cast<std::make_unsigned_t<T>>(v - previous);
            for (size_t b = 0; b < sizeof(T); ++b)
                out.push_back(static_cast<uint8_t>(d >> 8 * b));
            previous = v;
        }
        return out;
    }
    // 4-bit ADPCM data for an 8-bit waveform: the delta table, then for each
    // value the index of the delta that reaches it (or comes nearest), low nibble first.
    static std::vector<uint8_t> Adpcm(const std::vector<int8_t>& wave, const int8_t (&table)[16]) {
        std::vector<uint8_t> out(table, table + 16);
        out.resize(16 + (wave.size() + 1) / 2, 0);
        int8_t value = 0;
        for (size_t k = 0; k < wave.size(); ++k) {
            const auto miss = [&](int index) {
                const int step = static_cast<int8_t>(static_cast<uint8_t>(value + table[index]));
                return step > wave[k] ? step - wave[k] : wave[k] - step;
            };
            int best = 0;
            for (int i = 1; i < 16; ++i)
                best = miss(i) < miss(best) ? i : best;
            value = static_cast<int8_t>(static_cast<uint8_t>(value + table[best]));
            out[16 + k / 2] |= static_cast<uint8_t>(best << (k % 2 ? 4 : 0));
        }
        return out;
    }
    // Little-endian, n bytes: written over p, or appended.
    static void Put(uint8_t* p, uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            p[i] = static_cast<uint8_t>(v >> 8 * i);
    }
    void Le(uint32_t v, int n) {
        bytes.resize(bytes.size() + static_cast<size_t>(n));
        Put(bytes.data() + bytes.size() - n, v, n);
    }

private:
    static void Describe(const XmInstrumentDesc& d, uint8_t* h) {
        std::memcpy(h + 33, d.sampleMap, 96);
        for (size_t i = 0; i < 12; ++i) {
            for (const auto& [points, at] :
                 {std::pair{&d.volumePoints, 129}, std::pair{&d.panningPoints, 177}}) {
                if (i < points->size()) {
                    Put(h + at + 4 * i, (*points)[i].first, 2);
                    Put(h + at + 2 + 4 * i, (*points)[i].second, 2);
                }
            }
        }
        const uint8_t fields[14] = {
            static_cast<uint8_t>(d.volumePointCount >= 0 ? d.volumePointCount : int(d.volumePoints.size())),
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
        Put(h + 239, d.fadeout, 2);
    }

    uint16_t m_version = 0;
    std::vector<uint8_t> m_pendingData;
};

// A sample at full volume tuned to C-4 (no finetune or relative note): 8- or
// 16-bit values, the loop's start and length counted in values, its kind in loop.
template <typename T>
XmSampleDesc Wave(const std::vector<T>& wave, uint32_t loopStart = 0, uint32_t loopLength = 0,
                  uint8_t loop = 0) {
    const auto w = static_cast<uint32_t>(sizeof(T));
    XmSampleDesc s{w * static_cast<uint32_t>(wave.size()), w * loopStart, w * loopLength,
                   static_cast<uint8_t>(loop | (w == 2 ? 0x10 : 0)), XmImage::Delta(wave)};
    s.volume = 64;
    s.finetune = s.relativeNote = 0;
    return s;
}

// A short looping 8-bit sample at C-4 with no relative note or finetune.
inline XmSampleDesc PlainSample(uint8_t volume = 64, uint8_t relativeNote = 0) {
    XmSampleDesc s{16, 0, 16, 0x01, std::vector<uint8_t>(16, 4)};
    s.volume = volume;
    s.finetune = 0;
    s.relativeNote = relativeNote;
    return s;
}

// A song of equal patterns, one instrument for each sample, all of it sharing one description.
struct SongSpec {
    uint16_t tempo = 6;
    bool linear = true;
    int channels = 1;
    int rows = 8;                              // rows per pattern
    std::vector<std::vector<XmCell>> patterns; // rows x channels cells each, the rest empty
    std::vector<uint8_t> orders = {0};
    uint16_t restart = 0;
    std::vector<XmSampleDesc> samples = {PlainSample()};
    XmInstrumentDesc instrument;
};

inline XmImage Build(const SongSpec& s) {
    XmImage image(static_cast<uint16_t>(s.orders.size()), s.restart, static_cast<uint16_t>(s.channels),
                  static_cast<uint16_t>(s.patterns.size()), static_cast<uint16_t>(s.samples.size()), 125,
                  s.orders);
    image.SetTempo(s.tempo);
    image.SetFlags(s.linear ? 1 : 0);
    for (std::vector<XmCell> cells : s.patterns) {
        cells.resize(static_cast<size_t>(s.rows * s.channels));
        image.PatternCells(static_cast<uint16_t>(s.rows), cells);
    }
    for (const XmSampleDesc& sample : s.samples)
        image.InstrumentWith(s.instrument, {sample});
    return image;
}

// Four tunes in one song, as games pack them: orders 0-10 jump back to 0,
// 11-22 stop with F00, 23 jumps to itself, 24-27 jump back to 24; each order
// its own pattern of four rows with a note on the first.
inline SongSpec GameSong() {
    SongSpec s;
    s.rows = 4;
    s.orders.clear();
    for (int p = 0; p < 28; ++p) {
        s.orders.push_back(static_cast<uint8_t>(p));
        std::vector<XmCell> cells(4);
        cells[0] = {static_cast<uint8_t>(37 + p % 24), 1};
        const int jump = p == 10 ? 0 : p == 23 ? 23 : p == 27 ? 24 : -1;
        if (jump >= 0)
            cells[3] = {0, 0, 0, 0xB, static_cast<uint8_t>(jump)};
        if (p == 22)
            cells[3] = {0, 0, 0, 0xF, 0};
        s.patterns.push_back(cells);
    }
    return s;
}
