// The run's dialogs driven by a scripted user on the simulated machine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dialogs/messagedialogs.h"
#include "dialogs/progressdialog.h"
#include "dialogs/startdialog.h"
#include "dialogs/waitdialog.h"
#include "discovery/catalogue.h"
#include "platform/sim/sim.h"
#include "res/resource.h"
#include "tests/support/sim_fixture.h"

namespace {

using sim::UiEvent;

class DialogsTest : public testdata::SimMachineTest {
protected:
    void TearDown() override {
        EXPECT_EQ(sim::OpenWindowCount(), 0) << "a window was left open\n" << sim::TranscriptText();
        EXPECT_EQ(sim::PendingUserActions(), 0) << "the script was not used up\n" << sim::TranscriptText();
        testdata::SimMachineTest::TearDown();
    }

    static std::string Message(UINT id) {
        CString s;
        s.LoadString(id);
        return std::string(s);
    }

    // Position in the transcript of the first event matching, or -1.
    static int IndexOf(UiEvent::Kind kind, int dialog, int control = 0, const std::string& text = std::string()) {
        const auto& t = sim::Transcript();
        for (size_t i = 0; i < t.size(); ++i) {
            if (t[i].kind == kind && t[i].dialog == dialog && (control == 0 || t[i].control == control) &&
                (text.empty() || t[i].text == text))
                return static_cast<int>(i);
        }
        return -1;
    }
};

// ---------------------------------------------------------------------------
// Progress dialog

TEST_F(DialogsTest, ProgressShowsBarsPercentTextsAndLinesAndPausesOnlyWhenBothAreFull) {
    CProgressDialog dialog;
    ASSERT_TRUE(dialog.Create(nullptr));
    EXPECT_FALSE(dialog.IsWindowVisible());

    uint64_t before = sim::SleptMilliseconds();
    EXPECT_EQ(dialog.UpdateProgress(7, 100, "一行目", "二行目"), 0);
    EXPECT_TRUE(dialog.IsWindowVisible()) << "a report shows a hidden window";
    EXPECT_EQ(sim::SleptMilliseconds() - before, 1u);
    EXPECT_EQ(sim::TextsShown(IDD_PROGRESS_DIALOG, IDC_PROGRESS_OVERALL_PCT).back(), "7%");
    EXPECT_EQ(sim::TextsShown(IDD_PROGRESS_DIALOG, IDC_PROGRESS_STEP_PCT).back(), "100%");
    EXPECT_EQ(sim::TextsShown(IDD_PROGRESS_DIALOG, IDC_PROGRESS_LINE1).back(), "一行目");
    EXPECT_EQ(sim::TextsShown(IDD_PROGRESS_DIALOG, IDC_PROGRESS_LINE2).back(), "二行目");
    EXPECT_EQ(SendMessageA(GetDlgItem(dialog.m_hWnd, IDC_PROGRESS_OVERALL), PBM_GETPOS, 0, 0), 7);
    EXPECT_EQ(SendMessageA(GetDlgItem(dialog.m_hWnd, IDC_PROGRESS_STEP), PBM_GETPOS, 0, 0), 100);

    before = sim::SleptMilliseconds();
    EXPECT_EQ(dialog.UpdateProgress(100, 40, "", ""), 0);
    EXPECT_EQ(sim::SleptMilliseconds() - before, 1u);

    dialog.ShowWindow(SW_HIDE);
    before = sim::SleptMilliseconds();
    EXPECT_EQ(dialog.UpdateProgress(100, 100, "", ""), 0);
    EXPECT_EQ(sim::SleptMilliseconds() - before, 1001u) << "full bars stay a second";
    EXPECT_TRUE(dialog.IsWindowVisible());
    EXPECT_EQ(sim::EventsOf(UiEvent::kSleep).back().value, 1000);
    dialog.DestroyWindow();
}

TEST_F(DialogsTest, ProgressStopIsAskedAtTheNextReportAndNoClearsIt) {
    CProgressDialog dialog;
    ASSERT_TRUE(dialog.Create(nullptr));
    // The user clicks stop while the first report is on screen.
    sim::AtPosition(IDD_PROGRESS_DIALOG, IDC_PROGRESS_OVERALL, 1, sim::Click(IDC_PROGRESS_STOP));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDCANCEL));  // "いいえ"
    EXPECT_EQ(dialog.UpdateProgress(10, 10, "a", "b"), 0);
    EXPECT_TRUE(sim::EventsOf(UiEvent::kCreated, IDD_MESSAGE_DIALOG).empty()) << "no question before the next report";
    EXPECT_EQ(dialog.UpdateProgress(20, 20, "a", "b"), 0) << "いいえ: the run goes on";
    ASSERT_EQ(sim::TextsShown(IDD_MESSAGE_DIALOG, IDC_MESSAGE_TEXT).size(), 1u);
    EXPECT_EQ(sim::TextsShown(IDD_MESSAGE_DIALOG, IDC_MESSAGE_TEXT)[0], Message(IDS_CONFIRM_ABORT));
    EXPECT_EQ(dialog.UpdateProgress(30, 30, "a", "b"), 0);
    EXPECT_EQ(sim::EventsOf(UiEvent::kCreated, IDD_MESSAGE_DIALOG).size(), 1u) << "the request was cleared";

    // The button works again; the close box of the question also means no.
    sim::AtPosition(IDD_PROGRESS_DIALOG, IDC_PROGRESS_OVERALL, 1, sim::Click(IDC_PROGRESS_STOP));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::CloseBox());
    EXPECT_EQ(dialog.UpdateProgress(40, 40, "a", "b"), 0);
    EXPECT_EQ(dialog.UpdateProgress(50, 50, "a", "b"), 0);
    EXPECT_EQ(sim::EventsOf(UiEvent::kCreated, IDD_MESSAGE_DIALOG).size(), 2u);
    dialog.DestroyWindow();
}

TEST_F(DialogsTest, ProgressStopConfirmedWithYesStopsThatReportAndEveryLaterOne) {
    CProgressDialog dialog;
    ASSERT_TRUE(dialog.Create(nullptr));
    sim::AtPosition(IDD_PROGRESS_DIALOG, IDC_PROGRESS_STEP, 2, sim::Click(IDC_PROGRESS_STOP));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Press(VK_RETURN));  // Enter answers "はい"
    EXPECT_EQ(dialog.UpdateProgress(1, 1, "", ""), 0);
    EXPECT_EQ(dialog.UpdateProgress(2, 2, "", ""), 0);
    EXPECT_EQ(dialog.UpdateProgress(3, 3, "", ""), 1);
    // The texts of the stopping report were shown before the question.
    EXPECT_LT(IndexOf(UiEvent::kText, IDD_PROGRESS_DIALOG, IDC_PROGRESS_OVERALL_PCT, "3%"),
              IndexOf(UiEvent::kCreated, IDD_MESSAGE_DIALOG));
    EXPECT_EQ(dialog.UpdateProgress(4, 4, "", ""), 1);
    EXPECT_EQ(dialog.UpdateProgress(100, 100, "", ""), 1);
    EXPECT_EQ(sim::EventsOf(UiEvent::kCreated, IDD_MESSAGE_DIALOG).size(), 1u) << "a confirmed stop is not asked again";
    dialog.DestroyWindow();
}

TEST_F(DialogsTest, EnterAndEscapeDoNothingInTheProgressAndWaitDialogs) {
    CProgressDialog progress;
    ASSERT_TRUE(progress.Create(nullptr));
    sim::AtPosition(IDD_PROGRESS_DIALOG, IDC_PROGRESS_OVERALL, 1, sim::Press(VK_RETURN));
    sim::AtPosition(IDD_PROGRESS_DIALOG, IDC_PROGRESS_OVERALL, 1, sim::Press(VK_ESCAPE));
    EXPECT_EQ(progress.UpdateProgress(1, 1, "", ""), 0);
    EXPECT_EQ(progress.UpdateProgress(2, 2, "", ""), 0);
    EXPECT_TRUE(progress.IsWindowVisible());
    EXPECT_TRUE(sim::EventsOf(UiEvent::kPressed).empty());
    EXPECT_TRUE(sim::EventsOf(UiEvent::kEnded).empty());
    EXPECT_EQ(sim::EventsOf(UiEvent::kKey).size(), 2u) << "the keys were pressed";
    // In any loop that hands messages to the dialog manager (a question's
    // modal loop, the main dialog's), the keys are swallowed too.
    for (WPARAM key : {WPARAM{VK_RETURN}, WPARAM{VK_ESCAPE}}) {
        MSG msg{};
        msg.hwnd = GetDlgItem(progress.m_hWnd, IDC_PROGRESS_STOP);
        msg.message = WM_KEYDOWN;
        msg.wParam = key;
        EXPECT_TRUE(CWnd::WalkPreTranslateTree(&msg));
    }
    EXPECT_TRUE(progress.IsWindowVisible());
    EXPECT_TRUE(sim::EventsOf(UiEvent::kEnded).empty());
    EXPECT_TRUE(sim::EventsOf(UiEvent::kPressed).empty());
    progress.DestroyWindow();

    CWaitDialog wait;
    ASSERT_TRUE(wait.Create(nullptr));
    sim::AtText(IDD_WAIT_DIALOG, IDC_WAIT_STATUS, 1, sim::Press(VK_ESCAPE));
    sim::AtText(IDD_WAIT_DIALOG, IDC_WAIT_STATUS, 1, sim::Press(VK_RETURN));
    EXPECT_EQ(wait.ShowStatus("C:\\"), 0);
    EXPECT_EQ(wait.ShowStatus("D:\\"), 0);
    MSG msg{};
    msg.hwnd = wait.m_hWnd;
    msg.message = WM_KEYDOWN;
    msg.wParam = VK_ESCAPE;
    EXPECT_TRUE(CWnd::WalkPreTranslateTree(&msg));
    EXPECT_TRUE(wait.IsWindowVisible());
    EXPECT_TRUE(sim::EventsOf(UiEvent::kPressed).empty());
    EXPECT_TRUE(sim::EventsOf(UiEvent::kEnded).empty());
    wait.DestroyWindow();
}

// Whatever a report set stays on screen through the pause after it: the job
// sleeps or works without pumping messages until the next report.
TEST_F(DialogsTest, ReportsArePaintedBeforeTheProgramSleeps) {
    CProgressDialog progress;
    ASSERT_TRUE(progress.Create(nullptr));
    // Reached through a question as well: what it covered is painted again.
    sim::AtPosition(IDD_PROGRESS_DIALOG, IDC_PROGRESS_STEP, 1, sim::Click(IDC_PROGRESS_STOP));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDCANCEL));
    for (int percent : {0, 55, 100}) progress.UpdateProgress(percent, percent, "一行目", "二行目");
    ::Sleep(300);
    progress.DestroyWindow();

    CWaitDialog wait;
    ASSERT_TRUE(wait.Create(nullptr));
    wait.ShowStatus("C:\\Windows");
    ::Sleep(300);
    wait.DestroyWindow();

    const auto sleeps = sim::EventsOf(UiEvent::kSleep);
    ASSERT_EQ(sleeps.size(), 6u);
    for (const auto& sleep : sleeps) EXPECT_EQ(sleep.text, "") << sim::TranscriptText();
}

// ---------------------------------------------------------------------------
// Wait dialog

TEST_F(DialogsTest, WaitDialogAsksBeforeShowingTheNewLineAndYesStopsTheSearch) {
    CWaitDialog dialog;
    ASSERT_TRUE(dialog.Create(nullptr));
    sim::AtText(IDD_WAIT_DIALOG, IDC_WAIT_STATUS, 1, sim::Click(IDC_WAIT_STOP));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDCANCEL));
    sim::AtText(IDD_WAIT_DIALOG, IDC_WAIT_STATUS, 3, sim::Click(IDC_WAIT_STOP));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDOK));

    EXPECT_EQ(dialog.ShowStatus("C:\\ を検索中"), 0);
    EXPECT_EQ(dialog.ShowStatus("C:\\Windows"), 0) << "いいえ: the search goes on";
    EXPECT_EQ(dialog.ShowStatus("C:\\Users"), 0);
    EXPECT_EQ(dialog.ShowStatus("D:\\"), 1);

    const int firstQuestion = IndexOf(UiEvent::kCreated, IDD_MESSAGE_DIALOG);
    ASSERT_GE(firstQuestion, 0);
    EXPECT_LT(firstQuestion, IndexOf(UiEvent::kText, IDD_WAIT_DIALOG, IDC_WAIT_STATUS, "C:\\Windows"))
        << "the question comes before the new text\n" << sim::TranscriptText();
    EXPECT_EQ(sim::TextsShown(IDD_MESSAGE_DIALOG, IDC_MESSAGE_TEXT)[0], Message(IDS_CONFIRM_STOP_SEARCH));

    const auto lines = sim::TextsShown(IDD_WAIT_DIALOG, IDC_WAIT_STATUS);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines.back(), "D:\\");
    char shown[64];
    GetWindowTextA(GetDlgItem(dialog.m_hWnd, IDC_WAIT_STATUS), shown, sizeof shown);
    EXPECT_STREQ(shown, "D:\\");
    EXPECT_TRUE(sim::TextsShown(IDD_WAIT_DIALOG, IDC_STATIC).empty()) << "the fixed text never changes";
    EXPECT_EQ(dialog.ShowStatus("E:\\"), 1);
    EXPECT_EQ(sim::EventsOf(UiEvent::kCreated, IDD_MESSAGE_DIALOG).size(), 2u);
    dialog.DestroyWindow();
}

// ---------------------------------------------------------------------------
// Start dialog

TEST_F(DialogsTest, StartDialogShowsTheCatalogueNoticeAndNextGoesOn) {
    sim::Answer(IDD_START_DIALOG, sim::Press(VK_RETURN));
    CStartDialog dialog;
    EXPECT_EQ(dialog.DoModal(), 1);
    std::string expected;
    for (int i = 0; i < kNoticeLineCount; ++i) expected += g_noticeLines[i];
    const auto notice = sim::TextsShown(IDD_START_DIALOG, IDC_NOTICE);
    ASSERT_EQ(notice.size(), 1u);
    EXPECT_EQ(notice[0], expected);
    // The heading and 21 family lines, each family line starting with "・"
    // after its indent.
    int families = 0;
    for (size_t at = 0; (at = expected.find("・", at)) != std::string::npos; at += 2) ++families;
    EXPECT_EQ(families, 21);
    EXPECT_EQ(expected.find("コルヴァンフォント製品をご利用のお客様は"), 0u);
    EXPECT_TRUE(sim::EventsOf(UiEvent::kCreated, IDD_MESSAGE_DIALOG).empty());
}

TEST_F(DialogsTest, StartDialogStopIsConfirmedAndEscapeBehavesTheSame) {
    sim::Answer(IDD_START_DIALOG, sim::Press(VK_ESCAPE));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDCANCEL));  // no: stays open
    sim::Answer(IDD_START_DIALOG, sim::Click(IDCANCEL));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::CloseBox());       // closed: still no
    sim::Answer(IDD_START_DIALOG, sim::Click(IDCANCEL));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDOK));      // yes: ends with 2
    CStartDialog dialog;
    EXPECT_EQ(dialog.DoModal(), 2);
    const auto questions = sim::TextsShown(IDD_MESSAGE_DIALOG, IDC_MESSAGE_TEXT);
    ASSERT_EQ(questions.size(), 3u);
    for (const auto& q : questions) EXPECT_EQ(q, Message(IDS_CONFIRM_ABORT));
    EXPECT_EQ(sim::EventsOf(UiEvent::kEnded, IDD_START_DIALOG).size(), 1u);
}

// ---------------------------------------------------------------------------
// Message dialogs

template <class Dialog>
INT_PTR RunWith(const char* text) {
    Dialog dialog;
    dialog.SetMessage(text);
    return dialog.DoModal();
}

TEST_F(DialogsTest, MessageDialogsShowTheirTextAndAnswerWithTheirButtons) {
    const std::string text = Message(IDS_END_NORMAL);
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Press(VK_ESCAPE));
    EXPECT_EQ(RunWith<CMessageDialog>(text.c_str()), 2);
    sim::Answer(IDD_OK_DIALOG, sim::Click(IDOK));
    EXPECT_EQ(RunWith<COKDialog>(text.c_str()), 1);
    sim::Answer(IDD_END_DIALOG, sim::Press(VK_ESCAPE));
    EXPECT_EQ(RunWith<CEndDialog>(text.c_str()), 2) << "no close box, yet Escape ends it";
    sim::Answer(IDD_NORMAL_END_DIALOG, sim::Click(IDCANCEL));
    EXPECT_EQ(RunWith<CNormalEndDialog>(text.c_str()), 2);
    sim::Answer(IDD_NORMAL_END_DIALOG, sim::Press(VK_RETURN));
    EXPECT_EQ(RunWith<CNormalEndDialog>(""), 1) << "Enter presses 再起動";

    EXPECT_EQ(sim::TextsShown(IDD_MESSAGE_DIALOG, IDC_MESSAGE_TEXT).back(), text);
    EXPECT_EQ(sim::TextsShown(IDD_OK_DIALOG, IDC_MESSAGE_TEXT).back(), text);
    EXPECT_EQ(sim::TextsShown(IDD_END_DIALOG, IDC_END_MESSAGE).back(), text);
    EXPECT_EQ(sim::TextsShown(IDD_NORMAL_END_DIALOG, IDC_END_MESSAGE).front(), text);
    EXPECT_EQ(sim::TextsShown(IDD_NORMAL_END_DIALOG, IDC_END_MESSAGE).back(), "")
        << "an empty message replaces the placeholder";
    for (int id : {IDD_MESSAGE_DIALOG, IDD_OK_DIALOG, IDD_END_DIALOG, IDD_NORMAL_END_DIALOG}) {
        ASSERT_FALSE(sim::EventsOf(UiEvent::kCreated, id).empty()) << id;
        EXPECT_EQ(sim::EventsOf(UiEvent::kCreated, id)[0].text, "確　認");
    }
}

}  // namespace
