#include <string>
#include <vector>

#include "engine/manager.h"
#include "platform/framework/cfile.h"
#include "tests/support/sim_fixture.h"

using testdata::Bytes;
using testdata::FontBuilder;
using testdata::HeadTable;

namespace {

struct Report {
    int overall, step;
    std::string line1, line2;
};

struct Recorder {
    std::vector<Report> reports;
    int stopAtStep = -1;
    static int Callback(int overall, int step, const char* line1, const char* line2, void* context) {
        auto* self = static_cast<Recorder*>(context);
        self->reports.push_back(Report{overall, step, line1, line2});
        return step == self->stopAtStep ? 1 : 0;
    }
    std::vector<int> Steps() const {
        std::vector<int> s;
        for (const Report& r : reports) s.push_back(r.step);
        return s;
    }
};

class LoadTest : public testdata::SimMachineTest {
protected:
    static constexpr const char* kPath = "C:\\Windows\\Fonts\\Sorame-Gothic-W3.otf";

    int Load(COpenTypeManager& m, const Bytes& font, Recorder* rec, int fontCount = 1, int fontIndex = 0) {
        Put(kPath, font);
        return m.LoadFont(kPath, Recorder::Callback, rec, fontCount, fontIndex);
    }
};

}  // namespace

TEST_F(LoadTest, LoadsTheTablesInDirectoryAndOffsetOrderWithTheThreeReports) {
    // Directory order CFF, head, name; data order name, CFF, head.
    Bytes font = FontBuilder()
                     .Table("CFF ", Bytes(30, 1))
                     .Table("head", HeadTable(0x00010000))
                     .Table("name", testdata::StandardNameTable("Sorame Gothic W3", "m", "w"))
                     .DataOrder({2, 0, 1})
                     .Build();
    COpenTypeManager m;
    Recorder rec;
    ASSERT_EQ(Load(m, font, &rec, 3, 2), 0);

    EXPECT_STREQ(m.FontName(), "Sorame-Gothic-W3.otf");
    EXPECT_EQ(m.ImageLength(), static_cast<uint32_t>(font.size()));
    ASSERT_EQ(m.TagCount(), 3);
    EXPECT_STREQ(m.Tag(0)->m_tagName, "CFF ");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(m.Tag(i)->m_fileIndex, i);
    EXPECT_STREQ(m.SortedTag(0)->m_tagName, "name");
    EXPECT_STREQ(m.SortedTag(1)->m_tagName, "CFF ");
    EXPECT_STREQ(m.SortedTag(2)->m_tagName, "head");
    EXPECT_EQ(m.Tag(0)->m_sortedIndex, 1);
    EXPECT_EQ(m.Tag(1)->m_sortedIndex, 2);
    EXPECT_EQ(m.Tag(2)->m_sortedIndex, 0);
    EXPECT_EQ(m.Tag(1)->m_pData, m.Image() + m.Tag(1)->m_offset);

    ASSERT_EQ(rec.Steps(), (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(rec.reports[0].overall, 69);
    EXPECT_EQ(rec.reports[1].overall, 72);
    EXPECT_EQ(rec.reports[2].overall, 76);
    CString line1, open, read;
    line1.Format("%sの改訂をしています。", kPath);
    open.Format("%sのファイルをオープンしています。", "Sorame-Gothic-W3");
    read.Format("%sのファイルを読み込んでいます。", "Sorame-Gothic-W3");
    for (const Report& r : rec.reports) EXPECT_EQ(r.line1, static_cast<const char*>(line1));
    EXPECT_EQ(rec.reports[0].line2, static_cast<const char*>(open));
    EXPECT_EQ(rec.reports[1].line2, static_cast<const char*>(read));
    EXPECT_EQ(rec.reports[2].line2, "タグデータを読み込みました。");
}

TEST_F(LoadTest, ANullContextLoadsWithoutAnyReport) {
    COpenTypeManager m;
    Put(kPath, testdata::SmallFont(0x00010000, "Sorame Gothic W3"));
    static int calls = 0;
    auto counting = [](int, int, const char*, const char*, void*) { return ++calls, 0; };
    EXPECT_EQ(m.LoadFont(kPath, counting, nullptr, 1, 0), 0);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(m.TagCount(), 9);
}

TEST_F(LoadTest, AStopAtAnyReportGivesEight) {
    for (int step : {10, 20, 30}) {
        COpenTypeManager m;
        Recorder rec;
        rec.stopAtStep = step;
        EXPECT_EQ(Load(m, testdata::SmallFont(0x00010000, "F"), &rec), 8) << step;
        EXPECT_EQ(rec.reports.back().step, step);
        if (step == 20) {
            EXPECT_EQ(m.TagCount(), 0);
        }
    }
}

TEST_F(LoadTest, AnUnknownTableFailsBetweenTheSecondAndThirdReport) {
    Bytes font = FontBuilder().Table("CFF ", Bytes(8, 1)).Table("DSIG", Bytes(8, 0)).Table("head", HeadTable(1)).Build();
    COpenTypeManager m;
    Recorder rec;
    EXPECT_EQ(Load(m, font, &rec), 1);
    EXPECT_EQ(rec.Steps(), (std::vector<int>{10, 20}));
    EXPECT_EQ(m.TagCount(), 1);  // the tables before it stay until Reset
}

TEST_F(LoadTest, TrueTypeFailsAfterTheFirstReport) {
    Bytes font = FontBuilder().SfntVersion(0x00010000).Table("head", HeadTable(1)).Build();
    COpenTypeManager m;
    Recorder rec;
    EXPECT_EQ(Load(m, font, &rec), 1);
    EXPECT_EQ(rec.Steps(), (std::vector<int>{10}));
}

TEST_F(LoadTest, MalformedFilesGiveOneWithoutReadingOutsideTheImage) {
    Bytes good = testdata::SmallFont(0x00010000, "F");
    Bytes tablePastEnd = good;
    testdata::PutU32(tablePastEnd, 12 + 16 * 2 + 12, 0x7FFFFFFF);  // cmap's length
    Bytes offsetWraps = good;
    testdata::PutU32(offsetWraps, 12 + 16 * 0 + 8, 0xFFFFFFFE);
    Bytes lastTableUnpadded = good;
    lastTableUnpadded.resize(good.size() - 1);  // post reaches one byte past the end
    struct Case {
        const char* what;
        Bytes font;
    };
    const Case cases[] = {
        {"empty", Bytes()},
        {"offset table cut", Bytes(good.begin(), good.begin() + 11)},
        {"directory past the end", Bytes(good.begin(), good.begin() + 12 + 16 * 5)},
        {"numTables 0xFFFF", FontBuilder().Table("head", HeadTable(1)).NumTables(0xFFFF).Build()},
        {"table past the end", tablePastEnd},
        {"offset that wraps", offsetWraps},
        {"last table cut", lastTableUnpadded},
    };
    for (const Case& c : cases) {
        COpenTypeManager m;
        Recorder rec;
        EXPECT_EQ(Load(m, c.font, &rec), 1) << c.what;
    }
}

TEST_F(LoadTest, AFileThatCannotBeOpenedOrReadGivesOne) {
    Put(kPath, testdata::SmallFont(0x00010000, "F"));
    COpenTypeManager m;
    Recorder rec;
    {
        CFile holder;
        ASSERT_TRUE(holder.Open(kPath, CFile::modeReadWrite | CFile::shareDenyNone));
        EXPECT_EQ(m.LoadFont(kPath, Recorder::Callback, &rec, 1, 0), 1);
    }
    sim::FailCall("ReadFile");
    EXPECT_EQ(m.LoadFont(kPath, Recorder::Callback, &rec, 1, 0), 1);
    sim::FailCall("GetFileSize");
    EXPECT_EQ(m.LoadFont(kPath, Recorder::Callback, &rec, 1, 0), 1);
    EXPECT_TRUE(rec.reports.empty());
    EXPECT_EQ(m.LoadFont(kPath, Recorder::Callback, &rec, 1, 0), 0);
}
