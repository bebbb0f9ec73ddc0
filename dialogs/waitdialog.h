// The modeless wait dialog of the installed-font search: the latest status
// line and a stop button whose request is confirmed at the next report.
#pragma once

#include "engine/types.h"  // SearchStatusCallbackFn, served through ShowStatus
#include "platform/framework/afxwin.h"
#include "res/resource.h"

class CWaitDialog : public CDialog {
public:
    explicit CWaitDialog(CWnd* parent = nullptr);
    ~CWaitDialog() override;

    enum { IDD = IDD_WAIT_DIALOG };

    // Shows one status line after handling what the user did since the last
    // one; non-zero once a stop has been confirmed.
    int ShowStatus(CString text);

    BOOL PreTranslateMessage(MSG* msg) override;
    using CDialog::Create;
    BOOL Create(CWnd* parent);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnStop();

    CString m_statusText;
    int m_stopRequested;

    DECLARE_MESSAGE_MAP()

private:
    int m_stopConfirmed;  // the user answered "はい": no more questions
};
