#include "tools/render/render.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <memory>

#include "player/audio_output.h"
#include "player/mixer.h"
#include "player/player.h"

BlockRenderer::BlockRenderer() : m_player(std::make_unique<Player>()) {}
BlockRenderer::~BlockRenderer() = default;

bool BlockRenderer::Start(Module* module, int32_t rate) {
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

std::vector<int16_t> RenderModule(Module* module, int32_t rate, int64_t frames,
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
} // namespace

bool WriteWav(const std::string& path, const std::vector<int16_t>& pcm, int32_t rate) {
    const uint64_t dataBytes = uint64_t(pcm.size()) * 2;
    if (dataBytes > 0xFFFFFFFFull - 36)
        return false;
    std::vector<uint8_t> header;
    header.insert(header.end(), {'R', 'I', 'F', 'F'});
    Put32(header, uint32_t(36 + dataBytes));
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(header, 16);
    Put16(header, 1); // PCM
    Put16(header, 2);
    Put32(header, uint32_t(rate));
    Put32(header, uint32_t(rate) * 4);
    Put16(header, 4);
    Put16(header, 16);
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    Put32(header, uint32_t(dataBytes));

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
    // Samples little-endian, as every machine this runs on stores them.
    ok = ok && std::fwrite(pcm.data(), 2, pcm.size(), file) == pcm.size();
    ok = (std::fclose(file) == 0) && ok;
    return ok;
}
