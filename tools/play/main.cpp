// tinsel-play: plays XM files on the audio device through the same ring and
// mixing thread as the demo, with a tracker view (or a status line) and a few
// keys. The terminal goes into raw mode, and the view onto the alternate
// screen, while it plays; both come back as they were on every way out,
// Ctrl-C and Ctrl-Z included.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
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
#include "tools/play/tracker_view.h"
#include "tools/render/song_file.h"
#include "tools/render/sound_options.h"

namespace {

termios g_savedTerminal{};
bool g_rawTerminal = false;
volatile std::sig_atomic_t g_signal = 0;
volatile std::sig_atomic_t g_onScreen = 0; // the view is on the alternate screen
volatile std::sig_atomic_t g_resumed = 0;  // back from Ctrl-Z: terminal and view to set up again
volatile std::sig_atomic_t g_resized = 0;

constexpr char kEnterScreen[] = "\033[?1049h\033[?25l\033[2J";
constexpr char kLeaveScreen[] = "\033[0m\033[?25h\033[?1049l";

// write() alone: the handlers use these too.
void WriteAll(const char* text, size_t size) {
    while (size > 0) {
        const ssize_t n = write(STDOUT_FILENO, text, size);
        if (n <= 0)
            return;
        text += n;
        size -= size_t(n);
    }
}

void LeaveScreen() {
    if (g_onScreen) {
        WriteAll(kLeaveScreen, sizeof kLeaveScreen - 1);
        g_onScreen = 0;
    }
}

void EnterScreen() {
    if (!g_onScreen) {
        std::fflush(stdout);
        WriteAll(kEnterScreen, sizeof kEnterScreen - 1);
        g_onScreen = 1;
    }
}

void RestoreTerminal() {
    LeaveScreen();
    if (g_rawTerminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
        g_rawTerminal = false;
    }
}

void OnSignal(int number) {
    // Only async-signal-safe calls: the terminal comes back even if the main
    // loop never sees the flag. A second signal ends the process at once.
    if (g_rawTerminal)
        tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    if (g_signal != 0) {
        LeaveScreen();
        _exit(128 + number);
    }
    g_signal = number;
}

// Ctrl-Z: the shell gets its terminal back as it was, and the view returns with SIGCONT.
void OnStop(int) {
    const int saved = errno;
    LeaveScreen();
    if (g_rawTerminal)
        tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    g_resumed = 1;
    std::signal(SIGTSTP, SIG_DFL);
    raise(SIGTSTP);
    errno = saved;
}

void OnContinue(int) {
    if (g_resumed == 0)
        g_resumed = 1;
}

void OnResize(int) {
    g_resized = 1;
}

// Keys arrive one by one, without echo; Ctrl-C still interrupts.
bool RawTerminal() {
    if (!isatty(STDIN_FILENO))
        return false;
    if (!g_rawTerminal && tcgetattr(STDIN_FILENO, &g_savedTerminal) != 0)
        return false;
    termios raw = g_savedTerminal;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0)
        return false;
    g_rawTerminal = true;
    return true;
}

// The terminal's size, or 0 x 0 where standard output is none.
void TerminalSize(int* columns, int* rows) {
    winsize size{};
    const bool known = isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0;
    *columns = known ? size.ws_col : 0;
    *rows = known ? size.ws_row : 0;
}

// Lines for standard error while the view covers the terminal: they are
// shown once it has left.
std::vector<std::string> g_deferred;

void Report(const std::string& line) {
    if (g_onScreen)
        g_deferred.push_back(line);
    else
        std::fprintf(stderr, "%s\n", line.c_str());
}

enum class Key {
    None,
    Pause,
    Previous,
    Next,
    NextSong,
    Quit,
    NextView,
    View1,
    View2,
    View3,
    SubsongDown,
    SubsongUp,
    StereoDown,
    StereoUp,
    ScrollBack,
    ScrollOn
};

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
    switch (c) {
    case '\t':
    case 'v':
        return Key::NextView;
    case '1':
        return Key::View1;
    case '2':
        return Key::View2;
    case '3':
        return Key::View3;
    case '-':
    case '_':
        return Key::SubsongDown;
    case '+':
    case '=':
        return Key::SubsongUp;
    case '[':
        return Key::StereoDown;
    case ']':
        return Key::StereoUp;
    case '<':
    case ',':
        return Key::ScrollBack;
    case '>':
    case '.':
        return Key::ScrollOn;
    default:
        break;
    }
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
    int32_t subsong;
    int32_t separation;
    std::vector<ChannelState> channels; // as heard; only for the view
};

Status QueryStatus(bool channels) {
    Status status{};
    ControlPlayback(
        [&status, channels](Player& player) {
            status.heard = HeardPosition();
            status.endFrame = player.endFrame;
            status.paused = player.paused;
            status.finished = player.ended && status.heard.frame >= player.endFrame - g_blockLength;
            status.subsong = CurrentSubsong(player);
            status.separation = player.separation;
            if (channels)
                status.channels = HeardChannels();
        },
        false);
    return status;
}

void ShowStatus(const Status& s, const Module& song, int32_t rate, int32_t subsongs) {
    std::printf(
        "\r  order %3d/%d  pattern %3d  row %3d   %s / %s   speed %2d  %3d BPM%s%s\033[K", s.heard.order,
        song.songLength, s.heard.pattern, s.heard.row, FormatTime(s.heard.frame, rate).c_str(),
        FormatTime(s.endFrame, rate).c_str(), s.heard.speed, s.heard.bpm,
        subsongs > 1 ? ("   subsong " + std::to_string(s.subsong) + "/" + std::to_string(subsongs)).c_str()
                     : "",
        s.paused ? "  [paused]" : "");
    std::fflush(stdout);
}

enum class After { NextSong, Failed, Quit, DeviceStopped, ThreadStuck };

// A device whose play position has not moved for this long (not paused) has
// stopped playing: unplugged, failed or stalled. The song is given up.
constexpr auto kStalled = std::chrono::seconds(3);

struct Mixing {
    Interpolation interpolation = Interpolation::Linear;
    Ramp ramp = Ramp::Rules;
    int subsong = 0;
    int separation = 100;
    double tempo = 1, pitch = 1;
    bool plain = false; // the status line even on a terminal that holds the view
};

// The view's frames at most this often; keys are read between them.
constexpr auto kFrameTime = std::chrono::milliseconds(33);

// Where the view goes: on a terminal of 80 x 24 or more, unless --plain.
bool ViewFits(const Mixing& mixing) {
    int columns = 0, rows = 0;
    TerminalSize(&columns, &rows);
    return !mixing.plain && columns >= kViewColumns && rows >= kViewRows;
}

After Play(Player& player, const SongFile& file, const std::string& name, int32_t rate,
           const Mixing& mixing) {
    Module& song = *file.module;
    InitPlayer(player, rate);
    const RuleSet rules = SongRules(song, file.rules);
    StartSong(player, &song, rules);
    SetInterpolation(player, mixing.interpolation);
    SetRamp(player, mixing.ramp);
    SetRepeatCount(player, 1);
    SetStereoSeparation(player, mixing.separation);
    SetTempoFactor(player, mixing.tempo);
    SetPitchFactor(player, mixing.pitch);
    // Found once: the keys select them on the mixing thread, between two blocks.
    const std::vector<Subsong> found = FindSubsongs(song, rate, rules);
    const int32_t subsongs = int32_t(found.size());
    if (mixing.subsong >= subsongs) {
        Report("tinsel-play: " + SubsongRefusal(song, rate, rules, name));
        return After::Failed;
    }
    if (!g_onScreen)
        std::printf("%s%s%s\n", name.c_str(), song.title[0] == '\0' ? "" : ": ", song.title);
    if (!StartPlayback(&player, &song, rules))
        return After::NextSong;
    if (mixing.subsong != 0)
        ControlPlayback([&](Player& p) { SelectSubsong(p, found, mixing.subsong); }, true);
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    bool view = terminal && ViewFits(mixing);
    Screen screen;
    ViewPlace place;
    After after = After::NextSong;
    int64_t lastFrame = -1;
    auto lastMove = std::chrono::steady_clock::now();
    for (;;) {
        if (g_signal != 0) {
            after = After::Quit;
            break;
        }
        if (g_resumed != 0 || g_resized != 0) {
            // Back from Ctrl-Z, or a new size: raw mode again, and the view if it fits.
            if (g_resumed != 0)
                RawTerminal();
            std::signal(SIGTSTP, OnStop);
            g_resumed = 0;
            g_resized = 0;
            view = terminal && ViewFits(mixing);
            if (!view)
                LeaveScreen();
            screen.Invalidate();
        }
        const Status status = QueryStatus(view);
        if (view) {
            EnterScreen();
            const ViewFrame frame{
                name,           &song,    status.heard,      status.endFrame, rate,         status.paused,
                status.subsong, subsongs, status.separation, mixing.tempo,    mixing.pitch, status.channels};
            int columns = 0, rows = 0;
            TerminalSize(&columns, &rows);
            const std::string out = screen.Update(DrawView(frame, place, columns, rows));
            WriteAll(out.data(), out.size());
        } else if (terminal) {
            ShowStatus(status, song, rate, subsongs);
        }
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
        const Key key = ReadKey(view ? int(kFrameTime.count()) : 100);
        if (key == Key::Quit) {
            after = After::Quit;
            break;
        }
        if (key == Key::NextSong)
            break;
        switch (key) {
        case Key::Pause:
            ControlPlayback([](Player& p) { p.paused = !p.paused; }, true);
            break;
        case Key::Next:
        case Key::Previous: {
            const int order = status.heard.order + (key == Key::Next ? 1 : -1);
            if (order >= 0 && order < (song.songLength > 0 ? song.songLength : 1))
                ControlPlayback([order](Player& p) { SeekTo(p, order, 0); }, true);
            break;
        }
        case Key::SubsongDown:
        case Key::SubsongUp: {
            const int32_t to = status.subsong + (key == Key::SubsongUp ? 1 : -1);
            if (to >= 0 && to < subsongs)
                ControlPlayback([&found, to](Player& p) { SelectSubsong(p, found, to); }, true);
            break;
        }
        case Key::StereoDown:
        case Key::StereoUp: {
            const int32_t to = std::clamp(status.separation + (key == Key::StereoUp ? 10 : -10), 0, 200);
            ControlPlayback([to](Player& p) { SetStereoSeparation(p, to); }, true);
            break;
        }
        case Key::NextView:
            place = {View((int(place.view) + 1) % kViewCount), 0};
            break;
        case Key::View1:
        case Key::View2:
        case Key::View3:
            place = {View(int(key) - int(Key::View1)), 0};
            break;
        case Key::ScrollBack:
        case Key::ScrollOn:
            place.first += key == Key::ScrollOn ? 1 : -1;
            break;
        default:
            break;
        }
    }
    // A mixing thread that never answers still uses the song: it is not freed.
    if (!StopPlayback(&player))
        after = After::ThreadStuck;
    if (terminal && !g_onScreen)
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
        .synopsis = "usage: tinsel-play [options] SONG.xm|SONG.mod...\n"
                    "Plays songs on the audio device, one after another, each once to its end, with a\n"
                    "tracker view on a terminal of 80 x 24 or more (else a status line).\n"
                    "Keys: space pause/resume, left/right previous/next order, +/- next/previous\n"
                    "subsong, [/] stereo separation down/up by 10 %, Tab (or 1, 2, 3) the pattern,\n"
                    "channels or instruments view, </> scroll it, n next song, q quit.\n",
        .options =
            {
                sound_options::Rate(&rate, false),
                sound_options::Rules(&forceRules, &rules, false),
                sound_options::Interpolation(&mixing.interpolation, false),
                sound_options::Ramp(&mixing.ramp, false),
                {.names = "--subsong",
                 .value = "N",
                 .low = 0,
                 .high = 255,
                 .sets = &mixing.subsong,
                 .wants = "a subsong's number from 0 to 255",
                 .help = "play the songs' tune N, from 0 (default 0: the one from the first order)"},
                sound_options::Stereo(&mixing.separation, false),
                sound_options::Tempo(&mixing.tempo, false),
                sound_options::Pitch(&mixing.pitch, false),
                {.names = "--plain",
                 .sets = &mixing.plain,
                 .help = "the status line instead of the tracker view"},
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
    std::signal(SIGTSTP, OnStop);
    std::signal(SIGCONT, OnContinue);
    std::signal(SIGWINCH, OnResize);
    if (RawTerminal())
        std::atexit(RestoreTerminal);
    RecordHeardChannels(true);

    auto player = std::make_unique<Player>();
    int failed = 0;
    After stopped = After::NextSong;
    for (const std::string& name : files) {
        SongFile file = LoadSongFile(name);
        if (file.module == nullptr) {
            Report("tinsel-play: " + file.error);
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
        if (after == After::Failed) {
            ++failed;
            continue;
        }
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
    for (const std::string& line : g_deferred)
        std::fprintf(stderr, "%s\n", line.c_str());
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
