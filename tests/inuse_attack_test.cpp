// Attacks on fonts in use and their completion at the next start, as a
// hostile standard user or bad luck would make them: records that are not
// what the program wrote, a staging folder fuller than a run looks at, a
// font loaded more often than the program unloads, and the font's folder
// swapped at every call of the completion.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/exitcodes.h"
#include "tests/support/wholerun.h"

using namespace wholerun;

namespace {

const char kLog[] = "C:\\Windows\\Temp\\upd.log";
const char kStaging[] = "C:\\Windows\\Temp\\upd-pending";
const char kRunOnce[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

class InUseAttackTest : public WholeRunTest {
protected:
    void TearDown() override {
        sim::OnCall(nullptr);
        sim::SetCommandLine("");
        WholeRunTest::TearDown();
    }

    int Run() {
        sim::SetCommandLine(std::string("\"") + kExe + "\" /quiet /log " + kLog);
        const int code = RunProgram();
        sim::EndProgramRun();
        return code;
    }

    // A fresh machine whose Mincho font waits for the restart; the name of
    // its record and revision (the font's identity) in *id.
    void StageMincho(std::string* id) {
        sim::Reset();
        MapNewDrive('C');
        PrepareMachine();
        // A folder link is a link on the host too, and outlives the reset
        // (the path of a link is the host's path of what it leads to).
        const std::string windows = sim::HostPath("C:\\Windows");
        ASSERT_FALSE(windows.empty());
        for (const char* name : {"/Fonts", "/Fonts.old"}) std::filesystem::remove_all(windows + name);
        std::filesystem::remove_all(sim::HostPath("D:\\Elsewhere"));
        InstallTargets();
        sim::HoldFileElsewhere(kMincho);
        ASSERT_EQ(Run(), kExitRestartNeeded);
        sim::ReleaseFileElsewhere(kMincho);
        const std::vector<std::string> staged = testdata::FilesIn(kStaging);
        ASSERT_EQ(staged.size(), 2u);
        *id = staged[0].substr(0, staged[0].find('.'));
    }

    std::string RecordPath(const std::string& id) { return std::string(kStaging) + "\\" + id + ".rec"; }

    void ExpectNothingLeft() {
        EXPECT_FALSE(Exists(kStaging));
        EXPECT_TRUE(sim::RegistryValues(kRunOnce).empty());
        for (const std::string& name : testdata::FilesIn("C:\\Windows\\Fonts")) {
            EXPECT_EQ(name.find("~upd"), std::string::npos) << name;
        }
    }
};

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
    const size_t at = text.find(what);
    if (at != std::string::npos) text.replace(at, what.size(), with);
    return text;
}

}  // namespace

TEST_F(InUseAttackTest, ARecordNotAsTheProgramWroteItMovesNothingIn) {
    INSTALL_TARGETS();
    const Bytes installed = Real("Sorame-Mincho-Std-W5").installed;
    const std::string font = std::string("font=") + kMincho + "\r\n";
    const std::string otherFolder = "C:\\Users\\Public\\Fonts";
    const std::string otherFont = otherFolder + "\\Sorame-Mincho-Std-W5.otf";
    struct Case {
        const char* what;
        // Changes the record's text; may act on the machine too.  Returns
        // where the font is afterwards.
        std::function<std::string(std::string*)> act;
    };
    const Case cases[] = {
        {"cut short", [](std::string* t) { t->resize(t->size() / 2); return std::string(kMincho); }},
        {"a digit that is none", [](std::string* t) {
             (*t)[t->find("font-sha256=") + 12] = 'g';
             return std::string(kMincho);
         }},
        {"a key twice", [&](std::string* t) { *t = Replaced(*t, font, font + font); return std::string(kMincho); }},
        {"a path through ..", [&](std::string* t) {
             *t = Replaced(*t, font, "font=C:\\Windows\\Fonts\\..\\Fonts\\Sorame-Mincho-Std-W5.otf\r\n");
             return std::string(kMincho);
         }},
        {"a path through a folder link", [&](std::string* t) {
             sim::MakeFolderLink("C:\\FontLink", "C:\\Windows\\Fonts");
             *t = Replaced(*t, font, "font=C:\\FontLink\\Sorame-Mincho-Std-W5.otf\r\n");
             return std::string(kMincho);
         }},
        {"a path over MAX_PATH", [&](std::string* t) {
             *t = Replaced(*t, font, "font=C:\\Windows\\Fonts\\" + std::string(300, 'a') + ".otf\r\n");
             return std::string(kMincho);
         }},
        // The very file, moved into a folder its user controls: its
        // identity and bytes are the recorded ones, its folder is not.
        {"the font moved to another user's folder", [&](std::string* t) {
             MakeFolder(otherFolder);
             sim::SetFolderRules(otherFolder, sim::FolderRules::kOwnedByAnotherUser);
             std::filesystem::rename(sim::HostPath(kMincho), sim::HostPath(otherFont.c_str()));
             *t = Replaced(*t, font, "font=" + otherFont + "\r\n");
             return otherFont;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string id;
        StageMincho(&id);
        const Bytes record = Get(RecordPath(id));
        std::string text(record.begin(), record.end());
        const std::string at = c.act(&text);
        Put(RecordPath(id), Bytes(text.begin(), text.end()));
        sim::RestartWindows();
        EXPECT_TRUE(Untouched(at.c_str(), installed));
        ExpectNothingLeft();
        EXPECT_TRUE(testdata::FilesIn(otherFolder).size() <= 1u);
    }
}

TEST_F(InUseAttackTest, AGigabyteRecordIsRefusedBySizeAndRemoved) {
    INSTALL_TARGETS();
    std::string id;
    StageMincho(&id);
    // Sparse on the host: refused by its size, never read.
    std::filesystem::resize_file(sim::HostPath(RecordPath(id).c_str()), 1ull << 30);
    sim::RestartWindows();
    EXPECT_TRUE(Untouched(kMincho, Real("Sorame-Mincho-Std-W5").installed));
    ExpectNothingLeft();
}

TEST_F(InUseAttackTest, ARevisionWaitingBeyondWhatOneRunListsIsNotLost) {
    // More staging files than a run looks at, named so that the listing is
    // cut between the waiting font's revision and its record.
    INSTALL_TARGETS();
    std::string id;
    StageMincho(&id);
    auto plant = [&] {
        char name[32];
        for (int i = 0; i < 4095; ++i) {
            std::snprintf(name, sizeof name, "00000000%016x.font", i);
            ASSERT_LT(std::string(name), id + ".font");
            Put(std::string(kStaging) + "\\" + name, testdata::BytesOf("no record"));
        }
    };
    plant();
    for (int restart = 0; restart < 2; ++restart) sim::RestartWindows();
    EXPECT_TRUE(Revised(kMincho, Real("Sorame-Mincho-Std-W5").installed));
    ExpectNothingLeft();

    // A run of the program from a folder users may change leaves the
    // program to be started at the next start as it was.
    StageMincho(&id);
    plant();
    const std::string userExe = "C:\\Users\\Public\\Updater\\upd.exe";
    Put("C:\\Users\\Public\\Updater\\host\\Sorame-Mincho-Std-W5.pa", Real("Sorame-Mincho-Std-W5").diff);
    sim::SetFolderRules("C:\\Users\\Public\\Updater", sim::FolderRules::kOpenToUsers);
    const std::map<std::string, std::string> runOnce = sim::RegistryValues(kRunOnce);
    sim::SetCommandLine("\"" + userExe + "\" /quiet");
    RunProgram(userExe.c_str());
    sim::EndProgramRun();
    EXPECT_EQ(sim::RegistryValues(kRunOnce), runOnce);
}

TEST_F(InUseAttackTest, AFontLoadedMoreOftenThanTheProgramUnloadsWaitsAndKeepsItsLoads) {
    INSTALL_TARGETS();
    const Bytes installed = Real("Sorame-Mincho-Std-W5").installed;
    for (int i = 0; i < 70; ++i) sim::LoadFontElsewhere(kMincho);
    EXPECT_EQ(Run(), kExitRestartNeeded);
    EXPECT_EQ(sim::FontLoadCount(kMincho), 70);
    EXPECT_TRUE(Untouched(kMincho, installed));
    sim::RestartWindows();
    EXPECT_TRUE(Revised(kMincho, installed));
    ExpectNothingLeft();

    // Unloading refused at once: in use all the same, its load kept.
    sim::Reset();
    MapNewDrive('C');
    PrepareMachine();
    InstallTargets();
    sim::LoadFontElsewhere(kMincho);
    sim::FailCall("RemoveFontResourceA");
    EXPECT_EQ(Run(), kExitRestartNeeded);
    EXPECT_EQ(sim::FontLoadCount(kMincho), 1);
    EXPECT_TRUE(Untouched(kMincho, installed));
}

TEST_F(InUseAttackTest, TheFontsFolderSwappedAtAnyCallOfTheCompletionChangesNothingElse) {
    // At one call of the completion (every call in turn), the font's folder
    // is replaced by a link to a folder holding a file of the font's name
    // and of each name the program makes beside a font.
    INSTALL_TARGETS();
    const Bytes installed = Real("Sorame-Mincho-Std-W5").installed;
    const Bytes decoy = testdata::BytesOf("someone else's file");
    const std::vector<std::string> decoys = {"Sorame-Mincho-Std-W5.otf", "~upd0.new", "~upd1.new", "~updf.new"};
    std::string id;
    StageMincho(&id);
    const uint64_t before = sim::TotalCalls();
    sim::RestartWindows();
    const uint64_t calls = sim::TotalCalls() - before;
    ASSERT_TRUE(Revised(kMincho, installed));
    int done = 0, refused = 0;
    for (uint64_t at = 1; at <= calls; ++at) {
        SCOPED_TRACE("at call " + std::to_string(at) + " of " + std::to_string(calls));
        StageMincho(&id);
        for (const std::string& name : decoys) Put("D:\\Elsewhere\\" + name, decoy);
        const uint64_t base = sim::TotalCalls();
        bool swapped = false;
        sim::OnCall([&](const char*, uint64_t total) {
            if (total != base + at) return;
            if (sim::ReplaceFolderByLinkElsewhere("C:\\Windows\\Fonts", "D:\\Elsewhere") == ERROR_SUCCESS) {
                swapped = true;
                ++done;
            } else {
                ++refused;
            }
        });
        sim::RestartWindows();
        sim::OnCall(nullptr);
        EXPECT_EQ(testdata::FilesIn("D:\\Elsewhere"), decoys);
        for (const std::string& name : decoys) EXPECT_TRUE(Get("D:\\Elsewhere\\" + name) == decoy) << name;
        const std::string own = swapped ? "C:\\Windows\\Fonts.old\\Sorame-Mincho-Std-W5.otf" : kMincho;
        EXPECT_TRUE(Untouched(own.c_str(), installed) || Revised(own.c_str(), installed));
        EXPECT_FALSE(Exists(kStaging));
        EXPECT_TRUE(sim::RegistryValues(kRunOnce).empty());
    }
    RecordProperty("swapped", done);
    RecordProperty("refused", refused);
}

TEST_F(InUseAttackTest, WhatIsPlantedOrChangedBetweenTheRunAndTheRestartIsLeftAlone) {
    INSTALL_TARGETS();
    const Bytes installed = Real("Sorame-Mincho-Std-W5").installed;
    const Bytes precious = testdata::BytesOf("precious");
    const std::string beside = "C:\\Windows\\Fonts\\~upd";
    struct Case {
        const char* what;
        std::function<void()> act;
        bool revised;
    };
    const Case cases[] = {
        // Names the completion makes beside the font taken by what is not
        // its own: the revision still goes in, under none of them.
        {"names beside the font taken", [&] {
             Put("C:\\Other\\precious.otf", precious);
             MakeFolder(beside + "0.new");
             std::filesystem::create_hard_link(sim::HostPath("C:\\Other\\precious.otf"),
                                               sim::HostPath((beside + "1.new").c_str()));
             ASSERT_TRUE(sim::MakeFileLink(beside + "2.new", "C:\\Other\\precious.otf"));
         }, true},
        {"the font's folder opened to users", [] {
             sim::SetFolderRules("C:\\Windows\\Fonts", sim::FolderRules::kOpenToUsers);
         }, false},
        {"the font given a second name", [&] {
             std::filesystem::create_hard_link(sim::HostPath(kMincho), sim::HostPath("C:\\Other\\second.otf"));
         }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string id;
        StageMincho(&id);
        std::filesystem::remove_all(sim::HostPath("C:\\Other"));
        MakeFolder("C:\\Other");
        c.act();
        const std::vector<std::string> planted = testdata::FilesIn("C:\\Windows\\Fonts");
        sim::RestartWindows();
        EXPECT_TRUE(c.revised ? Revised(kMincho, installed) : Untouched(kMincho, installed));
        EXPECT_EQ(testdata::FilesIn("C:\\Windows\\Fonts"), planted);
        if (Exists("C:\\Other\\precious.otf")) {
            EXPECT_TRUE(Get("C:\\Other\\precious.otf") == precious);
        }
        // A second name keeps the bytes it had: the font's name is moved over, never written into.
        if (Exists("C:\\Other\\second.otf")) {
            EXPECT_TRUE(Untouched("C:\\Other\\second.otf", installed));
        }
        EXPECT_FALSE(Exists(kStaging));
        EXPECT_TRUE(sim::RegistryValues(kRunOnce).empty());
    }
}

TEST_F(InUseAttackTest, AFontReplacedAndInUseAgainBeforeTheRestartWaitsOnce) {
    INSTALL_TARGETS();
    const Bytes installed = Real("Sorame-Mincho-Std-W5").installed;
    std::string id;
    StageMincho(&id);
    // The user installs the same release again (a new file), still in use.
    std::filesystem::remove(sim::HostPath(kMincho));
    Put(kMincho, installed);
    sim::HoldFileElsewhere(kMincho);
    EXPECT_EQ(Run(), kExitRestartNeeded);
    EXPECT_EQ(testdata::FilesIn(kStaging).size(), 2u);
    sim::RestartWindows();
    EXPECT_TRUE(Revised(kMincho, installed));
    EXPECT_FALSE(Exists(kStaging));
}

TEST_F(InUseAttackTest, AFileAtTheStagingNameMadeByAUserIsNotUsedNorFollowed) {
    INSTALL_TARGETS();
    Put(kStaging, testdata::BytesOf("a user's file"));
    sim::HoldFileElsewhere(kMincho);
    EXPECT_EQ(Run(), ExitCodeOfRevision(kReviseFontInUse));
    EXPECT_TRUE(Get(kStaging) == testdata::BytesOf("a user's file"));
    EXPECT_TRUE(sim::RegistryValues(kRunOnce).empty());
    EXPECT_TRUE(Untouched(kMincho, Real("Sorame-Mincho-Std-W5").installed));
}
