// tinsel-capture: records the demo into an MP4 frame by frame. The scene is
// drawn offscreen on a fixed clock and the music rendered offline through the
// player's block path, so a capture never drops a frame and the same options
// always give the same file.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/exception.h"
#include "player/format/module.h"
#include "player/player.h"
#include "player/format/song.h"
#include "player/format/stream.h"
#include "tools/capture/mp4_writer.h"
#include "tools/render/render.h"
#include "tools/snapshot/offscreen_scene.h"
#include "tools/cli.h"

namespace {

constexpr int kSampleRate = 44100; // the rate the demo opens its device at
constexpr int kMaxScale = 4;       // 2560 x 1920, still within common H.264 levels
constexpr double kMaxSeconds = 3600;

int Fail(const std::string& message) {
    return cli::Fail("tinsel-capture", message);
}

volatile std::sig_atomic_t g_interrupted = 0;
void OnSignal(int) {
    g_interrupted = 1;
}

// Each pixel becomes a scale x scale block.
void Enlarge(const std::vector<uint8_t>& rgba, int width, int height, int scale, std::vector<uint8_t>& out) {
    const size_t outRow = size_t(width) * size_t(scale) * 4;
    out.resize(outRow * size_t(height) * size_t(scale));
    for (int y = 0; y < height; ++y) {
        uint8_t* row = &out[size_t(y) * size_t(scale) * outRow];
        const uint8_t* in = &rgba[size_t(y) * size_t(width) * 4];
        for (int x = 0; x < width; ++x)
            for (int k = 0; k < scale; ++k)
                std::memcpy(row + (size_t(x) * size_t(scale) + size_t(k)) * 4, in + size_t(x) * 4, 4);
        for (int k = 1; k < scale; ++k)
            std::memcpy(row + size_t(k) * outRow, row, outRow);
    }
}

class Progress {
public:
    explicit Progress(int64_t total) : m_total(total), m_terminal(isatty(fileno(stderr)) != 0) {}
    void Show(int64_t done) {
        if (!m_terminal)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (done < m_total && now - m_last < std::chrono::milliseconds(200))
            return;
        m_last = now;
        const double elapsed = std::chrono::duration<double>(now - m_start).count();
        const double left = done > 0 ? elapsed / double(done) * double(m_total - done) : 0;
        const int bar = int(40 * done / m_total);
        std::fprintf(stderr, "\r[%-40.*s] %3d%%  frame %lld/%lld  %d:%02d left ", bar,
                     "########################################", int(100 * done / m_total),
                     static_cast<long long>(done), static_cast<long long>(m_total), int(left) / 60,
                     int(left) % 60);
        std::fflush(stderr);
    }
    void End() {
        if (m_terminal)
            std::fputc('\n', stderr);
    }
    double Seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    }

private:
    int64_t m_total;
    bool m_terminal;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_last{};
};

// The song's samples in the order the demo plays them, handed out by the count.
class Music {
public:
    explicit Music(Module* song) : m_song(song) {}
    ~Music() { FreeModule(m_song); }
    Music(const Music&) = delete;
    Music& operator=(const Music&) = delete;

    bool Begin() { return m_renderer.Start(m_song, kSampleRate); }
    // The next frames stereo frames.
    const int16_t* Next(int frames) {
        m_pending.erase(m_pending.begin(), m_pending.begin() + long(m_taken) * 2);
        while (m_pending.size() < size_t(frames) * 2) {
            const int16_t* block = m_renderer.Next();
            m_pending.insert(m_pending.end(), block, block + size_t(m_renderer.BlockLength()) * 2);
        }
        m_taken = frames;
        return m_pending.data();
    }

private:
    Module* m_song;
    BlockRenderer m_renderer;
    std::vector<int16_t> m_pending;
    int m_taken = 0;
};

} // namespace

int main(int argc, char** argv) {
    std::string out, dataDir;
    double seconds = 0; // 0: one pass of the song
    int fps = 60, scale = 1;
    const cli::Command command{
        .tool = "tinsel-capture",
        .synopsis =
            "usage: tinsel-capture -o FILE.mp4 [--seconds S] [--fps 60|50|30] [--scale N] [--data DIR]\n"
            "Records the demo frame by frame on a fixed clock, with its music, into an MP4\n"
            "(H.264 and AAC). The same options always give the same file.\n",
        .options =
            {
                {.names = "-o, --out", .value = "FILE.mp4", .sets = &out, .help = "output file"},
                {.names = "--seconds",
                 .value = "S",
                 .low = 0.001,
                 .high = kMaxSeconds,
                 .sets = &seconds,
                 .wants = "a number above 0 and at most 3600",
                 .help = "length (default: one pass of the song, until it first loops back)"},
                {.names = "--fps",
                 .value = "N",
                 .sets =
                     [&fps](const char* value) {
                         double number = 0;
                         if (!cli::ParseNumber(value, 30, 60, number) ||
                             (number != 60 && number != 50 && number != 30))
                             return false;
                         fps = int(number);
                         return true;
                     },
                 .wants = "60, 50 or 30",
                 .help = "frames per second: 60, 50 or 30 (default 60)"},
                {.names = "--scale",
                 .value = "N",
                 .low = 1,
                 .high = kMaxScale,
                 .sets = &scale,
                 .help = "enlarge each pixel to N x N, 1 to " + std::to_string(kMaxScale) +
                         " (default 1: 640x480)"},
                {.names = "--data",
                 .value = "DIR",
                 .sets = &dataDir,
                 .help = "directory holding data/ (plain files) or *.Trovake archives\n"
                         "(default: the current directory)"},
            },
        .missing = "missing value after ",
    };
    if (const std::optional<int> exit = cli::Parse(command, argc, argv))
        return *exit;
    if (out.empty()) {
        cli::PrintHelp(command, stderr);
        return Fail("name the output file with -o FILE.mp4");
    }
    // Relative paths name places seen from where the tool was started.
    if (out[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) != nullptr)
            out = std::string(cwd) + "/" + out;
    }
    struct stat info;
    if (stat(out.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return Fail("cannot write '" + out + "': it is a directory");
    // Written under another name and renamed when complete: a failed or
    // interrupted capture leaves any earlier file alone.
    const std::string part = out + ".part";
    if (!dataDir.empty() && chdir(dataDir.c_str()) != 0)
        return Fail("cannot enter data directory '" + dataDir + "': " + std::strerror(errno));

    OffscreenScene scene;
    if (!scene.Valid())
        return Fail("no offscreen OpenGL context");
    SetStreamCallbacks(SongOpen, SongClose, SongRead, SongSeek, SongTell);
    Module* song = LoadModule("#101");
    if (song == nullptr)
        return Fail("cannot load the embedded song");
    Music music(song);
    try {
        scene.Start();
    } catch (CException& error) {
        return Fail(std::string(error.Text()) + " (--data names the directory that holds data/)");
    }
    if (!music.Begin())
        return Fail("cannot render the song");

    const int width = scene.Width() * scale, height = scene.Height() * scale;
    std::FILE* probe = std::fopen(part.c_str(), "wb");
    if (probe == nullptr)
        return Fail("cannot write '" + out + "': " + std::strerror(errno));
    std::fclose(probe);
    Mp4Writer writer;
    Mp4Writer::Settings settings;
    settings.width = width;
    settings.height = height;
    settings.fps = fps;
    settings.sampleRate = kSampleRate;
    auto abandon = [&](const std::string& message) {
        std::remove(part.c_str());
        return Fail(message);
    };
    if (!writer.Open(part, settings))
        return abandon(writer.Error());

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    // Frame i is drawn with the scene's clock at i/fps and shown from then
    // until the next; the music's first sample sounds with frame 0.
    int64_t frames = std::max<int64_t>(1, std::llround(seconds * fps));
    if (seconds == 0) {
        // The whole pass, its last part frame included.
        const SongLength pass = MeasureSong(*song, kSampleRate);
        frames = std::max<int64_t>(1, (pass.frames * fps + kSampleRate - 1) / kSampleRate);
    }
    const int samplesPerFrame = kSampleRate / fps;
    Progress progress(frames);
    std::vector<uint8_t> large;
    for (int64_t i = 0; i < frames; ++i) {
        if (g_interrupted) {
            progress.End();
            return abandon("interrupted");
        }
        scene.FrameAt(OffscreenScene::FrameTicks(i, fps));
        const std::vector<uint8_t> pixels = scene.Pixels();
        if (scale > 1)
            Enlarge(pixels, scene.Width(), scene.Height(), scale, large);
        if (!writer.WriteVideo(scale > 1 ? large.data() : pixels.data()) ||
            !writer.WriteAudio(music.Next(samplesPerFrame), samplesPerFrame)) {
            progress.End();
            return abandon(writer.Error());
        }
        progress.Show(i + 1);
    }
    progress.End();
    if (!writer.Finish())
        return abandon(writer.Error());
    if (std::rename(part.c_str(), out.c_str()) != 0)
        return abandon("cannot write '" + out + "': " + std::strerror(errno));
    const double wall = progress.Seconds();
    std::printf("%s: %lld frames at %d fps, %dx%d, %.3f s, in %.1f s (%.1f frames/s)\n", out.c_str(),
                static_cast<long long>(frames), fps, width, height, double(frames) / fps, wall,
                double(frames) / wall);
    return 0;
}
