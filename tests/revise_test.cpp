// One installed font revised from end to end on the simulated machine, and
// every way it can fail: the installed font is left whole each time.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "discovery/foldercheck.h"
#include "driver/revise.h"
#include "driver/pending.h"
#include "engine/manager.h"
#include "tests/support/manifest.h"
#include "tests/support/revision.h"

#if __has_include("tools/paproducer/paproducer.h")
#include "tools/paproducer/paproducer.h"
#define HAVE_PAPRODUCER 1
#endif

using testdata::Bytes;
using testdata::FilesIn;
using testdata::BytesOf;
using testdata::FontBuilder;
using testdata::GetU16;
using testdata::GetU32;

namespace {

const uint32_t kRev1 = 0x00010000;
const char kFont[] = "D:\\Fonts\\Sorame-Gothic-Pro-W3.otf";
const char kTemp[] = "C:\\Windows\\Temp\\";
const char kStaging[] = "C:\\Windows\\Temp\\upd-pending";
const char kRunOnce[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kHost[] = "C:\\Program Files\\Sorame\\Updater\\host\\";
const int64_t kNow = 1700000000;

Bytes Post(uint8_t fill) { return Bytes(32, fill); }

// The small target font with its post table chosen by the test.
Bytes GothicFont(const Bytes& post, bool withName = true, bool withHead = true) {
    Bytes cff = BytesOf("CFF-DATA-FOR-TESTS-");
    for (int i = 0; i < 200; ++i) cff.push_back(static_cast<uint8_t>(i * 7));
    FontBuilder b;
    b.Table("CFF ", cff).Table("OS/2", Bytes(96, 0x22)).Table("cmap", Bytes(40, 0x33));
    if (withHead) b.Table("head", testdata::HeadTable(kRev1));
    b.Table("hhea", Bytes(36, 0x44)).Table("hmtx", Bytes(64, 0x55)).Table("maxp", Bytes(6, 0x66));
    if (withName) b.Table("name", testdata::StandardNameTable("Sorame Gothic Pro W3", "MAC-SERIAL-0001", "WIN-SERIAL-0001"));
    b.Table("post", post);
    return b.Build();
}

// A difference file that keeps every table of font in its slot and place,
// except the tables in `replaced`, whose bytes it carries whole.
Bytes DiffFor(const Bytes& font, const std::map<std::string, Bytes>& replaced = {}, const std::string& extraTag = "") {
    std::vector<testdata::DiffRecord> records = testdata::KeepEverything(font);
    for (testdata::DiffRecord& rec : records) {
        auto it = replaced.find(rec.tag);
        if (it == replaced.end()) continue;
        rec.unchanged = false;
        rec.literals.push_back(testdata::LiteralBlock{0, it->second});
    }
    if (!extraTag.empty()) records.back().tag = extraTag;
    testdata::DiffBuilder d;
    d.FontName("Sorame Gothic Pro W3").FromRevision(kRev1).NewFileLength(static_cast<uint32_t>(font.size()));
    for (const testdata::DiffRecord& rec : records) d.Record(rec);
    return d.Build();
}

struct Progress {
    std::vector<int> steps;
    std::vector<int> overall;
    std::string lastLine1, lastLine2;
    int stopAt = -1;
    static int Callback(int overall, int step, const char* line1, const char* line2, void* context) {
        auto* self = static_cast<Progress*>(context);
        self->steps.push_back(step);
        self->overall.push_back(overall);
        self->lastLine1 = line1;
        self->lastLine2 = line2;
        return step == self->stopAt ? 1 : 0;
    }
};

class ReviseTest : public testdata::SimMachineTest {
protected:
    void SetUp() override {
        testdata::SimMachineTest::SetUp();
        MapNewDrive('D');
        MakeFolder(kTemp);
        sim::SetTime(kNow);
        m_installed = GothicFont(Post(0x77));
        Put(kFont, m_installed);
        PutDiff(DiffFor(m_installed, {{"post", Post(0x99)}}));
    }
    void TearDown() override {
        ReleaseFolderCheckCtrl();
        testdata::SimMachineTest::TearDown();
    }

    void PutDiff(const Bytes& diff) { Put(std::string(kHost) + "Sorame-Gothic-Pro-W3.pa", diff); }

    int Revise(Progress* progress = nullptr) {
        ReleaseFolderCheckCtrl();  // the host folder as the test left it
        GetFolderCheckCtrl();
        COpenTypeManager m;
        return m.ReviseFont(kFont, static_cast<int>(kRev1), progress ? Progress::Callback : nullptr, progress, 1, 0);
    }


    // Nothing of the revision is left over: no temporary file, no new file
    // beside the font.
    void ExpectNoLeftovers(const std::vector<std::string>& othersInTemp = {}) {
        EXPECT_EQ(FilesIn("D:\\Fonts"), (std::vector<std::string>{"Sorame-Gothic-Pro-W3.otf"}));
        EXPECT_EQ(FilesIn(kTemp).size(), othersInTemp.size());
    }

    void ExpectInstalledIntact() { EXPECT_TRUE(Get(kFont) == m_installed) << "the installed font was changed"; }

    Bytes m_installed;
};

}  // namespace

TEST_F(ReviseTest, AFontIsRevisedReplacedAndVerified) {
    Progress progress;
    progress.stopAt = 100;  // too late: the font is already replaced
    ASSERT_EQ(Revise(&progress), kReviseOk);
    EXPECT_TRUE(Get(kFont) == GothicFont(Post(0x99)));
    ExpectNoLeftovers();

    EXPECT_EQ(progress.steps, (std::vector<int>{10, 20, 30, 40, 55, 65, 75, 90, 100}));
    EXPECT_EQ(progress.overall.back(), 100);
    EXPECT_EQ(progress.lastLine1, std::string(kFont) + "の改訂をしています。");
    EXPECT_EQ(progress.lastLine2, "テンポラリフォルダからファイルをコピーしています。");

    // The wait after the copy is taken on the simulated clock only.
    EXPECT_EQ(sim::SleptMilliseconds(), 300u);
}

TEST_F(ReviseTest, TheWaitComesBetweenTheCopyAndTheReadBack) {
    Bytes atSleep;
    sim::OnSleep([&](DWORD) { atSleep = Get(kFont); });
    ASSERT_EQ(Revise(), kReviseOk);
    EXPECT_TRUE(atSleep == GothicFont(Post(0x99)));
}

TEST_F(ReviseTest, SomeoneElsesFileUnderTheTemporaryNameIsLeftAlone) {
    sim::SeedRandom(42);
    const int first = std::rand() % 255;
    sim::SeedRandom(42);
    const std::string taken = std::string(kTemp) + std::to_string(kNow) + std::to_string(first);
    Put(taken, BytesOf("not ours"));

    ASSERT_EQ(Revise(), kReviseOk);
    EXPECT_EQ(Get(taken), BytesOf("not ours"));
    ExpectNoLeftovers({taken});
}

TEST_F(ReviseTest, WhenNoTemporaryFileCanBeMadeTheResultIs3) {
    for (int r = 0; r < 255; ++r) Put(std::string(kTemp) + std::to_string(kNow) + std::to_string(r), BytesOf("x"));
    EXPECT_EQ(Revise(), kReviseTempFailed);
    ExpectInstalledIntact();
    for (const std::string& name : FilesIn(kTemp)) EXPECT_EQ(Get(std::string(kTemp) + name), BytesOf("x")) << name;

    sim::SetTempPath("C:\\NoSuchFolder\\");
    EXPECT_EQ(Revise(), kReviseTempFailed);
    ExpectInstalledIntact();
}

TEST_F(ReviseTest, AFailedReplacementLeavesTheInstalledFontAsItWas) {
    for (const char* api : {"CopyFileA", "FlushFileBuffers", "MoveFileExA"}) {
        sim::FailCall(api);
        EXPECT_EQ(Revise(), kReviseCopyFailed) << api;
        ExpectInstalledIntact();
        ExpectNoLeftovers();
    }
    // A read-only font can be read and revised, but not replaced, not even
    // at the next start.
    ::chmod(sim::HostPath(kFont).c_str(), 0444);
    EXPECT_EQ(Revise(), kReviseCopyFailed);
    EXPECT_FALSE(Exists(kStaging));
    ExpectInstalledIntact();
    ExpectNoLeftovers();
}

TEST_F(ReviseTest, AFontThatCannotBeReadBackIsPutBack) {
    // The read-back's open fails.
    sim::OnSleep([](DWORD) { sim::FailCall("CreateFileA"); });
    EXPECT_EQ(Revise(), kReviseReadBackFailed);
    ExpectInstalledIntact();
    ExpectNoLeftovers();
}

TEST_F(ReviseTest, AFontReadBackWithAnotherSumIsPutBack) {
    sim::OnSleep([this](DWORD) {
        Bytes damaged = Get(kFont);
        damaged[200] ^= 0x01;
        Put(kFont, damaged);
    });
    EXPECT_EQ(Revise(), kReviseChecksum);
    ExpectInstalledIntact();
    ExpectNoLeftovers();
}

TEST_F(ReviseTest, FailuresBeforeTheCopyLeaveTheFontUntouched) {
    struct Case {
        const char* what;
        Bytes installed;
        Bytes diff;
        int stopAt;
        int expected;
    };
    const Bytes noName = GothicFont(Post(0x77), false);
    const Bytes noHead = GothicFont(Post(0x77), true, false);
    // Fonts put at the listed path after the search: each the font of
    // another difference file, which this one's blocks would garble.
    const Bytes otherRevision = testdata::SmallFont(kRev1 + 1, "Sorame Gothic Pro W3");
    const Bytes otherFont = testdata::SmallFont(kRev1, "Sorame Gothic Pro W6");
    const Case cases[] = {
        {"another revision at the path", otherRevision, DiffFor(m_installed), -1, kReviseLoadFailed},
        {"another font at the path", otherFont, DiffFor(m_installed), -1, kReviseLoadFailed},
        {"not a font", BytesOf("this is not an OpenType font at all"), DiffFor(m_installed), -1, kReviseLoadFailed},
        {"stop while loading", m_installed, DiffFor(m_installed), 20, kReviseLoadFailed},
        {"a table the font lacks", m_installed, DiffFor(m_installed, {}, "DSIG"), -1, kReviseLoadFailed},
        {"stop while building", m_installed, DiffFor(m_installed), 40, kReviseStopped},
        {"stop just before writing", m_installed, DiffFor(m_installed), 90, kReviseStopped},
        {"records cut off", m_installed,
         testdata::DiffBuilder().FontName("Sorame Gothic Pro W3").FromRevision(kRev1).TableCount(9).Build(), -1,
         kReviseDiffUnreadable},
        {"no name table", noName, DiffFor(noName), -1, kReviseNoNameTable},
        {"no head table", noHead, DiffFor(noHead), -1, kReviseChecksum},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_installed = c.installed;
        Put(kFont, m_installed);
        PutDiff(c.diff);
        Progress progress;
        progress.stopAt = c.stopAt;
        EXPECT_EQ(Revise(&progress), c.expected);
        ExpectInstalledIntact();
        ExpectNoLeftovers();
        EXPECT_EQ(sim::CallCount("MoveFileExA"), 0u);
    }
}

TEST_F(ReviseTest, ADifferenceFileSwappedAfterTheScanIsNotBuiltFrom) {
    struct Case {
        const char* what;
        testdata::DiffBuilder header;
    };
    Case cases[] = {
        {"made for another font", testdata::DiffBuilder().FontName("Sorame Gothic Pro W6").FromRevision(kRev1)},
        {"made for another revision", testdata::DiffBuilder().FontName("Sorame Gothic Pro W3").FromRevision(kRev1 + 1)},
        {"not a difference file", testdata::DiffBuilder().Magic("XXXX").FontName("Sorame Gothic Pro W3").FromRevision(kRev1)},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReleaseFolderCheckCtrl();
        PutDiff(DiffFor(m_installed, {{"post", Post(0x99)}}));
        GetFolderCheckCtrl();  // the scan sees the right file
        c.header.NewFileLength(static_cast<uint32_t>(m_installed.size()));
        for (const testdata::DiffRecord& rec : testdata::KeepEverything(m_installed)) c.header.Record(rec);
        PutDiff(c.header.Build());
        COpenTypeManager m;
        EXPECT_EQ(m.ReviseFont(kFont, static_cast<int>(kRev1), nullptr, nullptr, 1, 0), kReviseLoadFailed);
        ExpectInstalledIntact();
        ExpectNoLeftovers();
    }
}

TEST_F(ReviseTest, AFontInUseWaitsOnceInTheStagingFolderAndIsReplacedAtTheNextStart) {
    ASSERT_EQ(Revise(), kReviseOk);
    const Bytes revised = Get(kFont);
    Put(kFont, m_installed);
    // Windows starts the program's completion run; here, its driver part.
    sim::SetProgramStarter([](const std::string&) {
        CompletePendingRevisions(kEveryRecord, nullptr, nullptr);
        return 0;
    });

    // Held open without delete sharing, as a program holds a font it opened,
    // in a folder only administrators may change; run three times before
    // the restart: one revision waits.
    sim::SetFolderRules("D:\\Fonts", sim::FolderRules::kAdministratorsOnly);
    sim::HoldFileElsewhere(kFont);
    for (int run = 0; run < 3; ++run) EXPECT_EQ(Revise(), kReviseOk);
    ExpectInstalledIntact();
    EXPECT_TRUE(RevisionWaitingFor(kFont));
    EXPECT_EQ(FilesIn(kStaging).size(), 2u);
    EXPECT_EQ(FilesIn("D:\\Fonts"), (std::vector<std::string>{"Sorame-Gothic-Pro-W3.otf"}));
    EXPECT_TRUE(sim::PendingMoves().empty());
    const auto runOnce = sim::RegistryValues(kRunOnce);
    ASSERT_EQ(runOnce.size(), 1u);
    EXPECT_EQ(runOnce.begin()->second, "\"C:\\Program Files\\Sorame\\Updater\\upd.exe\" /complete");
    // An ordinary run of this start of Windows leaves it waiting.
    EXPECT_EQ(CompletePendingRevisions(kEarlierStarts, nullptr, nullptr).revised, 0);
    EXPECT_EQ(FilesIn(kStaging).size(), 2u);

    sim::RestartWindows();
    EXPECT_TRUE(Get(kFont) == revised);
    EXPECT_FALSE(Exists(kStaging));
    EXPECT_TRUE(sim::RegistryValues(kRunOnce).empty());
    EXPECT_EQ(sim::OpenRegistryKeyCount(), 0);

    // When the completion cannot be registered, the font stays as it was
    // and nothing waits anywhere.
    Put(kFont, m_installed);
    sim::HoldFileElsewhere(kFont);
    sim::FailCall("RegSetValueExA", 2);
    EXPECT_EQ(Revise(), kReviseCopyFailed);
    ExpectInstalledIntact();
    EXPECT_TRUE(FilesIn(kStaging).empty());
    EXPECT_TRUE(sim::RegistryValues(kRunOnce).empty());
}

TEST_F(ReviseTest, AFontFolderSwappedForALinkMidRunIsNotWrittenThrough) {
    // The user's own font folder becomes a link to a folder the user cannot
    // write, between reading the font and replacing it; then, at the
    // read-back, between replacing and restoring.
    const Bytes theirs = GothicFont(Post(0x55));
    for (const char* swapAt : {"CopyFileA", "Sleep"}) {
        SCOPED_TRACE(swapAt);
        std::filesystem::remove_all(sim::HostPath("D:\\Fonts"));
        std::filesystem::remove_all(sim::HostPath("D:\\Old"));
        Put(kFont, m_installed);
        Put("D:\\Admin\\Sorame-Gothic-Pro-W3.otf", theirs);
        bool swapped = false;
        sim::OnCall([&](const char* api, uint64_t) {
            if (swapped || std::string(api) != swapAt) return;
            swapped = true;
            if (std::string(api) == "Sleep") sim::FailCall("CreateFileA");  // the read-back fails: a restore follows
            std::filesystem::rename(sim::HostPath("D:\\Fonts"), sim::HostPath("D:\\Old"));
            sim::MakeFolderLink("D:\\Fonts", "D:\\Admin");
        });
        const int result = Revise();
        sim::OnCall(nullptr);
        EXPECT_TRUE(swapped);
        EXPECT_NE(result, kReviseOk);
        EXPECT_TRUE(Get("D:\\Admin\\Sorame-Gothic-Pro-W3.otf") == theirs) << "a font in another folder was replaced";
        std::filesystem::remove(sim::HostPath("D:\\Fonts"));
        std::filesystem::rename(sim::HostPath("D:\\Old"), sim::HostPath("D:\\Fonts"));
    }
}

TEST_F(ReviseTest, WhenTheOriginalCannotBePutBackTheResultSaysNeither) {
    // The read-back fails, and so does the move that would restore the font.
    sim::OnSleep([](DWORD) {
        sim::FailCall("CreateFileA");
        sim::FailCall("MoveFileExA");
    });
    EXPECT_EQ(Revise(), kReviseRestoreFailed);
    EXPECT_FALSE(Get(kFont) == m_installed);
    ExpectNoLeftovers();
}

TEST_F(ReviseTest, LeftoversBesideTheFontAreOursByExactNameOnly) {
    const std::string folder = "D:\\Fonts\\";
    for (const char* name : {"~upd0.new", "~updf.new"}) Put(folder + name, BytesOf("left over"));
    const std::vector<std::string> others = {"Sorame-Gothic-Pro-W3.otf", "x~upd1.new", "~upd00.new", "~upd1.new.otf",
                                             "~updg.new"};
    for (const std::string& name : others) {
        if (name != "Sorame-Gothic-Pro-W3.otf") Put(folder + name, BytesOf("someone else's"));
    }
    MakeFolder(folder + "~upd2.new");
    RemoveReplaceLeftovers(kFont);
    std::vector<std::string> expected = others;
    expected.push_back("~upd2.new");
    std::vector<std::string> left = FilesIn("D:\\Fonts");
    std::sort(expected.begin(), expected.end());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, expected);
    ExpectInstalledIntact();
}

TEST_F(ReviseTest, AFontAtTheLongestPathTheAnsiFunctionsTakeIsReplaced) {
    // 259 characters, the most a 260-byte path buffer holds.
    const std::string folder = "D:\\" + std::string(100, 'L') + "\\" + std::string(100, 'M') + "\\" +
                               std::string(29, 'N') + "\\";
    const std::string name = "Sorame-Gothic-Pro-W3.otf";
    ASSERT_EQ(folder.size() + name.size(), 259u);
    MakeFolder(folder.substr(0, folder.size() - 1));
    const std::string path = folder + name;
    Put(path, m_installed);
    ReleaseFolderCheckCtrl();
    GetFolderCheckCtrl();
    COpenTypeManager m;
    EXPECT_EQ(m.ReviseFont(path.c_str(), static_cast<int>(kRev1), nullptr, nullptr, 1, 0), kReviseOk);
    EXPECT_FALSE(Get(path) == m_installed);
}

TEST_F(ReviseTest, AFontWithoutItsDifferenceFileOrFileEndsWith1BeforeAnyTemporaryFile) {
    std::filesystem::remove(sim::HostPath((std::string(kHost) + "Sorame-Gothic-Pro-W3.pa").c_str()));
    EXPECT_EQ(Revise(), kReviseLoadFailed);
    ExpectInstalledIntact();
    ExpectNoLeftovers();

    ReleaseFolderCheckCtrl();
    COpenTypeManager m;
    EXPECT_EQ(m.ReviseFont("D:\\Fonts\\Sorame-Gothic-Pro-W3x.otf", 0, nullptr, nullptr, 1, 0), kReviseLoadFailed);
    EXPECT_EQ(sim::CallCount("GetTempPathA"), 0u);
}

// With a release manifest beside the difference file, a font becomes exactly
// the release or stays as it was: a damaged file, a font another tool edited
// where the file takes its bytes, or a manifest that cannot be trusted ends
// the font before anything is written.  Bytes the file never takes (the
// serial strings, carried in the new name table) may differ.
TEST_F(ReviseTest, AListedRevisionIsBuiltOnlyFromTheBytesReleased) {
    const Bytes release = GothicFont(Post(0x99));
    const Bytes nameTable = testdata::StandardNameTable("Sorame Gothic Pro W3", "MAC-SERIAL-0001", "WIN-SERIAL-0001");
    const Bytes diff = DiffFor(m_installed, {{"post", Post(0x99)}, {"name", nameTable}});
    PutDiff(diff);
    const Bytes manifest = testdata::ManifestOf({{"Sorame-Gothic-Pro-W3.pa", kFont, diff, release}});
    const std::string manifestPath = std::string(kHost) + kReleaseManifestName;

    auto flipped = [](Bytes b, size_t at) {
        b[at] ^= 0x10;
        return b;
    };
    // A manifest that says another digest of one kind, or one whose text
    // was damaged there.
    const std::vector<ReleaseManifestLine> lines = testdata::LinesOf({"Sorame-Gothic-Pro-W3.pa", kFont, diff, release});
    auto otherDigest = [&](ReleaseManifestLine::Kind kind) {
        std::vector<ReleaseManifestLine> changed = lines;
        changed[kind].digest[0] ^= 1;
        return testdata::BytesOf(FormatReleaseManifest(changed));
    };
    auto damagedAt = [&](const std::string& suffix) {
        std::string text(manifest.begin(), manifest.end());
        const size_t at = text.rfind("\n", text.find("  Sorame-Gothic-Pro-W3.pa" + suffix + "\n")) + 1;
        text[at] = text[at] == '0' ? '1' : '0';
        return testdata::BytesOf(text);
    };
    auto edited = [](Bytes font, const char* tag, size_t at) {
        const std::vector<testdata::DirectoryEntry> directory = testdata::Directory(font);
        font[testdata::FindEntry(directory, tag)->offset + at] ^= 0x01;
        return testdata::WithChecksums(font);
    };
    Bytes otherSerials = m_installed;
    testdata::ForEachName(otherSerials, [&](uint16_t, uint16_t, uint16_t, uint16_t id, size_t at, size_t len) {
        if (id == 13) otherSerials[at + len - 1] ^= 0x03;
    });
    otherSerials = testdata::WithChecksums(otherSerials);

    struct Case {
        const char* what;
        Bytes font, diff, manifest;  // an empty manifest: none in the folder
        int result;
    };
    const Case cases[] = {
        {"listed", m_installed, diff, manifest, kReviseOk},
        {"no manifest", m_installed, diff, {}, kReviseOk},
        {"a manifest without a line of the file", m_installed, diff, testdata::BytesOf(FormatReleaseManifest({})),
         kReviseOk},
        {"another customer's serial strings", otherSerials, diff, manifest, kReviseOk},
        {"a bit of a record flipped", m_installed, flipped(diff, kSabunHeaderSize + 12), manifest,
         kReviseDiffNotReleased},
        {"a bit of a literal flipped", m_installed, flipped(diff, diff.size() - 3), manifest, kReviseDiffNotReleased},
        {"the manifest cut short", m_installed, diff, Bytes(manifest.begin(), manifest.end() - 4),
         kReviseDiffNotReleased},
        {"another file digest", m_installed, diff, otherDigest(ReleaseManifestLine::kFile), kReviseDiffNotReleased},
        {"another source digest", m_installed, diff, otherDigest(ReleaseManifestLine::kSource), kReviseFontNotReleased},
        {"another result digest", m_installed, diff, otherDigest(ReleaseManifestLine::kResult),
         kReviseResultNotReleased},
        {"the manifest damaged in a digest", m_installed, diff, damagedAt("#source"), kReviseDiffNotReleased},
        {"a table taken whole edited", edited(m_installed, "cmap", 5), diff, manifest, kReviseFontNotReleased},
        {"the head table edited", edited(m_installed, "head", 20), diff, manifest, kReviseFontNotReleased},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put(kFont, c.font);
        PutDiff(c.diff);
        std::filesystem::remove(sim::HostPath(manifestPath.c_str()));
        if (!c.manifest.empty()) Put(manifestPath, c.manifest);
        ASSERT_EQ(Revise(), c.result);
        if (c.result == kReviseOk) {
            Bytes mac, win;
            testdata::SerialsOf(c.font, &mac, &win);
            EXPECT_TRUE(Get(kFont) == testdata::ExpectedRevision(release, mac, win));
        } else {
            EXPECT_TRUE(Get(kFont) == c.font) << "the installed font was changed";
        }
        EXPECT_EQ(FilesIn("D:\\Fonts"), (std::vector<std::string>{"Sorame-Gothic-Pro-W3.otf"}));
        EXPECT_TRUE(FilesIn(kTemp).empty());
    }

    // What cannot be proved is not done: a folder where the manifest should
    // be, no cryptography library (Windows before Vista), a hash that fails.
    const std::vector<std::function<void()>> unprovable = {
        [&] {
            std::filesystem::remove(sim::HostPath(manifestPath.c_str()));
            MakeFolder(manifestPath);
        },
        [] { sim::SetSystemCryptography(false); },
        [] { sim::FailCall("BCryptHashData", 1, 0); },
    };
    for (const auto& breakIt : unprovable) {
        SCOPED_TRACE(&breakIt - unprovable.data());
        Put(kFont, m_installed);
        std::filesystem::remove_all(sim::HostPath(manifestPath.c_str()));
        Put(manifestPath, manifest);
        breakIt();
        EXPECT_EQ(Revise(), kReviseDiffNotReleased);
        sim::ClearFailures();
        sim::SetSystemCryptography(true);
        ExpectInstalledIntact();
        ExpectNoLeftovers();
    }
}

TEST_F(ReviseTest, ARealFontIsRevisedToItsNextRelease) {
#ifndef HAVE_PAPRODUCER
    GTEST_SKIP() << "no difference-file producer in this tree";
#else
    REQUIRE_FONT(installed, "Sorame-Gothic-Pro-W3.otf");
    REQUIRE_FONT(release, "Sorame-Gothic-Pro-W3.rev.otf");
    std::string error;
    const Bytes diff = paproducer::MakeDifference(installed, release, &error);
    ASSERT_FALSE(diff.empty()) << error;
    m_installed = installed;
    Put(kFont, installed);
    PutDiff(diff);

    ASSERT_EQ(Revise(), kReviseOk);
    ExpectNoLeftovers();
    const Bytes revised = Get(kFont);
    ASSERT_EQ(revised.size(), release.size());
    EXPECT_EQ(testdata::WordSum(revised), 0xB1B0AFBAu);

    // Every table is the release's, but for the carried-over serial strings
    // (name) and the checksums that follow from them (head).
    const uint16_t n = GetU16(revised, 4);
    for (uint16_t i = 0; i < n; ++i) {
        const size_t r = 12 + 16 * i;
        const std::string tag(revised.begin() + static_cast<long>(r), revised.begin() + static_cast<long>(r) + 4);
        if (tag == "name" || tag == "head") continue;
        const uint32_t offset = GetU32(revised, r + 8), length = GetU32(revised, r + 12);
        ASSERT_LE(uint64_t{offset} + length, release.size()) << tag;
        EXPECT_TRUE(std::equal(revised.begin() + offset, revised.begin() + offset + length, release.begin() + offset))
            << tag;
    }

    // The installed font's serial strings live on in the revised one.
    COpenTypeManager before, after;
    Put("D:\\Old\\old.otf", installed);
    ASSERT_EQ(before.LoadFont("D:\\Old\\old.otf", nullptr, nullptr, 1, 0), kReviseOk);
    ASSERT_EQ(after.LoadFont(kFont, nullptr, nullptr, 1, 0), kReviseOk);
    char macBefore[kSerialBufferSize] = {0}, winBefore[kSerialBufferSize] = {0};
    char macAfter[kSerialBufferSize] = {0}, winAfter[kSerialBufferSize] = {0};
    const CTagObject* nameBefore = before.FindTag("name");
    const CTagObject* nameAfter = after.FindTag("name");
    ASSERT_TRUE(nameBefore && nameAfter);
    before.GetSerialStrings(before.Image() + 12 + 16 * nameBefore->m_fileIndex, macBefore, winBefore);
    after.GetSerialStrings(after.Image() + 12 + 16 * nameAfter->m_fileIndex, macAfter, winAfter);
    // Each is cut to the length of the release's own record.
    const size_t macLength = std::strlen(macAfter);
    EXPECT_GT(macLength, 10u);
    EXPECT_EQ(std::strncmp(macAfter, macBefore, macLength), 0);
    size_t winLength = sizeof winAfter;
    while (winLength > 0 && winAfter[winLength - 1] == 0) --winLength;
    EXPECT_GT(winLength, 10u);
    EXPECT_EQ(std::memcmp(winAfter, winBefore, winLength), 0);
#endif
}

// Every difference file of the corpus applied to every font of it, each font
// put where the search would have listed the difference file's own font: a
// revision succeeds exactly where identification accepts the pair, and every
// other pair leaves the font as it was.
TEST_F(ReviseTest, EachDifferenceFileRevisesOnlyTheFontItNames) {
#ifndef HAVE_PAPRODUCER
    GTEST_SKIP() << "no difference-file producer in this tree";
#else
    std::vector<std::pair<std::string, Bytes>> fonts = {
        {"small", m_installed},
        {"small, next revision", testdata::SmallFont(kRev1 + 1, "Sorame Gothic Pro W3")},
        {"small, another weight", testdata::SmallFont(kRev1, "Sorame Gothic Pro W6")},
        {"small, longer serial", GothicFont(Post(0x77))},
    };
    std::vector<std::pair<std::string, Bytes>> diffs = {{"Sorame-Gothic-Pro-W3", DiffFor(m_installed)}};
    for (const char* name : {"Sorame-Gothic-Pro-W3", "Sorame-Mincho-Std-W5"}) {
        REQUIRE_FONT(installed, std::string(name) + ".otf");
        REQUIRE_FONT(release, std::string(name) + ".rev.otf");
        std::string error;
        diffs.emplace_back(name, paproducer::MakeDifference(installed, release, &error));
        ASSERT_FALSE(diffs.back().second.empty()) << error;
        fonts.emplace_back(std::string(name) + ".otf", installed);
        fonts.emplace_back(std::string(name) + ".rev.otf", release);
    }
    for (const char* name : {"Sorame-Maru-Std-W8.otf", "Sorame-Gothic-Full-W3.otf"}) {
        REQUIRE_FONT(other, name);
        fonts.emplace_back(name, other);
    }

    int revised = 0, refused = 0;
    for (const auto& [row, diff] : diffs) {
        const std::string path = "D:\\Fonts\\" + row + ".otf";
        std::filesystem::remove_all(sim::HostPath(kHost));
        MakeFolder(kHost);
        Put(std::string(kHost) + row + ".pa", diff);
        ReleaseFolderCheckCtrl();
        const DiffFileRecord* record = GetFolderCheckCtrl()->FindDiffFile(path.c_str(), 0);
        ASSERT_NE(record, nullptr) << row;
        for (const auto& [what, font] : fonts) {
            SCOPED_TRACE(row + ".pa on " + what);
            std::filesystem::remove_all(sim::HostPath("D:\\Fonts"));
            Put(path, font);
            int revision = 0;
            const int target = COpenTypeManager().IsTargetFont(path.c_str(), record, &revision);
            const int result = COpenTypeManager().ReviseFont(path.c_str(), revision, nullptr, nullptr, 1, 0);
            if (result == kReviseOk) {
                EXPECT_EQ(target, 1) << "revised by a difference file that identification refuses";
                ++revised;
            } else {
                // A pair identification accepts can still not fit (two fonts of
                // one name and revision): refused all the same.
                EXPECT_TRUE(result == kReviseLoadFailed || result == kReviseDiffUnreadable ||
                            result == kReviseNoNameTable || result == kReviseChecksum)
                    << result;
                EXPECT_TRUE(Get(path) == font) << "a font was changed by a difference file that failed";
                refused += target ? 0 : 1;
            }
            EXPECT_EQ(FilesIn("D:\\Fonts").size(), 1u);
        }
    }
    EXPECT_GE(revised, 4);  // each real font by its own file, the small one by its own and by a serial variant
    EXPECT_GT(refused, 20);
#endif
}

namespace {

const char kBobFonts[] = "C:\\Users\\bob\\AppData\\Local\\Microsoft\\Windows\\Fonts";

int ReviseAt(const std::string& path) {
    ReleaseFolderCheckCtrl();
    GetFolderCheckCtrl();
    COpenTypeManager m;
    return m.ReviseFont(path.c_str(), static_cast<int>(kRev1), nullptr, nullptr, 1, 0);
}

// Every file, folder and link under root, by host path, with its bytes or
// what it leads to; not the files `except` names.
std::map<std::string, std::string> Tree(const std::string& root, const std::vector<std::string>& except) {
    std::map<std::string, std::string> tree;
    for (auto it = std::filesystem::recursive_directory_iterator(root); it != std::filesystem::end(it); ++it) {
        const std::string path = it->path().string();
        if (std::find(except.begin(), except.end(), path) != except.end()) continue;
        if (it->is_symlink()) {
            tree[path] = "link to " + std::filesystem::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            tree[path] = "folder";
        } else {
            std::ifstream in(path, std::ios::binary);
            tree[path] = std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    return tree;
}

}  // namespace

TEST_F(ReviseTest, AFontLoadedOnlyForTheSessionIsRevisedWithoutARestart) {
    sim::LoadFontElsewhere(kFont);
    sim::LoadFontElsewhere(kFont);
    ASSERT_EQ(Revise(), kReviseOk);
    EXPECT_TRUE(Get(kFont) == GothicFont(Post(0x99)));
    EXPECT_TRUE(sim::PendingMoves().empty());
    ExpectNoLeftovers();
    // Loaded again as often as it was, now the revision.
    EXPECT_EQ(sim::FontLoadCount(kFont), 2);
    EXPECT_EQ(sim::CallCount("RemoveFontResourceA"), 3u);  // the third says it is no longer loaded
    EXPECT_EQ(sim::CallCount("AddFontResourceA"), 2u);
}

TEST_F(ReviseTest, AFontStillHeldInAFolderAUserCanChangeEndsInUseWithNothingWrittenOrKept) {
    // D:\Fonts is what Windows makes a folder at a drive's root: users may
    // change it.  Loaded, and also held by a program that has it open.
    sim::LoadFontElsewhere(kFont);
    sim::HoldFileElsewhere(kFont);
    EXPECT_EQ(Revise(), kReviseFontInUse);
    ExpectInstalledIntact();
    ExpectNoLeftovers();
    EXPECT_TRUE(sim::PendingMoves().empty());
    EXPECT_EQ(sim::FontLoadCount(kFont), 1);  // loaded again all the same

    // In a folder only administrators may change, it waits for the restart.
    sim::SetFolderRules("D:\\Fonts", sim::FolderRules::kAdministratorsOnly);
    EXPECT_EQ(Revise(), kReviseOk);
    EXPECT_EQ(FilesIn(kStaging).size(), 2u);
    ExpectInstalledIntact();
}

TEST_F(ReviseTest, AFontWhoseFolderCannotBeHeldIsNotRead) {
    sim::FailCall("CreateFileA", 2);  // the pin's second folder
    EXPECT_EQ(Revise(), kReviseLoadFailed);
    ExpectInstalledIntact();
    ASSERT_TRUE(sim::MakeFolderLink("D:\\Linked", "D:\\Fonts"));
    EXPECT_EQ(ReviseAt("D:\\Linked\\Sorame-Gothic-Pro-W3.otf"), kReviseLoadFailed);
    ExpectInstalledIntact();
}

TEST_F(ReviseTest, AUsersFontFolderReplacedByALinkAtAnyPointOfARunChangesNothingElse) {
    // Bob's own font, listed; at one call of the run (every call in turn),
    // bob replaces his font folder, or the folder above it, by a link: to
    // another user's font folder, to the administrators' one, to a folder
    // holding a file of each name the program makes.  Free, and in use.
    const std::string font = std::string(kBobFonts) + "\\Sorame-Gothic-Pro-W3.otf";
    const Bytes theirs = GothicFont(Post(0x55));
    const std::vector<std::string> targets = {"C:\\Users\\carol\\AppData\\Local\\Microsoft\\Windows\\Fonts",
                                              "C:\\Windows\\Fonts", "C:\\Users\\bob\\Decoy"};
    const std::vector<std::string> swapped = {kBobFonts, "C:\\Users\\bob\\AppData\\Local\\Microsoft\\Windows"};
    const std::string host = sim::HostPath("C:\\");
    const std::vector<std::string> ownFont = {sim::HostPath(font.c_str()),
                                              sim::HostPath((std::string(kBobFonts) + ".old").c_str()) +
                                                  "/Sorame-Gothic-Pro-W3.otf"};
    auto prepare = [&](bool inUse) {
        std::filesystem::remove_all(sim::HostPath("C:\\Users"));
        std::filesystem::remove_all(sim::HostPath("C:\\Windows\\Fonts"));
        Put(font, m_installed);
        for (int t = 0; t < 2; ++t) Put(targets[t] + "\\Sorame-Gothic-Pro-W3.otf", theirs);
        for (const char* hex : {"0", "1", "f"}) {
            for (const char* suffix : {".new", ".pnd"}) Put(targets[2] + "\\~upd" + hex + suffix, BytesOf("decoy"));
        }
        if (inUse) sim::HoldFileElsewhere(font);
        ReleaseFolderCheckCtrl();
        GetFolderCheckCtrl();  // the search has listed the font
    };
    auto run = [&] {
        RemoveReplaceLeftovers(font.c_str());
        COpenTypeManager m;
        return m.ReviseFont(font.c_str(), static_cast<int>(kRev1), nullptr, nullptr, 1, 0);
    };
    // How many calls a run makes: the sweep, then the revision.
    prepare(false);
    const uint64_t start = sim::TotalCalls();
    ASSERT_EQ(run(), kReviseOk);
    const uint64_t calls = sim::TotalCalls() - start;
    int refused = 0, done = 0;
    for (bool inUse : {false, true}) {
        for (size_t w = 0; w < swapped.size(); ++w) {
            for (uint64_t at = 1; at <= calls; at += (w == 0 ? 1 : 7)) {
                const std::string& target = targets[at % targets.size()];
                SCOPED_TRACE(swapped[w] + " -> " + target + " at call " + std::to_string(at) + (inUse ? ", in use" : ""));
                // Every hold ends, whichever file the path reaches now: a
                // hold left on a removed file would fall on a new file that
                // takes its identity.
                sim::RestartWindows();
                prepare(inUse);
                std::map<std::string, std::string> expected = Tree(host, ownFont);
                const uint64_t base = sim::TotalCalls();
                bool tried = false;
                sim::OnCall([&](const char*, uint64_t total) {
                    if (tried || total != base + at) return;
                    tried = true;
                    if (sim::ReplaceFolderByLinkElsewhere(swapped[w], target) == ERROR_SUCCESS) {
                        ++done;
                        expected = Tree(host, ownFont);  // bob's own doing
                    } else {
                        ++refused;
                    }
                });
                run();
                sim::OnCall(nullptr);
                const std::map<std::string, std::string> after = Tree(host, ownFont);
                EXPECT_TRUE(after == expected) << "something beside bob's font was changed";
                EXPECT_TRUE(sim::PendingMoves().empty());
            }
        }
    }
    // The pins refused it: only the calls that take them, folder by folder,
    // let it through, and then the pin refuses the link it meets.
    EXPECT_GT(refused, 2 * done) << refused << " refused, " << done << " done";
}

TEST_F(ReviseTest, TheSweepTakesOnlyPlainFilesWithOneNameInTheFolderTheSearchRead) {
    // Bob may write in D:\Fonts: a hard link and a file link of the
    // pattern's names there lead to his victims' files.
    Put("D:\\Fonts\\~upd0.new", BytesOf("left over"));
    Put("D:\\Other\\precious.otf", BytesOf("precious"));
    Put("D:\\Other\\~upd3.new", BytesOf("someone else's"));
    std::filesystem::create_hard_link(sim::HostPath("D:\\Other\\precious.otf"), sim::HostPath("D:\\Fonts\\~upd1.new"));
    ASSERT_TRUE(sim::MakeFileLink("D:\\Fonts\\~upd2.new", "D:\\Other\\precious.otf"));
    RemoveReplaceLeftovers(kFont);
    EXPECT_EQ(FilesIn("D:\\Fonts"), (std::vector<std::string>{"Sorame-Gothic-Pro-W3.otf", "~upd1.new", "~upd2.new"}));
    EXPECT_EQ(Get("D:\\Other\\precious.otf"), BytesOf("precious"));

    // The folder the search read, now a link to another: nothing there goes.
    ASSERT_EQ(sim::ReplaceFolderByLinkElsewhere("D:\\Fonts", "D:\\Other"), static_cast<DWORD>(ERROR_SUCCESS));
    RemoveReplaceLeftovers(kFont);
    EXPECT_EQ(Get("D:\\Other\\~upd3.new"), BytesOf("someone else's"));
}
