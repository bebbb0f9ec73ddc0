// The application object: one copy of the program per executable name, and
// the main dialog run modally; the process ends when it closes.
#pragma once

#include "platform/framework/afxwin.h"

class COpenTypeUpdaterApp : public CWinApp {
public:
    COpenTypeUpdaterApp();

    BOOL InitInstance() override;
    int ExitInstance() override;

    HANDLE m_hMutex;  // holds the single-instance name; null in a refused copy
};
