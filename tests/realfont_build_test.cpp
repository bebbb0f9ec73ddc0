// Revising fonts made from a real Japanese CFF font with difference files
// made by the producer, and checking the result with independent tools.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/manager.h"
#include "tests/support/revision.h"
#include "tools/paproducer/paproducer.h"

using testdata::Bytes;

namespace {


const char* const kOtsSanitize = "/usr/bin/ots-sanitize";
const char* const kPython = "/usr/bin/python3";

std::string SourceDir() {
    std::string file = __FILE__;
    return file.substr(0, file.find_last_of('/'));
}

bool Executable(const char* path) { return std::system((std::string("test -x ") + path).c_str()) == 0; }

// Exit status of the command, with its output appended to *log.
int RunTool(const std::string& command, std::string* log) {
    const std::string logFile = "/tmp/realfont-build-tool.log." + std::to_string(::getpid());
    const int status = std::system((command + " >" + logFile + " 2>&1").c_str());
    FILE* f = std::fopen(logFile.c_str(), "rb");
    if (f) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) log->append(buffer, n);
        std::fclose(f);
    }
    std::remove(logFile.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

size_t FirstDifference(const Bytes& a, const Bytes& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return i;
    }
    return n;
}

class RealFontBuildTest : public testdata::RevisionTest {
protected:
    // Makes the difference file from the pair, revises the installed font
    // with it and compares the result with the revised release; then lets
    // ots-sanitize and fontTools judge the file written.
    void ReviseAndCheck(const Bytes& installed, const Bytes& revised, const std::string& fullName) {
        std::string error;
        paproducer::DifferenceStats stats;
        const auto started = std::chrono::steady_clock::now();
        const Bytes diff = paproducer::MakeDifference(installed, revised, &error, &stats);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        ASSERT_FALSE(diff.empty()) << error;
        std::printf("difference of %zu bytes in %.2f s: %zu changed tables, %llu bytes copied, %llu literal\n",
                    diff.size(), seconds, stats.changedTables, static_cast<unsigned long long>(stats.copiedBytes),
                    static_cast<unsigned long long>(stats.literalBytes));
        // Only a handful of glyphs and metrics changed.
        EXPECT_LT(diff.size(), revised.size() / 20);

        // The folder scan and identification accept it for the installed font.
        Put(kDiffPath, diff);
        Put(kFontPath, installed);
        CMakeSabunData probe;
        char fontName[33] = {};
        int fromRevision = 0;
        ASSERT_EQ(probe.ReadHeader(kDiffPath, fontName, &fromRevision), 1);
        EXPECT_STREQ(fontName, fullName.c_str());
        DiffFileRecord entry = {};
        std::strcpy(entry.fontName, fontName);
        entry.fromRevision = fromRevision;
        COpenTypeManager identify;
        int revision = 0;
        EXPECT_EQ(identify.IsTargetFont(kFontPath, &entry, &revision), 1);

        COpenTypeManager m;
        testdata::ProgressRecorder rec;
        ASSERT_EQ(Revise(m, installed, diff, &rec), 0);
        EXPECT_EQ(rec.Steps(), (std::vector<int>{40, 55, 65, 75, 90}));
        const Bytes out = Output();
        Bytes mac, win;
        testdata::SerialsOf(installed, &mac, &win);
        ASSERT_NE(mac[0], 0);
        const Bytes expected = testdata::ExpectedRevision(revised, mac, win);
        EXPECT_EQ(out.size(), expected.size());
        EXPECT_TRUE(out == expected) << "first difference at byte " << FirstDifference(out, expected);
        EXPECT_TRUE(testdata::ChecksumsAreRight(out));
        EXPECT_EQ(m.OutputSum(), 0xB1B0AFBAu);
        EXPECT_EQ(m.VerifyRevisedFile(kTempPath, m.OutputSum()), 0);

        const std::string host = sim::HostPath(kTempPath);
        for (const char* tool : {kOtsSanitize, kPython}) {
            if (!Executable(tool)) {
                if (std::getenv("REQUIRE_REAL_FONTS")) FAIL() << "missing " << tool;
                GTEST_SKIP() << tool << " is not installed";
            }
        }
        std::string log;
        EXPECT_EQ(RunTool(std::string(kOtsSanitize) + " '" + host + "'", &log), 0) << log;
        log.clear();
        EXPECT_EQ(RunTool(std::string(kPython) + " '" + SourceDir() + "/fonts/check_checksums.py' '" + host + "'", &log), 0)
            << log;
    }
};

}  // namespace

TEST_F(RealFontBuildTest, TheSmallGothicRevisionIsRebuiltExactly) {
    REQUIRE_FONT(installed, "Sorame-Gothic-Pro-W3.otf");
    REQUIRE_FONT(revised, "Sorame-Gothic-Pro-W3.rev.otf");
    ReviseAndCheck(installed, revised, "Sorame Gothic Pro W3");
}

TEST_F(RealFontBuildTest, TheMinchoLayoutRevisionIsRebuiltExactly) {
    REQUIRE_FONT(installed, "Sorame-Mincho-Std-W5.otf");
    REQUIRE_FONT(revised, "Sorame-Mincho-Std-W5.rev.otf");
    ReviseAndCheck(installed, revised, "Sorame Mincho Std W5");
}

TEST_F(RealFontBuildTest, TheFullSizeGothicRevisionIsRebuiltExactly) {
    REQUIRE_FONT(installed, "Sorame-Gothic-Full-W3.otf");
    REQUIRE_FONT(revised, "Sorame-Gothic-Full-W3.rev.otf");
    ASSERT_GT(installed.size(), 10u * 1000 * 1000);
    ReviseAndCheck(installed, revised, "Sorame Gothic Full W3");
}
