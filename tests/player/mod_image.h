// Builds small MOD files in memory.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

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
