#include "tools/capture/mp4_writer.h"

#include <algorithm>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

struct Mp4Writer::State {
    Settings settings;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec[2] = {nullptr, nullptr}; // video, audio
    AVStream* stream[2] = {nullptr, nullptr};
    SwsContext* sws = nullptr;
    SwrContext* swr = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVFrame* videoFrame = nullptr;
    AVFrame* audioFrame = nullptr;
    AVPacket* packet = nullptr;
    std::vector<float> planes[2];
    int64_t videoPts = 0;
    int64_t audioPts = 0;
    bool fileOpen = false;
    bool headerWritten = false;

    ~State() {
        av_packet_free(&packet);
        av_frame_free(&audioFrame);
        av_frame_free(&videoFrame);
        av_audio_fifo_free(fifo);
        swr_free(&swr);
        sws_freeContext(sws);
        avcodec_free_context(&codec[1]);
        avcodec_free_context(&codec[0]);
        if (format != nullptr && fileOpen)
            avio_closep(&format->pb);
        avformat_free_context(format);
    }
};

namespace {
constexpr int kVideo = 0;
constexpr int kAudio = 1;
const AVChannelLayout kStereo = AV_CHANNEL_LAYOUT_STEREO;
} // namespace

Mp4Writer::Mp4Writer() = default;
Mp4Writer::~Mp4Writer() = default;

bool Mp4Writer::Fail(const std::string& what, int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    m_error = what + ": " + text;
    return false;
}

bool Mp4Writer::Open(const std::string& path, const Settings& settings) {
    // Failures come back as this writer's one-line errors, not as library chatter.
    av_log_set_level(AV_LOG_QUIET);
    m_state = std::make_unique<State>();
    State& s = *m_state;
    s.settings = settings;
    int r = avformat_alloc_output_context2(&s.format, nullptr, "mp4", path.c_str());
    if (r < 0)
        return Fail("no MP4 muxer", r);
    // No library version strings in the file: the same input gives the same bytes.
    s.format->flags |= AVFMT_FLAG_BITEXACT;
    const bool globalHeader = (s.format->oformat->flags & AVFMT_GLOBALHEADER) != 0;

    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (h264 == nullptr)
        return Fail("no libx264 encoder in this FFmpeg", AVERROR_ENCODER_NOT_FOUND);
    AVCodecContext* video = s.codec[kVideo] = avcodec_alloc_context3(h264);
    video->width = settings.width;
    video->height = settings.height;
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    video->time_base = AVRational{1, settings.fps};
    video->framerate = AVRational{settings.fps, 1};
    video->sample_aspect_ratio = AVRational{1, 1};
    video->gop_size = settings.fps * 2; // a key frame every two seconds, for seeking
    // Standard definition takes BT.601 colours, larger pictures BT.709, as
    // players assume; the stream says which so that none has to guess.
    const bool hd = settings.height >= 720;
    video->colorspace = hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
    video->color_primaries = hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
    video->color_trc = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
    video->color_range = AVCOL_RANGE_MPEG;
    if (globalHeader)
        video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", "medium", 0);
    av_dict_set(&options, "crf", "18", 0);
    r = avcodec_open2(video, h264, &options);
    av_dict_free(&options);
    if (r < 0)
        return Fail("cannot open the H.264 encoder", r);

    const AVCodec* aac = avcodec_find_encoder_by_name("aac");
    if (aac == nullptr)
        return Fail("no AAC encoder in this FFmpeg", AVERROR_ENCODER_NOT_FOUND);
    AVCodecContext* audio = s.codec[kAudio] = avcodec_alloc_context3(aac);
    audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
    audio->sample_rate = settings.sampleRate;
    av_channel_layout_copy(&audio->ch_layout, &kStereo);
    audio->bit_rate = 192000;
    audio->time_base = AVRational{1, settings.sampleRate};
    audio->flags |= AV_CODEC_FLAG_BITEXACT;
    if (globalHeader)
        audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if ((r = avcodec_open2(audio, aac, nullptr)) < 0)
        return Fail("cannot open the AAC encoder", r);

    for (int i : {kVideo, kAudio}) {
        s.stream[i] = avformat_new_stream(s.format, nullptr);
        if (s.stream[i] == nullptr)
            return Fail("cannot add a stream", AVERROR(ENOMEM));
        if ((r = avcodec_parameters_from_context(s.stream[i]->codecpar, s.codec[i])) < 0)
            return Fail("cannot describe a stream", r);
        s.stream[i]->time_base = s.codec[i]->time_base;
    }
    s.stream[kVideo]->avg_frame_rate = video->framerate;

    s.sws = sws_getContext(settings.width, settings.height, AV_PIX_FMT_RGBA, settings.width, settings.height,
                           AV_PIX_FMT_YUV420P, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr,
                           nullptr, nullptr);
    if (s.sws == nullptr)
        return Fail("cannot set up the colour conversion", AVERROR(EINVAL));
    // Full-range RGB in, limited-range YUV out with the coefficients tagged above.
    const int* coefficients = sws_getCoefficients(hd ? SWS_CS_ITU709 : SWS_CS_ITU601);
    sws_setColorspaceDetails(s.sws, coefficients, 1, coefficients, 0, 0, 1 << 16, 1 << 16);

    AVChannelLayout stereo = kStereo; // this FFmpeg's signature takes it as mutable
    r = swr_alloc_set_opts2(&s.swr, &stereo, AV_SAMPLE_FMT_FLTP, settings.sampleRate, &stereo,
                            AV_SAMPLE_FMT_S16, settings.sampleRate, 0, nullptr);
    if (r < 0 || (r = swr_init(s.swr)) < 0)
        return Fail("cannot set up the sample conversion", r);
    s.fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, audio->frame_size * 4);

    s.videoFrame = av_frame_alloc();
    s.audioFrame = av_frame_alloc();
    s.packet = av_packet_alloc();
    if (s.fifo == nullptr || s.videoFrame == nullptr || s.audioFrame == nullptr || s.packet == nullptr)
        return Fail("out of memory", AVERROR(ENOMEM));
    s.videoFrame->format = AV_PIX_FMT_YUV420P;
    s.videoFrame->width = settings.width;
    s.videoFrame->height = settings.height;
    s.audioFrame->format = AV_SAMPLE_FMT_FLTP;
    s.audioFrame->sample_rate = settings.sampleRate;
    s.audioFrame->nb_samples = audio->frame_size;
    av_channel_layout_copy(&s.audioFrame->ch_layout, &kStereo);
    if ((r = av_frame_get_buffer(s.videoFrame, 0)) < 0 || (r = av_frame_get_buffer(s.audioFrame, 0)) < 0)
        return Fail("out of memory", r);

    if ((r = avio_open(&s.format->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0)
        return Fail("cannot create the file", r);
    s.fileOpen = true;
    // The index goes to the front once everything is written, so that a
    // player or a browser can start before the whole file has arrived.
    av_dict_set(&options, "movflags", "+faststart", 0);
    r = avformat_write_header(s.format, &options);
    av_dict_free(&options);
    if (r < 0)
        return Fail("cannot write the MP4 header", r);
    s.headerWritten = true;
    return true;
}

bool Mp4Writer::Drain(int stream, bool flush) {
    State& s = *m_state;
    for (;;) {
        int r = avcodec_receive_packet(s.codec[stream], s.packet);
        if (r == AVERROR(EAGAIN) && !flush)
            return true;
        if (r == AVERROR_EOF)
            return true;
        if (r < 0)
            return Fail("encoding failed", r);
        av_packet_rescale_ts(s.packet, s.codec[stream]->time_base, s.stream[stream]->time_base);
        s.packet->stream_index = s.stream[stream]->index;
        if ((r = av_interleaved_write_frame(s.format, s.packet)) < 0)
            return Fail("cannot write to the file", r);
    }
}

bool Mp4Writer::WriteVideo(const uint8_t* rgba) {
    State& s = *m_state;
    int r = av_frame_make_writable(s.videoFrame);
    if (r < 0)
        return Fail("out of memory", r);
    const uint8_t* source[1] = {rgba};
    const int stride[1] = {s.settings.width * 4};
    sws_scale(s.sws, source, stride, 0, s.settings.height, s.videoFrame->data, s.videoFrame->linesize);
    s.videoFrame->pts = s.videoPts++;
    if ((r = avcodec_send_frame(s.codec[kVideo], s.videoFrame)) < 0)
        return Fail("encoding failed", r);
    return Drain(kVideo, false);
}

bool Mp4Writer::WriteAudio(const int16_t* pcm, int frames) {
    State& s = *m_state;
    if (frames <= 0)
        return true;
    for (std::vector<float>& plane : s.planes)
        plane.resize(size_t(frames));
    uint8_t* out[2] = {reinterpret_cast<uint8_t*>(s.planes[0].data()),
                       reinterpret_cast<uint8_t*>(s.planes[1].data())};
    const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(pcm)};
    // Same rate in and out: every sample comes straight through.
    const int converted = swr_convert(s.swr, out, frames, in, frames);
    if (converted < 0)
        return Fail("sample conversion failed", converted);
    if (av_audio_fifo_write(s.fifo, reinterpret_cast<void**>(out), converted) < converted)
        return Fail("out of memory", AVERROR(ENOMEM));
    return EncodeAudioFrames(false);
}

bool Mp4Writer::EncodeAudioFrames(bool flush) {
    State& s = *m_state;
    const int frameSize = s.codec[kAudio]->frame_size;
    while (av_audio_fifo_size(s.fifo) >= frameSize || (flush && av_audio_fifo_size(s.fifo) > 0)) {
        int r = av_frame_make_writable(s.audioFrame);
        if (r < 0)
            return Fail("out of memory", r);
        // The encoder takes a short last frame.
        const int n = std::min(frameSize, av_audio_fifo_size(s.fifo));
        s.audioFrame->nb_samples = n;
        av_audio_fifo_read(s.fifo, reinterpret_cast<void**>(s.audioFrame->data), n);
        s.audioFrame->pts = s.audioPts;
        s.audioPts += n;
        if ((r = avcodec_send_frame(s.codec[kAudio], s.audioFrame)) < 0)
            return Fail("encoding failed", r);
        if (!Drain(kAudio, false))
            return false;
    }
    return true;
}

bool Mp4Writer::Finish() {
    State& s = *m_state;
    if (!s.headerWritten)
        return Fail("nothing to finish", AVERROR(EINVAL));
    if (!EncodeAudioFrames(true))
        return false;
    for (int i : {kVideo, kAudio}) {
        int r = avcodec_send_frame(s.codec[i], nullptr);
        if (r < 0)
            return Fail("encoding failed", r);
        if (!Drain(i, true))
            return false;
    }
    int r = av_write_trailer(s.format);
    s.headerWritten = false;
    if (r < 0)
        return Fail("cannot finish the file", r);
    s.fileOpen = false;
    if ((r = avio_closep(&s.format->pb)) < 0)
        return Fail("cannot close the file", r);
    return true;
}
