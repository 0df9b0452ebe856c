// The song as the score describes it and as the XM writer lays it out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace songc {

struct EnvelopeDef {
    std::vector<std::pair<uint16_t, uint16_t>> points; // tick, value
    int sustain = -1;                                  // point number, -1 none
    int loopStart = -1;
    int loopEnd = -1;
};

// One synthesised 8-bit sample with the tuning that makes note C-4 play it at its own rate.
struct SampleData {
    std::vector<int8_t> pcm;
    uint32_t loopStart = 0;
    uint32_t loopLength = 0; // 0: no loop
    int8_t relativeNote = 0;
    int8_t finetune = 0;
};

struct InstrumentDef {
    std::string name;
    std::string voice; // synth voice, empty for an instrument without sample
    uint8_t volume = 64;
    uint8_t panning = 128;
    int transpose = 0; // added to the synthesised relative note
    EnvelopeDef volumeEnvelope;
    EnvelopeDef panningEnvelope;
    uint16_t fadeout = 0;
    uint8_t vibratoType = 0;
    uint8_t vibratoSweep = 0;
    uint8_t vibratoDepth = 0;
    uint8_t vibratoRate = 0;
    SampleData sample;
};

// A cell as the XM file stores it: note 1..96, 97 key-off, 0 none.
struct Cell {
    uint8_t note = 0;
    uint8_t instrument = 0;
    uint8_t volume = 0;
    uint8_t effect = 0;
    uint8_t parameter = 0;
    bool Empty() const { return (note | instrument | volume | effect | parameter) == 0; }
};

struct PatternData {
    std::string name;
    int rows = 64;
    std::vector<Cell> cells; // rows x channels
};

struct Song {
    std::string name;
    int channels = 0;
    int speed = 6;
    int bpm = 125;
    int restart = 0;
    std::vector<InstrumentDef> instruments; // number i + 1 in cells
    std::vector<PatternData> patterns;
    std::vector<uint8_t> order;
};

constexpr uint8_t kNoteKeyOff = 97;

} // namespace songc
