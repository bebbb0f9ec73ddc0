#include "dialogs/progressdialog.h"

#include "dialogs/messagedialogs.h"

void PumpPendingMessages() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

BEGIN_MESSAGE_MAP(CProgressDialog, CDialog)
    ON_BN_CLICKED(IDC_PROGRESS_STOP, &CProgressDialog::OnStop)
END_MESSAGE_MAP()

CProgressDialog::CProgressDialog(CWnd* parent) : CDialog(IDD, parent), m_stopRequested(0), m_stopConfirmed(0) {}

CProgressDialog::~CProgressDialog() = default;

BOOL CProgressDialog::Create(CWnd* parent) { return CDialog::Create(IDD, parent); }

void CProgressDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PROGRESS_LINE1, m_line1Edit);
    DDX_Control(pDX, IDC_PROGRESS_OVERALL, m_overallBar);
    DDX_Control(pDX, IDC_PROGRESS_LINE2, m_line2Edit);
    DDX_Control(pDX, IDC_PROGRESS_STEP, m_stepBar);
    DDX_Control(pDX, IDC_PROGRESS_OVERALL_PCT, m_overallPercentEdit);
    DDX_Control(pDX, IDC_PROGRESS_STEP_PCT, m_stepPercentEdit);
}

BOOL CProgressDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    return TRUE;  // the bars keep their default range, 0 to 100
}

BOOL CProgressDialog::PreTranslateMessage(MSG* msg) {
    // Neither Enter nor Escape may end or stop the run: only the button asks.
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE)) return TRUE;
    return CDialog::PreTranslateMessage(msg);
}

void CProgressDialog::OnStop() { m_stopRequested = 1; }

int CProgressDialog::UpdateProgress(int overall, int step, CString line1, CString line2) {
    if (m_hWnd && !IsWindowVisible()) ShowWindow(SW_SHOW);

    // A click on the stop button has waited in the queue since the last report.
    PumpPendingMessages();

    // The window may have been closed while the messages were handled: the
    // run goes on without a display then.
    if (m_hWnd) {
        m_overallBar.SetPos(overall);
        m_stepBar.SetPos(step);
        CString percent;
        percent.Format("%d%%", overall);
        m_overallPercentEdit.SetWindowText(percent);
        m_overallPercentEdit.UpdateWindow();
        percent.Format("%d%%", step);
        m_stepPercentEdit.SetWindowText(percent);
        m_stepPercentEdit.UpdateWindow();
        m_line1Edit.SetWindowText(line1);
        m_line2Edit.SetWindowText(line2);
    }
    ::Sleep(1);

    // A stop once confirmed stays confirmed: the user is not asked again (a
    // "いいえ" then would take back an answer the caller may already act on).
    if (m_stopRequested && !m_stopConfirmed) {
        CString question;
        question.LoadString(IDS_CONFIRM_ABORT);
        CMessageDialog dialog;
        dialog.SetMessage(question);
        if (dialog.DoModal() == IDOK) m_stopConfirmed = 1;
        else m_stopRequested = 0;
    }

    // Full bars stay on screen for a moment before the run moves on.
    if (overall == 100 && step == 100) ::Sleep(1000);

    return m_stopRequested ? 1 : 0;
}
