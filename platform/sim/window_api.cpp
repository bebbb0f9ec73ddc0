// The window functions of the Windows API on the simulated machine: dialogs
// from the program's resources, window state, painting, the message loop's
// functions, menus and icons.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/le_bytes.h"
#include "platform/sim/window_core.h"

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
        t.exStyle = sim::LeU32(given + 8);
        t.style = sim::LeU32(given + 12);
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
        // A window that appears paints itself and every control on it.
        w->invalid = true;
        for (HWND c : w->children) {
            if (sim::Window* child = Find(c)) child->invalid = true;
        }
        if (w->isDialog) sim::NoteFor(window, sim::UiEvent::kShown);
    }
    return wasVisible;
}

BOOL WINAPI UpdateWindow(HWND window) {
    sim::Window* w = Find(window);
    if (!w) return FALSE;
    sim::PaintNow(window);
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

HWND WINAPI GetLastActivePopup(HWND owner) {
    if (!Find(owner)) return nullptr;
    // The owned dialog on screen that was shown or activated last.
    HWND last = owner;
    uint64_t order = 0;
    for (const auto& entry : W().windows) {
        const sim::Window& w = entry.second;
        if (w.isDialog && w.parent == owner && w.visible && !w.destroying && w.shownOrder > order) {
            last = w.handle;
            order = w.shownOrder;
        }
    }
    return last;
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
    sim::Window* w = Find(window);
    if (!w) return FALSE;
    w->invalid = true;
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
