// System side of the simulated machine: drives, the program's own path, the
// temporary folder, whole-file copy and move, the clock.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

using sim::Fail;
using sim::M;
using sim::Succeed;

namespace {

char DriveOf(const char* windowsPath) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(windowsPath[0])));
}

// Copies the host file from to a new host file to (created with O_EXCL when
// exclusive); on any failure the destination is removed again, as Windows
// removes a partly written copy.
bool CopyHostFile(const std::string& from, const std::string& to, bool exclusive, DWORD* error) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        *error = sim::ErrorFromErrno(errno);
        return false;
    }
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC), 0644);
    if (out < 0) {
        *error = sim::ErrorFromErrno(errno);
        ::close(in);
        return false;
    }
    bool ok = true;
    // In the kernel first, as Windows copies, without a trip through a
    // buffer; where the host cannot (another file system, an old kernel) the
    // loop below goes on from wherever this stopped.
    bool copied = false;
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == ENOSPC) {
            *error = ERROR_DISK_FULL;
            ok = false;
        }
        copied = n == 0;
        if (n <= 0) break;
    }
    std::vector<char> buffer(ok && !copied ? 1 << 20 : 0);
    while (ok && !copied) {
        ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            *error = ERROR_READ_FAULT;
            ok = false;
            break;
        }
        if (got == 0) break;
        for (ssize_t done = 0; done < got;) {
            ssize_t put = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                *error = errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
                ok = false;
                break;
            }
            done += put;
        }
        if (!ok) break;
    }
    ::close(in);
    if (::close(out) != 0 && ok) {
        *error = ERROR_WRITE_FAULT;
        ok = false;
    }
    if (!ok) ::unlink(to.c_str());
    return ok;
}

void SyncPath(const std::string& host, int flags) {
    int fd = ::open(host.c_str(), flags | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

namespace sim {

void SetModulePath(const std::string& windowsPath) { M().modulePath = windowsPath; }
void SetTempPath(const std::string& windowsPath) { M().tempPath = windowsPath; }
void SetCommandLine(const std::string& commandLine) { M().commandLine = commandLine; }
void SetTime(int64_t secondsSince1970) {
    M().timeBase = secondsSince1970;
    M().sleptMs = 0;
}
uint64_t SleptMilliseconds() { return M().sleptMs; }
void OnSleep(std::function<void(DWORD)> hook) { M().sleepHook = std::move(hook); }
void SeedRandom(unsigned seed) { std::srand(seed); }

}  // namespace sim

DWORD WINAPI GetLogicalDriveStringsA(DWORD bufferLength, LPSTR buffer) {
    if (sim::Enter("GetLogicalDriveStringsA")) return 0;
    std::string list;
    for (const auto& drive : M().drives) {  // std::map: letter order
        list += drive.first;
        list += ":\\";
        list += '\0';
    }
    // The answer without the final terminator; when the buffer is too small,
    // the size it would need, with it, and nothing is written.
    if (list.size() + 1 > bufferLength || !buffer) {
        M().lastError = ERROR_SUCCESS;
        return static_cast<DWORD>(list.size() + 1);
    }
    std::memcpy(buffer, list.data(), list.size());
    buffer[list.size()] = '\0';
    M().lastError = ERROR_SUCCESS;
    return static_cast<DWORD>(list.size());
}

UINT WINAPI GetDriveTypeA(LPCSTR root) {
    if (sim::Enter("GetDriveTypeA")) return DRIVE_UNKNOWN;
    if (!root || !std::isalpha(static_cast<unsigned char>(root[0])) || root[1] != ':' ||
        !(root[2] == '\0' || ((root[2] == '\\' || root[2] == '/') && root[3] == '\0'))) {
        return DRIVE_NO_ROOT_DIR;
    }
    auto it = M().drives.find(DriveOf(root));
    return it == M().drives.end() ? DRIVE_NO_ROOT_DIR : it->second.type;
}

DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR fileName, DWORD size) {
    if (sim::Enter("GetModuleFileNameA")) return 0;
    if (!fileName || size == 0) return Fail(ERROR_INSUFFICIENT_BUFFER);
    const std::string& path = M().modulePath;
    if (path.size() + 1 > size) {
        // As Windows does since Vista: truncated, terminated, the full size returned.
        std::memcpy(fileName, path.data(), size - 1);
        fileName[size - 1] = '\0';
        M().lastError = ERROR_INSUFFICIENT_BUFFER;
        return size;
    }
    std::memcpy(fileName, path.c_str(), path.size() + 1);
    M().lastError = ERROR_SUCCESS;
    return static_cast<DWORD>(path.size());
}

DWORD WINAPI GetTempPathA(DWORD bufferLength, LPSTR buffer) {
    if (sim::Enter("GetTempPathA")) return 0;
    const std::string& path = M().tempPath;
    if (path.size() + 1 > bufferLength || !buffer) {
        M().lastError = ERROR_SUCCESS;
        return static_cast<DWORD>(path.size() + 1);
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    M().lastError = ERROR_SUCCESS;
    return static_cast<DWORD>(path.size());
}

BOOL WINAPI CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists) {
    if (sim::Enter("CopyFileA")) return FALSE;
    std::string from, to;
    if (!sim::Resolve(existingFileName, &from) || !sim::Resolve(newFileName, &to)) return FALSE;
    struct stat src;
    if (::stat(from.c_str(), &src) != 0) return Fail(sim::IsFolder(sim::Parent(from)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    if (S_ISDIR(src.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    // The source is read with others allowed to read it too.
    if (!sim::SharingAllows(src.st_dev, src.st_ino, GENERIC_READ, FILE_SHARE_READ)) return Fail(ERROR_SHARING_VIOLATION);

    struct stat dst;
    const bool exists = ::stat(to.c_str(), &dst) == 0;
    if (!exists && !sim::IsFolder(sim::Parent(to))) return Fail(ERROR_PATH_NOT_FOUND);
    if (!exists && sim::RefusesNewFiles(sim::Parent(to))) return Fail(ERROR_ACCESS_DENIED);
    if (exists) {
        if (failIfExists) return Fail(ERROR_FILE_EXISTS);
        if (S_ISDIR(dst.st_mode) || sim::ReadOnly(dst)) return Fail(ERROR_ACCESS_DENIED);
        if (dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) return Fail(ERROR_SHARING_VIOLATION);
        if (!sim::SharingAllows(dst.st_dev, dst.st_ino, GENERIC_WRITE, 0)) return Fail(ERROR_SHARING_VIOLATION);
    }
    DWORD error = 0;
    if (!CopyHostFile(from, to, failIfExists != FALSE, &error)) return Fail(error);
    return Succeed();
}

BOOL WINAPI MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) {
    if (sim::Enter("MoveFileExA")) return FALSE;
    if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        // Windows keeps the move in the machine's registry, which only an
        // administrator may write, and checks nothing else until it starts.
        if (flags & MOVEFILE_COPY_ALLOWED) return Fail(ERROR_INVALID_PARAMETER);
        if (!sim::RunsElevated()) return Fail(ERROR_ACCESS_DENIED);
        std::string from, to;
        if (!sim::Resolve(existingFileName, &from)) return FALSE;
        if (newFileName && !sim::Resolve(newFileName, &to)) return FALSE;
        M().pendingMoves.push_back(sim::PendingMove{existingFileName, newFileName ? newFileName : "", flags});
        return Succeed();
    }
    std::string from, to;
    if (!sim::Resolve(existingFileName, &from) || !sim::Resolve(newFileName, &to)) return FALSE;
    struct stat src;
    if (::lstat(from.c_str(), &src) != 0) return Fail(sim::IsFolder(sim::Parent(from)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    DWORD shared = 0, granted = 0;
    // Renaming needs delete access to the source.
    if (sim::OpenShares(src.st_dev, src.st_ino, &shared, &granted) && !(shared & FILE_SHARE_DELETE)) return Fail(ERROR_SHARING_VIOLATION);

    struct stat dst;
    const bool exists = ::lstat(to.c_str(), &dst) == 0;
    if (!exists && !sim::IsFolder(sim::Parent(to))) return Fail(ERROR_PATH_NOT_FOUND);
    // A move adds a name to the target folder, replacing a file or not.
    if (sim::RefusesNewFiles(sim::Parent(to))) return Fail(ERROR_ACCESS_DENIED);
    if (exists) {
        if (dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) return Succeed();
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
        if (S_ISDIR(dst.st_mode) || S_ISDIR(src.st_mode) || sim::ReadOnly(dst)) return Fail(ERROR_ACCESS_DENIED);
        // A file in use can be replaced only when every opener shares delete access.
        if (sim::OpenShares(dst.st_dev, dst.st_ino, &shared, &granted) && !(shared & FILE_SHARE_DELETE)) return Fail(ERROR_ACCESS_DENIED);
    }

    const bool writeThrough = (flags & MOVEFILE_WRITE_THROUGH) != 0;
    if (DriveOf(existingFileName) != DriveOf(newFileName)) {
        // Another volume: no rename; a copy only when the caller allows it.
        if (!(flags & MOVEFILE_COPY_ALLOWED) || S_ISDIR(src.st_mode)) return Fail(ERROR_NOT_SAME_DEVICE);
        std::string staged = to + ".~simmove";
        DWORD error = 0;
        if (!CopyHostFile(from, staged, false, &error)) return Fail(error);
        if (writeThrough) SyncPath(staged, O_RDONLY);
        if (::rename(staged.c_str(), to.c_str()) != 0) {
            error = sim::ErrorFromErrno(errno);
            ::unlink(staged.c_str());
            return Fail(error);
        }
        ::unlink(from.c_str());
    } else {
        if (writeThrough && !S_ISDIR(src.st_mode)) SyncPath(from, O_RDONLY);
        // rename(2) replaces the target in one step: no one ever sees it half written.
        if (::rename(from.c_str(), to.c_str()) != 0) return Fail(sim::ErrorFromErrno(errno));
    }
    if (writeThrough) SyncPath(sim::Parent(to), O_RDONLY | O_DIRECTORY);
    return Succeed();
}

namespace sim {

void HoldFileElsewhere(const std::string& windowsPath, DWORD share) {
    std::string host;
    struct stat st;
    if (!ResolveNative(windowsPath.c_str(), &host) || ::stat(host.c_str(), &st) != 0) return;
    FileHandle held;
    held.host = host;
    held.dev = st.st_dev;
    held.ino = st.st_ino;
    held.access = GENERIC_READ;
    held.share = share;
    M().heldElsewhere.push_back(held);
}

void ReleaseFileElsewhere(const std::string& windowsPath) {
    std::string host;
    struct stat st;
    if (!ResolveNative(windowsPath.c_str(), &host) || ::stat(host.c_str(), &st) != 0) return;
    auto& held = M().heldElsewhere;
    for (auto it = held.begin(); it != held.end();) {
        it = it->dev == st.st_dev && it->ino == st.st_ino ? held.erase(it) : it + 1;
    }
}

const std::vector<PendingMove>& PendingMoves() { return M().pendingMoves; }

void RestartWindows() {
    EndProgramRun();
    M().heldElsewhere.clear();
    M().loadedFonts.clear();
    const std::vector<PendingMove> moves = std::move(M().pendingMoves);
    M().pendingMoves.clear();
    for (const PendingMove& move : moves) {
        std::string from, to;
        if (!ResolveNative(move.from.c_str(), &from)) continue;
        if (move.to.empty()) {
            ::unlink(from.c_str());
            continue;
        }
        struct stat st;
        if (::lstat(from.c_str(), &st) != 0 || !ResolveNative(move.to.c_str(), &to)) continue;
        if (!(move.flags & MOVEFILE_REPLACE_EXISTING) && ::lstat(to.c_str(), &st) == 0) continue;
        ::rename(from.c_str(), to.c_str());
    }
    StartWindowsRegistry();
}

}  // namespace sim

BOOL WINAPI FlushFileBuffers(HANDLE file) {
    if (sim::Enter("FlushFileBuffers")) return FALSE;
    auto it = M().files.find(reinterpret_cast<uintptr_t>(file));
    if (it == M().files.end()) return Fail(ERROR_INVALID_HANDLE);
    if (!(it->second.access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    if (::fsync(it->second.fd) != 0) return Fail(ERROR_WRITE_FAULT);
    return Succeed();
}

DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
    if (sim::Enter("GetFileAttributesA")) return INVALID_FILE_ATTRIBUTES;
    std::string host;
    if (!sim::Resolve(fileName, &host)) return INVALID_FILE_ATTRIBUTES;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) {
        Fail(sim::IsFolder(sim::Parent(host)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    M().lastError = ERROR_SUCCESS;
    if (S_ISDIR(st.st_mode)) {
        // A junction answers for itself, not for the folder it leads to.
        struct stat link;
        const bool junction = ::lstat(host.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
        return FILE_ATTRIBUTE_DIRECTORY | (junction ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
    }
    return FILE_ATTRIBUTE_ARCHIVE | (sim::ReadOnly(st) ? FILE_ATTRIBUTE_READONLY : 0);
}

void WINAPI Sleep(DWORD milliseconds) {
    sim::Enter("Sleep");  // cannot fail; counted like every call
    M().sleptMs += milliseconds;
    sim::RecordSleep(milliseconds);
    if (M().sleepHook) {
        // The hook may set a new hook or clear it: call a copy.
        std::function<void(DWORD)> hook = M().sleepHook;
        hook(milliseconds);
    }
}

DWORD WINAPI GetTickCount(void) {
    sim::Enter("GetTickCount");
    return static_cast<DWORD>(M().sleptMs + M().listedUs / 1000);
}

__time64_t _time64(__time64_t* timer) {
    sim::Enter("_time64");
    const __time64_t now = static_cast<__time64_t>(M().timeBase + static_cast<int64_t>(M().sleptMs / 1000));
    if (timer) *timer = now;
    return now;
}

void WINAPI GetLocalTime(LPSYSTEMTIME out) {
    sim::Enter("GetLocalTime");  // cannot fail; counted like every call
    if (!out) return;
    const time_t seconds = static_cast<time_t>(M().timeBase + static_cast<int64_t>(M().sleptMs / 1000));
    struct tm parts;
    gmtime_r(&seconds, &parts);
    out->wYear = static_cast<WORD>(parts.tm_year + 1900);
    out->wMonth = static_cast<WORD>(parts.tm_mon + 1);
    out->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    out->wDay = static_cast<WORD>(parts.tm_mday);
    out->wHour = static_cast<WORD>(parts.tm_hour);
    out->wMinute = static_cast<WORD>(parts.tm_min);
    out->wSecond = static_cast<WORD>(parts.tm_sec);
    out->wMilliseconds = static_cast<WORD>(M().sleptMs % 1000);
}

// Windows builds the answer once at the process's start and never fails it;
// it is not counted, so that a sweep of failures never spends one on it.
LPSTR WINAPI GetCommandLineA(void) {
    M().commandLineAnswer = M().commandLine.empty() ? "\"" + M().modulePath + "\"" : M().commandLine;
    return &M().commandLineAnswer[0];
}

namespace {

// UTF-8 <-> UTF-16 for the code-page functions; false on a malformed sequence.
bool Utf16FromUtf8(const std::string& utf8, std::u16string* out) {
    out->clear();
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + static_cast<size_t>(extra) >= utf8.size() + (extra == 0)) return false;
        uint32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
        for (int k = 1; k <= extra; ++k) {
            const unsigned char t = static_cast<unsigned char>(utf8[i + static_cast<size_t>(k)]);
            if ((t & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        i += static_cast<size_t>(extra) + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out->push_back(static_cast<char16_t>(cp));
        }
    }
    return true;
}

std::string Utf8FromUtf16(const char16_t* wide, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        uint32_t cp = wide[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < n && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;  // a lone surrogate
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

}  // namespace

// A length of -1 takes the text up to and with its terminator; a target
// length of 0 asks for the length needed.
int WINAPI MultiByteToWideChar(UINT codePage, DWORD, LPCSTR multiByte, int length, LPWSTR wide, int wideLength) {
    if (sim::Enter("MultiByteToWideChar")) return 0;
    if (!multiByte || length < -1 || wideLength < 0 || (codePage != CP_ACP && codePage != CP_UTF8)) {
        Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string text = length == -1 ? std::string(multiByte, std::strlen(multiByte) + 1)
                                          : std::string(multiByte, static_cast<size_t>(length));
    std::string utf8 = text;
    if (codePage == CP_ACP && !sim::Utf8FromAnsi(text, &utf8)) {
        Fail(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    std::u16string units;
    if (!Utf16FromUtf8(utf8, &units)) {
        Fail(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (wideLength == 0) {
        Succeed();
        return static_cast<int>(units.size());
    }
    if (!wide || units.size() > static_cast<size_t>(wideLength)) {
        Fail(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(wide, units.data(), units.size() * sizeof(char16_t));
    Succeed();
    return static_cast<int>(units.size());
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int wideLength, LPSTR multiByte,
                               int multiByteLength, LPCSTR, LPBOOL usedDefaultChar) {
    if (sim::Enter("WideCharToMultiByte")) return 0;
    if (usedDefaultChar) *usedDefaultChar = FALSE;
    if (!wide || wideLength < -1 || multiByteLength < 0 || (codePage != CP_ACP && codePage != CP_UTF8)) {
        Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = 0;
    if (wideLength == -1) {
        while (wide[n]) ++n;
        ++n;
    } else {
        n = static_cast<size_t>(wideLength);
    }
    std::string out = Utf8FromUtf16(wide, n);
    if (codePage == CP_ACP) out = sim::AnsiFromUtf8(out);
    if (multiByteLength == 0) {
        Succeed();
        return static_cast<int>(out.size());
    }
    if (!multiByte || out.size() > static_cast<size_t>(multiByteLength)) {
        Fail(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(multiByte, out.data(), out.size());
    Succeed();
    return static_cast<int>(out.size());
}
