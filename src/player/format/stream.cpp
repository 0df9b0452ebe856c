#include "player/format/stream.h"

#include <cstring>
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
    stream->callbacks = g_callbacks;
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
    if (stream->callbacks.close) {
        stream->callbacks.close(stream->handle);
    }
    delete stream;
}

int32_t StreamRead(void* destination, int32_t count, ModuleStream* stream) {
    if (stream == nullptr || stream->callbacks.read == nullptr) {
        return 0;
    }
    return stream->callbacks.read(destination, count, stream->handle);
}

void StreamSeek(ModuleStream* stream, int32_t offset, int32_t origin) {
    if (stream != nullptr && stream->callbacks.seek) {
        stream->callbacks.seek(stream->handle, offset, origin);
    }
}

int32_t StreamTell(ModuleStream* stream) {
    if (stream == nullptr || stream->callbacks.tell == nullptr) {
        return 0;
    }
    return stream->callbacks.tell(stream->handle);
}

int32_t MemoryRead(MemoryStream& memory, void* destination, int32_t count) {
    if (memory.base == nullptr || destination == nullptr || count <= 0) {
        return 0;
    }
    const int64_t available = static_cast<int64_t>(memory.size) - memory.position;
    const int32_t n = static_cast<int64_t>(count) < available ? count : static_cast<int32_t>(available);
    if (n <= 0) {
        return 0;
    }
    std::memcpy(destination, memory.base + memory.position, static_cast<size_t>(n));
    memory.position += n;
    return n;
}

void MemorySeek(MemoryStream& memory, int32_t offset, int32_t origin) {
    int64_t position = memory.position;
    switch (static_cast<int8_t>(origin & 0xFF)) {
    case 0:
        position = offset;
        break;
    case 1:
        position += offset;
        break;
    case 2:
        position = static_cast<int64_t>(memory.size) + offset;
        break;
    default:
        return;
    }
    // A position before the bytes would make the next read copy from outside them.
    // By hand, not std::clamp: the bounds stay defined for any size.
    if (position < 0) {
        position = 0;
    }
    if (position > memory.size) {
        position = memory.size;
    }
    memory.position = static_cast<int32_t>(position);
}

namespace {
MemoryStream& Memory(StreamHandle handle) {
    return *reinterpret_cast<MemoryStream*>(handle);
}
StreamHandle MemoryOpen(const char*) {
    return 0; // memory streams are made by MemoryModuleStream, never opened by name
}
void MemoryClose(StreamHandle) {}
int32_t MemoryReadCallback(void* destination, int32_t count, StreamHandle handle) {
    return MemoryRead(Memory(handle), destination, count);
}
void MemorySeekCallback(StreamHandle handle, int32_t offset, int32_t origin) {
    MemorySeek(Memory(handle), offset, origin);
}
int32_t MemoryTellCallback(StreamHandle handle) {
    return Memory(handle).position;
}
} // namespace

ModuleStream MemoryModuleStream(MemoryStream& memory) {
    return ModuleStream{
        reinterpret_cast<StreamHandle>(&memory),
        StreamCallbacks{MemoryOpen, MemoryClose, MemoryReadCallback, MemorySeekCallback, MemoryTellCallback}};
}
