// XM sample headers and sample data: 8-bit and 16-bit delta PCM, mono or
// stereo, and 4-bit ADPCM, all turned into 16-bit PCM with loop points the
// data can honour.
#include <algorithm>
#include <cstring>
#include <utility>

#include "player/format/xm_reader.h"

namespace xm {
namespace {

constexpr int kSampleHeaderSize = 40;
// A reserved byte of this value marks 4-bit ADPCM data: a table of 16 signed
// deltas, then two table indices per byte, low nibble first.
constexpr uint8_t kAdpcmMark = 0xAD;
constexpr int kAdpcmTableSize = 16;

// A loop reaching past the data would make the mixer read beyond it; a loop
// of no length plays the sample once.
void ClampLoop(Sample& s) {
    if (s.loopMode == kLoopNone) {
        s.loopStart = 0;
        s.loopLength = s.length;
    }
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
}

// Frames the first `bytes` of the stored data hold (of both channels, for stereo data).
uint64_t SamplesIn(const StoredSample& stored, uint64_t bytes) {
    const Sample& s = *stored.sample;
    if (stored.adpcm) {
        return bytes < kAdpcmTableSize ? 0 : 2 * (bytes - kAdpcmTableSize);
    }
    return s.bits == 16 ? bytes / 2 : bytes;
}

bool DecodeAdpcm(Reader& in, Sample& s) {
    int8_t table[kAdpcmTableSize] = {};
    in.Read(table, kAdpcmTableSize);
    const size_t packedBytes = (static_cast<size_t>(s.length) + 1) / 2;
    uint8_t* packed = AllocZeroed<uint8_t>(packedBytes);
    if (packed == nullptr) {
        return false;
    }
    in.Read(packed, static_cast<int64_t>(packedBytes));
    uint8_t value = 0;
    for (uint32_t k = 0; k < s.length; ++k) {
        const uint8_t index = (k & 1) ? packed[k / 2] >> 4 : packed[k / 2] & 0x0F;
        value = static_cast<uint8_t>(value + table[index]);
        s.data[k] = static_cast<int16_t>(static_cast<uint16_t>(value << 8));
    }
    delete[] packed;
    return true;
}

// One channel's deltas, coded from 0.
bool DecodeDeltaPcm(Reader& in, int16_t* data, uint32_t length, uint8_t bits) {
    if (bits == 16) {
        uint8_t* bytes = reinterpret_cast<uint8_t*>(data);
        in.Read(bytes, static_cast<int64_t>(length) * 2);
        for (uint32_t k = 0; k < length; ++k) {
            data[k] = static_cast<int16_t>(Le16(bytes + 2 * k));
        }
    } else {
        uint8_t* scratch = AllocZeroed<uint8_t>(length);
        if (scratch == nullptr) {
            return false;
        }
        in.Read(scratch, length);
        for (uint32_t k = 0; k < length; ++k) {
            data[k] = static_cast<int16_t>(static_cast<uint16_t>(scratch[k] << 8));
        }
        delete[] scratch;
    }
    uint16_t previous = 0;
    for (uint32_t k = 0; k < length; ++k) {
        previous = static_cast<uint16_t>(previous + static_cast<uint16_t>(data[k]));
        data[k] = static_cast<int16_t>(previous);
    }
    return true;
}

// Some trackers store Ogg Vorbis streams in place of PCM, either at the start
// of the sample's data or after a 4-byte length.
bool LooksLikeOgg(Reader& in, uint64_t bytes) {
    if (bytes < 8) {
        return false;
    }
    uint8_t head[8] = {};
    in.Read(head, 8);
    in.Seek(-8, 1);
    return std::memcmp(head, "OggS", 4) == 0 || std::memcmp(head + 4, "OggS", 4) == 0;
}

} // namespace

StoredSample ReadSampleHeader(Reader& in, Sample& s) {
    uint8_t h[kSampleHeaderSize] = {};
    in.Read(h, kSampleHeaderSize);
    s.length = Le32(h);
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
    s.panning = h[15];
    s.relativeNote = static_cast<int8_t>(h[16]);
    s.type = type;
    CopyStoredName(s.name, h + 18, 22);

    StoredSample stored{&s, s.length, false, false, 0, 0};
    // Compressed data only ever holds 8-bit samples; a 16-bit header with this
    // byte is plain data with a stray reserved byte.
    if (h[17] == kAdpcmMark && s.bits == 8) {
        stored.adpcm = true;
        stored.storedBytes = kAdpcmTableSize + (static_cast<uint64_t>(s.length) + 1) / 2;
    }
    if (s.loopMode == kLoopNone) {
        s.loopStart = 0;
        s.loopLength = s.length;
    }
    // Later trackers' stereo samples: the lengths count both channels, the
    // data holds the left channel's deltas, then the right's.
    const uint32_t bytesPerFrame = (s.bits == 16 ? 2 : 1) * ((type & kSampleStereo) && !stored.adpcm ? 2 : 1);
    stored.stereo = bytesPerFrame == 2 * (s.bits == 16 ? 2 : 1);
    s.length /= bytesPerFrame;
    s.loopStart /= bytesPerFrame;
    s.loopLength /= bytesPerFrame;
    ClampLoop(s);
    return stored;
}

bool ReadSampleData(Reader& in, const StoredSample& stored) {
    Sample& s = *stored.sample;
    const int64_t start = in.Tell();
    const uint64_t remaining = static_cast<uint64_t>(in.Remaining());
    const uint64_t present = stored.storedBytes < remaining ? stored.storedBytes : remaining;
    in.report.sampleBytesShort += static_cast<int64_t>(stored.storedBytes - present);
    if (!stored.adpcm && LooksLikeOgg(in, present)) {
        return in.Refuse("instrument %d, sample %d: Ogg Vorbis compressed sample data is not supported",
                         stored.instrument, stored.index + 1);
    }
    // A file that ends inside the data keeps the samples it holds; a stereo
    // one that ends inside its right channel keeps its left, as a mono sample.
    const uint64_t frames = SamplesIn(stored, present);
    const bool stereo = stored.stereo && frames >= 2 * uint64_t{s.length};
    if (frames < s.length) {
        s.length = static_cast<uint32_t>(frames);
        ClampLoop(s);
    }
    if (s.length > 0) {
        s.data = AllocSampleData(s.length, stereo);
        if (s.data == nullptr) {
            return in.Refuse(LoadRefusal::OutOfMemory, "out of memory for sample data");
        }
        s.right = stereo ? s.data + s.length + 2 * kSampleGuard : nullptr;
        bool decoded = stored.adpcm ? DecodeAdpcm(in, s) : DecodeDeltaPcm(in, s.data, s.length, s.bits);
        if (decoded && stereo) {
            decoded = DecodeDeltaPcm(in, s.right, s.length, s.bits);
        }
        if (!decoded) {
            return in.Refuse(LoadRefusal::OutOfMemory, "out of memory for sample data");
        }
        FillLoopGuard(s);
        // Without memory for its peaks a sample still plays; its meter probes.
        MakePeaks(s);
        s.bits = 16;
    }
    in.report.adpcmSamples += stored.adpcm ? 1 : 0;
    in.report.stereoSamples += s.right != nullptr ? 1 : 0;
    // Bytes the decoding did not use (an odd byte of 16-bit data) are passed
    // over, so the next sample starts where the file has it.
    in.Seek(start + static_cast<int64_t>(present), 0);
    return true;
}

bool PointAtEmptySample(Reader& in, Instrument& ins, int32_t slots) {
    delete[] ins.samples;
    ins.samples = AllocZeroed<Sample*>(static_cast<size_t>(slots));
    if (ins.samples == nullptr) {
        return in.Refuse(LoadRefusal::OutOfMemory, "out of memory for instruments");
    }
    for (int32_t i = 0; i < slots; ++i) {
        ins.samples[i] = &EmptySample;
    }
    return true;
}

// The entries before data[0] stay 0: a kernel reading before the sample's
// start hears silence there. A stereo sample's right channel follows in the
// same block, with guards of its own.
int16_t* AllocSampleData(uint32_t length, bool stereo) {
    const size_t channel = static_cast<size_t>(length) + 2 * kSampleGuard;
    int16_t* block = AllocZeroed<int16_t>(stereo ? 2 * channel : channel);
    return block == nullptr ? nullptr : block + kSampleGuard;
}

} // namespace xm

// The kernels read up to kSampleGuard entries past the loop's end: they find
// there what playing on would give, so no tap needs to know about the loop.
// The entry at loopEnd is the one the original tracker writes when it loads
// a sample, and linear interpolation reads: the loop's first, or for a
// ping-pong loop its last (a sample with both loop bits gets the first,
// though it plays ping-pong). A sample without a loop keeps its zeros.
void FillLoopGuard(Sample& s) {
    if (s.data == nullptr || s.loopLength == 0 ||
        (s.loopMode != kLoopForward && s.loopMode != kLoopPingPong)) {
        return;
    }
    const int64_t loopEnd = static_cast<int64_t>(s.loopStart) + s.loopLength;
    const bool last = s.loopMode == kLoopPingPong && (s.type & 3) != 3;
    for (int16_t* data : {s.data, s.right}) {
        if (data == nullptr) {
            continue;
        }
        data[loopEnd] = data[last ? loopEnd - 1 : s.loopStart];
        for (int64_t x = loopEnd + 1; x < loopEnd + kSampleGuard; ++x) {
            data[x] = LoopedEntry(data, s, x);
        }
    }
}

bool MakePeaks(Sample& s) {
    if (s.data == nullptr || s.length == 0) {
        return true;
    }
    const size_t blocks = (static_cast<size_t>(s.length) + kPeakBlock - 1) >> kPeakBlockShift;
    const size_t table = blocks + kPeakPadding;
    int16_t* peaks = xm::AllocZeroed<int16_t>(s.right != nullptr ? 2 * table : table);
    if (peaks == nullptr) {
        return false;
    }
    s.peaks = peaks;
    s.rightPeaks = s.right != nullptr ? peaks + table : nullptr;
    for (const auto& [data, out] : {std::pair{s.data, s.peaks}, std::pair{s.right, s.rightPeaks}}) {
        if (data == nullptr) {
            continue;
        }
        // A block at a time, each a loop the compiler can widen.
        for (size_t block = 0; block < blocks; ++block) {
            const int16_t* entry = data + (block << kPeakBlockShift);
            const size_t count = std::min<size_t>(kPeakBlock, s.length - (block << kPeakBlockShift));
            int16_t peak = 0;
            for (size_t i = 0; i < count; ++i) {
                const auto magnitude = static_cast<int16_t>(entry[i] ^ (entry[i] >> 15));
                peak = magnitude > peak ? magnitude : peak;
            }
            out[block] = peak;
        }
    }
    return true;
}

namespace xm {

void FreeSampleData(int16_t* data) {
    if (data != nullptr) {
        delete[](data - kSampleGuard);
    }
}

} // namespace xm
