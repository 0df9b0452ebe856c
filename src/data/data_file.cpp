#include "data/data_file.h"

#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "data/archive_format.h"
#include "platform/files.h"

namespace {

// 64-bit stream positions, so that lengths past 2 GiB are seen and refused.
int64_t TellAbsolute(FILE* f) {
#ifdef _WIN32
    return _ftelli64(f);
#else
    return ftello(f);
#endif
}

bool SeekAbsolute(FILE* f, int64_t position, int origin) {
#ifdef _WIN32
    return _fseeki64(f, position, origin) == 0;
#else
    return fseeko(f, off_t(position), origin) == 0;
#endif
}

// Length of the whole stream, or -1 when unknown or too large for a 32-bit size.
int64_t StreamLength(FILE* f) {
    if (!SeekAbsolute(f, 0, SEEK_END))
        return -1;
    int64_t length = TellAbsolute(f);
    if (length < 0 || length > INT32_MAX)
        return -1;
    return length;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(const char* a, size_t aLength, const char* b) {
    size_t bLength = std::strlen(b);
    if (aLength != bLength)
        return false;
    for (size_t i = 0; i < aLength; ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

// The non-empty runs between slashes, as strtok("/") yields them, without its global state.
std::vector<std::string> SplitPath(const char* path) {
    std::vector<std::string> components;
    const char* p = path;
    while (*p) {
        while (*p == '/')
            ++p;
        const char* start = p;
        while (*p && *p != '/')
            ++p;
        if (p > start)
            components.emplace_back(start, size_t(p - start));
    }
    return components;
}

} // namespace

CDataFile::CDataFile() : file(nullptr), base(0), size(0), name{} {}

CDataFile::~CDataFile() {
    Close();
}

bool CDataFile::Open(const char* path) {
    return Open(path, platform::OwnExecutablePath().c_str());
}

bool CDataFile::Open(const char* path, const char* programFile) {
    if (file || !path || std::strlen(path) >= sizeof(name))
        return false;
    std::strcpy(name, path);

    if (programFile && *programFile && OpenProgramArchive(programFile))
        return true;

    struct stat info;
    if (stat(name, &info) == 0) {
        // A directory cannot be opened as a file; the search ends here as the path was found.
        if (!S_ISREG(info.st_mode)) {
            Close();
            return false;
        }
        file = std::fopen(name, "rb");
        int64_t length = file ? StreamLength(file) : -1;
        if (length < 0 || !SeekAbsolute(file, 0, SEEK_SET)) {
            Close();
            return false;
        }
        base = 0;
        size = int32_t(length);
        return true;
    }

    for (const std::string& archivePath : platform::FindFilesWithExtension(archive::kArchiveExtension))
        if (OpenArchiveFile(archivePath.c_str()))
            return true;
    Close();
    return false;
}

bool CDataFile::OpenProgramArchive(const char* programFile) {
    file = std::fopen(programFile, "rb");
    if (!file)
        return false;
    int64_t length = StreamLength(file);
    unsigned char trailer[archive::kTrailerSize];
    if (length < archive::kTrailerSize || !SeekAbsolute(file, length - archive::kTrailerSize, SEEK_SET) ||
        std::fread(trailer, 1, sizeof(trailer), file) != sizeof(trailer) ||
        std::memcmp(trailer + 4, archive::kMagic, archive::kMagicSize) != 0)
        return SearchArchive(-1, 0);
    // An offset before the file or past the trailer describes no archive; SearchArchive refuses it.
    return SearchArchive(int32_t(archive::ReadLE32(trailer)), length - archive::kTrailerSize);
}

bool CDataFile::OpenArchiveFile(const char* archivePath) {
    file = std::fopen(archivePath, "rb");
    if (!file)
        return false;
    return SearchArchive(0, StreamLength(file));
}

bool CDataFile::SearchArchive(int64_t begin, int64_t end) {
    bool ok = begin >= 0 && begin <= end;
    if (ok) {
        base = int32_t(begin);
        size = int32_t(end - begin);
        ok = FindAllComponents();
    }
    if (!ok) {
        // Leaves the name for the next stage of the search.
        std::fclose(file);
        file = nullptr;
        base = 0;
        size = 0;
    }
    return ok;
}

bool CDataFile::FindAllComponents() {
    for (const std::string& component : SplitPath(name))
        if (!FindEntry(component.c_str()))
            return false;
    return SeekAbsolute(file, base, SEEK_SET);
}

bool CDataFile::FindEntry(const char* component) {
    const int64_t end = int64_t(base) + size;
    int64_t position = base;
    if (!SeekAbsolute(file, position, SEEK_SET))
        return false;
    while (position < end) {
        unsigned char header[archive::kEntryHeaderSize];
        if (end - position < archive::kEntryHeaderSize ||
            std::fread(header, 1, sizeof(header), file) != sizeof(header))
            return false;
        const char* entryName = reinterpret_cast<const char*>(header + archive::kNameOffset);
        size_t nameLength = strnlen(entryName, archive::kNameFieldSize);
        int64_t total = archive::ReadLE32(header + archive::kTotalSizeOffset);
        // A size below the header would loop or step back; one past the parent would read outside it.
        if (total < archive::kEntryHeaderSize || total > end - position)
            return false;
        if (EqualIgnoringCase(entryName, nameLength, component)) {
            base = int32_t(position + archive::kEntryHeaderSize);
            size = int32_t(total - archive::kEntryHeaderSize);
            return true;
        }
        position += total;
        if (!SeekAbsolute(file, position, SEEK_SET))
            return false;
    }
    return false;
}

void CDataFile::Close() {
    if (file)
        std::fclose(file);
    file = nullptr;
    base = 0;
    size = 0;
    std::memset(name, 0, sizeof(name));
}

int CDataFile::Read(void* buffer, int elementSize, int count) {
    if (!file || !buffer || elementSize < 0 || count < 0)
        return -1;
    int64_t position = Tell();
    int64_t wanted = int64_t(elementSize) * count;
    if (position < 0 || wanted > size - position)
        return -1;
    if (wanted == 0)
        return 0;
    size_t got = std::fread(buffer, size_t(elementSize), size_t(count), file);
    if (got != size_t(count)) {
        // A container that shrank under us: undo the partial read rather than report it.
        SeekAbsolute(file, base + position, SEEK_SET);
        return -1;
    }
    return count;
}

int CDataFile::Tell() const {
    if (!file)
        return -1;
    int64_t position = TellAbsolute(file);
    if (position < base)
        return -1;
    return int(position - base);
}

bool CDataFile::IsEOF() const {
    return !file || Tell() >= size;
}

bool CDataFile::Seek(int offset, int origin) {
    if (!file)
        return false;
    int64_t target;
    switch (origin) {
    case 0:
        target = offset;
        break;
    case 1: {
        int64_t position = Tell();
        if (position < 0)
            return false;
        target = position + offset;
        break;
    }
    case 2:
        if (offset < 0)
            return false;
        target = int64_t(size) - offset;
        break;
    default:
        return false;
    }
    if (target < 0 || target > size)
        return false;
    SeekAbsolute(file, int64_t(base) + target, SEEK_SET);
    return true;
}

int CDataFile::Size() const {
    return file ? size : 0;
}
