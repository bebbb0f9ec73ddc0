// The four small modal dialogs that show a message: a yes/no question, a
// notice with one button, and the two end messages of an update run.  Each
// is given its text with SetMessage before DoModal, which returns 1 for the
// first button (or Enter) and 2 for the second, the close box or Escape.
#pragma once

#include "platform/framework/afxwin.h"
#include "res/resource.h"

// A yes ("はい", 1) / no ("いいえ", 2) question.
class CMessageDialog : public CDialog {
public:
    explicit CMessageDialog(CWnd* parent = nullptr);
    ~CMessageDialog() override;
    enum { IDD = IDD_MESSAGE_DIALOG };
    void SetMessage(const CString& text) { m_message = text; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    CEdit m_messageCtrl;
    CString m_message;

    DECLARE_MESSAGE_MAP()
};

// A notice with the one button "はい".
class COKDialog : public CDialog {
public:
    explicit COKDialog(CWnd* parent = nullptr);
    ~COKDialog() override;
    enum { IDD = IDD_OK_DIALOG };
    void SetMessage(const CString& text) { m_message = text; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    CString m_message;
    CEdit m_messageCtrl;

    DECLARE_MESSAGE_MAP()
};

// The end message of a run that failed or was stopped.
class CEndDialog : public CDialog {
public:
    explicit CEndDialog(CWnd* parent = nullptr);
    ~CEndDialog() override;
    enum { IDD = IDD_END_DIALOG };
    void SetMessage(const CString& text) { m_message = text; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    CString m_message;
    CStatic m_messageCtrl;

    DECLARE_MESSAGE_MAP()
};

// The end message of a successful run: "再起動" (1) or "キャンセル" (2).
class CNormalEndDialog : public CDialog {
public:
    explicit CNormalEndDialog(CWnd* parent = nullptr);
    ~CNormalEndDialog() override;
    enum { IDD = IDD_NORMAL_END_DIALOG };
    void SetMessage(const CString& text) { m_message = text; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    CString m_message;
    CStatic m_messageCtrl;

    DECLARE_MESSAGE_MAP()
};

// The About box of the main dialog's system menu.
class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override;
    enum { IDD = IDD_ABOUTBOX };

protected:
    DECLARE_MESSAGE_MAP()
};
