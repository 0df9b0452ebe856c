// Builds small MOD files in memory, and the XM that plays the same by the
// original tracker's rules: every MOD record converted as its loader does.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/player/xm_image.h"

struct ModSampleDesc {
    uint16_t words = 0;
    uint8_t finetune = 0, volume = 64;
    uint16_t loopStartWords = 0, loopWords = 0;
    std::vector<int8_t> data; // 2 x words bytes; fewer are padded with zeros
};

struct ModCell {
    uint16_t period = 0;
    uint8_t instrument = 0, effect = 0, parameter = 0;
};

struct ModSpec {
    std::string signature = "M.K."; // empty: a 15-sample file
    int channels = 4;
    uint8_t length = 1, restart = 0;
    std::vector<uint8_t> orders = {0};          // padded to 128 with zeros
    std::vector<ModSampleDesc> samples;         // padded with empty slots
    std::vector<std::vector<ModCell>> patterns; // 64 x channels cells each, padded with empty ones

    int SampleCount() const { return signature.empty() ? 15 : 31; }
    int PatternCount() const {
        int p = 0;
        for (size_t i = 0; i < 128; ++i)
            p = std::max(p, (i < orders.size() ? orders[i] : 0) + 1);
        return p;
    }
    std::vector<int8_t> SampleBytes(size_t s) const {
        std::vector<int8_t> d = samples[s].data;
        d.resize(2u * samples[s].words, 0);
        return d;
    }
};

// A plain sample of this many words: a square wave around 0, looped or not.
inline ModSampleDesc ModSquare(uint16_t words, uint16_t loopStart = 0, uint16_t loop = 0,
                               uint8_t volume = 64) {
    ModSampleDesc s;
    s.words = words;
    s.volume = volume;
    s.loopStartWords = loopStart;
    s.loopWords = loop;
    for (int i = 0; i < 2 * words; ++i)
        s.data.push_back(static_cast<int8_t>((i / 8) % 2 ? 70 - i % 5 : -60 + i % 7));
    return s;
}

inline std::vector<uint8_t> BuildMod(const ModSpec& m) {
    std::vector<uint8_t> b(20, 0);
    std::memcpy(b.data(), "a test song", 11);
    const auto be16 = [&b](uint16_t v) {
        b.push_back(static_cast<uint8_t>(v >> 8));
        b.push_back(static_cast<uint8_t>(v));
    };
    for (int s = 0; s < m.SampleCount(); ++s) {
        const ModSampleDesc d = s < static_cast<int>(m.samples.size()) ? m.samples[s] : ModSampleDesc{};
        b.resize(b.size() + 22, 0);
        be16(d.words);
        b.push_back(d.finetune);
        b.push_back(d.volume);
        be16(d.loopStartWords);
        be16(d.loopWords);
    }
    b.push_back(m.length);
    b.push_back(m.restart);
    std::vector<uint8_t> orders = m.orders;
    orders.resize(128, 0);
    b.insert(b.end(), orders.begin(), orders.end());
    b.insert(b.end(), m.signature.begin(), m.signature.end());
    const int channels = m.signature.empty() ? 4 : m.channels;
    for (int p = 0; p < m.PatternCount(); ++p) {
        std::vector<ModCell> cells =
            p < static_cast<int>(m.patterns.size()) ? m.patterns[p] : std::vector<ModCell>{};
        cells.resize(static_cast<size_t>(64 * channels));
        for (const ModCell& c : cells)
            b.insert(b.end(), {static_cast<uint8_t>((c.instrument & 0xF0) | (c.period >> 8)),
                               static_cast<uint8_t>(c.period),
                               static_cast<uint8_t>((c.instrument & 0x0F) << 4 | c.effect), c.parameter});
    }
    for (size_t s = 0; s < m.samples.size(); ++s) {
        const std::vector<int8_t> d = m.SampleBytes(s);
        b.insert(b.end(), d.begin(), d.end());
    }
    return b;
}

// The XM the original plays exactly as the MOD: notes from the periods by
// its table, the five effect rewrites, the sample headers' lengths, loops,
// finetunes and volumes as its loader reads them, every default spelled out.
inline XmImage ModAsXm(const ModSpec& m) {
    static const uint16_t kTable[96] = {
        6848, 6464, 6096, 5760, 5424, 5120, 4832, 4560, 4304, 4064, 3840, 3624, 3424, 3232, 3048, 2880,
        2712, 2560, 2416, 2280, 2152, 2032, 1920, 1812, 1712, 1616, 1524, 1440, 1356, 1280, 1208, 1140,
        1076, 1016, 960,  906,  856,  808,  762,  720,  678,  640,  604,  570,  538,  508,  480,  453,
        428,  404,  381,  360,  339,  320,  302,  285,  269,  254,  240,  226,  214,  202,  190,  180,
        170,  160,  151,  143,  135,  127,  120,  113,  107,  101,  95,   90,   85,   80,   75,   71,
        67,   63,   60,   56,   53,   50,   47,   45,   42,   40,   37,   35,   33,   31,   30,   28};
    const int channels = m.signature.empty() ? 4 : m.channels;
    std::vector<uint8_t> orders = m.orders;
    orders.resize(128, 0);
    XmImage x(m.length, m.restart > m.length ? 0 : m.restart, static_cast<uint16_t>(channels),
              static_cast<uint16_t>(m.PatternCount()), static_cast<uint16_t>(m.SampleCount()), 125, orders);
    x.SetVersion(0x0104);
    x.SetFlags(0);
    x.SetTempo(6);
    for (int p = 0; p < m.PatternCount(); ++p) {
        std::vector<ModCell> cells =
            p < static_cast<int>(m.patterns.size()) ? m.patterns[p] : std::vector<ModCell>{};
        cells.resize(static_cast<size_t>(64 * channels));
        std::vector<XmCell> out;
        for (const ModCell& c : cells) {
            XmCell o;
            for (int k = 0; k < 96 && o.note == 0; ++k)
                o.note = c.period >= kTable[k] ? static_cast<uint8_t>(k + 1) : 0;
            o.instrument = c.instrument;
            o.effect = c.effect;
            o.parameter = c.parameter;
            if (c.parameter == 0 && (c.effect == 1 || c.effect == 2 || c.effect == 0xA))
                o.effect = 0;
            if (c.parameter == 0 && (c.effect == 5 || c.effect == 6))
                o.effect = static_cast<uint8_t>(c.effect - 2);
            if (c.effect == 0xC && c.parameter > 64)
                o.parameter = 64;
            out.push_back(o);
        }
        x.PatternCells(64, out);
    }
    for (int s = 0; s < m.SampleCount(); ++s) {
        if (s >= static_cast<int>(m.samples.size()) || m.samples[s].words == 0) {
            x.Instrument({});
            continue;
        }
        const ModSampleDesc& d = m.samples[s];
        const uint32_t length = 2u * d.words;
        uint32_t start = 2u * d.loopStartWords, loop = 2u * d.loopWords;
        if (loop <= 2)
            start = loop = 0;
        if (start + loop > length) {
            if (start >= length)
                start = loop = 0;
            else
                loop = length - start;
        }
        XmSampleDesc xs{length, start, loop, static_cast<uint8_t>(loop > 2 ? 1 : 0),
                        XmImage::Delta(m.SampleBytes(static_cast<size_t>(s)))};
        xs.volume = d.volume > 64 ? 64 : d.volume;
        const int f = d.finetune & 15;
        xs.finetune = static_cast<uint8_t>(16 * (f < 8 ? f : f - 16));
        xs.panning = 128;
        xs.relativeNote = 0;
        x.InstrumentWith(XmInstrumentDesc{}, {xs});
    }
    return x;
}
