#include "xm_writer.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace songc {
namespace {

constexpr uint32_t kHeaderSize = 276;           // from offset 60 to the first pattern
constexpr uint32_t kInstrumentHeaderSize = 263; // with samples
constexpr uint32_t kEmptyInstrumentSize = 29;   // without samples
constexpr uint32_t kSampleHeaderSize = 40;
constexpr uint32_t kPatternHeaderSize = 9;

class Writer {
public:
    void U8(uint32_t v) { bytes.push_back(static_cast<uint8_t>(v)); }
    void U16(uint32_t v) {
        U8(v & 0xFF);
        U8((v >> 8) & 0xFF);
    }
    void U32(uint32_t v) {
        U16(v & 0xFFFF);
        U16(v >> 16);
    }
    // Fixed-width text, padded with zero bytes.
    void Text(const std::string& text, size_t width) {
        for (size_t i = 0; i < width; ++i)
            U8(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
    }
    void Zeros(size_t count) { bytes.insert(bytes.end(), count, 0); }
    void PatchU16(size_t at, uint32_t v) {
        bytes[at] = static_cast<uint8_t>(v & 0xFF);
        bytes[at + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    }
    std::vector<uint8_t> bytes;
};

// One cell in the packed form, or in full when all five fields are present.
void PackCell(const Cell& cell, Writer& w) {
    const uint8_t fields[5] = {cell.note, cell.instrument, cell.volume, cell.effect, cell.parameter};
    uint8_t mask = 0;
    for (int i = 0; i < 5; ++i)
        if (fields[i] != 0)
            mask = static_cast<uint8_t>(mask | (1 << i));
    if (mask == 0x1F) {
        for (uint8_t f : fields)
            w.U8(f);
        return;
    }
    w.U8(0x80u | mask);
    for (int i = 0; i < 5; ++i)
        if (fields[i] != 0)
            w.U8(fields[i]);
}

void WritePattern(const PatternData& pattern, int channels, Writer& w) {
    w.U32(kPatternHeaderSize);
    w.U8(0); // packing type
    w.U16(static_cast<uint32_t>(pattern.rows));
    const size_t sizeAt = w.bytes.size();
    w.U16(0);
    const bool empty =
        std::all_of(pattern.cells.begin(), pattern.cells.end(), [](const Cell& c) { return c.Empty(); });
    if (empty)
        return; // packed size 0: a pattern of empty rows with no data
    const size_t start = w.bytes.size();
    for (size_t i = 0; i < static_cast<size_t>(pattern.rows * channels); ++i)
        PackCell(pattern.cells[i], w);
    w.PatchU16(sizeAt, static_cast<uint32_t>(w.bytes.size() - start));
}

void WriteEnvelope(const EnvelopeDef& envelope, Writer& w) {
    for (size_t i = 0; i < 12; ++i) {
        w.U16(i < envelope.points.size() ? envelope.points[i].first : 0);
        w.U16(i < envelope.points.size() ? envelope.points[i].second : 0);
    }
}

// Envelope type bits: 1 on, 2 sustain, 4 loop.
uint8_t EnvelopeType(const EnvelopeDef& envelope) {
    if (envelope.points.size() < 2)
        return 0;
    return static_cast<uint8_t>(1 | (envelope.sustain >= 0 ? 2 : 0) | (envelope.loopEnd >= 0 ? 4 : 0));
}

void WriteInstrument(const InstrumentDef& ins, Writer& w) {
    const SampleData& s = ins.sample;
    const bool hasSample = !s.pcm.empty();
    w.U32(hasSample ? kInstrumentHeaderSize : kEmptyInstrumentSize);
    w.Text(ins.name, 22);
    w.U8(0);
    w.U16(hasSample ? 1 : 0);
    if (!hasSample)
        return;
    w.U32(kSampleHeaderSize);
    w.Zeros(96); // every note maps to sample 0
    WriteEnvelope(ins.volumeEnvelope, w);
    WriteEnvelope(ins.panningEnvelope, w);
    const EnvelopeDef& v = ins.volumeEnvelope;
    const EnvelopeDef& p = ins.panningEnvelope;
    w.U8(static_cast<uint32_t>(v.points.size()));
    w.U8(static_cast<uint32_t>(p.points.size()));
    w.U8(static_cast<uint32_t>(std::max(v.sustain, 0)));
    w.U8(static_cast<uint32_t>(std::max(v.loopStart, 0)));
    w.U8(static_cast<uint32_t>(std::max(v.loopEnd, 0)));
    w.U8(static_cast<uint32_t>(std::max(p.sustain, 0)));
    w.U8(static_cast<uint32_t>(std::max(p.loopStart, 0)));
    w.U8(static_cast<uint32_t>(std::max(p.loopEnd, 0)));
    w.U8(EnvelopeType(v));
    w.U8(EnvelopeType(p));
    w.U8(ins.vibratoType);
    w.U8(ins.vibratoSweep);
    w.U8(ins.vibratoDepth);
    w.U8(ins.vibratoRate);
    w.U16(ins.fadeout);
    w.Zeros(22); // reserved

    const int relative = std::clamp(s.relativeNote + ins.transpose, -96, 95);
    w.U32(static_cast<uint32_t>(s.pcm.size()));
    w.U32(s.loopLength > 0 ? s.loopStart : 0);
    w.U32(s.loopLength);
    w.U8(ins.volume);
    w.U8(static_cast<uint8_t>(s.finetune));
    w.U8(s.loopLength > 0 ? 1 : 0); // forward loop, 8-bit
    w.U8(ins.panning);
    w.U8(static_cast<uint8_t>(static_cast<int8_t>(relative)));
    w.U8(0);
    w.Text(ins.name, 22);

    // 8-bit data as the differences between neighbours, modulo 256.
    int8_t previous = 0;
    for (int8_t value : s.pcm) {
        w.U8(static_cast<uint8_t>(value - previous));
        previous = value;
    }
}

} // namespace

std::vector<uint8_t> WriteXm(const Song& song) {
    Writer w;
    w.Text("Extended Module: ", 17);
    w.Text(song.name, 20);
    w.U8(0x1A);
    w.Text("songc", 20);
    w.U16(0x0104);
    w.U32(kHeaderSize);
    w.U16(static_cast<uint32_t>(song.order.size()));
    w.U16(static_cast<uint32_t>(song.restart));
    w.U16(static_cast<uint32_t>(song.channels));
    w.U16(static_cast<uint32_t>(song.patterns.size()));
    w.U16(static_cast<uint32_t>(song.instruments.size()));
    w.U16(1); // linear frequency table
    w.U16(static_cast<uint32_t>(song.speed));
    w.U16(static_cast<uint32_t>(song.bpm));
    for (size_t i = 0; i < 256; ++i)
        w.U8(i < song.order.size() ? song.order[i] : 0);
    for (const PatternData& pattern : song.patterns)
        WritePattern(pattern, song.channels, w);
    for (const InstrumentDef& ins : song.instruments)
        WriteInstrument(ins, w);
    return w.bytes;
}

} // namespace songc
