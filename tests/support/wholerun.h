// The whole program on the simulated machine: three target fonts (two real
// ones with producer-made difference files, one made here), the machine they
// are installed on and a fixture that starts the program with a scripted user.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/updaterapp.h"
#include "app/updaterdlg.h"
#include "discovery/foldercheck.h"
#include "res/resource.h"
#include "tests/support/revision.h"
#include "tests/support/sim_fixture.h"
#include "tools/paproducer/paproducer.h"

namespace wholerun {

using sim::UiEvent;
using testdata::Bytes;
using testdata::GetU16;
using testdata::GetU32;

const uint32_t kRev1 = 0x00010000;
const char kExe[] = "C:\\Program Files\\Sorame\\Updater\\upd.exe";
const char kHost[] = "C:\\Program Files\\Sorame\\Updater\\host\\";
const char kGothic[] = "C:\\Windows\\Fonts\\Sorame-Gothic-Pro-W3.otf";
const char kMaru[] = "C:\\Windows\\Fonts\\Sorame-Maru-Std-W8.otf";
const char kMincho[] = "C:\\Windows\\Fonts\\Sorame-Mincho-Std-W5.otf";
const char kCache[] = "C:\\Windows\\System32\\fntcache.dat";
const char kDownloadCopy[] = "D:\\Sorame\\Korvane\\Fonts\\Download\\add\\30075";

// The middle font of the runs is made here, so that each test can break it
// in its own way; the other two are real fonts with producer-made files.
inline Bytes MaruFont(bool withName = true) {
    Bytes cff = testdata::BytesOf("CFF-DATA-OF-THE-MARU-TEST-FONT-");
    for (int i = 0; i < 300; ++i) cff.push_back(static_cast<uint8_t>(i * 13));
    testdata::FontBuilder b;
    b.Table("CFF ", cff).Table("OS/2", Bytes(96, 0x22)).Table("cmap", Bytes(40, 0x33));
    b.Table("head", testdata::HeadTable(kRev1)).Table("hhea", Bytes(36, 0x44)).Table("hmtx", Bytes(64, 0x55));
    b.Table("maxp", Bytes(6, 0x66));
    if (withName) b.Table("name", testdata::StandardNameTable("Sorame Maru Std W8", "MAC-SERIAL-0042", "WIN-SERIAL-0042"));
    return b.Table("post", Bytes(32, 0x77)).Build();
}

// Keeps every table of the Maru font in place but carries a new post table;
// `retag` gives some records another tag in the revised font.
inline Bytes MaruDiff(const std::map<std::string, std::string>& retag = {}, bool withName = true) {
    const Bytes font = MaruFont(withName);
    std::vector<testdata::DiffRecord> records = testdata::KeepEverything(font);
    for (testdata::DiffRecord& rec : records) {
        if (rec.tag == "post") {
            rec.unchanged = false;
            rec.literals.push_back(testdata::LiteralBlock{0, Bytes(32, 0x99)});
        }
        const auto it = retag.find(rec.tag);
        if (it != retag.end()) rec.tag = it->second;
    }
    testdata::DiffBuilder d;
    d.FontName("Sorame Maru Std W8").FromRevision(kRev1).NewFileLength(static_cast<uint32_t>(font.size()));
    for (const testdata::DiffRecord& rec : records) d.Record(rec);
    return d.Build();
}

struct RealPair {
    Bytes installed, release, diff;
};

// Producing a difference file takes a moment: once per test program.
inline const RealPair& Real(const std::string& base) {
    static std::map<std::string, RealPair> made;
    auto it = made.find(base);
    if (it == made.end()) {
        RealPair pair;
        pair.installed = testdata::RealFont(base + ".otf");
        pair.release = testdata::RealFont(base + ".rev.otf");
        std::string error;
        if (!pair.installed.empty() && !pair.release.empty()) {
            pair.diff = paproducer::MakeDifference(pair.installed, pair.release, &error);
        }
        it = made.emplace(base, pair).first;
    }
    return it->second;
}

inline std::string Message(UINT id, const std::string& arg = std::string()) {
    CString text;
    FormatMessageId(text, id, arg.c_str());
    return std::string(text);
}

class WholeRunTest : public testdata::SimMachineTest {
protected:
    void SetUp() override {
        testdata::SimMachineTest::SetUp();
        PrepareMachine();
    }
    // The machine every run starts from, on top of the fresh drive C:; also
    // for a test that resets the simulated machine between runs.
    void PrepareMachine() {
        MapNewDrive('D');
        g_folderCount = 0;
        sim::SetTime(1700000000);
        MakeFolder("C:\\Windows\\Temp");
        sim::SetTempPath("C:\\Windows\\Temp\\");
        Put(kCache, testdata::BytesOf("cache"));
        Put(kDownloadCopy, testdata::BytesOf("downloaded font"));
        // At a restart, Windows starts the commands of RunOnce: the
        // program file named first, with its arguments.
        sim::SetProgramStarter([this](const std::string& command) {
            const size_t end = command.size() > 1 && command[0] == '"' ? command.find('"', 1) : std::string::npos;
            if (end == std::string::npos) return -1;
            sim::SetCommandLine(command);
            const int code = RunProgram(command.substr(1, end - 1).c_str());
            sim::SetCommandLine("");
            return code;
        });
    }
    void TearDown() override {
        sim::EndProgramRun();
        EXPECT_EQ(sim::OpenWindowCount(), 0) << "a window was left open\n" << sim::TranscriptText();
        EXPECT_EQ(sim::PendingUserActions(), 0) << "the script was not used up\n" << sim::TranscriptText();
        EXPECT_EQ(sim::OpenObjectCount(), 0);
        testdata::SimMachineTest::TearDown();
    }

    // The three targets, in the order the search meets them, with their
    // difference files; false (the test then ends) without the real fonts.
    bool InstallTargets(const Bytes& maruDiff = MaruDiff()) {
        const RealPair& gothic = Real("Sorame-Gothic-Pro-W3");
        const RealPair& mincho = Real("Sorame-Mincho-Std-W5");
        if (gothic.diff.empty() || mincho.diff.empty()) {
            if (std::getenv("REQUIRE_REAL_FONTS")) ADD_FAILURE() << "missing real fonts or their difference files";
            return false;
        }
        Put(kGothic, gothic.installed);
        Put(kMaru, MaruFont());
        Put(kMincho, mincho.installed);
        Put(std::string(kHost) + "Sorame-Gothic-Pro-W3.pa", gothic.diff);
        Put(std::string(kHost) + "Sorame-Maru-Std-W8.pa", maruDiff);
        Put(std::string(kHost) + "Sorame-Mincho-Std-W5.pa", mincho.diff);
        return true;
    }

    // One start of the program file; the copy's mutex stays until
    // sim::EndProgramRun, as a process's would.
    int RunProgram(const char* exe = kExe) {
        sim::SetModulePath(exe);
        m_mark = sim::Transcript().size();
        COpenTypeUpdaterApp app;
        const int code = RunApplication();
        EXPECT_EQ(app.m_pMainWnd, nullptr);
        return code;
    }

    // The dialogs the last run created, in order.
    static std::vector<int> DialogsSince(size_t mark) {
        std::vector<int> ids;
        const auto& t = sim::Transcript();
        for (size_t i = mark; i < t.size(); ++i) {
            if (t[i].kind == UiEvent::kCreated) ids.push_back(t[i].dialog);
        }
        return ids;
    }
    std::vector<int> Dialogs() const { return DialogsSince(m_mark); }

    // The text of the one notice or end dialog shown.
    static std::string Shown(int dialog, int control) {
        const auto texts = sim::TextsShown(dialog, control);
        return texts.empty() ? std::string("(nothing)") : texts.back();
    }

    static void AcceptStart() { sim::Answer(IDD_START_DIALOG, sim::Click(IDOK)); }
    static void AbortListing() {
        sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDCANCEL));
        sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDOK));
    }

    std::vector<std::string> Rows() const {
        std::vector<std::string> rows;
        for (const UiEvent& e : sim::EventsOf(UiEvent::kRow, IDD_UPDATER_DIALOG)) rows.push_back(e.text);
        return rows;
    }

    bool Untouched(const char* path, const Bytes& installed) { return Get(path) == installed; }
    bool Revised(const char* path, const Bytes& installed) {
        const Bytes now = Get(path);
        return now != installed && now.size() % 4 == 0 && testdata::WordSum(now) == 0xB1B0AFBAu;
    }
    void ExpectAllUntouched() {
        EXPECT_TRUE(Untouched(kGothic, Real("Sorame-Gothic-Pro-W3").installed));
        EXPECT_TRUE(Untouched(kMaru, MaruFont()));
        EXPECT_TRUE(Untouched(kMincho, Real("Sorame-Mincho-Std-W5").installed));
        EXPECT_TRUE(Exists(kCache));
        EXPECT_TRUE(Exists(kDownloadCopy));
        EXPECT_TRUE(sim::RestartRequests().empty());
    }

    size_t m_mark = 0;
};

}  // namespace wholerun

#define INSTALL_TARGETS(...)                                                              \
    if (!InstallTargets(__VA_ARGS__)) {                                                   \
        if (!std::getenv("REQUIRE_REAL_FONTS")) GTEST_SKIP() << "real fonts not generated"; \
        return;                                                                           \
    }
