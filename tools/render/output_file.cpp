#include "tools/render/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Temporary files a signal handler removes: fixed slots, so that the handler
// reads no memory that another thread may free.
constexpr int kSlots = 64;
constexpr size_t kPathBytes = 4096;
enum : int { kFree, kFilling, kActive };
std::atomic<int> g_slotState[kSlots];
char g_slotPath[kSlots][kPathBytes];

int Register(const std::string& path) {
    if (path.size() >= kPathBytes)
        return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (g_slotState[i].compare_exchange_strong(expected, kFilling)) {
            std::memcpy(g_slotPath[i], path.c_str(), path.size() + 1);
            g_slotState[i].store(kActive);
            return i;
        }
    }
    return -1; // more outputs open than slots: only a signal would leave this one behind
}

void Unregister(int slot) {
    if (slot >= 0)
        g_slotState[slot].store(kFree);
}

void RemoveAndEnd(int signal) {
    for (int i = 0; i < kSlots; ++i) {
        if (g_slotState[i].load() == kActive)
            unlink(g_slotPath[i]);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// A new file of a name no other run uses at the moment, beside path: the
// file's permissions are the ones opening path itself would give.
int CreateBeside(const std::string& folder, const std::string& name, std::string* temporary) {
    static std::atomic<unsigned> count{0};
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        *temporary = folder + "." + name + "." + std::to_string(getpid()) + "-" + std::to_string(count++);
        fd = open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    return fd;
}

std::string Reason(int error) {
    return std::strerror(error);
}

} // namespace

bool OutputFile::Open(const std::string& path, std::string* error) {
    Abandon();
    m_path = path;
    if (path == "-") {
        m_stream = stdout;
        return true;
    }
    struct stat existing {};
    const bool exists = lstat(path.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        m_stream = std::fopen(path.c_str(), "wb");
        if (m_stream == nullptr) {
            *error = "cannot write " + path + ": " + Reason(errno);
            return false;
        }
        return true;
    }
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary;
    const int fd = CreateBeside(folder, name, &temporary);
    if (fd < 0) {
        *error = "cannot write " + path + ": " + Reason(errno);
        return false;
    }
    // A replaced file keeps its permissions.
    if (exists)
        fchmod(fd, existing.st_mode & 07777);
    m_stream = fdopen(fd, "wb");
    if (m_stream == nullptr) {
        *error = "cannot write " + path + ": " + Reason(errno);
        close(fd);
        unlink(temporary.c_str());
        return false;
    }
    m_temporary = temporary;
    m_slot = Register(m_temporary);
    return true;
}

bool OutputFile::Commit(std::string* error) {
    if (m_stream == nullptr)
        return false;
    errno = 0;
    const bool closed = m_stream == stdout ? std::fflush(stdout) == 0 : std::fclose(m_stream) == 0;
    m_stream = nullptr;
    int failure = closed ? 0 : errno;
    if (closed && !m_temporary.empty() && std::rename(m_temporary.c_str(), m_path.c_str()) != 0)
        failure = errno != 0 ? errno : EIO;
    if (!closed || failure != 0) {
        if (!m_temporary.empty())
            unlink(m_temporary.c_str());
        *error = "cannot write " + (m_path == "-" ? std::string("standard output") : m_path) +
                 (failure != 0 ? ": " + Reason(failure) : "");
    }
    Unregister(m_slot);
    m_slot = -1;
    m_temporary.clear();
    return closed && failure == 0;
}

void OutputFile::Abandon() {
    if (m_stream == nullptr)
        return;
    if (m_stream != stdout)
        std::fclose(m_stream);
    m_stream = nullptr;
    if (!m_temporary.empty())
        unlink(m_temporary.c_str());
    Unregister(m_slot);
    m_slot = -1;
    m_temporary.clear();
}

void RemoveTemporaryFilesOnSignals() {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = RemoveAndEnd;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}
