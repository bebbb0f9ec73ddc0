#include "app/updaterapp.h"

#include "app/cmdline.h"
#include "app/exitcodes.h"
#include "app/instance.h"
#include "app/runlog.h"
#include "app/unattended.h"
#include "app/updaterdlg.h"
#include "dialogs/messagedialogs.h"

COpenTypeUpdaterApp::COpenTypeUpdaterApp() : m_hMutex(nullptr), m_hMachineMutex(nullptr) {}

BOOL COpenTypeUpdaterApp::InitInstance() {
    AfxEnableControlContainer();

    const char* commandLine = ::GetCommandLineA();
    CommandLine options;
    int code = kExitNothingToDo;
    if (!ParseCommandLine(commandLine, &options) || options.usage) {
        code = TellCommandLine(options, commandLine);
    } else if (options.Unattended()) {
        code = RunWithoutQuestions(options, commandLine);
    } else {
        code = RunInteractive(options, commandLine);
    }
    LogExit(code);
    SetExitCode(code);
    // No message loop of our own: the framework goes on to ExitInstance.
    return FALSE;
}

int COpenTypeUpdaterApp::RunInteractive(const CommandLine& options, const char* commandLine) {
    // Another copy of this program file runs, here or in another session:
    // end without a word.
    const bool alone = TakeSingleInstance(m_pszExeName, &m_hMutex) && TakeMachineInstance(m_pszExeName, &m_hMachineMutex);
    OpenRunLog(options, m_pszExeName, commandLine);
    if (!alone) {
        RunLog().Write("another copy runs");
        return kExitAnotherRun;
    }

    COpenTypeUpdaterDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    // The dialog object goes now; the framework must not reach it later.
    m_pMainWnd = nullptr;
    return dialog.ExitCode();
}

int COpenTypeUpdaterApp::RunWithoutQuestions(const CommandLine& options, const char* commandLine) {
    OpenRunLog(options, m_pszExeName, commandLine);
    // A person's copy in another session takes the same machine-wide name.
    if (!TakeMachineInstance(m_pszExeName, &m_hMachineMutex)) {
        RunLog().Write("another copy runs");
        return kExitAnotherRun;
    }
    return RunUnattended(options);
}

int COpenTypeUpdaterApp::TellCommandLine(const CommandLine& options, const char* commandLine) {
    const int code = options.bad.IsEmpty() ? kExitNothingToDo : kExitBadCommandLine;
    OpenRunLog(options, m_pszExeName, commandLine);
    CString text;
    if (!options.bad.IsEmpty()) {
        FormatMessageId(text, IDS_BAD_COMMAND_LINE, static_cast<const char*>(options.bad));
        RunLog().Writef("command line not understood: %s", static_cast<const char*>(options.bad));
        text += "\r\n\r\n";
    }
    if (!options.Windowless()) {
        CString usage;
        usage.LoadString(IDS_USAGE);
        text += usage;
        COKDialog dialog;
        dialog.SetMessage(text);
        dialog.DoModal();
    }
    return code;
}

int COpenTypeUpdaterApp::ExitInstance() {
    ReleaseSingleInstance(m_hMutex);
    return CWinApp::ExitInstance();
}
