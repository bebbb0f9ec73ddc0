#include "dialogs/waitdialog.h"

BEGIN_MESSAGE_MAP(CWaitDialog, CReportDialog)
    ON_BN_CLICKED(IDC_WAIT_STOP, &CWaitDialog::OnStop)
END_MESSAGE_MAP()

CWaitDialog::CWaitDialog(CWnd* parent) : CReportDialog(IDD, IDS_CONFIRM_STOP_SEARCH, parent) {}

CWaitDialog::~CWaitDialog() = default;

void CWaitDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_WAIT_STATUS, m_statusText);
}

int CWaitDialog::ShowStatus(CString text) {
    BeginReport();

    // The question comes before the new line is shown.
    const int stop = ConfirmStop();

    m_statusText = text;
    UpdateData(FALSE);
    PaintReport();

    return stop;
}

int CWaitDialog::AnswerUser() {
    BeginReport();
    return ConfirmStop();
}
