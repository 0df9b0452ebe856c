#include "archive_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "data/data_file.h"
#include "test_files.h"

using namespace testfiles;

struct PackerTest : ::testing::Test {
    ScratchDir dir;
};

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
