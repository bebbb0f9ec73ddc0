#include "dialogs/messagedialogs.h"

bool AskYesNo(UINT messageId) {
    CString question;
    question.LoadString(messageId);
    CMessageDialog dialog;
    dialog.SetMessage(question);
    return dialog.DoModal() == IDOK;
}

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg() : CDialog(IDD) {}
CAboutDlg::~CAboutDlg() = default;
