// tinsel-play on SDL's drivers that need no sound hardware, driven through a
// pseudo-terminal as a user's keyboard would: it plays, pauses, quits on q or
// Ctrl-C, fails in one line without a device, and leaves the terminal cooked.
// Its bad choices are in the render tool's table of failures.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "player/format/song.h"
#include "tests/common/test_util.h"

namespace {

struct Terminal {
    int fd = -1;
    pid_t child = -1;
    std::string seen;

    ~Terminal() {
        if (child > 0) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        if (fd >= 0)
            close(fd);
    }
    // Reads what the program writes for up to ten seconds, until text appears
    // (or, when waiting for the exit, until the program has ended).
    bool WaitFor(const std::string& text, int* status = nullptr) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (status != nullptr && waitpid(child, status, WNOHANG) == child) {
                child = -1;
                return true;
            }
            if (status == nullptr && seen.find(text) != std::string::npos)
                return true;
            pollfd in{fd, POLLIN, 0};
            char chunk[512];
            const ssize_t n = poll(&in, 1, 10) > 0 ? read(fd, chunk, sizeof chunk) : 0;
            if (n < 0 && !status)
                return false;
            seen.append(chunk, size_t(std::max<ssize_t>(n, 0)));
        }
        return false;
    }
};

TEST(PlayTool, KeysDevicesAndExits) {
    const std::string song = testing::TempDir() + "play_tool_song.xm";
    testutil::WriteFile(song, std::string(reinterpret_cast<const char*>(EmbeddedSong), EmbeddedSongSize));
    const struct {
        const char* driver;
        std::vector<std::pair<std::string, std::string>> keysThenText;
        int exitCode;
    } cases[] = {
        {"dummy",
         {{"", "Tinselbay"}, {"", "order   0/14"}, {"\033[C", "order   1/14"}, {" ", "[paused]"}, {"q", ""}},
         0},
        {"dummy", {{"", "order"}, {"\x03", ""}}, 128 + SIGINT},
        {"no-such-driver", {{"", "tinsel-play: no audio device to play on\r\n"}}, 1},
        // The disk driver waits this long between callbacks: after its first chunk
        // the play position stands still, as an unplugged device's does.
        {"disk", {{"", "tinsel-play: the audio device stopped playing"}}, 1},
    };
    setenv("SDL_DISKAUDIODELAY", "100000", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    for (const auto& c : cases) {
        Terminal t;
        t.child = forkpty(&t.fd, nullptr, nullptr, nullptr);
        ASSERT_GE(t.child, 0);
        if (t.child == 0) {
            setenv("SDL_AUDIODRIVER", c.driver, 1);
            execl(TINSEL_PLAY_TOOL, "tinsel-play", song.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (const auto& [keys, text] : c.keysThenText) {
            ASSERT_EQ(write(t.fd, keys.data(), keys.size()), ssize_t(keys.size()));
            ASSERT_TRUE(t.WaitFor(text)) << c.driver << " " << text << "\n" << t.seen;
        }
        int status = -1;
        ASSERT_TRUE(t.WaitFor("", &status)) << c.driver << " still runs";
        ASSERT_TRUE(WIFEXITED(status)) << c.driver << " " << status;
        EXPECT_EQ(WEXITSTATUS(status), c.exitCode) << c.driver;
        termios now{};
        EXPECT_TRUE(tcgetattr(t.fd, &now) == 0 && (now.c_lflag & ICANON) && (now.c_lflag & ECHO)) << c.driver;
    }
    unsetenv("SDL_DISKAUDIODELAY");
    unsetenv("SDL_DISKAUDIOFILE");
}

} // namespace
