// The application object: one copy of the program per executable name, and
// the main dialog run modally; the process ends when it closes.  With
// switches on its command line it runs unattended instead (app/unattended.h).
#pragma once

#include "platform/framework/afxwin.h"

struct CommandLine;

class COpenTypeUpdaterApp : public CWinApp {
public:
    COpenTypeUpdaterApp();

    BOOL InitInstance() override;
    int ExitInstance() override;

    HANDLE m_hMutex;         // holds the single-instance name; null in a refused copy
    HANDLE m_hMachineMutex;  // the same across sessions

private:
    // The exit code of each way through.
    int RunInteractive(const CommandLine& options, const char* commandLine);
    int RunWithoutQuestions(const CommandLine& options, const char* commandLine);
    int TellCommandLine(const CommandLine& options, const char* commandLine);
};
