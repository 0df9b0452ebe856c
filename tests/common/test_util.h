// What many tests need: a scratch directory, whole files in and out, a
// program run under a time limit, a bounded wait, and a hash that pins bytes.
#pragma once
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace testutil {

// A fresh directory made current for the object's life, so that searches of
// the current directory see only what the test writes there.
class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/tinsel-test-XXXXXX";
        path = mkdtemp(pattern);
        std::filesystem::current_path(path);
    }
    ~ScratchDir() {
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(path);
    }
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::path path;
};

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes bytes (any container of chars or bytes), making the directories on the way.
template <typename Bytes> void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

struct ToolRun {
    int status; // the exit code; -1 when killed or not run, 124 when out of time
    std::string output;
};

// Runs a shell command line for at most a minute. Its output is the standard
// error (standard output dropped), or the standard output when asked for.
inline ToolRun RunTool(const std::string& command, bool keepStdout = false) {
    const std::string line =
        "timeout -k 5 60 " + command + (keepStdout ? " 2>/dev/null" : " 2>&1 >/dev/null");
    ToolRun run{-1, {}};
    std::FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        run.output.append(chunk, n);
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

// Polls done for up to ten seconds; returns its last answer.
template <typename Done> bool WaitUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

inline uint64_t Fnv1a(const void* bytes, size_t size, uint64_t hash = 0xcbf29ce484222325u) {
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ static_cast<const uint8_t*>(bytes)[i]) * 0x100000001b3u;
    return hash;
}

} // namespace testutil
