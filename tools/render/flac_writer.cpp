#include "tools/render/flac_writer.h"

#include <vector>

#include "player/mix/mixer.h"

#ifdef TINSEL_HAVE_FLAC
#include <FLAC/stream_encoder.h>
#include <sys/types.h>

namespace {

FLAC__StreamEncoderWriteStatus WriteBytes(const FLAC__StreamEncoder*, const FLAC__byte buffer[], size_t bytes,
                                          uint32_t, uint32_t, void* out) {
    return std::fwrite(buffer, 1, bytes, static_cast<std::FILE*>(out)) == bytes
               ? FLAC__STREAM_ENCODER_WRITE_STATUS_OK
               : FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
}

FLAC__StreamEncoderSeekStatus SeekTo(const FLAC__StreamEncoder*, FLAC__uint64 offset, void* out) {
    return fseeko(static_cast<std::FILE*>(out), off_t(offset), SEEK_SET) == 0
               ? FLAC__STREAM_ENCODER_SEEK_STATUS_OK
               : FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
}

FLAC__StreamEncoderTellStatus TellAt(const FLAC__StreamEncoder*, FLAC__uint64* offset, void* out) {
    const off_t at = ftello(static_cast<std::FILE*>(out));
    if (at < 0)
        return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
    *offset = FLAC__uint64(at);
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

class FlacWriter : public AudioWriter {
public:
    explicit FlacWriter(std::FILE* out) : m_out(out), m_encoder(FLAC__stream_encoder_new()) {}
    ~FlacWriter() override {
        if (m_encoder != nullptr)
            FLAC__stream_encoder_delete(m_encoder);
    }

    bool Begin(int32_t rate, int64_t frames) override {
        if (m_encoder == nullptr || m_out == nullptr)
            return false;
        FLAC__stream_encoder_set_channels(m_encoder, 2);
        FLAC__stream_encoder_set_bits_per_sample(m_encoder, 16);
        FLAC__stream_encoder_set_sample_rate(m_encoder, uint32_t(rate));
        FLAC__stream_encoder_set_compression_level(m_encoder, 5);
        // Known ahead, so that even a header that cannot be rewritten (a pipe) gives the length.
        FLAC__stream_encoder_set_total_samples_estimate(m_encoder, FLAC__uint64(frames));
        // The header is rewritten at the end with the checksum where the stream can seek back.
        const bool seekable = ftello(m_out) >= 0;
        const FLAC__StreamEncoderInitStatus status = FLAC__stream_encoder_init_stream(
            m_encoder, WriteBytes, seekable ? SeekTo : nullptr, seekable ? TellAt : nullptr, nullptr, m_out);
        return status == FLAC__STREAM_ENCODER_INIT_STATUS_OK;
    }

    bool Write(float* mix, int32_t frames, int32_t blockLength) override {
        m_pcm.resize(size_t(blockLength) * 2);
        m_wide.resize(size_t(blockLength) * 2);
        // The conversion of the WAV render: its samples, bit for bit.
        ConvertToPcm16(m_pcm.data(), mix, blockLength);
        for (size_t i = 0; i < size_t(frames) * 2; ++i)
            m_wide[i] = m_pcm[i];
        return FLAC__stream_encoder_process_interleaved(m_encoder, m_wide.data(), uint32_t(frames)) != 0;
    }

    bool Finish() override {
        // finish() also frees the encoder's state, so it runs once whatever the stream did.
        const bool ok = FLAC__stream_encoder_finish(m_encoder) != 0;
        return ok && std::fflush(m_out) == 0;
    }

private:
    std::FILE* m_out;
    FLAC__StreamEncoder* m_encoder;
    std::vector<int16_t> m_pcm;
    std::vector<FLAC__int32> m_wide;
};

} // namespace

bool FlacAvailable() {
    return true;
}

std::unique_ptr<AudioWriter> MakeFlacWriter(std::FILE* out) {
    return std::make_unique<FlacWriter>(out);
}

#else

bool FlacAvailable() {
    return false;
}

std::unique_ptr<AudioWriter> MakeFlacWriter(std::FILE*) {
    return nullptr;
}

#endif
