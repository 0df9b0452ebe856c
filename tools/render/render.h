// Offline rendering of a loaded song through the playback block path.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct Module;
struct Player;

// A song's 16-bit stereo frames from its start, one block of the device's
// length at a time: the same bytes the demo's ring holds, in constant memory.
class BlockRenderer {
public:
    BlockRenderer();
    ~BlockRenderer();
    BlockRenderer(const BlockRenderer&) = delete;
    BlockRenderer& operator=(const BlockRenderer&) = delete;

    // Starts module from its first order at rate; false for a null module or a bad rate.
    bool Start(Module* module, int32_t rate);
    // Frames in every block.
    int32_t BlockLength() const { return m_blockLength; }
    // Renders the next block; valid until the next call.
    const int16_t* Next();

private:
    std::unique_ptr<Player> m_player;
    int32_t m_blockLength = 0;
    std::vector<float> m_mix;
    std::vector<int16_t> m_block;
};

// Renders frames stereo frames of module at rate from its start; empty when
// it cannot (a null module, or the audio device is in use).
// progress, when given, hears the fraction done after every block.
std::vector<int16_t> RenderModule(Module* module, int32_t rate, int64_t frames,
                                  const std::function<void(double)>& progress = {});

// Writes 16-bit stereo PCM as a WAV file; false on any write failure.
bool WriteWav(const std::string& path, const std::vector<int16_t>& pcm, int32_t rate);
