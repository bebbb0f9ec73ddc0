// The modeless wait dialog of the installed-font search: the latest status
// line and a stop button whose request is confirmed at the next report.
#pragma once

#include "dialogs/reportdialog.h"
#include "engine/types.h"  // SearchStatusCallbackFn, served through ShowStatus
#include "res/resource.h"

class CWaitDialog : public CReportDialog {
public:
    explicit CWaitDialog(CWnd* parent = nullptr);
    ~CWaitDialog() override;

    enum { IDD = IDD_WAIT_DIALOG };

    // Shows one status line after handling what the user did since the last
    // one; non-zero once a stop has been confirmed.
    int ShowStatus(CString text);
    // Handles what the user did since the last report, the line left as it
    // is: between lines, and once more when the search has ended, so that a
    // stop used at any moment is asked about.  Non-zero as ShowStatus.
    int AnswerUser();

protected:
    void DoDataExchange(CDataExchange* pDX) override;

    CString m_statusText;

    DECLARE_MESSAGE_MAP()
};
