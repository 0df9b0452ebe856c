// A capture read back as a viewer's player would read it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "player/format/module.h"
#include "player/format/song.h"
#include "tests/common/test_util.h"
#include "tools/render/render.h"

namespace fs = std::filesystem;

namespace {

using testutil::ReadFile;
using testutil::ToolRun;

// What a player finds in the file.
struct Decoded {
    std::vector<std::string> streams; // "video CODEC WxH FORMAT" or "audio CODEC RATE CHANNELS"
    int videoFrames = 0;
    std::vector<uint8_t> rgbAt; // the frame shown at `at` seconds, RGB
    std::vector<float> audio;   // interleaved stereo
    int64_t firstAudioSample = -1;
};

void ConvertToRgb(const AVFrame* frame, std::vector<uint8_t>& rgb) {
    SwsContext* sws =
        sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width, frame->height,
                       AV_PIX_FMT_RGB24, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    // Read the colours with the coefficients the stream declares.
    const int space = frame->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    sws_setColorspaceDetails(sws, sws_getCoefficients(space), frame->color_range == AVCOL_RANGE_JPEG,
                             sws_getCoefficients(space), 1, 0, 1 << 16, 1 << 16);
    rgb.assign(size_t(frame->width) * size_t(frame->height) * 3, 0);
    uint8_t* out[1] = {rgb.data()};
    const int stride[1] = {frame->width * 3};
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, out, stride);
    sws_freeContext(sws);
}

Decoded Decode(const fs::path& path, double at) {
    Decoded d;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0)
        return d;
    avformat_find_stream_info(format, nullptr);
    AVCodecContext* decoders[2] = {nullptr, nullptr};
    int index[2] = {-1, -1};
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters* par = format->streams[i]->codecpar;
        const int kind = par->codec_type == AVMEDIA_TYPE_VIDEO   ? 0
                         : par->codec_type == AVMEDIA_TYPE_AUDIO ? 1
                                                                 : -1;
        if (kind < 0)
            continue;
        const char* pixels = av_get_pix_fmt_name(AVPixelFormat(par->format));
        d.streams.push_back(kind == 0 ? "video " + std::string(avcodec_get_name(par->codec_id)) + " " +
                                            std::to_string(par->width) + "x" + std::to_string(par->height) +
                                            " " + (pixels ? pixels : "?")
                                      : "audio " + std::string(avcodec_get_name(par->codec_id)) + " " +
                                            std::to_string(par->sample_rate) + " " +
                                            std::to_string(par->ch_layout.nb_channels));
        if (index[kind] >= 0)
            continue;
        index[kind] = int(i);
        decoders[kind] = avcodec_alloc_context3(avcodec_find_decoder(par->codec_id));
        avcodec_parameters_to_context(decoders[kind], par);
        decoders[kind]->pkt_timebase = format->streams[i]->time_base;
        avcodec_open2(decoders[kind], avcodec_find_decoder(par->codec_id), nullptr);
    }

    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    double bestDistance = 1e9;
    auto receive = [&](int kind) {
        while (avcodec_receive_frame(decoders[kind], frame) >= 0) {
            const AVRational tb = format->streams[index[kind]]->time_base;
            if (kind == 0) {
                ++d.videoFrames;
                const double distance = std::fabs(double(frame->best_effort_timestamp) * av_q2d(tb) - at);
                if (distance < bestDistance) {
                    bestDistance = distance;
                    ConvertToRgb(frame, d.rgbAt);
                }
            } else {
                if (d.firstAudioSample < 0)
                    d.firstAudioSample =
                        av_rescale_q(frame->best_effort_timestamp, tb, {1, frame->sample_rate});
                for (int s = 0; s < frame->nb_samples; ++s)
                    for (int c = 0; c < frame->ch_layout.nb_channels; ++c)
                        d.audio.push_back(reinterpret_cast<const float*>(frame->extended_data[c])[s]);
            }
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        for (int kind : {0, 1})
            if (packet->stream_index == index[kind] && decoders[kind] != nullptr) {
                avcodec_send_packet(decoders[kind], packet);
                receive(kind);
            }
        av_packet_unref(packet);
    }
    for (int kind : {0, 1})
        if (decoders[kind] != nullptr) {
            avcodec_send_packet(decoders[kind], nullptr);
            receive(kind);
            avcodec_free_context(&decoders[kind]);
        }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&format);
    return d;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double squares = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double e = double(a[i]) - double(b[i]);
        squares += e * e;
    }
    return 10 * std::log10(255.0 * 255.0 / (squares / double(a.size()) + 1e-12));
}

double Correlation(const std::vector<int16_t>& pcm, const std::vector<float>& decoded) {
    const size_t n = std::min(pcm.size(), decoded.size());
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    for (size_t i = 0; i < n; ++i) {
        const double a = pcm[i] / 32768.0, b = decoded[i];
        sa += a;
        sb += b;
        saa += a * a;
        sbb += b * b;
        sab += a * b;
    }
    const double cov = sab - sa * sb / double(n);
    return cov / std::sqrt((saa - sa * sa / double(n)) * (sbb - sb * sb / double(n)));
}

// Each test in a scratch directory of its own, made current.
class Capture : public testing::Test {
protected:
    testutil::ScratchDir scratch;
};

// One capture read back three ways: its streams, a picture and the music.
TEST_F(Capture, ThreeSecondsAtThirtyFps) {
    const ToolRun run = testutil::RunTool(
        TINSEL_CAPTURE " -o three.mp4 --seconds 3 --fps 30 --scale 1 --data " TINSEL_ASSETS);
    ASSERT_EQ(run.status, 0) << run.output;
    const Decoded decoded = Decode("three.mp4", 2.0);

    EXPECT_EQ(decoded.streams, (std::vector<std::string>{"video h264 640x480 yuv420p", "audio aac 44100 2"}));
    EXPECT_NEAR(decoded.videoFrames, 90, 1);
    // The index (moov) comes before the media data, so playback can start at once.
    const std::string bytes = ReadFile("three.mp4");
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
    EXPECT_NE(bytes.find("mdat"), std::string::npos);

    // The frame shown at 2.0 s is the snapshot tool's, up to compression, and
    // nearer to it than to the frames a thirtieth of a second either side. The
    // tool makes its output folder, parents and all.
    const fs::path frames = "new/frames";
    const ToolRun snap = testutil::RunTool(TINSEL_SNAPSHOT " --data " TINSEL_ASSETS
                                                           " --at 1.96667,2,2.03334 --out new/frames");
    ASSERT_EQ(snap.status, 0) << snap.output;
    // The snapshot's PNG read through the same libraries, as a one-frame picture.
    double psnr[3] = {};
    const char* names[3] = {"frame-1.97.png", "frame-2.00.png", "frame-2.03.png"};
    for (int i = 0; i < 3; ++i) {
        const std::vector<uint8_t> snapshot = Decode(frames / names[i], 0.0).rgbAt;
        ASSERT_EQ(decoded.rgbAt.size(), size_t(640 * 480 * 3));
        ASSERT_EQ(snapshot.size(), decoded.rgbAt.size()) << names[i];
        psnr[i] = Psnr(decoded.rgbAt, snapshot);
    }
    EXPECT_GT(psnr[1], 30.0);
    EXPECT_GT(psnr[1], std::max(psnr[0], psnr[2]) + 1.0);

    // The music starts with the first frame and is the offline render's.
    Module* song = LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize);
    ASSERT_NE(song, nullptr);
    const std::vector<int16_t> offline = RenderModule(song, 44100, 3 * 44100);
    FreeModule(song);
    EXPECT_EQ(decoded.firstAudioSample, 0);
    EXPECT_NEAR(double(decoded.audio.size()), double(offline.size()), 2 * 1024);
    EXPECT_GT(Correlation(offline, decoded.audio), 0.95);
}

TEST_F(Capture, ScaledCapturesAreLargerAndTheSameEveryTime) {
    for (const char* name : {"a.mp4", "b.mp4"}) {
        const ToolRun run = testutil::RunTool(TINSEL_CAPTURE " -o " + std::string(name) +
                                              " --seconds 0.2 --fps 50 --scale 2 --data " TINSEL_ASSETS);
        ASSERT_EQ(run.status, 0) << run.output;
    }
    const Decoded scaled = Decode("a.mp4", 0.0);
    ASSERT_FALSE(scaled.streams.empty());
    EXPECT_EQ(scaled.streams[0], "video h264 1280x960 yuv420p");
    EXPECT_EQ(scaled.videoFrames, 10);
    EXPECT_TRUE(ReadFile("a.mp4") == ReadFile("b.mp4"));
}

TEST_F(Capture, FailsInOneLineAndLeavesAnEarlierFileAlone) {
    fs::create_directories("no-data");
    testutil::WriteFile("kept.mp4", std::string("an earlier capture"));
    const struct {
        std::string arguments;
        std::string message;
    } cases[] = {
        {"-o missing-dir/x.mp4 --seconds 0.1 --data " TINSEL_ASSETS,
         "cannot write '" + (scratch.path / "missing-dir/x.mp4").string() + "'"},
        {"-o no-data --seconds 0.1 --data " TINSEL_ASSETS, "it is a directory"},
        {"-o kept.mp4 --seconds 0.1 --data no-data", "data/"},
        {"-o kept.mp4 --data nowhere", "cannot enter data directory"},
        {"-o kept.mp4 --fps 24", "--fps wants 60, 50 or 30"},
        {"-o kept.mp4 --scale 1.5", "--scale wants"},
        {"--seconds 3", "-o FILE.mp4"},
    };
    for (const auto& c : cases) {
        const ToolRun run = testutil::RunTool(TINSEL_CAPTURE " " + c.arguments);
        EXPECT_NE(run.status, 0) << c.arguments;
        // One line of the tool's own, naming the fault (a sanitizer may add its report).
        const size_t own = run.output.find("tinsel-capture: ");
        ASSERT_NE(own, std::string::npos) << c.arguments;
        EXPECT_EQ(run.output.find("tinsel-capture: ", own + 1), std::string::npos) << run.output;
        EXPECT_NE(run.output.substr(own, run.output.find('\n', own) - own).find(c.message), std::string::npos)
            << c.arguments << "\n"
            << run.output;
    }
    EXPECT_EQ(ReadFile("kept.mp4"), "an earlier capture");
    EXPECT_FALSE(fs::exists("kept.mp4.part"));
}

} // namespace
