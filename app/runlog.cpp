#include "app/runlog.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/cmdline.h"
#include "app/updaterdlg.h"
#include "discovery/foldercheck.h"
#include "res/version.h"

namespace {

const char kByteOrderMark[] = "\xEF\xBB\xBF";

// The last byte that may end a cut of text: never the first byte of a
// double-byte character.
int CutLength(const char* text, int limit) {
    int i = 0;
    while (text[i] && i < limit) {
        const int step = IsDBCSLeadByte(static_cast<BYTE>(text[i])) && text[i + 1] ? 2 : 1;
        if (i + step > limit) break;
        i += step;
    }
    return i;
}

}  // namespace

CRunLog& RunLog() {
    static CRunLog log;
    return log;
}

namespace {

// Readers (an administrator's editor, a second copy that only says it was
// refused) may share it.
const DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Whether the open file's owner is the account the program runs as.
bool OwnedByThisAccount(PSID owner) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    // A TOKEN_USER and the longest SID there is, aligned for the pointer in it.
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    DWORD length = 0;
    const bool mine = GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &length) &&
                      EqualSid(owner, buffer.user.User.Sid);
    CloseHandle(token);
    return mine;
}

// Whether the Administrators group, the local system account or the
// account the program runs as owns the open file: no other user can have
// planted it.
bool OwnerTrusted(HANDLE file) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr, system = nullptr;
    bool trusted = false;
    if (owner &&
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                 &admins) &&
        AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system)) {
        trusted = EqualSid(owner, admins) || EqualSid(owner, system);
    }
    if (owner && !trusted) trusted = OwnedByThisAccount(owner);
    if (system) FreeSid(system);
    if (admins) FreeSid(admins);
    if (descriptor) LocalFree(descriptor);
    return trusted;
}

// Opens path for the log without following a link at its last name, and
// keeps the handle only when it is a plain file with one name (and, with
// ownerChecked, an administrator's or made by this open).  *distrusted says
// whether something was there that failed the checks.
HANDLE OpenChecked(const char* path, DWORD disposition, bool ownerChecked, bool* distrusted) {
    *distrusted = false;
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, kShare, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    const bool made = disposition == CREATE_NEW || GetLastError() != ERROR_ALREADY_EXISTS;
    BY_HANDLE_FILE_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    const DWORD notPlain = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    const bool plain = GetFileInformationByHandle(file, &info) && !(info.dwFileAttributes & notPlain) &&
                       info.nNumberOfLinks == 1;
    if (plain && (!ownerChecked || made || OwnerTrusted(file))) return file;
    *distrusted = true;
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

// The file's size in 64 bits; false when it cannot be had.
bool SizeOf(HANDLE file, uint64_t* size) {
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return false;
    *size = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}

bool SeekTo(HANDLE file, uint64_t at) {
    LONG high = static_cast<LONG>(at >> 32);
    const DWORD low = SetFilePointer(file, static_cast<LONG>(at & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS);
}

bool WriteAll(HANDLE file, const char* bytes, DWORD length) {
    DWORD written = 0;
    return WriteFile(file, bytes, length, &written, nullptr) && written == length;
}

// Empties the open file and starts it with the byte-order mark.
bool BeginAnew(HANDLE file) {
    return SeekTo(file, 0) && SetEndOfFile(file) && WriteAll(file, kByteOrderMark, 3);
}

// Copies the last `keep` bytes of the log, from a line's start, into the
// file at aside (opened with the same checks), replacing what it held.
// Nothing is copied when aside is not to be trusted.
void KeepTail(HANDLE log, uint64_t size, const char* aside, bool ownerChecked, uint64_t keep) {
    bool distrusted = false;
    HANDLE old = OpenChecked(aside, OPEN_ALWAYS, ownerChecked, &distrusted);
    if (old == INVALID_HANDLE_VALUE) return;
    const uint64_t from = size > keep + 3 ? size - keep : 3;
    bool ok = BeginAnew(old) && SeekTo(log, from);
    bool lineStart = from == 3;
    std::vector<char> buffer(64 * 1024);
    for (uint64_t copied = 0; ok && copied < keep;) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<uint64_t>(buffer.size(), keep - copied));
        if (!ReadFile(log, buffer.data(), want, &got, nullptr) || got == 0) break;
        copied += got;
        DWORD skip = 0;
        if (!lineStart) {
            while (skip < got && buffer[skip] != '\n') ++skip;
            if (skip == got) continue;
            ++skip;
            lineStart = true;
        }
        ok = WriteAll(old, buffer.data() + skip, got - skip);
    }
    CloseHandle(old);
}

}  // namespace

bool CRunLog::Adopt(HANDLE file, const char* path) {
    m_hFile = file;
    m_path = path;
    uint64_t size = 0;
    if (!SizeOf(file, &size)) {
        Close();
        return false;
    }
    if (size == 0 && !WriteBytes(kByteOrderMark, 3)) return false;
    return true;
}

bool CRunLog::Open(const char* path, bool ownerChecked) {
    Close();
    m_distrusted = false;
    if (!path || !*path) return false;
    HANDLE file = OpenChecked(path, OPEN_ALWAYS, ownerChecked, &m_distrusted);
    if (file == INVALID_HANDLE_VALUE) return false;
    uint64_t size = 0;
    if (!SizeOf(file, &size)) {
        CloseHandle(file);
        return false;
    }
    if (size > kMaxBytes) {
        KeepTail(file, size, CString(path) + ".old", ownerChecked, kMaxBytes);
        if (!BeginAnew(file)) {
            CloseHandle(file);
            return false;
        }
    }
    return Adopt(file, path);
}

bool CRunLog::OpenFresh(const char* folder, const char* exeName) {
    Close();
    SYSTEMTIME now;
    std::memset(&now, 0, sizeof now);
    GetLocalTime(&now);
    for (int n = 0; n < 4; ++n) {
        CString path;
        path.Format("%s%s-%04u%02u%02u-%02u%02u%02u%03u-%d.log", folder, exeName, now.wYear, now.wMonth, now.wDay,
                    now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, n);
        if (path.GetLength() >= MAX_PATH) return false;
        bool distrusted = false;
        HANDLE file = OpenChecked(path, CREATE_NEW, true, &distrusted);
        if (file != INVALID_HANDLE_VALUE) return Adopt(file, path);
    }
    return false;
}

void CRunLog::Close() {
    if (m_hFile == INVALID_HANDLE_VALUE) return;
    CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
}

bool CRunLog::WriteBytes(const char* bytes, DWORD length) {
    // Always at the end: another copy may have appended since.
    DWORD written = 0;
    if (SetFilePointer(m_hFile, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER ||
        !WriteFile(m_hFile, bytes, length, &written, nullptr) || written != length) {
        Close();
        return false;
    }
    return true;
}

void CRunLog::Write(const char* text) {
    if (!IsOpen()) return;
    SYSTEMTIME now;
    std::memset(&now, 0, sizeof now);
    GetLocalTime(&now);
    CString line;
    line.Format("%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                now.wSecond, now.wMilliseconds);
    const char* body = text ? text : "";
    const int length = CutLength(body, kMaxLine);
    for (int i = 0; i < length; ++i) {
        const char c = body[i];
        const bool lead = IsDBCSLeadByte(static_cast<BYTE>(c)) && i + 1 < length;
        if (lead) {
            line += c;
            line += body[++i];
        } else if (c == '\r' || c == '\n') {
            // "\r\n" in a message is one blank.
            if (c == '\n' || i + 1 >= length || body[i + 1] != '\n') line += ' ';
        } else {
            line += c;
        }
    }

    // ANSI to UTF-16 to UTF-8; the line is bounded, and so are both buffers.
    const int wide = MultiByteToWideChar(CP_ACP, 0, line, line.GetLength(), nullptr, 0);
    if (wide <= 0) {
        Close();
        return;
    }
    std::vector<WCHAR> units(static_cast<size_t>(wide));
    if (MultiByteToWideChar(CP_ACP, 0, line, line.GetLength(), units.data(), wide) != wide) {
        Close();
        return;
    }
    const int utf8 = WideCharToMultiByte(CP_UTF8, 0, units.data(), wide, nullptr, 0, nullptr, nullptr);
    if (utf8 <= 0) {
        Close();
        return;
    }
    std::vector<char> bytes(static_cast<size_t>(utf8) + 2);
    if (WideCharToMultiByte(CP_UTF8, 0, units.data(), wide, bytes.data(), utf8, nullptr, nullptr) != utf8) {
        Close();
        return;
    }
    bytes[static_cast<size_t>(utf8)] = '\r';
    bytes[static_cast<size_t>(utf8) + 1] = '\n';
    WriteBytes(bytes.data(), static_cast<DWORD>(utf8 + 2));
}

void CRunLog::Writef(const char* format, ...) {
    if (!IsOpen()) return;
    CString text;
    va_list args;
    va_start(args, format);
    text.FormatV(format, args);
    va_end(args);
    Write(text);
}

namespace {

// The temporary folder of the account the program runs as, with its
// backslash; empty when there is none.
CString TempFolder() {
    char folder[MAX_PATH];
    std::memset(folder, 0, sizeof folder);
    const DWORD length = GetTempPathA(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH) return CString();
    return CString(folder);
}

// Without its own name (the module's path could not be had) the program
// still keeps its log where the administrator will look for it.
const char* LogBaseName(const char* exeName) { return exeName && *exeName ? exeName : UPD_INTERNAL_NAME; }

}  // namespace

CString DefaultLogPath(const char* exeName) {
    const CString folder = TempFolder();
    if (folder.IsEmpty()) return CString();
    CString path;
    path.Format("%s%s.log", static_cast<const char*>(folder), LogBaseName(exeName));
    return path.GetLength() < MAX_PATH ? path : CString();
}

void OpenRunLog(const CommandLine& options, const char* exeName, const char* commandLine) {
    CRunLog& log = RunLog();
    // Why the log is not where it was asked for, said in its first lines.
    std::vector<CString> notes;
    auto refused = [&](const CString& path) {
        CString note;
        note.Format(log.Distrusted() ? "log %s is not trusted (a link, a file with other names, or another "
                                       "account's file): left as it is, this log is used instead"
                                     : "log %s cannot be written: this log is used instead",
                    static_cast<const char*>(path));
        notes.push_back(note);
    };
    bool wanted = options.mode == CommandLine::kQuiet;
    if (!options.logPath.IsEmpty()) {
        // The administrator chose the place: its owner is theirs to choose.
        if (log.Open(options.logPath, false)) {
            wanted = false;
        } else {
            refused(options.logPath);
            wanted = true;
        }
    }
    if (wanted) {
        // The default place is a folder where anyone may make files.
        const CString path = DefaultLogPath(exeName);
        if (!log.Open(path, true) && !path.IsEmpty()) {
            refused(path);
            log.OpenFresh(TempFolder(), LogBaseName(exeName));
        }
    }
    if (!log.IsOpen()) return;
    for (const CString& note : notes) log.Write(note);

    // 256 characters is the longest account name Windows allows.
    char user[257];
    std::memset(user, 0, sizeof user);
    DWORD size = sizeof user;
    if (!GetUserNameA(user, &size)) std::strcpy(user, "?");
    user[sizeof user - 1] = '\0';
    log.Writef("start version=%s user=%s command=%s", UPD_VERSION_TEXT, user, commandLine ? commandLine : "");
}

void LogEnvironment(int environment) {
    CRunLog& log = RunLog();
    if (!log.IsOpen()) return;
    const char* meaning = "refused";
    if (environment == 6 || environment == 7) meaning = "supported Windows, administrator (elevated)";
    log.Writef("environment code=%d %s", environment, meaning);
}

void LogMessage(const char* what, UINT messageId) {
    CRunLog& log = RunLog();
    if (!log.IsOpen()) return;
    CString text;
    FormatMessageId(text, messageId);
    log.Writef("%s message=%u %s", what, messageId, static_cast<const char*>(text));
}

void LogSearch(const CFolderCheckCtrl& control) {
    CRunLog& log = RunLog();
    if (!log.IsOpen()) return;
    for (INT_PTR i = 0; i < control.GetDiffFileCount(); ++i) {
        const DiffFileRecord* diff = control.GetDiffFile(i);
        log.Writef("difference-file %s font=%s from-revision=0x%08X", diff->diffPath, diff->fontName,
                   static_cast<unsigned>(diff->fromRevision));
    }
    for (const auto& drive : control.m_driveFolders) {
        log.Writef("drive %s folders=%d", drive.first.c_str(), drive.second);
    }
    log.Writef("user-font-folders folders=%d", control.m_userFontFolders);
    for (INT_PTR i = 0; i < control.GetFoundFontCount(); ++i) {
        const FoundFontRecord* font = control.GetFoundFont(i);
        log.Writef("found %s revision=0x%08X", font->path, static_cast<unsigned>(font->revision));
    }
    for (const std::string& failure : control.m_searchFailures) log.Writef("search-failed %s", failure.c_str());
    if (control.m_searchFailureCount > static_cast<int>(control.m_searchFailures.size())) {
        log.Writef("search-failed and %d more", control.m_searchFailureCount - static_cast<int>(control.m_searchFailures.size()));
    }
    log.Writef("search found=%d failed=%d", static_cast<int>(control.GetFoundFontCount()), control.m_searchFailureCount);
}

void LogFontResult(const char* fontPath, int result) {
    CRunLog& log = RunLog();
    if (!log.IsOpen()) return;
    const CString message = OutcomeMessage(result, fontPath);
    log.Writef("font %s result=%d message=%s", fontPath, result, static_cast<const char*>(message));
}

void LogExit(int exitCode) {
    CRunLog& log = RunLog();
    if (!log.IsOpen()) return;
    log.Writef("exit %d", exitCode);
    log.Close();
}
