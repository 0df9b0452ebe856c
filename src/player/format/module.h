// Records of a loaded song (an XM, or a MOD loaded as the same records):
// patterns of five-byte cells, instruments and 16-bit samples, as the loader
// read them.
#pragma once

#include <cstddef>
#include <cstdint>
#include "platform/windows_headers.h"
#include "player/format/stream.h"

struct Sample {
    int16_t* data;  // length + kSampleGuard entries, kSampleGuard zero entries before; null when length is 0
    int16_t* right; // a stereo sample's right channel, laid out alike (data holds the left); null for mono
    uint32_t length;
    uint32_t loopStart;
    uint32_t loopLength;
    uint8_t volume;
    int8_t finetune;
    uint32_t panning;
    uint8_t bits;
    uint8_t loopMode; // 1 none, 2 forward, 4 ping-pong, 0 only in EmptySample
    int8_t relativeNote;
    uint8_t type;  // as stored: loop kind, 16-bit data, stereo and the bits the original reads as voice state
    char name[23]; // as stored, NUL-terminated, trailing spaces removed
    // The largest magnitude among each kPeakBlock entries of data and of right
    // (MakePeaks), for the channels' meters: null until made.
    int16_t* peaks;
    int16_t* rightPeaks;
};

// Type bits beyond the loop kind and the data's width: bit 5 marks the
// stereo samples later trackers write; the original tracker reads bit 3 as
// "voice off" (such a sample never sounds).
enum : uint8_t { kSampleNeverSounds = 0x08, kSampleStereo = 0x20 };

// Entries on both sides of each sample's data, for the interpolation kernels
// that read past a loop's ends: zeros before data[0], and after the loop's end
// (FillLoopGuard) the loop's continuation, or zeros for a sample without one.
constexpr int kSampleGuard = 512;

enum : uint8_t { kLoopNone = 1, kLoopForward = 2, kLoopPingPong = 4 };

// The entry a looping sample's channel (data or right) plays at x, counted on
// from the loop's start as if the loop were written out: forward loops repeat,
// ping-pong loops mirror about their first entry and their end. The voice
// turns at the end's position, which reads the entry the loader put at
// loopEnd (FillLoopGuard); entries before the loop's start mirror the loop's
// first ones. Needs a loop of 1 entry or more.
inline int16_t LoopedEntry(const int16_t* data, const Sample& s, int64_t x) {
    const int64_t length = s.loopLength;
    if (s.loopMode == kLoopPingPong) {
        int64_t m = (x - s.loopStart) % (2 * length);
        m = m < 0 ? m + 2 * length : m;
        return data[s.loopStart + (m < length ? m : (m == length ? length : 2 * length - m))];
    }
    int64_t m = (x - s.loopStart) % length;
    return data[s.loopStart + (m < 0 ? m + length : m)];
}

// Writes the loop's continuation into the kSampleGuard entries from the loop's
// end on (entries past the loop are never heard); a sample without a loop
// keeps its zeros.
void FillLoopGuard(Sample& s);

// Entries of a sample's data a peak of its table stands for. Each table
// ends in kPeakPadding zeros, so that eight peaks read from any of its own
// stay within it.
constexpr int kPeakBlockShift = 8;
constexpr int kPeakBlock = 1 << kPeakBlockShift;
constexpr int kPeakPadding = 8;

// The peaks of a sample's kPeakBlock entries, its last block shorter: a
// negative entry counts one less, so that each fits 16 bits. A sample without
// data keeps none; false only when memory runs out (and the sample has none).
bool MakePeaks(Sample& s);

// Shared all-zero sample for every unused instrument slot; never released.
extern Sample EmptySample;

// Points an envelope stores, whatever its count says.
constexpr int kEnvelopePoints = 12;

struct EnvelopePoint {
    uint16_t x;
    uint16_t y;
};

// Slots every loaded instrument has, whatever its sample count.
constexpr int kInstrumentSampleSlots = 16;

// Sample map entries at or above this select EmptySample: the format's own
// sixteen samples per instrument. Instruments that store more still load them
// all; a rule set that lets the map reach them passes its own limit.
constexpr int kMapSelectableSamples = 16;

struct Instrument {
    int32_t sampleCount;
    Sample** samples; // SampleSlots() entries; those past sampleCount point at EmptySample
    uint8_t sampleMap[96];
    EnvelopePoint volumeEnvelope[kEnvelopePoints];
    EnvelopePoint panningEnvelope[kEnvelopePoints];
    uint8_t volumePointCount;
    uint8_t panningPointCount;
    uint8_t volumeSustain;
    uint8_t volumeLoopStart;
    uint8_t volumeLoopEnd;
    uint8_t panningSustain;
    uint8_t panningLoopStart;
    uint8_t panningLoopEnd;
    uint8_t volumeType;
    uint8_t panningType;
    uint8_t vibratoType;
    uint8_t vibratoSweep;
    uint8_t vibratoDepth;
    uint8_t vibratoRate;
    uint16_t fadeout;
    char name[23]; // as stored, NUL-terminated, trailing spaces removed (composers' messages live here)
};

inline int32_t SampleSlots(const Instrument& ins) {
    return ins.sampleCount > kInstrumentSampleSlots ? ins.sampleCount : kInstrumentSampleSlots;
}

// The sample a sample-map entry selects: EmptySample for an entry at or above
// `selectable` or beyond the instrument's slots.
inline const Sample* MappedSample(const Instrument& ins, uint8_t slot,
                                  int selectable = kMapSelectableSamples) {
    if (ins.samples == nullptr || slot >= selectable || slot >= SampleSlots(ins) ||
        ins.samples[slot] == nullptr) {
        return &EmptySample;
    }
    return ins.samples[slot];
}

struct Pattern {
    int32_t rows;
    uint8_t* cells; // rows x channelCount cells of note, instrument, volume, effect, parameter
};

constexpr int kCellSize = 5;
constexpr uint8_t kKeyOff = 255;
// The original tracker writes up to 32 channels, later trackers up to 127.
constexpr int kMaxChannels = 127;

enum : uint16_t { linearFrequencies = 1 };

// A loaded song: what the file held and nothing else. Whoever plays it keeps
// the playback state in its own instance, so one Module may play in several
// players at once; nothing writes a Module after the loader has returned it.
struct Module {
    Pattern* patterns;
    Instrument* instruments;
    int16_t songLength;
    int16_t restartPosition;
    int16_t channelCount;
    int32_t usedPatternCount; // 1 + the largest pattern number the order list plays
    int32_t patternSlots;     // patterns allocated: the stored and the used ones
    int16_t instrumentCount;
    uint16_t flags;
    int16_t defaultTempo;
    int16_t defaultBpm;
    uint8_t orderTable[256];
    uint8_t initialGlobalVolume;
    // What the header says of the song, for the tools and the library.
    char title[21];         // as stored, NUL-terminated, trailing spaces removed
    char trackerName[21];   // as stored, NUL-terminated, trailing spaces removed: picks the rule set
    uint16_t version;       // the format version as stored, e.g. 0x0104
    int32_t storedPatterns; // patterns the file stores (the header's count)
    // What the file is, for people (--info): "XM 1.04", or a MOD's kind,
    // signature and channels, e.g. "ProTracker MOD, M.K., 4 channels".
    char format[48];
};

// The channels a song plays: its count, held to what a player has.
inline int ChannelCount(const Module& m) {
    return m.channelCount < 0 ? 0 : m.channelCount > kMaxChannels ? kMaxChannels : m.channelCount;
}

struct LoadReport;

// A name field of the file as text: at most size bytes up to the first NUL,
// trailing spaces removed; to holds size + 1 bytes.
void CopyStoredName(char* to, const void* from, size_t size);

// Loads a song through the registered stream callbacks; null on any failure.
// A report, when given, says what the file held beyond the plain layout, or
// why it was refused.
Module* LoadModule(const char* name, LoadReport* report = nullptr);
// Loads a song from an XM or MOD image in memory; null on any failure. The bytes
// need to live only while it runs.
Module* LoadModuleFromMemory(const void* bytes, size_t size, LoadReport* report = nullptr);
// Loads a song through callbacks given for this load alone, not the
// registered ones: handle is the caller's open stream (its context) that
// read, seek and tell are called with; the loader neither opens nor closes it.
Module* LoadModuleFromStream(const StreamCallbacks& callbacks, StreamHandle handle,
                             LoadReport* report = nullptr);
// Releases the song; false for null. Whoever plays it stops first.
bool FreeModule(Module* module);
