#include "dialogs/messagedialogs.h"

// The buttons use the framework's own handling (1 ends with 1, 2 with 2):
// the maps have no entries of their own.

BEGIN_MESSAGE_MAP(CMessageDialog, CDialog)
END_MESSAGE_MAP()

CMessageDialog::CMessageDialog(CWnd* parent) : CDialog(IDD, parent) {}
CMessageDialog::~CMessageDialog() = default;

void CMessageDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_MESSAGE_TEXT, m_messageCtrl);
}

BOOL CMessageDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    m_messageCtrl.SetWindowText(m_message);
    return TRUE;
}

BEGIN_MESSAGE_MAP(COKDialog, CDialog)
END_MESSAGE_MAP()

COKDialog::COKDialog(CWnd* parent) : CDialog(IDD, parent) {}
COKDialog::~COKDialog() = default;

void COKDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_MESSAGE_TEXT, m_messageCtrl);
}

BOOL COKDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    m_messageCtrl.SetWindowText(m_message);
    return TRUE;
}

BEGIN_MESSAGE_MAP(CEndDialog, CDialog)
END_MESSAGE_MAP()

CEndDialog::CEndDialog(CWnd* parent) : CDialog(IDD, parent) {}
CEndDialog::~CEndDialog() = default;

void CEndDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_END_MESSAGE, m_messageCtrl);
}

BOOL CEndDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    m_messageCtrl.SetWindowText(m_message);
    return TRUE;
}

BEGIN_MESSAGE_MAP(CNormalEndDialog, CDialog)
END_MESSAGE_MAP()

CNormalEndDialog::CNormalEndDialog(CWnd* parent) : CDialog(IDD, parent) {}
CNormalEndDialog::~CNormalEndDialog() = default;

void CNormalEndDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_END_MESSAGE, m_messageCtrl);
}

BOOL CNormalEndDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    m_messageCtrl.SetWindowText(m_message);
    return TRUE;
}

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg() : CDialog(IDD) {}
CAboutDlg::~CAboutDlg() = default;
