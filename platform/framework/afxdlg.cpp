// Dialogs: modal and modeless runs from the program's templates, data
// exchange and the dialog procedure that routes messages to the objects.
#include <cstring>
#include <vector>

#include "platform/framework/afxwin.h"

namespace {

// Whether a dialog template says where its dialog goes: centred by the
// system (DS_CENTER, DS_CENTERMOUSE) or at a position of its own.
bool TemplatePlacesDialog(const std::vector<unsigned char>& dialogTemplate, bool extended) {
    const size_t styleAt = extended ? 12 : 0;
    const size_t xAt = extended ? 18 : 10;
    if (dialogTemplate.size() < xAt + 4) return true;  // too short to say: leave it be
    DWORD style = 0;
    std::memcpy(&style, &dialogTemplate[styleAt], sizeof style);
    short x = 0, y = 0;
    std::memcpy(&x, &dialogTemplate[xAt], sizeof x);
    std::memcpy(&y, &dialogTemplate[xAt + 2], sizeof y);
    return (style & (DS_CENTER | DS_CENTERMOUSE)) != 0 || x != 0 || y != 0;
}

// Centres a dialog on its owner when the owner is on screen, else on the
// work area of the owner's monitor (or of its own), and keeps it inside that
// work area with its top-left corner first, so that the caption stays within
// reach even when the dialog is larger than the screen.  When the system
// cannot say where things are, the dialog stays where it is.
void CentreDialog(HWND window, HWND owner) {
    RECT self;
    if (!::GetWindowRect(window, &self)) return;
    const HMONITOR monitor = ::MonitorFromWindow(owner ? owner : window, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    if (!monitor || !::GetMonitorInfoA(monitor, &info)) return;
    const RECT work = info.rcWork;
    RECT around = work;
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) {
        RECT ownerRect;
        if (::GetWindowRect(owner, &ownerRect)) around = ownerRect;
    }
    const LONG width = self.right - self.left;
    const LONG height = self.bottom - self.top;
    LONG x = around.left + ((around.right - around.left) - width) / 2;
    LONG y = around.top + ((around.bottom - around.top) - height) / 2;
    if (x + width > work.right) x = work.right - width;
    if (x < work.left) x = work.left;
    if (y + height > work.bottom) y = work.bottom - height;
    if (y < work.top) y = work.top;
    ::SetWindowPos(window, nullptr, static_cast<int>(x), static_cast<int>(y), 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

// The one dialog procedure of every framework dialog.  The object comes in
// through WM_INITDIALOG's parameter and stays in the window's user data.
INT_PTR CALLBACK AfxDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* dialog = nullptr;
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<CDialog*>(lParam);
        if (!dialog) return FALSE;
        ::SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
        dialog->Attach(window);
        return dialog->OnInitDialog();
    }
    dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!dialog || dialog->m_hWnd != window) return FALSE;
    if (message == WM_DESTROY) {
        dialog->DetachChildren();
        return FALSE;
    }
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        dialog->Detach();
        dialog->PostNcDestroy();
        return FALSE;
    }
    LRESULT result = 0;
    if (!dialog->OnWndMsg(message, wParam, lParam, &result)) return FALSE;
    // A few messages answer through the procedure's own result; the rest
    // through the message result slot.
    if (message == WM_QUERYDRAGICON) return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
    return TRUE;
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT idTemplate, CWnd* parent)
    : m_nIDHelp(idTemplate), m_nIDTemplate(idTemplate), m_pParentWnd(parent) {}

CDialog::~CDialog() {
    if (m_hWnd) {
        const HWND window = m_hWnd;
        ::DestroyWindow(window);  // detaches through the dialog procedure
        if (m_hWnd == window) Detach();
    }
}

HWND CDialog::OwnerWindow() const {
    // Without a parent, the application's main window owns the dialog, as
    // the classic framework does; an owner is always a top-level window.
    HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    if (!owner) {
        CWnd* main = AfxGetMainWnd();
        if (main && main != this) owner = main->m_hWnd;
        // Rather the main window's popup the user was last working in (the
        // start notice, a report window): it is disabled while the new
        // dialog runs and active again when it ends.  Owned by the main
        // window while that is hidden, a question would leave the keyboard
        // to the hidden main dialog, whose Enter then runs its own button.
        if (owner) owner = ::GetLastActivePopup(owner);
    }
    while (owner && (static_cast<DWORD>(::GetWindowLongPtrA(owner, GWL_STYLE)) & WS_CHILD)) owner = ::GetParent(owner);
    return owner;
}

INT_PTR CDialog::DoModal() {
    const HINSTANCE instance = AfxGetInstanceHandle();
    const HRSRC resource = ::FindResourceA(instance, MAKEINTRESOURCEA(m_nIDTemplate), RT_DIALOG);
    const HGLOBAL loaded = resource ? ::LoadResource(instance, resource) : nullptr;
    const unsigned char* data = loaded ? static_cast<const unsigned char*>(::LockResource(loaded)) : nullptr;
    const DWORD size = resource ? ::SizeofResource(instance, resource) : 0;
    if (!data || size < 16) return -1;

    // A modal dialog appears when its loop starts, so that one ended during
    // its initialisation is never seen: the copy of the template loses
    // WS_VISIBLE.  The extended template keeps its style at byte 12, the
    // plain one at byte 0 (both little-endian).
    std::vector<unsigned char> copy(data, data + size);
    const bool extended = copy[0] == 1 && copy[1] == 0 && copy[2] == 0xFF && copy[3] == 0xFF;
    const size_t styleAt = extended ? 12 : 0;
    const bool placed = TemplatePlacesDialog(copy, extended);
    DWORD style = 0;
    std::memcpy(&style, &copy[styleAt], sizeof style);
    style &= ~static_cast<DWORD>(WS_VISIBLE);
    std::memcpy(&copy[styleAt], &style, sizeof style);

    const HWND owner = OwnerWindow();
    const bool disableOwner = owner && ::IsWindowEnabled(owner);
    if (disableOwner) ::EnableWindow(owner, FALSE);

    m_continueModal = true;
    m_nModalResult = -1;
    const HWND window = ::CreateDialogIndirectParamA(instance, reinterpret_cast<LPCDLGTEMPLATEA>(copy.data()), owner,
                                                     AfxDialogProc, reinterpret_cast<LPARAM>(this));
    if (window && m_continueModal && m_hWnd) {
        // Placed after the initialisation, which may have hidden or moved
        // the owner, and before the dialog first appears.
        if (!placed) CentreDialog(m_hWnd, owner);
        ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
        RunModalLoop();
    }
    m_continueModal = false;

    if (disableOwner) ::EnableWindow(owner, TRUE);
    if (owner && ::IsWindowVisible(owner)) ::SetActiveWindow(owner);
    if (m_hWnd) DestroyWindow();
    return m_nModalResult;
}

BOOL CDialog::RunModalLoop() {
    while (m_continueModal) {
        MSG msg;
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            // The application is quitting: let the outer loop see it too.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got == -1) break;
        if (!WalkPreTranslateTree(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
    return TRUE;
}

BOOL CDialog::Create(UINT idTemplate, CWnd* parent) {
    m_nIDTemplate = idTemplate;
    m_pParentWnd = parent;
    const HWND window = ::CreateDialogParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(idTemplate), OwnerWindow(),
                                             AfxDialogProc, reinterpret_cast<LPARAM>(this));
    return window != nullptr;
}

void CDialog::EndDialog(int result) {
    m_nModalResult = result;
    m_continueModal = false;
    if (m_hWnd) ::EndDialog(m_hWnd, result);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    if (!m_hWnd) return FALSE;
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
    // Keyboard and mouse input for this dialog goes through the dialog
    // manager (Enter, Escape); the rest is dispatched as usual.
    const bool input = (msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST) ||
                       (msg->message >= WM_MOUSEFIRST && msg->message <= WM_MOUSELAST);
    if (!input || !m_hWnd) return FALSE;
    if (msg->hwnd != m_hWnd && !::IsChild(m_hWnd, msg->hwnd)) return FALSE;
    return ::IsDialogMessageA(m_hWnd, msg);
}
