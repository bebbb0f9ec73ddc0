// Files and folder listings of the simulated machine.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/sim/machine.h"

using sim::Fail;
using sim::M;
using sim::Succeed;

namespace {

sim::FileHandle* LookUp(HANDLE h) {
    auto it = M().files.find(reinterpret_cast<uintptr_t>(h));
    return it == M().files.end() ? nullptr : &it->second;
}

FILETIME FileTimeFromUnix(time_t t) {
    // 100-ns intervals since 1601-01-01.
    uint64_t v = (static_cast<uint64_t>(t) + 11644473600ULL) * 10000000ULL;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(v);
    ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
    return ft;
}

// The "C" locale's upper case, without a locale look-up per byte: listings
// sort and match on it for every entry.
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// NTFS lists a folder in the order of its upper-cased names.
bool ListedBefore(const char* x, const char* y) {
    for (; *x && *y; ++x, ++y) {
        if (Upper(*x) != Upper(*y)) return static_cast<unsigned char>(Upper(*x)) < static_cast<unsigned char>(Upper(*y));
    }
    return *x == '\0' && *y != '\0';
}

// Windows wildcard match, '*' and '?', without regard to ASCII case.
bool WildcardMatch(const char* pattern, const char* name) {
    if (*pattern == '\0') return *name == '\0';
    if (*pattern == '*') {
        for (const char* n = name;; ++n) {
            if (WildcardMatch(pattern + 1, n)) return true;
            if (*n == '\0') return false;
        }
    }
    if (*name == '\0') return false;
    if (*pattern == '?' || Upper(*pattern) == Upper(*name)) return WildcardMatch(pattern + 1, name + 1);
    return false;
}

// Whether a listed entry is a host symbolic link; the entry's type usually
// says so without a look-up.
bool IsLink(int dirFd, const dirent* e) {
    if (e->d_type != DT_UNKNOWN) return e->d_type == DT_LNK;
    struct stat st;
    return ::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

// A new file belongs to the account that made it: the Administrators group
// for an elevated administrator, as Windows makes it.
void NoteCreator(const struct stat& st) {
    const auto key = std::make_pair(st.st_dev, st.st_ino);
    if (M().security.userName == "SYSTEM") {
        M().owners[key] = sim::FileOwner::kSystem;
    } else if (sim::RunsElevated()) {
        M().owners.erase(key);
    } else {
        M().owners[key] = sim::FileOwner::kUser;
    }
}

// A new handle on an open host file: what sharing checks and the handle's
// own calls need of it.  lastError is what a successful open leaves.
HANDLE NewHandle(int fd, const std::string& host, const struct stat& st, DWORD access, DWORD share, bool link,
                 DWORD lastError) {
    sim::FileHandle h;
    h.fd = fd;
    h.host = host;
    h.dev = st.st_dev;
    h.ino = st.st_ino;
    h.access = access;
    h.share = share;
    h.link = link;
    uintptr_t id = M().nextHandle;
    M().nextHandle += 4;
    M().files[id] = h;
    M().lastError = lastError;
    return reinterpret_cast<HANDLE>(id);
}

// A link opened as itself: its handle answers questions about the link (a
// reparse point), and reads and writes through it fail.
HANDLE OpenLinkItself(const std::string& host, DWORD disposition, DWORD access, DWORD share) {
    if (disposition == CREATE_NEW) {
        Fail(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }
    if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) {
        Fail(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const int fd = ::open(host.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0) ::close(fd);
        Fail(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const DWORD opened = disposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
    return NewHandle(fd, host, st, access, share, true, opened);
}

// What a disposition does to a file that exists or not: false (with the
// error set) when it refuses.
bool Disposition(DWORD disposition, bool exists, bool* create, bool* truncate) {
    switch (disposition) {
    case CREATE_NEW:
        if (exists) {
            Fail(ERROR_FILE_EXISTS);
            return false;
        }
        *create = true;
        break;
    case CREATE_ALWAYS:
        *create = !exists;
        *truncate = exists;
        break;
    case OPEN_EXISTING:
        if (!exists) {
            Fail(ERROR_FILE_NOT_FOUND);
            return false;
        }
        break;
    case OPEN_ALWAYS: *create = !exists; break;
    case TRUNCATE_EXISTING:
        if (!exists) {
            Fail(ERROR_FILE_NOT_FOUND);
            return false;
        }
        *truncate = true;
        break;
    default: Fail(ERROR_INVALID_PARAMETER); return false;
    }
    return true;
}

// A folder opens only with backup semantics, and only to be looked at: its
// handle answers questions about it, never reads or writes.
HANDLE OpenFolder(const std::string& host, const struct stat& st, DWORD access, DWORD share, DWORD disposition,
                  DWORD flagsAndAttributes) {
    if (!(flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) || (access & GENERIC_WRITE) ||
        (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS)) {
        Fail(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // Folders share as files do: a handle that does not share delete keeps
    // anyone else from renaming, removing or replacing the folder.
    if (!sim::SharingAllows(st.st_dev, st.st_ino, access, share)) {
        Fail(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    const int fd = ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        Fail(sim::ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    const DWORD opened = disposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
    return NewHandle(fd, host, st, access, share, false, opened);
}

}  // namespace

namespace sim {

void SetFileOwner(const char* windowsPath, FileOwner owner) {
    struct stat st;
    if (::lstat(HostPath(windowsPath).c_str(), &st) != 0) return;
    const auto key = std::make_pair(st.st_dev, st.st_ino);
    if (owner == FileOwner::kAdministrators) {
        M().owners.erase(key);
    } else {
        M().owners[key] = owner;
    }
}

bool MakeFileLink(const std::string& linkPath, const std::string& targetWindowsPath) {
    const std::string link = HostPath(linkPath.c_str());
    const std::string target = HostPath(targetWindowsPath.c_str());
    return !link.empty() && !target.empty() && ::symlink(target.c_str(), link.c_str()) == 0;
}

}  // namespace sim

DWORD WINAPI GetLastError(void) { return M().lastError; }

void WINAPI SetLastError(DWORD error) { M().lastError = error; }

BOOL WINAPI IsDBCSLeadByte(BYTE c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD flagsAndAttributes, HANDLE) {
    if (sim::Enter("CreateFileA")) return INVALID_HANDLE_VALUE;
    std::string host;
    if (!sim::Resolve(fileName, &host)) return INVALID_HANDLE_VALUE;

    struct stat st;
    if ((flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) && ::lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        return OpenLinkItself(host, disposition, access, share);
    }
    bool exists = ::stat(host.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return OpenFolder(host, st, access, share, disposition, flagsAndAttributes);
    // A Windows drive holds files and folders only: a host FIFO or device
    // would make the open or a read wait for ever.
    if (exists && !S_ISREG(st.st_mode)) {
        Fail(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (!exists && !sim::IsFolder(sim::Parent(host))) {
        Fail(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    bool create = false, truncate = false;
    if (!Disposition(disposition, exists, &create, &truncate)) return INVALID_HANDLE_VALUE;

    if (exists) {
        if ((access & GENERIC_WRITE || truncate) && sim::ReadOnly(st)) {
            Fail(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        if (!sim::SharingAllows(st.st_dev, st.st_ino, access, share)) {
            Fail(ERROR_SHARING_VIOLATION);
            return INVALID_HANDLE_VALUE;
        }
    }

    if (create && sim::RefusesNewFiles(sim::Parent(host))) {
        Fail(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }

    int flags = O_CLOEXEC;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE)) flags |= O_RDWR;
    else if (access & GENERIC_WRITE) flags |= O_WRONLY;
    else flags |= O_RDONLY;
    if (create) flags |= O_CREAT | O_EXCL;
    if (truncate) flags |= O_TRUNC;
    if (truncate && !(access & GENERIC_WRITE)) flags = (flags & ~O_ACCMODE) | O_RDWR;

    int fd = ::open(host.c_str(), flags, 0644);
    if (fd < 0) {
        Fail(sim::ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    struct stat opened;
    ::fstat(fd, &opened);

    if (create) NoteCreator(opened);
    const bool existed = exists && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
    return NewHandle(fd, host, opened, access, share, false, existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
}

BOOL WINAPI SetEndOfFile(HANDLE file) {
    if (sim::Enter("SetEndOfFile")) return FALSE;
    sim::FileHandle* h = LookUp(file);
    if (!h) return Fail(ERROR_INVALID_HANDLE);
    if (!(h->access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    const off_t at = ::lseek(h->fd, 0, SEEK_CUR);
    if (at < 0 || ::ftruncate(h->fd, at) != 0) return Fail(ERROR_WRITE_FAULT);
    return Succeed();
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD bytesRead, LPOVERLAPPED) {
    if (bytesRead) *bytesRead = 0;
    if (sim::Enter("ReadFile")) return FALSE;
    sim::FileHandle* h = LookUp(file);
    if (!h) return Fail(ERROR_INVALID_HANDLE);
    if (!(h->access & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
    char* p = static_cast<char*>(buffer);
    DWORD total = 0;
    while (total < toRead) {
        size_t chunk = std::min<size_t>(toRead - total, 1u << 30);
        ssize_t got = ::read(h->fd, p + total, chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            return Fail(ERROR_READ_FAULT);
        }
        if (got == 0) break;
        total += static_cast<DWORD>(got);
    }
    if (bytesRead) *bytesRead = total;
    M().lastError = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD bytesWritten, LPOVERLAPPED) {
    if (bytesWritten) *bytesWritten = 0;
    if (sim::Enter("WriteFile")) return FALSE;
    sim::FileHandle* h = LookUp(file);
    if (!h) return Fail(ERROR_INVALID_HANDLE);
    if (!(h->access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    const char* p = static_cast<const char*>(buffer);
    DWORD total = 0;
    while (total < toWrite) {
        size_t chunk = std::min<size_t>(toWrite - total, 1u << 30);
        ssize_t put = ::write(h->fd, p + total, chunk);
        if (put < 0) {
            if (errno == EINTR) continue;
            return Fail(errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT);
        }
        total += static_cast<DWORD>(put);
    }
    if (bytesWritten) *bytesWritten = total;
    M().lastError = ERROR_SUCCESS;
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
    if (sim::Enter("SetFilePointer")) return INVALID_SET_FILE_POINTER;
    sim::FileHandle* h = LookUp(file);
    if (!h) {
        Fail(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    const int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : -1;
    if (whence < 0) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t move = distance;
    if (distanceHigh) move = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                                  static_cast<uint32_t>(distance));
    const off_t at = ::lseek(h->fd, static_cast<off_t>(move), whence);
    if (at < 0) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(at) >> 32);
    M().lastError = ERROR_SUCCESS;
    return static_cast<DWORD>(static_cast<uint64_t>(at) & 0xFFFFFFFFu);
}

BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
    if (sim::Enter("GetFileInformationByHandle")) return FALSE;
    sim::FileHandle* h = LookUp(file);
    if (!h || !information) return Fail(ERROR_INVALID_HANDLE);
    struct stat st;
    if (::fstat(h->fd, &st) != 0) return Fail(ERROR_INVALID_HANDLE);
    std::memset(information, 0, sizeof *information);
    information->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        const bool folder = ::stat(h->host.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
        information->dwFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT | (folder ? FILE_ATTRIBUTE_DIRECTORY : 0u);
    }
    if (!S_ISDIR(st.st_mode) && sim::ReadOnly(st)) information->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
    information->ftCreationTime = information->ftLastAccessTime = information->ftLastWriteTime =
        FileTimeFromUnix(st.st_mtime);
    // The host's device and inode are the file's identity, whichever drive
    // letter, link or alias the path went through.
    const uint64_t device = static_cast<uint64_t>(st.st_dev);
    const uint64_t inode = static_cast<uint64_t>(st.st_ino);
    information->dwVolumeSerialNumber = static_cast<DWORD>(device ^ (device >> 32));
    information->nFileIndexHigh = static_cast<DWORD>(inode >> 32);
    information->nFileIndexLow = static_cast<DWORD>(inode);
    information->nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
    if (!S_ISDIR(st.st_mode)) {
        information->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
        information->nFileSizeLow = static_cast<DWORD>(st.st_size);
    }
    return Succeed();
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD high) {
    if (sim::Enter("GetFileSize")) return INVALID_FILE_SIZE;
    sim::FileHandle* h = LookUp(file);
    struct stat st;
    if (!h || ::fstat(h->fd, &st) != 0) {
        Fail(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    uint64_t size = static_cast<uint64_t>(st.st_size);
    if (high) *high = static_cast<DWORD>(size >> 32);
    M().lastError = ERROR_SUCCESS;
    return static_cast<DWORD>(size);
}

BOOL WINAPI CloseHandle(HANDLE object) {
    if (sim::Enter("CloseHandle")) {
        // A failed close still releases the handle, as on Windows; the caller
        // only learns that something went wrong.
        auto it = M().files.find(reinterpret_cast<uintptr_t>(object));
        if (it != M().files.end()) {
            ::close(it->second.fd);
            M().files.erase(it);
        } else {
            sim::CloseKernelObject(reinterpret_cast<uintptr_t>(object));
        }
        return FALSE;
    }
    auto it = M().files.find(reinterpret_cast<uintptr_t>(object));
    if (it == M().files.end()) {
        // Tokens and mutexes share the handle space with files.
        if (sim::CloseKernelObject(reinterpret_cast<uintptr_t>(object))) {
            M().lastError = ERROR_SUCCESS;
            return TRUE;
        }
        return Fail(ERROR_INVALID_HANDLE);
    }
    int rc = ::close(it->second.fd);
    M().files.erase(it);
    if (rc != 0) return Fail(ERROR_WRITE_FAULT);
    M().lastError = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR fileName) {
    if (sim::Enter("DeleteFileA")) return FALSE;
    std::string host;
    if (!sim::Resolve(fileName, &host)) return FALSE;
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0) return Fail(sim::IsFolder(sim::Parent(host)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    if (S_ISDIR(st.st_mode) || sim::ReadOnly(st)) return Fail(ERROR_ACCESS_DENIED);
    DWORD shared = 0;
    if (sim::OpenShares(st.st_dev, st.st_ino, &shared, nullptr) && !(shared & FILE_SHARE_DELETE)) {
        return Fail(ERROR_SHARING_VIOLATION);
    }
    if (::unlink(host.c_str()) != 0) return Fail(sim::ErrorFromErrno(errno));
    M().lastError = ERROR_SUCCESS;
    return TRUE;
}

namespace {

// Splits a listing's pattern into the folder and the last component, at a
// separator that begins a character; false when there is no separator.
bool SplitPattern(LPCSTR pattern, std::string* folder, std::string* mask) {
    size_t cut = std::string::npos;
    for (size_t i = 0; pattern[i];) {
        unsigned char c = static_cast<unsigned char>(pattern[i]);
        if (IsDBCSLeadByte(c) && pattern[i + 1]) {
            i += 2;
            continue;
        }
        if (c == '\\' || c == '/') cut = i;
        ++i;
    }
    if (cut == std::string::npos) return false;
    folder->assign(pattern, cut + 1);
    mask->assign(pattern + cut + 1);
    return true;
}

// The entries of an open folder that the mask takes, in the host's order.
std::vector<WIN32_FIND_DATAA> ListEntries(DIR* dir, bool isRoot, const std::string& mask) {
    const bool matchAll = mask == "*";
    const bool typeOnly = M().listing == sim::kListTypeOnly;
    const int dirFd = ::dirfd(dir);
    // NTFS makes "." and ".." out of the listed folder itself, times and all.
    struct stat self;
    const bool haveSelf = ::fstat(dirFd, &self) == 0;
    std::vector<WIN32_FIND_DATAA> listed;
    listed.reserve(16);
    std::string ansi;
    while (dirent* e = ::readdir(dir)) {
        const char* name = e->d_name;
        const bool dots = std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
        if (dots && (isRoot || !haveSelf)) continue;
        ansi = dots ? std::string(name) : sim::AnsiFromUtf8(name);
        if (ansi.size() >= MAX_PATH) continue;  // not reachable through the ANSI functions
        if (!matchAll && !WildcardMatch(mask.c_str(), ansi.c_str())) continue;
        // Relative to the open folder: no path to build and walk per entry.
        // The attributes need the mode bits, so the type alone (d_type) is
        // not enough; a dangling link is no entry.
        struct stat st;
        if (dots) {
            st = self;
        } else if (typeOnly && haveSelf && (e->d_type == DT_DIR || e->d_type == DT_REG)) {
            st = self;
            st.st_size = 0;
            st.st_mode = e->d_type == DT_DIR ? (S_IFDIR | 0755) : (S_IFREG | 0644);
        } else if (::fstatat(dirFd, name, &st, 0) != 0) {
            continue;
        }
        listed.emplace_back();
        WIN32_FIND_DATAA& fd = listed.back();
        std::memset(&fd, 0, sizeof fd);
        fd.dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
        if (!S_ISDIR(st.st_mode) && sim::ReadOnly(st)) fd.dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
        // A host link to a folder plays a junction, which Windows lists as a
        // folder that is also a reparse point.
        if (!dots && S_ISDIR(st.st_mode) && IsLink(dirFd, e)) fd.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        fd.ftCreationTime = fd.ftLastAccessTime = fd.ftLastWriteTime = FileTimeFromUnix(st.st_mtime);
        if (!S_ISDIR(st.st_mode)) {
            fd.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
            fd.nFileSizeLow = static_cast<DWORD>(st.st_size);
        }
        std::memcpy(fd.cFileName, ansi.c_str(), ansi.size() + 1);
    }
    return listed;
}

// A listing's handle over the entries, in NTFS order: its first entry in
// *data; INVALID_HANDLE_VALUE when there are none.
HANDLE OpenListing(std::vector<WIN32_FIND_DATAA> listed, LPWIN32_FIND_DATAA data) {
    // The simulated machine lists in NTFS order, so listings are repeatable.
    // The order is found on indices: an entry is a few hundred bytes.
    std::vector<uint32_t> order(listed.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
    std::sort(order.begin(), order.end(),
              [&](uint32_t a, uint32_t b) { return ListedBefore(listed[a].cFileName, listed[b].cFileName); });
    sim::FindHandle find;
    find.entries.reserve(listed.size());
    for (uint32_t i : order) find.entries.push_back(listed[i]);
    if (find.entries.empty()) {
        Fail(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *data = find.entries[0];
    find.next = 1;
    M().listedUs += M().listingCostUs;
    uintptr_t id = M().nextHandle;
    M().nextHandle += 4;
    M().finds[id] = std::move(find);
    M().lastError = ERROR_SUCCESS;
    return reinterpret_cast<HANDLE>(id);
}

HANDLE ListFirst(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    if (!pattern) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (!sim::PathFits(pattern)) return INVALID_HANDLE_VALUE;
    std::string folder, mask;
    if (!SplitPattern(pattern, &folder, &mask)) {
        Fail(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::string host;
    // A folder that opens as written is the one Resolve would find: its
    // look-up, one more walk of the whole path, is spared.
    DIR* dir = sim::WrittenPath(folder.c_str(), &host) ? ::opendir(host.c_str()) : nullptr;
    if (!dir) {
        if (!sim::Resolve(folder.c_str(), &host)) return INVALID_HANDLE_VALUE;
        dir = ::opendir(host.c_str());
    }
    if (!dir) {
        Fail(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const bool isRoot = folder.size() == 3;  // "X:\" lists no "." and ".."
    std::vector<WIN32_FIND_DATAA> listed = ListEntries(dir, isRoot, mask);
    ::closedir(dir);
    return OpenListing(std::move(listed), data);
}

}  // namespace

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    if (sim::Enter("FindFirstFileA")) return INVALID_HANDLE_VALUE;
    return ListFirst(pattern, data);
}

HANDLE WINAPI FindFirstFileExA(LPCSTR pattern, FINDEX_INFO_LEVELS level, LPVOID data, FINDEX_SEARCH_OPS op,
                               LPVOID filter, DWORD flags) {
    if (sim::Enter("FindFirstFileExA")) return INVALID_HANDLE_VALUE;
    const sim::WindowsVersion& v = M().security.version;
    const bool beforeWindows7 = v.major < 6 || (v.major == 6 && v.minor < 1);
    const bool newer = level == FindExInfoBasic || (flags & FIND_FIRST_EX_LARGE_FETCH);
    if (!data || filter || op != FindExSearchNameMatch || level >= FindExInfoMaxInfoLevel ||
        (flags & ~(FIND_FIRST_EX_CASE_SENSITIVE | FIND_FIRST_EX_LARGE_FETCH)) || (newer && beforeWindows7)) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // The simulated listing has no short names: both levels give the same.
    return ListFirst(pattern, static_cast<LPWIN32_FIND_DATAA>(data));
}

BOOL WINAPI FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA data) {
    if (sim::Enter("FindNextFileA")) return FALSE;
    auto it = M().finds.find(reinterpret_cast<uintptr_t>(findFile));
    if (it == M().finds.end()) return Fail(ERROR_INVALID_HANDLE);
    sim::FindHandle& find = it->second;
    if (find.next >= find.entries.size()) return Fail(ERROR_NO_MORE_FILES);
    *data = find.entries[find.next++];
    M().listedUs += M().listingCostUs;
    M().lastError = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE findFile) {
    bool failed = sim::Enter("FindClose");
    auto it = M().finds.find(reinterpret_cast<uintptr_t>(findFile));
    if (it == M().finds.end()) return Fail(ERROR_INVALID_HANDLE);
    M().finds.erase(it);
    return failed ? FALSE : TRUE;
}
