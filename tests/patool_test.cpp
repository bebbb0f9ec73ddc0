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

using testdata::Bytes;
using testdata::DiffBuilder;
using testdata::DiffRecord;
using testdata::FontBuilder;

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int code;
    std::string out, err;
};

class PatoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/patool-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    std::string PathOf(const std::string& name) const { return m_dir + "/" + name; }

    std::string Put(const std::string& name, const Bytes& bytes) {
        const std::string path = PathOf(name);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    static Bytes Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    static Outcome Run(const std::vector<std::string>& args) {
        std::ostringstream out, err;
        const int code = patool::Run(args, out, err);
        return Outcome{code, out.str(), err.str()};
    }

    // No file but the ones the test put there (a failed command leaves no
    // half-written output or temporary file behind).
    size_t FileCount() const {
        size_t n = 0;
        for (auto it = fs::directory_iterator(m_dir); it != fs::directory_iterator(); ++it) ++n;
        return n;
    }

    std::string m_dir;
};

// A small target font and a difference file of our own making for it, which
// a test then spoils one field at a time.
struct SmallCase {
    Bytes font = testdata::SmallFont(0x00010000, "Sorame Test W3");
    std::vector<DiffRecord> records = testdata::KeepEverything(font);
    uint32_t newFileLength = static_cast<uint32_t>(font.size());

    Bytes Diff() const {
        DiffBuilder b;
        b.FontName("Sorame Test W3").FromRevision(0x00010000).NewFileLength(newFileLength);
        for (const DiffRecord& r : records) b.Record(r);
        return b.Build();
    }
};

bool Names(const std::string& text, const std::string& rule) { return text.find("[" + rule + "]") != std::string::npos; }

}  // namespace

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

// A release of a product line: the pairs by catalogue name are made, checked
// and written into host/; each kind of font left out has its own exit code,
// the most urgent one wins, and a release that fails writes nothing.
TEST_F(PatoolTest, ReleasePairsByCatalogueNameAndReportsEachFontLeftOut) {
    const std::string oldDir = PathOf("old"), newDir = PathOf("new"), outDir = PathOf("out");
    fs::create_directories(oldDir);
    fs::create_directories(newDir);
    auto font = [](uint32_t revision, int row) {
        return testdata::SmallFont(revision, "Sorame Test Row " + std::to_string(row));
    };
    auto put = [&](const std::string& dir, const std::string& name, const Bytes& bytes) {
        return Put(fs::path(dir).filename().string() + "/" + name, bytes);
    };
    const std::string revised = g_fontFileNames[0], same = g_fontFileNames[1], oldOnly = g_fontFileNames[2],
                      broken = g_fontFileNames[3];
    put(oldDir, revised, font(0x10000, 0));
    put(newDir, revised, font(0x10200, 0));
    put(oldDir, same, font(0x10000, 1));
    put(newDir, same, font(0x10000, 1));
    put(oldDir, oldOnly, font(0x10000, 2));
    put(newDir, "Stray-Font.otf", font(0x10000, 9));
    put(oldDir, broken, font(0x10000, 3));
    put(newDir, broken, testdata::BytesOf("not a font"));
    const std::string updater = Put("upd-build.exe", testdata::BytesOf("MZ and the rest of a program"));

    // Each kind of font left out, most urgent first; the others still go out.
    struct Step {
        std::vector<std::string> remove;
        int code;
        std::string message;
    };
    for (const Step& s : std::vector<Step>{
             {{}, patool::kExitNotAFont, "is not a CFF OpenType font"},
             {{newDir + "/" + broken}, patool::kExitOneSideOnly, "has no counterpart in NEW_DIR"},
             {{oldDir + "/" + broken, oldDir + "/" + oldOnly}, patool::kExitNotInCatalogue, "is not a font of the catalogue"},
             {{newDir + "/Stray-Font.otf"}, patool::kExitUnchanged, "(the same font)"},
             {{newDir + "/" + same}, patool::kExitOneSideOnly, "has no counterpart in NEW_DIR"},
             {{oldDir + "/" + same}, patool::kExitOk, ""},
         }) {
        SCOPED_TRACE(s.code);
        for (const std::string& path : s.remove) fs::remove(path);
        fs::remove_all(outDir);
        const Outcome o = Run({"release", oldDir, newDir, outDir, "--with-updater", updater});
        EXPECT_EQ(o.code, s.code) << o.out << o.err;
        EXPECT_NE(o.err.find(s.message), std::string::npos) << o.err;
        std::vector<std::string> written;
        for (const auto& e : fs::recursive_directory_iterator(outDir)) {
            written.push_back(fs::relative(e.path(), outDir).string());
        }
        std::sort(written.begin(), written.end());
        EXPECT_EQ(written, (std::vector<std::string>{"host", "host/" + std::string(g_diffFileNames[0]),
                                                     "host/release.sha256", "upd.exe"}));
        EXPECT_TRUE(Read(outDir + "/upd.exe") == Read(updater));
        const Outcome checked = Run({"check", oldDir + "/" + revised, outDir + "/host/" + g_diffFileNames[0],
                                     newDir + "/" + revised});
        EXPECT_EQ(checked.code, patool::kExitOk) << checked.out << checked.err;
    }
    // The release before, manifest and all, is replaced by the next one.
    const Outcome again = Run({"release", oldDir, newDir, outDir, "--with-updater", updater});
    EXPECT_EQ(again.code, patool::kExitOk) << again.err;

    // A pair whose difference file cannot be made: nothing written, an
    // earlier release left as it was, no folder of ours left behind.
    const Bytes earlier = testdata::BytesOf("an earlier release's file");
    put(oldDir, same, font(0x10000, 1));
    put(newDir, same, FontBuilder().Table("head", testdata::HeadTable(0x10200)).Build());
    for (const bool outExists : {false, true}) {
        SCOPED_TRACE(outExists);
        fs::remove_all(outDir);
        if (outExists) {
            fs::create_directories(outDir + "/host");
            Put("out/host/" + std::string(g_diffFileNames[0]), earlier);
        }
        const Outcome o = Run({"release", oldDir, newDir, outDir});
        EXPECT_EQ(o.code, patool::kExitCannotPair) << o.out << o.err;
        EXPECT_NE(o.err.find("nothing was written"), std::string::npos) << o.err;
        EXPECT_EQ(fs::exists(outDir), outExists);
        if (outExists) {
            EXPECT_EQ(std::distance(fs::recursive_directory_iterator(outDir), fs::recursive_directory_iterator()), 2);
            EXPECT_TRUE(Read(outDir + "/host/" + g_diffFileNames[0]) == earlier);
        }
    }

    // A host folder with more than difference files in it is not replaced.
    fs::remove(newDir + "/" + same);
    fs::remove(oldDir + "/" + same);
    Put("out/host/notes.txt", earlier);
    const Outcome o = Run({"release", oldDir, newDir, outDir});
    EXPECT_EQ(o.code, patool::kExitWriteFailed) << o.err;
    EXPECT_TRUE(Read(outDir + "/host/" + g_diffFileNames[0]) == earlier);
}

// The release is staged beside OUT_DIR under a name made by exclusive
// creation: folders found there or in OUT_DIR are left alone, whatever their
// names, but for the staging folders of killed runs; and a host/ holding
// difference files the release would not write again refuses the release.
TEST_F(PatoolTest, ReleaseTouchesNoFolderItDidNotMakeAndKeepsOtherDifferenceFiles) {
    const std::string oldDir = PathOf("old"), newDir = PathOf("new"), outDir = PathOf("out");
    fs::create_directories(oldDir);
    fs::create_directories(newDir);
    Put("old/" + std::string(g_fontFileNames[0]), testdata::SmallFont(0x10000, "Sorame Test Row 0"));
    Put("new/" + std::string(g_fontFileNames[0]), testdata::SmallFont(0x10200, "Sorame Test Row 0"));
    const Bytes mine = testdata::BytesOf("a person's own file");
    // Named as staging folders were and are, but made by someone else; and
    // one left by a killed run, with its unlocked marker.
    for (const std::string& folder : {"out/.patool-release-" + std::to_string(::getpid()), std::string("out/keep"),
                                      std::string(".out.patool-staging-mine")}) {
        fs::create_directories(PathOf(folder));
        Put(folder + "/file.pa", mine);
    }
    fs::create_directories(PathOf(".out.patool-staging-killed"));
    Put(".out.patool-staging-killed/.patool-staging",
        testdata::BytesOf("staging folder of a patool release; removed by the next release if left\n"));
    Put(".out.patool-staging-killed/host.pa", mine);

    Outcome o = Run({"release", oldDir, newDir, outDir});
    EXPECT_EQ(o.code, patool::kExitOk) << o.err;
    EXPECT_TRUE(Read(outDir + "/.patool-release-" + std::to_string(::getpid()) + "/file.pa") == mine);
    EXPECT_TRUE(Read(outDir + "/keep/file.pa") == mine);
    EXPECT_TRUE(Read(PathOf(".out.patool-staging-mine/file.pa")) == mine);
    EXPECT_FALSE(fs::exists(PathOf(".out.patool-staging-killed")));
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(m_dir)) entries += e.path().filename().string()[0] == '.';
    EXPECT_EQ(entries, 1u);  // only the person's own folder beside OUT_DIR

    // Another product line's difference file in host/: refused, before and
    // after the fonts are made, with host/ as it was.
    const Bytes other = testdata::BytesOf("another line's difference file");
    Put("out/host/Other-Line-W3.pa", other);
    o = Run({"release", oldDir, newDir, outDir});
    EXPECT_EQ(o.code, patool::kExitWriteFailed) << o.err;
    EXPECT_NE(o.err.find("Other-Line-W3.pa"), std::string::npos) << o.err;
    EXPECT_TRUE(Read(outDir + "/host/Other-Line-W3.pa") == other);
    // The earlier release's difference file and manifest, and the other line's file.
    EXPECT_EQ(std::distance(fs::directory_iterator(outDir + "/host"), fs::directory_iterator()), 3);
}

// Another product line's release moving into the same OUT_DIR meanwhile
// (played by the test, which holds OUT_DIR as a release does while it moves
// in, and puts its file there once this run has begun): this run refuses
// and keeps that file, whenever it was put there.  An OUT_DIR that is a link
// to nowhere is refused, and left.
TEST_F(PatoolTest, ReleaseRefusesWhatAnotherReleaseMovedInMeanwhile) {
    const std::string oldDir = PathOf("old"), newDir = PathOf("new"), outDir = PathOf("out");
    fs::create_directories(oldDir);
    fs::create_directories(newDir);
    fs::create_directories(outDir);
    Put("old/" + std::string(g_fontFileNames[0]), testdata::SmallFont(0x10000, "Sorame Test Row 0"));
    Put("new/" + std::string(g_fontFileNames[0]), testdata::SmallFont(0x10200, "Sorame Test Row 0"));
    fs::create_symlink(PathOf("nowhere/out"), PathOf("link"));
    EXPECT_EQ(Run({"release", oldDir, newDir, PathOf("link")}).code, patool::kExitWriteFailed);
    EXPECT_TRUE(fs::is_symlink(PathOf("link")));

    const int held = ::open(outDir.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    Outcome o;
    std::atomic<bool> ended{false};
    std::thread run([&] {
        o = Run({"release", oldDir, newDir, outDir});
        ended = true;
    });
    auto staging = [&] {
        for (const auto& e : fs::directory_iterator(m_dir)) {
            if (e.path().filename().string().rfind(".out.patool-staging-", 0) == 0) return true;
        }
        return false;
    };
    // Its staging folder is made after its first look at OUT_DIR.
    for (int i = 0; i < 3000 && !staging() && !ended; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const Bytes other = testdata::BytesOf("another line's difference file");
    fs::create_directories(outDir + "/host");
    Put("out/host/Other-Line-W3.pa", other);
    ::flock(held, LOCK_UN);
    ::close(held);
    run.join();
    EXPECT_EQ(o.code, patool::kExitWriteFailed) << o.err;
    EXPECT_TRUE(Read(outDir + "/host/Other-Line-W3.pa") == other);
    EXPECT_EQ(std::distance(fs::directory_iterator(outDir + "/host"), fs::directory_iterator()), 1);
    EXPECT_FALSE(staging());
}

// A release killed at any moment leaves OUT_DIR with the previous release or
// the new one (the updater may already be the new one beside the previous
// host/), and nothing else.  The kills fall at random moments of a run's
// length as measured here; what is checked does not depend on where.
TEST_F(PatoolTest, ReleaseKilledAtAnyMomentLeavesThePreviousReleaseOrTheNewOne) {
    const std::string oldDir = PathOf("old"), outDir = PathOf("out");
    fs::create_directories(oldDir);
    for (int row = 0; row < 3; ++row) {
        const std::string name = g_fontFileNames[row];
        const std::string family = "Sorame Test Row " + std::to_string(row);
        Put("old/" + name, testdata::SmallFont(0x10000, family));
        for (const int release : {1, 2}) {
            fs::create_directories(PathOf("new" + std::to_string(release)));
            Put("new" + std::to_string(release) + "/" + name, testdata::SmallFont(0x10000 + 0x100 * release, family));
        }
    }
    Put("upd1.exe", testdata::BytesOf("MZ the first updater"));
    Put("upd2.exe", testdata::BytesOf("MZ the second updater, longer"));
    fs::create_directories(outDir + "/keep");
    const Bytes mine = testdata::BytesOf("a person's own file");
    Put("out/keep/notes.txt", mine);

    auto release = [&](int n, const std::string& out) {
        const pid_t child = ::fork();
        if (child == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            const std::string newDir = PathOf("new" + std::to_string(n)), updater = PathOf("upd" + std::to_string(n) + ".exe");
            ::execl(PATOOL_EXECUTABLE, "patool", "release", oldDir.c_str(), newDir.c_str(), out.c_str(),
                    "--with-updater", updater.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return child;
    };
    auto finish = [](pid_t child) {
        int status = 0;
        ::waitpid(child, &status, 0);
        return status;
    };
    // What OUT_DIR may hold: for each entry, its files and their bytes.
    using Tree = std::map<std::string, Bytes>;
    auto tree = [&](const std::string& folder) {
        Tree t;
        for (const auto& e : fs::recursive_directory_iterator(folder)) {
            t[fs::relative(e.path(), folder).string()] = e.is_regular_file() ? Read(e.path().string()) : Bytes();
        }
        return t;
    };
    ASSERT_EQ(finish(release(1, outDir)), 0);
    const Tree first = tree(outDir);
    ASSERT_EQ(finish(release(2, PathOf("scratch"))), 0);
    const Tree second = tree(PathOf("scratch"));
    fs::remove_all(PathOf("scratch"));

    // A run's length, to spread the kills over.
    const auto started = std::chrono::steady_clock::now();
    const int timed = 3;
    for (int i = 0; i < timed; ++i) {
        ASSERT_EQ(finish(release(2, PathOf("scratch"))), 0);
        fs::remove_all(PathOf("scratch"));
    }
    const auto length = (std::chrono::steady_clock::now() - started) / timed;

    auto part = [](const Tree& t, const std::string& prefix) {
        Tree p;
        for (const auto& f : t) {
            if (f.first.compare(0, prefix.size(), prefix) == 0) p.insert(f);
        }
        return p;
    };
    std::srand(23);
    int changed = 0, leftStaging = 0;
    for (int kill = 0; kill < 40; ++kill) {
        // Each release in turn, so that every run has a previous one to replace.
        const Tree before = tree(outDir);
        const pid_t child = release(1 + kill % 2, outDir);
        std::this_thread::sleep_for(length * (std::rand() % 1000) / 1000);
        ::kill(child, SIGKILL);
        finish(child);
        const Tree now = tree(outDir);
        SCOPED_TRACE(kill);
        for (const auto& f : now) {
            const std::string top = f.first.substr(0, f.first.find('/'));
            EXPECT_TRUE(top == "host" || top == "upd.exe" || top == "keep") << f.first;
        }
        const Tree host = part(now, "host");
        EXPECT_TRUE(host == part(first, "host") || host == part(second, "host"));
        const Tree updater = part(now, "upd.exe");
        EXPECT_TRUE(updater == part(first, "upd.exe") || updater == part(second, "upd.exe"));
        EXPECT_TRUE(Read(outDir + "/keep/notes.txt") == mine);
        changed += host != part(before, "host");
        for (const auto& e : fs::directory_iterator(m_dir)) leftStaging += e.path().filename().string()[0] == '.';
    }
    // The next run clears what killed runs left beside OUT_DIR.
    ASSERT_EQ(finish(release(2, outDir)), 0);
    EXPECT_TRUE(part(tree(outDir), "host") == part(second, "host"));
    for (const auto& e : fs::directory_iterator(m_dir)) EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
    std::printf("40 kills: host/ replaced by %d of them; staging folders of killed runs beside OUT_DIR counted %d "
                "times\n", changed, leftStaging);
}
