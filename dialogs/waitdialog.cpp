#include "dialogs/waitdialog.h"

#include "dialogs/messagedialogs.h"
#include "dialogs/progressdialog.h"

BEGIN_MESSAGE_MAP(CWaitDialog, CDialog)
    ON_BN_CLICKED(IDC_WAIT_STOP, &CWaitDialog::OnStop)
END_MESSAGE_MAP()

CWaitDialog::CWaitDialog(CWnd* parent) : CDialog(IDD, parent), m_stopRequested(0), m_stopConfirmed(0) {}

CWaitDialog::~CWaitDialog() = default;

BOOL CWaitDialog::Create(CWnd* parent) { return CDialog::Create(IDD, parent); }

void CWaitDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_WAIT_STATUS, m_statusText);
}

BOOL CWaitDialog::PreTranslateMessage(MSG* msg) {
    // Enter and Escape must not end the search window.
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE)) return TRUE;
    return CDialog::PreTranslateMessage(msg);
}

void CWaitDialog::OnStop() { m_stopRequested = 1; }

int CWaitDialog::ShowStatus(CString text) {
    if (m_hWnd && !IsWindowVisible()) ShowWindow(SW_SHOW);

    PumpPendingMessages();

    // The question comes before the new line is shown.
    // A stop once confirmed stays confirmed: the user is not asked again (a
    // "いいえ" then would take back an answer the caller may already act on).
    if (m_stopRequested && !m_stopConfirmed) {
        CString question;
        question.LoadString(IDS_CONFIRM_STOP_SEARCH);
        CMessageDialog dialog;
        dialog.SetMessage(question);
        if (dialog.DoModal() == IDOK) m_stopConfirmed = 1;
        else m_stopRequested = 0;
    }

    m_statusText = text;
    UpdateData(FALSE);

    return m_stopRequested ? 1 : 0;
}
