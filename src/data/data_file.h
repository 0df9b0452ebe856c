// Reader of one data file, found in the program's own archive, on disk, or in
// an archive file of the current directory; a bounded stream over its bytes.
#pragma once
#include <cstdint>
#include <cstdio>

class CDataFile {
public:
    static constexpr int kNameSize = 256;

    CDataFile();
    ~CDataFile();
    CDataFile(const CDataFile&) = delete;
    CDataFile& operator=(const CDataFile&) = delete;

    // Looks in the program's own archive, then on disk, then in "*.Trovake" files.
    bool Open(const char* path);
    // As Open, with the program file given instead of the running executable.
    bool Open(const char* path, const char* programFile);
    void Close();

    // Whole elements read, or -1; nothing is read when the request does not fit.
    int Read(void* buffer, int elementSize, int count);
    int Tell() const;
    bool IsEOF() const;
    // Origin 0: from the start, 1: from the current position, 2: back from the end.
    bool Seek(int offset, int origin);
    int Size() const;

private:
    bool FindEntry(const char* component);
    bool FindAllComponents();
    bool OpenProgramArchive(const char* programFile);
    bool OpenArchiveFile(const char* archivePath);
    // Looks for the name inside the archive at [begin, end) of the open file;
    // on failure closes the file. A range with begin < 0 or end < begin fails.
    bool SearchArchive(int64_t begin, int64_t end);

    FILE* file;
    int32_t base;
    int32_t size;
    char name[kNameSize];
};
