// Offline rendering of a loaded song through the playback block path.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "player/engine/rules.h"
#include "player/mix/ft2_mixer.h"
#include "player/mix/mixer.h"

struct Module;
struct Player;
struct PlayPosition;

// A song's 16-bit stereo frames from its start, one block of the device's
// length at a time: the same bytes the demo's ring holds, in constant memory.
class BlockRenderer {
public:
    BlockRenderer();
    ~BlockRenderer();
    BlockRenderer(const BlockRenderer&) = delete;
    BlockRenderer& operator=(const BlockRenderer&) = delete;

    // Starts module from its first order at rate; false for a null module or a bad rate.
    bool Start(const Module* module, int32_t rate);
    // Frames in every block.
    int32_t BlockLength() const { return m_blockLength; }
    // Renders the next block; valid until the next call.
    const int16_t* Next();
    // Where the song stands after the blocks rendered so far.
    PlayPosition Position() const;

private:
    std::unique_ptr<Player> m_player;
    int32_t m_blockLength = 0;
    std::vector<float> m_mix;
    std::vector<int16_t> m_block;
};

// Renders frames stereo frames of module at rate from its start; empty when
// it cannot (a null module, or the audio device is in use).
// progress, when given, hears the fraction done after every block.
std::vector<int16_t> RenderModule(const Module* module, int32_t rate, int64_t frames,
                                  const std::function<void(double)>& progress = {});

enum class SampleFormat { Pcm16, Float32 };

struct RenderSettings {
    int32_t rate = 44100;
    int32_t loops = 1;  // passes through the song; 0: until the seconds cap
    double seconds = 0; // the most to render; 0 for no cap
    double fade = 0;    // seconds over which the end fades to silence
    SampleFormat format = SampleFormat::Pcm16;
    uint32_t mutedChannels = 0;                       // bit i mutes channel i
    int32_t amplification = kFt2DefaultAmplification; // of songs played by FT2 rules, 1 to 32
    int64_t frames = -1; // RenderLength's answer when already known; -1: RenderWav asks
    float gain = 1.0f;   // applied to the mix before conversion; 1 leaves the bytes as they were
    Interpolation interpolation = Interpolation::Linear; // the rule set's own
    Ramp ramp = Ramp::Rules;
    std::optional<RuleSet> rules; // forced; else the song's own
    int32_t subsong = 0;          // the tune played, from 0 (FindSubsongs)
    int32_t separation = 100;     // stereo separation in percent, 0 to 200
    double tempo = 1;             // tempo factor, 0.25 to 4
    double pitch = 1;             // pitch factor, 0.25 to 4
};

// Starts module in player with the settings' rate, rules, subsong and sound
// settings; false for a null module, a bad rate or a subsong the song lacks.
bool StartRender(Player& player, const Module* module, const RenderSettings& settings);

// Where a render's blocks go: a file format's header and samples on a stream.
class AudioWriter {
public:
    virtual ~AudioWriter() = default;
    // Writes what comes before the samples of a stereo render of frames frames at rate.
    virtual bool Begin(int32_t rate, int64_t frames) = 0;
    // Takes frames frames of the mix at 16-bit scale (may change them); the
    // buffer holds blockLength frames, of which the ones past frames are spare.
    virtual bool Write(float* mix, int32_t frames, int32_t blockLength) = 0;
    // Writes what the format keeps for its end and flushes the stream.
    virtual bool Finish() = 0;
};

// A WAV stream of 16-bit or float samples, written in chunks of about 256 KB
// straight to out, unbuffered: no copy through a stream buffer.
class WavWriter : public AudioWriter {
public:
    WavWriter(std::FILE* out, SampleFormat format);
    bool Begin(int32_t rate, int64_t frames) override;
    bool Write(float* mix, int32_t frames, int32_t blockLength) override;
    bool Finish() override;

private:
    bool Flush();
    std::FILE* m_out;
    SampleFormat m_format;
    std::vector<int16_t> m_chunk;
    size_t m_held = 0; // bytes
};

// Frames a render with these settings holds: the subsong's passes at the
// tempo factor, capped; -1 for a subsong the song lacks.
int64_t RenderLength(const Module& module, const RenderSettings& settings);
// The header of a stereo WAV of frames frames; empty when its data would
// not fit the format's 32-bit sizes.
std::vector<uint8_t> WavHeader(int32_t rate, SampleFormat format, int64_t frames);
// Renders the song block by block in constant memory: the fade and the gain
// applied, tap hears each block of the mix (16-bit scale), then writer takes
// it; either may be empty. progress hears the frames done and the total after
// every block. False when the song cannot start or the writer fails.
bool RenderSong(const Module* module, const RenderSettings& settings, AudioWriter* writer,
                const std::function<void(const float* mix, int32_t frames)>& tap = {},
                const std::function<void(int64_t done, int64_t total)>& progress = {});
// Streams the WAV to out, header first, then block by block in constant
// memory; progress hears the frames done and the total after every block.
// False when a write fails or the render does not fit a WAV.
bool RenderWav(const Module* module, const RenderSettings& settings, std::FILE* out,
               const std::function<void(int64_t done, int64_t total)>& progress = {});
