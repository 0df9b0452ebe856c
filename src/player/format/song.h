// Stream callbacks that serve the XM image held in the program's own data.
#pragma once

#include <cstdint>

#include "player/format/stream.h"

extern const unsigned char EmbeddedSong[];
extern const unsigned EmbeddedSongSize;

StreamHandle SongOpen(const char* name);
void SongClose(StreamHandle handle);
int32_t SongRead(void* destination, int32_t count, StreamHandle handle);
void SongSeek(StreamHandle handle, int32_t offset, int32_t origin);
int32_t SongTell(StreamHandle handle);
