// The makers' difference-file tool: its four commands on real font pairs,
// and a clear message with its own exit code for every bad input.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>

#include "discovery/catalogue.h"
#include "engine/manifest.h"
#include "tests/support/revision.h"
#include "tools/patool/patool.h"
#include "tests/support/patool_fixture.h"

using namespace patooltest;


// make, show, apply and check on the two real revisions: what apply writes is
// the release with the installed font's serial strings and right checksums,
// the same the updater writes.
TEST_F(PatoolTest, EveryCommandWorksOnTheRealRevisions) {
    for (const std::string base : {"Sorame-Gothic-Pro-W3", "Sorame-Mincho-Std-W5"}) {
        SCOPED_TRACE(base);
        REQUIRE_FONT(installed, base + ".otf");
        REQUIRE_FONT(revised, base + ".rev.otf");
        const std::string oldPath = Put("old.otf", installed);
        const std::string newPath = Put("new.otf", revised);
        const std::string pa = PathOf("font.pa");

        Outcome o = Run({"make", oldPath, newPath, pa});
        ASSERT_EQ(o.code, patool::kExitOk) << o.err;
        EXPECT_NE(o.out.find("wrote"), std::string::npos);

        o = Run({"show", pa});
        EXPECT_EQ(o.code, patool::kExitOk) << o.out << o.err;
        EXPECT_NE(o.out.find("well-formed"), std::string::npos);
        EXPECT_NE(o.out.find("from revision   0x00010000 (1.000)"), std::string::npos) << o.out;
        EXPECT_NE(o.out.find("'CFF '"), std::string::npos);
        o = Run({"show", pa, "--font", oldPath});
        EXPECT_EQ(o.code, patool::kExitOk) << o.out << o.err;
        EXPECT_NE(o.out.find("fits the font"), std::string::npos);

        const std::string outPath = PathOf("out.otf");
        o = Run({"apply", oldPath, pa, outPath});
        ASSERT_EQ(o.code, patool::kExitOk) << o.err;
        Bytes mac, win;
        testdata::SerialsOf(installed, &mac, &win);
        const Bytes built = Read(outPath);
        EXPECT_TRUE(built == testdata::ExpectedRevision(revised, mac, win));
        EXPECT_TRUE(testdata::ChecksumsAreRight(built));
        EXPECT_TRUE(Read(oldPath) == installed) << "the installed font was changed";

        o = Run({"check", oldPath, pa, newPath});
        EXPECT_EQ(o.code, patool::kExitOk) << o.out << o.err;
        // The old font is not what the file makes of it.
        o = Run({"check", oldPath, pa, oldPath});
        EXPECT_EQ(o.code, patool::kExitNoMatch) << o.out << o.err;
        EXPECT_NE(o.out.find("does not turn"), std::string::npos);
        // old, new, the file, its release manifest and what apply wrote.
        EXPECT_EQ(FileCount(), 5u);
    }
}

// make lists the file in the release manifest beside it, and apply, check,
// show and verify hold the file and the font to it as the updater does,
// each with its own exit code.
TEST_F(PatoolTest, TheReleaseManifestIsWrittenByMakeAndCheckedByEveryCommand) {
    REQUIRE_FONT(installed, "Sorame-Gothic-Pro-W3.otf");
    REQUIRE_FONT(revised, "Sorame-Gothic-Pro-W3.rev.otf");
    const std::string oldPath = Put("old.otf", installed);
    const std::string newPath = Put("new.otf", revised);
    fs::create_directories(PathOf("host"));
    const std::string pa = PathOf("host/Sorame-Gothic-Pro-W3.pa");
    ASSERT_EQ(Run({"make", oldPath, newPath, pa}).code, patool::kExitOk);
    const Bytes good = Read(pa);
    const std::string manifest = PathOf("host/release.sha256");
    const Bytes written = Read(manifest);
    const std::string text(written.begin(), written.end());
    EXPECT_NE(text.find("  Sorame-Gothic-Pro-W3.pa#source\n"), std::string::npos) << text;

    Bytes damaged = good;
    damaged[damaged.size() / 2] ^= 0x04;
    const std::vector<testdata::DirectoryEntry> directory = testdata::Directory(installed);
    Bytes edited = installed;
    edited[testdata::FindEntry(directory, "CFF ")->offset + 40] ^= 0x01;
    const std::string editedPath = Put("edited.otf", testdata::WithChecksums(edited));
    const std::string out = PathOf("out.otf");
    const struct {
        const char* what;
        Bytes pa;
        std::vector<std::string> args;
        int code;
    } cases[] = {
        {"apply", good, {"apply", oldPath, pa, out}, patool::kExitOk},
        {"verify", good, {"verify", PathOf("host"), oldPath}, patool::kExitOk},
        {"apply a damaged file", damaged, {"apply", oldPath, pa, out}, patool::kExitNotReleased},
        {"check a damaged file", damaged, {"check", oldPath, pa, newPath}, patool::kExitNotReleased},
        {"show a damaged file", damaged, {"show", pa}, patool::kExitNotReleased},
        {"verify a damaged file", damaged, {"verify", PathOf("host")}, patool::kExitNotReleased},
        {"apply to an edited font", good, {"apply", editedPath, pa, out}, patool::kExitFontNotReleased},
        {"verify an edited font", good, {"verify", PathOf("host"), editedPath}, patool::kExitFontNotReleased},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Put("host/Sorame-Gothic-Pro-W3.pa", c.pa);
        fs::remove(out);
        const Outcome o = Run(c.args);
        EXPECT_EQ(o.code, c.code) << o.out << o.err;
        EXPECT_EQ(fs::exists(out), c.code == patool::kExitOk && c.args[0] == "apply");
    }

    // make again with another file of the same name replaces its lines and
    // keeps the other files'.
    std::vector<ReleaseManifestLine> lines;
    ASSERT_TRUE(ParseReleaseManifest(written.data(), written.size(), &lines));
    lines.push_back(ReleaseManifestLine{"Other.pa", ReleaseManifestLine::kFile, {}});
    Put("host/release.sha256", testdata::BytesOf(FormatReleaseManifest(lines)));
    ASSERT_EQ(Run({"make", oldPath, newPath, pa}).code, patool::kExitOk);
    const Bytes rewritten = Read(manifest);
    const std::string after(rewritten.begin(), rewritten.end());
    EXPECT_NE(after.find("  Other.pa\n"), std::string::npos);
    EXPECT_EQ(Run({"verify", PathOf("host"), oldPath}).code, patool::kExitOk);
    // A manifest make cannot read is not written over.
    Put("host/release.sha256", testdata::BytesOf("not a manifest\n"));
    EXPECT_EQ(Run({"make", oldPath, newPath, pa}).code, patool::kExitNotReleased);
    EXPECT_TRUE(Read(manifest) == testdata::BytesOf("not a manifest\n"));
}

// A release that differs from what the file builds in one byte of a table,
// or in its length, is told apart; the serial strings and checksums are not
// counted as differences.
TEST_F(PatoolTest, CheckFindsOneWrongByteButIgnoresWhatTheUpdaterFillsIn) {
    REQUIRE_FONT(installed, "Sorame-Gothic-Pro-W3.otf");
    REQUIRE_FONT(revised, "Sorame-Gothic-Pro-W3.rev.otf");
    const std::string oldPath = Put("old.otf", installed);
    const std::string pa = PathOf("font.pa");
    ASSERT_EQ(Run({"make", oldPath, Put("new.otf", revised), pa}).code, 0);

    // The release with another serial string and stale checksums still counts.
    Bytes reserialised = revised;
    testdata::ForEachName(reserialised, [&](uint16_t, uint16_t, uint16_t, uint16_t id, size_t at, size_t len) {
        if (id == 13) std::fill(reserialised.begin() + at, reserialised.begin() + at + len, 'Z');
    });
    testdata::PutU32(reserialised, 12 + 4, 0x12345678);
    Outcome o = Run({"check", oldPath, pa, Put("reserialised.otf", reserialised)});
    EXPECT_EQ(o.code, patool::kExitOk) << o.out;

    const std::vector<testdata::DirectoryEntry> directory = testdata::Directory(revised);
    const testdata::DirectoryEntry* hmtx = testdata::FindEntry(directory, "hmtx");
    ASSERT_NE(hmtx, nullptr);
    Bytes oneByte = revised;
    oneByte[hmtx->offset + 7] ^= 1;
    o = Run({"check", oldPath, pa, Put("onebyte.otf", oneByte)});
    EXPECT_EQ(o.code, patool::kExitNoMatch);
    EXPECT_NE(o.out.find("1 bytes differ, the first at " + std::to_string(hmtx->offset + 7) + " (table 'hmtx' at +7"),
              std::string::npos)
        << o.out;

    Bytes longer = revised;
    longer.insert(longer.end(), 4, 0);
    o = Run({"check", oldPath, pa, Put("longer.otf", longer)});
    EXPECT_EQ(o.code, patool::kExitNoMatch);
    EXPECT_NE(o.out.find("NEW " + std::to_string(longer.size())), std::string::npos) << o.out;
}

TEST_F(PatoolTest, WrongArgumentsAreUsageErrors) {
    Outcome o = Run({"--help"});
    EXPECT_EQ(o.code, patool::kExitOk);
    EXPECT_NE(o.out.find("patool make OLD NEW OUT.pa"), std::string::npos);
    EXPECT_NE(o.out.find("exit codes"), std::string::npos);
    EXPECT_EQ(Run({"apply", "--help"}).code, patool::kExitOk);

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {},
             {"make", "a", "b"},
             {"make", "a", "b", "c", "d"},
             {"show"},
             {"show", "a", "b"},
             {"show", "a", "--font"},
             {"apply", "a", "b"},
             {"check", "a"},
             {"frobnicate", "a", "b", "c"},
             {"apply", "a", "b", "c", "--force"},
             {"make", "a", "--font", "b", "c"},
         }) {
        o = Run(args);
        EXPECT_EQ(o.code, patool::kExitUsage) << ::testing::PrintToString(args);
        EXPECT_NE(o.err.find("usage: patool"), std::string::npos);
    }
    EXPECT_NE(Run({"make", "a", "b"}).err.find("make takes 3 files, not 2"), std::string::npos);

    // Writing over an input would destroy it.
    const Bytes font = testdata::SmallFont(0x10000, "Sorame Test W3");
    const std::string fontPath = Put("font.otf", font);
    o = Run({"apply", fontPath, Put("x.pa", SmallCase().Diff()), fontPath});
    EXPECT_EQ(o.code, patool::kExitUsage);
    EXPECT_TRUE(Read(fontPath) == font);
    EXPECT_EQ(Run({"make", fontPath, fontPath, fontPath}).code, patool::kExitUsage);
}

TEST_F(PatoolTest, MissingFilesFontsThatAreNotFontsAndFilesThatAreNotDifferenceFiles) {
    SmallCase c;
    const std::string font = Put("font.otf", c.font);
    const std::string pa = Put("font.pa", c.Diff());
    const std::string text = Put("notes.txt", testdata::BytesOf("not a font at all, just some text"));
    const std::string missing = PathOf("missing.otf");
    const std::string out = PathOf("out");
    // Opened as a file, a FIFO would wait for a writer for ever.
    const std::string fifo = PathOf("fifo.otf");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    struct Case {
        std::vector<std::string> args;
        int code;
        std::string message;
    };
    for (const Case& k : std::vector<Case>{
             {{"make", missing, font, out}, patool::kExitUnreadable, "no such file"},
             {{"make", font, m_dir, out}, patool::kExitUnreadable, "it is a folder"},
             {{"show", missing}, patool::kExitUnreadable, "no such file"},
             {{"show", pa, "--font", missing}, patool::kExitUnreadable, "no such file"},
             {{"apply", missing, pa, out}, patool::kExitUnreadable, "no such file"},
             {{"apply", font, missing, out}, patool::kExitUnreadable, "no such file"},
             {{"check", font, pa, missing}, patool::kExitUnreadable, "no such file"},
             {{"make", fifo, font, out}, patool::kExitUnreadable, "not a regular file"},
             {{"show", fifo}, patool::kExitUnreadable, "not a regular file"},
             {{"show", pa, "--font", fifo}, patool::kExitUnreadable, "not a regular file"},
             {{"apply", fifo, pa, out}, patool::kExitUnreadable, "not a regular file"},
             {{"apply", font, fifo, out}, patool::kExitUnreadable, "not a regular file"},
             {{"check", font, pa, fifo}, patool::kExitUnreadable, "not a regular file"},
             {{"make", text, font, out}, patool::kExitNotAFont, "is not a CFF OpenType font"},
             {{"make", font, text, out}, patool::kExitNotAFont, "is not a CFF OpenType font"},
             {{"apply", text, pa, out}, patool::kExitNotAFont, "is not a CFF OpenType font"},
             {{"check", font, pa, text}, patool::kExitNotAFont, "is not a CFF OpenType font"},
             {{"show", pa, "--font", text}, patool::kExitNotAFont, "is not a CFF OpenType font"},
             {{"show", font}, patool::kExitNotADiff, "is not a difference file"},
             {{"show", Put("empty.pa", Bytes())}, patool::kExitNotADiff, "is not a difference file"},
             {{"apply", font, font, out}, patool::kExitNotADiff, "is not a difference file"},
             {{"check", font, text, font}, patool::kExitNotADiff, "is not a difference file"},
         }) {
        const Outcome o = Run(k.args);
        EXPECT_EQ(o.code, k.code) << ::testing::PrintToString(k.args) << o.err;
        EXPECT_NE(o.err.find(k.message), std::string::npos) << o.err;
        EXPECT_EQ(o.err.rfind("patool: ", 0), 0u) << o.err;
    }
    EXPECT_FALSE(fs::exists(out));

    // A font the updater cannot load: a table it does not know.
    const Bytes odd = testdata::FontBuilder()
                          .Table("head", testdata::HeadTable(0x10000))
                          .Table("name", testdata::StandardNameTable("Sorame Test W3", "M", "W"))
                          .Table("zzzz", Bytes(8, 1))
                          .Build();
    const Outcome o = Run({"apply", Put("odd.otf", odd), pa, out});
    EXPECT_EQ(o.code, patool::kExitNotAFont);
    EXPECT_NE(o.err.find("cannot be loaded"), std::string::npos);
}

// Each broken rule is named, all of them at once, by show and by apply.
TEST_F(PatoolTest, MalformedDifferenceFilesNameEveryBrokenRule) {
    struct Case {
        const char* what;
        void (*spoil)(SmallCase&);
        std::vector<std::string> rules;
    };
    const std::vector<Case> cases = {
        {"slot twice", [](SmallCase& c) { c.records[2].newIndex = c.records[1].newIndex; }, {"slot-twice", "slot-empty"}},
        {"slot out of range", [](SmallCase& c) { c.records[0].newIndex = 200; }, {"slot-range", "slot-empty"}},
        {"tag twice", [](SmallCase& c) { c.records[3].tag = c.records[0].tag; }, {"tag-twice"}},
        {"overlap",
         [](SmallCase& c) { c.records[2].newOffset = c.records[1].newOffset + 4; },
         {"overlap"}},
        {"misaligned", [](SmallCase& c) { c.records[1].newOffset += 2; }, {"offset-align", "overlap"}},
        {"over directory", [](SmallCase& c) { c.records[0].newOffset = 16; }, {"over-directory"}},
        {"file length", [](SmallCase& c) { c.newFileLength -= 2; }, {"file-length-align", "past-end"}},
        {"too short for the directory", [](SmallCase& c) { c.newFileLength = 20; },
         {"file-length-short", "past-end"}},
        {"block list cut",
         [](SmallCase& c) {
             c.records[0].unchanged = false;
             c.records[0].literals.push_back(testdata::LiteralBlock{0, Bytes(4, 7), 100000});
         },
         {"list-cut"}},
        {"block list outside",
         [](SmallCase& c) {
             c.records[1].unchanged = false;
             c.records[1].dataOffsetOverride = 0x7FFFFFF0;
         },
         {"list-offset"}},
    };
    SmallCase good;
    const std::string font = Put("font.otf", good.font);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        SmallCase c;
        k.spoil(c);
        const std::string pa = Put("bad.pa", c.Diff());
        const Outcome shown = Run({"show", pa});
        EXPECT_EQ(shown.code, patool::kExitMalformed) << shown.out;
        for (const std::string& rule : k.rules) EXPECT_TRUE(Names(shown.out, rule)) << rule << "\n" << shown.out;
        EXPECT_NE(shown.err.find("is malformed"), std::string::npos);

        const Outcome applied = Run({"apply", font, pa, PathOf("out.otf")});
        EXPECT_EQ(applied.code, patool::kExitMalformed) << applied.err;
        for (const std::string& rule : k.rules) EXPECT_TRUE(Names(applied.err, rule)) << rule << "\n" << applied.err;
        EXPECT_FALSE(fs::exists(PathOf("out.otf")));
    }

    // Cut inside the header and inside the records.
    Bytes pa = good.Diff();
    Outcome o = Run({"show", Put("header.pa", Bytes(pa.begin(), pa.begin() + 30))});
    EXPECT_EQ(o.code, patool::kExitMalformed);
    EXPECT_TRUE(Names(o.out, "header-cut")) << o.out;
    o = Run({"show", Put("records.pa", Bytes(pa.begin(), pa.begin() + 53 + 18 * 2 + 5))});
    EXPECT_EQ(o.code, patool::kExitMalformed);
    EXPECT_TRUE(Names(o.out, "records-cut")) << o.out;
    EXPECT_NE(o.out.find("record 1 "), std::string::npos);
    EXPECT_EQ(o.out.find("record 2 "), std::string::npos);
}

// A sound file that was made for another font, or reads outside this font's
// tables, does not fit it.
TEST_F(PatoolTest, AFileForAnotherFontDoesNotFit) {
    SmallCase c;
    const std::string font = Put("font.otf", c.font);
    const std::string out = PathOf("out.otf");

    // Another revision of the same font.
    const std::string later = Put("later.otf", testdata::SmallFont(0x00010200, "Sorame Test W3"));
    const std::string pa = Put("font.pa", c.Diff());
    Outcome o = Run({"apply", later, pa, out});
    EXPECT_EQ(o.code, patool::kExitDoesNotFit);
    EXPECT_NE(o.err.find("is for \"Sorame Test W3\" revision 1.000, but"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("revision 1.008"), std::string::npos) << o.err;
    o = Run({"show", pa, "--font", later});
    EXPECT_EQ(o.code, patool::kExitDoesNotFit);
    EXPECT_TRUE(Names(o.out, "wrong-font")) << o.out;

    // A font without a head table has no revision to match, not revision 0.
    const Bytes headless = testdata::FontBuilder()
                               .Table("CFF ", Bytes(40, 1))
                               .Table("name", testdata::StandardNameTable("Sorame Test W3", "M-1", "W-1"))
                               .Build();
    const std::string headlessPath = Put("headless.otf", headless);
    DiffBuilder zeroDiff;
    zeroDiff.FontName("Sorame Test W3").FromRevision(0).NewFileLength(static_cast<uint32_t>(headless.size()));
    for (const DiffRecord& r : testdata::KeepEverything(headless)) zeroDiff.Record(r);
    const std::string zeroPa = Put("zero.pa", zeroDiff.Build());
    o = Run({"show", zeroPa, "--font", headlessPath});
    EXPECT_EQ(o.code, patool::kExitDoesNotFit) << o.out;
    EXPECT_NE(o.out.find("without a head table"), std::string::npos) << o.out;
    o = Run({"apply", headlessPath, zeroPa, out});
    EXPECT_EQ(o.code, patool::kExitDoesNotFit);
    EXPECT_NE(o.err.find("\"Sorame Test W3\" without a head table"), std::string::npos) << o.err;

    // Fewer tables than the font has.
    SmallCase fewer;
    fewer.records.pop_back();
    const std::string fewerPa = Put("fewer.pa", fewer.Diff());
    EXPECT_EQ(Run({"show", fewerPa}).code, patool::kExitOk);
    o = Run({"show", fewerPa, "--font", font});
    EXPECT_EQ(o.code, patool::kExitDoesNotFit);
    EXPECT_TRUE(Names(o.out, "table-count")) << o.out;

    // A copy block that reads past the old table.
    SmallCase reads;
    reads.records[0].unchanged = false;
    reads.records[0].copies.push_back(testdata::CopyBlock{0, reads.records[0].newLength + 8, 0});
    o = Run({"apply", font, Put("reads.pa", reads.Diff()), out});
    EXPECT_EQ(o.code, patool::kExitDoesNotFit);
    EXPECT_TRUE(Names(o.err, "copy-outside")) << o.err;

    // A table the font does not have.
    SmallCase unknown;
    unknown.records[1].tag = "GSUB";
    o = Run({"check", font, Put("unknown.pa", unknown.Diff()), font});
    EXPECT_EQ(o.code, patool::kExitDoesNotFit);
    EXPECT_TRUE(Names(o.err, "tag-unknown")) << o.err;
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(PatoolTest, TheExecutableReturnsTheExitCodes) {
    auto status = [](const std::string& command) {
        const int s = std::system((command + " >/dev/null 2>&1").c_str());
        return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    };
    const std::string tool = PATOOL_EXECUTABLE;
    EXPECT_EQ(status(tool + " --help"), 0);
    EXPECT_EQ(status(tool), patool::kExitUsage);
    EXPECT_EQ(status(tool + " show '" + PathOf("missing.pa") + "'"), patool::kExitUnreadable);
    SmallCase c;
    EXPECT_EQ(status(tool + " show '" + Put("font.pa", c.Diff()) + "'"), 0);
    const std::string font = Put("font.otf", c.font);
    const std::string made = PathOf("made.pa");
    EXPECT_EQ(status(tool + " make '" + font + "' '" + font + "' '" + made + "'"), 0);
    EXPECT_EQ(status(tool + " check '" + font + "' '" + made + "' '" + font + "'"), 0);
    // The hand-made file takes the name table over from the font: right for
    // this copy, wrong for a customer whose serial is longer.
    EXPECT_EQ(status(tool + " check '" + font + "' '" + PathOf("font.pa") + "' '" + font + "'"), patool::kExitNoMatch);
}

// Customers' copies differ in their serial strings: check builds from copies
// of OLD whose serials are longer and shorter too, and refuses a file that
// takes any of the new name table from the old one by position.
TEST_F(PatoolTest, CheckBuildsFromCopiesWithSerialsOfOtherLengths) {
    const Bytes installed = testdata::SmallFont(0x00010000, "Sorame Test W3");
    const Bytes release = testdata::SmallFont(0x00010200, "Sorame Test W3");
    const std::string oldPath = Put("old.otf", installed);
    const std::string newPath = Put("new.otf", release);
    const std::string made = PathOf("made.pa");
    ASSERT_EQ(Run({"make", oldPath, newPath, made}).code, patool::kExitOk);

    // Files that build the release from this very copy, but take the name
    // table over whole or copy it in one block.
    SmallCase c;
    c.records = testdata::KeepEverything(release);
    for (testdata::DiffRecord& r : c.records) {
        if (r.tag == "head") {
            r.unchanged = false;
            r.literals.push_back(testdata::LiteralBlock{0, Bytes(release.begin() + r.newOffset,
                                                                 release.begin() + r.newOffset + r.newLength)});
        }
    }
    const Bytes takenOver = c.Diff();
    for (testdata::DiffRecord& r : c.records) {
        if (r.tag == "name") {
            r.unchanged = false;
            r.copies.push_back(testdata::CopyBlock{0, r.newLength, 0});
        }
    }
    const Bytes copied = c.Diff();

    struct Case {
        const char* what;
        std::string pa;
        int code;
        std::string message;
    };
    for (const Case& k : std::vector<Case>{
             {"made by make", made, patool::kExitOk, "also from copies of it with longer and shorter serial strings"},
             {"name taken over", Put("takenover.pa", takenOver), patool::kExitNoMatch,
              "does not turn a copy of '" + oldPath + "' with longer serial strings into"},
             {"name copied", Put("copied.pa", copied), patool::kExitNoMatch, "with longer serial strings"},
         }) {
        SCOPED_TRACE(k.what);
        const Outcome o = Run({"check", oldPath, k.pa, newPath});
        EXPECT_EQ(o.code, k.code) << o.out << o.err;
        EXPECT_NE(o.out.find(k.message), std::string::npos) << o.out;
    }
}
