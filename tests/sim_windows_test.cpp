// The simulated machine's window side and the framework's dialog layer:
// templates, the modal loop, the dialog manager's keys, the scripted user.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "dialogs/messagedialogs.h"
#include "platform/framework/afxwin.h"
#include "platform/sim/sim.h"
#include "res/resource.h"
#include "tests/support/sim_fixture.h"

namespace {

using sim::UiEvent;

class SimWindowsTest : public testdata::SimMachineTest {
protected:
    void TearDown() override {
        EXPECT_EQ(sim::OpenWindowCount(), 0) << "a window was left open\n" << sim::TranscriptText();
        EXPECT_EQ(sim::PendingUserActions(), 0) << "the script was not used up";
        testdata::SimMachineTest::TearDown();
    }
};

INT_PTR CALLBACK PlainProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

std::string Text(HWND window) {
    char buffer[512];
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

void ExpectRect(HWND window, LONG x, LONG y, LONG cx, LONG cy) {
    const RECT r = sim::TemplateRect(window);
    EXPECT_EQ(r.left, x);
    EXPECT_EQ(r.top, y);
    EXPECT_EQ(r.right - r.left, cx);
    EXPECT_EQ(r.bottom - r.top, cy);
}

TEST_F(SimWindowsTest, ADialogHasTheControlsIdsRectanglesAndTextsOfItsTemplate) {
    const HWND dlg = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MESSAGE_DIALOG), nullptr,
                                        PlainProc, 0);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(Text(dlg), "確　認");
    ExpectRect(dlg, 0, 0, 266, 90);
    EXPECT_TRUE(sim::WindowStyle(dlg) & WS_SYSMENU);
    EXPECT_FALSE(IsWindowVisible(dlg)) << "the template is not WS_VISIBLE";

    const HWND yes = GetDlgItem(dlg, IDOK);
    const HWND no = GetDlgItem(dlg, IDCANCEL);
    const HWND edit = GetDlgItem(dlg, IDC_MESSAGE_TEXT);
    ASSERT_TRUE(yes && no && edit);
    EXPECT_EQ(Text(yes), "はい");
    EXPECT_EQ(Text(no), "いいえ");
    EXPECT_EQ(sim::ClassName(yes), "Button");
    EXPECT_EQ(sim::ClassName(edit), "Edit");
    ExpectRect(yes, 142, 69, 50, 14);
    ExpectRect(no, 65, 69, 50, 14);
    ExpectRect(edit, 7, 7, 252, 48);
    EXPECT_EQ(sim::WindowStyle(yes) & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    EXPECT_TRUE(sim::WindowStyle(edit) & ES_MULTILINE);
    EXPECT_TRUE(sim::WindowStyle(edit) & ES_READONLY);
    EXPECT_EQ(LOWORD(SendMessageA(dlg, DM_GETDEFID, 0, 0)), IDOK);
    EXPECT_EQ(GetDlgItem(dlg, 4242), nullptr);
    EXPECT_TRUE(DestroyWindow(dlg));
    EXPECT_FALSE(IsWindow(yes)) << "controls go with their dialog";
}

TEST_F(SimWindowsTest, ProgressAndListTemplatesGiveWorkingCommonControls) {
    const HWND progress = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(IDD_PROGRESS_DIALOG), nullptr, PlainProc, 0);
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(Text(progress), "フォントを改訂中");
    EXPECT_FALSE(sim::WindowStyle(progress) & WS_SYSMENU);
    EXPECT_EQ(GetSystemMenu(progress, FALSE), nullptr);
    const HWND bar = GetDlgItem(progress, IDC_PROGRESS_OVERALL);
    EXPECT_EQ(sim::ClassName(bar), "msctls_progress32");
    ExpectRect(bar, 67, 57, 301, 14);
    ExpectRect(GetDlgItem(progress, IDC_PROGRESS_STOP), 173, 131, 76, 14);
    EXPECT_EQ(Text(GetDlgItem(progress, IDC_PROGRESS_STOP)), "中　止");
    // Default range 0..100: positions outside are held at the ends.
    EXPECT_EQ(SendMessageA(bar, PBM_SETPOS, 40, 0), 0);
    EXPECT_EQ(SendMessageA(bar, PBM_SETPOS, 250, 0), 40);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 100);
    SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(-5), 0);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
    DestroyWindow(progress);

    const HWND main = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(IDD_UPDATER_DIALOG), nullptr, PlainProc, 0);
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(IsWindowVisible(main)) << "a WS_VISIBLE template shows after its initialisation";
    EXPECT_EQ(sim::ActiveDialog(), main);
    CListCtrl list;
    list.Attach(GetDlgItem(main, IDC_FONT_LIST));
    EXPECT_EQ(sim::ClassName(list.m_hWnd), "SysListView32");
    EXPECT_EQ(list.InsertColumn(0, "フォント名", LVCFMT_LEFT, 600, 1), 0);
    EXPECT_EQ(list.SetExtendedStyle(LVS_EX_FULLROWSELECT), 0u);
    EXPECT_EQ(list.GetExtendedStyle(), static_cast<DWORD>(LVS_EX_FULLROWSELECT));
    const std::string longPath = "C:\\" + std::string(700, 'd') + "\\Sorame-Gothic-Pro-W3.otf";
    EXPECT_EQ(list.InsertItem(0, "C:\\Fonts\\a.otf"), 0);
    EXPECT_EQ(list.InsertItem(1, longPath.c_str()), 1);
    EXPECT_EQ(list.InsertItem(0, "C:\\Fonts\\first.otf"), 0);
    EXPECT_EQ(list.GetItemCount(), 3);
    EXPECT_STREQ(list.GetItemText(0, 0), "C:\\Fonts\\first.otf");
    EXPECT_STREQ(list.GetItemText(2, 0), longPath.c_str()) << "a long row comes back whole";
    EXPECT_STREQ(list.GetItemText(0, 1), "");
    EXPECT_STREQ(list.GetItemText(9, 0), "");
    const auto columns = sim::EventsOf(UiEvent::kColumn, IDD_UPDATER_DIALOG);
    ASSERT_EQ(columns.size(), 1u);
    EXPECT_EQ(columns[0].text, "フォント名");
    EXPECT_EQ(columns[0].value, 600);
    EXPECT_EQ(sim::EventsOf(UiEvent::kRow).size(), 3u);
    list.Detach();
    DestroyWindow(main);
}

// A dialog for exercising the framework: template 102 (buttons 1 and 2, a
// system menu), with handlers that tests fill in.
class CTestDialog : public CDialog {
public:
    CTestDialog() : CDialog(IDD_UPDATER_DIALOG) {}
    std::function<BOOL(CTestDialog*)> onInit;
    std::function<void(CTestDialog*)> onRun;
    int aboutShown = 0;
    int initialised = 0;

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        ++initialised;
        CMenu* menu = GetSystemMenu(FALSE);
        if (menu) {
            menu->AppendMenu(MF_SEPARATOR);
            menu->AppendMenu(MF_STRING, IDM_ABOUTBOX, "about");
        }
        return onInit ? onInit(this) : TRUE;
    }
    void OnSysCommand(UINT id, LPARAM lParam) {
        if ((id & 0xFFF0) == IDM_ABOUTBOX) {
            ++aboutShown;
            CAboutDlg about;
            about.DoModal();
        } else {
            CDialog::OnSysCommand(id, lParam);
        }
    }
    void OnRun() {
        if (onRun) onRun(this);
        else OnOK();
    }

protected:
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestDialog, CDialog)
    ON_WM_SYSCOMMAND()
    ON_BN_CLICKED(IDOK, &CTestDialog::OnRun)
END_MESSAGE_MAP()

TEST_F(SimWindowsTest, TheModalLoopEndsWithTheButtonOrKeyTheUserChose) {
    struct Case {
        sim::UserAction action;
        INT_PTR result;
        const char* by;
    };
    const Case cases[] = {
        {sim::Click(IDOK), 1, "script"},       {sim::Click(IDCANCEL), 2, "script"},
        {sim::Press(VK_RETURN), 1, "keyboard"}, {sim::Press(VK_ESCAPE), 2, "keyboard"},
        {sim::CloseBox(), 2, "keyboard"},
    };
    for (const Case& c : cases) {
        sim::Answer(IDD_UPDATER_DIALOG, c.action);
        CTestDialog dialog;
        EXPECT_EQ(dialog.DoModal(), c.result) << sim::TranscriptText();
        EXPECT_EQ(dialog.m_hWnd, nullptr) << "the window is gone after DoModal";
    }
    const auto pressed = sim::EventsOf(UiEvent::kPressed, IDD_UPDATER_DIALOG);
    ASSERT_EQ(pressed.size(), 4u) << "the close box presses nothing";
    EXPECT_EQ(pressed[2].by, "keyboard");
    EXPECT_EQ(pressed[2].control, IDOK);
    EXPECT_EQ(pressed[3].control, IDCANCEL);
    EXPECT_EQ(sim::EventsOf(UiEvent::kClosed).size(), 1u);
}

TEST_F(SimWindowsTest, ADialogEndedDuringItsInitialisationIsNeverShown) {
    CTestDialog dialog;
    dialog.onInit = [](CTestDialog* d) {
        d->EndDialog(0);
        return FALSE;
    };
    EXPECT_EQ(dialog.DoModal(), 0);
    EXPECT_TRUE(sim::EventsOf(UiEvent::kShown).empty()) << sim::TranscriptText();
    EXPECT_EQ(sim::EventsOf(UiEvent::kDestroyed, IDD_UPDATER_DIALOG).size(), 1u);
}

TEST_F(SimWindowsTest, NestedModalLoopsEachReturnTheirOwnAnswerAndTheOwnerComesBack) {
    // The main dialog's button runs a question; its answer decides.
    sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDOK));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDCANCEL));  // "いいえ": stay
    sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDOK));
    sim::Answer(IDD_MESSAGE_DIALOG, sim::Press(VK_RETURN));  // "はい": end
    CTestDialog dialog;
    int asked = 0;
    bool ownerDisabled = true;
    dialog.onRun = [&](CTestDialog* d) {
        ++asked;
        CMessageDialog question;
        question.SetMessage("続けますか");
        const INT_PTR answer = question.DoModal();
        ownerDisabled = ownerDisabled && IsWindowEnabled(d->m_hWnd);
        if (answer == IDOK) d->EndDialog(7);
    };
    EXPECT_EQ(dialog.DoModal(), 7);
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(ownerDisabled) << "the owner is enabled again after each question";
    EXPECT_EQ(sim::TextsShown(IDD_MESSAGE_DIALOG, IDC_MESSAGE_TEXT).size(), 2u);
}

TEST_F(SimWindowsTest, TheSystemMenuEntryRunsItsHandlerAndOtherCommandsGetTheDefault) {
    sim::Answer(IDD_UPDATER_DIALOG, sim::SysCommand(IDM_ABOUTBOX));
    sim::Answer(IDD_ABOUTBOX, sim::Click(IDOK));
    sim::Answer(IDD_UPDATER_DIALOG, sim::CloseBox());  // SC_CLOSE through the default handling
    CTestDialog dialog;
    EXPECT_EQ(dialog.DoModal(), 2);
    EXPECT_EQ(dialog.aboutShown, 1);
    const auto menu = sim::EventsOf(UiEvent::kMenuItem, IDD_UPDATER_DIALOG);
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(menu[1].text, "about");
    EXPECT_EQ(menu[1].value, IDM_ABOUTBOX);
    ASSERT_EQ(sim::EventsOf(UiEvent::kCreated, IDD_ABOUTBOX).size(), 1u);
    EXPECT_EQ(sim::EventsOf(UiEvent::kCreated, IDD_ABOUTBOX)[0].text, "Korvaneフォント Updaterのﾊﾞｰｼﾞｮﾝ情報");
}

bool CentredOn(const RECT& r, const RECT& around) {
    return std::abs((r.left + r.right) - (around.left + around.right)) <= 1 &&
           std::abs((r.top + r.bottom) - (around.top + around.bottom)) <= 1;
}
bool Inside(const RECT& r, const RECT& area) {
    return r.left >= area.left && r.top >= area.top && r.right <= area.right && r.bottom <= area.bottom;
}

TEST_F(SimWindowsTest, AModalDialogIsCentredOnItsVisibleOwnerElseOnTheWorkAreaAndKeptOnIt) {
    enum Expect { kOnOwner, kOnWorkArea, kWithinWorkArea };
    struct Case {
        const char* what;
        POINT ownerAt;
        bool ownerShown;
        Expect expect;
    };
    const Case cases[] = {
        {"owner on screen", {40, 60}, true, kOnOwner},
        {"owner in the bottom-right corner", {900, 650}, true, kWithinWorkArea},
        {"owner above and left of the screen", {-500, -300}, true, kWithinWorkArea},
        {"owner hidden", {40, 60}, false, kOnWorkArea},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDOK));
        sim::Answer(IDD_MESSAGE_DIALOG, sim::Click(IDCANCEL));
    }
    sim::Answer(IDD_UPDATER_DIALOG, sim::Click(IDCANCEL));
    CTestDialog dialog;
    size_t next = 0;
    std::vector<RECT> ownerRects;
    dialog.onRun = [&](CTestDialog* d) {
        const Case& c = cases[next++];
        SetWindowPos(d->m_hWnd, nullptr, c.ownerAt.x, c.ownerAt.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        if (!c.ownerShown) d->ShowWindow(SW_HIDE);
        RECT owner{};
        EXPECT_TRUE(GetWindowRect(d->m_hWnd, &owner));
        ownerRects.push_back(owner);
        CMessageDialog question(d);
        question.DoModal();
        d->ShowWindow(SW_SHOW);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);

    // A template that centres its dialog itself is left to the system.
    sim::Answer(IDD_WAIT_DIALOG, sim::Press(VK_ESCAPE));
    CDialog centred(IDD_WAIT_DIALOG);
    EXPECT_EQ(centred.DoModal(), IDCANCEL);

    std::vector<sim::Placement> main, questions;
    for (const sim::Placement& p : sim::Placements()) {
        if (p.dialog == IDD_UPDATER_DIALOG) main.push_back(p);
        if (p.dialog == IDD_MESSAGE_DIALOG) questions.push_back(p);
        EXPECT_NE(p.dialog, IDD_WAIT_DIALOG);
    }
    const RECT work = sim::WorkArea();
    ASSERT_GE(main.size(), 1u);
    EXPECT_TRUE(CentredOn(main[0].rect, work)) << "without an owner: the work area";
    ASSERT_EQ(questions.size(), sizeof cases / sizeof cases[0]) << sim::TranscriptText();
    for (size_t i = 0; i < questions.size(); ++i) {
        const RECT& r = questions[i].rect;
        EXPECT_TRUE(Inside(r, work)) << cases[i].what;
        if (cases[i].expect == kOnOwner) {
            EXPECT_TRUE(CentredOn(r, ownerRects[i])) << cases[i].what;
        } else if (cases[i].expect == kOnWorkArea) {
            EXPECT_TRUE(CentredOn(r, work)) << cases[i].what;
        }
    }
}

TEST_F(SimWindowsTest, AQueuedClickWaitsForThePumpAndIsDroppedWhenItsWindowIsGone) {
    const HWND dlg = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(IDD_WAIT_DIALOG), nullptr, PlainProc, 0);
    ShowWindow(dlg, SW_SHOW);
    sim::AtText(IDD_WAIT_DIALOG, IDC_WAIT_STATUS, 2, sim::Click(IDC_WAIT_STOP));
    SetWindowTextA(GetDlgItem(dlg, IDC_WAIT_STATUS), "one");
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_USER, WM_USER + 0x100, PM_NOREMOVE));
    SetWindowTextA(GetDlgItem(dlg, IDC_WAIT_STATUS), "two");
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, BM_CLICK, BM_CLICK, PM_NOREMOVE));
    EXPECT_EQ(msg.hwnd, GetDlgItem(dlg, IDC_WAIT_STOP));
    DestroyWindow(dlg);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(SimWindowsTest, ABroadcastIsNotedButNeverDelivered) {
    EXPECT_TRUE(PostMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    const auto posts = sim::EventsOf(UiEvent::kBroadcast);
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].value, WM_FONTCHANGE);
    EXPECT_NE(sim::TranscriptText().find("broadcast 29"), std::string::npos);
}

TEST_F(SimWindowsTest, AWaitWithNothingScriptedEndsTheRunLoudly) {
    EXPECT_DEATH(
        {
            CMessageDialog dialog;
            dialog.SetMessage("x");
            dialog.DoModal();
        },
        "waits in dialog 132, and nothing is scripted for it");
    EXPECT_DEATH(
        {
            sim::Answer(IDD_END_DIALOG, sim::CloseBox());
            CEndDialog dialog;
            dialog.DoModal();
        },
        "dialog 131 has no close box");
    EXPECT_DEATH(
        {
            sim::Answer(IDD_MESSAGE_DIALOG, sim::SysCommand(IDM_ABOUTBOX));
            CMessageDialog dialog;
            dialog.DoModal();
        },
        "has no entry 16");
}

class CTestApp : public CWinApp {
public:
    int initCalls = 0;
    int exitCalls = 0;
    std::string exeNameSeen;
    BOOL InitInstance() override {
        ++initCalls;
        exeNameSeen = m_pszExeName ? m_pszExeName : "";
        EXPECT_EQ(AfxGetApp(), this);
        return FALSE;
    }
    int ExitInstance() override {
        ++exitCalls;
        return CWinApp::ExitInstance() + 3;
    }
};

TEST_F(SimWindowsTest, TheApplicationObjectIsFoundAndRunWithTheExecutableName) {
    EXPECT_EQ(RunApplication(), -1) << "no application object";
    sim::SetModulePath("C:\\Program Files\\Sorame\\Updater\\Upd.v2.Exe");
    CTestApp app;
    EXPECT_EQ(RunApplication(), 3);
    EXPECT_EQ(app.initCalls, 1);
    EXPECT_EQ(app.exitCalls, 1);
    EXPECT_EQ(app.exeNameSeen, "Upd.v2") << "letter case kept, only the last extension goes";
}

}  // namespace
