// Windows, their message maps and the simple controls.
#include <vector>

#include "platform/framework/afxwin.h"

namespace {

// Objects attached to windows, by handle.  One user-interface thread: no lock.
std::map<HWND, CWnd*>& HandleMap() {
    static std::map<HWND, CWnd*> map;
    return map;
}

}  // namespace

// ---------------------------------------------------------------------------
// Message maps

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT message, UINT code, UINT id) const {
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->nMessage != 0; ++e) {
            if (e->nMessage != message) continue;
            if (message == WM_COMMAND && (e->nCode != code || e->nID != id)) continue;
            return e;
        }
    }
    return nullptr;
}

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

// ---------------------------------------------------------------------------
// CWnd

CWnd::~CWnd() {
    // A window still attached goes with its object, so no handle outlives
    // the object that answers its messages.
    if (m_hWnd) {
        const HWND window = m_hWnd;
        Detach();
        if (::IsWindow(window)) ::DestroyWindow(window);
    }
}

CWnd* CWnd::FromHandlePermanent(HWND window) {
    auto it = HandleMap().find(window);
    return it == HandleMap().end() ? nullptr : it->second;
}

BOOL CWnd::Attach(HWND window) {
    if (!window || m_hWnd) return FALSE;
    m_hWnd = window;
    HandleMap()[window] = this;
    return TRUE;
}

HWND CWnd::Detach() {
    const HWND window = m_hWnd;
    if (window) {
        auto it = HandleMap().find(window);
        if (it != HandleMap().end() && it->second == this) HandleMap().erase(it);
    }
    m_hWnd = nullptr;
    return window;
}

void CWnd::DetachChildren() {
    // Controls die with their dialog: their objects let go of the handles.
    std::vector<CWnd*> children;
    for (auto& entry : HandleMap()) {
        if (entry.second != this && ::IsChild(m_hWnd, entry.first)) children.push_back(entry.second);
    }
    for (CWnd* child : children) child->Detach();
    m_tempChildren.clear();
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd) return FALSE;
    const HWND window = m_hWnd;
    const BOOL done = ::DestroyWindow(window);
    // A window without a dialog procedure of ours is not detached on its way
    // out: do it here.
    if (m_hWnd == window) {
        DetachChildren();
        Detach();
    }
    return done;
}

CWnd* CWnd::GetDlgItem(int id) const {
    const HWND control = ::GetDlgItem(m_hWnd, id);
    if (!control) return nullptr;
    if (CWnd* permanent = FromHandlePermanent(control)) return permanent;
    auto& slot = const_cast<CWnd*>(this)->m_tempChildren[control];
    if (!slot) {
        slot.reset(new CWnd);
        slot->m_hWnd = control;  // not attached: the temporary never destroys it
    }
    return slot.get();
}

void CWnd::GetWindowText(CString& text) const {
    const int length = ::GetWindowTextLengthA(m_hWnd);
    std::vector<char> buffer(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    const int got = ::GetWindowTextA(m_hWnd, buffer.data(), static_cast<int>(buffer.size()));
    text = CString(buffer.data(), got);
}

CMenu* CWnd::GetSystemMenu(BOOL revert) {
    m_systemMenu.m_hMenu = ::GetSystemMenu(m_hWnd, revert);
    return m_systemMenu.m_hMenu ? &m_systemMenu : nullptr;
}

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    const bool outerDefault = m_defaultWanted;
    m_defaultWanted = false;
    BOOL handled = FALSE;
    *result = 0;
    if (message == WM_COMMAND) {
        handled = OnCommand(wParam, lParam);
    } else if (const AFX_MSGMAP_ENTRY* e = FindMessageEntry(message, 0, 0)) {
        *result = e->pfn(this, wParam, lParam);
        handled = TRUE;
    }
    if (m_defaultWanted) handled = FALSE;
    m_defaultWanted = outerDefault;
    return handled;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    const AFX_MSGMAP_ENTRY* e = FindMessageEntry(WM_COMMAND, HIWORD(wParam), LOWORD(wParam));
    if (!e) return FALSE;
    e->pfn(this, wParam, lParam);
    return TRUE;
}

LRESULT CWnd::Default() {
    m_defaultWanted = true;
    return 0;
}

void CWnd::OnSysCommand(UINT, LPARAM) { Default(); }
void CWnd::OnPaint() { Default(); }
HCURSOR CWnd::OnQueryDragIcon() { return nullptr; }

BOOL CWnd::WalkPreTranslateTree(MSG* msg) {
    for (HWND h = msg->hwnd; h; h = ::GetParent(h)) {
        CWnd* w = FromHandlePermanent(h);
        if (w && w->PreTranslateMessage(msg)) return TRUE;
    }
    return FALSE;
}

// ---------------------------------------------------------------------------
// Controls

int CListCtrl::InsertColumn(int column, LPCSTR heading, int format, int width, int subItem) {
    LVCOLUMNA c = {};
    c.mask = LVCF_FMT | LVCF_TEXT;
    c.fmt = format;
    c.pszText = const_cast<LPSTR>(heading);
    if (width != -1) {
        c.mask |= LVCF_WIDTH;
        c.cx = width;
    }
    if (subItem != -1) {
        c.mask |= LVCF_SUBITEM;
        c.iSubItem = subItem;
    }
    return static_cast<int>(SendMessage(LVM_INSERTCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&c)));
}

int CListCtrl::InsertItem(int item, LPCSTR text) {
    LVITEMA i = {};
    i.mask = LVIF_TEXT;
    i.iItem = item;
    i.pszText = const_cast<LPSTR>(text);
    return static_cast<int>(SendMessage(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&i)));
}

CString CListCtrl::GetItemText(int item, int subItem) {
    // The control cuts a text to the buffer without saying so: grow the
    // buffer until the text fits with room to spare.
    for (int size = 256; size <= (1 << 20); size *= 4) {
        std::vector<char> buffer(static_cast<size_t>(size), '\0');
        LVITEMA i = {};
        i.iSubItem = subItem;
        i.pszText = buffer.data();
        i.cchTextMax = size;
        const int n = static_cast<int>(
            SendMessage(LVM_GETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&i)));
        if (n < size - 1) return CString(buffer.data(), n);
    }
    return CString();
}

CPaintDC::CPaintDC(CWnd* window) : m_ps(), m_hWnd(window ? window->m_hWnd : nullptr) {
    m_hDC = ::BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }

// ---------------------------------------------------------------------------
// Data exchange

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (control.m_hWnd) return;  // bound on the first exchange
    control.Attach(::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, id));
}

void DDX_Text(CDataExchange* pDX, int id, CString& value) {
    const HWND control = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, id);
    if (!control) return;
    if (pDX->m_bSaveAndValidate) {
        const int length = ::GetWindowTextLengthA(control);
        std::vector<char> buffer(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
        const int got = ::GetWindowTextA(control, buffer.data(), static_cast<int>(buffer.size()));
        value = CString(buffer.data(), got);
        return;
    }
    // As the classic framework does, an unchanged text is not set again (no
    // flicker).
    const int length = ::GetWindowTextLengthA(control);
    if (length == value.GetLength()) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
        const int got = ::GetWindowTextA(control, buffer.data(), static_cast<int>(buffer.size()));
        if (CString(buffer.data(), got) == value) return;
    }
    ::SetWindowTextA(control, value);
}
