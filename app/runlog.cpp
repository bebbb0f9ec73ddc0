#include "app/runlog.h"

#include <cstdarg>
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

bool CRunLog::Open(const char* path) {
    Close();
    if (!path || !*path) return false;
    // Readers (an administrator's editor, a second copy that only says it
    // was refused) may share it.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    if (size == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) {
        CloseHandle(file);
        return false;
    }
    if (high != 0 || size > kMaxBytes) {
        CloseHandle(file);
        const CString aside = CString(path) + ".old";
        // Should the move fail, the log is begun anew in place all the same.
        MoveFileExA(path, aside, MOVEFILE_REPLACE_EXISTING);
        file = CreateFileA(path, GENERIC_WRITE, share, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        size = 0;
    }
    m_hFile = file;
    m_path = path;
    if (size == 0 && !WriteBytes(kByteOrderMark, 3)) return false;
    return true;
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

CString DefaultLogPath(const char* exeName) {
    char folder[MAX_PATH];
    std::memset(folder, 0, sizeof folder);
    const DWORD length = GetTempPathA(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH) return CString();
    CString path;
    // Without its own name (the module's path could not be had) the program
    // still keeps its log where the administrator will look for it.
    path.Format("%s%s.log", folder, exeName && *exeName ? exeName : UPD_INTERNAL_NAME);
    return path.GetLength() < MAX_PATH ? path : CString();
}

void OpenRunLog(const CommandLine& options, const char* exeName, const char* commandLine) {
    CRunLog& log = RunLog();
    bool fellBack = false;
    if (!options.logPath.IsEmpty()) {
        if (!log.Open(options.logPath)) {
            fellBack = log.Open(DefaultLogPath(exeName));
        }
    } else if (options.mode == CommandLine::kQuiet) {
        log.Open(DefaultLogPath(exeName));
    }
    if (!log.IsOpen()) return;
    if (fellBack) log.Writef("log %s cannot be written: this log is used instead", static_cast<const char*>(options.logPath));

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
