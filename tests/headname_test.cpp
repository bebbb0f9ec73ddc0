#include <gtest/gtest.h>

#include <cstring>

#include "engine/manager.h"
#include "tests/support/builders.h"

using testdata::Bytes;
using testdata::NameTable;

namespace {

// A font holding just the given name table; the object reads it from there.
struct NameFixture {
    explicit NameFixture(const Bytes& nameTable) {
        image = testdata::FontBuilder().Table("name", nameTable).Build();
        tag.ReadRecord(image.data() + 12, image.data(), static_cast<uint32_t>(image.size()));
        tag.ReadTable(image.data());
    }
    Bytes Reserialised() const { return Bytes(tag.m_pTableData, tag.m_pTableData + tag.m_length); }
    Bytes image;
    CTagNameObject tag;
};

}  // namespace

TEST(NameTableTest, AStandardTableReserialisesToTheSameBytes) {
    Bytes table = testdata::StandardNameTable("Sorame Gothic W3", "MAC-123", "WIN-456");
    NameFixture f(table);
    ASSERT_EQ(f.tag.m_nameTable.m_records.GetSize(), 13);
    EXPECT_EQ(f.Reserialised(), table);
    EXPECT_EQ(f.tag.m_checkSum, testdata::Checksum(table.data(), table.size()));
}

TEST(NameTableTest, ASharedRecordTakesItsSiblingsOffsetButKeepsItsLength) {
    NameTable n;
    n.Mac(2, "Regular")                                  // sibling, offset 0
        .Add(1, 1, 11, 2, testdata::BytesOf("Reg"));    // shared, own string "Reg" in the input
    NameFixture f(n.Build());
    Bytes out = f.Reserialised();
    // The shared record stores no string: the table shrinks by its 3 bytes.
    ASSERT_EQ(out.size(), 6u + 24u + 7u);
    EXPECT_EQ(testdata::GetU16(out, 6 + 12 + 8), 3);   // its own length
    EXPECT_EQ(testdata::GetU16(out, 6 + 12 + 10), 0);  // the sibling's offset
    EXPECT_EQ(f.tag.m_length, out.size());
    EXPECT_EQ(f.tag.m_paddedLength, 40);
}

TEST(NameTableTest, ASharedRecordBeforeItsSiblingTakesOffsetZero) {
    NameTable n;
    n.Mac(1, "Family").Win(6, "PSNAME").Win(4, "Full Name");
    NameFixture f(n.Build());
    Bytes out = f.Reserialised();
    EXPECT_EQ(testdata::GetU16(out, 6 + 12 + 10), 0);
    EXPECT_EQ(testdata::GetU16(out, 6 + 24 + 10), 6);  // after "Family"
}

TEST(NameTableTest, UnusedBytesAndDuplicateStringsAreNotCarriedOver) {
    NameTable n;
    n.Mac(1, "Family").Mac(4, "Family Full");
    Bytes table = n.Build();
    table.insert(table.end(), 9, 0xEE);  // slack after the strings
    NameFixture f(table);
    EXPECT_EQ(f.tag.m_length, table.size() - 9);
}

TEST(NameTableTest, TheFifthRecordIsTakenWhateverItsIds) {
    NameTable n;
    n.Mac(0, "c").Mac(1, "f").Mac(2, "s").Mac(3, "u").Mac(6, "PostScriptName");
    NameFixture f(n.Build());
    char out[255];
    EXPECT_EQ(f.tag.GetFifthRecordString(out), 1);
    EXPECT_STREQ(out, "PostScriptName");
}

TEST(NameTableTest, AWindowsFifthRecordReadsAsEmpty) {
    NameTable n;
    n.Win(0, "c").Win(1, "f").Win(2, "s").Win(3, "u").Win(4, "Full Name");
    NameFixture f(n.Build());
    char out[255];
    EXPECT_EQ(f.tag.GetFifthRecordString(out), 0);
}

TEST(NameTableTest, FewerThanFiveRecordsHaveNoFifthRecord) {
    NameTable n;
    n.Mac(0, "c").Mac(1, "f").Mac(2, "s").Mac(3, "u");
    NameFixture f(n.Build());
    char out[255];
    EXPECT_EQ(f.tag.GetFifthRecordString(out), 0);
}

TEST(NameTableTest, LongStringsAreHeldWholeAndCutOnlyWhereTheyAreCopiedOut) {
    std::string longFull(400, 'F');
    std::string longSerial(662, 'S');
    NameTable n;
    n.Mac(0, "c").Mac(1, "f").Mac(2, "s").Mac(3, "u").Mac(4, longFull).Mac(13, longSerial).Win(13, "w");
    Bytes table = n.Build();
    NameFixture f(table);
    EXPECT_EQ(f.Reserialised(), table);  // nothing lost in the re-serialised table
    char fifth[255];
    EXPECT_EQ(f.tag.GetFifthRecordString(fifth), 1);
    EXPECT_EQ(std::strlen(fifth), 254u);  // a terminated 255-byte buffer

    char mac[255] = {}, win[255] = {};
    EXPECT_EQ(f.tag.GetSerialStrings(mac, win), 1);
    EXPECT_EQ(std::string(mac, 255), std::string(255, 'S'));
    EXPECT_EQ(win[0], 0);
    EXPECT_EQ(win[1], 'w');
}

TEST(NameTableTest, SerialStringsAreFoundPerPlatform) {
    NameTable n;
    n.Mac(13, "mac-serial").Win(13, "ja", 0x411);
    NameFixture f(n.Build());
    char mac[255] = {}, win[255] = {};
    EXPECT_EQ(f.tag.GetSerialStrings(mac, win), 0);  // no English Windows record
    EXPECT_STREQ(mac, "mac-serial");
    EXPECT_EQ(std::string(win, 4), std::string(4, '\0'));
}

TEST(NameTableTest, RecordsOrStringsPastTheTablesEndLeaveNoRecords) {
    struct Case {
        const char* what;
        Bytes table;
    };
    Case cases[] = {
        {"count beyond the table", NameTable().Mac(4, "x").Count(40).Build()},
        {"string past the end", NameTable().Mac(0, "a").Mac(1, "b").SetLastLength(500).Build()},
        {"offset past the end", NameTable().Mac(0, "a").SetLastOffset(0xFFF0).Build()},
        {"storage past the end", NameTable().Mac(0, "a").StringOffset(0xFFFF).Build()},
        {"header cut", Bytes{0, 0, 0}},
    };
    for (const Case& c : cases) {
        NameFixture f(c.table);
        EXPECT_EQ(f.tag.m_nameTable.m_records.GetSize(), 0) << c.what;
        char out[255];
        EXPECT_EQ(f.tag.GetFifthRecordString(out), 0) << c.what;
    }
}

TEST(HeadTableTest, ReadsEveryFieldAndRefusesAShortOrMisplacedTable) {
    Bytes head = testdata::HeadTable(0x00012345, 0xDEADBEEF);
    Bytes image = testdata::FontBuilder().Table("head", head).Build();
    CTagHeadObject h;
    h.ReadRecord(image.data() + 12, image.data(), static_cast<uint32_t>(image.size()));
    ASSERT_TRUE(h.ReadTable(image.data()));
    EXPECT_EQ(h.m_headInfo.m_fontRevision, 0x00012345u);
    EXPECT_EQ(h.m_headInfo.m_magicNumber, 0x5F0F3CF5u);
    EXPECT_EQ(h.m_headInfo.m_unitsPerEm, 1000);
    EXPECT_EQ(h.m_headInfo.m_xMin, -100);
    EXPECT_EQ(h.m_headInfo.m_created[0], 20);
    EXPECT_EQ(h.m_headInfo.m_modified[7], 35);
    EXPECT_EQ(h.m_headInfo.m_fontDirectionHint, 2);

    Bytes shortHead(head.begin(), head.begin() + 40);
    Bytes image2 = testdata::FontBuilder().Table("head", shortHead).Build();
    CTagHeadObject h2;
    h2.ReadRecord(image2.data() + 12, image2.data(), static_cast<uint32_t>(image2.size()));
    EXPECT_FALSE(h2.ReadTable(image2.data()));
}
