#include "dialogs/startdialog.h"

#include <cstring>

#include "dialogs/messagedialogs.h"
#include "discovery/catalogue.h"

BEGIN_MESSAGE_MAP(CStartDialog, CDialog)
    ON_BN_CLICKED(IDOK, &CDialog::OnOK)
END_MESSAGE_MAP()

CStartDialog::CStartDialog(CWnd* parent) : CDialog(IDD, parent) {}

CStartDialog::~CStartDialog() = default;

void CStartDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_NOTICE, m_noticeCtrl);
}

BOOL CStartDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    // The notice comes from the catalogue, whatever the template holds.  A
    // row is read up to its NUL but never past its end.
    CString notice;
    for (int i = 0; i < kNoticeLineCount; ++i) {
        const char* row = g_noticeLines[i];
        const void* nul = std::memchr(row, '\0', kCatalogueRowSize);
        const int length = nul ? static_cast<int>(static_cast<const char*>(nul) - row) : kCatalogueRowSize;
        notice += CString(row, length);
    }
    m_noticeCtrl.SetWindowText(notice);
    return TRUE;
}

void CStartDialog::OnCancel() {
    if (AskYesNo(IDS_CONFIRM_ABORT)) CDialog::OnCancel();
}
