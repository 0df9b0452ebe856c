// An output file written under a temporary name in its own folder and renamed
// into place once complete: a failed, interrupted or killed render leaves no
// half-written file, and an older file of the name stays whole until then.
#pragma once

#include <cstdio>
#include <string>

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { Abandon(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens path for writing: "-" is standard output, and a path that names
    // something other than a plain file (a device, a pipe, a link) is written
    // in place. False with the reason in error.
    bool Open(const std::string& path, std::string* error);
    std::FILE* Stream() const { return m_stream; }
    // Closes the file and puts it in place; false with the reason in error,
    // the temporary file removed.
    bool Commit(std::string* error);
    // Closes the file and removes what this run wrote of it.
    void Abandon();

private:
    std::FILE* m_stream = nullptr;
    std::string m_path;
    std::string m_temporary; // empty: written in place
    int m_slot = -1;         // in the list removed on a signal
};

// Makes SIGINT, SIGTERM, SIGHUP and SIGPIPE remove the temporary files of
// outputs still open before the process ends as the signal would end it.
// Signals ignored when the program started stay ignored.
void RemoveTemporaryFilesOnSignals();
