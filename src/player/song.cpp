#include "player/song.h"

#include <cstring>

namespace {
// One song stream at a time: the callbacks ignore their handle.
const unsigned char* g_base = nullptr;
int32_t g_size = 0;
int32_t g_position = 0;
} // namespace

StreamHandle SongOpen(const char*) {
    g_base = EmbeddedSong;
    g_size = static_cast<int32_t>(EmbeddedSongSize);
    g_position = 0;
    return 1;
}

void SongClose(StreamHandle) {}

int32_t SongRead(void* destination, int32_t count, StreamHandle) {
    if (g_base == nullptr || destination == nullptr || count <= 0) {
        return 0;
    }
    const int64_t available = static_cast<int64_t>(g_size) - g_position;
    const int32_t n = static_cast<int64_t>(count) < available ? count : static_cast<int32_t>(available);
    if (n <= 0) {
        return 0;
    }
    std::memcpy(destination, g_base + g_position, static_cast<size_t>(n));
    g_position += n;
    return n;
}

void SongSeek(StreamHandle, int32_t offset, int32_t origin) {
    int64_t position = g_position;
    switch (static_cast<int8_t>(origin & 0xFF)) {
    case 0:
        position = offset;
        break;
    case 1:
        position += offset;
        break;
    case 2:
        position = static_cast<int64_t>(g_size) + offset;
        break;
    default:
        return;
    }
    // A position before the image would make the next read copy from outside it.
    if (position < 0) {
        position = 0;
    }
    if (position > g_size) {
        position = g_size;
    }
    g_position = static_cast<int32_t>(position);
}

int32_t SongTell(StreamHandle) {
    return g_position;
}
