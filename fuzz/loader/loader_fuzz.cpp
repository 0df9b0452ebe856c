// Loads arbitrary bytes from memory and through the host's stream callbacks:
// the two paths must agree, and a song that loads must hold only what the
// replay engine and the mixer can use without checking (orders naming
// patterns that exist, samples whose loops lie inside their data).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "player/format/load_report.h"
#include "player/format/module.h"
#include "player/format/stream.h"

namespace {

MemoryStream g_memory{};
StreamHandle Open(const char*) {
    g_memory.position = 0;
    return 1;
}
void Close(StreamHandle) {}
int32_t Read(void* destination, int32_t count, StreamHandle) {
    return MemoryRead(g_memory, destination, count);
}
void Seek(StreamHandle, int32_t offset, int32_t origin) {
    MemorySeek(g_memory, offset, origin);
}
int32_t Tell(StreamHandle) {
    return g_memory.position;
}

void Check(bool condition, int line = __builtin_LINE()) {
    if (!condition) {
        std::fprintf(stderr, "loader_fuzz.cpp:%d: check failed\n", line);
        std::abort();
    }
}

void CheckSong(const Module& m) {
    Check(m.songLength >= 0 && m.songLength <= 256 && m.channelCount >= 0 && m.channelCount <= kMaxChannels);
    for (int i = 0; i < m.songLength; ++i)
        Check(m.orderTable[i] < m.patternSlots);
    for (int p = 0; p < m.patternSlots; ++p)
        Check(m.patterns[p].rows >= 0 && m.patterns[p].cells != nullptr);
    for (int i = 0; i < m.instrumentCount; ++i) {
        const Instrument& ins = m.instruments[i];
        // Every slot a map entry can name exists; those past the samples are EmptySample.
        Check(ins.sampleCount >= 0 && ins.samples != nullptr);
        for (int k = ins.sampleCount; k < SampleSlots(ins); ++k)
            Check(ins.samples[k] == &EmptySample);
        for (int k = 0; k < ins.sampleCount; ++k) {
            const Sample& s = *ins.samples[k];
            Check(s.length == 0 || s.data != nullptr);
            if (s.loopMode == kLoopForward || s.loopMode == kLoopPingPong)
                Check(s.loopLength > 0 && uint64_t(s.loopStart) + s.loopLength <= s.length);
            // The guards are there: silent before the data and after a sample
            // without a loop; after a loop's end, the loop played on (the
            // entry at the end as the original tracker writes it). A stereo
            // sample's right channel has guards of its own.
            const bool loops = s.loopMode == kLoopForward || s.loopMode == kLoopPingPong;
            const int64_t end = loops ? int64_t(s.loopStart) + s.loopLength : int64_t(s.length);
            for (const int16_t* channel : {s.data, s.right}) {
                if (channel == nullptr)
                    continue;
                for (int j = 1; j <= kSampleGuard; ++j)
                    Check(channel[-j] == 0);
                for (int64_t j = loops ? end + 1 : end; j < end + kSampleGuard; ++j)
                    Check(channel[j] == (loops ? LoopedEntry(channel, s, j) : 0));
            }
            Check(s.right == nullptr || s.data != nullptr);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20))
        return 0;
    LoadReport memoryReport{}, streamReport{};
    Module* fromMemory = LoadModuleFromMemory(data, size, &memoryReport);
    g_memory = MemoryStream{data, int32_t(size), 0};
    SetStreamCallbacks(Open, Close, Read, Seek, Tell);
    Module* fromStream = LoadModule("fuzz", &streamReport);
    Check((fromMemory == nullptr) == (fromStream == nullptr));
    Check(DescribeLoad(memoryReport) == DescribeLoad(streamReport));
    // A refusal always says why.
    Check(fromMemory != nullptr || memoryReport.refusal[0] != '\0');
    if (fromMemory != nullptr) {
        CheckSong(*fromMemory);
        Check(fromMemory->patternSlots == fromStream->patternSlots &&
              fromMemory->instrumentCount == fromStream->instrumentCount &&
              std::memcmp(fromMemory->orderTable, fromStream->orderTable, sizeof fromMemory->orderTable) ==
                  0);
    }
    FreeModule(fromMemory);
    FreeModule(fromStream);
    return 0;
}
