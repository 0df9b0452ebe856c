// Archive bytes built by hand for the data tests.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "data/archive_format.h"
#include "tests/common/test_util.h"

namespace testfiles {

using Bytes = std::vector<uint8_t>;

using testutil::ScratchDir;
using testutil::WriteFile;

inline Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// One entry: header with the given total size (default: the honest one) and content.
inline Bytes Entry(const std::string& name, const Bytes& content, uint32_t type = archive::kTypeFile,
                   int64_t totalOverride = -1) {
    Bytes out(archive::kEntryHeaderSize, 0);
    archive::WriteLE32(out.data(), type);
    std::memcpy(out.data() + archive::kNameOffset, name.data(), std::min<size_t>(name.size(), 32));
    uint32_t total = totalOverride >= 0 ? uint32_t(totalOverride) : uint32_t(out.size() + content.size());
    archive::WriteLE32(out.data() + archive::kTotalSizeOffset, total);
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

inline Bytes Concat(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline Bytes Dir(const std::string& name, const std::vector<Bytes>& children) {
    return Entry(name, Concat(children), archive::kTypeDirectory);
}

// A program file: an image of filler bytes, the archive, then a trailer pointing at the archive.
inline Bytes ProgramWith(const Bytes& archiveBytes, int32_t offsetOverride = -1, size_t imageSize = 100) {
    Bytes out(imageSize, 0xCC);
    int32_t offset = offsetOverride != -1 ? offsetOverride : int32_t(out.size());
    out.insert(out.end(), archiveBytes.begin(), archiveBytes.end());
    Bytes trailer(archive::kTrailerSize);
    archive::WriteLE32(trailer.data(), uint32_t(offset));
    std::memcpy(trailer.data() + 4, archive::kMagic, archive::kMagicSize);
    out.insert(out.end(), trailer.begin(), trailer.end());
    return out;
}

} // namespace testfiles
