// tinsel-play: plays XM files on the audio device through the same ring and
// mixing thread as the demo, with a status line and a few keys. The terminal
// goes into raw mode while it plays and comes back as it was on every way
// out, Ctrl-C included.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "player/playback.h"
#include "player/format/module.h"
#include "player/player.h"
#include "player/format/song.h"
#include "player/format/stream.h"
#include "tools/cli.h"
#include "tools/render/song_file.h"

namespace {

termios g_savedTerminal{};
bool g_rawTerminal = false;
volatile std::sig_atomic_t g_signal = 0;

void RestoreTerminal() {
    if (g_rawTerminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
        g_rawTerminal = false;
    }
}

void OnSignal(int number) {
    // tcsetattr is safe in a handler: the terminal comes back even if the
    // main loop never sees the flag.
    if (g_rawTerminal)
        tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    g_signal = number;
}

// Keys arrive one by one, without echo; Ctrl-C still interrupts.
void RawTerminal() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &g_savedTerminal) != 0)
        return;
    termios raw = g_savedTerminal;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
        g_rawTerminal = true;
        std::atexit(RestoreTerminal);
    }
}

enum class Key { None, Pause, Previous, Next, NextSong, Quit };

// A key within timeoutMs, arrows read as their escape sequences. Without a
// terminal there are no keys: the songs just play.
Key ReadKey(int timeoutMs) {
    if (!isatty(STDIN_FILENO)) {
        usleep(static_cast<useconds_t>(timeoutMs) * 1000);
        return Key::None;
    }
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, timeoutMs) <= 0)
        return Key::None;
    char c = 0;
    if (read(STDIN_FILENO, &c, 1) != 1)
        return Key::Quit; // standard input closed
    if (c == ' ')
        return Key::Pause;
    if (c == 'n' || c == 'N')
        return Key::NextSong;
    if (c == 'q' || c == 'Q')
        return Key::Quit;
    if (c == '\033') {
        char sequence[2] = {};
        pollfd more{STDIN_FILENO, POLLIN, 0};
        if (poll(&more, 1, 50) > 0 && read(STDIN_FILENO, sequence, 2) == 2 && sequence[0] == '[') {
            if (sequence[1] == 'C')
                return Key::Next;
            if (sequence[1] == 'D')
                return Key::Previous;
        }
    }
    return Key::None;
}

struct Status {
    PlayPosition heard;
    int64_t endFrame;
    bool paused;
    bool finished; // the last block of the song has been heard
};

Status QueryStatus() {
    Status status{};
    ControlPlayback(
        [&status](Player& player) {
            status.heard = HeardPosition();
            status.endFrame = player.endFrame;
            status.paused = player.paused;
            status.finished = player.ended && status.heard.frame >= player.endFrame - g_blockLength;
        },
        false);
    return status;
}

void ShowStatus(const Status& s, const Module& song, int32_t rate) {
    std::printf("\r  order %3d/%d  pattern %3d  row %3d   %s / %s   speed %2d  %3d BPM%s\033[K",
                s.heard.order, song.songLength, s.heard.pattern, s.heard.row,
                FormatTime(s.heard.frame, rate).c_str(), FormatTime(s.endFrame, rate).c_str(), s.heard.speed,
                s.heard.bpm, s.paused ? "  [paused]" : "");
    std::fflush(stdout);
}

enum class After { NextSong, Quit, DeviceStopped, ThreadStuck };

// A device whose play position has not moved for this long (not paused) has
// stopped playing: unplugged, failed or stalled. The song is given up.
constexpr auto kStalled = std::chrono::seconds(3);

struct Mixing {
    Interpolation interpolation = Interpolation::Linear;
    Ramp ramp = Ramp::Rules;
};

After Play(Player& player, const SongFile& file, const std::string& name, int32_t rate,
           const Mixing& mixing) {
    Module& song = *file.module;
    InitPlayer(player, rate);
    const RuleSet rules = SongRules(song, file.rules);
    StartSong(player, &song, rules);
    SetInterpolation(player, mixing.interpolation);
    SetRamp(player, mixing.ramp);
    SetRepeatCount(player, 1);
    std::printf("%s%s%s\n", name.c_str(), song.title[0] == '\0' ? "" : ": ", song.title);
    if (!StartPlayback(&player, &song, rules))
        return After::NextSong;
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    After after = After::NextSong;
    int64_t lastFrame = -1;
    auto lastMove = std::chrono::steady_clock::now();
    for (;;) {
        if (g_signal != 0) {
            after = After::Quit;
            break;
        }
        const Status status = QueryStatus();
        if (terminal)
            ShowStatus(status, song, rate);
        if (status.finished)
            break;
        const auto now = std::chrono::steady_clock::now();
        if (status.paused || status.heard.frame != lastFrame) {
            lastFrame = status.heard.frame;
            lastMove = now;
        } else if (now - lastMove > kStalled) {
            after = After::DeviceStopped;
            break;
        }
        const Key key = ReadKey(100);
        if (key == Key::Quit) {
            after = After::Quit;
            break;
        }
        if (key == Key::NextSong)
            break;
        if (key == Key::Pause) {
            ControlPlayback([](Player& p) { p.paused = !p.paused; }, true);
        } else if (key == Key::Next || key == Key::Previous) {
            const int step = key == Key::Next ? 1 : -1;
            const int order = status.heard.order + step;
            if (order >= 0 && order < (song.songLength > 0 ? song.songLength : 1))
                ControlPlayback([order](Player& p) { SeekTo(p, order, 0); }, true);
        }
    }
    // A mixing thread that never answers still uses the song: it is not freed.
    if (!StopPlayback(&player))
        after = After::ThreadStuck;
    if (terminal)
        std::printf("\n");
    return after;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    int rate = 44100;
    bool forceRules = false;
    Mixing mixing;
    RuleSet rules = RuleSet::Ft2;
    const cli::Command command{
        .tool = "tinsel-play",
        .synopsis = "usage: tinsel-play [--rate HZ] [--rules R] [--interp I] [--ramp R] SONG.xm|SONG.mod...\n"
                    "Plays songs on the audio device, one after another, each once to its end.\n"
                    "Keys: space pause/resume, left/right previous/next order, n next song, q quit.\n",
        .options =
            {
                {.names = "--rate",
                 .value = "HZ",
                 .low = 8000,
                 .high = 192000,
                 .sets = &rate,
                 .help = "frames per second, 8000 to 192000 (default 44100)"},
                {.names = "--rules",
                 .value = "R",
                 .sets = [&](const char* value) { return forceRules = ParseRuleSet(value, &rules); },
                 .wants = "tinsel or ft2",
                 .help = "play by tinsel or ft2 rules (default: tinsel for songs by songc, else ft2)"},
                {.names = "--interp",
                 .value = "I",
                 .sets = [&](const char* value) { return ParseInterpolation(value, &mixing.interpolation); },
                 .wants = "nearest, linear, cubic or sinc",
                 .help = "how voices read between sample entries: nearest, linear (the rule set's own\n"
                         "mixing, the default), cubic (Catmull-Rom) or sinc (windowed sinc of 16 taps,\n"
                         "wider for notes above the sample's rate, so that they do not alias)"},
                {.names = "--ramp",
                 .value = "R",
                 .sets = [&](const char* value) { return ParseRamp(value, &mixing.ramp); },
                 .wants = "rules or off",
                 .help = "rules (the rule set's gain ramps, the default) or off (gain changes at once,\n"
                         "attacks exactly as stored)"},
            },
        .operands = &files,
    };
    if (const std::optional<int> exit = cli::Parse(command, argc, argv))
        return *exit;
    if (files.empty()) {
        cli::PrintHelp(command, stderr);
        std::fprintf(stderr, "tinsel-play: name at least one song file\n");
        return 1;
    }
    // The output refuses to open without stream callbacks; these are never used.
    SetStreamCallbacks(SongOpen, SongClose, SongRead, SongSeek, SongTell);
    if (!OpenAudioDevice(rate)) {
        std::fprintf(stderr, "tinsel-play: no audio device to play on\n");
        return 1;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGHUP, OnSignal);
    RawTerminal();

    auto player = std::make_unique<Player>();
    int failed = 0;
    After stopped = After::NextSong;
    for (const std::string& name : files) {
        SongFile file = LoadSongFile(name);
        if (file.module == nullptr) {
            std::fprintf(stderr, "tinsel-play: %s\n", file.error.c_str());
            ++failed;
            continue;
        }
        if (forceRules) {
            file.rules = rules;
        }
        const After after = Play(*player, file, name, rate, mixing);
        if (after == After::ThreadStuck) {
            stopped = after;
            break;
        }
        FreeModule(file.module);
        if (after == After::DeviceStopped)
            stopped = after;
        if (after != After::NextSong)
            break;
    }
    // Closing waits for the device's own thread, which a device that stopped
    // playing may never end: such a device is left to the end of the process.
    if (stopped == After::NextSong)
        CloseAudioDevice();
    RestoreTerminal();
    if (stopped == After::DeviceStopped) {
        std::fprintf(stderr, "tinsel-play: the audio device stopped playing\n");
        return 1;
    }
    if (stopped == After::ThreadStuck) {
        std::fprintf(stderr, "tinsel-play: the mixing thread does not answer\n");
        return 1;
    }
    if (g_signal != 0)
        return 128 + g_signal;
    return failed == 0 ? 0 : 1;
}
