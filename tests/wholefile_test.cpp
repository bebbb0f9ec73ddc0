// Reading a file whole, into a new buffer or one kept for it, and which
// file was read.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/wholefile.h"
#include "platform/framework/cfile.h"
#include "tests/support/sim_fixture.h"

using testdata::Bytes;

namespace {

class WholeFileTest : public testdata::SimMachineTest {};

Bytes BytesOf(const WholeFile& file, uint32_t extra = 0) { return Bytes(file.data, file.data + file.length + extra); }

}  // namespace

TEST_F(WholeFileTest, ANewBufferHoldsTheFileAndItsSpareZerosAndTheSizeRuleIsToldApart) {
    Put("C:\\Data\\f.bin", Bytes{1, 2, 3});
    WholeFile file;
    FileIdentity identity;
    ASSERT_EQ(ReadWholeFile("C:\\Data\\f.bin", 3, 2, &file, &identity), kWholeFileRead);
    EXPECT_EQ(BytesOf(file, 2), (Bytes{1, 2, 3, 0, 0}));
    delete[] file.data;
    EXPECT_TRUE(identity.known);

    // The same file by another path is the same file; another is not.
    Put("C:\\Data\\g.bin", Bytes{1, 2, 3});
    FileIdentity again, other;
    ASSERT_TRUE(sim::MakeFolderLink("C:\\Data\\link", "C:\\Data"));
    WholeFile more;
    ASSERT_EQ(ReadWholeFile("C:\\Data\\link\\F.BIN", 3, 0, &more, &again), kWholeFileRead);
    delete[] more.data;
    ASSERT_EQ(ReadWholeFile("C:\\Data\\g.bin", 3, 0, &more, &other), kWholeFileRead);
    delete[] more.data;
    EXPECT_TRUE(again == identity);
    EXPECT_FALSE(other == identity);

    WholeFile untouched;
    EXPECT_EQ(ReadWholeFile("C:\\Data\\f.bin", 2, 0, &untouched), kWholeFileWrongSize);
    Put("C:\\Data\\empty.bin", Bytes());
    EXPECT_EQ(ReadWholeFile("C:\\Data\\empty.bin", 10, 0, &untouched), kWholeFileWrongSize);
    EXPECT_EQ(ReadWholeFile("C:\\Data\\missing.bin", 10, 0, &untouched, &identity), kWholeFileFailed);
    EXPECT_FALSE(identity.known);
    // A writer keeps the file from being read; a reader does not.
    CFile writer;
    ASSERT_TRUE(writer.Open("C:\\Data\\f.bin", CFile::modeWrite | CFile::shareDenyNone));
    EXPECT_EQ(ReadWholeFile("C:\\Data\\f.bin", 10, 0, &untouched), kWholeFileFailed);
    writer.Close();
    EXPECT_EQ(untouched.data, nullptr);
}

TEST_F(WholeFileTest, AKeptBufferIsUsedOnlyWhenTheFileFitsIt) {
    Put("C:\\Data\\f.bin", Bytes{4, 5, 6, 7});
    BYTE kept[4] = {};
    WholeFile file;
    ASSERT_EQ(ReadWholeFileInto("C:\\Data\\f.bin", 10, kept, sizeof kept, &file), kWholeFileRead);
    EXPECT_EQ(file.data, kept);
    EXPECT_EQ(BytesOf(file), (Bytes{4, 5, 6, 7}));

    Put("C:\\Data\\f.bin", Bytes{4, 5, 6, 7, 8});
    std::fill(kept, kept + sizeof kept, 0);
    ASSERT_EQ(ReadWholeFileInto("C:\\Data\\f.bin", 10, kept, sizeof kept, &file), kWholeFileRead);
    EXPECT_NE(file.data, kept);
    EXPECT_EQ(BytesOf(file), (Bytes{4, 5, 6, 7, 8}));
    delete[] file.data;
    EXPECT_EQ(Bytes(kept, kept + sizeof kept), Bytes(4, 0));  // too small: left alone
    ASSERT_EQ(ReadWholeFileInto("C:\\Data\\f.bin", 10, nullptr, 0, &file), kWholeFileRead);
    delete[] file.data;
}
