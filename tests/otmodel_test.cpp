#include <gtest/gtest.h>

#include <cstring>

#include "engine/manager.h"
#include "tests/support/builders.h"

using testdata::Bytes;

TEST(OffsetTableTest, AcceptsOnlyTheCffSignature) {
    COpenTypeHeader h;
    Bytes cff = testdata::FontBuilder().Table("head", testdata::HeadTable(1)).Build();
    ASSERT_EQ(h.Parse(cff.data(), static_cast<uint32_t>(cff.size())), 1);
    EXPECT_EQ(h.m_format, 2);
    EXPECT_EQ(h.m_numTables, 1);
    EXPECT_EQ(h.m_sfntVersion, 0x4F54544Fu);

    for (uint32_t version : {0x00010000u, 0x74746366u /* "ttcf" */, 0x74727565u /* "true" */, 0u}) {
        COpenTypeHeader other;
        Bytes font = testdata::FontBuilder().SfntVersion(version).Table("head", testdata::HeadTable(1)).Build();
        EXPECT_EQ(other.Parse(font.data(), static_cast<uint32_t>(font.size())), 0) << std::hex << version;
        EXPECT_EQ(other.m_format, -1);
        EXPECT_EQ(other.m_numTables, 0);
    }
    COpenTypeHeader tooShort;
    EXPECT_EQ(tooShort.Parse(cff.data(), 11), 0);
}

TEST(TagObjectTest, PointsIntoTheImageOnlyWhenTheTableIsThere) {
    Bytes font = testdata::FontBuilder().Table("CFF ", Bytes(10, 1)).Table("head", testdata::HeadTable(1)).Build();
    CTagObject cff;
    EXPECT_EQ(cff.ReadRecord(font.data() + 12, font.data(), static_cast<uint32_t>(font.size())), 12);
    EXPECT_STREQ(cff.m_tagName, "CFF ");
    EXPECT_EQ(cff.m_length, 10u);
    EXPECT_EQ(cff.m_pData, font.data() + cff.m_offset);
    EXPECT_TRUE(IsKnownTag(cff.m_tagName));
    EXPECT_FALSE(IsKnownTag("CFF"));

    // The same record read against a shorter image: the table is not inside.
    CTagObject cut;
    cut.ReadRecord(font.data() + 12, font.data(), cff.m_offset + 9);
    EXPECT_FALSE(cut.HasData());
}

TEST(TagListTest, FindTagReturnsTheEarlierOfTwoRecords) {
    CTagObject first, second;
    std::memcpy(first.m_tagName, "head", 5);
    std::memcpy(second.m_tagName, "head", 5);
    CTypedPtrArray<CObArray, CTagObject*> tags;
    tags.Add(&first);
    tags.Add(&second);
    EXPECT_EQ(FindTagIn(tags, "head"), &first);
    EXPECT_EQ(FindTagIn(tags, "name"), nullptr);
    const COpenTypeHeader header;
    EXPECT_EQ((LoadedFont{nullptr, 0, &header, &tags}).FindTag("head"), &first);
}

TEST(ProgressTest, OverallPercentInBothForms) {
    EXPECT_EQ(OverallPercent(3, 1, 10, false), 36);
    EXPECT_EQ(OverallPercent(3, 2, 10, false), 69);
    EXPECT_EQ(OverallPercent(3, 2, 20, false), 72);
    EXPECT_EQ(OverallPercent(3, 2, 30, false), 76);
    EXPECT_EQ(OverallPercent(1, 0, 100, true), 100);
    // The single-precision sum reaches 100 for the last font of three.
    EXPECT_EQ(OverallPercent(3, 2, 100, true), 100);
    EXPECT_EQ(OverallPercent(3, 2, 100, false), 99);
    EXPECT_EQ(OverallPercent(7, 6, 100, true), 100);
    EXPECT_EQ(OverallPercent(3, 0, 90, true), 30);
}
