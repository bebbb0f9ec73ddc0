// patool release: a product line paired by catalogue name, and a release
// that fails, or is killed, never leaves a half-made one.

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
