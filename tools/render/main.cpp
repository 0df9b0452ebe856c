// tinsel-render: plays a song offline through the player's block path and
// streams it to a WAV file or to standard output.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "player/format/module.h"
#include "player/player.h"
#include "player/format/song.h"
#include "tools/render/render.h"
#include "tools/render/song_file.h"
#include "tools/cli.h"

namespace {

const char kUsage[] =
    "usage: tinsel-render [options] (SONG.xm | --embedded)\n"
    "Renders a song through the player into a stereo WAV file, from its start to its end.\n"
    "  -o, --out FILE   output file, - for standard output (default: the song's name with .wav)\n"
    "  --embedded       the song built into the demo instead of a file\n"
    "  --loops N        passes through the song, the later ones from its restart position (default 1);\n"
    "                   0 renders until --seconds\n"
    "  --seconds S      render at most S seconds\n"
    "  --fade S         fade the last S seconds out\n"
    "  --rate HZ        frames per second, 8000 to 192000 (default 44100)\n"
    "  --float          32-bit float samples instead of 16-bit\n"
    "  --mute LIST      silence these channels, counted from 0, e.g. 0,2-4\n"
    "  --solo LIST      silence every channel but these\n"
    "  --info           print what the song holds and how long it plays, and render nothing\n"
    "  --rules R        play by tinsel or ft2 rules (default: tinsel for songs by songc, else ft2)\n"
    "  -q, --quiet      no progress bar and no summary\n"
    "  -h, --help       this text\n";

int Fail(const std::string& message) {
    return cli::Fail("tinsel-render", message);
}

using cli::ParseNumber;

// The name of the song file with its extension replaced by .wav, in the current directory.
std::string DefaultOutput(const std::string& input) {
    std::string name = input.substr(input.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name + ".wav";
}

void ShowProgress(int64_t done, int64_t total, int32_t rate) {
    const int width = 30;
    const int bar = total > 0 ? int(done * width / total) : width;
    std::fprintf(stderr, "\r[%-*.*s] %s / %s ", width, bar, "##############################",
                 FormatTime(done, rate).c_str(), FormatTime(total, rate).c_str());
}

} // namespace

int main(int argc, char** argv) {
    std::string input, out;
    bool embedded = false, info = false, quiet = false, haveMute = false, haveSolo = false;
    double loops = 1, seconds = 0, fade = 0, rate = 44100;
    RenderSettings settings;
    uint32_t mute = 0, solo = 0;
    bool forceRules = false;
    RuleSet rules = RuleSet::Ft2;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        const auto needs = [&](const char* what) {
            if (value == nullptr)
                return Fail(arg + " needs " + what);
            ++i;
            return 0;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--embedded") {
            embedded = true;
        } else if (arg == "--info") {
            info = true;
        } else if (arg == "--quiet" || arg == "-q") {
            quiet = true;
        } else if (arg == "--float") {
            settings.format = SampleFormat::Float32;
        } else if (arg == "-o" || arg == "--out") {
            if (needs("a file name, or - for standard output"))
                return 1;
            out = value;
        } else if (arg == "--loops") {
            if (needs("a count") || !ParseNumber(value, 0, 1000, loops) || loops != int(loops))
                return Fail("--loops wants a whole number from 0 to 1000");
        } else if (arg == "--seconds") {
            if (needs("a number") || !ParseNumber(value, 0.001, 86400, seconds))
                return Fail("--seconds wants a number from 0.001 to 86400");
        } else if (arg == "--fade") {
            if (needs("a number") || !ParseNumber(value, 0, 86400, fade))
                return Fail("--fade wants a number of seconds from 0 to 86400");
        } else if (arg == "--rate") {
            if (needs("a number") || !ParseNumber(value, 8000, 192000, rate) || rate != int(rate))
                return Fail("--rate wants a whole number from 8000 to 192000");
        } else if (arg == "--rules") {
            if (needs("tinsel or ft2") || !ParseRuleSet(value, &rules))
                return Fail("--rules wants tinsel or ft2");
            forceRules = true;
        } else if (arg == "--mute" || arg == "--solo") {
            uint32_t& mask = arg == "--mute" ? mute : solo;
            if (needs("a list of channels") || !ParseChannelList(value, &mask))
                return Fail(arg + " wants channels from 0 to 31, such as 0,2-4");
            (arg == "--mute" ? haveMute : haveSolo) = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fputs(kUsage, stderr);
            return Fail("unknown option " + arg);
        } else if (!input.empty()) {
            std::fputs(kUsage, stderr);
            return Fail("one song at a time: " + input + " and " + arg);
        } else {
            input = arg;
        }
    }
    if (embedded == !input.empty()) {
        std::fputs(kUsage, stderr);
        return Fail("name one song file, or --embedded");
    }
    if (loops == 0 && seconds == 0)
        return Fail("--loops 0 renders forever: give --seconds too");

    const SongFile file =
        embedded ? LoadSongImage(EmbeddedSong, EmbeddedSongSize, "the embedded song") : LoadSongFile(input);
    if (file.module == nullptr)
        return Fail(file.error);
    Module* song = file.module;
    if (forceRules)
        ForceRules(*song, rules);
    settings.rate = int32_t(rate);
    settings.loops = int32_t(loops);
    settings.seconds = seconds;
    settings.fade = fade;
    settings.mutedChannels = (haveMute ? mute : 0) | (haveSolo ? ~solo : 0);
    if (info) {
        std::fputs(SongInfo(file, settings.rate).c_str(), stdout);
        FreeModule(song);
        return 0;
    }

    const int64_t total = RenderLength(*song, settings);
    settings.frames = total; // the walk through the song is not repeated
    if (WavHeader(settings.rate, settings.format, total).empty()) {
        FreeModule(song);
        return Fail("too long for a WAV file (4 GB): render fewer seconds or at a lower rate");
    }
    if (out.empty())
        out = embedded ? "tinselbay.wav" : DefaultOutput(input);
    const bool toStdout = out == "-";
    if (toStdout && isatty(fileno(stdout))) {
        FreeModule(song);
        return Fail("standard output is a terminal: redirect it, or name a file with -o");
    }
    // Only a file this run creates is removed after a failure, never a device or an older file.
    struct stat before {};
    const bool created = !toStdout && stat(out.c_str(), &before) != 0;
    std::FILE* output = toStdout ? stdout : std::fopen(out.c_str(), "wb");
    if (output == nullptr) {
        const std::string reason = std::strerror(errno);
        FreeModule(song);
        return Fail("cannot write " + out + ": " + reason);
    }
    // RenderWav writes chunks of about 256 KB itself: a stream buffer would only copy them.
    std::setvbuf(output, nullptr, _IONBF, 0);
    const bool bar = !quiet && isatty(fileno(stderr)) != 0;
    int64_t shownAt = -1;
    const bool ok = RenderWav(song, settings, output, [&](int64_t done, int64_t total) {
        // About ten updates a second of song; more would only cost time.
        if (!bar || (done < total && done - shownAt < settings.rate / 10))
            return;
        shownAt = done;
        ShowProgress(done, total, settings.rate);
    });
    FreeModule(song);
    if (bar)
        std::fputc('\n', stderr);
    const bool closed = toStdout ? std::fflush(stdout) == 0 : std::fclose(output) == 0;
    if (!ok || !closed) {
        const int error = errno;
        if (created)
            std::remove(out.c_str());
        errno = error;
        return Fail("cannot write " + out + (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
    }
    if (!quiet)
        std::fprintf(stderr, "%s: %s at %d Hz, %s\n", toStdout ? "standard output" : out.c_str(),
                     FormatTime(total, settings.rate).c_str(), settings.rate,
                     settings.format == SampleFormat::Float32 ? "32-bit float" : "16-bit");
    return 0;
}
