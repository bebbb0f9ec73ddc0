// The framework's window layer: windows, dialogs with data exchange and
// message maps, the common controls the program uses, and the application
// object.  Built only on the Windows API subset of platform/winapi.h, so the
// same code runs on Windows and on the simulated machine.
//
// The shapes are the classic ones (CWnd, CDialog, DoModal, DoDataExchange,
// BEGIN_MESSAGE_MAP ...), so that application code reads as usual.  A
// message map entry holds a small function that calls the member handler
// with its real type: no member-pointer casts.
#pragma once

#include <map>
#include <memory>

#include "platform/framework/cstring.h"
#include "platform/winapi.h"

class CCmdTarget;
class CWnd;
class CDialog;

typedef LRESULT (*AFX_MSG_HANDLER)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // 0 ends the map
    UINT nCode;     // WM_COMMAND: the notification code
    UINT nID;       // WM_COMMAND: the control or command ID
    AFX_MSG_HANDLER pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                      \
protected:                                         \
    static const AFX_MSGMAP* GetThisMessageMap();  \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                          \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }   \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                   \
        typedef theClass ThisClass;                                                     \
        typedef baseClass TheBaseClass;                                                 \
        static_cast<void>(sizeof(ThisClass*));                                          \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                                \
            {0, 0, 0, nullptr}};                                                         \
        static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
        return &messageMap;                                                              \
    }

#define ON_COMMAND(id, memberFxn)                                                              \
    {WM_COMMAND, 0, static_cast<UINT>(id), [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {      \
         (static_cast<ThisClass*>(t)->*(memberFxn))();                                         \
         return 0;                                                                             \
     }},
#define ON_BN_CLICKED(id, memberFxn)                                                           \
    {WM_COMMAND, BN_CLICKED, static_cast<UINT>(id), [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT { \
         (static_cast<ThisClass*>(t)->*(memberFxn))();                                         \
         return 0;                                                                             \
     }},
#define ON_WM_SYSCOMMAND()                                                                     \
    {WM_SYSCOMMAND, 0, 0, [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT {                   \
         static_cast<ThisClass*>(t)->OnSysCommand(static_cast<UINT>(w), l);                    \
         return 0;                                                                             \
     }},
#define ON_WM_PAINT()                                                                          \
    {WM_PAINT, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {                            \
         static_cast<ThisClass*>(t)->OnPaint();                                                \
         return 0;                                                                             \
     }},
#define ON_WM_QUERYDRAGICON()                                                                  \
    {WM_QUERYDRAGICON, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {                    \
         return reinterpret_cast<LRESULT>(static_cast<ThisClass*>(t)->OnQueryDragIcon());      \
     }},

// Run-time class information is not used by this program.
#define DECLARE_DYNAMIC(theClass)
#define IMPLEMENT_DYNAMIC(theClass, baseClass)

class CCmdTarget {
public:
    CCmdTarget() = default;
    virtual ~CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;

    // The handler for a message in this object's maps (most derived first).
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT message, UINT code, UINT id) const;
};

class CMenu {
public:
    HMENU m_hMenu = nullptr;
    HMENU GetSafeHmenu() const { return m_hMenu; }
    BOOL AppendMenu(UINT flags, UINT_PTR idNewItem = 0, LPCSTR newItem = nullptr) {
        return ::AppendMenuA(m_hMenu, flags, idNewItem, newItem);
    }
};

class CDC {
public:
    HDC m_hDC = nullptr;
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }
};

class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    ~CWnd() override;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // The object attached to a window, if any.
    static CWnd* FromHandlePermanent(HWND window);
    BOOL Attach(HWND window);
    HWND Detach();

    virtual BOOL DestroyWindow();
    BOOL ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
    void UpdateWindow() { ::UpdateWindow(m_hWnd); }
    void Invalidate(BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, erase); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
    BOOL SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }
    void GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    // The control with that ID, as an object that lives as long as this one.
    CWnd* GetDlgItem(int id) const;

    void SetWindowText(LPCSTR text) { ::SetWindowTextA(m_hWnd, text); }
    int GetWindowText(LPSTR buffer, int bufferMax) const { return ::GetWindowTextA(m_hWnd, buffer, bufferMax); }
    void GetWindowText(CString& text) const;
    int GetWindowTextLength() const { return ::GetWindowTextLengthA(m_hWnd); }

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return ::PostMessageA(m_hWnd, message, wParam, lParam);
    }

    // The window's system menu, or null when it has none.
    CMenu* GetSystemMenu(BOOL revert);
    HICON SetIcon(HICON icon, BOOL bigIcon);

    // Message handling.  A handler that calls Default() leaves the message to
    // the system's default processing, which runs when the handler returns.
    virtual BOOL PreTranslateMessage(MSG* msg);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    LRESULT Default();
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();

    // Called when the window is gone (WM_NCDESTROY).
    virtual void PostNcDestroy() {}

    // Hands a message to PreTranslateMessage of its window and each parent in
    // turn, as the framework's loops do; true when one of them took it.
    static BOOL WalkPreTranslateTree(MSG* msg);

    DECLARE_MESSAGE_MAP()

private:
    friend INT_PTR CALLBACK AfxDialogProc(HWND, UINT, WPARAM, LPARAM);
    void DetachChildren();

    CMenu m_systemMenu;
    std::map<HWND, std::unique_ptr<CWnd>> m_tempChildren;
    bool m_defaultWanted = false;
};

class CEdit : public CWnd {};
class CStatic : public CWnd {};
class CButton : public CWnd {};

class CProgressCtrl : public CWnd {
public:
    int SetPos(int pos) { return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(pos), 0)); }
    int GetPos() { return static_cast<int>(SendMessage(PBM_GETPOS, 0, 0)); }
    void SetRange(short lower, short upper) { SendMessage(PBM_SETRANGE, 0, MAKELPARAM(lower, upper)); }
    void SetRange32(int lower, int upper) {
        SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
    }
};

class CListCtrl : public CWnd {
public:
    int InsertColumn(int column, LPCSTR heading, int format = LVCFMT_LEFT, int width = -1, int subItem = -1);
    int InsertItem(int item, LPCSTR text);
    DWORD SetExtendedStyle(DWORD style) {
        return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, static_cast<LPARAM>(style)));
    }
    DWORD GetExtendedStyle() { return static_cast<DWORD>(SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0)); }
    int GetItemCount() { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT, 0, 0)); }
    CString GetItemText(int item, int subItem);
    BOOL DeleteAllItems() { return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS, 0, 0)); }
};

class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* window);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    PAINTSTRUCT m_ps;

private:
    HWND m_hWnd;
};

class CDataExchange {
public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
    BOOL m_bSaveAndValidate;  // TRUE: controls to members; FALSE: members to controls
    CWnd* m_pDlgWnd;
};

// Binds a control of the dialog to a control object (once).
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
// Exchanges a control's text with a string member.
void DDX_Text(CDataExchange* pDX, int id, CString& value);

class CDialog : public CWnd {
public:
    explicit CDialog(UINT idTemplate, CWnd* parent = nullptr);
    ~CDialog() override;

    // Runs the dialog modally: returns the value given to EndDialog, or -1
    // when the dialog could not be created.
    virtual INT_PTR DoModal();
    // Creates the dialog modeless.
    virtual BOOL Create(UINT idTemplate, CWnd* parent = nullptr);
    void EndDialog(int result);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    BOOL PreTranslateMessage(MSG* msg) override;

protected:
    virtual void DoDataExchange(CDataExchange* pDX);

    UINT m_nIDHelp;
    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()

private:
    BOOL RunModalLoop();
    HWND OwnerWindow() const;

    bool m_continueModal = false;
    int m_nModalResult = -1;
};

class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(LPCSTR appName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    virtual int ExitInstance();
    // The application's own message loop (only when InitInstance returns TRUE).
    virtual int Run();
    // The code the process ends with.
    void SetExitCode(int code) { m_exitCode = code; }

    HICON LoadIcon(UINT id) const { return ::LoadIconA(m_hInstance, MAKEINTRESOURCEA(id)); }

    LPCSTR m_pszAppName = nullptr;
    LPCSTR m_pszExeName = nullptr;  // module file name without folder and extension
    HINSTANCE m_hInstance = nullptr;
    CWnd* m_pMainWnd = nullptr;

private:
    friend int RunApplication();
    void SetCurrentHandles();

    CString m_appName;
    CString m_exeName;
    int m_exitCode = 0;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
// Dialogs hold no ActiveX controls; kept for the start-up sequence's shape.
inline void AfxEnableControlContainer() {}

// The program's entry, called by main/WinMain: runs the one application
// object (InitInstance, then Run or not, then ExitInstance) and returns the
// process exit code; -1 when there is no application object.
int RunApplication();
