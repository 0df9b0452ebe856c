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

TEST_F(DataFileTest, ProgramArchiveWinsOverDiskAndArchiveFiles) {
    SetProgram(ProgramWith(ShippedArchive()));
    WriteFile("data/koala.tga", Text("disk koala"));
    WriteFile("extra.Trovake", Dir("data", {Entry("koala.tga", Text("trovake koala"))}));
    CDataFile f;
    ASSERT_TRUE(Open(f, "data/koala.tga"));
    EXPECT_EQ(ReadAllText(f), "archive koala");
}

TEST_F(DataFileTest, MissingFromProgramFoundOnDiskThenInArchiveFile) {
    SetProgram(ProgramWith(ShippedArchive()));
    WriteFile("data/disk.txt", Text("on disk"));
    WriteFile("Extra.TROVAKE", Dir("data", {Entry("packed.txt", Text("in trovake"))}));
    CDataFile f;
    ASSERT_TRUE(Open(f, "data/disk.txt"));
    EXPECT_EQ(ReadAllText(f), "on disk");
    f.Close();
    ASSERT_TRUE(Open(f, "data/packed.txt"));
    EXPECT_EQ(ReadAllText(f), "in trovake");
    f.Close();
    EXPECT_FALSE(Open(f, "data/nowhere.txt"));
    EXPECT_EQ(f.Size(), 0);
}

TEST_F(DataFileTest, ProgramWithoutTrailerFallsThrough) {
    SetProgram(Text("just an executable image, no archive"));
    WriteFile("data/koala.tga", Text("disk koala"));
    CDataFile f;
    ASSERT_TRUE(Open(f, "data/koala.tga"));
    EXPECT_EQ(ReadAllText(f), "disk koala");
}

TEST_F(DataFileTest, DirectoryOnDiskIsFoundButNotOpenedAndStopsTheSearch) {
    std::filesystem::create_directories("data/sub");
    WriteFile("a.Trovake", Dir("data", {Dir("sub", {Entry("x", Text("x"))})}));
    CDataFile f;
    EXPECT_FALSE(Open(f, "data/sub"));
    EXPECT_EQ(f.Tell(), -1);
}

TEST_F(DataFileTest, NamesMatchIgnoringCaseButOnlyAsWholeNames) {
    SetProgram(ProgramWith(ShippedArchive()));
    CDataFile f;
    ASSERT_TRUE(Open(f, "DATA/Koala.TGA"));
    EXPECT_EQ(ReadAllText(f), "archive koala");
    f.Close();
    EXPECT_FALSE(Open(f, "data2/koala.tga"));
    EXPECT_FALSE(Open(f, "dat/koala.tga"));
    EXPECT_FALSE(Open(f, "data/koala.tg"));
}

TEST_F(DataFileTest, ExtraSlashesAddNoComponents) {
    SetProgram(ProgramWith(ShippedArchive()));
    CDataFile f;
    ASSERT_TRUE(Open(f, "//data///readme.txt/"));
    EXPECT_EQ(ReadAllText(f), "hello");
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

// Hostile archives: nothing is read outside the container or the parent entry, and no search loops.
TEST_F(DataFileTest, EntrySizeBelowHeaderEndsTheSearch) {
    Bytes looping = Entry("loop", {}, archive::kTypeFile, 0);
    SetProgram(ProgramWith(Concat({looping, Entry("data", Text("x"))})));
    WriteFile("data", Text("disk"));
    CDataFile f;
    ASSERT_TRUE(Open(f, "data"));
    EXPECT_EQ(ReadAllText(f), "disk");
}

TEST_F(DataFileTest, EntryPastParentIsNotFollowed) {
    // The file entry claims more bytes than its directory holds, reaching the trailer.
    Bytes inner = Entry("koala.tga", Text("abc"), archive::kTypeFile, 40 + 3 + 11 + 100);
    SetProgram(ProgramWith(Dir("data", {inner})));
    CDataFile f;
    EXPECT_FALSE(Open(f, "data/koala.tga"));
    // A top-level entry that runs into the trailer is refused as well.
    SetProgram(ProgramWith(Entry("data", Text("abc"), archive::kTypeFile, 40 + 3 + 5)));
    EXPECT_FALSE(Open(f, "data"));
}

TEST_F(DataFileTest, HeaderCutShortIsRefused) {
    Bytes partial = Entry("data", {});
    partial.resize(20);
    SetProgram(ProgramWith(partial));
    CDataFile f;
    EXPECT_FALSE(Open(f, "data"));
}

TEST_F(DataFileTest, TrailerOffsetOutsideFileFallsThrough) {
    WriteFile("data/readme.txt", Text("disk"));
    CDataFile f;
    SetProgram(ProgramWith(ShippedArchive(), -5));
    ASSERT_TRUE(Open(f, "data/readme.txt"));
    EXPECT_EQ(ReadAllText(f), "disk");
    f.Close();
    SetProgram(ProgramWith(ShippedArchive(), 0x7FFFFFF0));
    ASSERT_TRUE(Open(f, "data/readme.txt"));
    EXPECT_EQ(ReadAllText(f), "disk");
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
