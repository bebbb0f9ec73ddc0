#include <cstring>

#include "engine/sabun.h"
#include "tests/support/sim_fixture.h"

using testdata::Bytes;
using testdata::DiffBuilder;
using testdata::DiffRecord;

namespace {

class SabunTest : public testdata::SimMachineTest {
protected:
    static constexpr const char* kPath = "C:\\host\\Sorame-Gothic-W3.pa";

    int Read(CMakeSabunData& d, const Bytes& file) {
        Put(kPath, file);
        return d.ReadFile(kPath);
    }
};

DiffRecord Changed(const char* tag, uint8_t index, uint32_t newLength) {
    DiffRecord r;
    r.tag = tag;
    r.newIndex = index;
    r.newSortedIndex = static_cast<uint8_t>(index + 1);
    r.newLength = newLength;
    r.newOffset = 0x100 * (index + 1);
    r.unchanged = false;
    return r;
}

}  // namespace

TEST_F(SabunTest, ReadHeaderTakesTheNameAndRevision) {
    Put(kPath, DiffBuilder().FontName("Sorame Gothic W3").FromRevision(0x00010290).Build());
    CMakeSabunData d;
    char name[33] = {};
    int revision = 0;
    EXPECT_EQ(d.ReadHeader(kPath, name, &revision), 1);
    EXPECT_STREQ(name, "Sorame Gothic W3");
    EXPECT_EQ(revision, 0x00010290);
    EXPECT_EQ(d.FileImage(), nullptr);
}

TEST_F(SabunTest, ReadHeaderKeepsAllThirtyTwoNameBytes) {
    Put(kPath, DiffBuilder().FontName(std::string(32, 'N')).Build());
    CMakeSabunData d;
    char name[33] = {};
    int revision = 0;
    EXPECT_EQ(d.ReadHeader(kPath, name, &revision), 1);
    EXPECT_EQ(std::string(name), std::string(32, 'N'));
}

TEST_F(SabunTest, ReadHeaderRefusesWhatIsNoDifferenceFile) {
    Bytes good = DiffBuilder().FontName("F").Build();
    struct Case {
        const char* what;
        Bytes file;
    };
    const Case cases[] = {
        {"empty", Bytes()},
        {"wrong magic", DiffBuilder().Magic("RVDX").Build()},
        {"shorter than the probe", Bytes(good.begin(), good.begin() + 39)},
    };
    for (const Case& c : cases) {
        Put(kPath, c.file);
        CMakeSabunData d;
        char name[33] = {};
        int revision = 0;
        EXPECT_EQ(d.ReadHeader(kPath, name, &revision), 0) << c.what;
    }
    CMakeSabunData d;
    char name[33] = {};
    int revision = 0;
    EXPECT_EQ(d.ReadHeader("C:\\host\\missing.pa", name, &revision), -1);
}

TEST_F(SabunTest, ReadFileParsesRecordsAndBlocks) {
    DiffRecord cff = Changed("CFF ", 1, 500);
    cff.copies = {{0, 100, 0}, {200, 50, 300}};
    cff.literals = {{100, testdata::BytesOf("LITERAL")}, {499, Bytes()}};
    DiffRecord head;
    head.tag = "head";
    head.newIndex = 0;
    head.newLength = 54;
    head.newOffset = 0x40;
    DiffRecord empty = Changed("post", 2, 32);

    CMakeSabunData d;
    ASSERT_EQ(Read(d, DiffBuilder().FontName("F").NewFileLength(4096).Record(head).Record(cff).Record(empty).Build()), 1);
    EXPECT_EQ(std::memcmp(d.Header().magic, "RVDF", 4), 0);
    EXPECT_EQ(d.Header().newFileLength, 4096u);
    EXPECT_EQ(d.Header().tableCount, 3);
    EXPECT_EQ(d.Header().reserved1[0], 0xA0);
    EXPECT_EQ(d.Header().reserved2[3], 0xA7);
    ASSERT_EQ(d.RecordCount(), 3);

    CSabunTagObject* h = d.Record(0);
    EXPECT_STREQ(h->m_tag, "head");
    EXPECT_EQ(h->m_hasBlocks, 0);
    EXPECT_EQ(h->m_dataOffset, 0u);
    EXPECT_EQ(h->m_newOffset, 0x40u);

    CSabunTagObject* c = d.Record(1);
    EXPECT_EQ(c->m_hasBlocks, 1);
    EXPECT_EQ(c->m_newSortedIndex, 2);
    ASSERT_EQ(c->m_copyBlocks.GetSize(), 2);
    EXPECT_EQ(c->CopyBlock(1)->m_srcOffset, 200u);
    EXPECT_EQ(c->CopyBlock(1)->m_length, 50u);
    EXPECT_EQ(c->CopyBlock(1)->m_dstOffset, 300u);
    ASSERT_EQ(c->m_literalBlocks.GetSize(), 2);
    EXPECT_STREQ(reinterpret_cast<const char*>(c->LiteralBlock(0)->m_pBytes), "LITERAL");
    EXPECT_EQ(c->LiteralBlock(1)->m_length, 0u);
    EXPECT_EQ(c->LiteralBlock(1)->m_pBytes[0], 0);

    CSabunTagObject* p = d.Record(2);
    EXPECT_EQ(p->m_hasBlocks, 1);
    EXPECT_EQ(p->m_copyBlocks.GetSize(), 0);
    EXPECT_EQ(p->m_literalBlocks.GetSize(), 0);

    EXPECT_EQ(d.FindByIndex(1), c);
    EXPECT_EQ(d.FindByIndex(3), nullptr);
}

TEST_F(SabunTest, NoTablesIsAValidFile) {
    CMakeSabunData d;
    EXPECT_EQ(Read(d, DiffBuilder().Build()), 1);
    EXPECT_EQ(d.RecordCount(), 0);
}

TEST_F(SabunTest, TheEarlierOfTwoRecordsWithOneIndexIsFound) {
    DiffRecord a = Changed("CFF ", 0, 4), b = Changed("head", 0, 4);
    CMakeSabunData d;
    ASSERT_EQ(Read(d, DiffBuilder().Record(a).Record(b).Build()), 1);
    EXPECT_STREQ(d.FindByIndex(0)->m_tag, "CFF ");
}

TEST_F(SabunTest, ACountWithTheTopBitSetMeansNoBlocks) {
    DiffRecord r = Changed("CFF ", 0, 16);
    r.copies = {{0, 4, 0}};
    r.copyCountOverride = 0x80000001;
    // The literal count is then read right after the copy count: the bytes of
    // the copy block that is there, whose first word is srcOffset 0.
    CMakeSabunData d;
    ASSERT_EQ(Read(d, DiffBuilder().Record(r).Build()), 1);
    EXPECT_EQ(d.Record(0)->m_copyBlocks.GetSize(), 0);
    EXPECT_EQ(d.Record(0)->m_literalBlocks.GetSize(), 0);

    DiffRecord l = Changed("CFF ", 0, 16);
    l.literals = {{0, testdata::BytesOf("abcd")}};
    l.literalCountOverride = 0xFFFFFFFF;
    CMakeSabunData d2;
    ASSERT_EQ(Read(d2, DiffBuilder().Record(l).Build()), 1);
    EXPECT_EQ(d2.Record(0)->m_literalBlocks.GetSize(), 0);
}

TEST_F(SabunTest, ADataOffsetAtTheEndFailsAtThatRecord) {
    Bytes probe = DiffBuilder().Record(Changed("CFF ", 0, 4)).Record(Changed("head", 1, 4)).Build();
    DiffRecord second = Changed("head", 1, 4);
    second.dataOffsetOverride = static_cast<int64_t>(probe.size());
    CMakeSabunData d;
    EXPECT_EQ(Read(d, DiffBuilder().Record(Changed("CFF ", 0, 4)).Record(second).Build()), 0);
    EXPECT_EQ(d.RecordCount(), 2);
}

TEST_F(SabunTest, FilesThatReachPastTheirEndAreRefused) {
    DiffRecord many = Changed("CFF ", 0, 16);
    many.copies = {{0, 4, 0}};
    many.copyCountOverride = 0x7FFFFFFF;
    DiffRecord longLiteral = Changed("CFF ", 0, 16);
    longLiteral.literals = {{0, testdata::BytesOf("abcd"), 0xFFFFFFF8}};
    DiffRecord manyLiterals = Changed("CFF ", 0, 16);
    manyLiterals.literals = {{0, testdata::BytesOf("ab")}};
    manyLiterals.literalCountOverride = 1000;
    DiffRecord farAway = Changed("CFF ", 0, 16);
    farAway.dataOffsetOverride = 0xFFFFFFF0;
    // A second record reading the first one's list: each record that points
    // into a list would hold its own copy of all it reads.
    DiffRecord lister = Changed("CFF ", 0, 16);
    lister.literals = {{0, Bytes(100, 0x5A)}};
    DiffRecord sharer = Changed("head", 1, 16);
    sharer.unchanged = true;
    sharer.dataOffsetOverride = 53 + 18 * 2;

    Bytes full = DiffBuilder().Record(Changed("CFF ", 0, 16)).Build();
    Bytes cutList(full.begin(), full.end() - 2);  // the literal count is cut
    Bytes header = DiffBuilder().Build();
    Bytes records = DiffBuilder().Record(Changed("CFF ", 0, 4)).TableCount(9).Build();

    struct Case {
        const char* what;
        Bytes file;
    };
    const Case cases[] = {
        {"empty", Bytes()},
        {"shorter than the header", Bytes(header.begin(), header.begin() + 52)},
        {"records past the end", records},
        {"copy blocks past the end", DiffBuilder().Record(many).Build()},
        {"literal bytes past the end", DiffBuilder().Record(longLiteral).Build()},
        {"literal blocks past the end", DiffBuilder().Record(manyLiterals).Build()},
        {"block list cut", cutList},
        {"data offset past the end", DiffBuilder().Record(farAway).Build()},
        {"two records reading one block list", DiffBuilder().Record(lister).Record(sharer).Build()},
    };
    for (const Case& c : cases) {
        CMakeSabunData d;
        EXPECT_EQ(Read(d, c.file), 0) << c.what;
    }
    CMakeSabunData d;
    EXPECT_EQ(d.ReadFile("C:\\host\\missing.pa"), 0);
}
