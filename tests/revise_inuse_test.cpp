// A font in use, and a font folder someone else may change or swap, on the
// simulated machine: the font is revised, waits for the next start, or is
// left as it was, and nothing outside its own file is touched.
#include "tests/support/revise_fixture.h"

namespace {

class ReviseInUseTest : public ReviseTest {};

}  // namespace
TEST_F(ReviseInUseTest, AFontInUseWaitsOnceInTheStagingFolderAndIsReplacedAtTheNextStart) {
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

TEST_F(ReviseInUseTest, AFontFolderSwappedForALinkMidRunIsNotWrittenThrough) {
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

TEST_F(ReviseInUseTest, AFontLoadedOnlyForTheSessionIsRevisedWithoutARestart) {
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

TEST_F(ReviseInUseTest, AFontStillHeldInAFolderAUserCanChangeEndsInUseWithNothingWrittenOrKept) {
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

TEST_F(ReviseInUseTest, AFontWhoseFolderCannotBeHeldIsNotRead) {
    sim::FailCall("CreateFileA", 2);  // the pin's second folder
    EXPECT_EQ(Revise(), kReviseLoadFailed);
    ExpectInstalledIntact();
    ASSERT_TRUE(sim::MakeFolderLink("D:\\Linked", "D:\\Fonts"));
    EXPECT_EQ(ReviseAt("D:\\Linked\\Sorame-Gothic-Pro-W3.otf"), kReviseLoadFailed);
    ExpectInstalledIntact();
}

TEST_F(ReviseInUseTest, AUsersFontFolderReplacedByALinkAtAnyPointOfARunChangesNothingElse) {
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

TEST_F(ReviseInUseTest, TheSweepTakesOnlyPlainFilesWithOneNameInTheFolderTheSearchRead) {
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
