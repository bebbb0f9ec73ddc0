// The window core of the simulated machine: the table of windows, the
// default procedures of the controls and dialogs, dialogs made from the
// program's templates, and the message queue.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/sim/window_core.h"

namespace sim {

WindowState& W() {
    static WindowState state;
    return state;
}

Window* Find(HWND h) {
    if (!h) return nullptr;
    auto it = W().windows.find(reinterpret_cast<uintptr_t>(h));
    return it == W().windows.end() ? nullptr : &it->second;
}

Window* DialogOf(HWND h) {
    Window* w = Find(h);
    while (w && !w->isDialog) w = Find(w->parent);
    return w;
}

int TemplateOf(HWND h) {
    Window* d = DialogOf(h);
    return d ? d->templateId : 0;
}

void Note(UiEvent e) { W().transcript.push_back(std::move(e)); }

void NoteFor(HWND h, UiEvent::Kind kind, const std::string& text, long long value, const std::string& by) {
    Window* w = Find(h);
    UiEvent e;
    e.kind = kind;
    e.dialog = TemplateOf(h);
    e.control = w && !w->isDialog ? w->id : 0;
    e.text = text;
    e.value = value;
    e.by = by;
    Note(e);
}

HWND NewWindowHandle() {
    const uintptr_t h = W().nextHandle;
    W().nextHandle += 4;
    ++W().created;
    return reinterpret_cast<HWND>(h);
}

HMENU MenuHandle(HWND h) { return reinterpret_cast<HMENU>(reinterpret_cast<uintptr_t>(h) + 2); }
Window* MenuWindow(HMENU menu) {
    const uintptr_t v = reinterpret_cast<uintptr_t>(menu);
    return (v & 3) == 2 ? Find(reinterpret_cast<HWND>(v - 2)) : nullptr;
}

int DefaultButton(HWND dialog) {
    Window* d = Find(dialog);
    if (!d) return IDOK;
    for (HWND c : d->children) {
        Window* w = Find(c);
        if (w && SameClass(w->cls, "Button") && (w->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) return w->id;
    }
    return IDOK;
}

LRESULT SetText(HWND h, LPCSTR text) {
    Window* w = Find(h);
    if (!w) return FALSE;
    w->text = text ? text : "";
    const std::string copy = w->text;
    NoteFor(h, UiEvent::kText, copy);
    RunReactions(h, UiEvent::kText);
    return TRUE;
}

LRESULT GetText(HWND h, WPARAM max, LPARAM buffer) {
    Window* w = Find(h);
    char* out = reinterpret_cast<char*>(buffer);
    if (!w || !out || max == 0) return 0;
    const size_t n = std::min(w->text.size(), static_cast<size_t>(max) - 1);
    std::memcpy(out, w->text.data(), n);
    out[n] = '\0';
    return static_cast<LRESULT>(n);
}

// A progress bar's messages.
LRESULT ProgressProc(Window* w, HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case PBM_SETPOS: {
        const int previous = w->pos;
        int pos = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (pos < w->low) pos = w->low;
        if (pos > w->high) pos = w->high;
        w->pos = pos;
        NoteFor(h, UiEvent::kPosition, std::string(), pos);
        RunReactions(h, UiEvent::kPosition);
        return previous;
    }
    case PBM_DELTAPOS: {
        const int previous = w->pos;
        SendMessageA(h, PBM_SETPOS, static_cast<WPARAM>(previous + static_cast<int>(wParam)), 0);
        return previous;
    }
    case PBM_GETPOS: return w->pos;
    case PBM_SETRANGE: {
        const LRESULT previous = MAKELONG(w->low, w->high);
        w->low = static_cast<short>(LOWORD(lParam));
        w->high = static_cast<short>(HIWORD(lParam));
        return previous;
    }
    case PBM_SETRANGE32: {
        const LRESULT previous = MAKELONG(w->low, w->high);
        w->low = static_cast<int>(static_cast<INT_PTR>(wParam));
        w->high = static_cast<int>(lParam);
        return previous;
    }
    case PBM_GETRANGE: return wParam ? w->low : w->high;
    default: return 0;
    }
}

// A list view's messages: one column of rows.
LRESULT ListViewProc(Window* w, HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case LVM_INSERTCOLUMNA: {
        const LVCOLUMNA* c = reinterpret_cast<const LVCOLUMNA*>(lParam);
        if (!c) return -1;
        Column column{(c->mask & LVCF_TEXT) && c->pszText ? c->pszText : "",
                      (c->mask & LVCF_WIDTH) ? c->cx : 0};
        size_t at = static_cast<size_t>(wParam);
        if (at > w->columns.size()) at = w->columns.size();
        w->columns.insert(w->columns.begin() + static_cast<std::ptrdiff_t>(at), column);
        NoteFor(h, UiEvent::kColumn, column.heading, column.width);
        return static_cast<LRESULT>(at);
    }
    case LVM_GETCOLUMNWIDTH:
        return wParam < w->columns.size() ? w->columns[wParam].width : 0;
    case LVM_INSERTITEMA: {
        const LVITEMA* item = reinterpret_cast<const LVITEMA*>(lParam);
        if (!item || item->iSubItem != 0) return -1;
        size_t at = item->iItem < 0 ? w->rows.size() : static_cast<size_t>(item->iItem);
        if (at > w->rows.size()) at = w->rows.size();
        const std::string text = (item->mask & LVIF_TEXT) && item->pszText ? item->pszText : "";
        w->rows.insert(w->rows.begin() + static_cast<std::ptrdiff_t>(at), text);
        NoteFor(h, UiEvent::kRow, text, static_cast<long long>(at));
        return static_cast<LRESULT>(at);
    }
    case LVM_DELETEALLITEMS: w->rows.clear(); return TRUE;
    case LVM_GETITEMCOUNT: return static_cast<LRESULT>(w->rows.size());
    case LVM_GETITEMTEXTA: {
        LVITEMA* item = reinterpret_cast<LVITEMA*>(lParam);
        if (!item || !item->pszText || item->cchTextMax <= 0) return 0;
        // Sub-items hold no text: the list has one column of rows.
        const std::string text =
            wParam < w->rows.size() && item->iSubItem == 0 ? w->rows[wParam] : std::string();
        const size_t n = std::min(text.size(), static_cast<size_t>(item->cchTextMax) - 1);
        std::memcpy(item->pszText, text.data(), n);
        item->pszText[n] = '\0';
        return static_cast<LRESULT>(n);
    }
    case LVM_SETEXTENDEDLISTVIEWSTYLE: {
        const DWORD previous = w->listExStyle;
        const DWORD mask = wParam ? static_cast<DWORD>(wParam) : 0xFFFFFFFFu;
        w->listExStyle = (previous & ~mask) | (static_cast<DWORD>(lParam) & mask);
        return previous;
    }
    case LVM_GETEXTENDEDLISTVIEWSTYLE: return w->listExStyle;
    default: return 0;
    }
}

LRESULT ControlProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(h);
    if (!w) return 0;
    // What changes a control's look leaves it to be painted: a control
    // paints itself only when it gets WM_PAINT.
    if (message == WM_SETTEXT || message == PBM_SETPOS || message == LVM_INSERTITEMA) w->invalid = true;
    switch (message) {
    case WM_SETTEXT: return SetText(h, reinterpret_cast<LPCSTR>(lParam));
    case WM_GETTEXT: return GetText(h, wParam, lParam);
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(w->text.size());
    case WM_PAINT: w->invalid = false; return 0;
    default: break;
    }
    if (SameClass(w->cls, "Button") && message == BM_CLICK) {
        if (!w->enabled) return 0;
        const HWND parent = w->parent;
        const int id = w->id;
        SendMessageA(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(h));
        return 0;
    }
    if (SameClass(w->cls, "msctls_progress32")) return ProgressProc(w, h, message, wParam, lParam);
    if (SameClass(w->cls, "SysListView32")) return ListViewProc(w, h, message, wParam, lParam);
    return 0;
}

// Messages whose dialog-procedure result is the message's own result.
bool ReturnsDirectly(UINT message) { return message == WM_INITDIALOG || message == WM_QUERYDRAGICON; }

LRESULT CallDialog(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(h);
    if (!w) return 0;
    const DLGPROC proc = w->dlgProc;
    w->msgResult = 0;
    const INT_PTR handled = proc ? proc(h, message, wParam, lParam) : FALSE;
    if (ReturnsDirectly(message)) return handled;
    if (handled) {
        Window* still = Find(h);
        return still ? still->msgResult : 0;
    }
    return DialogDefault(h, message, wParam, lParam);
}

LRESULT Send(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(h);
    if (!w) return 0;
    return w->isDialog ? CallDialog(h, message, wParam, lParam) : ControlProc(h, message, wParam, lParam);
}

void PressButton(HWND dialog, int id, const char* by) {
    const HWND button = GetDlgItem(dialog, id);
    Window* b = Find(button);
    if (b && !b->enabled) {
        MessageBeep(MB_OK);
        return;
    }
    NoteFor(dialog, UiEvent::kPressed, std::string(), 0, by);
    W().transcript.back().control = id;
    Send(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

LRESULT DialogDefault(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(h);
    if (!w) return 0;
    switch (message) {
    case WM_SETTEXT: return SetText(h, reinterpret_cast<LPCSTR>(lParam));
    case WM_GETTEXT: return GetText(h, wParam, lParam);
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(w->text.size());
    case WM_SETICON: {
        const int which = wParam == ICON_BIG ? 1 : 0;
        HICON previous = w->icons[which];
        w->icons[which] = reinterpret_cast<HICON>(lParam);
        NoteFor(h, UiEvent::kIcon, std::string(), which ? ICON_BIG : ICON_SMALL);
        return reinterpret_cast<LRESULT>(previous);
    }
    case WM_GETICON: return reinterpret_cast<LRESULT>(w->icons[wParam == ICON_BIG ? 1 : 0]);
    case WM_PAINT: w->invalid = false; return 0;
    case WM_CLOSE: {
        // The close box answers like the cancel button.
        const HWND cancel = GetDlgItem(h, IDCANCEL);
        Window* c = Find(cancel);
        if (c && !c->enabled) {
            MessageBeep(MB_OK);
            return 0;
        }
        Send(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
        return 0;
    }
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE: Send(h, WM_CLOSE, 0, 0); break;
        case SC_MINIMIZE: ShowWindow(h, SW_MINIMIZE); break;
        case SC_RESTORE: ShowWindow(h, SW_RESTORE); break;
        default: break;
        }
        return 0;
    case DM_GETDEFID: return MAKELONG(DefaultButton(h), DC_HASDEFID);
    default: return 0;
    }
}

HWND CreateFromTemplate(const DialogTemplate& t, int templateId, HWND parent, DLGPROC proc, LPARAM param) {
    if (parent && !Find(parent)) {
        M().lastError = ERROR_INVALID_WINDOW_HANDLE;
        return nullptr;
    }
    const HWND h = NewWindowHandle();
    {
        Window d;
        d.handle = h;
        d.cls = "#32770";
        d.text = t.title;
        d.style = t.style;
        d.exStyle = t.exStyle;
        d.parent = parent;
        d.isDialog = true;
        d.templateId = templateId;
        d.dlu = t.dlu;
        d.dlgProc = proc;
        d.enabled = !(t.style & WS_DISABLED);
        W().windows[reinterpret_cast<uintptr_t>(h)] = d;
    }
    NoteFor(h, UiEvent::kCreated, t.title, TemplateOf(parent));
    HWND focus = nullptr;
    for (const ItemTemplate& item : t.items) {
        const HWND c = NewWindowHandle();
        Window w;
        w.handle = c;
        w.cls = item.cls;
        w.text = item.textOrdinal < 0 ? item.text : std::string();
        w.iconResource = item.textOrdinal;
        w.style = item.style | WS_CHILD;
        w.exStyle = item.exStyle;
        w.id = item.id;
        w.parent = h;
        w.dlu = item.dlu;
        w.visible = (item.style & WS_VISIBLE) != 0;
        w.enabled = !(item.style & WS_DISABLED);
        if (!focus && w.visible && w.enabled && (item.style & WS_TABSTOP)) focus = c;
        W().windows[reinterpret_cast<uintptr_t>(c)] = w;
        Find(h)->children.push_back(c);
    }
    Find(h)->focus = focus;
    const INT_PTR setFocus = CallDialog(h, WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), param);
    Window* d = Find(h);
    if (!d) return nullptr;  // destroyed during its initialisation
    if (setFocus && focus && Find(focus)) W().focus = focus;
    if ((t.style & WS_VISIBLE) && !d->visible) ShowWindow(h, SW_SHOW);
    return h;
}

HWND ActiveDialogWindow() {
    Window* best = nullptr;
    for (auto& entry : W().windows) {
        Window& w = entry.second;
        if (!w.isDialog || !w.visible || !w.enabled || w.destroying) continue;
        if (!best || w.shownOrder > best->shownOrder) best = &w;
    }
    return best ? best->handle : nullptr;
}

void Post(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG m{};
    m.hwnd = h;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    W().queue.push_back(m);
}

// The user does one thing in a dialog.  Returns false when the user cannot

bool InFilter(const MSG& m, HWND window, UINT low, UINT high) {
    if (window && m.hwnd != window && !IsChild(window, m.hwnd)) return false;
    if (low == 0 && high == 0) return true;
    return m.message >= low && m.message <= high;
}

bool TakeMessage(LPMSG out, HWND window, UINT low, UINT high, bool remove) {
    auto& queue = W().queue;
    for (auto it = queue.begin(); it != queue.end();) {
        // Messages for windows that are gone are dropped, as Windows does.
        if (it->hwnd && !Find(it->hwnd)) {
            it = queue.erase(it);
            continue;
        }
        if (InFilter(*it, window, low, high)) {
            *out = *it;
            if (remove) queue.erase(it);
            return true;
        }
        ++it;
    }
    if (W().quitPosted && (low == 0 && high == 0)) {
        *out = MSG{};
        out->message = WM_QUIT;
        out->wParam = static_cast<WPARAM>(W().quitCode);
        if (remove) W().quitPosted = false;
        return true;
    }
    // With nothing queued, a window that needs painting gets WM_PAINT.
    for (auto& entry : W().windows) {
        Window& w = entry.second;
        if (w.invalid && !w.destroying && IsWindowVisible(w.handle) &&
            (!window || w.handle == window || IsChild(window, w.handle)) &&
            (low == 0 && high == 0 ? true : (WM_PAINT >= low && WM_PAINT <= high))) {
            *out = MSG{};
            out->hwnd = w.handle;
            out->message = WM_PAINT;
            return true;
        }
    }
    return false;
}

void PaintNow(HWND h) {
    Window* w = Find(h);
    if (!w || !IsWindowVisible(h)) return;
    if (w->invalid) {
        Send(h, WM_PAINT, 0, 0);
        w = Find(h);
        if (!w) return;
        w->invalid = false;
    }
    const std::vector<HWND> children = w->children;
    for (HWND c : children) PaintNow(c);
}

std::string Unpainted() {
    std::string list;
    for (const auto& entry : W().windows) {
        const Window& w = entry.second;
        if (!w.invalid || w.destroying || !IsWindowVisible(w.handle)) continue;
        char one[32];
        std::snprintf(one, sizeof one, "%s%d:%d", list.empty() ? "" : " ", TemplateOf(w.handle), w.isDialog ? 0 : w.id);
        list += one;
    }
    return list;
}

// ---------------------------------------------------------------------------
// Control

void ResetWindows() { W() = WindowState(); }

void RecordSleep(DWORD milliseconds) {
    UiEvent e;
    e.kind = UiEvent::kSleep;
    e.value = milliseconds;
    // What is on screen through the pause: a window still waiting for its
    // WM_PAINT shows its old look, or nothing, until the program pumps.
    e.text = Unpainted();
    Note(e);
}

}  // namespace sim
