#include "app/fontcache.h"

#include "discovery/foldercheck.h"

namespace {

// GetProcAddress gives every function one type; the real type is restored
// through the generic function pointer type.
template <class Fn>
Fn ProcAs(FARPROC proc) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(proc));
}

}  // namespace

CWow64FsRedirection::CWow64FsRedirection()
    : m_pfnDisable(nullptr), m_pfnRevert(nullptr), m_pOldValue(nullptr), m_bDisabled(FALSE) {
    HMODULE kernel = GetModuleHandleA("kernel32");
    if (kernel) {
        m_pfnDisable = ProcAs<DisableFn>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection"));
        m_pfnRevert = ProcAs<RevertFn>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection"));
    }
    // Switching off without a way back would leave the thread unredirected.
    if (m_pfnDisable && m_pfnRevert) m_bDisabled = m_pfnDisable(&m_pOldValue);
}

CWow64FsRedirection::~CWow64FsRedirection() { Revert(); }

void CWow64FsRedirection::Revert() {
    if (m_pfnRevert && m_bDisabled) {
        m_pfnRevert(m_pOldValue);
        m_bDisabled = FALSE;
    }
}

CString GetFontCachePath() {
    char path[MAX_PATH + 1] = {0};
    if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_SYSTEM, FALSE) || path[0] == '\0') return CString();
    path[MAX_PATH] = '\0';
    if (!PathAppendA(path, "fntcache.dat")) return CString();
    return CString(path);
}

void DeleteFontCache(const CTypedPtrArray<CObArray, char*>& downloadFiles) {
    for (INT_PTR i = 0; i < downloadFiles.GetSize(); ++i) {
        const char* copy = downloadFiles.GetAt(i);
        if (copy) DeleteFileA(copy);
    }

    const CString cache = GetFontCachePath();
    if (cache.IsEmpty()) return;
    // Each file call has its own guard: redirection is never left off
    // between calls.
    BOOL exists = FALSE;
    {
        CWow64FsRedirection native;
        exists = PathFileExistsA(cache);
    }
    if (exists) {
        CWow64FsRedirection native;
        DeleteFileA(cache);
    }
}

void DeleteFontCache() { DeleteFontCache(GetFolderCheckCtrl()->m_downloadFiles); }

int RestartSystem() {
    RequestRestart();
    return 1;
}

bool RequestRestart() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);

    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid.LowPart = 0;
    privileges.Privileges[0].Luid.HighPart = 0;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
    if (token) {
        AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr);
        // The privilege stays enabled on the process's token; the handle is
        // no longer needed.
        CloseHandle(token);
    }

    // Forced: other programs are closed without being asked, so none can
    // hold the restart up.
    return ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0) != FALSE;
}
