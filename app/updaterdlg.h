// The main dialog: the whole run happens inside it.  Its initialisation
// checks the machine, shows the start notice, searches for the installed
// fonts to revise and lists them; its "実行" button revises them and reports
// the outcome.  Every way out of either half ends the dialog, and with it
// the program.
#pragma once

#include "engine/types.h"
#include "platform/framework/afxwin.h"
#include "res/resource.h"

class COpenTypeUpdaterDlg : public CDialog {
public:
    explicit COpenTypeUpdaterDlg(CWnd* parent = nullptr);
    ~COpenTypeUpdaterDlg() override;

    enum { IDD = IDD_UPDATER_DIALOG };

    // The engine's progress reports, served by the progress dialog given as
    // context; non-zero once the user confirmed a stop.
    static int ProgressCallback(int overall, int step, const char* line1, const char* line2, void* context);
    // The search's status lines, served by the wait dialog given as context;
    // non-zero once the user confirmed a stop.
    static int SearchStatusCallback(const char* text, void* context);

    // The exit code of the run as it ended (a deployment system's reading of
    // it): cancelled until the run says otherwise.
    int ExitCode() const { return m_exitCode; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnAbortClicked();
    void OnRunClicked();

    // The version and rights checks, each refusal told in a notice: 6 or 7
    // to go on, anything else to stop.
    int CheckEnvironment();

    HICON m_hIcon;
    CListCtrl m_listFonts;
    int m_exitCode;

    DECLARE_MESSAGE_MAP()
};

// Loads string-table message `id` and formats it printf-style into `out`.
void FormatMessageId(CString& out, UINT id, ...);

// The outcome message of an update run that ended with `result` on the font
// at fontPath: the message, with the font's path or its difference file's
// name where it has a place for one.
CString OutcomeMessage(int result, const char* fontPath);

// Revises the fonts the search found, in order, until the first that does
// not revise: that font's result (or 0), with the path of the last font
// tried in *lastFont.  Each result goes to the run's log.
// Completes the revisions that an earlier start of Windows left waiting (its
// RunOnce not run, or cut short) and removes staging files no record
// refers to; logged.
void CompleteRevisionsOfEarlierStarts();

int ReviseFoundFonts(ProgressCallbackFn callback, void* context, CString* lastFont);
