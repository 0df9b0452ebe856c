// Data files as the program finds them (its own archive, plain files, archive
// files), read and sought within their bounds; the packer that makes the
// archives, read back through the same reader; TGA pictures and the pixmaps
// they load into.
#include "data/data_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "archive_writer.h"
#include "base/exception.h"
#include "data/tga.h"
#include "test_files.h"

using namespace testfiles;

namespace {

std::string ReadAllText(CDataFile& f) {
    std::string s(size_t(f.Size()), '\0');
    EXPECT_EQ(f.Read(s.data(), 1, f.Size()), f.Size());
    return s;
}

// A program archive with data/koala.tga and data/readme.txt, written as "program.bin".
Bytes ShippedArchive() {
    return Dir("data", {Entry("koala.tga", Text("archive koala")), Entry("readme.txt", Text("hello"))});
}

class DataFileTest : public ::testing::Test {
protected:
    ScratchDir dir;
    void SetProgram(const Bytes& bytes) { WriteFile("program.bin", bytes); }
    bool Open(CDataFile& f, const char* path) { return f.Open(path, "program.bin"); }
};

// A TGA header followed by an image ID and the given pixel bytes.
Bytes Tga(uint8_t type, uint8_t depth, uint16_t w, uint16_t h, uint8_t descriptor, const Bytes& pixels,
          uint8_t mapType = 0, const Bytes& id = {}) {
    Bytes header = {uint8_t(id.size()), mapType, type, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    header.insert(header.end(),
                  {uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), depth, descriptor});
    return Concat({header, id, pixels});
}

// The picture as "WxH: r,g,b,a ..." in memory order, or the loader's refusal.
std::string Loaded(const char* path) {
    try {
        const auto p = LoadImage(path);
        std::string out = std::to_string(p->width) + "x" + std::to_string(p->height) + ":";
        const auto* bytes = reinterpret_cast<const uint8_t*>(p->pixels);
        for (int i = 0; i < p->width * p->height * 4; ++i)
            out += (i % 4 ? "," : " ") + std::to_string(bytes[i]);
        return out;
    } catch (const CException& e) {
        return e.Text();
    }
}

using ImageTest = DataFileTest;

} // namespace

TEST_F(DataFileTest, EachPathComesFromTheFirstPlaceThatHasIt) {
    WriteFile("data/koala.tga", Text("disk koala"));
    WriteFile("data/disk.txt", Text("on disk"));
    WriteFile("data/readme.txt", Text("disk"));
    WriteFile("Extra.TROVAKE", Dir("data", {Entry("koala.tga", Text("trovake koala")),
                                            Entry("packed.txt", Text("in trovake"))}));
    std::filesystem::create_directories("data/sub");
    WriteFile("a.Trovake", Dir("data", {Dir("sub", {Entry("x", Text("x"))})}));
    const Bytes shipped = ProgramWith(ShippedArchive()), bare = Text("just an executable image, no archive");
    const std::string name32(32, 'n'), overlong(256, 'a');
    Bytes cutShort = Entry("data", {});
    cutShort.resize(20);
    using archive::kTypeFile;
    struct Case {
        Bytes program;
        std::string path;
        const char* want; // null: not found
    } cases[] = {
        {shipped, "data/koala.tga", "archive koala"}, // the program's archive first
        {shipped, "data/disk.txt", "on disk"},        // then plain files
        {shipped, "data/packed.txt", "in trovake"},   // then archive files, extension in any case
        {shipped, "data/nowhere.txt", nullptr},
        {bare, "data/koala.tga", "disk koala"},       // no trailer: the search goes on
        {shipped, "DATA/Koala.TGA", "archive koala"}, // names ignore case...
        {shipped, "data2/readme.txt", nullptr},       // ...but match only whole
        {shipped, "dat/readme.txt", nullptr},
        {shipped, "data/readme.tx", nullptr},
        {shipped, "//data///readme.txt/", "hello"}, // extra slashes add no components
        {shipped, overlong, nullptr},
        {shipped, "data/sub", nullptr}, // a directory on disk is found, not opened, and ends the search
        {ProgramWith(Concat({ShippedArchive(), Bytes(7, 0)})), "data/readme.txt", "hello"}, // bytes before
        {ProgramWith(Concat({ShippedArchive(), Bytes(7, 0)})), "data/none", nullptr},       // the trailer
        {ProgramWith(Entry(name32, Text("x"))), name32, "x"}, // a name field without its terminator
        {ProgramWith(Entry(name32, Text("x"))), name32 + "n", nullptr},
        {ProgramWith(Entry("outer.bin", Entry("inner", Text("deep")))), "outer.bin/inner", "deep"},
        // Hostile archives: nothing is read outside the container or the parent entry and no
        // search loops; the program's archive fails and the plain file answers instead.
        {ProgramWith(
             Concat({Entry("loop", {}, kTypeFile, 0), Dir("data", {Entry("readme.txt", Text("x"))})})),
         "data/readme.txt", "disk"}, // an entry size below its header
        {ProgramWith(Dir("data", {Entry("readme.txt", Text("abc"), kTypeFile, 40 + 3 + 11 + 100)})),
         "data/readme.txt", "disk"}, // a file entry claiming more than its directory holds
        {ProgramWith(Entry("data", Entry("readme.txt", Text("abc")), archive::kTypeDirectory, 40 + 43 + 5)),
         "data/readme.txt", "disk"}, // a top-level entry running into the trailer
        {ProgramWith(cutShort), "data/readme.txt", "disk"},
        {ProgramWith(ShippedArchive(), -5), "data/readme.txt", "disk"}, // trailer offset before the file
        {ProgramWith(ShippedArchive(), 0x7FFFFFF0), "data/readme.txt", "disk"}, // and past it
    };
    for (const Case& c : cases) {
        SetProgram(c.program);
        CDataFile f;
        ASSERT_EQ(Open(f, c.path.c_str()), c.want != nullptr) << c.path;
        EXPECT_EQ(c.want ? ReadAllText(f) : std::to_string(f.Size()) + "," + std::to_string(f.Tell()),
                  c.want ? c.want : "0,-1")
            << c.path;
    }
    CDataFile f;
    EXPECT_FALSE(f.Open(nullptr, "program.bin"));
}

TEST_F(DataFileTest, PathWithoutComponentsOpensTopLevelAndDirectoryOpensChildren) {
    const Bytes archiveBytes = ShippedArchive();
    const Bytes children(archiveBytes.begin() + archive::kEntryHeaderSize, archiveBytes.end());
    SetProgram(ProgramWith(archiveBytes));
    for (const auto& [path, want] : {std::pair<const char*, const Bytes*>{"", &archiveBytes},
                                     {"///", &archiveBytes},
                                     {"data", &children}}) {
        CDataFile f;
        ASSERT_TRUE(Open(f, path)) << path;
        Bytes got(size_t(f.Size()));
        ASSERT_EQ(f.Read(got.data(), 1, int(got.size())), int(got.size())) << path;
        EXPECT_EQ(got, *want) << path;
    }
}

TEST_F(DataFileTest, ReadIsBoundedAndAllOrNothing) {
    SetProgram(ProgramWith(ShippedArchive()));
    CDataFile f;
    char buffer[32] = {};
    // Closed: nothing to read, tell or seek.
    EXPECT_EQ(std::make_tuple(f.Read(buffer, 1, 1), f.Tell(), f.Size(), f.IsEOF(), f.Seek(0, 0)),
              std::make_tuple(-1, -1, 0, true, false));
    ASSERT_TRUE(Open(f, "data/koala.tga"));   // "archive koala", 13 bytes
    EXPECT_FALSE(Open(f, "data/readme.txt")); // refused while one is held
    EXPECT_EQ(f.Read(buffer, 4, 2), 2);
    EXPECT_EQ(f.Tell(), 8);
    EXPECT_EQ(f.Read(buffer, 3, 2), -1); // 6 wanted, 5 left
    EXPECT_EQ(f.Tell(), 8);
    EXPECT_FALSE(f.IsEOF());
    EXPECT_EQ(f.Read(buffer, 1, 5), 5);
    EXPECT_EQ(std::string(buffer, 5), "koala");
    EXPECT_TRUE(f.IsEOF());
    EXPECT_EQ(f.Read(buffer, 1, 1), -1);
    EXPECT_EQ(f.Read(buffer, 1, -1), -1);
    EXPECT_EQ(f.Read(buffer, 0x10000, 0x10000), -1); // product overflows 32 bits
    f.Close();
    EXPECT_EQ(f.Size(), 0);
}

// The same limits inside the program's archive and in a plain file.
TEST_F(DataFileTest, SeekLimitsForEveryOrigin) {
    SetProgram(ProgramWith(ShippedArchive()));
    WriteFile("plain.txt", Text("hello"));
    // offset, origin (0 start, 1 here, 2 end), accepted, position after
    const int steps[][4] = {{5, 0, 1, 5}, {6, 0, 0, 5},  {-1, 0, 0, 5}, {0, 2, 1, 5},
                            {5, 2, 1, 0}, {6, 2, 0, 0},  {-1, 2, 0, 0}, {2, 1, 1, 2},
                            {4, 1, 0, 2}, {-3, 1, 0, 2}, {-2, 1, 1, 0}, {0, 3, 0, 0}};
    for (const char* path : {"data/readme.txt", "plain.txt"}) {
        CDataFile f;
        ASSERT_TRUE(Open(f, path)); // 5 bytes
        for (const auto& step : steps) {
            EXPECT_EQ(f.Seek(step[0], step[1]), step[2] != 0)
                << path << " " << step[0] << " from " << step[1];
            EXPECT_EQ(f.Tell(), step[3]) << path << " " << step[0] << " from " << step[1];
            EXPECT_EQ(f.IsEOF(), step[3] == 5);
        }
        char c = 0;
        ASSERT_TRUE(f.Seek(1, 0));
        ASSERT_EQ(f.Read(&c, 1, 1), 1);
        EXPECT_EQ(c, 'e') << path;
    }
}

using PackerTest = DataFileTest;

TEST_F(PackerTest, RoundTripThroughReaderAsProgramAndArchiveFile) {
    WriteFile("assets/data/koala.tga", Text("koala bytes"));
    WriteFile("assets/data/sub/Deep.txt", Text("deep"));
    WriteFile("assets/data/empty.txt", Bytes{});
    Bytes archiveBytes;
    std::string error;
    ASSERT_TRUE(packer::BuildArchive({"assets/data/"}, archiveBytes, error)) << error;

    Bytes program(333, 0x90);
    Bytes trailer = packer::MakeTrailer(int32_t(program.size()));
    WriteFile("program.bin", Concat({program, archiveBytes, trailer}));
    WriteFile("pack.Trovake", archiveBytes);
    std::filesystem::remove_all("assets");

    for (const char* programFile : {"program.bin", ""}) {
        CDataFile f;
        ASSERT_TRUE(f.Open("data/sub/deep.txt", programFile)) << programFile;
        char buffer[4];
        ASSERT_EQ(f.Read(buffer, 4, 1), 1);
        EXPECT_EQ(std::string(buffer, 4), "deep");
        f.Close();
        ASSERT_TRUE(f.Open("data/empty.txt", programFile));
        EXPECT_EQ(f.Size(), 0);
        EXPECT_TRUE(f.IsEOF());
    }
}

TEST_F(PackerTest, ChildrenSortedByLowerCasedNameAndListed) {
    WriteFile("d/b.txt", Text("12"));
    WriteFile("d/A.txt", Text("1"));
    WriteFile("d/_x", Text(""));
    WriteFile("d/c/z", Text("123"));
    Bytes bytes;
    std::string error, tree;
    ASSERT_TRUE(packer::BuildArchive({"d"}, bytes, error)) << error;
    ASSERT_TRUE(packer::ListArchive(bytes, tree, error)) << error;
    // Lower-cased byte order: '_' (0x5F) comes before 'a' (0x61), though after 'A' (0x41).
    EXPECT_EQ(tree, "d/\n  _x (0 bytes)\n  A.txt (1 bytes)\n  b.txt (2 bytes)\n  c/\n    z (3 bytes)\n");

    Bytes appended = Concat({Bytes(50, 1), bytes, packer::MakeTrailer(50)});
    std::string appendedTree;
    ASSERT_TRUE(packer::ListArchive(appended, appendedTree, error)) << error;
    EXPECT_EQ(appendedTree, tree);
}

// A name longer than its field, and a missing directory: refused, naming the culprit.
TEST_F(PackerTest, RefusalsNameTheFile) {
    const std::string name(32, 'q');
    WriteFile("d/" + name, Text("x"));
    WriteFile("d/" + std::string(31, 'k'), Text("x"));
    for (const auto& [directory, culprit] :
         {std::pair<std::string, std::string>{"d", name}, {"no-such-dir", "no-such-dir"}}) {
        Bytes bytes;
        std::string error;
        EXPECT_FALSE(packer::BuildArchive({directory}, bytes, error)) << directory;
        EXPECT_NE(error.find(culprit), std::string::npos) << error;
    }
}

TEST_F(PackerTest, ListRefusesMalformedArchives) {
    std::string tree, error;
    EXPECT_FALSE(packer::ListArchive(Entry("x", {}, archive::kTypeFile, 3), tree, error));
    EXPECT_FALSE(packer::ListArchive(Entry("x", Text("ab"), archive::kTypeFile, 400), tree, error));
    Bytes badTrailer = Concat({Entry("x", {}), packer::MakeTrailer(1000)});
    EXPECT_FALSE(packer::ListArchive(badTrailer, tree, error));
    // A deep chain of directories is refused rather than recursed without end.
    Bytes deep = Entry("f", {});
    for (int i = 0; i < 100; ++i)
        deep = Entry("d", deep, archive::kTypeDirectory);
    EXPECT_FALSE(packer::ListArchive(deep, tree, error));
}

// 24-bit pixels get alpha 0 and bottom-up rows are flipped; 32-bit top-down pixels keep their
// bytes, and an image ID is skipped. Each refusal carries the right text.
TEST_F(ImageTest, PixelsLandInReadingOrderOrTheFileIsRefused) {
    const Bytes bytes24 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, bytes32 = {1, 2, 3, 4, 5, 6, 7, 8};
    const char* notTrueColour = "LoadImage(): 't.tga' is not an uncompressed truecolour TGA!";
    const char* invalid = "LoadImage(): 't.tga' is an invalid TGA file!";
    Bytes cutHeader = Tga(2, 32, 1, 1, 0, {});
    cutHeader.resize(10);
    // An image ID that claims more bytes than follow: the pixels are not read from inside it.
    Bytes cutId = Tga(2, 32, 1, 1, 0, {}, 0, Bytes(40, 7));
    cutId.resize(18 + 8);
    std::vector<std::pair<Bytes, std::string>> cases = {
        {Tga(2, 24, 2, 2, 0, bytes24), "2x2: 7,8,9,0 10,11,12,0 1,2,3,0 4,5,6,0"},
        {Tga(2, 32, 1, 2, 0x20, bytes32), "1x2: 1,2,3,4 5,6,7,8"},
        {Tga(2, 32, 1, 2, 0x20, bytes32, 0, Text("an image id")), "1x2: 1,2,3,4 5,6,7,8"},
        {Tga(2, 16, 1, 1, 0, {0, 0}), invalid},          // 16-bit depth
        {Tga(2, 32, 1, 1, 0, {0, 0, 0, 0}, 1), invalid}, // a colour map
        {Tga(2, 32, 2, 2, 0, Bytes(15, 0)), invalid},    // pixels cut short
        {Tga(2, 32, 65535, 65535, 0, {}), invalid},      // absurd size: refused before allocating
        {cutHeader, invalid},
        {cutId, invalid},
    };
    for (uint8_t type : {1, 3, 9, 10, 11}) // colour-mapped, grey, run-length encoded
        cases.push_back({Tga(type, 32, 1, 1, 0, {0, 0, 0, 0}), notTrueColour});
    for (const auto& [bytes, want] : cases) {
        WriteFile("t.tga", bytes);
        EXPECT_EQ(Loaded("t.tga"), want) << "image type " << int(bytes.size() > 2 ? bytes[2] : 0);
    }
    EXPECT_EQ(Loaded("none.tga"), "LoadImage(): Unable to open 'none.tga'!");
}

// Each rectangle against a pixel-by-pixel model: a destination pixel takes the source pixel it
// lies over when that lies inside both the rectangle and the source; the rest stays as it was.
TEST(BlitTest, ClipsToTheRectangleAndBothPixmaps) {
    CPixmap src(4, 4), dst(6, 5);
    for (int i = 0; i < 16; ++i)
        src.pixels[i] = uint32_t(i + 1);
    const int32_t big = 2147483647;
    for (auto a : {std::array<int32_t, 6>{0, 0, 4, 4, 0, 0}, // whole picture into a larger pixmap
                   {0, 0, 4, 4, -2, -1},                     // negative destination
                   {-1, 0, 3, 1, 0, 0},                      // negative source shifts the destination
                   {2, 2, 100, 100, 3, 3},                   // oversized rectangle
                   {1, 1, 2, 2, 5, 2},                       // cut at the right
                   {1, 1, 2, 2, 3, 4},                       // cut at the bottom
                   {0, 0, 4, 4, 6, 0},                       // from here on, nothing lands
                   {0, 0, 4, 4, -4, 0},
                   {4, 0, 1, 1, 0, 0},
                   {0, 0, 0, 4, 0, 0},
                   {0, 0, 4, 4, 0, -big},
                   {-big, 0, big, 4, 0, 0}}) {
        dst.Fill(0x22222222);
        dst.Blit(src, a[0], a[1], a[2], a[3], a[4], a[5]);
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 6; ++x) {
                const int64_t sx = int64_t(x) - a[4] + a[0], sy = int64_t(y) - a[5] + a[1];
                const bool inside =
                    sx >= std::max(a[0], 0) && sx < std::min(int64_t(a[0]) + a[2], int64_t(4)) &&
                    sy >= std::max(a[1], 0) && sy < std::min(int64_t(a[1]) + a[3], int64_t(4));
                ASSERT_EQ(dst.pixels[y * 6 + x], inside ? src.pixels[sy * 4 + sx] : 0x22222222u)
                    << "blit " << a[0] << "," << a[1] << " " << a[2] << "x" << a[3] << " to " << a[4] << ","
                    << a[5] << ", pixel " << x << "," << y;
            }
        }
    }
}

TEST(BlitTest, OverlappingCopyWithinOnePixmapActsAsMemmove) {
    // Shifts of a 3 x 3 block inside a 6 x 6 pixmap in every direction: the
    // block arrives whole, as from a copy taken before the move.
    for (auto [dx, dy] : {std::pair{1, 1}, {-1, -1}, {1, -1}, {-1, 1}, {2, 0}, {0, 2}}) {
        CPixmap p(6, 6), before(6, 6);
        for (int i = 0; i < 36; ++i)
            p.pixels[i] = before.pixels[i] = uint32_t(i + 1);
        p.Blit(p, 1, 1, 3, 3, 1 + dx, 1 + dy);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x)
                ASSERT_EQ(p.pixels[(1 + dy + y) * 6 + 1 + dx + x], before.pixels[(1 + y) * 6 + 1 + x])
                    << "shift " << dx << "," << dy << " at " << x << "," << y;
    }
}
