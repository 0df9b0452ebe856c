#include "player/stream.h"

#include <new>

namespace {
StreamCallbacks g_callbacks{};
}

void SetStreamCallbacks(StreamOpenFn open, StreamCloseFn close, StreamReadFn read, StreamSeekFn seek,
                        StreamTellFn tell) {
    if (open && close && read && seek && tell) {
        g_callbacks = StreamCallbacks{open, close, read, seek, tell};
    } else {
        g_callbacks = StreamCallbacks{};
    }
}

bool StreamCallbacksComplete() {
    return g_callbacks.open != nullptr;
}

ModuleStream* StreamOpen(const char* name) {
    if (!StreamCallbacksComplete()) {
        return nullptr;
    }
    auto* stream = new (std::nothrow) ModuleStream{};
    if (stream == nullptr) {
        return nullptr;
    }
    stream->handle = g_callbacks.open(name);
    if (stream->handle == 0) {
        delete stream;
        return nullptr;
    }
    return stream;
}

void StreamClose(ModuleStream* stream) {
    if (stream == nullptr) {
        return;
    }
    if (g_callbacks.close) {
        g_callbacks.close(stream->handle);
    }
    delete stream;
}

int32_t StreamRead(void* destination, int32_t count, ModuleStream* stream) {
    if (stream == nullptr || g_callbacks.read == nullptr) {
        return 0;
    }
    return g_callbacks.read(destination, count, stream->handle);
}

void StreamSeek(ModuleStream* stream, int32_t offset, int32_t origin) {
    if (stream != nullptr && g_callbacks.seek) {
        g_callbacks.seek(stream->handle, offset, origin);
    }
}

int32_t StreamTell(ModuleStream* stream) {
    if (stream == nullptr || g_callbacks.tell == nullptr) {
        return 0;
    }
    return g_callbacks.tell(stream->handle);
}
