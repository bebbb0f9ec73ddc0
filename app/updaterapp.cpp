#include "app/updaterapp.h"

#include "app/instance.h"
#include "app/updaterdlg.h"

COpenTypeUpdaterApp::COpenTypeUpdaterApp() : m_hMutex(nullptr) {}

BOOL COpenTypeUpdaterApp::InitInstance() {
    AfxEnableControlContainer();

    // Another copy of this program file runs: end without a word.
    if (!TakeSingleInstance(m_pszExeName, &m_hMutex)) return FALSE;

    {
        COpenTypeUpdaterDlg dialog;
        m_pMainWnd = &dialog;
        // Every outcome of the dialog ends the program the same way.
        dialog.DoModal();
        // The dialog object goes now; the framework must not reach it later.
        m_pMainWnd = nullptr;
    }
    // No message loop of our own: the framework goes on to ExitInstance.
    return FALSE;
}

int COpenTypeUpdaterApp::ExitInstance() {
    ReleaseSingleInstance(m_hMutex);
    return CWinApp::ExitInstance();
}
