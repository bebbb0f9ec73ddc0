// Reads a dialog of the running program for the Wine runs, from outside it.
//
//   dlgprobe.exe texts TITLE [SECONDS [SETTLE]]
//   dlgprobe.exe measure TITLE FACE POINTS [WAIT_MS]
//
// texts: what the dialog says, to check the dialog a screenshot shows.
// Waits up to SECONDS (default 30) for a visible top-level window titled
// TITLE, lets it settle for SETTLE milliseconds (default 0), then prints its
// title and the text of each of its controls, one a line.  Exit code 0, 1
// when no such window came, 2 for wrong arguments.
//
// measure: where the dialog stands, where it should stand, and whether the
// text of each control fits in it.  FACE and POINTS: its template's font,
// which the probe makes again at the screen's resolution to measure the
// texts (a font handle of another process is no use here).  WAIT_MS: how
// long to wait for the dialog to appear (default 0); once it is there the
// probe gives the program up to 3 s to put a text in one of its edit
// controls (the first report of a progress dialog).  Prints, one a line:
//   dpi N
//   work L T R B                 the work area of the dialog's monitor
//   window L T R B               the dialog
//   expected-centre X Y          of its owner when that is on screen, else
//                                of the work area
//   control ID CLASS W H NEEDW NEEDH fits|clipped TEXT
// and ends with "verdict ok" or "verdict clipped" (a text does not fit or the
// dialog is not wholly on the work area).  Exit code 0, 1 for wrong
// arguments, or 2 when no visible dialog has that title (or it went while
// the probe looked).
//
// Texts are printed in UTF-8, line breaks written as \n.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

struct Search {
    const wchar_t* title;
    bool dialogsOnly;  // of the system's dialog class
    HWND found;
};

BOOL CALLBACK FindTitled(HWND window, LPARAM param) {
    Search* search = reinterpret_cast<Search*>(param);
    wchar_t cls[64], text[512];
    if (!IsWindowVisible(window)) return TRUE;
    if (search->dialogsOnly && (!GetClassNameW(window, cls, 64) || std::wcscmp(cls, L"#32770") != 0)) return TRUE;
    if (!GetWindowTextW(window, text, 512)) return TRUE;
    if (std::wcscmp(text, search->title) != 0) return TRUE;
    search->found = window;
    return FALSE;
}

std::string Utf8(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c == L'\r') continue;
        if (c == L'\n') {
            out += "\\n";
            continue;
        }
        char buffer[8];
        const int n = WideCharToMultiByte(CP_UTF8, 0, &c, 1, buffer, sizeof buffer, nullptr, nullptr);
        out.append(buffer, n > 0 ? n : 0);
    }
    return out;
}

// A control's text.  GetWindowText does not ask a window of another process
// (it gives only what the system keeps, which an edit control does not
// update), so the probe sends WM_GETTEXT itself.  When the program is too
// busy to answer, what the system keeps is better than nothing.
std::wstring TextOf(HWND control) {
    DWORD_PTR length = 0;
    DWORD_PTR copied = 0;
    std::wstring text;
    if (SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
        text.assign(static_cast<size_t>(length) + 1, L'\0');
    }
    if (text.empty() || !SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                                             SMTO_ABORTIFHUNG, 5000, &copied)) {
        wchar_t kept[1024] = L"";
        GetWindowTextW(control, kept, 1024);
        return kept;
    }
    text.resize(copied < length ? static_cast<size_t>(copied) : static_cast<size_t>(length));
    return text;
}

// Counts the edit controls, and those with a text.
BOOL CALLBACK CountEdits(HWND control, LPARAM param) {
    int* counts = reinterpret_cast<int*>(param);
    wchar_t cls[64];
    if (!IsWindowVisible(control) || !GetClassNameW(control, cls, 64) || _wcsicmp(cls, L"Edit") != 0) return TRUE;
    ++counts[0];
    if (!TextOf(control).empty()) ++counts[1];
    return TRUE;
}

struct Probe {
    HDC dc;
    bool allFit = true;
};

BOOL CALLBACK Measure(HWND control, LPARAM param) {
    Probe* probe = reinterpret_cast<Probe*>(param);
    if (!IsWindowVisible(control)) return TRUE;
    wchar_t cls[64];
    GetClassNameW(control, cls, 64);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const bool isStatic = _wcsicmp(cls, L"Static") == 0;
    const bool isEdit = _wcsicmp(cls, L"Edit") == 0;
    const bool isButton = _wcsicmp(cls, L"Button") == 0;
    if (!isStatic && !isEdit && !isButton) return TRUE;
    if (isStatic && (style & SS_TYPEMASK) == SS_ICON) return TRUE;
    const std::wstring text = TextOf(control);

    RECT room;
    GetClientRect(control, &room);
    if (isEdit) {
        RECT format{};
        if (SendMessageW(control, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format)) || format.right > format.left) {
            room = format;
        } else {
            InflateRect(&room, -2, 0);
        }
    } else if (isButton) {
        InflateRect(&room, -3, -3);  // the button's edge and focus frame
    }
    const bool wraps = isStatic || (isEdit && (style & ES_MULTILINE) && !(style & ES_AUTOHSCROLL));
    RECT need{0, 0, wraps ? room.right - room.left : 0, 0};
    UINT flags = DT_CALCRECT | DT_EXPANDTABS | DT_NOPREFIX;
    flags |= wraps ? DT_WORDBREAK : DT_SINGLELINE;
    if (!text.empty()) DrawTextW(probe->dc, text.c_str(), -1, &need, flags);
    const LONG roomW = room.right - room.left, roomH = room.bottom - room.top;
    const bool fits = need.right - need.left <= roomW && need.bottom - need.top <= roomH;
    if (!fits) probe->allFit = false;
    std::printf("control %d %s %ld %ld %ld %ld %s %s\n", GetDlgCtrlID(control), Utf8(cls).c_str(), roomW, roomH,
                need.right - need.left, need.bottom - need.top, fits ? "fits" : "clipped", Utf8(text).c_str());
    return TRUE;
}

BOOL CALLBACK PrintControl(HWND control, LPARAM) {
    std::printf("%s\n", Utf8(TextOf(control)).c_str());
    return TRUE;
}

int Texts(int argc, wchar_t** argv) {
    if (argc < 1) {
        std::fprintf(stderr, "usage: dlgprobe.exe texts TITLE [SECONDS [SETTLE]]\n");
        return 2;
    }
    Search search{argv[0], false, nullptr};
    const int seconds = argc > 1 ? _wtoi(argv[1]) : 30;
    const int settle = argc > 2 ? _wtoi(argv[2]) : 0;
    for (int i = 0; i < seconds * 20 && !search.found; ++i) {
        EnumWindows(FindTitled, reinterpret_cast<LPARAM>(&search));
        if (!search.found) Sleep(50);
    }
    if (!search.found) return 1;
    if (settle > 0) Sleep(static_cast<DWORD>(settle));
    std::printf("%s\n", Utf8(search.title).c_str());
    EnumChildWindows(search.found, PrintControl, 0);
    std::fflush(stdout);
    return 0;
}

int MeasureDialog(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: dlgprobe.exe measure TITLE FACE POINTS [WAIT_MS]\n");
        return 1;
    }
    // Physical pixels, whatever the screen's resolution.
    SetProcessDPIAware();
    Search search{argv[0], true, nullptr};
    const DWORD wait = argc > 3 ? static_cast<DWORD>(_wtoi(argv[3])) : 0;
    const DWORD started = GetTickCount();
    for (;;) {
        EnumWindows(FindTitled, reinterpret_cast<LPARAM>(&search));
        if (search.found || GetTickCount() - started >= wait) break;
        Sleep(20);
    }
    if (!search.found) {
        std::printf("no dialog\n");
        return 2;
    }
    for (int i = 0; i < 60; ++i) {
        int counts[2] = {0, 0};
        EnumChildWindows(search.found, CountEdits, reinterpret_cast<LPARAM>(counts));
        if (counts[0] == 0 || counts[1] > 0) break;
        Sleep(50);
    }
    const HWND dialog = search.found;
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    std::printf("dpi %d\n", dpi);

    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &info);
    const RECT work = info.rcWork;
    RECT window;
    if (!GetWindowRect(dialog, &window)) {
        std::printf("dialog gone\n");
        return 2;
    }
    std::printf("work %ld %ld %ld %ld\n", work.left, work.top, work.right, work.bottom);
    std::printf("window %ld %ld %ld %ld\n", window.left, window.top, window.right, window.bottom);
    RECT around = work;
    const HWND owner = GetWindow(dialog, GW_OWNER);
    if (owner && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &around);
    std::printf("expected-centre %ld %ld\n", (around.left + around.right) / 2, (around.top + around.bottom) / 2);

    const int points = _wtoi(argv[2]);
    HFONT font = CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, argv[1]);
    Probe probe{screen};
    HGDIOBJ old = SelectObject(screen, font);
    EnumChildWindows(dialog, Measure, reinterpret_cast<LPARAM>(&probe));
    SelectObject(screen, old);
    DeleteObject(font);
    ReleaseDC(nullptr, screen);

    const bool onWork = window.left >= work.left && window.top >= work.top && window.right <= work.right &&
                        window.bottom <= work.bottom;
    if (!IsWindow(dialog)) {
        std::printf("dialog gone\n");
        return 2;
    }
    std::printf("verdict %s\n", probe.allFit && onWork ? "ok" : "clipped");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && std::wcscmp(argv[1], L"texts") == 0) return Texts(argc - 2, argv + 2);
    if (argc >= 2 && std::wcscmp(argv[1], L"measure") == 0) return MeasureDialog(argc - 2, argv + 2);
    std::fprintf(stderr, "usage: dlgprobe.exe texts TITLE [SECONDS [SETTLE]]\n"
                         "       dlgprobe.exe measure TITLE FACE POINTS [WAIT_MS]\n");
    return 2;
}
