// Fonts in use, whose revision waits for the next start of Windows: whole
// runs of the program before and after simulated restarts, and what the
// user or an attacker does to the font, its folder and the staging folder
// in between.
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/exitcodes.h"
#include "driver/pending.h"
#include "tests/support/wholerun.h"

using namespace wholerun;

namespace {

const char kLog[] = "C:\\Windows\\Temp\\upd.log";
const char kStaging[] = "C:\\Windows\\Temp\\upd-pending";
const char kRunOnce[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

class PendingTest : public WholeRunTest {
protected:
    void TearDown() override {
        sim::SetCommandLine("");
        EXPECT_EQ(sim::OpenRegistryKeyCount(), 0);
        WholeRunTest::TearDown();
    }

    int Run(const std::string& arguments = "/quiet /log C:\\Windows\\Temp\\upd.log") {
        sim::SetCommandLine(std::string("\"") + kExe + "\" " + arguments);
        const int code = RunProgram();
        sim::EndProgramRun();
        return code;
    }

    std::string LogText() {
        const Bytes bytes = Get(kLog);
        return std::string(bytes.begin(), bytes.end());
    }
    static int Occurrences(const std::string& text, const std::string& what) {
        int n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }

    // Nothing of the program's is left anywhere: no staging folder, no
    // RunOnce value, no start token, nothing beside the fonts.
    void ExpectNothingLeft() {
        EXPECT_FALSE(Exists(kStaging));
        EXPECT_TRUE(sim::RegistryValues(kRunOnce).empty());
        for (const std::string& name : testdata::FilesIn("C:\\Windows\\Fonts")) {
            EXPECT_EQ(name.find("~upd"), std::string::npos) << name;
        }
    }
};

}  // namespace

TEST_F(PendingTest, TwentyRunsBeforeARestartKeepOneRevisionAndTheRestartMovesItIn) {
    INSTALL_TARGETS();
    const Bytes installed = Real("Sorame-Mincho-Std-W5").installed;
    sim::HoldFileElsewhere(kMincho);
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE(run);
        EXPECT_EQ(Run(), kExitRestartNeeded);
        EXPECT_TRUE(Untouched(kMincho, installed));
        EXPECT_EQ(testdata::FilesIn(kStaging).size(), 2u);
    }
    const std::string log = LogText();
    EXPECT_EQ(Occurrences(log, std::string("waiting for restart: ") + kMincho), 20);
    EXPECT_EQ(Occurrences(log, std::string("font ") + kMincho + " result=0 "), 20);
    EXPECT_EQ(Occurrences(log, "exit 3010"), 20);
    ASSERT_EQ(sim::RegistryValues(kRunOnce).size(), 1u);

    sim::RestartWindows();
    ASSERT_EQ(sim::RunOnceStarted().size(), 1u);
    EXPECT_TRUE(Revised(kMincho, installed));
    ExpectNothingLeft();
    // The next run finds it revised (the test's Maru font keeps its
    // revision, and so is found every time).
    Run();
    EXPECT_EQ(Occurrences(LogText(), std::string("found ") + kMincho), 20);
}

TEST_F(PendingTest, AFontDeletedOrReplacedBeforeTheRestartIsLeftAsTheUserLeftIt) {
    INSTALL_TARGETS();
    const Bytes installed = Real("Sorame-Mincho-Std-W5").installed;
    const Bytes newer = testdata::BytesOf("the maker's next release, installed before the restart");
    struct Case {
        const char* what;
        std::function<void()> act;
        bool exists;
    };
    const Case cases[] = {
        {"deleted", [] { std::filesystem::remove(sim::HostPath(kMincho)); }, false},
        {"replaced by a newer one",
         [&] {
             std::filesystem::remove(sim::HostPath(kMincho));
             Put(kMincho, newer);
         },
         true},
        {"changed in place", [&] { Put(kMincho, newer); }, true},
        // Not the user: the revision kept is not the one recorded.
        {"the revision kept was changed", [this] {
             for (const std::string& name : testdata::FilesIn(kStaging)) {
                 if (name.size() < 5 || name.compare(name.size() - 5, 5, ".font") != 0) continue;
                 Bytes staged = Get(std::string(kStaging) + "\\" + name);
                 staged[staged.size() / 2] ^= 1;
                 Put(std::string(kStaging) + "\\" + name, staged);
             }
         }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Reset();
        MapNewDrive('C');
        PrepareMachine();
        InstallTargets();
        sim::HoldFileElsewhere(kMincho);
        ASSERT_EQ(Run(), kExitRestartNeeded);
        sim::ReleaseFileElsewhere(kMincho);
        c.act();
        sim::RestartWindows();
        EXPECT_EQ(Exists(kMincho), c.exists);
        if (c.exists) {
            EXPECT_TRUE(Get(kMincho) == (std::string(c.what) == "the revision kept was changed" ? installed : newer));
        }
        ExpectNothingLeft();
    }
}

TEST_F(PendingTest, ARunOnceWindowsDidNotRunIsCompletedByTheNextRun) {
    INSTALL_TARGETS();
    const Bytes installed = Real("Sorame-Mincho-Std-W5").installed;
    sim::HoldFileElsewhere(kMincho);
    ASSERT_EQ(Run(), kExitRestartNeeded);
    // A standard user logged on first: Windows started nothing.
    sim::SetProgramStarter(nullptr);
    sim::RestartWindows();
    EXPECT_TRUE(Untouched(kMincho, installed));
    // /check revises nothing.
    EXPECT_EQ(Run("/check"), kExitWorkNeeded);
    EXPECT_TRUE(Untouched(kMincho, installed));

    Run();
    EXPECT_TRUE(Revised(kMincho, installed));
    EXPECT_EQ(Occurrences(LogText(), std::string("found ") + kMincho), 1);
    EXPECT_NE(LogText().find(std::string("pending ") + kMincho + " revised"), std::string::npos);
    ExpectNothingLeft();
}

TEST_F(PendingTest, AFontFolderSwappedForALinkBeforeTheRestartIsNotWrittenThrough) {
    // The font's folder is moved away and a link put in its place, to a
    // folder holding another file of the font's name.
    INSTALL_TARGETS();
    const Bytes installed = Real("Sorame-Mincho-Std-W5").installed;
    sim::HoldFileElsewhere(kMincho);
    ASSERT_EQ(Run(), kExitRestartNeeded);
    sim::ReleaseFileElsewhere(kMincho);
    const Bytes other = testdata::BytesOf("someone else's file");
    Put("D:\\Elsewhere\\Sorame-Mincho-Std-W5.otf", other);
    std::filesystem::rename(sim::HostPath("C:\\Windows\\Fonts"), sim::HostPath("C:\\Windows\\Fonts.old"));
    ASSERT_TRUE(sim::MakeFolderLink("C:\\Windows\\Fonts", "D:\\Elsewhere"));

    sim::RestartWindows();
    EXPECT_TRUE(Get("D:\\Elsewhere\\Sorame-Mincho-Std-W5.otf") == other);
    EXPECT_EQ(testdata::FilesIn("D:\\Elsewhere").size(), 1u);
    EXPECT_TRUE(Untouched("C:\\Windows\\Fonts.old\\Sorame-Mincho-Std-W5.otf", installed));
    EXPECT_FALSE(Exists(kStaging));
}

TEST_F(PendingTest, AFontInUseIsNotScheduledFromPlacesAUserCanChange) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        const char* exe;
    };
    const char kUserExe[] = "C:\\Users\\Public\\Updater\\upd.exe";
    const Case cases[] = {
        {"the program runs from a folder users may change", [&] {
             Put(std::string("C:\\Users\\Public\\Updater\\host\\Sorame-Mincho-Std-W5.pa"),
                    Real("Sorame-Mincho-Std-W5").diff);
             sim::SetFolderRules("C:\\Users\\Public\\Updater", sim::FolderRules::kOpenToUsers);
         }, kUserExe},
        {"a folder of the staging name made by another user", [this] {
             MakeFolder(kStaging);
             sim::SetFolderRules(kStaging, sim::FolderRules::kOwnedByAnotherUser);
         }, kExe},
        {"the staging name is a link planted earlier", [this] {
             MakeFolder("C:\\Users\\alice\\planted");
             sim::MakeFolderLink(kStaging, "C:\\Users\\alice\\planted");
         }, kExe},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Reset();
        MapNewDrive('C');
        PrepareMachine();
        InstallTargets();
        c.arrange();
        sim::HoldFileElsewhere(kMincho);
        sim::SetCommandLine(std::string("\"") + c.exe + "\" /quiet /log C:\\Windows\\Temp\\upd.log");
        EXPECT_EQ(RunProgram(c.exe), ExitCodeOfRevision(kReviseFontInUse));
        sim::EndProgramRun();
        EXPECT_NE(LogText().find(std::string("font ") + kMincho + " result=17"), std::string::npos) << LogText();
        EXPECT_TRUE(sim::RegistryValues(kRunOnce).empty());
        EXPECT_TRUE(testdata::FilesIn("C:\\Users\\alice\\planted").empty());
        EXPECT_TRUE(testdata::FilesIn(kStaging).empty());
        EXPECT_TRUE(Untouched(kMincho, Real("Sorame-Mincho-Std-W5").installed));
    }
}

TEST_F(PendingTest, StagingFilesNoRecordRefersToAreRemovedAtTheStartOfARun) {
    INSTALL_TARGETS();
    MakeFolder(kStaging);
    sim::SetFolderRules(kStaging, sim::FolderRules::kAdministratorsOnly);
    // A revision whose record was never written, a record cut short, and a
    // record whose revision is gone; a file of another name is not ours.
    Put(std::string(kStaging) + "\\0000000100000000000000aa.font", testdata::BytesOf("revision"));
    Put(std::string(kStaging) + "\\0000000100000000000000bb.rec", testdata::BytesOf("upd pending revision 1\r\nfont="));
    Put(std::string(kStaging) + "\\0000000100000000000000bb.font", testdata::BytesOf("revision"));
    Put(std::string(kStaging) + "\\notes.txt", testdata::BytesOf("an administrator's"));
    EXPECT_EQ(Run(), kExitRestartNeeded);
    EXPECT_EQ(testdata::FilesIn(kStaging), (std::vector<std::string>{"notes.txt"}));
    EXPECT_TRUE(sim::RegistryValues(kRunOnce).empty());
}
