#include "data/data_file.h"

#include <gtest/gtest.h>

#include <string>

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

} // namespace

TEST_F(DataFileTest, EachPathComesFromTheFirstPlaceThatHasIt) {
    WriteFile("data/koala.tga", Text("disk koala"));
    WriteFile("data/disk.txt", Text("on disk"));
    WriteFile("Extra.TROVAKE", Dir("data", {Entry("koala.tga", Text("trovake koala")),
                                            Entry("packed.txt", Text("in trovake"))}));
    struct Case {
        bool archive; // the program carries ShippedArchive, else no trailer at all
        const char* path;
        const char* want; // null: not found
    } cases[] = {
        {true, "data/koala.tga", "archive koala"}, // the program's archive first
        {true, "data/disk.txt", "on disk"},        // then plain files
        {true, "data/packed.txt", "in trovake"},   // then archive files, extension in any case
        {true, "data/nowhere.txt", nullptr},
        {false, "data/koala.tga", "disk koala"},   // no trailer: the search goes on
        {true, "DATA/Koala.TGA", "archive koala"}, // names ignore case...
        {true, "data2/readme.txt", nullptr},       // ...but match only whole
        {true, "dat/readme.txt", nullptr},
        {true, "data/readme.tx", nullptr},
        {true, "//data///readme.txt/", "hello"}, // extra slashes add no components
    };
    for (const Case& c : cases) {
        SetProgram(c.archive ? ProgramWith(ShippedArchive()) : Text("just an executable image, no archive"));
        CDataFile f;
        ASSERT_EQ(Open(f, c.path), c.want != nullptr) << c.path;
        EXPECT_EQ(c.want ? ReadAllText(f) : std::to_string(f.Size()), c.want ? c.want : "0") << c.path;
    }
}

TEST_F(DataFileTest, DirectoryOnDiskIsFoundButNotOpenedAndStopsTheSearch) {
    std::filesystem::create_directories("data/sub");
    WriteFile("a.Trovake", Dir("data", {Dir("sub", {Entry("x", Text("x"))})}));
    CDataFile f;
    EXPECT_FALSE(Open(f, "data/sub"));
    EXPECT_EQ(f.Tell(), -1);
}

TEST_F(DataFileTest, PathWithoutComponentsOpensTopLevelAndDirectoryOpensChildren) {
    Bytes archiveBytes = ShippedArchive();
    SetProgram(ProgramWith(archiveBytes));
    CDataFile f;
    ASSERT_TRUE(Open(f, ""));
    EXPECT_EQ(f.Size(), int(archiveBytes.size()));
    f.Close();
    ASSERT_TRUE(Open(f, "///"));
    EXPECT_EQ(f.Size(), int(archiveBytes.size()));
    f.Close();
    ASSERT_TRUE(Open(f, "data"));
    Bytes children(archiveBytes.begin() + archive::kEntryHeaderSize, archiveBytes.end());
    Bytes got(size_t(f.Size()));
    ASSERT_EQ(f.Read(got.data(), 1, int(got.size())), int(got.size()));
    EXPECT_EQ(got, children);
}

TEST_F(DataFileTest, BytesAfterLastEntryBeforeTrailerAreIgnored) {
    Bytes archiveBytes = Concat({ShippedArchive(), Bytes(7, 0)});
    SetProgram(ProgramWith(archiveBytes));
    CDataFile f;
    EXPECT_TRUE(Open(f, "data/readme.txt"));
    f.Close();
    EXPECT_FALSE(Open(f, "data/none"));
}

TEST_F(DataFileTest, OpenRefusedWhileHeldAndForOverlongPath) {
    SetProgram(ProgramWith(ShippedArchive()));
    CDataFile f;
    ASSERT_TRUE(Open(f, "data/readme.txt"));
    EXPECT_FALSE(Open(f, "data/koala.tga"));
    EXPECT_EQ(ReadAllText(f), "hello");
    f.Close();
    std::string longPath(256, 'a');
    EXPECT_FALSE(Open(f, longPath.c_str()));
    EXPECT_FALSE(f.Open(nullptr, "program.bin"));
}

TEST_F(DataFileTest, ReadIsBoundedAndAllOrNothing) {
    SetProgram(ProgramWith(ShippedArchive()));
    CDataFile f;
    ASSERT_TRUE(Open(f, "data/koala.tga")); // "archive koala", 13 bytes
    char buffer[32] = {};
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
}

TEST_F(DataFileTest, SeekLimitsForEveryOrigin) {
    SetProgram(ProgramWith(ShippedArchive()));
    CDataFile f;
    ASSERT_TRUE(Open(f, "data/readme.txt")); // 5 bytes
    EXPECT_TRUE(f.Seek(5, 0));
    EXPECT_TRUE(f.IsEOF());
    EXPECT_FALSE(f.Seek(6, 0));
    EXPECT_FALSE(f.Seek(-1, 0));
    EXPECT_EQ(f.Tell(), 5);
    EXPECT_TRUE(f.Seek(0, 2));
    EXPECT_EQ(f.Tell(), 5);
    EXPECT_TRUE(f.Seek(5, 2));
    EXPECT_EQ(f.Tell(), 0);
    EXPECT_FALSE(f.Seek(6, 2));
    EXPECT_FALSE(f.Seek(-1, 2));
    EXPECT_TRUE(f.Seek(2, 1));
    EXPECT_FALSE(f.Seek(4, 1));
    EXPECT_FALSE(f.Seek(-3, 1));
    EXPECT_TRUE(f.Seek(-2, 1));
    EXPECT_EQ(f.Tell(), 0);
    EXPECT_FALSE(f.Seek(0, 3));
    char c = 0;
    ASSERT_TRUE(f.Seek(1, 0));
    ASSERT_EQ(f.Read(&c, 1, 1), 1);
    EXPECT_EQ(c, 'e');
}

TEST_F(DataFileTest, ClosedReaderRefusesEverything) {
    CDataFile f;
    char c;
    EXPECT_EQ(f.Read(&c, 1, 1), -1);
    EXPECT_EQ(f.Tell(), -1);
    EXPECT_EQ(f.Size(), 0);
    EXPECT_TRUE(f.IsEOF());
    EXPECT_FALSE(f.Seek(0, 0));
    f.Close();
    EXPECT_EQ(f.Size(), 0);
}

TEST_F(DataFileTest, PlainFileIsWholeFile) {
    WriteFile("notes.txt", Text("0123456789"));
    CDataFile f;
    ASSERT_TRUE(Open(f, "notes.txt"));
    EXPECT_EQ(f.Size(), 10);
    EXPECT_EQ(f.Tell(), 0);
    EXPECT_TRUE(f.Seek(3, 2));
    char buffer[3];
    ASSERT_EQ(f.Read(buffer, 3, 1), 1);
    EXPECT_EQ(std::string(buffer, 3), "789");
}

TEST_F(DataFileTest, HostileArchivesAreReadOnlyInsideTheirBounds) {
    // Nothing is read outside the container or the parent entry and no search
    // loops: the program's archive fails and the plain file answers instead.
    using archive::kTypeFile;
    Bytes cutShort = Entry("data", {});
    cutShort.resize(20);
    struct Case {
        const char* what;
        Bytes program;
    } cases[] = {
        {"an entry size below its header",
         ProgramWith(
             Concat({Entry("loop", {}, kTypeFile, 0), Dir("data", {Entry("readme.txt", Text("x"))})}))},
        {"a file entry claiming more than its directory holds",
         ProgramWith(Dir("data", {Entry("readme.txt", Text("abc"), kTypeFile, 40 + 3 + 11 + 100)}))},
        {"a top-level entry running into the trailer",
         ProgramWith(Entry("data", Entry("readme.txt", Text("abc")), archive::kTypeDirectory, 40 + 43 + 5))},
        {"a header cut short", ProgramWith(cutShort)},
        {"a trailer offset before the file", ProgramWith(ShippedArchive(), -5)},
        {"a trailer offset past the file", ProgramWith(ShippedArchive(), 0x7FFFFFF0)},
    };
    WriteFile("data/readme.txt", Text("disk"));
    for (const Case& c : cases) {
        SetProgram(c.program);
        CDataFile f;
        ASSERT_TRUE(Open(f, "data/readme.txt")) << c.what;
        EXPECT_EQ(ReadAllText(f), "disk") << c.what;
    }
}

TEST_F(DataFileTest, NameFieldWithoutTerminatorIsBounded) {
    std::string full(32, 'n');
    SetProgram(ProgramWith(Entry(full, Text("x"))));
    CDataFile f;
    EXPECT_TRUE(Open(f, full.c_str()));
    f.Close();
    EXPECT_FALSE(Open(f, (full + "n").c_str()));
}

TEST_F(DataFileTest, PathPastFileEntrySearchesItsContent) {
    Bytes nested = Entry("inner", Text("deep"));
    SetProgram(ProgramWith(Entry("outer.bin", nested)));
    CDataFile f;
    ASSERT_TRUE(Open(f, "outer.bin/inner"));
    EXPECT_EQ(ReadAllText(f), "deep");
}
