// tinsel-play on SDL's dummy driver, driven through a pseudo-terminal as a
// user's keyboard would: it plays, pauses, quits on q or Ctrl-C, and leaves
// the terminal as it found it.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "player/song.h"

namespace {

class PlayTool : public ::testing::Test {
protected:
    int terminal = -1;
    pid_t child = -1;
    std::string seen;

    void TearDown() override {
        if (child > 0) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        if (terminal >= 0)
            close(terminal);
    }

    static std::string SongFile() {
        const std::string path = testing::TempDir() + "play_tool_song.xm";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(EmbeddedSong), std::streamsize(EmbeddedSongSize));
        return path;
    }

    void Start(const char* driver, const std::string& song) {
        child = forkpty(&terminal, nullptr, nullptr, nullptr);
        ASSERT_GE(child, 0);
        if (child == 0) {
            setenv("SDL_AUDIODRIVER", driver, 1);
            execl(TINSEL_PLAY_TOOL, "tinsel-play", song.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }

    // Reads what the program writes until text appears; false after ten seconds.
    bool WaitFor(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (seen.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            pollfd in{terminal, POLLIN, 0};
            if (poll(&in, 1, 100) > 0) {
                char chunk[512];
                const ssize_t n = read(terminal, chunk, sizeof chunk);
                if (n <= 0)
                    return false;
                seen.append(chunk, size_t(n));
            }
        }
        return true;
    }

    void Drain() {
        pollfd in{terminal, POLLIN, 0};
        char chunk[512];
        ssize_t n;
        while (poll(&in, 1, 0) > 0 && (n = read(terminal, chunk, sizeof chunk)) > 0)
            seen.append(chunk, size_t(n));
    }

    // The exit status, or -1 when the program is still running after ten seconds.
    int WaitForExit() {
        for (int i = 0; i < 1000; ++i) {
            int status = 0;
            if (waitpid(child, &status, WNOHANG) == child) {
                child = -1;
                return status;
            }
            Drain(); // so the program never blocks on a full terminal
            usleep(10000);
        }
        return -1;
    }

    bool TerminalIsCooked() {
        termios now{};
        return tcgetattr(terminal, &now) == 0 && (now.c_lflag & ICANON) && (now.c_lflag & ECHO);
    }
};

TEST_F(PlayTool, PlaysMovesPausesAndQuitsOnQ) {
    Start("dummy", SongFile());
    ASSERT_TRUE(WaitFor("Tinselbay")) << seen;
    ASSERT_TRUE(WaitFor("order   0/14")) << seen;
    ASSERT_EQ(write(terminal, "\033[C", 3), 3); // right: the next order
    EXPECT_TRUE(WaitFor("order   1/14")) << seen;
    ASSERT_EQ(write(terminal, " ", 1), 1);
    EXPECT_TRUE(WaitFor("[paused]")) << seen;
    ASSERT_EQ(write(terminal, "q", 1), 1);
    const int status = WaitForExit();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(TerminalIsCooked());
}

TEST_F(PlayTool, CtrlCEndsItAndTheTerminalComesBack) {
    Start("dummy", SongFile());
    ASSERT_TRUE(WaitFor("order")) << seen;
    ASSERT_EQ(write(terminal, "\x03", 1), 1);
    const int status = WaitForExit();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
    EXPECT_TRUE(TerminalIsCooked());
}

TEST_F(PlayTool, WithoutADeviceOneLineAndFailure) {
    Start("no-such-driver", SongFile());
    EXPECT_TRUE(WaitFor("tinsel-play: no audio device to play on\r\n")) << seen;
    const int status = WaitForExit();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_NE(WEXITSTATUS(status), 0);
}

TEST_F(PlayTool, ADeviceThatStopsPlayingEndsItWithOneLine) {
    // The disk driver waits this long between callbacks: after its first
    // chunk the play position stands still, as an unplugged device's does.
    setenv("SDL_DISKAUDIODELAY", "100000", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    Start("disk", SongFile());
    unsetenv("SDL_DISKAUDIODELAY");
    unsetenv("SDL_DISKAUDIOFILE");
    EXPECT_TRUE(WaitFor("tinsel-play: the audio device stopped playing")) << seen;
    const int status = WaitForExit();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_TRUE(TerminalIsCooked());
}

} // namespace
