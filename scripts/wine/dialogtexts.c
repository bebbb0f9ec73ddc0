/* What a dialog of the running program says, for the Wine runs to check the
 * dialog a screenshot shows: waits up to SECONDS (default 30) for a visible
 * top-level window titled TITLE, lets it settle for SETTLE milliseconds
 * (default 0), then prints its title and the text of each
 * of its controls, one a line, in UTF-8 (line breaks written as \n).  The
 * texts are asked for with WM_GETTEXT, which the system carries across
 * processes.  Exits 1 when no such window came.
 *
 *   dialogtexts.exe TITLE [SECONDS [SETTLE]]
 *
 * Built by scripts/wine/lib.sh with MinGW-w64; not part of the program. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static void PrintLine(const wchar_t* text) {
    static wchar_t escaped[8192];
    static char utf8[3 * 8192];
    size_t n = 0;
    for (const wchar_t* p = text; *p && n + 2 < sizeof escaped / sizeof escaped[0]; ++p) {
        if (*p == L'\r') continue;
        if (*p == L'\n') {
            escaped[n++] = L'\\';
            escaped[n++] = L'n';
        } else {
            escaped[n++] = *p;
        }
    }
    escaped[n] = 0;
    if (WideCharToMultiByte(CP_UTF8, 0, escaped, -1, utf8, sizeof utf8, NULL, NULL) > 0) printf("%s\n", utf8);
}

struct Search {
    const wchar_t* title;
    HWND found;
};

static BOOL CALLBACK FindTitled(HWND window, LPARAM param) {
    struct Search* search = (struct Search*)param;
    wchar_t title[512];
    if (!IsWindowVisible(window) || !GetWindowTextW(window, title, 512)) return TRUE;
    if (wcscmp(title, search->title) != 0) return TRUE;
    search->found = window;
    return FALSE;
}

static BOOL CALLBACK PrintControl(HWND control, LPARAM param) {
    static wchar_t text[8192];
    DWORD_PTR length = 0;
    (void)param;
    text[0] = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXT, sizeof text / sizeof text[0], (LPARAM)text, SMTO_ABORTIFHUNG,
                             5000, &length))
        text[0] = 0;
    PrintLine(text);
    return TRUE;
}

int wmain(int argc, wchar_t** argv) {
    struct Search search = {NULL, NULL};
    int seconds = argc > 2 ? _wtoi(argv[2]) : 30;
    int settle = argc > 3 ? _wtoi(argv[3]) : 0;
    if (argc < 2) {
        fprintf(stderr, "usage: dialogtexts.exe TITLE [SECONDS [SETTLE]]\n");
        return 2;
    }
    search.title = argv[1];
    for (int i = 0; i < seconds * 20 && !search.found; ++i) {
        EnumWindows(FindTitled, (LPARAM)&search);
        if (!search.found) Sleep(50);
    }
    if (!search.found) return 1;
    if (settle > 0) Sleep((DWORD)settle);
    PrintLine(search.title);
    EnumChildWindows(search.found, PrintControl, 0);
    fflush(stdout);
    return 0;
}
