#include "archive_writer.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "data/archive_format.h"

namespace fs = std::filesystem;

namespace packer {

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

// Writes one entry, its header size patched once the content is known.
bool WriteEntry(const fs::path& path, std::vector<uint8_t>& out, std::string& error) {
    std::string name = path.filename().string();
    if (name.empty() || name.size() > size_t(archive::kMaxNameLength)) {
        error =
            "name longer than " + std::to_string(archive::kMaxNameLength) + " characters: " + path.string();
        return false;
    }
    std::error_code ec;
    const bool isDirectory = fs::is_directory(path, ec);
    const size_t start = out.size();
    out.resize(start + archive::kEntryHeaderSize, 0);
    archive::WriteLE32(out.data() + start + archive::kTypeOffset,
                       isDirectory ? archive::kTypeDirectory : archive::kTypeFile);
    std::memcpy(out.data() + start + archive::kNameOffset, name.data(), name.size());

    if (isDirectory) {
        std::vector<fs::path> children;
        for (const fs::directory_entry& child : fs::directory_iterator(path, ec))
            children.push_back(child.path());
        if (ec) {
            error = "cannot list directory: " + path.string();
            return false;
        }
        std::sort(children.begin(), children.end(), [](const fs::path& a, const fs::path& b) {
            return Lower(a.filename().string()) < Lower(b.filename().string());
        });
        for (const fs::path& child : children)
            if (!WriteEntry(child, out, error))
                return false;
    } else {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            error = "cannot read file: " + path.string();
            return false;
        }
        out.insert(out.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            error = "cannot read file: " + path.string();
            return false;
        }
    }
    const size_t total = out.size() - start;
    // The reader keeps sizes and offsets in signed 32 bits.
    if (total > size_t(INT32_MAX)) {
        error = "entry too large: " + path.string();
        return false;
    }
    archive::WriteLE32(out.data() + start + archive::kTotalSizeOffset, uint32_t(total));
    return true;
}

bool ListRange(const std::vector<uint8_t>& bytes, size_t begin, size_t end, int depth, std::string& out,
               std::string& error) {
    if (depth > 64) {
        error = "entries nested too deeply";
        return false;
    }
    size_t position = begin;
    while (position < end) {
        if (end - position < size_t(archive::kEntryHeaderSize)) {
            error = "entry header cut short at offset " + std::to_string(position);
            return false;
        }
        const uint8_t* header = bytes.data() + position;
        uint32_t type = archive::ReadLE32(header + archive::kTypeOffset);
        uint32_t total = archive::ReadLE32(header + archive::kTotalSizeOffset);
        if (total < uint32_t(archive::kEntryHeaderSize) || total > end - position) {
            error = "bad entry size at offset " + std::to_string(position);
            return false;
        }
        const char* name = reinterpret_cast<const char*>(header + archive::kNameOffset);
        std::string entryName(name, strnlen(name, archive::kNameFieldSize));
        out += std::string(size_t(depth) * 2, ' ') + entryName;
        const size_t contentBegin = position + archive::kEntryHeaderSize;
        const size_t contentEnd = position + total;
        if (type == archive::kTypeDirectory) {
            out += "/\n";
            if (!ListRange(bytes, contentBegin, contentEnd, depth + 1, out, error))
                return false;
        } else {
            out += " (" + std::to_string(contentEnd - contentBegin) + " bytes)\n";
        }
        position = contentEnd;
    }
    return true;
}

} // namespace

bool BuildArchive(const std::vector<std::string>& directories, std::vector<uint8_t>& out,
                  std::string& error) {
    for (const std::string& directory : directories) {
        std::error_code ec;
        fs::path path = fs::path(directory);
        if (!fs::is_directory(path, ec)) {
            error = "not a directory: " + directory;
            return false;
        }
        // "assets/data/" names the directory "data", as "assets/data" does.
        if (!path.has_filename())
            path = path.parent_path();
        if (!WriteEntry(path, out, error))
            return false;
    }
    return true;
}

std::vector<uint8_t> MakeTrailer(int32_t offset) {
    std::vector<uint8_t> trailer(archive::kTrailerSize);
    archive::WriteLE32(trailer.data(), uint32_t(offset));
    std::memcpy(trailer.data() + 4, archive::kMagic, archive::kMagicSize);
    return trailer;
}

bool ListArchive(const std::vector<uint8_t>& bytes, std::string& out, std::string& error) {
    size_t begin = 0, end = bytes.size();
    if (bytes.size() >= size_t(archive::kTrailerSize) &&
        std::memcmp(bytes.data() + bytes.size() - archive::kMagicSize, archive::kMagic,
                    archive::kMagicSize) == 0) {
        int64_t offset = int32_t(archive::ReadLE32(bytes.data() + bytes.size() - archive::kTrailerSize));
        end = bytes.size() - archive::kTrailerSize;
        if (offset < 0 || uint64_t(offset) > end) {
            error = "trailer offset outside the file";
            return false;
        }
        begin = size_t(offset);
    }
    return ListRange(bytes, begin, end, 0, out, error);
}

} // namespace packer
