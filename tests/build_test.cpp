// Building the revised font from the installed one and its difference file.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "engine/manager.h"
#include "platform/framework/cfile.h"
#include "tests/support/revision.h"
#include "tools/paproducer/paproducer.h"

using testdata::Bytes;
using testdata::CopyBlock;
using testdata::DiffBuilder;
using testdata::DiffRecord;
using testdata::FontBuilder;
using testdata::HeadTable;
using testdata::LiteralBlock;
using testdata::ProgressRecorder;

namespace {

const uint32_t kRev1 = 0x00010000;
const uint32_t kRev2 = 0x0001028F;

Bytes Cff(size_t n, int seed) {
    Bytes b = testdata::BytesOf("CFF-DATA-");
    for (size_t i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(i * 7 + seed));
    return b;
}

// The installed font: every table but the first has a length that leaves
// padding, which `padding` fills (an installed file need not hold zeros there).
FontBuilder InstalledTables(uint8_t padding = 0) {
    return FontBuilder()
        .Table("CFF ", Cff(210, 0))
        .Table("OS/2", Bytes(96, 0x22))
        .Table("cmap", Bytes(41, 0x33))
        .Table("head", HeadTable(kRev1))
        .Table("hhea", Bytes(36, 0x44))
        .Table("hmtx", Bytes(63, 0x55))
        .Table("maxp", Bytes(6, 0x66))
        .Table("name", testdata::StandardNameTable("Sorame Gothic W3", "MAC-SERIAL-0001", "WIN-SERIAL-0001"))
        .Table("post", Bytes(30, 0x77))
        .Garbage(padding);
}

Bytes Installed(uint8_t padding = 0) { return InstalledTables(padding).Build(); }

Bytes Keep(const Bytes& font) { return testdata::DiffOf(testdata::KeepEverything(font), static_cast<uint32_t>(font.size())); }

size_t IndexOf(const std::vector<DiffRecord>& records, const std::string& tag) {
    for (size_t i = 0; i < records.size(); ++i) {
        if (records[i].tag == tag) return i;
    }
    return SIZE_MAX;
}

Bytes TableAt(const Bytes& font, const std::string& tag) {
    const auto d = testdata::Directory(font);
    const testdata::DirectoryEntry* e = testdata::FindEntry(d, tag);
    if (!e) return Bytes();
    return Bytes(font.begin() + e->offset, font.begin() + e->offset + e->length);
}

class BuildTest : public testdata::RevisionTest {};

}  // namespace

TEST_F(BuildTest, KeepingEveryTableGivesTheInstalledFontWithZeroPaddingAndRightChecksums) {
    COpenTypeManager m;
    const Bytes installed = Installed(0xEE);
    ASSERT_EQ(Revise(m, installed, Keep(installed)), 0);

    const Bytes out = Output();
    Bytes mac, win;
    testdata::SerialsOf(installed, &mac, &win);
    // The same layout with zero padding is what the revised file must hold;
    // its checksums are those of the tables padded with zeros, not with the
    // bytes that followed them in the installed file.
    EXPECT_EQ(out, testdata::ExpectedRevision(Installed(0), mac, win));
    EXPECT_TRUE(testdata::ChecksumsAreRight(out));
    EXPECT_EQ(m.OutputSum(), 0xB1B0AFBAu);
    EXPECT_EQ(m.Output(), nullptr);

    // The file read back after a build goes into the memory the image left:
    // one that has grown since no longer fits it, and is still read whole.
    // Grown at all, it is not the image written, even by zeros that leave
    // its word sum alone.
    EXPECT_EQ(m.VerifyRevisedFile(kTempPath, m.OutputSum()), 0);
    for (const size_t extra : {1, 3, 4, 8}) {
        for (const uint8_t fill : {0x00, 0x5A}) {
            Bytes grown = out;
            grown.resize(out.size() + extra, fill);
            Put(kTempPath, grown);
            EXPECT_EQ(m.VerifyRevisedFile(kTempPath, m.OutputSum()), 12) << extra << " " << int{fill};
        }
    }
}

TEST_F(BuildTest, AProducedDifferenceFileGivesTheRevisedFontWithTheInstalledSerials) {
    const Bytes installed = Installed();
    Bytes cff = Cff(210, 0);
    cff.insert(cff.begin() + 90, {'N', 'E', 'W'});
    cff.erase(cff.begin() + 150, cff.begin() + 160);
    Bytes hmtx(63, 0x55);
    hmtx[10] = 0x01;
    testdata::NameTable name;
    name.Mac(0, "Copyright test foundry").Mac(1, "Sorame Test").Mac(2, "Regular").Mac(3, "TestFoundry: rev")
        .Mac(4, "Sorame Gothic W3")
        .Mac(13, "XXXXXXXX")                      // shorter than the serial: cut
        .Win(13, "XXXXXXXXXXXXXXXXXXXX")          // longer: zero-padded
        .Win(13, "XXXXXX", 0x411)                 // another language: the Windows string
        .Add(0, 3, 0, 13, Bytes(10, 'X'));        // Unicode platform: likewise
    const Bytes revised = FontBuilder()
                              .Table("CFF ", cff)
                              .Table("OS/2", Bytes(96, 0x22))
                              .Table("cmap", Bytes(41, 0x33))
                              .Table("head", HeadTable(kRev2))
                              .Table("hhea", Bytes(36, 0x44))
                              .Table("hmtx", hmtx)
                              .Table("maxp", Bytes(6, 0x66))
                              .Table("name", name.Build())
                              .Table("post", Bytes(30, 0x77))
                              .DataOrder({3, 4, 6, 8, 1, 2, 7, 0, 5})
                              .Build();
    std::string error;
    const Bytes diff = paproducer::MakeDifference(installed, revised, &error);
    ASSERT_FALSE(diff.empty()) << error;

    COpenTypeManager m;
    ASSERT_EQ(Revise(m, installed, diff), 0);
    const Bytes out = Output();
    Bytes mac, win;
    testdata::SerialsOf(installed, &mac, &win);
    EXPECT_EQ(out, testdata::ExpectedRevision(revised, mac, win));
    EXPECT_TRUE(testdata::ChecksumsAreRight(out));

    // Spelled out for two of the strings.
    std::vector<std::string> serials;
    testdata::ForEachName(out, [&](uint16_t, uint16_t, uint16_t, uint16_t id, size_t at, size_t len) {
        if (id == 13) serials.push_back(std::string(out.begin() + at, out.begin() + at + len));
    });
    ASSERT_EQ(serials.size(), 4u);
    EXPECT_EQ(serials[0], "MAC-SERI");
    EXPECT_EQ(serials[1], std::string("\0W\0I\0N\0-\0S\0E\0R\0I\0A\0L\0-\0000\0000\0000\0001", 30) + std::string(10, '\0'));
    EXPECT_EQ(serials[3], std::string("\0W\0I\0N\0-\0S", 10));
}

TEST_F(BuildTest, ReportsFiveStepsWithTheirTextsEvenWithoutAContext) {
    COpenTypeManager m;
    const Bytes installed = Installed();
    ProgressRecorder rec;
    ASSERT_EQ(Revise(m, installed, Keep(installed), &rec, 3, 1), 0);
    ASSERT_EQ(rec.Steps(), (std::vector<int>{40, 55, 65, 75, 90}));
    // 33 + step / 3; the last one in floating point: 33.33 + 30 truncated.
    const int overall[] = {46, 51, 54, 58, 63};
    const char* texts[] = {"%sのファイルをオープンしています。", "%sのファイルを読み込んでいます。",
                           "%sのファイルにシリアルナンバーを書き込んでいます。",
                           "%sのファイルにチェックサムを再計算しています。", "%sのファイルを作成しています。"};
    CString line1;
    line1.Format("%sの改訂をしています。", kFontPath);
    for (size_t i = 0; i < rec.reports.size(); ++i) {
        CString line2;
        line2.Format(texts[i], "Sorame-Gothic-W3");
        EXPECT_EQ(rec.reports[i].overall, overall[i]) << i;
        EXPECT_EQ(rec.reports[i].line1, static_cast<const char*>(line1));
        EXPECT_EQ(rec.reports[i].line2, static_cast<const char*>(line2));
        EXPECT_EQ(rec.reports[i].context, &rec);
    }

    // The last font of a run reaches the top of the scale in floating point.
    COpenTypeManager last;
    ProgressRecorder lastRec;
    ASSERT_EQ(Revise(last, installed, Keep(installed), &lastRec, 3, 2), 0);
    EXPECT_EQ(lastRec.reports.back().overall, 96);

    ProgressRecorder* nobody = ProgressRecorder::NullContextRecorder();
    nobody->reports.clear();
    COpenTypeManager quiet;
    ASSERT_EQ(Prepare(quiet, installed, Keep(installed)), 0);
    ASSERT_EQ(quiet.CreateRevisedFile(kFontPath, kDiffPath, kTempPath, ProgressRecorder::Callback, nullptr, 1, 0), 0);
    EXPECT_EQ(nobody->Steps(), (std::vector<int>{40, 55, 65, 75, 90}));
}

TEST_F(BuildTest, DirectorySlotsFollowNewIndexNotTheInstalledOrder) {
    const Bytes installed = Installed();
    std::vector<DiffRecord> records = testdata::KeepEverything(installed);
    for (DiffRecord& r : records) r.newIndex = static_cast<uint8_t>(records.size() - 1 - r.newIndex);
    COpenTypeManager m;
    ASSERT_EQ(Revise(m, installed, testdata::DiffOf(records, static_cast<uint32_t>(installed.size()))), 0);

    const Bytes out = Output();
    const auto before = testdata::Directory(installed);
    const auto after = testdata::Directory(out);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after[before.size() - 1 - i].tag, before[i].tag);
        EXPECT_EQ(after[before.size() - 1 - i].offset, before[i].offset);
    }
    EXPECT_TRUE(testdata::ChecksumsAreRight(out));
    // The table objects now carry their revised slots.
    EXPECT_EQ(m.FindTag("CFF ")->m_fileIndex, static_cast<int>(before.size() - 1));
}

TEST_F(BuildTest, BlocksAreCutToTheNewLengthLiteralsWinAndOldPaddingReadsAsZeros) {
    const Bytes installed = Installed(0xEE);
    const Bytes oldCff = TableAt(installed, "CFF ");
    std::vector<DiffRecord> records = testdata::KeepEverything(installed);

    DiffRecord& cff = records[IndexOf(records, "CFF ")];
    cff.unchanged = false;
    cff.newLength = 40;
    cff.copies = {CopyBlock{0, 10, 0}, CopyBlock{100, 50, 30}};  // the second reaches past 40
    cff.literals = {LiteralBlock{5, testdata::BytesOf("LIT")},   // over copied bytes
                    LiteralBlock{40, testdata::BytesOf("ZZ")},   // at the new length: nothing
                    LiteralBlock{38, testdata::BytesOf("QQQQ")}};  // cut to two bytes

    DiffRecord& post = records[IndexOf(records, "post")];
    post.unchanged = false;
    post.newLength = 4;
    post.copies = {CopyBlock{28, 4, 0}};  // the last two bytes lie in the old padding

    DiffRecord& maxp = records[IndexOf(records, "maxp")];
    maxp.unchanged = false;  // an empty block list: zeros, not the old table
    maxp.newLength = 6;

    COpenTypeManager m;
    ASSERT_EQ(Revise(m, installed, testdata::DiffOf(records, static_cast<uint32_t>(installed.size()))), 0);
    const Bytes out = Output();

    Bytes expectCff(40, 0);
    std::copy(oldCff.begin(), oldCff.begin() + 10, expectCff.begin());
    std::copy(oldCff.begin() + 100, oldCff.begin() + 110, expectCff.begin() + 30);
    std::copy_n("LIT", 3, expectCff.begin() + 5);
    std::copy_n("QQ", 2, expectCff.begin() + 38);
    EXPECT_EQ(TableAt(out, "CFF "), expectCff);
    EXPECT_EQ(TableAt(out, "post"), (Bytes{0x77, 0x77, 0, 0}));
    EXPECT_EQ(TableAt(out, "maxp"), Bytes(6, 0));
    EXPECT_TRUE(testdata::ChecksumsAreRight(out));
    // Between the shrunken CFF table and the next one the file holds zeros.
    const uint32_t cffAt = testdata::FindEntry(testdata::Directory(out), "CFF ")->offset;
    EXPECT_EQ(Bytes(out.begin() + cffAt + 40, out.begin() + cffAt + 220), Bytes(180, 0));
}

TEST_F(BuildTest, AStopAtAnyStepGivesEightAndOnlyAStopAtNinetyLeavesTheFile) {
    const Bytes installed = Installed();
    for (int step : {40, 55, 65, 75, 90}) {
        COpenTypeManager m;
        ProgressRecorder rec;
        rec.stopAtStep = step;
        EXPECT_EQ(Revise(m, installed, Keep(installed), &rec), 8) << step;
        EXPECT_EQ(rec.Steps().back(), step);
        EXPECT_EQ(OutputExists(), step == 90) << step;
        EXPECT_EQ(m.Output(), nullptr);
        std::remove(sim::HostPath(kTempPath).c_str());
    }

    // The stop at 40 comes before the difference file is read.
    COpenTypeManager m;
    ProgressRecorder rec;
    rec.stopAtStep = 40;
    EXPECT_EQ(Revise(m, installed, testdata::BytesOf("not a difference file"), &rec), 8);
    EXPECT_EQ(m.SabunData(), nullptr);
}

TEST_F(BuildTest, AFontWithoutNameOrWithoutAWholeHeadTableIsNotWritten) {
    struct Case {
        const char* what;
        Bytes font;
        int result;
    };
    const Bytes name = testdata::StandardNameTable("Sorame Gothic W3", "M", "W");
    const Bytes head = HeadTable(kRev1);
    const Case cases[] = {
        {"no name table", FontBuilder().Table("CFF ", Bytes(20, 1)).Table("head", HeadTable(kRev1)).Build(), 10},
        {"no head table", FontBuilder().Table("CFF ", Bytes(20, 1)).Table("name", name).Build(), 12},
        {"head table of 40 bytes",
         FontBuilder().Table("head", Bytes(head.begin(), head.begin() + 40)).Table("name", name).Build(),
         12},
    };
    for (const Case& c : cases) {
        for (int stopAt : {-1, 75}) {
            COpenTypeManager m;
            ProgressRecorder rec;
            rec.stopAtStep = stopAt;
            // A stop asked for at 75 wins over the missing head table.
            const int expected = stopAt == 75 && c.result == 12 ? 8 : c.result;
            EXPECT_EQ(Revise(m, c.font, Keep(c.font), &rec), expected) << c.what;
            EXPECT_FALSE(OutputExists()) << c.what;
        }
    }
}

TEST_F(BuildTest, AnUnreadableDifferenceFileGivesNine) {
    const Bytes installed = Installed();
    const Bytes good = Keep(installed);

    DiffRecord changed = testdata::KeepEverything(installed)[0];
    changed.unchanged = false;
    changed.literals = {LiteralBlock{0, Bytes(8, 1)}};
    std::vector<DiffRecord> records = testdata::KeepEverything(installed);
    records[0] = changed;
    const Bytes withBlocks = testdata::DiffOf(records, static_cast<uint32_t>(installed.size()));
    const size_t blockList = testdata::GetU32(withBlocks, 53 + 6);

    std::vector<std::pair<const char*, Bytes>> cases = {
        {"empty", Bytes()},
        {"header cut short", Bytes(good.begin(), good.begin() + 52)},
        {"records cut short", Bytes(good.begin(), good.end() - 1)},
        {"literal cut short", Bytes(withBlocks.begin(), withBlocks.end() - 1)},
        {"block list cut short", Bytes(withBlocks.begin(), withBlocks.begin() + blockList + 6)},
    };
    records[0].dataOffsetOverride = static_cast<int64_t>(withBlocks.size());
    cases.push_back({"block list at the end of the file", testdata::DiffOf(records, static_cast<uint32_t>(installed.size()))});
    records[0].dataOffsetOverride = -1;
    records[0].copyCountOverride = 0x10000000;
    cases.push_back({"copy count past the end", testdata::DiffOf(records, static_cast<uint32_t>(installed.size()))});

    for (const auto& c : cases) {
        COpenTypeManager m;
        EXPECT_EQ(Revise(m, installed, c.second), 9) << c.first;
        EXPECT_FALSE(OutputExists()) << c.first;
    }

    COpenTypeManager m;
    Put(kFontPath, installed);
    ASSERT_EQ(m.LoadFont(kFontPath, nullptr, nullptr, 1, 0), 0);
    EXPECT_EQ(m.CreateRevisedFile(kFontPath, "C:\\Program\\host\\missing.pa", kTempPath, nullptr, nullptr, 1, 0), 9);
}

TEST_F(BuildTest, AFailureToCreateWriteOrCloseTheTemporaryFileGivesThree) {
    const Bytes installed = Installed();
    // After loading, the difference file is the first file opened and
    // closed; the temporary file is the second.
    const std::pair<const char*, unsigned> failures[] = {{"CreateFileA", 2}, {"WriteFile", 1}, {"CloseHandle", 2}};
    for (const auto& f : failures) {
        COpenTypeManager m;
        ASSERT_EQ(Prepare(m, installed, Keep(installed)), 0);
        sim::FailCall(f.first, f.second);
        EXPECT_EQ(Build(m), 3) << f.first;
        sim::ClearFailures();
        EXPECT_EQ(m.Output(), nullptr);
        EXPECT_EQ(m.OutputSum(), 0u) << f.first;
        std::remove(sim::HostPath(kTempPath).c_str());
    }

    // A temporary file that another program holds open cannot be created.
    COpenTypeManager m;
    ASSERT_EQ(Prepare(m, installed, Keep(installed)), 0);
    Put(kTempPath, Bytes(4, 0));
    CFile holder;
    ASSERT_TRUE(holder.Open(kTempPath, CFile::modeRead | CFile::shareDenyNone));
    EXPECT_EQ(Build(m), 3);
    holder.Close();
}

// Every rule a difference file must keep, broken one at a time.  None of
// them may crash or reach outside a buffer; all end with 1 and no file.
TEST_F(BuildTest, DifferenceFilesThatDoNotFitTheFontAreRefusedWithOne) {
    const Bytes installed = Installed();
    const uint32_t size = static_cast<uint32_t>(installed.size());
    const auto dir = testdata::Directory(installed);
    using Records = std::vector<DiffRecord>;
    struct Case {
        const char* what;
        std::function<void(Records&, uint32_t&, int&)> breakIt;  // records, newFileLength, tableCount
    };
    auto changed = [](DiffRecord& r, uint32_t newLength, std::vector<CopyBlock> copies) {
        r.unchanged = false;
        r.newLength = newLength;
        r.copies = std::move(copies);
    };
    const size_t cff = 0, os2 = 1, maxp = 6, post = 8;
    const Case cases[] = {
        {"two records share a slot, one slot is empty", [](Records& r, uint32_t&, int&) { r[1].newIndex = r[0].newIndex; }},
        {"a slot beyond the table count", [](Records& r, uint32_t&, int&) { r[2].newIndex = 9; }},
        {"a slot far beyond", [](Records& r, uint32_t&, int&) { r[2].newIndex = 255; }},
        {"a table the font lacks", [](Records& r, uint32_t&, int&) { r[2].tag = "vhea"; }},
        {"a tag outside the known ones", [](Records& r, uint32_t&, int&) { r[2].tag = "DSIG"; }},
        {"a tag twice", [](Records& r, uint32_t&, int&) { r[2].tag = r[1].tag; }},
        {"fewer records than tables", [](Records& r, uint32_t&, int&) { r.pop_back(); }},
        {"no records at all", [](Records& r, uint32_t&, int&) { r.clear(); }},
        {"more records than tables",
         [](Records& r, uint32_t& length, int&) {
             DiffRecord extra;
             extra.tag = "vhea";
             extra.newIndex = static_cast<uint8_t>(r.size());
             extra.unchanged = false;
             extra.newLength = 8;
             extra.newOffset = length;
             r.push_back(extra);
             length += 8;
         }},
        {"a stated table count above the records", [](Records&, uint32_t&, int& count) { count = 10; }},
        {"a stated table count below the records", [](Records&, uint32_t&, int& count) { count = 8; }},
        {"newFileLength not a multiple of 4", [](Records&, uint32_t& length, int&) { length += 2; }},
        {"newFileLength shorter than the last table", [](Records&, uint32_t& length, int&) { length -= 4; }},
        {"newFileLength shorter than the directory", [](Records& r, uint32_t& length, int&) {
             length = 16;
             for (DiffRecord& x : r) x.newOffset = 0, x.unchanged = false, x.newLength = 0;
         }},
        {"newFileLength of 4 GB less 4", [](Records&, uint32_t& length, int&) { length = 0xFFFFFFFC; }},
        // Damaged fields, as fuzzing found them: 256 MB that no table holds.
        {"newFileLength far past the last table", [](Records&, uint32_t& length, int&) { length += 0x10000000; }},
        {"a table moved far out, the length with it", [](Records& r, uint32_t& length, int&) {
             r.back().newOffset += 0x10000000;
             length += 0x10000000;
         }},
        {"a table past the end of the new file",
         [=](Records& r, uint32_t&, int&) { r[post].newOffset = size; }},
        {"a table whose end wraps around 32 bits",
         [=](Records& r, uint32_t&, int&) { r[os2].newOffset = 0xFFFFFFF0; }},
        {"a changed table longer than the file",
         [&](Records& r, uint32_t&, int&) { changed(r[post], 0xFFFFFFFF, {}); }},
        {"two tables overlapping", [](Records& r, uint32_t&, int&) { r[1].newOffset = r[0].newOffset + 4; }},
        {"two tables at the same offset", [](Records& r, uint32_t&, int&) { r[3].newOffset = r[2].newOffset; }},
        {"a grown table reaching into the next one",
         [&](Records& r, uint32_t&, int&) { changed(r[maxp], 9, {}); }},
        {"a taken-over table whose old length does not fit where it is put",
         [&](Records& r, uint32_t&, int&) {
             // The record's own length is small, but a table taken over keeps
             // its old one, which reaches into the next table.
             r[os2].newLength = 4;
             r[os2 + 1].newOffset = r[os2].newOffset + 4;
         }},
        {"a table over the directory", [](Records& r, uint32_t&, int&) { r[4].newOffset = 12; }},
        {"a table starting at 0", [](Records& r, uint32_t&, int&) { r[4].newOffset = 0; }},
        {"an empty table inside the directory",
         [&](Records& r, uint32_t&, int&) {
             changed(r[maxp], 0, {});
             r[maxp].newOffset = 20;
         }},
        {"a table off the 4-byte grid", [](Records& r, uint32_t& length, int&) {
             r[8].newOffset = length + 2;
             length += 36;
         }},
        {"a copy block past the old table",
         [&](Records& r, uint32_t&, int&) { changed(r[cff], dir[cff].length, {CopyBlock{200, 21, 0}}); }},
        {"a copy block from the next table's bytes",
         [&](Records& r, uint32_t&, int&) { changed(r[maxp], 6, {CopyBlock{0, 12, 0}}); }},
        {"a copy block whose end wraps around 32 bits",
         [&](Records& r, uint32_t&, int&) { changed(r[cff], 16, {CopyBlock{0xFFFFFFF0, 0x20, 0}}); }},
        {"a copy block past the old table even though its target is skipped",
         [&](Records& r, uint32_t&, int&) { changed(r[cff], 16, {CopyBlock{0, 0x100000, 0x40}}); }},
        // A few bytes of difference file must not make the builder make and
        // install a font many times the installed one's size.
        {"a last table grown to 256 MB that no block fills",
         [&](Records& r, uint32_t& length, int&) {
             changed(r[post], dir[post].length + 0x10000000, {CopyBlock{0, dir[post].length, 0}});
             length += 0x10000000;
         }},
        {"the old table copied over itself again and again",
         [&](Records& r, uint32_t&, int&) {
             changed(r[cff], dir[cff].length, std::vector<CopyBlock>(64, CopyBlock{0, dir[cff].length, 0}));
         }},
        {"the old table copied into a grown last table again and again",
         [&](Records& r, uint32_t& length, int&) {
             std::vector<CopyBlock> copies;
             const uint32_t piece = dir[cff].length;
             for (uint32_t k = 0; k < 64; ++k) copies.push_back(CopyBlock{0, piece, k * piece});
             changed(r[cff], 64 * piece, copies);
             r[cff].newOffset = length;
             length += (64 * piece + 3) / 4 * 4;
         }},
    };
    for (const Case& c : cases) {
        Records records = testdata::KeepEverything(installed);
        uint32_t length = size;
        int count = -1;
        c.breakIt(records, length, count);
        DiffBuilder b;
        b.NewFileLength(length);
        for (const DiffRecord& r : records) b.Record(r);
        if (count >= 0) b.TableCount(static_cast<uint8_t>(count));
        Bytes diff = b.Build();
        if (count > static_cast<int>(records.size())) diff.resize(diff.size() + 18 * 4, 0);  // room for the reader

        COpenTypeManager m;
        ProgressRecorder rec;
        EXPECT_EQ(Revise(m, installed, diff, &rec), 1) << c.what;
        EXPECT_EQ(rec.Steps(), (std::vector<int>{40, 55})) << c.what;
        EXPECT_FALSE(OutputExists()) << c.what;
        EXPECT_EQ(m.Output(), nullptr) << c.what;
        std::remove(sim::HostPath(kTempPath).c_str());
    }
}

TEST_F(BuildTest, TheSameFileWithTheRulesKeptIsBuilt) {
    // The counterpart of the refusals above: tables moved, reordered and
    // resized, ending exactly at newFileLength, with copies up to the last
    // padding byte of the old table.
    const Bytes installed = Installed(0xEE);
    std::vector<DiffRecord> records = testdata::KeepEverything(installed);
    uint32_t at = 12 + 16 * 9;
    for (size_t k = records.size(); k-- > 0;) {
        DiffRecord& r = records[k];
        if (r.tag == "hmtx") {
            r.unchanged = false;
            r.newLength = 64;
            r.copies = {CopyBlock{0, 64, 0}};  // 63 bytes and one byte of old padding
        }
        r.newOffset = at;
        at += (r.unchanged ? testdata::Directory(installed)[k].length + 3 : r.newLength + 3) / 4 * 4;
    }
    COpenTypeManager m;
    ASSERT_EQ(Revise(m, installed, testdata::DiffOf(records, at)), 0);
    const Bytes out = Output();
    EXPECT_EQ(out.size(), at);
    Bytes hmtx(63, 0x55);
    hmtx.push_back(0);
    EXPECT_EQ(TableAt(out, "hmtx"), hmtx);
    EXPECT_EQ(TableAt(out, "name"), TableAt(installed, "name"));
    EXPECT_TRUE(testdata::ChecksumsAreRight(out));
}
