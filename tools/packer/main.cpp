// tinsel-pack: writes, appends and lists data archives.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive_writer.h"
#include "data/archive_format.h"
#include "tools/cli.h"

namespace {

const char* kUsage = "Usage:\n"
                     "  tinsel-pack --out FILE.Trovake DIR...   write a standalone archive\n"
                     "  tinsel-pack --append EXE [--to OUT] DIR...\n"
                     "                                          append archive and trailer to EXE\n"
                     "                                          (to a copy OUT of it with --to)\n"
                     "  tinsel-pack --list FILE                 print the tree of an archive\n"
                     "  tinsel-pack --help\n"
                     "Each DIR becomes a top-level directory named by its basename; children are\n"
                     "sorted by their lower-cased names, byte by byte. Names are at most 31 characters.\n";

bool ReadAll(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteAll(const std::string& path, const std::vector<uint8_t>& bytes, bool append) {
    std::ofstream out(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    return bool(out);
}

int Fail(const std::string& message) {
    return cli::Fail("tinsel-pack", message);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return std::fputs(kUsage, stderr), 2;
    const std::string& mode = args[0];
    if (mode == "--help" || mode == "-h")
        return std::fputs(kUsage, stdout), 0;

    std::string error;
    if (mode == "--list") {
        if (args.size() != 2)
            return std::fputs(kUsage, stderr), 2;
        std::vector<uint8_t> bytes;
        if (!ReadAll(args[1], bytes))
            return Fail("cannot read " + args[1]);
        std::string tree;
        if (!packer::ListArchive(bytes, tree, error))
            return Fail(args[1] + ": " + error);
        std::fputs(tree.c_str(), stdout);
        return 0;
    }

    if (mode == "--out") {
        if (args.size() < 3)
            return std::fputs(kUsage, stderr), 2;
        std::vector<uint8_t> archive;
        if (!packer::BuildArchive({args.begin() + 2, args.end()}, archive, error))
            return Fail(error);
        if (!WriteAll(args[1], archive, false))
            return Fail("cannot write " + args[1]);
        return 0;
    }

    if (mode == "--append") {
        if (args.size() < 3)
            return std::fputs(kUsage, stderr), 2;
        std::string target = args[1];
        size_t first = 2;
        if (args[2] == "--to") {
            if (args.size() < 5)
                return std::fputs(kUsage, stderr), 2;
            target = args[3];
            first = 4;
        }
        std::vector<uint8_t> archive;
        if (!packer::BuildArchive({args.begin() + long(first), args.end()}, archive, error))
            return Fail(error);
        std::error_code ec;
        if (target != args[1]) {
            std::filesystem::copy_file(args[1], target, std::filesystem::copy_options::overwrite_existing,
                                       ec);
            if (ec)
                return Fail("cannot copy " + args[1] + " to " + target);
        }
        auto length = std::filesystem::file_size(target, ec);
        // The trailer's offset is signed 32-bit; the archive must also stay within that range.
        if (ec || length + archive.size() + archive::kTrailerSize > uint64_t(INT32_MAX))
            return Fail("cannot append to " + target);
        std::vector<uint8_t> trailer = packer::MakeTrailer(int32_t(length));
        archive.insert(archive.end(), trailer.begin(), trailer.end());
        if (!WriteAll(target, archive, true))
            return Fail("cannot write " + target);
        return 0;
    }
    return std::fputs(kUsage, stderr), 2;
}
