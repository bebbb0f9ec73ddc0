// Whole runs no one answers: /quiet, /passive and /check on the simulated
// machine, with their exit codes and log lines, the single instance across
// sessions, and the exit codes of the interactive run.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/exitcodes.h"
#include "app/instance.h"
#include "app/runlog.h"
#include "tests/support/wholerun.h"

using namespace wholerun;

namespace {

const char kLog[] = "C:\\Windows\\Temp\\upd.log";

class UnattendedTest : public WholeRunTest {
protected:
    void TearDown() override {
        sim::SetCommandLine("");
        WholeRunTest::TearDown();
    }

    int Run(const std::string& arguments) {
        sim::SetCommandLine(std::string("\"") + kExe + "\" " + arguments);
        const int code = RunProgram();
        sim::EndProgramRun();
        return code;
    }

    static void ClearTemp() {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(sim::HostPath("C:\\Windows\\Temp"), ec)) {
            std::filesystem::remove_all(e.path(), ec);
        }
    }

    // The log's lines without their times; the mark and every time checked.
    std::vector<std::string> LogLines(const char* path = kLog) {
        const Bytes bytes = Get(path);
        std::string text(bytes.begin(), bytes.end());
        std::vector<std::string> lines;
        if (text.compare(0, 3, "\xEF\xBB\xBF") != 0) {
            ADD_FAILURE() << "no byte-order mark";
            return lines;
        }
        static const std::regex stamped(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (.*)$)");
        std::istringstream in(text.substr(3));
        std::string line;
        while (std::getline(in, line)) {
            EXPECT_EQ(line.back(), '\r');
            line.pop_back();
            std::smatch m;
            if (!std::regex_match(line, m, stamped)) {
                ADD_FAILURE() << "no time: " << line;
                continue;
            }
            // The program's texts are compared in its own code page.
            lines.push_back(sim::AnsiFromUtf8(m[1]));
        }
        return lines;
    }
    static int Count(const std::vector<std::string>& lines, const std::string& prefix) {
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.compare(0, prefix.size(), prefix) == 0;
        }));
    }
    void ExpectAllRevised() {
        EXPECT_TRUE(Revised(kGothic, Real("Sorame-Gothic-Pro-W3").installed));
        EXPECT_TRUE(Revised(kMaru, MaruFont()));
        EXPECT_TRUE(Revised(kMincho, Real("Sorame-Mincho-Std-W5").installed));
    }
};

}  // namespace

TEST_F(UnattendedTest, AQuietRunAsTheLocalSystemShowsNothingRevisesEveryFontAndLogsEachStep) {
    INSTALL_TARGETS();
    // A deployment agent: the local system account in session 0, and a
    // font one user installed for themselves.
    sim::RunAsLocalSystem();
    const std::string own = "C:\\Users\\alice\\AppData\\Local\\Microsoft\\Windows\\Fonts\\Sorame-Mincho-Std-W5.otf";
    std::filesystem::remove(sim::HostPath(kMincho));
    Put(own, Real("Sorame-Mincho-Std-W5").installed);

    EXPECT_EQ(Run("/quiet"), kExitRestartNeeded);
    EXPECT_EQ(sim::WindowsCreated(), 0);
    for (const UiEvent& e : sim::Transcript()) {
        EXPECT_TRUE(e.kind == UiEvent::kSleep || e.kind == UiEvent::kBroadcast) << sim::TranscriptText();
    }
    EXPECT_EQ(sim::EventsOf(UiEvent::kBroadcast).size(), 1u);
    EXPECT_TRUE(Revised(kGothic, Real("Sorame-Gothic-Pro-W3").installed));
    EXPECT_TRUE(Revised(kMaru, MaruFont()));
    EXPECT_TRUE(Revised(own.c_str(), Real("Sorame-Mincho-Std-W5").installed));
    EXPECT_FALSE(Exists(kCache));
    EXPECT_FALSE(Exists(kDownloadCopy));
    EXPECT_TRUE(sim::RestartRequests().empty()) << "/quiet never restarts by itself";
    // Only the waits the files need: none meant for a reader of a window.
    for (const UiEvent& e : sim::EventsOf(UiEvent::kSleep)) EXPECT_TRUE(e.value == 100 || e.value == 300) << e.value;

    const std::vector<std::string> lines = LogLines();
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(lines.front(), std::string("start version=1.0 user=SYSTEM command=\"") + kExe + "\" /quiet");
    EXPECT_EQ(lines[1], "environment code=7 supported Windows, administrator (elevated)");
    EXPECT_EQ(Count(lines, "difference-file C:\\Program Files\\Sorame\\Updater\\host\\"), 3);
    EXPECT_EQ(Count(lines, "drive C:\\ folders="), 1);
    EXPECT_EQ(Count(lines, "drive D:\\ folders="), 1);
    EXPECT_EQ(Count(lines, "user-font-folders folders=1"), 1);
    for (const std::string& font : {std::string(kGothic), std::string(kMaru), own}) {
        EXPECT_EQ(Count(lines, "found " + font + " revision=0x00010000"), 1) << font;
        EXPECT_EQ(Count(lines, "font " + font + " result=0 message=改訂が正常に終了しました。  改訂したフォントを"), 1);
    }
    EXPECT_EQ(lines[lines.size() - 2], "restart not started: the fonts take effect at the next restart");
    EXPECT_EQ(lines.back(), "exit 3010");

    // The next run appends, and finds nothing left to do (the Maru test
    // font's revision keeps its head revision, so it goes).
    std::filesystem::remove(sim::HostPath(kMaru));
    EXPECT_EQ(Run("/quiet"), kExitNothingToDo);
    const std::vector<std::string> again = LogLines();
    EXPECT_EQ(Count(again, "start "), 2);
    EXPECT_EQ(again.back(), "exit 0");
    EXPECT_EQ(Count(again, "search message=107 該当するフォントがありませんでした。  改訂プログラムを終了します。"), 1);
}

TEST_F(UnattendedTest, CheckTellsWhetherWorkIsLeftAndRevisesNothing) {
    INSTALL_TARGETS();
    EXPECT_EQ(Run("/check"), kExitWorkNeeded);
    EXPECT_EQ(sim::WindowsCreated(), 0);
    ExpectAllUntouched();
    EXPECT_FALSE(Exists(kLog)) << "a detection script's check keeps no log unless asked";
    EXPECT_EQ(Run("/check /log C:\\check.log"), kExitWorkNeeded);
    EXPECT_EQ(LogLines("C:\\check.log").back(), "exit 1");
    EXPECT_EQ(Count(LogLines("C:\\check.log"), "found "), 3);

    EXPECT_EQ(Run("/quiet /norestart"), kExitRestartNeeded);
    std::filesystem::remove(sim::HostPath(kMaru));  // its revision keeps its head revision
    EXPECT_EQ(Run("-CHECK"), kExitNothingToDo);
    EXPECT_EQ(sim::WindowsCreated(), 0);
}

TEST_F(UnattendedTest, EachOutcomeHasItsCodeInEveryModeAndLeavesTheFontsAsTheInteractiveRunWould) {
    INSTALL_TARGETS();
    struct Case {
        const char* what;
        std::function<void()> arrange;
        int code;
        int revised;  // fonts revised, in search order
        const char* logged;  // a line the log must hold
    };
    const auto version = [](DWORD platform, DWORD major, DWORD minor) {
        sim::WindowsVersion v;
        v.platform = platform;
        v.major = major;
        v.minor = minor;
        sim::SetWindowsVersion(v);
    };
    const Case cases[] = {
        {"everything revises", [] {}, kExitRestartNeeded, 3, "exit 3010"},
        {"not an administrator", [] { sim::SetUserRights(sim::UserRights::kAdministratorWithoutElevation); },
         kExitNotAdministrator, 0, "refused message=111 "},
        {"Windows 2000", [&] { version(2, 5, 0); }, kExitWindowsUnsupported, 0, "refused message=110 "},
        {"Windows 98", [&] { version(1, 4, 10); }, kExitWindowsUnsupported, 0, "environment code=1001 refused"},
        {"the version query fails", [] { sim::FailCall("GetVersionExA", 1); sim::FailCall("GetVersionExA", 2); },
         kExitFailed, 0, "refused message=109 "},
        {"no difference file", [] { std::filesystem::remove_all(sim::HostPath(kHost)); }, kExitFailed, 0,
         "host message=112 "},
        {"no installed target", [] {
             for (const char* f : {kGothic, kMaru, kMincho}) std::filesystem::remove(sim::HostPath(f));
         }, kExitNothingToDo, 0, "search found=0"},
        {"the second font's copy fails", [] { sim::FailCall("CopyFileA", 2); }, kExitFailed, 1,
         "font C:\\Windows\\Fonts\\Sorame-Maru-Std-W8.otf result=4 message="},
        {"the first font cannot be replaced", [] { sim::FailCall("MoveFileExA", 1); }, kExitFailed, 0,
         "font C:\\Windows\\Fonts\\Sorame-Gothic-Pro-W3.otf result=4 message="},
        {"a font in use waits for the restart", [] { sim::HoldFileElsewhere(kMincho); }, kExitRestartNeeded, 3,
         "exit 3010"},
        {"a font loaded for the session is revised at once", [] { sim::LoadFontElsewhere(kMincho); },
         kExitRestartNeeded, 3, "exit 3010"},
        {"a font in use in a folder users may change", [] {
             sim::SetFolderRules("C:\\Windows\\Fonts", sim::FolderRules::kOpenToUsers);
             sim::HoldFileElsewhere(kMincho);
         }, kExitFontInUse, 2, "font C:\\Windows\\Fonts\\Sorame-Mincho-Std-W5.otf result=17 message=フォントファイル(C:\\Windows\\Fonts\\Sorame-Mincho-Std-W5.otf)は、ほかのプログラムで使用中"},
        {"another copy runs in another session", [] { sim::HoldMutexElsewhere("Global\\upd.EXE"); },
         kExitAnotherRun, 0, "another copy runs"},
    };
    const std::vector<std::pair<const char*, Bytes>> installed = {
        {kGothic, Real("Sorame-Gothic-Pro-W3").installed}, {kMaru, MaruFont()},
        {kMincho, Real("Sorame-Mincho-Std-W5").installed}};
    for (const char* mode : {"/quiet", "/passive /log C:\\Windows\\Temp\\upd.log"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(mode) + ": " + c.what);
            sim::Reset();
            MapNewDrive('C');
            PrepareMachine();
            InstallTargets();
            std::filesystem::remove(sim::HostPath(kLog));
            c.arrange();
            const size_t mark = sim::Transcript().size();
            EXPECT_EQ(Run(mode), c.code);
            sim::ClearFailures();
            sim::RestartWindows();
            for (size_t i = 0; i < installed.size(); ++i) {
                const bool revised = static_cast<int>(i) < c.revised;
                EXPECT_EQ(Revised(installed[i].first, installed[i].second), revised) << installed[i].first;
                if (!revised && Exists(installed[i].first)) {
                    EXPECT_TRUE(Untouched(installed[i].first, installed[i].second)) << installed[i].first;
                }
            }
            EXPECT_EQ(Exists(kCache), c.revised < 3);
            EXPECT_EQ(Count(LogLines(), c.logged), 1) << sim::TranscriptText();
            EXPECT_EQ(LogLines().back(), "exit " + std::to_string(c.code));
            // No question in either mode; the progress window in /passive
            // once the revision begins.
            const std::vector<int> dialogs = DialogsSince(mark);
            if (std::string(mode) == "/quiet") {
                EXPECT_EQ(sim::WindowsCreated(), 0) << sim::TranscriptText();
            } else {
                EXPECT_TRUE(dialogs.empty() || dialogs == std::vector<int>{IDD_PROGRESS_DIALOG}) << sim::TranscriptText();
            }
            sim::ReleaseMutexElsewhere("Global\\upd.EXE");
        }
    }
}

TEST_F(UnattendedTest, APassiveRunShowsTheProgressOnlyWithoutAStopButton) {
    INSTALL_TARGETS();
    EXPECT_EQ(Run("/passive"), kExitRestartNeeded);
    EXPECT_EQ(Dialogs(), std::vector<int>{IDD_PROGRESS_DIALOG});
    EXPECT_FALSE(sim::TextsShown(IDD_PROGRESS_DIALOG, IDC_PROGRESS_STEP_PCT).empty());
    ExpectAllRevised();
    EXPECT_FALSE(Exists(kLog)) << "/passive keeps no log unless asked";
}

TEST_F(UnattendedTest, ForceRestartRestartsOnlyAfterARevision) {
    INSTALL_TARGETS();
    EXPECT_EQ(Run("/quiet /forcerestart"), kExitRestartStarted);
    ASSERT_EQ(sim::RestartRequests().size(), 1u);
    EXPECT_TRUE(sim::RestartRequests()[0].privilegeEnabled);
    EXPECT_EQ(LogLines()[LogLines().size() - 2], "restart started");
    // Nothing to do: no restart.
    std::filesystem::remove(sim::HostPath(kMaru));  // its revision keeps its head revision
    EXPECT_EQ(Run("/quiet /forcerestart"), kExitNothingToDo);
    EXPECT_EQ(sim::RestartRequests().size(), 1u);
    // Windows refuses: the restart is still needed.
    InstallTargets();
    sim::SetShutdownPrivilegeHeld(false);
    EXPECT_EQ(Run("/passive /forcerestart"), kExitRestartNeeded);
}

TEST_F(UnattendedTest, OneRunAtATimeAcrossSessions) {
    INSTALL_TARGETS();
    // A person's copy in session 1 shows its listing and is still open.
    AcceptStart();
    sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDCANCEL));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDOK));
    EXPECT_EQ(RunProgram(), kExitCancelled);
    const int windows = sim::WindowsCreated();
    // The deployment agent in session 0 waits its turn, whatever its mode.
    sim::SetSession(0);
    for (const char* mode : {"/quiet", "/passive", "/check"}) {
        sim::SetCommandLine(std::string("upd.exe ") + mode);
        EXPECT_EQ(RunProgram(), kExitAnotherRun) << mode;
    }
    EXPECT_EQ(sim::WindowsCreated(), windows);
    ExpectAllUntouched();
    EXPECT_EQ(Count(LogLines(), "another copy runs"), 1) << "/quiet logs it";

    // An agent's run holds the name: a person's copy ends without a word.
    sim::EndProgramRun();
    sim::HoldMutexElsewhere("Global\\upd.EXE");
    sim::SetSession(1);
    sim::SetCommandLine("");
    EXPECT_EQ(RunProgram(), kExitAnotherRun);
    EXPECT_EQ(sim::WindowsCreated(), windows);
    sim::ReleaseMutexElsewhere("Global\\upd.EXE");

    // A person's copy that holds only its session's name is not seen from
    // session 0 (an older copy, or one under another name); the agent runs.
    sim::EndProgramRun();
    sim::HoldMutexElsewhere("upd.EXE");
    sim::SetSession(0);
    EXPECT_EQ(Run("/quiet"), kExitRestartNeeded);
    sim::SetSession(1);
    sim::ReleaseMutexElsewhere("upd.EXE");
}

TEST_F(UnattendedTest, UsageAndArgumentsNotUnderstood) {
    INSTALL_TARGETS();
    sim::Answer(IDD_OK_DIALOG, sim::Click(IDOK));
    EXPECT_EQ(Run("/?"), kExitNothingToDo);
    EXPECT_EQ(Dialogs(), std::vector<int>{IDD_OK_DIALOG});
    CString usage;
    usage.LoadString(IDS_USAGE);
    EXPECT_EQ(Shown(IDD_OK_DIALOG, IDC_MESSAGE_TEXT), std::string(usage));

    sim::Answer(IDD_OK_DIALOG, sim::Click(IDOK));
    EXPECT_EQ(Run("/passive /reboot"), kExitBadCommandLine);
    EXPECT_EQ(Shown(IDD_OK_DIALOG, IDC_MESSAGE_TEXT),
              Message(IDS_BAD_COMMAND_LINE, "/reboot") + "\r\n\r\n" + std::string(usage));

    const int windows = sim::WindowsCreated();
    EXPECT_EQ(Run("/reboot /quiet"), kExitBadCommandLine);
    EXPECT_EQ(Run("/quiet /?"), kExitNothingToDo);
    EXPECT_EQ(sim::WindowsCreated(), windows);
    EXPECT_EQ(Count(LogLines(), "command line not understood: /reboot"), 1);
    ExpectAllUntouched();
}

TEST_F(UnattendedTest, ALogThatCannotBeWrittenNeverStopsTheRunNorChangesItsCode) {
    INSTALL_TARGETS();
    // The named log's folder does not exist: the default log takes its lines.
    EXPECT_EQ(Run("/quiet /log \"C:\\No Such\\upd.log\""), kExitRestartNeeded);
    ExpectAllRevised();
    const std::vector<std::string> lines = LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "log C:\\No Such\\upd.log cannot be written: this log is used instead");
    // Neither can be written (a folder stands at the default log's path):
    // the run goes on all the same.
    InstallTargets();
    std::filesystem::remove(sim::HostPath(kLog));
    MakeFolder(kLog);
    EXPECT_EQ(Run("/quiet /log \"C:\\No Such\\upd.log\""), kExitRestartNeeded);
    ExpectAllRevised();
}

TEST_F(UnattendedTest, TheInteractiveRunReturnsTheSameCodesAndLogsWhenAsked) {
    INSTALL_TARGETS();
    AcceptStart();
    sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDOK));
    sim::Answer(IDD_NORMAL_END_DIALOG, sim::Click(IDOK));
    EXPECT_EQ(Run("/log C:\\person.log"), kExitRestartStarted);
    EXPECT_EQ(sim::RestartRequests().size(), 1u);
    const std::vector<std::string> lines = LogLines("C:\\person.log");
    EXPECT_EQ(Count(lines, "font "), 3);
    EXPECT_EQ(lines[lines.size() - 2], "restart chosen: started");
    EXPECT_EQ(lines.back(), "exit 1641");

    // A failure, and a stop.
    InstallTargets();
    sim::FailCall("CopyFileA", 1);
    AcceptStart();
    sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDOK));
    sim::Answer(IDD_END_DIALOG, sim::Click(IDOK));
    EXPECT_EQ(Run(""), kExitFailed);
    sim::ClearFailures();
    AcceptStart();
    sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDOK));
    sim::AtPosition(IDD_PROGRESS_DIALOG, IDC_PROGRESS_STEP, 3, sim::Click(IDC_PROGRESS_STOP));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDOK));
    sim::Answer(IDD_END_DIALOG, sim::Click(IDOK));
    EXPECT_EQ(Run(""), kExitCancelled);
}

// A standard user may make files and links in C:\Windows\Temp, where the
// local system account keeps its default log: whatever they plant there,
// nothing outside the log is written, the planted names stay as they are,
// and the run still revises and keeps a log under a fresh name.
TEST_F(UnattendedTest, ALogOrOldLogPlantedByAStandardUserIsNeverWrittenThrough) {
    INSTALL_TARGETS();
    const char kPrecious[] = "C:\\Windows\\System32\\precious.dll";
    const char kAbsent[] = "C:\\Windows\\System32\\absent.dll";
    const Bytes precious = {'M', 'Z', 1, 2, 3};
    const std::string oldLog = std::string(kLog) + ".old";
    struct Plant {
        const char* what;
        std::function<void()> make;
        bool freshLog;  // the default log refused, a fresh one used
    };
    const std::vector<Plant> plants = {
        {"a link to a system file", [&] { sim::MakeFileLink(kLog, kPrecious); }, true},
        {"a link to nothing yet", [&] { sim::MakeFileLink(kLog, kAbsent); }, true},
        {"a hard link to a system file",
         [&] { ASSERT_EQ(::link(sim::HostPath(kPrecious).c_str(), sim::HostPath(kLog).c_str()), 0); }, true},
        {"a file of their own",
         [&] {
             Put(kLog, Bytes{'x'});
             sim::SetFileOwner(kLog, sim::FileOwner::kStandardUser);
         },
         true},
        {"the grown log's .old as a link",
         [&] {
             Put(kLog, Bytes(CRunLog::kMaxBytes + 10, 'z'));
             sim::MakeFileLink(oldLog, kPrecious);
         },
         false},
    };
    for (const Plant& plant : plants) {
        SCOPED_TRACE(plant.what);
        InstallTargets();
        ClearTemp();
        Put(kPrecious, precious);
        std::filesystem::remove(sim::HostPath(kAbsent));
        plant.make();
        sim::RunAsLocalSystem();
        EXPECT_EQ(Run("/quiet"), kExitRestartNeeded);
        ExpectAllRevised();
        EXPECT_EQ(Get(kPrecious), precious);
        EXPECT_FALSE(std::filesystem::exists(sim::HostPath(kAbsent)));
        std::vector<std::string> fresh;
        for (const std::string& name : testdata::FilesIn("C:\\Windows\\Temp")) {
            if (name.compare(0, 4, "upd-") == 0) fresh.push_back(name);
        }
        if (plant.freshLog) {
            ASSERT_EQ(fresh.size(), 1u);
            const std::vector<std::string> lines = LogLines(("C:\\Windows\\Temp\\" + fresh[0]).c_str());
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.front().rfind("log C:\\Windows\\Temp\\upd.log is not trusted", 0), 0u) << lines.front();
            EXPECT_EQ(lines.back(), "exit 3010");
        } else {
            EXPECT_TRUE(fresh.empty());
            EXPECT_EQ(LogLines().back(), "exit 3010");  // begun anew in place
            EXPECT_LT(Get(kLog).size(), 100000u);
        }
    }

    // An explicit log whose last name is a link is not followed either.
    InstallTargets();
    ClearTemp();
    MakeFolder("C:\\Logs");
    sim::MakeFileLink("C:\\Logs\\upd.log", kPrecious);
    EXPECT_EQ(Run("/quiet /log C:\\Logs\\upd.log"), kExitRestartNeeded);
    EXPECT_EQ(Get(kPrecious), precious);
    EXPECT_EQ(LogLines().front().rfind("log C:\\Logs\\upd.log is not trusted", 0), 0u);
}

// In the unattended modes a font that could not be read during the search
// makes the run a failure once the fonts found are revised.
TEST_F(UnattendedTest, AFontTheSearchCouldNotReadMakesTheRunAFailure) {
    INSTALL_TARGETS();
    sim::HoldFileElsewhere(kMaru, 0);
    EXPECT_EQ(Run(std::string("/check /log ") + kLog), kExitFailed);
    EXPECT_EQ(Run("/quiet"), kExitFailed);
    sim::ReleaseFileElsewhere(kMaru);
    EXPECT_TRUE(Revised(kGothic, Real("Sorame-Gothic-Pro-W3").installed));
    EXPECT_TRUE(Revised(kMincho, Real("Sorame-Mincho-Std-W5").installed));
    EXPECT_EQ(Get(kMaru), MaruFont());
    const std::vector<std::string> lines = LogLines();
    EXPECT_EQ(Count(lines, std::string("search-failed font-unreadable ") + kMaru + " error=32"), 2);
    EXPECT_EQ(lines.back(), "exit 1603");
    // The next run finds it and succeeds.
    EXPECT_EQ(Run("/quiet"), kExitRestartNeeded);
    ExpectAllRevised();
}
