// Window side of the simulated machine: dialogs made from the program's
// compiled templates, their controls, the message queue, a dialog manager
// with Windows' keyboard rules, the scripted user and the transcript.
//
// Every window lives in one table keyed by its handle; handles are never
// reused, so a stale handle is simply unknown.  Window procedures may create
// and destroy windows while they run: nothing here keeps a reference into
// the table across a call into the program.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

namespace sim {

namespace {

struct MenuItem {
    UINT flags;
    UINT_PTR command;
    std::string text;
};

struct Column {
    std::string heading;
    int width;
};

struct Window {
    HWND handle = nullptr;
    std::string cls;  // "#32770" for dialogs, else the control class
    std::string text;
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    HWND parent = nullptr;  // parent of a control, owner of a dialog
    std::vector<HWND> children;
    bool isDialog = false;
    int templateId = 0;
    RECT dlu{};
    DLGPROC dlgProc = nullptr;
    LONG_PTR userData = 0;
    LONG_PTR msgResult = 0;
    bool visible = false;
    bool enabled = true;
    bool iconic = false;
    bool invalid = false;
    bool destroying = false;
    uint64_t shownOrder = 0;
    HWND focus = nullptr;
    std::vector<MenuItem> systemMenu;
    HICON icons[2] = {nullptr, nullptr};
    int iconResource = 0;  // an icon static's icon
    // Progress bar.
    int pos = 0;
    int low = 0;
    int high = 100;
    // List view.
    std::vector<Column> columns;
    std::vector<std::string> rows;
    DWORD listExStyle = 0;
};

struct Reaction {
    int dialog;
    int control;
    UiEvent::Kind on;
    int remaining;
    UserAction action;
};

struct Resource {
    int type;
    int name;
    const unsigned char* data;
    size_t size;
};

struct WindowState {
    std::map<uintptr_t, Window> windows;
    uintptr_t nextHandle = 0x10000;
    uint64_t showCounter = 0;
    std::deque<MSG> queue;
    bool quitPosted = false;
    int quitCode = 0;
    HWND focus = nullptr;
    std::map<int, std::deque<UserAction>> answers;
    std::vector<Reaction> reactions;
    std::vector<UiEvent> transcript;
    std::map<long, Resource> resources;  // found through FindResourceA
};

WindowState& W() {
    static WindowState state;
    return state;
}

Window* Find(HWND h) {
    if (!h) return nullptr;
    auto it = W().windows.find(reinterpret_cast<uintptr_t>(h));
    return it == W().windows.end() ? nullptr : &it->second;
}

// The dialog a window belongs to: itself, or the dialog holding the control.
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

void NoteFor(HWND h, UiEvent::Kind kind, const std::string& text = std::string(), long long value = 0,
             const std::string& by = std::string()) {
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

bool SameClass(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string Readable(const std::string& ansi) {
    std::string utf8;
    if (!Utf8FromAnsi(ansi, &utf8)) return ansi;
    std::string out;
    for (char c : utf8) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

const char* KindName(UiEvent::Kind k) {
    switch (k) {
    case UiEvent::kCreated: return "created";
    case UiEvent::kShown: return "shown";
    case UiEvent::kHidden: return "hidden";
    case UiEvent::kDestroyed: return "destroyed";
    case UiEvent::kText: return "text";
    case UiEvent::kPosition: return "position";
    case UiEvent::kColumn: return "column";
    case UiEvent::kRow: return "row";
    case UiEvent::kMenuItem: return "menu item";
    case UiEvent::kPressed: return "pressed";
    case UiEvent::kKey: return "key";
    case UiEvent::kClosed: return "close box";
    case UiEvent::kSysCommand: return "system command";
    case UiEvent::kEnded: return "ended";
    case UiEvent::kBroadcast: return "broadcast";
    case UiEvent::kSleep: return "sleep";
    case UiEvent::kIcon: return "icon set";
    case UiEvent::kIconDrawn: return "icon drawn";
    }
    return "?";
}

[[noreturn]] void FailLoudly(const std::string& why) {
    std::fprintf(stderr, "\n*** simulated user: %s\n--- transcript ---\n%s--- end of transcript ---\n",
                 why.c_str(), TranscriptText().c_str());
    std::fflush(stderr);
    std::abort();
}

// ---------------------------------------------------------------------------
// Templates

uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

struct ItemTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT dlu{};
    int id = 0;
    std::string cls;
    std::string text;
    int textOrdinal = -1;
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT dlu{};
    std::string title;
    std::vector<ItemTemplate> items;
};

void AppendUtf8(std::string* out, uint32_t c) {
    if (c < 0x80) {
        *out += static_cast<char>(c);
    } else if (c < 0x800) {
        *out += static_cast<char>(0xC0 | c >> 6);
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += static_cast<char>(0xE0 | c >> 12);
        *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | c >> 18);
        *out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Reads a NUL-terminated UTF-16 string at `at` as code page 932 text.
bool ReadString(const unsigned char* base, size_t size, size_t* at, std::string* ansi) {
    std::string utf8;
    for (;;) {
        if (*at > size || size - *at < 2) return false;
        uint32_t c = U16(base + *at);
        *at += 2;
        if (c == 0) break;
        if (c >= 0xD800 && c < 0xDC00 && *at <= size && size - *at >= 2) {
            const uint32_t low = U16(base + *at);
            if (low >= 0xDC00 && low < 0xE000) {
                *at += 2;
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            }
        }
        AppendUtf8(&utf8, c);
    }
    *ansi = AnsiFromUtf8(utf8);
    return true;
}

// A name or class field: an ordinal (0xFFFF, value) or a string.
bool ReadNameOrOrdinal(const unsigned char* base, size_t size, size_t* at, int* ordinal, std::string* text) {
    if (*at > size || size - *at < 2) return false;
    const uint16_t first = U16(base + *at);
    if (first == 0xFFFF) {
        if (size - *at < 4) return false;
        *ordinal = U16(base + *at + 2);
        *at += 4;
        return true;
    }
    *ordinal = -1;
    return ReadString(base, size, at, text);
}

RECT Rect(const unsigned char* p) {
    const short x = static_cast<short>(U16(p)), y = static_cast<short>(U16(p + 2));
    const short cx = static_cast<short>(U16(p + 4)), cy = static_cast<short>(U16(p + 6));
    return RECT{x, y, x + cx, y + cy};
}

bool ParseTemplate(const unsigned char* base, size_t size, DialogTemplate* out) {
    // DLGTEMPLATEEX: version 1, signature 0xFFFF, help ID, extended style,
    // style, item count, rectangle, menu, class, title, then the font.
    if (size < 26 || U16(base) != 1 || U16(base + 2) != 0xFFFF) return false;
    out->exStyle = U32(base + 8);
    out->style = U32(base + 12);
    const int count = U16(base + 16);
    const RECT r = Rect(base + 18);
    out->dlu = RECT{0, 0, r.right - r.left, r.bottom - r.top};
    size_t at = 26;
    int ordinal = 0;
    std::string ignored;
    if (!ReadNameOrOrdinal(base, size, &at, &ordinal, &ignored)) return false;  // menu
    if (!ReadNameOrOrdinal(base, size, &at, &ordinal, &ignored)) return false;  // class
    if (!ReadString(base, size, &at, &out->title)) return false;
    if (out->style & DS_SETFONT) {
        if (size - at < 6) return false;
        at += 6;  // point size, weight, italic, character set
        if (!ReadString(base, size, &at, &ignored)) return false;
    }
    for (int i = 0; i < count; ++i) {
        at = (at + 3) & ~static_cast<size_t>(3);
        if (at > size || size - at < 24) return false;
        ItemTemplate item;
        item.exStyle = U32(base + at + 4);
        item.style = U32(base + at + 8);
        item.dlu = Rect(base + at + 12);
        item.id = static_cast<int>(static_cast<int32_t>(U32(base + at + 20)));
        at += 24;
        int classOrdinal = -1;
        if (!ReadNameOrOrdinal(base, size, &at, &classOrdinal, &item.cls)) return false;
        switch (classOrdinal) {
        case 0x80: item.cls = "Button"; break;
        case 0x81: item.cls = "Edit"; break;
        case 0x82: item.cls = "Static"; break;
        case 0x83: item.cls = "ListBox"; break;
        case 0x84: item.cls = "ScrollBar"; break;
        case 0x85: item.cls = "ComboBox"; break;
        default:
            // The resource compiler stores class names upper-cased; keep the
            // usual spelling (names compare without regard to case anyway).
            for (const char* known : {"msctls_progress32", "SysListView32"}) {
                if (SameClass(item.cls, known)) item.cls = known;
            }
            break;
        }
        if (!ReadNameOrOrdinal(base, size, &at, &item.textOrdinal, &item.text)) return false;
        if (at > size || size - at < 2) return false;
        const size_t extra = U16(base + at);
        at += 2;
        if (size - at < extra) return false;
        at += extra;
        out->items.push_back(item);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Windows

HWND NewHandle() {
    const uintptr_t h = W().nextHandle;
    W().nextHandle += 4;
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

void RunReactions(HWND control, UiEvent::Kind kind);
LRESULT DialogDefault(HWND h, UINT message, WPARAM wParam, LPARAM lParam);

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

LRESULT ControlProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(h);
    if (!w) return 0;
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
    if (SameClass(w->cls, "msctls_progress32")) {
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
    if (SameClass(w->cls, "SysListView32")) {
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
    const HWND h = NewHandle();
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
    NoteFor(h, UiEvent::kCreated, t.title);
    HWND focus = nullptr;
    for (const ItemTemplate& item : t.items) {
        const HWND c = NewHandle();
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
// (there is no such control or menu entry): a script error.
bool Act(HWND dialog, const UserAction& action, std::string* why) {
    Window* d = Find(dialog);
    if (!d) {
        *why = "the dialog is gone";
        return false;
    }
    const int templateId = d->templateId;
    char buffer[160];
    switch (action.kind) {
    case UserAction::kClick: {
        const HWND button = GetDlgItem(dialog, action.value);
        Window* b = Find(button);
        if (!b || !SameClass(b->cls, "Button")) {
            std::snprintf(buffer, sizeof buffer, "dialog %d has no button %d to click", templateId, action.value);
            *why = buffer;
            return false;
        }
        NoteFor(dialog, UiEvent::kPressed, std::string(), 0, "script");
        W().transcript.back().control = action.value;
        Post(button, BM_CLICK, 0, 0);
        return true;
    }
    case UserAction::kKey: {
        HWND target = d->focus && Find(d->focus) ? d->focus : dialog;
        if (W().focus && DialogOf(W().focus) == d) target = W().focus;
        NoteFor(dialog, UiEvent::kKey, std::string(), action.value, "script");
        Post(target, WM_KEYDOWN, static_cast<WPARAM>(action.value), 1);
        return true;
    }
    case UserAction::kCloseBox:
        if (!(d->style & WS_SYSMENU)) {
            std::snprintf(buffer, sizeof buffer, "dialog %d has no close box", templateId);
            *why = buffer;
            return false;
        }
        NoteFor(dialog, UiEvent::kClosed, std::string(), 0, "script");
        Post(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        return true;
    case UserAction::kSysCommand: {
        bool present = false;
        for (const MenuItem& item : d->systemMenu) {
            if (!(item.flags & MF_SEPARATOR) && item.command == static_cast<UINT_PTR>(action.value)) present = true;
        }
        if (!(d->style & WS_SYSMENU) || !present) {
            std::snprintf(buffer, sizeof buffer, "the system menu of dialog %d has no entry %d", templateId,
                          action.value);
            *why = buffer;
            return false;
        }
        NoteFor(dialog, UiEvent::kSysCommand, std::string(), action.value, "script");
        Post(dialog, WM_SYSCOMMAND, static_cast<WPARAM>(action.value), 0);
        return true;
    }
    }
    return false;
}

void RunReactions(HWND control, UiEvent::Kind kind) {
    Window* c = Find(control);
    Window* d = DialogOf(control);
    if (!c || !d || !d->visible) return;
    const int templateId = d->templateId;
    const int id = c->id;
    const HWND dialog = d->handle;
    std::vector<UserAction> due;
    auto& reactions = W().reactions;
    for (auto it = reactions.begin(); it != reactions.end();) {
        if (it->dialog == templateId && it->control == id && it->on == kind && --it->remaining == 0) {
            due.push_back(it->action);
            it = reactions.erase(it);
        } else {
            ++it;
        }
    }
    for (const UserAction& action : due) {
        std::string why;
        if (!Act(dialog, action, &why)) FailLoudly(why);
    }
}

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
        if (w.isDialog && w.visible && w.invalid && (!window || w.handle == window) &&
            (low == 0 && high == 0 ? true : (WM_PAINT >= low && WM_PAINT <= high))) {
            *out = MSG{};
            out->hwnd = w.handle;
            out->message = WM_PAINT;
            return true;
        }
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Control

void ResetWindows() { W() = WindowState(); }

void RecordSleep(DWORD milliseconds) {
    UiEvent e;
    e.kind = UiEvent::kSleep;
    e.value = milliseconds;
    Note(e);
}

void Answer(int dialogId, UserAction action) { W().answers[dialogId].push_back(action); }

void AtPosition(int dialogId, int barId, int nth, UserAction action) {
    W().reactions.push_back(Reaction{dialogId, barId, UiEvent::kPosition, nth < 1 ? 1 : nth, action});
}

void AtText(int dialogId, int controlId, int nth, UserAction action) {
    W().reactions.push_back(Reaction{dialogId, controlId, UiEvent::kText, nth < 1 ? 1 : nth, action});
}

int PendingUserActions() {
    size_t n = W().reactions.size();
    for (const auto& entry : W().answers) n += entry.second.size();
    return static_cast<int>(n);
}

const std::vector<UiEvent>& Transcript() { return W().transcript; }

std::string TranscriptText() {
    std::string out;
    char line[96];
    for (const UiEvent& e : W().transcript) {
        std::snprintf(line, sizeof line, "[%d", e.dialog);
        out += line;
        if (e.control) {
            std::snprintf(line, sizeof line, ":%d", e.control);
            out += line;
        }
        out += "] ";
        out += KindName(e.kind);
        switch (e.kind) {
        case UiEvent::kCreated:
        case UiEvent::kText:
        case UiEvent::kRow:
        case UiEvent::kMenuItem:
        case UiEvent::kIconDrawn:
            out += " \"" + Readable(e.text) + "\"";
            break;
        case UiEvent::kColumn:
            out += " \"" + Readable(e.text) + "\"";
            break;
        default: break;
        }
        if (e.kind == UiEvent::kPosition || e.kind == UiEvent::kColumn || e.kind == UiEvent::kKey ||
            e.kind == UiEvent::kSysCommand || e.kind == UiEvent::kEnded || e.kind == UiEvent::kBroadcast ||
            e.kind == UiEvent::kSleep || e.kind == UiEvent::kRow || e.kind == UiEvent::kMenuItem) {
            std::snprintf(line, sizeof line, " %lld", e.value);
            out += line;
        }
        if (!e.by.empty()) out += " by " + e.by;
        out += "\n";
    }
    return out;
}

std::vector<std::string> TextsShown(int dialogId, int controlId) {
    std::vector<std::string> texts;
    for (const UiEvent& e : W().transcript) {
        if (e.kind == UiEvent::kText && e.dialog == dialogId && e.control == controlId) texts.push_back(e.text);
    }
    return texts;
}

std::vector<UiEvent> EventsOf(UiEvent::Kind kind, int dialogId) {
    std::vector<UiEvent> events;
    for (const UiEvent& e : W().transcript) {
        if (e.kind == kind && (dialogId == 0 || e.dialog == dialogId)) events.push_back(e);
    }
    return events;
}

HWND FindDialog(int dialogId) {
    HWND found = nullptr;
    for (auto& entry : W().windows) {
        if (entry.second.isDialog && entry.second.templateId == dialogId) found = entry.second.handle;
    }
    return found;
}

int DialogId(HWND window) { return TemplateOf(window); }

HWND ActiveDialog() { return ActiveDialogWindow(); }

RECT TemplateRect(HWND window) {
    Window* w = Find(window);
    return w ? w->dlu : RECT{};
}

DWORD WindowStyle(HWND window) {
    Window* w = Find(window);
    return w ? w->style : 0;
}

std::string ClassName(HWND window) {
    Window* w = Find(window);
    return w ? w->cls : std::string();
}

int OpenWindowCount() { return static_cast<int>(W().windows.size()); }

}  // namespace sim

using sim::Find;
using sim::W;

// ---------------------------------------------------------------------------
// The API

HRSRC WINAPI FindResourceA(HMODULE, LPCSTR name, LPCSTR type) {
    if (sim::Enter("FindResourceA")) return nullptr;
    if (!IS_INTRESOURCE(name) || !IS_INTRESOURCE(type)) {
        sim::M().lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
        return nullptr;
    }
    const int t = static_cast<int>(reinterpret_cast<ULONG_PTR>(type));
    const int n = static_cast<int>(reinterpret_cast<ULONG_PTR>(name));
    const unsigned char* data = nullptr;
    size_t size = 0;
    if (!sim::FindResource(t, n, &data, &size)) {
        sim::M().lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
        return nullptr;
    }
    sim::Resource& r = W().resources[static_cast<long>(t) << 16 | n];
    r = sim::Resource{t, n, data, size};
    return reinterpret_cast<HRSRC>(&r);
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC resource) {
    if (!resource) return nullptr;
    return const_cast<unsigned char*>(reinterpret_cast<sim::Resource*>(resource)->data);
}

LPVOID WINAPI LockResource(HGLOBAL data) { return data; }

DWORD WINAPI SizeofResource(HMODULE, HRSRC resource) {
    return resource ? static_cast<DWORD>(reinterpret_cast<sim::Resource*>(resource)->size) : 0;
}

HWND WINAPI CreateDialogParamA(HINSTANCE, LPCSTR templateName, HWND parent, DLGPROC dialogProc, LPARAM initParam) {
    if (sim::Enter("CreateDialogParamA")) return nullptr;
    const unsigned char* data = nullptr;
    size_t size = 0;
    sim::DialogTemplate t;
    const int id = static_cast<int>(reinterpret_cast<ULONG_PTR>(templateName));
    if (!IS_INTRESOURCE(templateName) || !sim::FindResource(5, id, &data, &size) ||
        !sim::ParseTemplate(data, size, &t)) {
        sim::M().lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
        return nullptr;
    }
    return sim::CreateFromTemplate(t, id, parent, dialogProc, initParam);
}

HWND WINAPI CreateDialogIndirectParamA(HINSTANCE, LPCDLGTEMPLATEA dialogTemplate, HWND parent, DLGPROC dialogProc,
                                       LPARAM initParam) {
    if (sim::Enter("CreateDialogIndirectParamA")) return nullptr;
    // The machine knows only the program's own templates: it recognises a
    // copy of one found earlier, whatever its style words now say.
    const unsigned char* given = reinterpret_cast<const unsigned char*>(dialogTemplate);
    if (!given) {
        sim::M().lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    // The copy's size is unknown: candidates are tried from the smallest up,
    // so that no comparison reads past the end of the copy.
    std::vector<sim::Resource> candidates;
    for (const auto& entry : W().resources) {
        if (entry.second.type == 5 && entry.second.size >= 26) candidates.push_back(entry.second);
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const sim::Resource& a, const sim::Resource& b) { return a.size < b.size; });
    for (const sim::Resource& r : candidates) {
        if (std::memcmp(given, r.data, 8) != 0 || std::memcmp(given + 16, r.data + 16, r.size - 16) != 0) continue;
        sim::DialogTemplate t;
        if (!sim::ParseTemplate(r.data, r.size, &t)) break;
        t.exStyle = sim::U32(given + 8);
        t.style = sim::U32(given + 12);
        return sim::CreateFromTemplate(t, r.name, parent, dialogProc, initParam);
    }
    sim::M().lastError = ERROR_INVALID_PARAMETER;
    return nullptr;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    sim::Window* d = Find(dialog);
    if (!d || !d->isDialog) {
        sim::M().lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    sim::NoteFor(dialog, sim::UiEvent::kEnded, std::string(), result);
    ShowWindow(dialog, SW_HIDE);
    return TRUE;
}

BOOL WINAPI DestroyWindow(HWND window) {
    sim::Window* w = Find(window);
    if (!w || w->destroying) {
        sim::M().lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    w->destroying = true;
    // Owned dialogs go first, as Windows destroys owned windows.
    std::vector<HWND> owned;
    for (auto& entry : W().windows) {
        if (entry.second.isDialog && entry.second.parent == window) owned.push_back(entry.second.handle);
    }
    for (HWND o : owned) DestroyWindow(o);
    w = Find(window);
    if (!w) return TRUE;
    const bool isDialog = w->isDialog;
    if (isDialog) {
        if (w->visible) sim::NoteFor(window, sim::UiEvent::kHidden);
        w->visible = false;
        sim::NoteFor(window, sim::UiEvent::kDestroyed);
        sim::CallDialog(window, WM_DESTROY, 0, 0);
    }
    w = Find(window);
    if (w) {
        const std::vector<HWND> children = w->children;
        for (HWND c : children) DestroyWindow(c);
    }
    if (isDialog) sim::CallDialog(window, WM_NCDESTROY, 0, 0);
    w = Find(window);
    if (w) {
        if (sim::Window* p = Find(w->parent)) {
            auto& siblings = p->children;
            for (auto it = siblings.begin(); it != siblings.end(); ++it) {
                if (*it == window) {
                    siblings.erase(it);
                    break;
                }
            }
        }
        if (W().focus == window) W().focus = nullptr;
        W().windows.erase(reinterpret_cast<uintptr_t>(window));
    }
    return TRUE;
}

BOOL WINAPI IsWindow(HWND window) { return Find(window) != nullptr; }

BOOL WINAPI ShowWindow(HWND window, int command) {
    sim::Window* w = Find(window);
    if (!w) return FALSE;
    const BOOL wasVisible = w->visible;
    if (command == SW_HIDE) {
        w->visible = false;
        if (wasVisible && w->isDialog) sim::NoteFor(window, sim::UiEvent::kHidden);
        return wasVisible;
    }
    w->visible = true;
    if (command == SW_MINIMIZE || command == SW_SHOWMINIMIZED) w->iconic = true;
    if (command == SW_RESTORE || command == SW_SHOWNORMAL) w->iconic = false;
    if (!wasVisible) {
        w->shownOrder = ++W().showCounter;
        w->invalid = true;
        if (w->isDialog) sim::NoteFor(window, sim::UiEvent::kShown);
    }
    return wasVisible;
}

BOOL WINAPI UpdateWindow(HWND window) {
    sim::Window* w = Find(window);
    if (!w) return FALSE;
    if (w->isDialog && w->visible && w->invalid) {
        sim::Send(window, WM_PAINT, 0, 0);
        if (sim::Window* still = Find(window)) still->invalid = false;
    }
    return TRUE;
}

BOOL WINAPI IsWindowVisible(HWND window) {
    // Visible means the window and every parent are shown.
    for (sim::Window* w = Find(window); w; w = (w->style & WS_CHILD) ? Find(w->parent) : nullptr) {
        if (!w->visible) return FALSE;
    }
    return Find(window) != nullptr;
}

BOOL WINAPI IsIconic(HWND window) {
    sim::Window* w = Find(window);
    return w && w->iconic;
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
    sim::Window* w = Find(window);
    if (!w) return FALSE;
    const BOOL wasDisabled = !w->enabled;
    w->enabled = enable != FALSE;
    return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND window) {
    sim::Window* w = Find(window);
    return w && w->enabled;
}

BOOL WINAPI IsChild(HWND parent, HWND window) {
    sim::Window* w = Find(window);
    while (w && (w->style & WS_CHILD)) {
        if (w->parent == parent) return TRUE;
        w = Find(w->parent);
    }
    return FALSE;
}

HWND WINAPI GetParent(HWND window) {
    sim::Window* w = Find(window);
    return w ? w->parent : nullptr;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    sim::Window* d = Find(dialog);
    if (!d) return nullptr;
    for (HWND c : d->children) {
        sim::Window* w = Find(c);
        if (w && w->id == id) return c;
    }
    sim::M().lastError = 1421;  // ERROR_CONTROL_ID_NOT_FOUND
    return nullptr;
}

int WINAPI GetDlgCtrlID(HWND window) {
    sim::Window* w = Find(window);
    return w ? w->id : 0;
}

HWND WINAPI SetFocus(HWND window) {
    const HWND previous = W().focus;
    if (window && !Find(window)) return nullptr;
    W().focus = window;
    if (sim::Window* d = sim::DialogOf(window)) {
        if (d->handle != window) d->focus = window;
    }
    return previous;
}

HWND WINAPI GetFocus(void) { return W().focus; }

HWND WINAPI SetActiveWindow(HWND window) {
    sim::Window* w = Find(window);
    if (w && w->visible) w->shownOrder = ++W().showCounter;
    return nullptr;
}

BOOL WINAPI SetForegroundWindow(HWND window) {
    sim::Window* w = Find(window);
    if (!w) return FALSE;
    if (w->visible) w->shownOrder = ++W().showCounter;
    return TRUE;
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    if (!Find(window)) {
        sim::M().lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    return static_cast<BOOL>(SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
}

int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int bufferMax) {
    if (!buffer || bufferMax <= 0) return 0;
    buffer[0] = '\0';
    return static_cast<int>(SendMessageA(window, WM_GETTEXT, static_cast<WPARAM>(bufferMax),
                                         reinterpret_cast<LPARAM>(buffer)));
}

int WINAPI GetWindowTextLengthA(HWND window) {
    return static_cast<int>(SendMessageA(window, WM_GETTEXTLENGTH, 0, 0));
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
    sim::Window* w = Find(window);
    if (!w) return 0;
    LONG_PTR previous = 0;
    switch (index) {
    case GWLP_USERDATA: previous = w->userData; w->userData = value; break;
    case GWL_STYLE: previous = static_cast<LONG_PTR>(w->style); w->style = static_cast<DWORD>(value); break;
    case GWL_EXSTYLE: previous = static_cast<LONG_PTR>(w->exStyle); w->exStyle = static_cast<DWORD>(value); break;
    case GWL_ID: previous = w->id; w->id = static_cast<int>(value); break;
    case DWLP_MSGRESULT:
        if (w->isDialog) {
            previous = w->msgResult;
            w->msgResult = value;
        }
        break;
    default: break;
    }
    return previous;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index) {
    sim::Window* w = Find(window);
    if (!w) return 0;
    switch (index) {
    case GWLP_USERDATA: return w->userData;
    case GWL_STYLE: return static_cast<LONG_PTR>(w->style);
    case GWL_EXSTYLE: return static_cast<LONG_PTR>(w->exStyle);
    case GWL_ID: return w->id;
    case DWLP_MSGRESULT: return w->isDialog ? w->msgResult : 0;
    default: return 0;
    }
}

BOOL WINAPI InvalidateRect(HWND window, const RECT*, BOOL) {
    if (!window) {
        for (auto& entry : W().windows) entry.second.invalid = true;
        return TRUE;
    }
    sim::Window* d = sim::DialogOf(window);
    if (!d) return FALSE;
    d->invalid = true;
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
    sim::Window* w = Find(window);
    if (!w || !rect) return FALSE;
    // Dialog units to pixels with the base units of a 9-point dialog font.
    *rect = RECT{0, 0, (w->dlu.right - w->dlu.left) * 6 / 4, (w->dlu.bottom - w->dlu.top) * 13 / 8};
    return TRUE;
}

int WINAPI GetSystemMetrics(int index) {
    switch (index) {
    case SM_CXICON:
    case SM_CYICON: return 32;
    default: return 0;
    }
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    sim::Window* w = Find(window);
    if (!w) return 0;
    if (message == WM_CLOSE) {
        DestroyWindow(window);
        return 0;
    }
    return w->isDialog ? sim::DialogDefault(window, message, wParam, lParam)
                       : sim::ControlProc(window, message, wParam, lParam);
}

HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint) {
    sim::Window* w = Find(window);
    if (!w || !paint) return nullptr;
    w->invalid = false;
    std::memset(paint, 0, sizeof *paint);
    GetClientRect(window, &paint->rcPaint);
    paint->hdc = reinterpret_cast<HDC>(reinterpret_cast<uintptr_t>(window) + 1);
    return paint->hdc;
}

BOOL WINAPI EndPaint(HWND, const PAINTSTRUCT*) { return TRUE; }

BOOL WINAPI DrawIcon(HDC dc, int x, int y, HICON icon) {
    if (!dc || !icon) return FALSE;
    const HWND window = reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(dc) - 1);
    char text[48];
    std::snprintf(text, sizeof text, "%d,%d", x, y);
    sim::NoteFor(window, sim::UiEvent::kIconDrawn, text);
    return TRUE;
}

BOOL WINAPI MessageBeep(UINT) { return TRUE; }

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!Find(window)) {
        sim::M().lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    return sim::Send(window, message, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window == HWND_BROADCAST) {
        // Other programs' windows are not simulated: the post is noted only.
        sim::UiEvent e;
        e.kind = sim::UiEvent::kBroadcast;
        e.value = message;
        e.text = wParam || lParam ? "with parameters" : "";
        sim::Note(e);
        return TRUE;
    }
    if (window && !Find(window)) {
        sim::M().lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    sim::Post(window, message, wParam, lParam);
    return TRUE;
}

void WINAPI PostQuitMessage(int exitCode) {
    W().quitPosted = true;
    W().quitCode = exitCode;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
    if (!msg) return FALSE;
    return sim::TakeMessage(msg, window, filterMin, filterMax, (remove & PM_REMOVE) != 0);
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
    if (!msg) return -1;
    // The program waits: the user acts, or the run is broken off loudly.
    for (int turn = 0; turn < 100000; ++turn) {
        if (sim::TakeMessage(msg, window, filterMin, filterMax, true)) return msg->message != WM_QUIT;
        const HWND active = sim::ActiveDialogWindow();
        if (!active) sim::FailLoudly("the program waits for input, but no dialog is on screen to take it");
        const int templateId = sim::TemplateOf(active);
        auto& answers = W().answers[templateId];
        if (answers.empty()) {
            char why[120];
            std::snprintf(why, sizeof why, "the program waits in dialog %d, and nothing is scripted for it",
                          templateId);
            sim::FailLoudly(why);
        }
        const sim::UserAction action = answers.front();
        answers.pop_front();
        std::string why;
        if (!sim::Act(active, action, &why)) sim::FailLoudly(why);
    }
    sim::FailLoudly("the program keeps waiting although the user keeps acting");
}

BOOL WINAPI TranslateMessage(const MSG* msg) { return msg && msg->message == WM_KEYDOWN; }

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (!msg || !msg->hwnd || !Find(msg->hwnd)) return 0;
    const LRESULT r = sim::Send(msg->hwnd, msg->message, msg->wParam, msg->lParam);
    if (msg->message == WM_PAINT) {
        // Whatever the window did, it counts as painted (no endless WM_PAINT).
        if (sim::Window* w = Find(msg->hwnd)) w->invalid = false;
    }
    return r;
}

BOOL WINAPI IsDialogMessageA(HWND dialog, LPMSG msg) {
    if (!msg || !Find(dialog)) return FALSE;
    if (msg->hwnd != dialog && !IsChild(dialog, msg->hwnd)) return FALSE;
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE)) {
        // Enter presses the default button, Escape the cancel button.  Focus
        // moving between buttons (Tab) is not simulated: Enter always means the
        // dialog's default button.
        const int id = msg->wParam == VK_RETURN ? LOWORD(SendMessageA(dialog, DM_GETDEFID, 0, 0)) : IDCANCEL;
        sim::PressButton(dialog, id, "keyboard");
        return TRUE;
    }
    DispatchMessageA(msg);
    return TRUE;
}

HMENU WINAPI GetSystemMenu(HWND window, BOOL) {
    sim::Window* w = Find(window);
    if (!w || !w->isDialog || !(w->style & WS_SYSMENU)) return nullptr;
    return sim::MenuHandle(window);
}

BOOL WINAPI AppendMenuA(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCSTR newItem) {
    sim::Window* w = sim::MenuWindow(menu);
    if (!w) return FALSE;
    const std::string text = (flags & MF_SEPARATOR) || !newItem ? std::string() : std::string(newItem);
    w->systemMenu.push_back(sim::MenuItem{flags, idNewItem, text});
    sim::NoteFor(w->handle, sim::UiEvent::kMenuItem, text, (flags & MF_SEPARATOR) ? 0 : static_cast<long long>(idNewItem));
    return TRUE;
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR iconName) {
    if (sim::Enter("LoadIconA")) return nullptr;
    if (!IS_INTRESOURCE(iconName)) return nullptr;
    const int id = static_cast<int>(reinterpret_cast<ULONG_PTR>(iconName));
    if (!instance) return reinterpret_cast<HICON>(static_cast<uintptr_t>(0x7E000000u | id));  // a system icon
    const unsigned char* data = nullptr;
    size_t size = 0;
    if (!sim::FindResource(14, id, &data, &size)) {
        sim::M().lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
        return nullptr;
    }
    return reinterpret_cast<HICON>(static_cast<uintptr_t>(0x7F000000u | id));
}

// The simulated machine knows its control classes from the start.
BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
    if (sim::Enter("InitCommonControlsEx")) return FALSE;
    return init && init->dwSize == sizeof(INITCOMMONCONTROLSEX) ? TRUE : FALSE;
}
