// The host folder scan, the pairing by name and the search of the drives.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "discovery/catalogue.h"
#include "discovery/foldercheck.h"
#include "tests/support/sim_fixture.h"

using testdata::Bytes;
using testdata::DiffBuilder;
using testdata::SmallFont;

namespace {

const uint32_t kRev1 = 0x00010000;
const uint32_t kRev2 = 0x00010290;
const char kHost[] = "E:\\Updater\\host\\";

// Status lines as the wait dialog would get them; answers 1 at the stopAt-th.
struct StatusLog {
    std::vector<std::string> lines;
    int stopAt = -1;
    int answers = 0;           // reports without a line
    std::vector<DWORD> times;  // the clock at every report
    static int Callback(const char* text, void* context) {
        auto* self = static_cast<StatusLog*>(context);
        self->times.push_back(GetTickCount());
        if (!text) return ++self->answers, 0;
        self->lines.push_back(text);
        return static_cast<int>(self->lines.size()) == self->stopAt ? 1 : 0;
    }
};

std::string DriveLine(const char* root) { return std::string(root) + "ドライブを検索しました。"; }
std::string FolderLine(const char* folder) { return std::string(folder) + "を検索しています。"; }

class FolderCheckTest : public testdata::SimMachineTest {
protected:
    void SetUp() override {
        testdata::SimMachineTest::SetUp();
        g_folderCount = 0;
        // The program lives on a removable drive, which the search leaves out.
        MapNewDrive('E', sim::kDriveRemovable);
        sim::SetModulePath("E:\\Updater\\upd.exe");
    }
    void TearDown() override {
        ReleaseFolderCheckCtrl();
        testdata::SimMachineTest::TearDown();
    }

    void PutDiff(const std::string& name, const std::string& fontName, uint32_t fromRevision) {
        Put(kHost + name, DiffBuilder().FontName(fontName).FromRevision(fromRevision).Build());
    }
    // The two difference files most tests pair fonts with.
    void StandardHost() {
        PutDiff("Sorame-Gothic-Pro-W3.pa", "Sorame Gothic Pro W3", kRev1);
        PutDiff("Sorame-Mincho-Std-W5.pa", "Sorame Mincho Std W5", kRev1);
    }
    void PutGothic(const std::string& path, uint32_t revision = kRev1) {
        Put(path, SmallFont(revision, "Sorame Gothic Pro W3"));
    }
    void PutMincho(const std::string& path, uint32_t revision = kRev1) {
        Put(path, SmallFont(revision, "Sorame Mincho Std W5"));
    }

    // Forgets the machine and starts again from the one SetUp makes.
    void FreshMachine() {
        ReleaseFolderCheckCtrl();
        sim::Reset();
        std::filesystem::remove_all(m_root);
        MapNewDrive('C');
        MapNewDrive('E', sim::kDriveRemovable);
        sim::SetModulePath("E:\\Updater\\upd.exe");
        g_folderCount = 0;
    }

    static std::vector<std::string> FoundPaths(const CFolderCheckCtrl* c) {
        std::vector<std::string> paths;
        for (INT_PTR i = 0; i < c->GetFoundFontCount(); ++i) paths.push_back(c->GetFoundFont(i)->path);
        return paths;
    }
    static std::vector<std::string> DownloadPaths(const CFolderCheckCtrl* c) {
        std::vector<std::string> paths;
        for (INT_PTR i = 0; i < c->m_downloadFiles.GetSize(); ++i) paths.push_back(c->m_downloadFiles.GetAt(i));
        return paths;
    }
};

}  // namespace

// ---------------------------------------------------------------------------
// The host folder

TEST_F(FolderCheckTest, TheScanKeepsValidCatalogueDifferenceFilesInListingOrder) {
    const std::string fullName(32, 'N');
    PutDiff("Sorame-Mincho-Std-W5.pa", "Sorame Mincho Std W5", kRev2);
    PutDiff("Sorame-Antique-Std-W3.pa", fullName, kRev1);  // a later catalogue row, listed first
    PutDiff("sorame-gothic-pro-w3.pa", "Sorame Gothic Pro W3", kRev1);  // case differs from its row
    PutDiff("Sorame-Gothic-Pro-W6.pa.old", "Sorame Gothic Pro W6", kRev1);
    Put(std::string(kHost) + "Sorame-Kana-Std-W2.pa", testdata::BytesOf("not a difference file"));
    MakeFolder(std::string(kHost) + "Sorame-Pop-Std-W4.pa");

    CFolderCheckCtrl* c = GetFolderCheckCtrl();
    ASSERT_EQ(c->GetDiffFileCount(), 2);
    const DiffFileRecord* antique = c->GetDiffFile(0);
    EXPECT_STREQ(antique->diffPath, "E:\\Updater\\host\\Sorame-Antique-Std-W3.pa");
    EXPECT_STREQ(antique->fontFileName, "Sorame-Antique-Std-W3.otf");
    EXPECT_EQ(std::string(antique->fontName), fullName);
    EXPECT_EQ(antique->fromRevision, static_cast<int>(kRev1));
    const DiffFileRecord* mincho = c->GetDiffFile(1);
    EXPECT_STREQ(mincho->fontFileName, "Sorame-Mincho-Std-W5.otf");
    EXPECT_STREQ(mincho->fontName, "Sorame Mincho Std W5");
    EXPECT_EQ(mincho->fromRevision, static_cast<int>(kRev2));
    EXPECT_EQ(c->GetDiffFile(2), nullptr);
    EXPECT_EQ(c->GetDiffFile(-1), nullptr);
}

TEST_F(FolderCheckTest, TheControllerIsMadeOnceAndScansAgainOnlyAfterRelease) {
    StandardHost();
    CFolderCheckCtrl* first = GetFolderCheckCtrl();
    EXPECT_EQ(first->GetDiffFileCount(), 2);
    PutDiff("Sorame-Maru-Std-W8.pa", "Sorame Maru Std W8", kRev1);
    EXPECT_EQ(GetFolderCheckCtrl(), first);
    EXPECT_EQ(first->GetDiffFileCount(), 2);

    ReleaseFolderCheckCtrl();
    EXPECT_EQ(GetFolderCheckCtrl()->GetDiffFileCount(), 3);
}

TEST_F(FolderCheckTest, NoHostFolderMeansNoDifferenceFiles) {
    EXPECT_EQ(GetFolderCheckCtrl()->GetDiffFileCount(), 0);
    ReleaseFolderCheckCtrl();
    StandardHost();
    sim::FailCall("GetModuleFileNameA");
    EXPECT_EQ(GetFolderCheckCtrl()->GetDiffFileCount(), 0);
}

TEST_F(FolderCheckTest, AFontIsPairedWithTheDifferenceFileItsNameBeginsWith) {
    StandardHost();
    CFolderCheckCtrl* c = GetFolderCheckCtrl();
    const DiffFileRecord* gothic = c->GetDiffFile(0);
    ASSERT_STREQ(gothic->fontFileName, "Sorame-Gothic-Pro-W3.otf");

    EXPECT_EQ(c->FindDiffFile("C:\\Windows\\Fonts\\Sorame-Gothic-Pro-W3.otf", 0), gothic);
    EXPECT_EQ(c->FindDiffFile("C:\\F\\Sorame-Gothic-Pro-W3x.otf", 0), gothic);
    EXPECT_EQ(c->FindDiffFile("C:\\F\\Sorame-Gothic-Pro-W3.otf.bak", 0), gothic);
    EXPECT_EQ(c->FindDiffFile("D:\\Sorame-Mincho-Std-W5.otf", 0), c->GetDiffFile(1));
    EXPECT_EQ(c->FindDiffFile("C:\\F\\Sorame-Gothic-Pro-W.otf", 0), nullptr);
    EXPECT_EQ(c->FindDiffFile("C:\\F\\sorame-gothic-pro-w3.otf", 0), nullptr);
    // Only the file name counts, not the folders on the way.
    EXPECT_EQ(c->FindDiffFile("C:\\Sorame-Gothic-Pro-W3.otf\\Other.otf", 0), nullptr);
    EXPECT_EQ(c->FindDiffFile("", 0), nullptr);
}

// ---------------------------------------------------------------------------
// The search

TEST_F(FolderCheckTest, TheSearchFindsExactlyTheTargetsOfTheFixedDrives) {
    StandardHost();
    MapNewDrive('D');
    MapNewDrive('F', sim::kDriveCdrom);
    const std::string code0 = g_productCodes[0], code1 = g_productCodes[1], code2 = g_productCodes[2];

    PutGothic("C:\\Windows\\Fonts\\Sorame-Gothic-Pro-W3.otf");
    PutGothic("C:\\Windows\\Fonts\\Sorame-Gothic-Pro-W3x.otf");      // longer base name
    PutGothic("C:\\Windows\\Fonts\\Sorame-Gothic-Pro-W3.otf.bak");   // backup suffix
    PutGothic("C:\\Windows\\Fonts\\Other-Font.otf");                 // not in the catalogue
    Put("C:\\Windows\\Fonts\\Sorame-Gothic-Pro-W6.otf", SmallFont(kRev1, "Sorame Gothic Pro W6"));  // no difference file
    PutMincho("C:\\Windows\\Fonts\\Sorame-Mincho-Std-W5.otf", kRev2);  // another revision
    PutGothic("C:\\Case\\SORAME-GOTHIC-PRO-W3.otf");
    PutGothic("C:\\Case2\\Sorame-Gothic-Pro-W3.OTF");
    PutGothic("C:\\Case\\Sorame-Gothic-Pro-W3-with-a-name-over-forty-bytes.otf");
    PutMincho("C:\\a\\b\\c\\d\\e\\f\\Sorame-Mincho-Std-W5.otf");     // six levels down: listed
    PutMincho("C:\\a\\b\\c\\d\\e\\f\\g\\Sorame-Mincho-Std-W5.otf");  // seven: not
    PutMincho("D:\\Fonts\\Sorame-Mincho-Std-W5.otf");
    // Named for one row, holding another row's font: its own row's difference
    // file, the one the run builds from, does not revise it.
    PutMincho("D:\\Renamed\\Sorame-Gothic-Pro-W3.otf");
    PutGothic("E:\\Sorame-Gothic-Pro-W3.otf");  // removable
    PutGothic("F:\\Sorame-Gothic-Pro-W3.otf");  // CD-ROM

    const Bytes copy = testdata::BytesOf("copy");
    Put("C:\\Data\\Korvane\\Fonts\\Download\\add\\" + code0, copy);
    Put("C:\\Data\\Korvane\\Fonts\\Download\\add\\" + code0 + ".otf", copy);
    Put("C:\\Data\\Korvane\\Fonts\\Download\\add\\00000", copy);
    Put("C:\\Ab\\Korvane\\Fonts\\Download\\add\\" + code1, copy);   // marker at byte 5
    Put("C:\\Abc\\Korvane\\Fonts\\Download\\add\\" + code1, copy);  // marker at byte 6
    Put("C:\\Temp\\" + code2, copy);

    CFolderCheckCtrl* c = GetFolderCheckCtrl();
    StatusLog log;
    c->SearchFonts(StatusLog::Callback, &log);

    EXPECT_EQ(FoundPaths(c), (std::vector<std::string>{
                                 "C:\\a\\b\\c\\d\\e\\f\\Sorame-Mincho-Std-W5.otf",
                                 "C:\\Windows\\Fonts\\Sorame-Gothic-Pro-W3.otf",
                                 "C:\\Windows\\Fonts\\Sorame-Gothic-Pro-W3.otf.bak",
                                 "C:\\Windows\\Fonts\\Sorame-Gothic-Pro-W3x.otf",
                                 "D:\\Fonts\\Sorame-Mincho-Std-W5.otf",
                             }));
    for (INT_PTR i = 0; i < c->GetFoundFontCount(); ++i) {
        EXPECT_EQ(c->GetFoundFont(i)->skip, 0);
        EXPECT_EQ(c->GetFoundFont(i)->revision, static_cast<int>(kRev1));
    }
    EXPECT_EQ(c->GetFoundFont(c->GetFoundFontCount()), nullptr);
    EXPECT_EQ(DownloadPaths(c), (std::vector<std::string>{
                                    "C:\\Abc\\Korvane\\Fonts\\Download\\add\\" + code1,
                                    "C:\\Data\\Korvane\\Fonts\\Download\\add\\" + code0,
                                }));
    // Every drive is reported, kept or not, before any folder; fewer than 30 folders.
    EXPECT_EQ(log.lines, (std::vector<std::string>{DriveLine("C:\\"), DriveLine("D:\\"), DriveLine("E:\\"),
                                                   DriveLine("F:\\")}));
    EXPECT_EQ(c->m_drives.size(), 2u);
}

TEST_F(FolderCheckTest, EveryThirtiethFolderIsReportedCountingOnFromEarlierWalks) {
    StandardHost();
    g_folderCount = 25;
    for (int i = 0; i < 65; ++i) MakeFolder("C:\\Many\\f" + std::string(i < 10 ? "0" : "") + std::to_string(i));
    CFolderCheckCtrl* c = GetFolderCheckCtrl();
    StatusLog log;
    c->SearchFonts(StatusLog::Callback, &log);
    EXPECT_EQ(log.lines, (std::vector<std::string>{DriveLine("C:\\"), DriveLine("E:\\"), FolderLine("C:\\Many\\f03\\"),
                                                   FolderLine("C:\\Many\\f33\\"), FolderLine("C:\\Many\\f63\\")}));
    EXPECT_EQ(g_folderCount, 25 + 66);
}

// However long a folder takes to list, the window is let answer at least
// every 50 ms of it; the status lines stay what they were, and come when they
// came.  Systems before Windows 7 list the same with the plain listing.
TEST_F(FolderCheckTest, TheWindowAnswersEvery50MsOfListingWithTheSameStatusLines) {
    StandardHost();
    for (int i = 0; i < 65; ++i) MakeFolder("C:\\Many\\f" + std::to_string(100 + i));
    for (int i = 0; i < 2000; ++i) Put("C:\\Many\\f130\\file" + std::to_string(i) + ".dat", {});
    PutGothic("C:\\Many\\f164\\Sorame-Gothic-Pro-W3.otf");
    uint64_t plainBefore = 0, basicBefore = 0;
    const auto search = [&](DWORD costUs, DWORD major, std::vector<std::string>* lines) {
        ReleaseFolderCheckCtrl();
        g_folderCount = 0;
        plainBefore = sim::CallCount("FindFirstFileA");
        basicBefore = sim::CallCount("FindFirstFileExA");
        sim::WindowsVersion version;
        version.major = major;
        version.minor = 0;
        sim::SetWindowsVersion(version);
        sim::SetListingCost(costUs);
        StatusLog log;
        CFolderCheckCtrl* c = GetFolderCheckCtrl();
        const DWORD start = GetTickCount();
        c->SearchFonts(StatusLog::Callback, &log);
        EXPECT_EQ(FoundPaths(c), (std::vector<std::string>{"C:\\Many\\f164\\Sorame-Gothic-Pro-W3.otf"}));
        *lines = log.lines;
        DWORD last = start, longest = 0;
        for (const DWORD at : log.times) {
            longest = std::max(longest, at - last);
            last = at;
        }
        longest = std::max(longest, GetTickCount() - last);
        return std::make_pair(log.answers, longest);
    };
    std::vector<std::string> instant, slow, plain;
    EXPECT_EQ(search(0, 10, &instant).first, 0);
    // 2,000 entries at 1 ms: 2 s of listing in one folder.
    const auto answered = search(1000, 10, &slow);
    EXPECT_GE(answered.first, 2000 / 50 - 1);
    EXPECT_LE(answered.second, 51u);  // 50 ms, and the entry that passed it
    EXPECT_EQ(slow, instant);
    EXPECT_EQ(sim::CallCount("FindFirstFileA") - plainBefore, 1u);  // the host folder's
    // Windows Vista refuses the basic level; the walk lists all the same.
    EXPECT_LE(search(1000, 6, &plain).second, 51u);
    EXPECT_EQ(plain, instant);
    EXPECT_EQ(sim::CallCount("FindFirstFileExA") - basicBefore, 1u);  // refused once, never asked again
}

TEST_F(FolderCheckTest, AFolderSevenLevelsDownIsCountedAndReportedButNotListed) {
    StandardHost();
    g_folderCount = 23;
    PutMincho("C:\\a\\b\\c\\d\\e\\f\\g\\Sorame-Mincho-Std-W5.otf");
    CFolderCheckCtrl* c = GetFolderCheckCtrl();
    const uint64_t listingsBefore = sim::CallCount("FindFirstFileExA");
    StatusLog log;
    c->SearchFonts(StatusLog::Callback, &log);
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[2], FolderLine("C:\\a\\b\\c\\d\\e\\f\\g\\"));
    EXPECT_EQ(sim::CallCount("FindFirstFileExA") - listingsBefore, 7u);  // the root and a .. f
    EXPECT_EQ(c->GetFoundFontCount(), 0);
}

TEST_F(FolderCheckTest, AStopAtADriveReportWalksNoDrive) {
    StandardHost();
    MapNewDrive('D');
    PutGothic("C:\\Sorame-Gothic-Pro-W3.otf");
    PutGothic("D:\\Sorame-Gothic-Pro-W3.otf");
    CFolderCheckCtrl* c = GetFolderCheckCtrl();
    auto listings = [] { return sim::CallCount("FindFirstFileA") + sim::CallCount("FindFirstFileExA"); };
    const uint64_t listingsBefore = listings();
    StatusLog log;
    log.stopAt = 2;
    EXPECT_EQ(c->CollectFixedDrives(StatusLog::Callback, &log), 0);
    ReleaseFolderCheckCtrl();

    c = GetFolderCheckCtrl();
    log = StatusLog();
    log.stopAt = 1;
    c->SearchFonts(StatusLog::Callback, &log);
    EXPECT_EQ(log.lines, (std::vector<std::string>{DriveLine("C:\\")}));
    EXPECT_EQ(listings() - listingsBefore, 1u);  // the second scan's host listing only
    EXPECT_EQ(c->GetFoundFontCount(), 0);
}

TEST_F(FolderCheckTest, AStopAtAFolderReportEndsTheWalkAndKeepsWhatWasFound) {
    StandardHost();
    MapNewDrive('D');
    g_folderCount = 28;
    PutGothic("C:\\A\\Sorame-Gothic-Pro-W3.otf");          // folder 29
    PutGothic("C:\\B\\Sorame-Gothic-Pro-W3.otf");          // folder 30: the stop
    PutGothic("C:\\C\\Sorame-Gothic-Pro-W3.otf");
    PutGothic("C:\\Sorame-Gothic-Pro-W3.otf");             // listed after the folders
    PutMincho("D:\\Sorame-Mincho-Std-W5.otf");
    CFolderCheckCtrl* c = GetFolderCheckCtrl();
    StatusLog log;
    log.stopAt = 4;  // C:, D:, E: and the first folder report
    EXPECT_EQ(c->CollectFixedDrives(StatusLog::Callback, &log), 1);
    EXPECT_EQ(c->SearchDrives(StatusLog::Callback, &log), 0);
    EXPECT_EQ(FoundPaths(c), (std::vector<std::string>{"C:\\A\\Sorame-Gothic-Pro-W3.otf"}));
    EXPECT_EQ(log.lines.back(), FolderLine("C:\\B\\"));
    EXPECT_EQ(log.lines.size(), 4u);
}

TEST_F(FolderCheckTest, WithoutFixedDrivesOrADriveListNothingIsWalked) {
    StandardHost();
    MapNewDrive('C', sim::kDriveRemovable);
    PutGothic("C:\\Sorame-Gothic-Pro-W3.otf");
    CFolderCheckCtrl* c = GetFolderCheckCtrl();
    StatusLog log;
    c->SearchFonts(StatusLog::Callback, &log);
    EXPECT_EQ(log.lines, (std::vector<std::string>{DriveLine("C:\\"), DriveLine("E:\\")}));
    EXPECT_EQ(c->GetFoundFontCount(), 0);

    MapNewDrive('C');
    sim::FailCall("GetLogicalDriveStringsA");
    log = StatusLog();
    EXPECT_EQ(c->CollectFixedDrives(StatusLog::Callback, &log), 0);
    c->SearchFonts(StatusLog::Callback, &log);  // the list comes back: the drive is walked
    EXPECT_EQ(c->GetFoundFontCount(), 1);
}

TEST_F(FolderCheckTest, AFolderThatCannotBeListedIsSkipped) {
    StandardHost();
    PutGothic("C:\\A\\Sorame-Gothic-Pro-W3.otf");
    PutGothic("C:\\B\\Sorame-Gothic-Pro-W3.otf");
    CFolderCheckCtrl* c = GetFolderCheckCtrl();
    sim::FailCall("FindFirstFileExA", 2);  // the root lists, C:\A\ does not
    c->SearchFonts(nullptr, nullptr);
    EXPECT_EQ(FoundPaths(c), (std::vector<std::string>{"C:\\B\\Sorame-Gothic-Pro-W3.otf"}));
}

// A listing that fails once part-way drops nothing: neither the rest of a
// folder of the walk nor a difference file of the host folder.
TEST_F(FolderCheckTest, AListingThatFailsOncePartWayDropsNothing) {
    StandardHost();
    for (int i = 0; i < 5; ++i) Put("C:\\A\\file" + std::to_string(i) + ".dat", {});
    PutGothic("C:\\A\\Sorame-Gothic-Pro-W3.otf");
    PutMincho("C:\\Sorame-Mincho-Std-W5.otf");
    const uint64_t before = sim::CallCount("FindNextFileA");
    GetFolderCheckCtrl()->SearchFonts(nullptr, nullptr);
    const std::vector<std::string> all = FoundPaths(GetFolderCheckCtrl());
    ASSERT_EQ(all.size(), 2u);
    const uint64_t calls = sim::CallCount("FindNextFileA") - before;
    for (uint64_t n = 1; n <= calls; ++n) {
        ReleaseFolderCheckCtrl();
        sim::FailCall("FindNextFileA", static_cast<unsigned>(n));
        CFolderCheckCtrl* c = GetFolderCheckCtrl();
        c->SearchFonts(nullptr, nullptr);
        EXPECT_EQ(c->GetDiffFileCount(), 2) << n;
        EXPECT_EQ(FoundPaths(c), all) << n;
    }
}

TEST_F(FolderCheckTest, AFontThatCannotBeReadIsNotRecorded) {
    StandardHost();
    PutGothic("C:\\Sorame-Gothic-Pro-W3.otf");
    Put("C:\\Sorame-Gothic-Pro-W3x.otf", Bytes());
    CFolderCheckCtrl* c = GetFolderCheckCtrl();
    sim::FailCall("ReadFile");
    c->SearchFonts(nullptr, nullptr);
    EXPECT_EQ(c->GetFoundFontCount(), 0);
}

TEST_F(FolderCheckTest, AFontIsFoundAtAPathOfUpTo259CharactersAndNoLonger) {
    // The ANSI functions take 259 characters and a terminator: a longer path
    // can be neither opened nor replaced, so it must not be listed.
    StandardHost();
    const std::string name = "Sorame-Gothic-Pro-W3.otf";
    const std::string fits = "C:\\" + std::string(259 - 4 - name.size(), 'x') + "\\" + name;
    const std::string over = "C:\\" + std::string(260 - 4 - name.size(), 'y') + "\\" + name;
    ASSERT_EQ(fits.size(), 259u);
    PutGothic(fits);
    PutGothic(over);
    CFolderCheckCtrl* c = GetFolderCheckCtrl();
    c->SearchFonts(nullptr, nullptr);
    EXPECT_EQ(FoundPaths(c), (std::vector<std::string>{fits}));
}

// ---------------------------------------------------------------------------
// One font, many paths

TEST_F(FolderCheckTest, AFontReachedByManyPathsIsListedOnceByAPathWithoutALinkWhenThereIsOne) {
    const std::string gothic = "Sorame-Gothic-Pro-W3.otf";
    struct Case {
        const char* what;
        std::function<void()> make;
        std::string listed;
    };
    const Case cases[] = {
        // "loop" is listed before the font: the walk meets it through the
        // link first, and then by its own path, which it is revised by.
        {"a folder linked into itself",
         [&] {
             PutGothic("C:\\Fonts\\" + gothic);
             ASSERT_TRUE(sim::MakeFolderLink("C:\\Fonts\\loop", "C:\\Fonts"));
         },
         "C:\\Fonts\\" + gothic},
        {"a drive substituted for a folder",
         [&] {
             PutGothic("C:\\Fonts\\" + gothic);
             sim::MapDrive('S', sim::HostPath("C:\\Fonts"));
         },
         "C:\\Fonts\\" + gothic},
        {"a volume mounted in a folder",
         [&] {
             MapNewDrive('D');
             PutGothic("D:\\" + gothic);
             ASSERT_TRUE(sim::MakeFolderLink("C:\\Mnt\\Data", "D:\\"));
         },
         "D:\\" + gothic},
        // Reached only through the link (the walk leaves the drive's own
        // letter alone): listed so, and left as a font that cannot be revised.
        {"a volume mounted in a folder, its letter not walked",
         [&] {
             MapNewDrive('D', sim::kDriveRemovable);
             PutGothic("D:\\" + gothic);
             ASSERT_TRUE(sim::MakeFolderLink("C:\\Mnt\\Data", "D:\\"));
         },
         "C:\\Mnt\\Data\\" + gothic},
        {"a font whose identity cannot be had is kept",
         [&] {
             PutGothic("C:\\Fonts\\" + gothic);
             sim::FailCall("GetFileInformationByHandle");
         },
         "C:\\Fonts\\" + gothic},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FreshMachine();
        StandardHost();
        c.make();
        CFolderCheckCtrl* ctrl = GetFolderCheckCtrl();
        ctrl->SearchFonts(nullptr, nullptr);
        EXPECT_EQ(FoundPaths(ctrl), (std::vector<std::string>{c.listed}));
    }
}

TEST_F(FolderCheckTest, PlantedLinksToLinksDoNotMultiplyTheWalk) {
    // Four links in each of three folders to the next, the last back to the
    // first: followed blindly to the depth limit, 4,096 listings.
    StandardHost();
    const char* folders[] = {"C:\\P", "C:\\Q", "C:\\R"};
    for (int i = 0; i < 3; ++i) {
        for (const char* link : {"a", "b", "c", "d"}) {
            ASSERT_TRUE(sim::MakeFolderLink(std::string(folders[i]) + "\\" + link, folders[(i + 1) % 3]));
        }
    }
    PutGothic("C:\\R\\Sorame-Gothic-Pro-W3.otf");
    CFolderCheckCtrl* c = GetFolderCheckCtrl();
    const uint64_t listingsBefore = sim::CallCount("FindFirstFileExA");
    c->SearchFonts(nullptr, nullptr);
    EXPECT_EQ(FoundPaths(c), (std::vector<std::string>{"C:\\R\\Sorame-Gothic-Pro-W3.otf"}));
    EXPECT_LE(sim::CallCount("FindFirstFileExA") - listingsBefore, 20u);
}

TEST_F(FolderCheckTest, EachUsersOwnFontFolderIsSearchedOnceAfterTheDrives) {
    StandardHost();
    const std::string alice = "C:\\Users\\alice\\AppData\\Local\\Microsoft\\Windows\\Fonts\\";
    PutGothic(alice + "Sorame-Gothic-Pro-W3.otf");
    PutMincho(alice + "sub\\Sorame-Mincho-Std-W5.otf");  // below the folder: not searched
    MakeFolder("C:\\Users\\bob\\Documents");             // no fonts of his own
    Put("C:\\Users\\desktop.ini", Bytes(4));
    PutMincho("C:\\Windows\\Fonts\\Sorame-Mincho-Std-W5.otf");
    // A profile that leads to another, and a user's font folder that leads
    // back into the walk: neither is searched again.
    ASSERT_TRUE(sim::MakeFolderLink("C:\\Users\\evil", "C:\\Users\\alice"));
    ASSERT_TRUE(sim::MakeFolderLink("C:\\Users\\carol\\AppData\\Local\\Microsoft\\Windows\\Fonts", "C:\\Windows\\Fonts"));

    CFolderCheckCtrl* c = GetFolderCheckCtrl();
    StatusLog log;
    ASSERT_EQ(c->CollectFixedDrives(StatusLog::Callback, &log), 1);
    ASSERT_EQ(c->SearchDrives(StatusLog::Callback, &log), 1);
    EXPECT_EQ(FoundPaths(c), (std::vector<std::string>{"C:\\Windows\\Fonts\\Sorame-Mincho-Std-W5.otf"}));
    // Alice's folder is counted like any folder, and only hers.
    g_folderCount = 29;
    log = StatusLog();
    EXPECT_EQ(c->SearchUserFontFolders(StatusLog::Callback, &log), 1);
    EXPECT_EQ(log.lines, (std::vector<std::string>{FolderLine(alice.c_str())}));
    EXPECT_EQ(g_folderCount, 30);
    EXPECT_EQ(FoundPaths(c), (std::vector<std::string>{"C:\\Windows\\Fonts\\Sorame-Mincho-Std-W5.otf",
                                                       alice + "Sorame-Gothic-Pro-W3.otf"}));

    // A stop at that report ends the search before her folder.
    ReleaseFolderCheckCtrl();
    c = GetFolderCheckCtrl();
    g_folderCount = 0;
    c->SearchFonts(nullptr, nullptr);
    const int counted = g_folderCount;  // the walk's folders and hers
    ReleaseFolderCheckCtrl();
    c = GetFolderCheckCtrl();
    g_folderCount = 30 - counted;
    log = StatusLog();
    log.stopAt = 3;  // C:, E:, then her folder
    c->SearchFonts(StatusLog::Callback, &log);
    EXPECT_EQ(log.lines.back(), FolderLine(alice.c_str()));
    EXPECT_EQ(c->GetFoundFontCount(), 1);

    // Profiles on a drive the search leaves out are left out too.
    ReleaseFolderCheckCtrl();
    sim::SetProfilesFolder("E:\\Users");
    PutGothic("E:\\Users\\dave\\AppData\\Local\\Microsoft\\Windows\\Fonts\\Sorame-Gothic-Pro-W3.otf");
    c = GetFolderCheckCtrl();
    c->SearchFonts(nullptr, nullptr);
    EXPECT_EQ(c->GetFoundFontCount(), 1);
}
