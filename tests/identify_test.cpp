#include <cstring>

#include "engine/manager.h"
#include "platform/framework/cfile.h"
#include "tests/support/sim_fixture.h"

using testdata::Bytes;
using testdata::Entry;
using testdata::FontBuilder;
using testdata::HeadTable;

namespace {

const uint32_t kRev1 = 0x00010000;
const uint32_t kRev2 = 0x00010290;

class IdentifyTest : public testdata::SimMachineTest {
protected:
    // Identification of the bytes as C:\Fonts\f.otf; revision is -1 when untouched.
    int Identify(const Bytes& font, const DiffFileRecord& entry, int* revision) {
        Put("C:\\Fonts\\f.otf", font);
        COpenTypeManager m;
        *revision = -1;
        int r = m.IsTargetFont("C:\\Fonts\\f.otf", &entry, revision);
        EXPECT_EQ(m.Image(), nullptr);
        EXPECT_EQ(m.TagCount(), 0);
        return r;
    }
};

}  // namespace

TEST_F(IdentifyTest, TheExactFontAndRevisionIsATarget) {
    int revision = 0;
    EXPECT_EQ(Identify(testdata::SmallFont(kRev1, "Sorame Gothic W3"), Entry("Sorame Gothic W3", kRev1), &revision), 1);
    EXPECT_EQ(revision, static_cast<int>(kRev1));
}

TEST_F(IdentifyTest, AnotherRevisionIsNotButReportsTheInstalledOne) {
    int revision = 0;
    EXPECT_EQ(Identify(testdata::SmallFont(kRev2, "Sorame Gothic W3"), Entry("Sorame Gothic W3", kRev1), &revision), 0);
    EXPECT_EQ(revision, static_cast<int>(kRev2));
}

TEST_F(IdentifyTest, AnotherNameIsNot) {
    int revision = 0;
    EXPECT_EQ(Identify(testdata::SmallFont(kRev1, "Sorame Gothic W4"), Entry("Sorame Gothic W3", kRev1), &revision), 0);
    EXPECT_EQ(Identify(testdata::SmallFont(kRev1, "Sorame Gothic W3x"), Entry("Sorame Gothic W3", kRev1), &revision), 0);
}

TEST_F(IdentifyTest, TheSecondOfTwoHeadTablesCanMatch) {
    Bytes font = FontBuilder()
                     .Table("head", HeadTable(kRev2))
                     .Table("head", HeadTable(kRev1))
                     .Table("name", testdata::StandardNameTable("Sorame Gothic W3", "m", "w"))
                     .Build();
    int revision = 0;
    EXPECT_EQ(Identify(font, Entry("Sorame Gothic W3", kRev1), &revision), 1);
    EXPECT_EQ(revision, static_cast<int>(kRev1));
}

TEST_F(IdentifyTest, ATableOutsideTheKnownListDoesNotMatter) {
    Bytes font = FontBuilder()
                     .Table("DSIG", Bytes(8, 0))
                     .Table("head", HeadTable(kRev1))
                     .Table("name", testdata::StandardNameTable("Sorame Gothic W3", "m", "w"))
                     .Build();
    int revision = 0;
    EXPECT_EQ(Identify(font, Entry("Sorame Gothic W3", kRev1), &revision), 1);
}

TEST_F(IdentifyTest, OtherFilesAreNotTargetsAndLeaveTheRevisionAlone) {
    const DiffFileRecord entry = Entry("Sorame Gothic W3", kRev1);
    Bytes good = testdata::SmallFont(kRev1, "Sorame Gothic W3");
    Bytes trueType = FontBuilder()
                         .SfntVersion(0x00010000)
                         .Table("head", HeadTable(kRev1))
                         .Table("name", testdata::StandardNameTable("Sorame Gothic W3", "m", "w"))
                         .Build();
    Bytes collection = good;
    std::memcpy(collection.data(), "ttcf", 4);
    Bytes noHead = FontBuilder().Table("name", testdata::StandardNameTable("Sorame Gothic W3", "m", "w")).Build();
    Bytes noName = FontBuilder().Table("head", HeadTable(kRev1)).Build();

    struct Case {
        const char* what;
        Bytes font;
        bool revisionSeen;
    };
    const Case cases[] = {
        {"empty file", Bytes(), false},
        {"TrueType outlines", trueType, false},
        {"font collection", collection, false},
        {"cut offset table", Bytes(good.begin(), good.begin() + 8), false},
        {"directory past the end", Bytes(good.begin(), good.begin() + 12 + 16 * 3), false},
        {"numTables 0xFFFF", FontBuilder()
                                 .Table("head", HeadTable(kRev1))
                                 .NumTables(0xFFFF)
                                 .Build(),
         false},
        {"no head table", noHead, false},
        {"no name table", noName, true},
    };
    for (const Case& c : cases) {
        int revision = 0;
        EXPECT_EQ(Identify(c.font, entry, &revision), 0) << c.what;
        EXPECT_EQ(revision != -1, c.revisionSeen) << c.what;
    }
}

TEST_F(IdentifyTest, TablesReachingPastTheFileAreNotRead) {
    const DiffFileRecord entry = Entry("Sorame Gothic W3", kRev1);
    Bytes font = testdata::SmallFont(kRev1, "Sorame Gothic W3");
    // The name table is the eighth record; the head table the fourth.
    Bytes nameOut = font;
    testdata::PutU32(nameOut, 12 + 16 * 7 + 12, 0x00100000);  // length far past the end
    Bytes headOut = font;
    testdata::PutU32(headOut, 12 + 16 * 3 + 8, 0xFFFFFFF0);  // offset that wraps
    int revision = 0;
    EXPECT_EQ(Identify(nameOut, entry, &revision), 0);
    EXPECT_EQ(revision, static_cast<int>(kRev1));
    EXPECT_EQ(Identify(headOut, entry, &revision), 0);
    EXPECT_EQ(revision, -1);
}

TEST_F(IdentifyTest, AFileInUseOrUnreadableIsToldApartFromOneThatIsNotATarget) {
    const DiffFileRecord entry = Entry("Sorame Gothic W3", kRev1);
    Put("C:\\Fonts\\f.otf", testdata::SmallFont(kRev1, "Sorame Gothic W3"));
    int revision = -1;
    {
        // A writer: a reader alone (as Windows holds a loaded font) is no obstacle.
        CFile other;
        ASSERT_TRUE(other.Open("C:\\Fonts\\f.otf", CFile::modeReadWrite | CFile::shareDenyNone));
        COpenTypeManager m;
        EXPECT_EQ(m.IsTargetFont("C:\\Fonts\\f.otf", &entry, &revision), -1);
    }
    sim::FailCall("ReadFile");
    COpenTypeManager m;
    EXPECT_EQ(m.IsTargetFont("C:\\Fonts\\f.otf", &entry, &revision), -1);
    EXPECT_EQ(m.IsTargetFont("C:\\Fonts\\missing.otf", &entry, &revision), -1);
    Put("C:\\Fonts\\empty.otf", testdata::Bytes());
    EXPECT_EQ(m.IsTargetFont("C:\\Fonts\\empty.otf", &entry, &revision), 0);
    EXPECT_EQ(revision, -1);
    EXPECT_EQ(m.IsTargetFont("C:\\Fonts\\f.otf", &entry, &revision), 1);
}

// Name tables whose records claim more than a re-packed table can address:
// once a heap overrun through a wrapped 32-bit size, an abort for want of
// memory, and 37 s of copying for a 66 KB file.  None is a target, and the
// driver refuses them on loading.
TEST_F(IdentifyTest, NameTablesThatClaimMoreThanTheyHoldAreNotTargets) {
    struct Case {
        const char* what;
        Bytes font;
        size_t size;
    };
    const Case cases[] = {
        {"65,526 records of 65,535 bytes", testdata::ClaimingNameFont(kRev1, 65526, 65535), 786420},
        {"32,769 records of 65,535 bytes", testdata::ClaimingNameFont(kRev1, 32769, 65535), 0},
        {"20 entries for one table of 5,000 records", testdata::ClaimingNameFont(kRev1, 5000, 65535, 65536, 20), 0},
        {"all 65,535 records", testdata::ClaimingNameFont(kRev1, 65535, 65535), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.size) {
            EXPECT_EQ(c.font.size(), c.size);
        }
        int revision = 0;
        EXPECT_EQ(Identify(c.font, Entry("NNNNNNNN", kRev1), &revision), 0);
        EXPECT_EQ(revision, static_cast<int>(kRev1));  // the head test passed: the name table was read

        // Loading refuses a tag named twice; a font that loads is not taken
        // for the entry's.
        COpenTypeManager m;
        const int loaded = m.LoadFont("C:\\Fonts\\f.otf", nullptr, nullptr, 1, 0);
        EXPECT_TRUE(loaded != kReviseOk || !m.LoadedFontIs(Entry("NNNNNNNN", kRev1)));
    }
}

TEST_F(IdentifyTest, RecordsNamingOneLargeTableAreReadWithinOneBudgetByBothReaders) {
    // A name table of 1,000 records with empty strings, named again by three
    // more directory records of other lengths, and then the real one.
    testdata::NameTable large;
    for (int i = 0; i < 1000; ++i) large.Mac(1, "");
    const Bytes real = testdata::StandardNameTable("Sorame Gothic W3", "M", "W");
    auto build = [&](int aliases, uint32_t largeAt, uint32_t largeLength) {
        FontBuilder b;
        b.Table("head", HeadTable(kRev1)).Table("name", large.Build());
        for (int k = 0; k < aliases; ++k) {
            b.Table("name", Bytes(8, 0)).SetOffset(2 + k, largeAt).SetLength(2 + k, largeLength + k + 1);
        }
        return b.Table("name", real).Build();
    };
    const Bytes plain = build(0, 0, 0);
    const Bytes laidOut = build(3, 0, 0);
    const TableRecord largeRecord = DirectoryView(laidOut.data(), laidOut.size()).At(1).record;
    const Bytes aliased = build(3, largeRecord.offset, largeRecord.length);

    const FontIdentity found = ReadFontIdentity(plain.data(), static_cast<uint32_t>(plain.size()), 3);
    EXPECT_STREQ(found.name, "Sorame Gothic W3");
    EXPECT_EQ(ReadFontIdentity(aliased.data(), static_cast<uint32_t>(aliased.size()), 6).name[0], '\0');
    int revision = 0;
    EXPECT_EQ(Identify(plain, Entry("Sorame Gothic W3", kRev1), &revision), 1);
    EXPECT_EQ(Identify(aliased, Entry("Sorame Gothic W3", kRev1), &revision), 0);
}
