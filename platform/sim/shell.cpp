// Shell folders, path helpers, functions looked up by name in kernel32, and
// the WOW64 file-system redirection of the simulated machine.
#include <sys/stat.h>

#include <cctype>
#include <cstring>

#include "platform/sim/machine.h"

using sim::Fail;
using sim::M;
using sim::Succeed;

namespace {

sim::ShellState& Shell() { return M().shell; }

const uintptr_t kKernel32 = 0x7FF80000;

bool AsciiCaseEqual(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

// The folder above the system folder ("C:\Windows").
std::string WindowsFolder() {
    const std::string& system = Shell().systemFolder;
    const size_t cut = system.rfind('\\');
    return cut == std::string::npos ? system : system.substr(0, cut);
}

// Whether the text ends with a backslash that is a character of its own, not
// the second byte of a double-byte character.
bool EndsWithSeparator(const char* text) {
    bool separator = false;
    for (size_t i = 0; text[i];) {
        if (IsDBCSLeadByte(static_cast<BYTE>(text[i])) && text[i + 1]) {
            separator = false;
            i += 2;
            continue;
        }
        separator = text[i] == '\\';
        ++i;
    }
    return separator;
}

BOOL WINAPI Wow64DisableWow64FsRedirection(PVOID* oldValue) {
    if (sim::Enter("Wow64DisableWow64FsRedirection")) return FALSE;
    if (Shell().wow64 != sim::Wow64::kProcess32) return Fail(ERROR_INVALID_FUNCTION);
    if (!oldValue) return Fail(ERROR_INVALID_PARAMETER);
    // The old value tells the revert function what to go back to.
    *oldValue = reinterpret_cast<PVOID>(static_cast<uintptr_t>(Shell().redirectionDisabled ? 2 : 1));
    Shell().redirectionDisabled = true;
    return Succeed();
}

BOOL WINAPI Wow64RevertWow64FsRedirection(PVOID oldValue) {
    if (sim::Enter("Wow64RevertWow64FsRedirection")) return FALSE;
    if (Shell().wow64 != sim::Wow64::kProcess32) return Fail(ERROR_INVALID_FUNCTION);
    const uintptr_t v = reinterpret_cast<uintptr_t>(oldValue);
    if (v != 1 && v != 2) return Fail(ERROR_INVALID_PARAMETER);
    Shell().redirectionDisabled = v == 2;
    return Succeed();
}

template <class F>
FARPROC AsProc(F* f) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(f));
}

}  // namespace

namespace sim {

void SetSystemFolder(const std::string& windowsPath) { Shell().systemFolder = windowsPath; }
void SetProfilesFolder(const std::string& windowsPath) { Shell().profilesFolder = windowsPath; }
void SetWow64(Wow64 mode) { Shell().wow64 = mode; }
bool Wow64RedirectionEnabled() { return !Shell().redirectionDisabled; }

bool IsKernel32(const char* moduleName) {
    return moduleName && (::strcasecmp(moduleName, "kernel32") == 0 || ::strcasecmp(moduleName, "kernel32.dll") == 0);
}

HMODULE Kernel32Module() { return reinterpret_cast<HMODULE>(kKernel32); }

bool Wow64Redirect(const char* windowsPath, std::string* redirected) {
    if (!windowsPath || Shell().wow64 != Wow64::kProcess32 || Shell().redirectionDisabled) return false;
    const std::string& system = Shell().systemFolder;
    if (std::strlen(windowsPath) < system.size() || !AsciiCaseEqual(windowsPath, system.c_str(), system.size())) {
        return false;
    }
    const char next = windowsPath[system.size()];
    if (next != '\0' && next != '\\' && next != '/') return false;
    *redirected = WindowsFolder() + "\\SysWOW64" + (windowsPath + system.size());
    return true;
}

}  // namespace sim

BOOL WINAPI SHGetSpecialFolderPathA(struct HWND__*, LPSTR path, int csidl, BOOL) {
    if (sim::Enter("SHGetSpecialFolderPathA")) return FALSE;
    if (!path) return Fail(ERROR_INVALID_PARAMETER);
    std::string folder;
    switch (csidl) {
    case CSIDL_SYSTEM: folder = Shell().systemFolder; break;
    case CSIDL_WINDOWS: folder = WindowsFolder(); break;
    case CSIDL_FONTS: folder = WindowsFolder() + "\\Fonts"; break;
    case CSIDL_SYSTEMX86:
        folder = Shell().wow64 == sim::Wow64::kProcess32 ? WindowsFolder() + "\\SysWOW64" : Shell().systemFolder;
        break;
    default: return Fail(ERROR_FILE_NOT_FOUND);
    }
    if (folder.size() >= MAX_PATH) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(path, folder.c_str(), folder.size() + 1);
    return Succeed();
}

BOOL WINAPI GetProfilesDirectoryA(LPSTR profileDir, LPDWORD size) {
    if (sim::Enter("GetProfilesDirectoryA")) return FALSE;
    if (!size) return Fail(ERROR_INVALID_PARAMETER);
    const std::string& folder = Shell().profilesFolder;
    const DWORD needed = static_cast<DWORD>(folder.size() + 1);
    const DWORD given = *size;
    *size = needed;
    if (!profileDir || given < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(profileDir, folder.c_str(), needed);
    return Succeed();
}

BOOL WINAPI PathAppendA(LPSTR path, LPCSTR more) {
    if (sim::Enter("PathAppendA")) return FALSE;
    if (!path || !more) return FALSE;
    while (*more == '\\') ++more;  // "\x" is appended as "x"
    const size_t length = ::strnlen(path, MAX_PATH);
    if (length >= MAX_PATH) return FALSE;  // not a path the buffer can hold
    const bool separator = length > 0 && *more && !EndsWithSeparator(path);
    const size_t total = length + (separator ? 1 : 0) + std::strlen(more);
    if (total >= MAX_PATH) return FALSE;  // would not fit: the path is left as it was
    if (separator) path[length] = '\\';
    std::memcpy(path + length + (separator ? 1 : 0), more, std::strlen(more) + 1);
    return TRUE;
}

BOOL WINAPI PathFileExistsA(LPCSTR path) {
    if (sim::Enter("PathFileExistsA")) return FALSE;
    std::string host;
    if (!path || !sim::Resolve(path, &host)) return FALSE;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) return Fail(ERROR_FILE_NOT_FOUND);
    return Succeed();
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    if (sim::Enter("GetProcAddress")) return nullptr;
    if (module == sim::CryptModule() && reinterpret_cast<uintptr_t>(procName) > 0xFFFF) {
        if (FARPROC proc = sim::CryptProc(procName)) {
            Succeed();
            return proc;
        }
    }
    // A name below 0x10000 is an ordinal; none is simulated.
    if (module == sim::Kernel32Module() && reinterpret_cast<uintptr_t>(procName) > 0xFFFF &&
        Shell().wow64 != sim::Wow64::kAbsent) {
        if (std::strcmp(procName, "Wow64DisableWow64FsRedirection") == 0) {
            Succeed();
            return AsProc(&Wow64DisableWow64FsRedirection);
        }
        if (std::strcmp(procName, "Wow64RevertWow64FsRedirection") == 0) {
            Succeed();
            return AsProc(&Wow64RevertWow64FsRedirection);
        }
    }
    Fail(module == sim::Kernel32Module() || module == GetModuleHandleA(nullptr) ? ERROR_PROC_NOT_FOUND
                                                                                 : ERROR_MOD_NOT_FOUND);
    return nullptr;
}
