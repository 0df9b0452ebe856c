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

struct ModuleStream {
    StreamHandle handle;
};

// All five set, or (if any is null) all cleared.
void SetStreamCallbacks(StreamOpenFn open, StreamCloseFn close, StreamReadFn read, StreamSeekFn seek,
                        StreamTellFn tell);
bool StreamCallbacksComplete();

ModuleStream* StreamOpen(const char* name);
void StreamClose(ModuleStream* stream);
int32_t StreamRead(void* destination, int32_t count, ModuleStream* stream);
void StreamSeek(ModuleStream* stream, int32_t offset, int32_t origin);
int32_t StreamTell(ModuleStream* stream);
