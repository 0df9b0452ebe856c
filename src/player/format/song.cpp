#include "player/format/song.h"

namespace {
// One song stream at a time: the callbacks ignore their handle.
MemoryStream g_song{};
} // namespace

StreamHandle SongOpen(const char*) {
    g_song = MemoryStream{EmbeddedSong, static_cast<int32_t>(EmbeddedSongSize), 0};
    return 1;
}

void SongClose(StreamHandle) {}

int32_t SongRead(void* destination, int32_t count, StreamHandle) {
    return MemoryRead(g_song, destination, count);
}

void SongSeek(StreamHandle, int32_t offset, int32_t origin) {
    MemorySeek(g_song, offset, origin);
}

int32_t SongTell(StreamHandle) {
    return g_song.position;
}
