// The modeless progress dialog of the update run: two bars, two text lines,
// and a stop button whose request is confirmed at the next report.
#pragma once

#include "dialogs/reportdialog.h"
#include "engine/types.h"  // ProgressCallbackFn, served through UpdateProgress
#include "res/resource.h"

class CProgressDialog : public CReportDialog {
public:
    explicit CProgressDialog(CWnd* parent = nullptr);
    ~CProgressDialog() override;

    enum { IDD = IDD_PROGRESS_DIALOG };

    // Shows one report and handles what the user did since the last one;
    // non-zero once a stop has been confirmed.
    int UpdateProgress(int overall, int step, CString line1, CString line2);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    CEdit m_line1Edit;
    CProgressCtrl m_overallBar;
    CEdit m_line2Edit;
    CProgressCtrl m_stepBar;
    CEdit m_overallPercentEdit;
    CEdit m_stepPercentEdit;

    DECLARE_MESSAGE_MAP()
};
