// tinsel-render: plays a song offline through the player's block path and
// writes the result as a 16-bit stereo WAV file.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "player/module.h"
#include "player/song.h"
#include "tools/render/render.h"

namespace {

const char kUsage[] =
    "usage: tinsel-render (SONG.xm | --embedded) [--seconds N] [--rate HZ] [--out FILE.wav]\n"
    "Renders a song from its start through the player into a 16-bit stereo WAV file.\n"
    "  --embedded    the song built into the program instead of a file\n"
    "  --seconds N   length to render (default 60)\n"
    "  --rate HZ     frames per second (default 44100)\n"
    "  --out FILE    output path (default song.wav)\n";

std::vector<uint8_t> g_file;

bool ReadFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        g_file.insert(g_file.end(), chunk, chunk + n);
        if (g_file.size() > 0x7FFFFFFF) {
            std::fclose(file);
            return false;
        }
    }
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

bool ParseNumber(const char* text, double low, double high, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= low && value <= high;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "tinsel-render: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    std::string input, out = "song.wav";
    bool embedded = false;
    double seconds = 60, rate = 44100;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--embedded") {
            embedded = true;
        } else if (arg == "--seconds" && hasValue) {
            if (!ParseNumber(argv[++i], 0.001, 86400, seconds))
                return Fail("--seconds wants a number from 0.001 to 86400");
        } else if (arg == "--rate" && hasValue) {
            if (!ParseNumber(argv[++i], 8000, 192000, rate))
                return Fail("--rate wants a number from 8000 to 192000");
        } else if (arg == "--out" && hasValue) {
            out = argv[++i];
        } else if (arg.rfind("--", 0) == 0 || !input.empty()) {
            std::fputs(kUsage, stderr);
            return Fail("bad argument: " + arg);
        } else {
            input = arg;
        }
    }
    if (embedded == !input.empty()) {
        std::fputs(kUsage, stderr);
        return Fail("name one song file, or --embedded");
    }
    if (!embedded && !ReadFile(input))
        return Fail("cannot read " + input + ": " + std::strerror(errno));
    Module* song = embedded ? LoadModuleFromMemory(EmbeddedSong, EmbeddedSongSize)
                            : LoadModuleFromMemory(g_file.data(), g_file.size());
    if (song == nullptr)
        return Fail("not a song the player can load: " + (embedded ? std::string("embedded song") : input));

    const int32_t hz = int32_t(rate);
    const int64_t frames = int64_t(seconds * hz + 0.5);
    const bool terminal = isatty(fileno(stderr)) != 0;
    int shown = -1;
    const std::vector<int16_t> pcm = RenderModule(song, hz, frames, [&](double done) {
        const int bar = int(done * 40);
        if (!terminal || bar == shown)
            return;
        shown = bar;
        std::fprintf(stderr, "\r[%-40.*s] %3d%%", bar, "########################################",
                     int(done * 100));
    });
    if (terminal)
        std::fputc('\n', stderr);
    FreeModule(song);
    if (pcm.empty())
        return Fail("rendering failed");
    if (!WriteWav(out, pcm, hz))
        return Fail("cannot write " + out);
    std::printf("%s: %.3f s at %d Hz\n", out.c_str(), double(frames) / hz, hz);
    return 0;
}
