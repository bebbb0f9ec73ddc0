// Every platform call that revising real fonts makes is failed once, in turn,
// with each kind of error a machine gives.  Whatever fails, every installed
// font afterwards holds its old bytes or the verified new bytes, nothing else
// is left in the temporary folder or beside the fonts, and the result says
// which of the two happened.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "discovery/foldercheck.h"
#include "engine/manager.h"
#include "tests/support/sim_fixture.h"

#if __has_include("tools/paproducer/paproducer.h")
#include "tools/paproducer/paproducer.h"
#define HAVE_PAPRODUCER 1
#endif

using testdata::Bytes;
using testdata::FilesIn;

namespace {

const char kFonts[] = "D:\\Fonts\\";
const char kTemp[] = "C:\\Windows\\Temp\\";
const char kHost[] = "C:\\Program Files\\Sorame\\Updater\\host\\";

struct Font {
    std::string name;  // file base name
    Bytes oldBytes, newBytes;
    int revision = 0;
    std::string Path() const { return std::string(kFonts) + name + ".otf"; }
};

// The errors a call can meet: refused, held by another program, no room, a
// name taken (which the driver answers with another name), gone.
const DWORD kErrors[] = {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_DISK_FULL, ERROR_FILE_EXISTS,
                         ERROR_FILE_NOT_FOUND};

class FaultInjectionTest : public testdata::SimMachineTest {
protected:
    void SetUp() override {
        testdata::SimMachineTest::SetUp();
        MapNewDrive('D');
        MakeFolder(kTemp);
        MakeFolder(kFonts);
        sim::SetTime(1700000000);
        sim::SeedRandom(7);
    }
    void TearDown() override {
        ReleaseFolderCheckCtrl();
        testdata::SimMachineTest::TearDown();
    }

    // Reads the real font pair, puts its difference file in the host folder
    // and learns the new bytes from one clean revision.
    bool AddFont(const std::string& name) {
#ifndef HAVE_PAPRODUCER
        (void)name;
        return false;
#else
        Font f;
        f.name = name;
        f.oldBytes = testdata::RealFont(name + ".otf");
        const Bytes release = testdata::RealFont(name + ".rev.otf");
        if (f.oldBytes.empty() || release.empty()) return false;
        std::string error;
        const Bytes diff = paproducer::MakeDifference(f.oldBytes, release, &error);
        EXPECT_FALSE(diff.empty()) << error;
        f.revision = static_cast<int>(testdata::GetU32(diff, 36));
        Put(std::string(kHost) + name + ".pa", diff);
        m_fonts.push_back(f);
        return true;
#endif
    }

    void RestoreOldFonts() {
        std::error_code ec;
        for (const char* folder : {kFonts, kTemp}) {
            for (const auto& e : std::filesystem::directory_iterator(sim::HostPath(folder), ec)) {
                std::filesystem::remove(e.path(), ec);
            }
        }
        for (const Font& f : m_fonts) Put(f.Path(), f.oldBytes);
    }

    // The update run: one manager per font, in order, stopping at the first
    // failure.  Returns the results, one per font tried.
    std::vector<int> Run() {
        std::vector<int> results;
        for (size_t i = 0; i < m_fonts.size(); ++i) {
            COpenTypeManager m;
            results.push_back(m.ReviseFont(m_fonts[i].Path().c_str(), m_fonts[i].revision, nullptr, nullptr,
                                           static_cast<int>(m_fonts.size()), static_cast<int>(i)));
            if (results.back() != kReviseOk) break;
        }
        return results;
    }


    // Learns each font's new bytes from a clean run, and how many platform
    // calls the run makes after the search controller is in place.
    uint64_t CleanRun() {
        RestoreOldFonts();
        ReleaseFolderCheckCtrl();
        GetFolderCheckCtrl();
        const uint64_t before = sim::TotalCalls();
        const std::vector<int> results = Run();
        const uint64_t calls = sim::TotalCalls() - before;
        EXPECT_EQ(results, std::vector<int>(m_fonts.size(), kReviseOk));
        for (Font& f : m_fonts) {
            f.newBytes = Get(f.Path());
            EXPECT_NE(f.newBytes, f.oldBytes) << f.name;
        }
        m_cleanLog.assign(sim::CallLog().end() - static_cast<long>(calls), sim::CallLog().end());
        return calls;
    }

    // Fails the kth call of the run with error and checks what is left.
    void FailOneCall(uint64_t k, DWORD error) {
        RestoreOldFonts();
        sim::FailAnyCall(static_cast<unsigned>(k), error);
        const std::vector<int> results = Run();
        sim::ClearFailures();
        ++m_cases;

        const std::string api = k <= m_cleanLog.size() ? m_cleanLog[k - 1] : "?";
        SCOPED_TRACE("call " + std::to_string(k) + " (" + api + ") failed with error " + std::to_string(error));
        bool damaged = false;
        for (size_t i = 0; i < m_fonts.size(); ++i) {
            const Font& f = m_fonts[i];
            const Bytes now = Get(f.Path());
            const bool isOld = now == f.oldBytes, isNew = now == f.newBytes;
            if (!isOld && !isNew) damaged = true;
            EXPECT_TRUE(isOld || isNew) << f.name << " holds neither its old nor its new bytes";
            const bool tried = i < results.size();
            if (tried && results[i] == kReviseOk) {
                EXPECT_TRUE(isNew) << f.name << " reported revised";
            } else if (tried) {
                // One fault, met by a failed revision: the font must be as it was.
                EXPECT_TRUE(isOld) << f.name << " changed though result " << results[i];
            } else {
                EXPECT_TRUE(isOld) << f.name << " changed though never tried";
            }
        }
        if (damaged) ++m_damaged;

        std::vector<std::string> expected;
        for (const Font& f : m_fonts) expected.push_back(f.name + ".otf");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(FilesIn(kFonts), expected) << "something left beside the fonts";
        EXPECT_EQ(FilesIn(kTemp), std::vector<std::string>{}) << "temporary file left";
        EXPECT_EQ(sim::OpenHandleCount(), 0);

        // A refused copy or move is a failed replacement; a failed temporary
        // folder is a failed temporary file.
        const int last = results.back();
        if (error != ERROR_FILE_EXISTS && (api == "CopyFileA" || api == "MoveFileExA")) {
            EXPECT_EQ(last, kReviseCopyFailed);
        }
        if (api == "GetTempPathA") {
            EXPECT_EQ(last, kReviseTempFailed);
        }
        ++m_byResult[last];
    }

    void Sweep(const char* what) {
        const uint64_t calls = CleanRun();
        ASSERT_GT(calls, 10u);
        for (DWORD error : kErrors) {
            for (uint64_t k = 1; k <= calls; ++k) FailOneCall(k, error);
        }
        std::string byResult;
        for (const auto& r : m_byResult) byResult += " " + std::to_string(r.first) + ":" + std::to_string(r.second);
        std::printf("FIGURE fault-injection %s calls=%llu cases=%d damaged=%d results%s\n", what,
                    static_cast<unsigned long long>(calls), m_cases, m_damaged, byResult.c_str());
        RecordProperty("cases", m_cases);
        RecordProperty("damaged", m_damaged);
    }

    std::vector<Font> m_fonts;
    std::vector<const char*> m_cleanLog;
    int m_cases = 0;
    int m_damaged = 0;
    std::map<int, int> m_byResult;
};

}  // namespace

TEST_F(FaultInjectionTest, EveryFailedCallOfOneFontsRevisionLeavesItOldOrNew) {
    if (!AddFont("Sorame-Gothic-Pro-W3")) {
        if (std::getenv("REQUIRE_REAL_FONTS")) FAIL() << "missing real fonts";
        GTEST_SKIP() << "real fonts not generated";
    }
    Sweep("one-font");
}

TEST_F(FaultInjectionTest, EveryFailedCallOfARunOfFontsLeavesEachOldOrNew) {
    if (!AddFont("Sorame-Gothic-Pro-W3") || !AddFont("Sorame-Mincho-Std-W5")) {
        if (std::getenv("REQUIRE_REAL_FONTS")) FAIL() << "missing real fonts";
        GTEST_SKIP() << "real fonts not generated";
    }
    Sweep("two-fonts");
}
