// The application object and the program's entry.
#include "platform/framework/afxwin.h"
#include "platform/framework/path.h"

namespace {

CWinApp*& TheApp() {
    static CWinApp* app = nullptr;
    return app;
}

}  // namespace

CWinApp::CWinApp(LPCSTR appName) : m_appName(appName) {
    // The framework finds the program's one application object through its
    // construction.
    TheApp() = this;
    m_pszAppName = appName ? m_appName.GetString() : nullptr;
}

CWinApp::~CWinApp() {
    if (TheApp() == this) TheApp() = nullptr;
}

void CWinApp::SetCurrentHandles() {
    m_hInstance = ::GetModuleHandleA(nullptr);
    char module[MAX_PATH + 1] = {};
    const DWORD n = ::GetModuleFileNameA(nullptr, module, MAX_PATH);
    module[n < MAX_PATH ? n : MAX_PATH] = '\0';
    // The executable's name: file name without folder and extension, letter
    // case as the module path has it.
    SplitPath(module, nullptr, nullptr, &m_exeName, nullptr);
    m_pszExeName = m_exeName.GetString();
    if (!m_pszAppName) m_pszAppName = m_pszExeName;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return m_exitCode; }

int CWinApp::Run() {
    for (;;) {
        MSG msg;
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            m_exitCode = static_cast<int>(msg.wParam);
            break;
        }
        if (got == -1) break;
        if (!CWnd::WalkPreTranslateTree(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
    return ExitInstance();
}

CWinApp* AfxGetApp() { return TheApp(); }

CWnd* AfxGetMainWnd() { return TheApp() ? TheApp()->m_pMainWnd : nullptr; }

HINSTANCE AfxGetInstanceHandle() {
    return TheApp() && TheApp()->m_hInstance ? TheApp()->m_hInstance : ::GetModuleHandleA(nullptr);
}

int RunApplication() {
    CWinApp* app = TheApp();
    if (!app) return -1;
    // The progress bars and the list view are common controls: without this
    // their dialogs cannot be created on Windows.
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES;
    ::InitCommonControlsEx(&controls);
    app->SetCurrentHandles();
    if (!app->InitInstance()) {
        // No loop of its own: whatever main window is left goes, then the end.
        if (app->m_pMainWnd && app->m_pMainWnd->m_hWnd) app->m_pMainWnd->DestroyWindow();
        return app->ExitInstance();
    }
    return app->Run();
}
