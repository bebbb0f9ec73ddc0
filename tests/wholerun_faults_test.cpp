// The whole program run on the simulated machine, with every platform call it
// makes failed once, in turn: the search phase's listings and opens, the
// update run's temporary file, copy, move and read-back, the dialogs, the
// cache removal.  Whatever fails, each installed font afterwards holds its
// old bytes or exactly the new bytes a clean run gives it, nothing is left in
// the temporary folder or beside the fonts, and the one end dialog shown
// carries the message its outcome calls for, naming the font it stopped at.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/framework/path.h"
#include "tests/support/wholerun.h"

using namespace wholerun;

using testdata::FilesIn;

namespace {

const char kFontsFolder[] = "C:\\Windows\\Fonts\\";
const char kTempFolder[] = "C:\\Windows\\Temp\\";

struct Target {
    const char* path;
    std::string diffName;  // as the messages name it: no folder
    Bytes oldBytes, newBytes;
};

// A message the end dialog may carry: its ID and the font it names (-1: none).
struct KnownMessage {
    UINT id;
    int font;
    std::string text;
};

// The notices that end the program before the listing.
const UINT kEarlyNotices[] = {IDS_SETUP_ERROR, IDS_OS_UNSUPPORTED, IDS_NOT_ADMIN, IDS_NO_SOURCE_FONT,
                              IDS_NO_TARGET_FOUND};

class WholeRunFaultsTest : public WholeRunTest {
protected:
    void TearDown() override {
        // The last case's unused answers (the end dialogs not shown) go with
        // a fresh machine.
        FreshMachine();
        WholeRunTest::TearDown();
    }

    static void ClearFolder(const std::string& windowsFolder) {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(sim::HostPath(windowsFolder.c_str()), ec)) {
            std::filesystem::remove_all(e.path(), ec);
        }
    }

    // The machine as a new program start finds it: the same drives, no call
    // counted yet, no window, no script, the fonts as installed.
    bool FreshMachine() {
        sim::EndProgramRun();
        sim::Reset();
        MapNewDrive('C');
        ClearFolder(kTempFolder);
        ClearFolder(kFontsFolder);
        PrepareMachine();
        sim::SeedRandom(7);
        return InstallTargets();
    }

    // Every end the program can come to is answered: "はい", "キャンセル"
    // (no restart) or the single button of a notice.
    static void ScriptUser() {
        AcceptStart();
        sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDOK));
        sim::Answer(IDD_END_DIALOG, sim::Click(IDOK));
        sim::Answer(IDD_NORMAL_END_DIALOG, sim::Click(IDCANCEL));
        sim::Answer(IDD_OK_DIALOG, sim::Click(IDOK));
    }


    // One clean run: the new bytes of every font, the calls made and where
    // the update run begins among them.
    bool CleanRun() {
        if (!FreshMachine()) return false;
        m_targets = {{kGothic, "Sorame-Gothic-Pro-W3.pa", Real("Sorame-Gothic-Pro-W3").installed, {}},
                     {kMaru, "Sorame-Maru-Std-W8.pa", MaruFont(), {}},
                     {kMincho, "Sorame-Mincho-Std-W5.pa", Real("Sorame-Mincho-Std-W5").installed, {}}};
        ScriptUser();
        std::vector<size_t> transcriptAtCall;
        sim::OnCall([&](const char*, uint64_t) { transcriptAtCall.push_back(sim::Transcript().size()); });
        RunProgram();
        sim::OnCall(nullptr);
        m_cleanLog.assign(sim::CallLog().begin(), sim::CallLog().end());

        EXPECT_EQ(Rows(), (std::vector<std::string>{kGothic, kMaru, kMincho}));
        EXPECT_EQ(Shown(IDD_NORMAL_END_DIALOG, IDC_END_MESSAGE), Message(IDS_END_NORMAL));
        for (Target& t : m_targets) {
            t.newBytes = Get(t.path);
            EXPECT_TRUE(Revised(t.path, t.oldBytes)) << t.path;
        }
        // The update run starts with the first call after "実行" was pressed.
        const auto& transcript = sim::Transcript();
        size_t pressed = transcript.size();
        for (size_t i = 0; i < transcript.size(); ++i) {
            if (transcript[i].kind == UiEvent::kPressed && transcript[i].dialog == IDD_UPDATER_DIALOG &&
                transcript[i].control == IDOK) {
                pressed = i;
                break;
            }
        }
        m_runStart = 0;
        for (size_t c = 0; c < transcriptAtCall.size() && !m_runStart; ++c) {
            if (transcriptAtCall[c] > pressed) m_runStart = c + 1;
        }
        EXPECT_GT(m_runStart, 0u) << "no call after 実行";
        // The outcome message is loaded just before the cache removal.
        for (size_t c = m_cleanLog.size(); c > 0 && !m_cleanupStart; --c) {
            if (m_cleanLog[c - 1] == "LoadStringA") m_cleanupStart = c;
        }

        m_messages.clear();
        m_messages.push_back({IDS_END_NORMAL, -1, Message(IDS_END_NORMAL)});
        m_messages.push_back({IDS_END_STOPPED, -1, Message(IDS_END_STOPPED)});
        for (int f = 0; f < static_cast<int>(m_targets.size()); ++f) {
            const Target& t = m_targets[static_cast<size_t>(f)];
            for (UINT id : {IDS_FONT_READ_FAILED, IDS_READ_BACK_FAILED, IDS_CHECKSUM_FAILED}) {
                m_messages.push_back({id, f, Message(id, t.path)});
            }
            for (UINT id : {IDS_TEMP_CREATE_FAILED, IDS_COPY_FAILED, IDS_DIFF_READ_FAILED, IDS_UPDATE_FAILED}) {
                m_messages.push_back({id, f, Message(id, t.diffName)});
            }
        }
        for (UINT id : kEarlyNotices) m_messages.push_back({id, -1, Message(id)});
        return !HasFailure();
    }

    const KnownMessage* Known(const std::string& text) const {
        for (const KnownMessage& m : m_messages) {
            if (m.text == text) return &m;
        }
        return nullptr;
    }

    // Fails the kth call of a whole run with error and checks what is left.
    void FailOneCall(uint64_t k, DWORD error) {
        const int partsBefore = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
        FreshMachine();
        ScriptUser();
        sim::FailAnyCall(static_cast<unsigned>(k), error);
        RunProgram();
        const int handlesLeft = sim::OpenHandleCount();
        sim::ClearFailures();
        ++m_cases;

        const std::string api = k <= m_cleanLog.size() ? m_cleanLog[k - 1] : "?";
        const bool inRun = k >= m_runStart;
        SCOPED_TRACE("call " + std::to_string(k) + " (" + api + (inRun ? ", update run" : ", search phase") +
                     ") failed with error " + std::to_string(error));
        EXPECT_EQ(handlesLeft, 0) << "a file or listing left open at the program's end";
        EXPECT_EQ(sim::OpenWindowCount(), 0);
        EXPECT_TRUE(sim::RestartRequests().empty());

        // Which fonts were listed, and how each font was left.
        const std::vector<std::string> rows = Rows();
        std::vector<int> listed;  // target index of each row
        for (const std::string& row : rows) {
            int found = -1;
            for (size_t i = 0; i < m_targets.size(); ++i) {
                if (row == m_targets[i].path) found = static_cast<int>(i);
            }
            EXPECT_GE(found, 0) << "listed " << row;
            listed.push_back(found);
        }
        if (inRun) {
            EXPECT_EQ(rows.size(), m_targets.size()) << "the search ran clean, every font is listed";
        }
        std::vector<bool> isNew(m_targets.size(), false);
        bool damaged = false;
        for (size_t i = 0; i < m_targets.size(); ++i) {
            const Bytes now = Get(m_targets[i].path);
            isNew[i] = now == m_targets[i].newBytes;
            if (!isNew[i] && now != m_targets[i].oldBytes) {
                damaged = true;
                ADD_FAILURE() << m_targets[i].path << " holds neither its old nor its new bytes";
            }
            if (std::find(listed.begin(), listed.end(), static_cast<int>(i)) == listed.end()) {
                EXPECT_FALSE(isNew[i]) << m_targets[i].path << " changed though not listed";
            }
        }
        if (damaged) ++m_damaged;

        std::vector<std::string> fonts;
        for (const Target& t : m_targets) fonts.push_back(std::string(PathFileName(t.path)));
        std::sort(fonts.begin(), fonts.end());
        EXPECT_EQ(FilesIn(kFontsFolder), fonts) << "something left beside the fonts";
        EXPECT_EQ(FilesIn(kTempFolder), std::vector<std::string>{}) << "temporary file left";

        // The one end dialog and its message.
        const bool normalEnd = !sim::EventsOf(UiEvent::kCreated, IDD_NORMAL_END_DIALOG).empty();
        const bool failedEnd = !sim::EventsOf(UiEvent::kCreated, IDD_END_DIALOG).empty();
        const bool notice = !sim::EventsOf(UiEvent::kCreated, IDD_OK_DIALOG).empty();
        const bool ran = !sim::EventsOf(UiEvent::kPressed, IDD_UPDATER_DIALOG).empty();
        EXPECT_LE(normalEnd + failedEnd + notice, 1) << sim::TranscriptText();
        std::string text = "(none)";
        if (normalEnd) text = Shown(IDD_NORMAL_END_DIALOG, IDC_END_MESSAGE);
        if (failedEnd) text = Shown(IDD_END_DIALOG, IDC_END_MESSAGE);
        if (notice) text = Shown(IDD_OK_DIALOG, IDC_MESSAGE_TEXT);
        const KnownMessage* message = Known(text);
        std::string outcome = message ? std::to_string(message->id) : text == "(none)" ? "none" : "unknown";

        // The fonts revised are those listed before the one the run stopped
        // at; that one and those after it are as they were.
        size_t revisedCount = 0;
        while (revisedCount < listed.size() && isNew[static_cast<size_t>(listed[revisedCount])]) ++revisedCount;
        for (size_t r = revisedCount; r < listed.size(); ++r) {
            EXPECT_FALSE(isNew[static_cast<size_t>(listed[r])]) << rows[r] << " revised after an unrevised font";
        }

        if (!message) {
            // A dialog that cannot be made shows nothing, and a text that
            // cannot be loaded shows empty: neither says anything of the run.
            if (text == "(none)") {
                EXPECT_TRUE(api == "FindResourceA" || api == "CreateDialogIndirectParamA" || api == "CreateMutexA")
                    << "no end dialog shown\n" << sim::TranscriptText();
            } else {
                EXPECT_EQ(text, "") << "a message of no known outcome";
                EXPECT_EQ(api, "LoadStringA");
            }
        } else if (normalEnd) {
            EXPECT_EQ(message->id, static_cast<UINT>(IDS_END_NORMAL));
            EXPECT_EQ(revisedCount, listed.size()) << "success reported with a font not revised";
        } else if (failedEnd) {
            EXPECT_TRUE(ran);
            EXPECT_NE(message->id, static_cast<UINT>(IDS_END_NORMAL)) << "success in the failure dialog";
            EXPECT_NE(message->id, static_cast<UINT>(IDS_END_STOPPED)) << "the user never stopped the run";
            EXPECT_LT(revisedCount, listed.size()) << "a failure reported with every font revised";
            if (message->font >= 0) {
                const auto at = std::find(listed.begin(), listed.end(), message->font);
                EXPECT_EQ(static_cast<size_t>(at - listed.begin()), revisedCount)
                    << "the message names " << m_targets[static_cast<size_t>(message->font)].path
                    << ", not the font the run stopped at";
            }
            if (api == "CopyFileA" || api == "MoveFileExA") {
                EXPECT_EQ(message->id, static_cast<UINT>(IDS_COPY_FAILED));
            }
            if (api == "GetTempPathA") {
                EXPECT_EQ(message->id, static_cast<UINT>(IDS_TEMP_CREATE_FAILED));
            }
        } else {
            EXPECT_FALSE(ran);
            EXPECT_FALSE(inRun);
            EXPECT_TRUE(std::find(std::begin(kEarlyNotices), std::end(kEarlyNotices), message->id) !=
                        std::end(kEarlyNotices));
        }
        if (ran) {
            EXPECT_EQ(sim::EventsOf(UiEvent::kBroadcast).size(), 1u) << "the font-change news after every run";
        } else {
            EXPECT_EQ(revisedCount, 0u);
        }
        // The cache and the download copies go after full success only, and
        // then unless the removal itself met the failure.
        const bool allRevised = !listed.empty() && revisedCount == listed.size() && ran;
        if (!allRevised) {
            EXPECT_TRUE(Exists(kCache));
            EXPECT_TRUE(Exists(kDownloadCopy));
        } else if (k < m_cleanupStart) {
            EXPECT_FALSE(Exists(kCache));
            // The copy is known only to a search that met no failure.
            if (inRun) {
                EXPECT_FALSE(Exists(kDownloadCopy));
            }
        }
        ++m_byOutcome[outcome];
        if (::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count() > partsBefore) {
            ++m_failedCases;
        }
    }

    void Report(const char* what, uint64_t calls, const std::string& errors) {
        std::string byOutcome;
        for (const auto& o : m_byOutcome) byOutcome += " " + o.first + ":" + std::to_string(o.second);
        std::printf("FIGURE wholerun-faults %s calls=%llu run-from=%llu errors=%s cases=%d failed=%d damaged=%d "
                    "messages%s\n",
                    what, static_cast<unsigned long long>(calls), static_cast<unsigned long long>(m_runStart),
                    errors.c_str(), m_cases, m_failedCases, m_damaged, byOutcome.c_str());
        RecordProperty("cases", m_cases);
        RecordProperty("damaged", m_damaged);
    }

    std::vector<Target> m_targets;
    std::vector<std::string> m_cleanLog;
    uint64_t m_runStart = 0;      // the first call of the update run, counted from 1
    uint64_t m_cleanupStart = 0;  // the first call of the removals after success
    std::vector<KnownMessage> m_messages;
    int m_cases = 0;
    int m_damaged = 0;
    int m_failedCases = 0;  // cases with any check failed
    std::map<std::string, int> m_byOutcome;
};

}  // namespace

TEST_F(WholeRunFaultsTest, EveryCallOfAWholeRunFailedOnceLeavesEachFontOldOrNewAndSaysWhich) {
    INSTALL_TARGETS();
    ASSERT_TRUE(CleanRun());
    const uint64_t calls = m_cleanLog.size();
    ASSERT_GT(calls, m_runStart);
    for (uint64_t k = 1; k <= calls; ++k) FailOneCall(k, ERROR_ACCESS_DENIED);
    Report("all-calls", calls, "5");
    // The sweep reached each way a run can end for want of one call.
    for (const char* outcome : {"105", "107", "111", "112", "113", "114", "119", "120", "123"}) {
        EXPECT_GT(m_byOutcome[outcome], 0) << "no case ended with message " << outcome;
    }
}

// The kind of error matters to the calls on files only (a name already
// taken, for one, is met by another name): those of the update run are
// failed again with the other kinds a full disk or another program gives.
TEST_F(WholeRunFaultsTest, EveryFileCallOfTheUpdateRunFailedWithOtherErrorsLeavesEachFontOldOrNew) {
    INSTALL_TARGETS();
    ASSERT_TRUE(CleanRun());
    const std::vector<std::string> fileCalls = {"CreateFileA", "ReadFile",    "WriteFile",        "GetFileSize",
                                                "CloseHandle", "CopyFileA",   "MoveFileExA",      "DeleteFileA",
                                                "FlushFileBuffers", "GetTempPathA", "PathFileExistsA"};
    const uint64_t calls = m_cleanLog.size();
    for (DWORD error : {ERROR_SHARING_VIOLATION, ERROR_DISK_FULL}) {
        for (uint64_t k = m_runStart; k <= calls; ++k) {
            const std::string& api = m_cleanLog[k - 1];
            if (std::find(fileCalls.begin(), fileCalls.end(), api) != fileCalls.end()) FailOneCall(k, error);
        }
    }
    Report("update-run-file-calls", calls, "32,112");
}

// The same sweep over a /quiet run, as a deployment system starts it: no
// window whatever fails, no font left damaged, and the exit code never says
// success while a font the search listed is not revised.
TEST_F(WholeRunFaultsTest, EveryCallOfAQuietRunFailedOnceShowsNothingAndNeverClaimsSuccessWrongly) {
    INSTALL_TARGETS();
    const std::string quiet = std::string("\"") + kExe + "\" /quiet";
    ASSERT_TRUE(FreshMachine());
    sim::SetCommandLine(quiet);
    ASSERT_EQ(RunProgram(), 3010);
    const uint64_t calls = sim::CallLog().size();
    std::vector<Bytes> oldBytes = {Real("Sorame-Gothic-Pro-W3").installed, MaruFont(),
                                   Real("Sorame-Mincho-Std-W5").installed};
    std::vector<Bytes> newBytes;
    for (const char* path : {kGothic, kMaru, kMincho}) newBytes.push_back(Get(path));

    std::map<int, int> byCode;
    int damaged = 0, unseen = 0, successUnrevised = 0;
    for (uint64_t k = 1; k <= calls; ++k) {
        FreshMachine();
        sim::SetCommandLine(quiet);
        sim::FailAnyCall(static_cast<unsigned>(k), ERROR_ACCESS_DENIED);
        const int code = RunProgram();
        sim::ClearFailures();
        const std::string api = k <= sim::CallLog().size() ? sim::CallLog()[k - 1] : "?";
        SCOPED_TRACE("call " + std::to_string(k) + " (" + api + ") failed, exit " + std::to_string(code));
        ++byCode[code];
        EXPECT_EQ(sim::WindowsCreated(), 0);
        EXPECT_TRUE(sim::RestartRequests().empty());
        EXPECT_EQ(sim::OpenHandleCount(), 0);

        // Which fonts the run got to: those its log lists as found.
        const Bytes log = Get("C:\\Windows\\Temp\\upd.log");
        const std::string text(log.begin(), log.end());
        int revised = 0, listedNotRevised = 0;
        const char* paths[] = {kGothic, kMaru, kMincho};
        for (size_t i = 0; i < 3; ++i) {
            const Bytes now = Get(paths[i]);
            const bool isNew = now == newBytes[i];
            if (!isNew && now != oldBytes[i]) {
                ++damaged;
                ADD_FAILURE() << paths[i] << " holds neither its old nor its new bytes";
            }
            revised += isNew;
            const bool listed = text.find(std::string("found ") + paths[i]) != std::string::npos;
            if (listed && !isNew) ++listedNotRevised;
            if (!listed && !isNew) ++unseen;
        }
        const bool success = code == 0 || code == 3010 || code == 1641;
        // A font the search could not see is as unrevised as one it listed.
        if (revised < 3 && success) {
            ++successUnrevised;
            ADD_FAILURE() << "success claimed with " << (3 - revised) << " font(s) not revised, "
                          << listedNotRevised << " of them listed";
        }
        if (revised > 0) {
            EXPECT_NE(code, 0) << "fonts revised, yet nothing to do";
        }
        if (code == 3010) {
            EXPECT_GT(revised, 0);
        }
        // The log, or the fresh one a log that failed to open gives way to.
        for (const std::string& left : FilesIn(kTempFolder)) {
            EXPECT_TRUE(left == "upd.log" || left.compare(0, 4, "upd-") == 0) << "temporary file left: " << left;
        }
    }
    std::string codes;
    for (const auto& c : byCode) codes += " " + std::to_string(c.first) + ":" + std::to_string(c.second);
    std::printf("FIGURE wholerun-faults quiet calls=%llu damaged=%d unseen-by-a-failed-search=%d "
                "success-with-a-font-unrevised=%d exits%s\n",
                static_cast<unsigned long long>(calls), damaged, unseen, successUnrevised, codes.c_str());
    EXPECT_EQ(damaged, 0);
    EXPECT_EQ(successUnrevised, 0);
    EXPECT_GT(byCode[1603], 0);
    EXPECT_GT(byCode[3010], 0);
    sim::SetCommandLine("");
}
