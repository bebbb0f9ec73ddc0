// The start notice: what the program is for, the target families, and the
// choice to search or to give up (confirmed).
#pragma once

#include "platform/framework/afxwin.h"
#include "res/resource.h"

class CStartDialog : public CDialog {
public:
    explicit CStartDialog(CWnd* parent = nullptr);
    ~CStartDialog() override;

    enum { IDD = IDD_START_DIALOG };

    BOOL OnInitDialog() override;
    void OnCancel() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;

    CStatic m_noticeCtrl;

    DECLARE_MESSAGE_MAP()
};
