#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/fontview.h"
#include "tests/support/builders.h"

using testdata::Bytes;

namespace {

std::vector<std::string> TagsOf(const DirectoryView& dir) {
    std::vector<std::string> tags;
    for (const TableEntry& e : dir) tags.emplace_back(reinterpret_cast<const char*>(e.record.tag), 4);
    return tags;
}

}  // namespace

TEST(DirectoryViewTest, YieldsRecordsAndTheirTablesOnlyWhereTheImageHoldsThem) {
    const Bytes head = testdata::HeadTable(0x00010000);
    Bytes font = testdata::FontBuilder().Table("CFF ", Bytes(10, 7)).Table("head", head).Table("name", Bytes(8, 1))
                     .SetOffset(2, 0x7FFFFFF0).FixChecksums(false).Build();
    const DirectoryView dir(font.data(), font.size());
    EXPECT_TRUE(dir.Fits());
    EXPECT_EQ(TagsOf(dir), (std::vector<std::string>{"CFF ", "head", "name"}));

    const TableEntry found = dir.Find("head");
    ASSERT_TRUE(found);
    EXPECT_EQ(found.slot, 1u);
    EXPECT_EQ(found.recordAt, 28u);
    ASSERT_NE(found.data, nullptr);
    EXPECT_EQ(Bytes(found.data, found.data + found.record.length), head);
    // A record that points past the image is yielded, without its bytes.
    const TableEntry name = dir.Find("name");
    ASSERT_TRUE(name);
    EXPECT_EQ(name.data, nullptr);
    EXPECT_FALSE(dir.Find("GSUB"));
    EXPECT_FALSE(dir.Find("hea"));

    // A directory that claims more records than the image holds yields the
    // ones there; a cut inside a record leaves that record out.
    const DirectoryView cut(font.data(), 12 + 16 + 15);
    EXPECT_FALSE(cut.Fits());
    EXPECT_EQ(cut.DeclaredCount(), 3u);
    EXPECT_EQ(TagsOf(cut), std::vector<std::string>{"CFF "});
    EXPECT_FALSE(cut.Find("head"));
    // The count a parsed offset table gave is taken as given.
    EXPECT_EQ(DirectoryView(font.data(), font.size(), 2).Count(), 2u);
    EXPECT_EQ(DirectoryView(font.data(), 11).Count(), 0u);
    EXPECT_EQ(DirectoryView(nullptr, 100).Count(), 0u);
    const Bytes claiming = testdata::FontBuilder().Table("head", head).NumTables(0xFFFF).Build();
    EXPECT_EQ(DirectoryView(claiming.data(), claiming.size()).Count(), (claiming.size() - 12) / 16);
}

TEST(NameTableViewTest, YieldsStringsOnlyWhenTheyLieInsideTheTable) {
    Bytes table = testdata::NameTable()
                      .Mac(1, "Family")
                      .Mac(4, "Full")
                      .SetLastOffset(0xFFF0)
                      .Mac(13, "Shared")
                      .ShareWith(0)
                      .Build();
    const NameTableView view(table.data(), table.size());
    ASSERT_TRUE(view.HasHeader());
    EXPECT_TRUE(view.RecordsFit());
    ASSERT_EQ(view.Count(), 3u);
    std::vector<std::string> strings;
    for (const NameEntry& e : view) {
        strings.push_back(e.string ? std::string(reinterpret_cast<const char*>(e.string), e.record.length) : "<out>");
    }
    EXPECT_EQ(strings, (std::vector<std::string>{"Family", "<out>", "Family"}));
    EXPECT_EQ(view.At(2).record.nameID, 13u);
    EXPECT_EQ(view.At(2).stringStart, view.At(0).stringStart);

    // Records past the table's end are not yielded; nor is a header that is not there.
    const NameTableView cut(table.data(), kNameHeaderSize + kNameRecordSize * 2 + 11);
    EXPECT_FALSE(cut.RecordsFit());
    EXPECT_EQ(cut.Count(), 2u);
    EXPECT_EQ(cut.Header().count, 3u);
    EXPECT_FALSE(NameTableView(table.data(), 5).HasHeader());
    EXPECT_EQ(NameTableView(table.data(), 5).Count(), 0u);
}

TEST(WorkBudgetTest, AWalkEndsWhereTheBudgetRunsOutAndSharesItWithTheNext) {
    WorkBudget budget(5);
    EXPECT_FALSE(budget.Charge(6));
    EXPECT_EQ(budget.Left(), 5u);  // a charge refused takes nothing
    Bytes table = testdata::NameTable().Mac(0, "a").Mac(1, "b").Mac(2, "c").Build();
    const NameTableView view(table.data(), table.size());
    int walked = 0;
    for (const NameEntry& e : view.Records(&budget)) walked += e.string ? 1 : 0;
    EXPECT_EQ(walked, 3);
    walked = 0;
    for (const NameEntry& e : view.Records(&budget)) walked += e.string ? 1 : 0;
    EXPECT_EQ(walked, 2);
    EXPECT_EQ(budget.Left(), 0u);
    for (const NameEntry& e : view.Records(&budget)) (void)e, ADD_FAILURE() << "walked with a spent budget";
    EXPECT_EQ(WorkBudget::NameRecordsOf(600).Left(), 164u);
}
