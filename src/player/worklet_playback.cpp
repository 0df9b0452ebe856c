// Playback in a browser page: the device (output/worklet_output.h) plays a
// song's image in the audio worklet, where a copy of the player renders it,
// so this side only starts and stops it. ControlPlayback and HeardPosition,
// which reach into an instance playing on this thread, are not part of the page.
#include <cstring>

#include "player/format/module.h"
#include "player/format/song.h"
#include "player/output/worklet_output.h"
#include "player/playback.h"

namespace {

bool g_playing = false;

// The worklet can only be handed an image: the page's program plays the song
// built into it, so a module is played from that image when it is that song.
bool IsEmbeddedSong(const Module& module) {
    Module* embedded = LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize);
    const bool same = embedded != nullptr && std::strcmp(module.title, embedded->title) == 0 &&
                      std::strcmp(module.trackerName, embedded->trackerName) == 0 &&
                      std::memcmp(module.orderTable, embedded->orderTable, sizeof module.orderTable) == 0 &&
                      module.channelCount == embedded->channelCount &&
                      module.songLength == embedded->songLength;
    FreeModule(embedded);
    return same;
}

} // namespace

bool StartPlayback(Player* player, const Module* module) {
    if (player == nullptr || module == nullptr)
        return false;
    StopPlayback(player);
    if (!AudioDeviceReady())
        return true; // nothing to play on; the song stays silent
    if (!IsEmbeddedSong(*module))
        return false;
    PlayImageOnDevice(EmbeddedSong, int32_t(EmbeddedSongSize));
    g_playing = true;
    return true;
}

// The worklet plays the song by its own rule set only.
bool StartPlayback(Player* player, const Module* module, RuleSet rules) {
    return module != nullptr && rules == SongRules(*module) && StartPlayback(player, module);
}

bool StopPlayback(Player* player, uint32_t) {
    if (player == nullptr)
        return false;
    if (g_playing)
        StopDeviceSong();
    g_playing = false;
    return true;
}
