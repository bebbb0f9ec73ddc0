// Whole program runs on the simulated machine: the application object, the
// main dialog's search and update run, driven by a scripted user, checked by
// what was shown and what is left on the drives.
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/manifest.h"
#include "tests/support/wholerun.h"

using namespace wholerun;

namespace {

const std::vector<int> kListedThenAborted = {IDD_UPDATER_DIALOG, IDD_START_DIALOG, IDD_WAIT_DIALOG,
                                             IDD_MESSAGE_DIALOG};

}  // namespace

// ---------------------------------------------------------------------------
// One copy per program file

TEST_F(WholeRunTest, ASecondCopyEndsSilentlyAndACopyUnderAnotherNameRuns) {
    // The first copy ends at the start notice; its mutex stays while it runs.
    sim::Answer(IDD_START_DIALOG, sim::Click(IDCANCEL));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDOK));
    EXPECT_EQ(RunProgram(), 1602) << "cancelled";
    EXPECT_TRUE(sim::MutexExists("upd.EXE"));

    EXPECT_EQ(RunProgram(), 1618) << "another copy runs";
    EXPECT_TRUE(Dialogs().empty()) << "the second copy shows nothing";
    EXPECT_EQ(sim::Transcript().size(), m_mark);

    // Another file name, or only another letter case, is another program.
    for (const char* other : {"C:\\Program Files\\Sorame\\Updater\\upd2.exe", "C:\\Program Files\\Sorame\\Updater\\UPD.exe"}) {
        sim::Answer(IDD_START_DIALOG, sim::Click(IDCANCEL));
        sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDOK));
        RunProgram(other);
        EXPECT_EQ(Dialogs(), (std::vector<int>{IDD_UPDATER_DIALOG, IDD_START_DIALOG, IDD_MESSAGE_DIALOG})) << other;
    }

    // Once the first copy has ended, the name is free again.
    sim::EndProgramRun();
    sim::Answer(IDD_START_DIALOG, sim::Click(IDCANCEL));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDOK));
    RunProgram();
    EXPECT_EQ(Dialogs().size(), 3u);

    // A copy started elsewhere holds the name the same way.
    sim::EndProgramRun();
    sim::HoldMutexElsewhere("upd.EXE");
    RunProgram();
    EXPECT_TRUE(Dialogs().empty());
    sim::ReleaseMutexElsewhere("upd.EXE");
}

// ---------------------------------------------------------------------------
// The checks before anything is asked

TEST_F(WholeRunTest, EachEnvironmentOutcomeShowsItsMessageOrNoneAndNothingElse) {
    INSTALL_TARGETS();
    struct Case {
        const char* what;
        DWORD platform, major, minor;
        sim::UserRights rights;
        bool queryFails;
        UINT message;  // 0: accepted, the start notice follows
    };
    const auto admin = sim::UserRights::kAdministrator;
    const auto user = sim::UserRights::kStandardUser;
    const Case cases[] = {
        {"version query fails", 2, 6, 2, admin, true, IDS_SETUP_ERROR},
        {"Win32s", 0, 3, 11, admin, false, IDS_OS_UNSUPPORTED},
        {"Windows 95", 1, 4, 0, admin, false, IDS_OS_UNSUPPORTED},
        {"Windows 98", 1, 4, 10, admin, false, IDS_OS_UNSUPPORTED},
        {"Windows Me", 1, 4, 90, admin, false, IDS_OS_UNSUPPORTED},
        {"other 95-family minor", 1, 4, 3, admin, false, IDS_OS_UNSUPPORTED},
        {"95-family major 5", 1, 5, 0, admin, false, IDS_OS_UNSUPPORTED},
        {"NT 3.51", 2, 3, 51, admin, false, IDS_OS_UNSUPPORTED},
        {"NT 4.0", 2, 4, 0, admin, false, IDS_OS_UNSUPPORTED},
        {"Windows 2000", 2, 5, 0, admin, false, IDS_OS_UNSUPPORTED},
        {"NT 5.3", 2, 5, 3, admin, false, IDS_OS_UNSUPPORTED},
        {"unknown platform", 3, 6, 0, admin, false, IDS_OS_UNSUPPORTED},
        {"unsupported and no rights: the version comes first", 2, 5, 0, user, false, IDS_OS_UNSUPPORTED},
        {"XP", 2, 5, 1, admin, false, 0},
        {"NT 5.2", 2, 5, 2, admin, false, 0},
        {"Vista", 2, 6, 0, admin, false, 0},
        {"major 10", 2, 10, 0, admin, false, 0},
        {"XP, standard user", 2, 5, 1, user, false, IDS_NOT_ADMIN},
        {"current, standard user", 2, 10, 0, user, false, IDS_NOT_ADMIN},
        {"administrator without elevation", 2, 6, 2, sim::UserRights::kAdministratorWithoutElevation, false,
         IDS_NOT_ADMIN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::WindowsVersion v;
        v.platform = c.platform;
        v.major = c.major;
        v.minor = c.minor;
        sim::SetWindowsVersion(v);
        sim::SetUserRights(c.rights);
        if (c.queryFails) {
            sim::FailCall("GetVersionExA", 1);
            sim::FailCall("GetVersionExA", 2);
        }
        if (c.message) {
            sim::Answer(IDD_OK_DIALOG, sim::Click(IDOK));
        } else {
            sim::Answer(IDD_START_DIALOG, sim::Click(IDCANCEL));
            sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDOK));
        }
        const uint64_t searchesBefore = sim::CallCount("GetLogicalDriveStringsA");
        RunProgram();
        sim::EndProgramRun();
        sim::ClearFailures();
        if (c.message) {
            EXPECT_EQ(Dialogs(), (std::vector<int>{IDD_UPDATER_DIALOG, IDD_OK_DIALOG}));
            EXPECT_EQ(Shown(IDD_OK_DIALOG, IDC_MESSAGE_TEXT), Message(c.message));
        } else {
            EXPECT_EQ(Dialogs(), (std::vector<int>{IDD_UPDATER_DIALOG, IDD_START_DIALOG, IDD_MESSAGE_DIALOG}));
        }
        EXPECT_EQ(sim::CallCount("GetLogicalDriveStringsA"), searchesBefore) << "no search";
    }
    EXPECT_TRUE(sim::EventsOf(UiEvent::kShown, IDD_UPDATER_DIALOG).empty()) << "the main dialog never showed";
    ExpectAllUntouched();
}

// ---------------------------------------------------------------------------
// The search phase

TEST_F(WholeRunTest, TheStartNoticeDeclinedEndsWithoutASearch) {
    INSTALL_TARGETS();
    sim::Answer(IDD_START_DIALOG, sim::Click(IDCANCEL));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDCANCEL));  // "いいえ": the notice stays
    sim::Answer(IDD_START_DIALOG, sim::Press(VK_ESCAPE));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDOK));
    RunProgram();
    EXPECT_EQ(Dialogs(), (std::vector<int>{IDD_UPDATER_DIALOG, IDD_START_DIALOG, IDD_MESSAGE_DIALOG,
                                           IDD_MESSAGE_DIALOG}));
    EXPECT_EQ(sim::CallCount("GetLogicalDriveStringsA"), 0u);
    EXPECT_TRUE(sim::EventsOf(UiEvent::kColumn).empty());
    ExpectAllUntouched();
}

TEST_F(WholeRunTest, WithoutUsableDifferenceFilesOrTargetsTheProgramSaysSoAndEnds) {
    struct Case {
        const char* what;
        bool host, fonts;
        UINT message;
        bool searched;
    };
    const Case cases[] = {
        {"no installed target", true, false, IDS_NO_TARGET_FOUND, true},
        {"no host folder", false, true, IDS_NO_SOURCE_FONT, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string diffPath = std::string(kHost) + "Sorame-Maru-Std-W8.pa";
        if (c.host) Put(diffPath, MaruDiff());
        else std::filesystem::remove_all(sim::HostPath(kHost));
        if (c.fonts) Put(kMaru, MaruFont());
        else std::filesystem::remove(sim::HostPath(kMaru));
        AcceptStart();
        sim::Answer(IDD_OK_DIALOG, sim::Click(IDOK));
        const uint64_t searchesBefore = sim::CallCount("GetLogicalDriveStringsA");
        RunProgram();
        sim::EndProgramRun();
        std::vector<int> expected = {IDD_UPDATER_DIALOG, IDD_START_DIALOG};
        if (c.searched) expected.push_back(IDD_WAIT_DIALOG);
        expected.push_back(IDD_OK_DIALOG);
        EXPECT_EQ(Dialogs(), expected);
        EXPECT_EQ(Shown(IDD_OK_DIALOG, IDC_MESSAGE_TEXT), Message(c.message));
        EXPECT_EQ(sim::CallCount("GetLogicalDriveStringsA") - searchesBefore, c.searched ? 1u : 0u);
    }
    // The wait dialog was gone before the notice came.
    const auto& t = sim::Transcript();
    int waitGone = -1, notice = -1;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i].kind == UiEvent::kDestroyed && t[i].dialog == IDD_WAIT_DIALOG) waitGone = static_cast<int>(i);
        if (t[i].kind == UiEvent::kCreated && t[i].dialog == IDD_OK_DIALOG) notice = static_cast<int>(i);
    }
    EXPECT_LT(waitGone, notice);
    EXPECT_TRUE(sim::EventsOf(UiEvent::kShown, IDD_UPDATER_DIALOG).empty());
    EXPECT_TRUE(Exists(kCache));
}

TEST_F(WholeRunTest, TheListingShowsEveryFoundPathAndAbortIsConfirmed) {
    INSTALL_TARGETS();
    AcceptStart();
    sim::Answer(IDD_UPDATER_DIALOG, sim::SysCommand(IDM_ABOUTBOX));
    sim::Answer(IDD_ABOUTBOX, sim::Click(IDOK));
    sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDCANCEL));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDCANCEL));  // "いいえ": the listing stays
    sim::Answer(IDD_UPDATER_DIALOG, sim::CloseBox());
    sim::Answer(IDD_MESSAGE_DIALOG, sim::CloseBox());        // closed: still no
    sim::Answer(IDD_UPDATER_DIALOG, sim::Press(VK_ESCAPE));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDOK));
    RunProgram();

    EXPECT_EQ(Dialogs(), (std::vector<int>{IDD_UPDATER_DIALOG, IDD_START_DIALOG, IDD_WAIT_DIALOG, IDD_ABOUTBOX,
                                           IDD_MESSAGE_DIALOG, IDD_MESSAGE_DIALOG, IDD_MESSAGE_DIALOG}));
    EXPECT_EQ(Rows(), (std::vector<std::string>{kGothic, kMaru, kMincho}));
    for (const std::string& q : sim::TextsShown(IDD_MESSAGE_DIALOG, IDC_MESSAGE_TEXT)) {
        EXPECT_EQ(q, Message(IDS_CONFIRM_ABORT));
    }
    const auto columns = sim::EventsOf(UiEvent::kColumn, IDD_UPDATER_DIALOG);
    ASSERT_EQ(columns.size(), 1u);
    EXPECT_EQ(columns[0].text, "フォント名");
    EXPECT_EQ(columns[0].value, 600);
    const auto menu = sim::EventsOf(UiEvent::kMenuItem, IDD_UPDATER_DIALOG);
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(menu[0].text, "") << "a separator first";
    EXPECT_EQ(menu[1].text, Message(IDS_ABOUTBOX));
    EXPECT_EQ(menu[1].value, IDM_ABOUTBOX);
    const auto icons = sim::EventsOf(UiEvent::kIcon, IDD_UPDATER_DIALOG);
    ASSERT_EQ(icons.size(), 2u);
    EXPECT_EQ(icons[0].value, ICON_BIG);
    EXPECT_EQ(icons[1].value, ICON_SMALL);
    // The wait dialog was gone before the listing showed.
    EXPECT_EQ(sim::EventsOf(UiEvent::kDestroyed, IDD_WAIT_DIALOG).size(), 1u);
    EXPECT_EQ(sim::EventsOf(UiEvent::kEnded, IDD_UPDATER_DIALOG).back().value, 2);
    EXPECT_TRUE(sim::EventsOf(UiEvent::kBroadcast).empty());
    ExpectAllUntouched();
}

TEST_F(WholeRunTest, AStopInTheSearchIsConfirmedAndKeepsWhatWasFound) {
    INSTALL_TARGETS();
    // The walk reports every 30th folder: enough folders on D: that the first
    // such report comes after the fonts on C: and before the one on D:.
    for (int i = 0; i < 40; ++i) MakeFolder("D:\\Data\\f" + std::to_string(100 + i));
    const char* late = "D:\\Zfonts\\Sorame-Maru-Std-W8.otf";
    Put(late, MaruFont());

    struct Case {
        const char* what;
        int clickAtText;  // the status line on screen when the user clicks
        bool confirmed;
        std::vector<std::string> listed;  // empty: message 107
    };
    const Case cases[] = {
        {"stop during the drive survey", 1, true, {}},
        {"stop during the walk", 2, true, {kGothic, kMaru, kMincho}},
        {"stop asked, not confirmed", 1, false, {kGothic, kMaru, kMincho, late}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_folderCount = 0;
        AcceptStart();
        sim::AtText(IDD_WAIT_DIALOG, IDC_WAIT_STATUS, c.clickAtText, sim::Click(IDC_WAIT_STOP));
        sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(c.confirmed ? IDOK : IDCANCEL));
        if (c.listed.empty()) {
            sim::Answer(IDD_OK_DIALOG, sim::Click(IDOK));
        } else {
            AbortListing();
        }
        const size_t rowsBefore = Rows().size();
        RunProgram();
        sim::EndProgramRun();
        const std::vector<std::string> all = Rows();
        const std::vector<std::string> rows(all.begin() + static_cast<long>(rowsBefore), all.end());
        EXPECT_EQ(rows, c.listed);
        const std::vector<int> dialogs = Dialogs();
        ASSERT_GE(dialogs.size(), 4u);
        EXPECT_EQ(dialogs[3], IDD_MESSAGE_DIALOG);
        EXPECT_EQ(Shown(IDD_MESSAGE_DIALOG, IDC_MESSAGE_TEXT).empty(), false);
        EXPECT_EQ(sim::TextsShown(IDD_MESSAGE_DIALOG, IDC_MESSAGE_TEXT).front(), Message(IDS_CONFIRM_STOP_SEARCH));
        if (c.listed.empty()) {
            EXPECT_EQ(Shown(IDD_OK_DIALOG, IDC_MESSAGE_TEXT), Message(IDS_NO_TARGET_FOUND));
        }
    }
    ExpectAllUntouched();
}

// A stop used while one folder of thousands of files is listed is asked
// about within 50 ms of listing, not at the next status line, of which there
// may be none; used as the search ends, it is asked about all the same.
TEST_F(WholeRunTest, AStopInsideAHugeFolderIsAskedAboutWithoutWaitingForTheNextLine) {
    INSTALL_TARGETS();
    // The last folder the walk lists.
    for (int i = 0; i < 1500; ++i) Put("D:\\Zarchive\\scan" + std::to_string(i) + ".tif", {});
    auto listed = [] { return sim::CallCount("FindNextFileA"); };
    AcceptStart();
    AbortListing();
    uint64_t before = listed();
    RunProgram();
    sim::EndProgramRun();
    const uint64_t walk = listed() - before;
    ASSERT_GT(walk, 1500u);

    struct Case {
        const char* what;
        DWORD costUs;       // of each entry listed
        uint64_t clickAt;   // the entry listed when the user clicks 中止
        bool confirmed;
    };
    for (const Case& c : {Case{"inside the folder, stopped", 1000, walk - 1000, true},
                          Case{"at the last entry, not stopped", 0, walk, false}}) {
        SCOPED_TRACE(c.what);
        g_folderCount = 0;
        sim::SetListingCost(c.costUs);
        AcceptStart();
        sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(c.confirmed ? IDOK : IDCANCEL));
        AbortListing();
        before = listed();
        uint64_t askedAt = 0;
        bool inHook = false;
        sim::OnCall([&](const char* api, uint64_t) {
            if (inHook) return;
            inHook = true;
            const HWND wait = sim::FindDialog(IDD_WAIT_DIALOG);
            if (std::string(api) == "FindNextFileA" && listed() - before == c.clickAt && wait) {
                PostMessageA(GetDlgItem(wait, IDC_WAIT_STOP), BM_CLICK, 0, 0);
            }
            if (!askedAt && sim::FindDialog(IDD_MESSAGE_DIALOG)) askedAt = listed() - before;
            inHook = false;
        });
        RunProgram();
        sim::OnCall(nullptr);
        sim::EndProgramRun();
        sim::SetListingCost(0);
        const std::vector<int> dialogs = Dialogs();
        ASSERT_GE(dialogs.size(), 4u);
        EXPECT_EQ(dialogs[3], IDD_MESSAGE_DIALOG) << sim::TranscriptText();
        EXPECT_GE(askedAt, c.clickAt);
        EXPECT_LE(askedAt, c.clickAt + 51);  // 50 ms of listing, and the entry that passed them
        // Whatever was found is listed, as after any stop.
        const std::vector<std::string> all = Rows();
        EXPECT_EQ(std::vector<std::string>(all.end() - 3, all.end()),
                  (std::vector<std::string>{kGothic, kMaru, kMincho}));
    }
    ExpectAllUntouched();
}

TEST_F(WholeRunTest, EnterAndEscapeDoNothingWhileSearchingOrRevising) {
    INSTALL_TARGETS();
    AcceptStart();
    sim::AtText(IDD_WAIT_DIALOG, IDC_WAIT_STATUS, 1, sim::Press(VK_RETURN));
    sim::AtText(IDD_WAIT_DIALOG, IDC_WAIT_STATUS, 1, sim::Press(VK_ESCAPE));
    sim::Answer(IDD_UPDATER_DIALOG, sim::Press(VK_RETURN));  // Enter starts the run
    sim::AtPosition(IDD_PROGRESS_DIALOG, IDC_PROGRESS_OVERALL, 2, sim::Press(VK_ESCAPE));
    sim::AtPosition(IDD_PROGRESS_DIALOG, IDC_PROGRESS_OVERALL, 2, sim::Press(VK_RETURN));
    sim::Answer(IDD_NORMAL_END_DIALOG, sim::Click(IDCANCEL));
    RunProgram();
    EXPECT_EQ(sim::EventsOf(UiEvent::kKey).size(), 5u) << sim::TranscriptText();
    EXPECT_TRUE(sim::EventsOf(UiEvent::kPressed, IDD_WAIT_DIALOG).empty());
    EXPECT_TRUE(sim::EventsOf(UiEvent::kPressed, IDD_PROGRESS_DIALOG).empty());
    EXPECT_EQ(sim::EventsOf(UiEvent::kPressed, IDD_UPDATER_DIALOG).size(), 1u) << "only the Enter of the listing";
    EXPECT_EQ(Rows().size(), 3u);
    EXPECT_EQ(Shown(IDD_NORMAL_END_DIALOG, IDC_END_MESSAGE), Message(IDS_END_NORMAL));
}

// ---------------------------------------------------------------------------
// The update run

TEST_F(WholeRunTest, ASuccessfulRunRevisesEveryFontClearsTheCacheAndOffersARestart) {
    INSTALL_TARGETS();
    for (bool restart : {false, true}) {
        SCOPED_TRACE(restart ? "再起動" : "キャンセル");
        InstallTargets();
        Put(kCache, testdata::BytesOf("cache"));
        Put(kDownloadCopy, testdata::BytesOf("downloaded font"));
        AcceptStart();
        sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDOK));
        sim::Answer(IDD_NORMAL_END_DIALOG, sim::Click(restart ? IDOK : IDCANCEL));
        const size_t sleepsBefore = sim::EventsOf(UiEvent::kSleep).size();
        const size_t stepsBefore = sim::TextsShown(IDD_PROGRESS_DIALOG, IDC_PROGRESS_STEP_PCT).size();
        EXPECT_EQ(RunProgram(), restart ? 1641 : 3010) << "a restart started, or needed";
        sim::EndProgramRun();

        EXPECT_EQ(Dialogs(), (std::vector<int>{IDD_UPDATER_DIALOG, IDD_START_DIALOG, IDD_WAIT_DIALOG,
                                               IDD_PROGRESS_DIALOG, IDD_NORMAL_END_DIALOG}));
        EXPECT_TRUE(Revised(kGothic, Real("Sorame-Gothic-Pro-W3").installed));
        EXPECT_EQ(Get(kGothic).size(), Real("Sorame-Gothic-Pro-W3").release.size());
        EXPECT_TRUE(Revised(kMaru, MaruFont()));
        EXPECT_TRUE(Revised(kMincho, Real("Sorame-Mincho-Std-W5").installed));
        EXPECT_EQ(Get(kMincho).size(), Real("Sorame-Mincho-Std-W5").release.size());
        EXPECT_FALSE(Exists(kCache));
        EXPECT_FALSE(Exists(kDownloadCopy));
        EXPECT_EQ(Shown(IDD_NORMAL_END_DIALOG, IDC_END_MESSAGE), Message(IDS_END_NORMAL));
        EXPECT_EQ(sim::RestartRequests().size(), restart ? 1u : 0u);
        if (restart) {
            EXPECT_EQ(sim::RestartRequests()[0].flags, static_cast<UINT>(EWX_REBOOT | EWX_FORCE));
            EXPECT_TRUE(sim::RestartRequests()[0].privilegeEnabled);
        }

        // Every report of the three fonts was shown.
        const auto steps = sim::TextsShown(IDD_PROGRESS_DIALOG, IDC_PROGRESS_STEP_PCT);
        const std::vector<std::string> oneFont = {"10%", "20%", "30%", "40%", "55%", "65%", "75%", "90%", "100%"};
        std::vector<std::string> expected;
        for (int i = 0; i < 3; ++i) expected.insert(expected.end(), oneFont.begin(), oneFont.end());
        EXPECT_EQ(std::vector<std::string>(steps.begin() + static_cast<long>(stepsBefore), steps.end()), expected);
        EXPECT_EQ(sim::TextsShown(IDD_PROGRESS_DIALOG, IDC_PROGRESS_OVERALL_PCT).back(), "100%");
        const auto line1 = sim::TextsShown(IDD_PROGRESS_DIALOG, IDC_PROGRESS_LINE1);
        EXPECT_EQ(line1.back(), std::string(kMincho) + "の改訂をしています。");

        // The waits: 300 ms after each copy, a second at the full bars (the
        // last report, made before the last copy's wait), 100 ms after each
        // font; a millisecond at every report.
        const auto sleeps = sim::EventsOf(UiEvent::kSleep);
        std::vector<long long> longWaits;
        size_t shortWaits = 0;
        for (size_t i = sleepsBefore; i < sleeps.size(); ++i) {
            if (sleeps[i].value == 1) ++shortWaits;
            else longWaits.push_back(sleeps[i].value);
        }
        EXPECT_EQ(longWaits, (std::vector<long long>{300, 100, 300, 100, 1000, 300, 100}));
        EXPECT_EQ(shortWaits, 27u);

        // The main dialog hid for good at "実行"; the news went out before the
        // end dialog.
        EXPECT_EQ(sim::EventsOf(UiEvent::kHidden, IDD_UPDATER_DIALOG).size(), restart ? 2u : 1u);
        ASSERT_EQ(sim::EventsOf(UiEvent::kBroadcast).size(), restart ? 2u : 1u);
        EXPECT_EQ(sim::EventsOf(UiEvent::kBroadcast).back().value, WM_FONTCHANGE);
        EXPECT_EQ(sim::EventsOf(UiEvent::kEnded, IDD_UPDATER_DIALOG).back().value, 1);
    }
    const auto& t = sim::Transcript();
    int progressGone = -1, broadcast = -1, endShown = -1;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i].kind == UiEvent::kDestroyed && t[i].dialog == IDD_PROGRESS_DIALOG) progressGone = static_cast<int>(i);
        if (t[i].kind == UiEvent::kBroadcast) broadcast = static_cast<int>(i);
        if (t[i].kind == UiEvent::kCreated && t[i].dialog == IDD_NORMAL_END_DIALOG) endShown = static_cast<int>(i);
    }
    EXPECT_LT(progressGone, broadcast);
    EXPECT_LT(broadcast, endShown);
}

TEST_F(WholeRunTest, ARunStopsAtTheFirstFailureAndNamesTheFileConcerned) {
    INSTALL_TARGETS();
    const std::string diffName = "Sorame-Maru-Std-W8.pa";
    // What breaks the middle font: its difference file, or the machine at
    // the pause after the first font (100 ms) or after its own copy (the
    // second 300 ms wait).
    enum When { kNever, kAfterFirstFont, kAfterSecondCopy };
    struct Case {
        const char* what;
        Bytes diff;
        When when;
        std::function<void(WholeRunTest*)> breakIt;
        int code;
        UINT message;
        std::string arg;
        Bytes maruAfter = MaruFont();  // the middle font as the run leaves it
    };
    const Case cases[] = {
        {"does not fit its difference file", MaruDiff({{"post", "DSIG"}}), kNever, nullptr, 1,
         IDS_FONT_READ_FAILED, kMaru},
        {"no temporary file", MaruDiff(), kAfterFirstFont,
         [](WholeRunTest*) { sim::SetTempPath("C:\\NoSuchFolder\\"); }, 3, IDS_TEMP_CREATE_FAILED, diffName},
        {"the copy fails", MaruDiff(), kAfterFirstFont, [](WholeRunTest*) { sim::FailCall("CopyFileA"); }, 4,
         IDS_COPY_FAILED, diffName},
        {"unreadable difference file",
         testdata::DiffBuilder().FontName("Sorame Maru Std W8").FromRevision(kRev1).TableCount(9).Build(), kNever,
         nullptr, 9, IDS_DIFF_READ_FAILED, diffName},
        // Found with its name table, the font is swapped for one without
        // (and a difference file to match) before its turn comes.
        {"no name table in the revision", MaruDiff(), kAfterFirstFont,
         [this, diffName](WholeRunTest*) {
             Put(kMaru, MaruFont(false));
             Put(kHost + diffName, MaruDiff({}, false));
         },
         10, IDS_UPDATE_FAILED, diffName, MaruFont(false)},
        {"cannot be read back", MaruDiff(), kAfterSecondCopy, [](WholeRunTest*) { sim::FailCall("CreateFileA"); },
         11, IDS_READ_BACK_FAILED, kMaru},
        {"read back with another sum", MaruDiff(), kAfterSecondCopy,
         [this](WholeRunTest*) {
             Bytes damaged = Get(kMaru);
             damaged[100] ^= 0x01;
             Put(kMaru, damaged);
         },
         12, IDS_CHECKSUM_FAILED, kMaru},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InstallTargets(c.diff);
        int waits = 0;
        sim::OnSleep([&](DWORD ms) {
            const bool at = (c.when == kAfterFirstFont && ms == 100) || (c.when == kAfterSecondCopy && ms == 300);
            if (at && ++waits == (c.when == kAfterFirstFont ? 1 : 2)) c.breakIt(this);
        });
        AcceptStart();
        sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDOK));
        sim::Answer(IDD_END_DIALOG, sim::Click(IDOK));
        RunProgram();
        sim::EndProgramRun();
        sim::OnSleep(nullptr);
        sim::ClearFailures();
        sim::SetTempPath("C:\\Windows\\Temp\\");

        EXPECT_EQ(Dialogs(), (std::vector<int>{IDD_UPDATER_DIALOG, IDD_START_DIALOG, IDD_WAIT_DIALOG,
                                               IDD_PROGRESS_DIALOG, IDD_END_DIALOG}));
        EXPECT_EQ(Shown(IDD_END_DIALOG, IDC_END_MESSAGE), Message(c.message, c.arg)) << c.code;
        EXPECT_TRUE(Revised(kGothic, Real("Sorame-Gothic-Pro-W3").installed));
        EXPECT_TRUE(Untouched(kMaru, c.maruAfter));
        EXPECT_TRUE(Untouched(kMincho, Real("Sorame-Mincho-Std-W5").installed));
        EXPECT_TRUE(Exists(kCache));
        EXPECT_TRUE(Exists(kDownloadCopy));
        EXPECT_TRUE(sim::EventsOf(UiEvent::kCreated, IDD_NORMAL_END_DIALOG).empty());
        EXPECT_EQ(sim::EventsOf(UiEvent::kBroadcast).size(), static_cast<size_t>(&c - cases + 1));
    }
    EXPECT_TRUE(sim::RestartRequests().empty());
}

// A host folder with a release manifest, as patool writes it: a run revises
// every font to exactly its release, and a difference file damaged on the way
// or a font another tool edited ends the run with the message that names it,
// before anything of that font is written and with nothing left behind.
TEST_F(WholeRunTest, AReleaseManifestEndsTheRunAtADamagedFileOrAnEditedFont) {
    INSTALL_TARGETS();
    const std::string diffName = "Sorame-Maru-Std-W8.pa";
    Bytes maruRelease = MaruFont();
    const std::vector<testdata::DirectoryEntry> directory = testdata::Directory(maruRelease);
    const testdata::DirectoryEntry* post = testdata::FindEntry(directory, "post");
    std::fill(maruRelease.begin() + post->offset, maruRelease.begin() + post->offset + post->length, 0x99);
    Bytes damaged = MaruDiff();
    damaged[damaged.size() - 7] ^= 0x40;
    Bytes edited = MaruFont();
    edited[testdata::FindEntry(directory, "hmtx")->offset + 3] ^= 0x01;
    edited = testdata::WithChecksums(edited);

    const struct {
        const char* what;
        Bytes maruDiff, maruFont;
        UINT message;
        std::string arg;
    } cases[] = {
        {"a damaged difference file", damaged, MaruFont(), IDS_DIFF_READ_FAILED, diffName},
        {"an edited font", MaruDiff(), edited, IDS_FONT_READ_FAILED, kMaru},
        {"nothing wrong", MaruDiff(), MaruFont(), IDS_END_NORMAL, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        InstallTargets();
        const Bytes manifest = testdata::ManifestOf({
            {"Sorame-Gothic-Pro-W3.pa", kGothic, Real("Sorame-Gothic-Pro-W3").diff, Real("Sorame-Gothic-Pro-W3").release},
            {diffName, kMaru, MaruDiff(), maruRelease},
            {"Sorame-Mincho-Std-W5.pa", kMincho, Real("Sorame-Mincho-Std-W5").diff, Real("Sorame-Mincho-Std-W5").release},
        });
        Put(std::string(kHost) + kReleaseManifestName, manifest);
        Put(kHost + diffName, c.maruDiff);
        Put(kMaru, c.maruFont);
        const bool ok = c.message == IDS_END_NORMAL;
        AcceptStart();
        sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDOK));
        sim::Answer(ok ? IDD_NORMAL_END_DIALOG : IDD_END_DIALOG, sim::Click(ok ? IDCANCEL : IDOK));
        RunProgram();
        sim::EndProgramRun();

        EXPECT_EQ(Shown(ok ? IDD_NORMAL_END_DIALOG : IDD_END_DIALOG, IDC_END_MESSAGE), Message(c.message, c.arg));
        EXPECT_TRUE(Revised(kGothic, Real("Sorame-Gothic-Pro-W3").installed));
        if (ok) {
            EXPECT_TRUE(Revised(kMaru, c.maruFont));
            EXPECT_TRUE(Revised(kMincho, Real("Sorame-Mincho-Std-W5").installed));
        } else {
            EXPECT_TRUE(Untouched(kMaru, c.maruFont));
            EXPECT_TRUE(Untouched(kMincho, Real("Sorame-Mincho-Std-W5").installed));
        }
        EXPECT_EQ(testdata::FilesIn("C:\\Windows\\Fonts").size(), 3u);
        EXPECT_TRUE(testdata::FilesIn("C:\\Windows\\Temp").empty());
    }
}

// The temporary folder's access rule refuses new files while its other files
// stay usable: the first font cannot be revised, the run names its
// difference file, and no font, nor anything else, is touched.
TEST_F(WholeRunTest, ATemporaryFolderThatRefusesNewFilesEndsTheRunWithEveryFontUntouched) {
    INSTALL_TARGETS();
    Put("C:\\Windows\\Temp\\earlier.tmp", testdata::BytesOf("left by another program"));
    const auto fontsBefore = testdata::FilesIn("C:\\Windows\\Fonts");
    sim::RefuseNewFiles("C:\\Windows\\Temp");
    AcceptStart();
    sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDOK));
    sim::Answer(IDD_END_DIALOG, sim::Click(IDOK));
    RunProgram();

    EXPECT_EQ(Dialogs(), (std::vector<int>{IDD_UPDATER_DIALOG, IDD_START_DIALOG, IDD_WAIT_DIALOG,
                                           IDD_PROGRESS_DIALOG, IDD_END_DIALOG}));
    EXPECT_EQ(Shown(IDD_END_DIALOG, IDC_END_MESSAGE), Message(IDS_TEMP_CREATE_FAILED, "Sorame-Gothic-Pro-W3.pa"));
    ExpectAllUntouched();
    EXPECT_EQ(testdata::FilesIn("C:\\Windows\\Fonts"), fontsBefore);
    EXPECT_EQ(testdata::FilesIn("C:\\Windows\\Temp"), (std::vector<std::string>{"earlier.tmp"}));
    // What the reports showed was on screen through every pause of the run.
    for (const auto& sleep : sim::EventsOf(UiEvent::kSleep)) EXPECT_EQ(sleep.text, "") << sleep.value;
}

// Each question belongs to the window it was asked from, which it disables
// while it runs and activates again when answered: never to the main dialog
// while that is hidden, which would then take the keyboard.
TEST_F(WholeRunTest, EveryQuestionIsOwnedByTheDialogItWasAskedFrom) {
    INSTALL_TARGETS();
    sim::Answer(IDD_START_DIALOG, sim::Press(VK_ESCAPE));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDCANCEL));
    AcceptStart();
    sim::AtText(IDD_WAIT_DIALOG, IDC_WAIT_STATUS, 1, sim::Click(IDC_WAIT_STOP));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDCANCEL));
    sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDCANCEL));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDCANCEL));
    sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDOK));
    sim::AtPosition(IDD_PROGRESS_DIALOG, IDC_PROGRESS_STEP, 1, sim::Click(IDC_PROGRESS_STOP));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDCANCEL));
    sim::Answer(IDD_NORMAL_END_DIALOG, sim::Click(IDCANCEL));
    RunProgram();
    std::vector<long long> owners;
    for (const auto& created : sim::EventsOf(UiEvent::kCreated, IDD_MESSAGE_DIALOG)) owners.push_back(created.value);
    EXPECT_EQ(owners, (std::vector<long long>{IDD_START_DIALOG, IDD_WAIT_DIALOG, IDD_UPDATER_DIALOG,
                                              IDD_PROGRESS_DIALOG}));
    EXPECT_TRUE(Revised(kGothic, Real("Sorame-Gothic-Pro-W3").installed));
}

TEST_F(WholeRunTest, AStopConfirmedInTheFirstFontEndsTheRunWithNothingElseTouched) {
    INSTALL_TARGETS();
    struct Case {
        const char* what;
        int clickAtStep;  // the report on screen when the user clicks; the next one asks
        std::string expected;
    };
    const Case cases[] = {
        {"while loading", 1, Message(IDS_FONT_READ_FAILED, kGothic)},
        {"while building", 3, Message(IDS_END_STOPPED)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AcceptStart();
        sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDOK));
        sim::AtPosition(IDD_PROGRESS_DIALOG, IDC_PROGRESS_STEP, c.clickAtStep, sim::Click(IDC_PROGRESS_STOP));
        sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDOK));
        sim::Answer(IDD_END_DIALOG, sim::Click(IDOK));
        RunProgram();
        sim::EndProgramRun();
        EXPECT_EQ(Dialogs(), (std::vector<int>{IDD_UPDATER_DIALOG, IDD_START_DIALOG, IDD_WAIT_DIALOG,
                                               IDD_PROGRESS_DIALOG, IDD_MESSAGE_DIALOG, IDD_END_DIALOG}));
        EXPECT_EQ(sim::TextsShown(IDD_MESSAGE_DIALOG, IDC_MESSAGE_TEXT).back(), Message(IDS_CONFIRM_ABORT));
        EXPECT_EQ(Shown(IDD_END_DIALOG, IDC_END_MESSAGE), c.expected);
    }
    ExpectAllUntouched();
    EXPECT_EQ(sim::EventsOf(UiEvent::kBroadcast).size(), 2u);
}

TEST_F(WholeRunTest, FontsReachedByManyPathsAndAUsersOwnFontAreEachRevisedOnce) {
    INSTALL_TARGETS();
    // The Maru font on a volume that is also mounted in a folder of C:, a
    // link that loops in the font folder, the Windows folder again as a
    // substituted drive, and the Mincho font installed for one user only.
    const std::string maru = "D:\\Fonts\\Sorame-Maru-Std-W8.otf";
    const std::string mincho = "C:\\Users\\alice\\AppData\\Local\\Microsoft\\Windows\\Fonts\\Sorame-Mincho-Std-W5.otf";
    std::filesystem::remove(sim::HostPath(kMaru));
    std::filesystem::remove(sim::HostPath(kMincho));
    Put(maru, MaruFont());
    Put(mincho, Real("Sorame-Mincho-Std-W5").installed);
    MakeFolder("C:\\Users\\bob\\Documents");
    ASSERT_TRUE(sim::MakeFolderLink("C:\\Mnt\\Disk", "D:\\"));
    ASSERT_TRUE(sim::MakeFolderLink("C:\\Windows\\Fonts\\Loop", "C:\\Windows\\Fonts"));
    sim::MapDrive('S', sim::HostPath("C:\\Windows"));

    AcceptStart();
    sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDOK));
    sim::Answer(IDD_NORMAL_END_DIALOG, sim::Click(IDCANCEL));
    EXPECT_EQ(RunProgram(), 3010);

    // Each font where the walk first met it, by a path without a link when
    // there is one (a font is never revised through a link), the user's
    // after the drives.
    EXPECT_EQ(Rows(), (std::vector<std::string>{maru, kGothic, mincho}));
    EXPECT_EQ(Dialogs(), (std::vector<int>{IDD_UPDATER_DIALOG, IDD_START_DIALOG, IDD_WAIT_DIALOG, IDD_PROGRESS_DIALOG,
                                           IDD_NORMAL_END_DIALOG}));
    EXPECT_EQ(Shown(IDD_NORMAL_END_DIALOG, IDC_END_MESSAGE), Message(IDS_END_NORMAL));
    EXPECT_TRUE(Revised(maru.c_str(), MaruFont()));
    EXPECT_TRUE(Revised(kGothic, Real("Sorame-Gothic-Pro-W3").installed));
    EXPECT_TRUE(Revised(mincho.c_str(), Real("Sorame-Mincho-Std-W5").installed));
    EXPECT_EQ(Get(mincho.c_str()).size(), Real("Sorame-Mincho-Std-W5").release.size());
    EXPECT_EQ(testdata::FilesIn("C:\\Users\\alice\\AppData\\Local\\Microsoft\\Windows\\Fonts"),
              (std::vector<std::string>{"Sorame-Mincho-Std-W5.otf"}));
    EXPECT_FALSE(Exists(kCache));
    EXPECT_FALSE(Exists(kDownloadCopy));
}
