#include "dialogs/progressdialog.h"

BEGIN_MESSAGE_MAP(CProgressDialog, CReportDialog)
    ON_BN_CLICKED(IDC_PROGRESS_STOP, &CProgressDialog::OnStop)
END_MESSAGE_MAP()

CProgressDialog::CProgressDialog(CWnd* parent) : CReportDialog(IDD, IDS_CONFIRM_ABORT, parent) {}

CProgressDialog::~CProgressDialog() = default;

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

int CProgressDialog::UpdateProgress(int overall, int step, CString line1, CString line2) {
    BeginReport();

    // The window may have been closed while the messages were handled: the
    // run goes on without a display then.
    if (m_hWnd) {
        m_overallBar.SetPos(overall);
        m_stepBar.SetPos(step);
        CString percent;
        percent.Format("%d%%", overall);
        m_overallPercentEdit.SetWindowText(percent);
        percent.Format("%d%%", step);
        m_stepPercentEdit.SetWindowText(percent);
        m_line1Edit.SetWindowText(line1);
        m_line2Edit.SetWindowText(line2);
    }
    PaintReport();
    ::Sleep(1);

    const int stop = ConfirmStop();

    // Full bars stay on screen for a moment before the run moves on.
    if (overall == 100 && step == 100) ::Sleep(1000);

    return stop;
}
