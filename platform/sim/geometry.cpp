// Where the simulated machine's windows stand: one monitor, window
// rectangles from the templates' sizes, and the moves the program makes.
#include "platform/sim/machine.h"

using sim::Fail;
using sim::M;
using sim::Succeed;

namespace {

const LONG kScreenWidth = 1024;
const LONG kScreenHeight = 768;
const LONG kTaskBar = 40;
// A dialog's frame around its client area: border and caption.
const LONG kBorder = 3;
const LONG kCaption = 22;

HMONITOR const kPrimary = reinterpret_cast<HMONITOR>(static_cast<uintptr_t>(0x4D4F4E31));  // "MON1"

// The window's rectangle on the screen; false for an unknown window.
bool RectOf(HWND window, RECT* rect) {
    RECT client;
    if (!::IsWindow(window) || !::GetClientRect(window, &client)) return false;
    const DWORD style = sim::WindowStyle(window);
    if (style & WS_CHILD) {
        // A control stands where its template puts it in its dialog's
        // client area (the same base units as GetClientRect).
        RECT parent;
        if (!RectOf(::GetParent(window), &parent)) return false;
        const RECT dlu = sim::TemplateRect(window);
        const LONG x = parent.left + kBorder + dlu.left * 6 / 4;
        const LONG y = parent.top + kBorder + kCaption + dlu.top * 13 / 8;
        *rect = RECT{x, y, x + client.right, y + client.bottom};
        return true;
    }
    const LONG width = client.right + 2 * kBorder;
    const LONG height = client.bottom + 2 * kBorder + ((style & WS_CAPTION) == WS_CAPTION ? kCaption : 0);
    POINT at{0, 0};
    const auto placed = M().windowAt.find(window);
    if (placed != M().windowAt.end()) {
        at = placed->second;
    } else if (style & DS_CENTER) {
        const RECT work = sim::WorkArea();
        at = POINT{work.left + (work.right - work.left - width) / 2, work.top + (work.bottom - work.top - height) / 2};
    }
    *rect = RECT{at.x, at.y, at.x + width, at.y + height};
    return true;
}

}  // namespace

namespace sim {

RECT WorkArea() { return RECT{0, 0, kScreenWidth, kScreenHeight - kTaskBar}; }

const std::vector<Placement>& Placements() { return M().placements; }

}  // namespace sim

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    if (sim::Enter("GetWindowRect")) return FALSE;
    if (!rect || !RectOf(window, rect)) return Fail(ERROR_INVALID_WINDOW_HANDLE);
    return Succeed();
}

BOOL WINAPI SetWindowPos(HWND window, HWND, int x, int y, int, int, UINT flags) {
    if (sim::Enter("SetWindowPos")) return FALSE;
    RECT before;
    if (!RectOf(window, &before)) return Fail(ERROR_INVALID_WINDOW_HANDLE);
    // Only moves of top-level windows are kept: the program sizes nothing
    // and moves no control.
    if (!(flags & SWP_NOMOVE) && !(sim::WindowStyle(window) & WS_CHILD)) {
        M().windowAt[window] = POINT{x, y};
        RECT after;
        RectOf(window, &after);
        M().placements.push_back(sim::Placement{sim::DialogId(window), after});
    }
    return Succeed();
}

HMONITOR WINAPI MonitorFromWindow(HWND window, DWORD flags) {
    if (sim::Enter("MonitorFromWindow")) return nullptr;
    RECT rect;
    if (!RectOf(window, &rect)) return flags == MONITOR_DEFAULTTONULL ? nullptr : kPrimary;
    const bool onScreen = rect.right > 0 && rect.bottom > 0 && rect.left < kScreenWidth && rect.top < kScreenHeight;
    return onScreen || flags != MONITOR_DEFAULTTONULL ? kPrimary : nullptr;
}

BOOL WINAPI GetMonitorInfoA(HMONITOR monitor, LPMONITORINFO info) {
    if (sim::Enter("GetMonitorInfoA")) return FALSE;
    if (monitor != kPrimary || !info || info->cbSize < sizeof(MONITORINFO)) return Fail(ERROR_INVALID_PARAMETER);
    info->rcMonitor = RECT{0, 0, kScreenWidth, kScreenHeight};
    info->rcWork = sim::WorkArea();
    info->dwFlags = MONITORINFOF_PRIMARY;
    return Succeed();
}
