// Host callbacks through which the loader reads a song, and thin wrappers over them.
#pragma once

#include <cstdint>

using StreamHandle = intptr_t;
using StreamOpenFn = StreamHandle (*)(const char* name);
using StreamCloseFn = void (*)(StreamHandle handle);
using StreamReadFn = int32_t (*)(void* destination, int32_t count, StreamHandle handle);
using StreamSeekFn = void (*)(StreamHandle handle, int32_t offset, int32_t origin);
using StreamTellFn = int32_t (*)(StreamHandle handle);

struct StreamCallbacks {
    StreamOpenFn open;
    StreamCloseFn close;
    StreamReadFn read;
    StreamSeekFn seek;
    StreamTellFn tell;
};

// The callbacks a stream reads through: the registered table as it was when
// the stream opened, or those of a MemoryStream.
struct ModuleStream {
    StreamHandle handle;
    StreamCallbacks callbacks;
};

// Bytes in memory read as a stream. Seeks follow the host callbacks' rules:
// the origin is the low byte of its argument, taken as signed (0 start,
// 1 current, 2 end, others leave the position); the position stays within 0..size.
struct MemoryStream {
    const uint8_t* base;
    int32_t size;
    int32_t position;
};
int32_t MemoryRead(MemoryStream& memory, void* destination, int32_t count);
void MemorySeek(MemoryStream& memory, int32_t offset, int32_t origin);
// A stream over memory for the loader; it must not outlive memory.
ModuleStream MemoryModuleStream(MemoryStream& memory);

// All five set, or (if any is null) all cleared.
void SetStreamCallbacks(StreamOpenFn open, StreamCloseFn close, StreamReadFn read, StreamSeekFn seek,
                        StreamTellFn tell);
bool StreamCallbacksComplete();

ModuleStream* StreamOpen(const char* name);
void StreamClose(ModuleStream* stream);
int32_t StreamRead(void* destination, int32_t count, ModuleStream* stream);
void StreamSeek(ModuleStream* stream, int32_t offset, int32_t origin);
int32_t StreamTell(ModuleStream* stream);
