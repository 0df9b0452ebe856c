#include "tools/render/render.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <memory>

#include "player/output/audio_output.h"
#include "player/mix/mixer.h"
#include "player/player.h"

BlockRenderer::BlockRenderer() : m_player(std::make_unique<Player>()) {}
BlockRenderer::~BlockRenderer() = default;

bool BlockRenderer::Start(const Module* module, int32_t rate) {
    if (!InitPlayer(*m_player, rate) || !StartSong(*m_player, module))
        return false;
    // Blocks of the device's length: the same bytes the ring would hold.
    m_blockLength = BlockLengthForRate(rate);
    m_mix.assign(static_cast<size_t>(m_blockLength) * 2, 0.0f);
    m_block.assign(static_cast<size_t>(m_blockLength) * 2, 0);
    return true;
}

const int16_t* BlockRenderer::Next() {
    RenderFrames(*m_player, m_mix.data(), m_blockLength);
    ConvertToPcm16(m_block.data(), m_mix.data(), m_blockLength);
    return m_block.data();
}

PlayPosition BlockRenderer::Position() const {
    return CurrentPosition(*m_player);
}

std::vector<int16_t> RenderModule(const Module* module, int32_t rate, int64_t frames,
                                  const std::function<void(double)>& progress) {
    std::vector<int16_t> pcm;
    BlockRenderer renderer;
    if (frames <= 0 || !renderer.Start(module, rate))
        return pcm;
    pcm.resize(static_cast<size_t>(frames) * 2);
    int64_t done = 0;
    while (done < frames) {
        const int16_t* block = renderer.Next();
        const int64_t n = std::min<int64_t>(renderer.BlockLength(), frames - done);
        std::memcpy(pcm.data() + done * 2, block, static_cast<size_t>(n) * 4);
        done += n;
        if (progress)
            progress(double(done) / double(frames));
    }
    return pcm;
}

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
// Chunk names byte by byte: g++ 12 at -O3 misreads a list insert into a
// growing vector as an overflow.
void PutTag(std::vector<uint8_t>& out, const char* tag) {
    for (; *tag != '\0'; ++tag)
        out.push_back(uint8_t(*tag));
}

int32_t BytesPerFrame(SampleFormat format) {
    return format == SampleFormat::Float32 ? 8 : 4;
}

} // namespace

bool StartRender(Player& player, const Module* module, const RenderSettings& settings) {
    if (module == nullptr || !InitPlayer(player, settings.rate) ||
        !StartSong(player, module, SongRules(*module, settings.rules)))
        return false;
    // The tempo factor before the subsong, so that its repeat count's end is measured at it.
    if (!SetStereoSeparation(player, settings.separation) || !SetTempoFactor(player, settings.tempo) ||
        !SetPitchFactor(player, settings.pitch))
        return false;
    return settings.subsong == 0 || SelectSubsong(player, settings.subsong);
}

int64_t RenderLength(const Module& module, const RenderSettings& settings) {
    auto player = std::make_unique<Player>();
    if (!StartRender(*player, &module, settings))
        return -1;
    const int64_t cap = settings.seconds > 0 ? int64_t(settings.seconds * settings.rate + 0.5) : -1;
    if (settings.loops <= 0)
        return cap > 0 ? cap : 0;
    // A cap shorter than the song spares the walk its remainder.
    const int64_t frames = MeasurePasses(*player, settings.loops, cap);
    return cap >= 0 && cap < frames ? cap : frames;
}

std::vector<uint8_t> WavHeader(int32_t rate, SampleFormat format, int64_t frames) {
    const bool isFloat = format == SampleFormat::Float32;
    const uint64_t dataBytes = uint64_t(frames) * uint64_t(BytesPerFrame(format));
    // Float data needs the extended format chunk and a fact chunk.
    const uint32_t headerBytes = isFloat ? 58 : 44;
    std::vector<uint8_t> header;
    if (frames < 0 || dataBytes > 0xFFFFFFFFull - headerBytes)
        return header;
    PutTag(header, "RIFF");
    Put32(header, uint32_t(headerBytes - 8 + dataBytes));
    PutTag(header, "WAVEfmt ");
    Put32(header, isFloat ? 18 : 16);
    Put16(header, isFloat ? 3 : 1); // IEEE float or PCM
    Put16(header, 2);
    Put32(header, uint32_t(rate));
    Put32(header, uint32_t(rate) * uint32_t(BytesPerFrame(format)));
    Put16(header, uint32_t(BytesPerFrame(format)));
    Put16(header, isFloat ? 32 : 16);
    if (isFloat) {
        Put16(header, 0);
        PutTag(header, "fact");
        Put32(header, 4);
        Put32(header, uint32_t(frames));
    }
    PutTag(header, "data");
    Put32(header, uint32_t(dataBytes));
    return header;
}

WavWriter::WavWriter(std::FILE* out, SampleFormat format) : m_out(out), m_format(format) {}

bool WavWriter::Begin(int32_t rate, int64_t frames) {
    const std::vector<uint8_t> header = WavHeader(rate, m_format, frames);
    if (m_out == nullptr || header.empty() ||
        std::fwrite(header.data(), 1, header.size(), m_out) != header.size())
        return false;
    // Samples are put straight into a chunk of many blocks, written in one
    // call when the next block would not fit.
    const size_t blockBytes = size_t(BlockLengthForRate(rate)) * size_t(BytesPerFrame(m_format));
    m_chunk.assign(blockBytes * std::max<size_t>(1, (256 << 10) / blockBytes) / 2, 0);
    m_held = 0;
    return true;
}

bool WavWriter::Write(float* mix, int32_t frames, int32_t blockLength) {
    const size_t blockBytes = size_t(blockLength) * size_t(BytesPerFrame(m_format));
    if (m_held + blockBytes > m_chunk.size() * 2 && !Flush())
        return false;
    if (m_format == SampleFormat::Float32) {
        for (size_t i = 0; i < size_t(frames) * 2; ++i)
            mix[i] *= 1.0f / 32768.0f;
        // Samples little-endian, as every machine this runs on stores them.
        std::memcpy(reinterpret_cast<uint8_t*>(m_chunk.data()) + m_held, mix, size_t(frames) * 8);
    } else {
        // A whole block: the chunk has room for it (only frames frames are kept).
        ConvertToPcm16(m_chunk.data() + m_held / 2, mix, blockLength);
    }
    m_held += size_t(frames) * size_t(BytesPerFrame(m_format));
    return true;
}

bool WavWriter::Flush() {
    const bool ok = m_held == 0 || std::fwrite(m_chunk.data(), 1, m_held, m_out) == m_held;
    m_held = 0;
    return ok;
}

bool WavWriter::Finish() {
    return Flush() && std::fflush(m_out) == 0;
}

bool RenderSong(const Module* module, const RenderSettings& settings, AudioWriter* writer,
                const std::function<void(const float*, int32_t)>& tap,
                const std::function<void(int64_t, int64_t)>& progress) {
    auto player = std::make_unique<Player>();
    if (!StartRender(*player, module, settings))
        return false;
    const int64_t total = settings.frames >= 0 ? settings.frames : RenderLength(*module, settings);
    if (total < 0 || (writer != nullptr && !writer->Begin(settings.rate, total)))
        return false;
    SetMutedChannels(*player, settings.mutedChannels);
    SetAmplification(*player, settings.amplification);
    SetInterpolation(*player, settings.interpolation);
    SetRamp(*player, settings.ramp);
    const int64_t fadeFrames = std::min<int64_t>(int64_t(settings.fade * settings.rate + 0.5), total);
    // Blocks of the device's length: without a fade, the bytes the ring would hold.
    const int32_t blockLength = BlockLengthForRate(settings.rate);
    std::vector<float> mix(size_t(blockLength) * 2);
    int64_t done = 0;
    while (done < total) {
        const int32_t n = int32_t(std::min<int64_t>(blockLength, total - done));
        // Past the song's end, if ever, only silence: the length stays as announced.
        RenderFrames(*player, mix.data(), blockLength);
        for (int32_t i = 0; i < n && fadeFrames > 0; ++i) {
            const int64_t left = total - (done + i);
            if (left <= fadeFrames) {
                const float gain = float(double(left) / double(fadeFrames));
                mix[2 * size_t(i)] *= gain;
                mix[2 * size_t(i) + 1] *= gain;
            }
        }
        if (settings.gain != 1.0f) {
            for (size_t i = 0; i < size_t(n) * 2; ++i)
                mix[i] *= settings.gain;
        }
        if (tap)
            tap(mix.data(), n);
        if (writer != nullptr && !writer->Write(mix.data(), n, blockLength))
            return false;
        done += n;
        if (progress)
            progress(done, total);
    }
    return writer == nullptr || writer->Finish();
}

bool RenderWav(const Module* module, const RenderSettings& settings, std::FILE* out,
               const std::function<void(int64_t done, int64_t total)>& progress) {
    if (out == nullptr)
        return false;
    WavWriter writer(out, settings.format);
    return RenderSong(module, settings, &writer, {}, progress);
}
