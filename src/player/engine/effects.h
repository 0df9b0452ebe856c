// The effects a cell can hold, by name: the effect byte as the file stores
// it (letters G.. are 0x10..), the E-subcommands (the parameter's high
// nibble under effect E) and the volume column's commands (its high nibble).
#pragma once

#include <cstdint>

enum Effect : uint8_t {
    kArpeggio = 0x00,             // 0xy
    kPortaUp = 0x01,              // 1xx
    kPortaDown = 0x02,            // 2xx
    kTonePorta = 0x03,            // 3xx
    kVibrato = 0x04,              // 4xy
    kTonePortaVolumeSlide = 0x05, // 5xy
    kVibratoVolumeSlide = 0x06,   // 6xy
    kTremolo = 0x07,              // 7xy
    kSetPanning = 0x08,           // 8xx
    kSampleOffset = 0x09,         // 9xx
    kVolumeSlide = 0x0A,          // Axy
    kPositionJump = 0x0B,         // Bxx
    kSetVolume = 0x0C,            // Cxx
    kPatternBreak = 0x0D,         // Dxx
    kExtended = 0x0E,             // Exy: the subcommands below
    kSetSpeedOrTempo = 0x0F,      // Fxx
    kSetGlobalVolume = 0x10,      // Gxx
    kGlobalVolumeSlide = 0x11,    // Hxy
    kKeyOffAt = 0x14,             // Kxx
    kSetEnvelopePosition = 0x15,  // Lxx
    kPanningSlide = 0x19,         // Pxy
    kMultiRetrig = 0x1B,          // Rxy
    kTremor = 0x1D,               // Txy
    kExtraFinePorta = 0x21,       // X1y, X2y: the subcommands below
};

// Fxx: below this a speed in ticks a row, from it on a tempo in BPM.
constexpr uint8_t kFirstTempo = 0x20;

// Xxy's high nibble.
enum ExtraFinePortaDirection : uint8_t {
    kExtraFineUp = 0x1,   // X1y
    kExtraFineDown = 0x2, // X2y
};

enum ExtendedEffect : uint8_t {
    kFinePortaUp = 0x1,         // E1x
    kFinePortaDown = 0x2,       // E2x
    kGlissandoControl = 0x3,    // E3x
    kVibratoControl = 0x4,      // E4x
    kSetFinetune = 0x5,         // E5x
    kPatternLoop = 0x6,         // E6x
    kTremoloControl = 0x7,      // E7x
    kSetCoarsePanning = 0x8,    // E8x
    kRetrigNote = 0x9,          // E9x
    kFineVolumeSlideUp = 0xA,   // EAx
    kFineVolumeSlideDown = 0xB, // EBx
    kNoteCut = 0xC,             // ECx
    kNoteDelay = 0xD,           // EDx
    kPatternDelay = 0xE,        // EEx
};

// The whole parameter of an Exy: the subcommand x with its value y.
constexpr uint8_t Ext(ExtendedEffect command, int y) {
    return static_cast<uint8_t>(command << 4 | y);
}

// The volume column: the bytes 0x10..0x50 set the volume 0..64; from 0x60 on
// the high nibble is a command and the low one its value.
constexpr uint8_t kVolumeByteSet = 0x10;
constexpr uint8_t kVolumeByteSetMax = 0x50;

enum VolumeCommand : uint8_t {
    kVolumeSlideDown = 0x6,
    kVolumeSlideUp = 0x7,
    kFineVolumeDown = 0x8,
    kFineVolumeUp = 0x9,
    kVibratoSpeed = 0xA,
    kVibratoDepth = 0xB,
    kVolumeSetPanning = 0xC,
    kPanningSlideLeft = 0xD,
    kPanningSlideRight = 0xE,
    kVolumeTonePorta = 0xF,
};

// An effect memory's rule: a parameter of 0 plays the one remembered, any
// other is remembered for the next; returns the one to play.
inline uint8_t Remembered(uint8_t& memory, uint8_t parameter) {
    if (parameter != 0) {
        memory = parameter;
    }
    return memory;
}
