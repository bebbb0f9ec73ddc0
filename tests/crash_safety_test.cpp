// The process revising a large font is killed outright (SIGKILL: no handler,
// no clean-up) at many points of its run: at chosen platform calls, and at
// chosen moments.  Afterwards the installed file must hold exactly the old
// font or exactly the new one.
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "discovery/foldercheck.h"
#include "driver/revise.h"
#include "driver/pending.h"
#include "engine/manager.h"
#include "platform/sim/sim.h"
#include "tests/support/sim_fixture.h"

#if __has_include("tools/paproducer/paproducer.h")
#include "tools/paproducer/paproducer.h"
#define HAVE_PAPRODUCER 1
#endif

namespace fs = std::filesystem;
using testdata::Bytes;

namespace {

const char kHost[] = "C:\\Program Files\\Sorame\\Updater\\host\\";
const char kTemp[] = "C:\\Windows\\Temp\\";
const char kStaging[] = "C:\\Windows\\Temp\\upd-pending";

// The large font takes a second or more per run under the sanitizers: the
// test command kills it at a spread of points, and a run by hand on an
// optimised build raises the count (CRASH_SAFETY_POINTS=210).  The small font
// is killed at every call and at 200 moments every time.
int LargeFontPoints() {
    const char* env = std::getenv("CRASH_SAFETY_POINTS");
    const int n = env ? std::atoi(env) : 0;
    return n > 0 ? n : 16;
}

// Whole-file reads in one call: the large font is read after every kill.
Bytes ReadHost(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    Bytes b(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return b;
}

void WriteHost(const std::string& path, const Bytes& b) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

class CrashSafetyTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        const std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = base + "/crashsafety-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
        for (const char* drive : {"C", "D"}) {
            fs::create_directories(m_root + "/" + drive);
            sim::MapDrive(drive[0], m_root + "/" + drive);
        }
        fs::create_directories(sim::HostPath(kTemp));
        fs::create_directories(sim::HostPath("D:\\Fonts"));
        fs::create_directories(sim::HostPath(kHost));
        // A font held by another program waits for the next start only in
        // a folder no user can change.
        sim::SetFolderRules("D:\\Fonts", sim::FolderRules::kAdministratorsOnly);
        sim::SetTime(1700000000);
    }
    void TearDown() override {
        ReleaseFolderCheckCtrl();
        sim::Reset();
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }

    void Restore() {
        std::error_code ec;
        for (const char* folder : {"D:\\Fonts", kTemp}) {
            for (const auto& e : fs::directory_iterator(sim::HostPath(folder), ec)) fs::remove_all(e.path(), ec);
        }
        WriteHost(sim::HostPath(m_font.c_str()), m_old);
    }

    // Runs the revision in a child process.  killAtCall > 0: the child kills
    // itself as that call of its run begins; killAfter > 0: the parent kills
    // it after that long.  Returns the wait status; *calls receives the
    // number of calls of a run that was not killed.
    int RunChild(uint64_t killAtCall, std::chrono::microseconds killAfter, uint64_t* calls = nullptr) {
        int fds[2];
        if (::pipe(fds) != 0) return -1;
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            const uint64_t base = sim::TotalCalls();
            if (killAtCall > 0) {
                sim::OnCall([base, killAtCall](const char*, uint64_t total) {
                    if (total - base == killAtCall) ::kill(::getpid(), SIGKILL);
                });
            }
            // Held as Windows holds a font it loaded: the revision must wait
            // for the next start.
            if (m_inUse) sim::HoldFileElsewhere(m_font);
            COpenTypeManager m;
            const int result = m.ReviseFont(m_font.c_str(), m_revision, nullptr, nullptr, 1, 0);
            const uint64_t made = sim::TotalCalls() - base;
            if (::write(fds[1], &made, sizeof made) != sizeof made) ::_exit(101);
            ::_exit(result);
        }
        ::close(fds[1]);
        if (killAfter.count() > 0) {
            struct timespec ts;
            ts.tv_sec = static_cast<time_t>(killAfter.count() / 1000000);
            ts.tv_nsec = static_cast<long>(killAfter.count() % 1000000) * 1000;
            ::nanosleep(&ts, nullptr);
            ::kill(pid, SIGKILL);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        uint64_t made = 0;
        if (::read(fds[0], &made, sizeof made) == sizeof made && calls) *calls = made;
        ::close(fds[0]);
        return status;
    }

    // One kill point: the installed font afterwards is the old or the new.
    void KillPoint(uint64_t killAtCall, std::chrono::microseconds killAfter) {
        Restore();
        const int status = RunChild(killAtCall, killAfter);
        const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        if (killed) {
            ++m_killed;
        } else {
            ++m_finished;
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kReviseOk) << "status " << status;
        }
        if (m_inUse) {
            // At most one revision and its record wait; the next run, at a
            // later start of Windows whose RunOnce did not run (this
            // process never saw the child's registry), moves in what was
            // complete and removes everything else.
            std::error_code ec;
            int staged = 0;
            for (const auto& e : fs::directory_iterator(sim::HostPath(kStaging), ec)) staged += e.path() != "";
            if (staged > 2) ++m_stagedTooMany;
            // The rules the child gave the folder it made stay with the
            // folder on Windows; here they lived in the child's memory.
            if (fs::exists(sim::HostPath(kStaging))) sim::SetFolderRules(kStaging, sim::FolderRules::kAdministratorsOnly);
            CompletePendingRevisions(kEarlierStarts, nullptr, nullptr);
            if (fs::exists(sim::HostPath(kStaging))) ++m_stagingLeft;
        }
        const Bytes now = ReadHost(sim::HostPath(m_font.c_str()));
        const bool isOld = now == m_old;
        const bool isNew = now == m_new;
        if (isNew) ++m_foundNew;
        if (!isOld && !isNew) ++m_damaged;
        EXPECT_TRUE(isOld || isNew) << "killed at call " << killAtCall << " / after " << killAfter.count()
                                    << " us: the installed font holds neither its old nor its new bytes";
        // Only a killed process may leave its temporary file behind.
        std::error_code ec;
        if (killed && !fs::is_empty(sim::HostPath(kTemp), ec)) ++m_leftovers;
        // Beside the font, a killed run may leave its new file; the next
        // run's start removes it, and nothing else may remain there.
        const fs::path fonts = sim::HostPath("D:\\Fonts");
        auto othersInFontFolder = [&] {
            int n = 0;
            for (const auto& e : fs::directory_iterator(fonts, ec)) n += e.path() != sim::HostPath(m_font.c_str());
            return n;
        };
        if (othersInFontFolder() > 0) ++m_besideLeft;
        RemoveReplaceLeftovers(m_font.c_str());
        const int remaining = othersInFontFolder();
        m_besideAfterStart += remaining;
        EXPECT_EQ(remaining, 0) << "killed at call " << killAtCall << ": files left beside the font after the next start";
    }

    // Kills the revision of the real font pair `name` at callPoints calls
    // spread over its run (every call when it makes fewer) and at moments
    // spread over its duration, together at least minimumKills.
    void Sweep(const std::string& name, int callPoints, int minimumKills);
#ifdef HAVE_PAPRODUCER
    // The font installed on D:, its difference file to release in the host
    // folder, and the search done.
    void UseRelease(const std::string& name, const Bytes& installed, const Bytes& release) {
        m_font = "D:\\Fonts\\" + name + ".otf";
        std::string error;
        const Bytes diff = paproducer::MakeDifference(installed, release, &error);
        ASSERT_FALSE(diff.empty()) << error;
        m_old = installed;
        m_revision = static_cast<int>(testdata::GetU32(diff, 36));
        WriteHost(sim::HostPath((std::string(kHost) + name + ".pa").c_str()), diff);
        ReleaseFolderCheckCtrl();
        GetFolderCheckCtrl();
    }
#endif

    std::string m_root;
    std::string m_font;
    Bytes m_old, m_new;
    int m_revision = 0;
    int m_killed = 0, m_finished = 0, m_damaged = 0, m_foundNew = 0, m_leftovers = 0;
    int m_besideLeft = 0, m_besideAfterStart = 0;
    bool m_inUse = false;
    int m_stagedTooMany = 0, m_stagingLeft = 0;
};

}  // namespace

void CrashSafetyTest::Sweep(const std::string& name, int callPointCount, int minimumKills) {
#ifndef HAVE_PAPRODUCER
    GTEST_SKIP() << "no difference-file producer in this tree";
#else
    REQUIRE_FONT(installed, name + ".otf");
    REQUIRE_FONT(release, name + ".rev.otf");
    ASSERT_NO_FATAL_FAILURE(UseRelease(name, installed, release));  // the children start with the search done

    // A clean run: the new bytes, the number of calls and the duration.
    // The shortest of three, so that the moments fall inside a run.
    uint64_t calls = 0;
    std::chrono::microseconds duration = std::chrono::hours(1);
    const bool inUse = m_inUse;
    m_inUse = false;
    Restore();
    ASSERT_EQ(RunChild(0, std::chrono::microseconds(0), &calls), 0);
    m_new = ReadHost(sim::HostPath(m_font.c_str()));
    m_inUse = inUse;
    for (int i = 0; i < 3; ++i) {
        Restore();
        const auto start = std::chrono::steady_clock::now();
        const int status = RunChild(0, std::chrono::microseconds(0), &calls);
        duration = std::min(duration, std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now() - start));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kReviseOk) << "status " << status;
    }
    ASSERT_NE(m_new, m_old);
    ASSERT_GT(calls, 10u);

    // Every call when there are few, else an even spread that keeps the
    // first and last.
    std::vector<uint64_t> callPoints;
    const uint64_t wanted = std::min<uint64_t>(calls, static_cast<uint64_t>(std::max(callPointCount, 2)));
    for (uint64_t i = 0; i < wanted; ++i) callPoints.push_back(1 + (calls - 1) * i / (wanted - 1));
    callPoints.erase(std::unique(callPoints.begin(), callPoints.end()), callPoints.end());
    for (uint64_t k : callPoints) KillPoint(k, std::chrono::microseconds(0));
    // Moments: as many as the call points leave short of the minimum, and
    // never fewer than a quarter of it.
    const int moments = std::max<int>(minimumKills / 4, minimumKills - static_cast<int>(callPoints.size()));
    for (int j = 1; j <= moments; ++j) {
        KillPoint(0, std::chrono::microseconds(duration.count() * j / (moments + 1)));
    }

    if (m_inUse) {
        std::printf("FIGURE crash-safety-in-use font=%s kill-points=%zu killed=%d staged-too-many=%d "
                    "staging-left-after-next-run=%d new-after=%d damaged=%d\n",
                    name.c_str(), callPoints.size() + static_cast<size_t>(moments), m_killed, m_stagedTooMany,
                    m_stagingLeft, m_foundNew, m_damaged);
        EXPECT_EQ(m_stagedTooMany, 0);
        EXPECT_EQ(m_stagingLeft, 0);
    }
    std::printf("FIGURE crash-safety font=%s bytes=%zu calls=%llu clean-run-us=%lld kill-points=%zu killed=%d "
                "finished-first=%d new-after=%d temp-left=%d beside-left=%d beside-after-next-start=%d damaged=%d\n",
                name.c_str(), m_old.size(), static_cast<unsigned long long>(calls),
                static_cast<long long>(duration.count()), callPoints.size() + static_cast<size_t>(moments), m_killed,
                m_finished, m_foundNew, m_leftovers, m_besideLeft, m_besideAfterStart, m_damaged);
    RecordProperty("killed", m_killed);
    RecordProperty("damaged", m_damaged);
    RecordProperty("beside_after_next_start", m_besideAfterStart);
    // Every call point kills; a moment can come after a fast run ended.
    EXPECT_GE(m_killed, static_cast<int>(callPoints.size()));
    EXPECT_GE(m_killed + m_finished, minimumKills);
    EXPECT_EQ(m_damaged, 0);
#endif
}

TEST_F(CrashSafetyTest, ASmallFontKilledAtEveryCallAndAtManyMomentsIsOldOrNew) {
    Sweep("Sorame-Gothic-Pro-W3", 1000, 230);
}

TEST_F(CrashSafetyTest, AFontInUseKilledAtEveryCallWaitsAtMostOnceAndIsOldOrNewAfterTheNextRun) {
    m_inUse = true;
    Sweep("Sorame-Gothic-Pro-W3", 1000, 120);
}

// The completion at the next start killed at every call: the font is old or
// new, and the next start's completion leaves nothing anywhere.
TEST_F(CrashSafetyTest, TheCompletionKilledAtEveryCallLeavesTheFontOldOrNewAndNothingAfterTheNextStart) {
#ifndef HAVE_PAPRODUCER
    GTEST_SKIP() << "no difference-file producer in this tree";
#else
    const std::string name = "Sorame-Gothic-Pro-W3";
    REQUIRE_FONT(installed, name + ".otf");
    REQUIRE_FONT(release, name + ".rev.otf");
    ASSERT_NO_FATAL_FAILURE(UseRelease(name, installed, release));
    Restore();
    sim::HoldFileElsewhere(m_font);
    {
        COpenTypeManager m;
        ASSERT_EQ(m.ReviseFont(m_font.c_str(), m_revision, nullptr, nullptr, 1, 0), kReviseOk);
    }
    sim::ReleaseFileElsewhere(m_font);
    const std::string staging = sim::HostPath(kStaging), kept = m_root + "/kept";
    fs::copy(staging, kept);
    // The font's own file, kept by a second name: a completion moves
    // another file into its place.
    const std::string original = m_root + "/original";
    fs::create_hard_link(sim::HostPath(m_font.c_str()), original);
    // The font keeps its file (the identity recorded); everything else is
    // as it was when the revision was staged.
    auto again = [&] {
        std::error_code ec;
        for (const char* folder : {"D:\\Fonts", kTemp}) {
            for (const auto& e : fs::directory_iterator(sim::HostPath(folder), ec)) {
                fs::remove_all(e.path(), ec);
            }
        }
        fs::create_hard_link(original, sim::HostPath(m_font.c_str()));
        WriteHost(original, m_old);
        fs::copy(kept, staging);
        sim::SetFolderRules(kStaging, sim::FolderRules::kAdministratorsOnly);
    };
    auto complete = [](uint64_t killAt) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const uint64_t base = sim::TotalCalls();
            sim::OnCall([base, killAt](const char*, uint64_t total) {
                if (killAt > 0 && total - base == killAt) ::kill(::getpid(), SIGKILL);
            });
            CompletePendingRevisions(kEveryRecord, nullptr, nullptr);
            ::_exit(static_cast<int>(std::min<uint64_t>(sim::TotalCalls() - base, 250)));
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return status;
    };
    again();
    const int clean = complete(0);
    ASSERT_TRUE(WIFEXITED(clean));
    m_new = ReadHost(sim::HostPath(m_font.c_str()));
    ASSERT_NE(m_new, m_old);
    const int calls = WEXITSTATUS(clean);
    ASSERT_LT(calls, 250);
    int killed = 0, newAfter = 0, left = 0;
    for (int k = 1; k <= calls; ++k) {
        again();
        const int status = complete(static_cast<uint64_t>(k));
        killed += WIFSIGNALED(status);
        const Bytes now = ReadHost(sim::HostPath(m_font.c_str()));
        if (now != m_old && now != m_new) ++m_damaged;
        EXPECT_TRUE(now == m_old || now == m_new) << "killed at call " << k;
        if (fs::exists(staging)) sim::SetFolderRules(kStaging, sim::FolderRules::kAdministratorsOnly);
        CompletePendingRevisions(kEveryRecord, nullptr, nullptr);
        const Bytes after = ReadHost(sim::HostPath(m_font.c_str()));
        newAfter += after == m_new;
        EXPECT_TRUE(after == m_old || after == m_new) << "killed at call " << k;
        std::error_code ec;
        int others = 0;
        for (const auto& e : fs::directory_iterator(sim::HostPath("D:\\Fonts"), ec)) {
            others += e.path() != sim::HostPath(m_font.c_str());
        }
        left += others + (fs::exists(staging) ? 1 : 0);
        EXPECT_EQ(others, 0) << "killed at call " << k;
        EXPECT_FALSE(fs::exists(staging)) << "killed at call " << k;
    }
    std::printf("FIGURE crash-safety-completion font=%s calls=%d killed=%d new-after=%d left-after-next-start=%d "
                "damaged=%d\n", name.c_str(), calls, killed, newAfter, left, m_damaged);
    EXPECT_EQ(killed, calls);
#endif
}

TEST_F(CrashSafetyTest, ALargeFontKilledAcrossItsRevisionIsOldOrNew) {
    const int points = LargeFontPoints();
    Sweep("Sorame-Gothic-Full-W3", points * 3 / 4, points);
}
