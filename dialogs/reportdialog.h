// The base of the two modeless dialogs that serve the reports of a long,
// synchronous job on the user-interface thread: the search's wait dialog and
// the update run's progress dialog.  The window is responsive only while a
// report is being shown, so each report follows the same course: show the
// window if it was hidden, handle what the user did since the last report
// (a click on the stop button waits in the queue until then), show the new
// values, paint them, and ask the stop question when the button was used.
#pragma once

#include "platform/framework/afxwin.h"

class CReportDialog : public CDialog {
public:
    // Neither Enter nor Escape may end the window or stop the job: only the
    // stop button asks.
    BOOL PreTranslateMessage(MSG* msg) override;
    using CDialog::Create;
    // Creates the modeless window from the dialog's own template.
    BOOL Create(CWnd* parent);
    // The user asked for a stop and confirmed it.
    bool StopConfirmed() const { return m_stopConfirmed != 0; }

protected:
    // stopQuestion: the string asked when the stop button was used.
    CReportDialog(UINT idTemplate, UINT stopQuestion, CWnd* parent);

    // Shows a hidden window and handles every pending message.
    void BeginReport();
    // Paints what the report set before the job goes on: the job may sleep
    // or work for long before the next report pumps messages again.
    void PaintReport();
    // Asks the stop question when the button was used since; non-zero while
    // a stop is confirmed.
    int ConfirmStop();
    void OnStop();

    int m_stopRequested;  // the button was used and the user has not said no

private:
    UINT m_stopQuestion;
    int m_stopConfirmed;  // the user answered "はい": no more questions
};

// Pumps the window messages the job's long work has left waiting.
void PumpPendingMessages();
