// The four small modal dialogs that show a message: a yes/no question, a
// notice with one button, and the two end messages of an update run.  Each
// is given its text with SetMessage before DoModal, which returns 1 for the
// first button (or Enter) and 2 for the second, the close box or Escape.
//
// The four differ only in their template and in the kind of control that
// shows the text, so one class template does the work; the buttons use the
// framework's own handling (1 ends with 1, 2 with 2).
#pragma once

#include "platform/framework/afxwin.h"
#include "res/resource.h"

template <class Control, UINT Template, int TextControl>
class CTextMessageDialog : public CDialog {
public:
    enum { IDD = Template };
    explicit CTextMessageDialog(CWnd* parent = nullptr) : CDialog(IDD, parent) {}
    void SetMessage(const CString& text) { m_message = text; }

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        CDialog::DoDataExchange(pDX);
        DDX_Control(pDX, TextControl, m_messageCtrl);
    }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        // Always replaces the template's placeholder, even with an empty text.
        m_messageCtrl.SetWindowText(m_message);
        return TRUE;
    }

    CString m_message;
    Control m_messageCtrl;
};

// A yes ("はい", 1) / no ("いいえ", 2) question.
using CMessageDialog = CTextMessageDialog<CEdit, IDD_MESSAGE_DIALOG, IDC_MESSAGE_TEXT>;
// A notice with the one button "はい".
using COKDialog = CTextMessageDialog<CEdit, IDD_OK_DIALOG, IDC_MESSAGE_TEXT>;
// The end message of a run that failed or was stopped.
using CEndDialog = CTextMessageDialog<CStatic, IDD_END_DIALOG, IDC_END_MESSAGE>;
// The end message of a successful run: "再起動" (1) or "キャンセル" (2).
using CNormalEndDialog = CTextMessageDialog<CStatic, IDD_NORMAL_END_DIALOG, IDC_END_MESSAGE>;

// Asks the yes/no question of string `messageId`: true when the user
// answered "はい"; "いいえ", the close box and Escape all mean no.
bool AskYesNo(UINT messageId);

// The About box of the main dialog's system menu.
class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override;
    enum { IDD = IDD_ABOUTBOX };

protected:
    DECLARE_MESSAGE_MAP()
};
