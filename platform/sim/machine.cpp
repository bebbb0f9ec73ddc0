#include "platform/sim/machine.h"

#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>

namespace sim {

Machine& M() {
    static Machine machine;
    return machine;
}

void Reset() {
    Machine& m = M();
    for (auto& entry : m.files) {
        if (entry.second.fd >= 0) ::close(entry.second.fd);
    }
    m = Machine();
    ResetWindows();
}

void MapDrive(char letter, const std::string& hostFolder, UINT driveType) {
    std::string host = hostFolder;
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    M().drives[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] = Drive{host, driveType};
}

bool MakeFolderLink(const std::string& linkPath, const std::string& targetPath) {
    const std::string link = HostPath(linkPath.c_str());
    const std::string target = HostPath(targetPath.c_str());
    if (link.empty() || target.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(Parent(link), ec);
    // A host symbolic link to the folder: the host follows it wherever a
    // path passes through, as Windows follows a junction.
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

void SetListingDetail(ListingDetail detail) { M().listing = detail; }
void SetListingCost(DWORD microsecondsPerEntry) { M().listingCostUs = microsecondsPerEntry; }

void FailCall(const char* api, unsigned nth, DWORD error) {
    M().failures.push_back(FailureRule{api, nth == 0 ? 1 : nth, error});
}

void FailAnyCall(unsigned nth, DWORD error) {
    M().failures.push_back(FailureRule{std::string(), nth == 0 ? 1 : nth, error});
}

void ClearFailures() { M().failures.clear(); }

void OnCall(std::function<void(const char* api, uint64_t total)> hook) { M().callHook = std::move(hook); }

uint64_t CallCount(const char* api) {
    auto it = M().counts.find(api);
    return it == M().counts.end() ? 0 : it->second;
}

uint64_t TotalCalls() { return M().total; }

const std::vector<const char*>& CallLog() { return M().log; }

int OpenHandleCount() { return static_cast<int>(M().files.size() + M().finds.size()); }

bool Enter(const char* api) {
    Machine& m = M();
    ++m.counts[api];
    ++m.total;
    m.log.emplace_back(api);
    if (m.callHook) m.callHook(api, m.total);
    bool fail = false;
    DWORD error = 0;
    for (auto it = m.failures.begin(); it != m.failures.end();) {
        if (it->api.empty() || it->api == api) {
            if (--it->remaining == 0) {
                if (!fail) {
                    fail = true;
                    error = it->error;
                }
                it = m.failures.erase(it);
                continue;
            }
        }
        ++it;
    }
    if (fail) m.lastError = error;
    return fail;
}

// ---------------------------------------------------------------------------
// Code page 932

namespace {

bool IsAscii(const std::string& text) {
    for (unsigned char c : text) {
        if (c >= 0x80) return false;
    }
    return true;
}

// One conversion descriptor per direction, opened on first use: opening one
// costs far more than converting a file name, and every listed entry and
// every path component is converted.  The machine is driven from one thread
// at a time; the lock only keeps a stray second thread from sharing a
// descriptor's state.
struct Converter {
    Converter(const char* to, const char* from) : cd(iconv_open(to, from)) {}
    ~Converter() {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
    iconv_t cd;
    std::mutex lock;
};

std::string Convert(Converter& converter, const std::string& in, bool substitute, bool* ok) {
    *ok = true;
    // Both code pages agree on every 7-bit byte.
    if (IsAscii(in)) return in;
    std::lock_guard<std::mutex> hold(converter.lock);
    iconv_t cd = converter.cd;
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        *ok = false;
        return std::string();
    }
    // A conversion left unfinished before must not leak its state into this one.
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    std::vector<char> inBuf(in.begin(), in.end());
    char* inPtr = inBuf.data();
    size_t inLeft = inBuf.size();
    char buffer[256];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            if (!substitute) {
                *ok = false;
                break;
            }
            // Skip one whole UTF-8 character of the input and put '?' for it.
            out += '?';
            size_t skip = 1;
            while (skip < inLeft && (static_cast<unsigned char>(inPtr[skip]) & 0xC0) == 0x80) ++skip;
            inPtr += skip;
            inLeft -= skip;
        }
    }
    // Flush any shift state into the output.
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    return out;
}

Converter& ToAnsi() {
    static Converter converter("CP932", "UTF-8");
    return converter;
}

Converter& FromAnsi() {
    static Converter converter("UTF-8", "CP932");
    return converter;
}

}  // namespace

std::string AnsiFromUtf8(const std::string& utf8) {
    bool ok = false;
    return Convert(ToAnsi(), utf8, true, &ok);
}

bool Utf8FromAnsi(const std::string& ansi, std::string* utf8) {
    bool ok = false;
    *utf8 = Convert(FromAnsi(), ansi, false, &ok);
    return ok;
}

// ---------------------------------------------------------------------------
// Host files

DWORD ErrorFromErrno(int e) {
    switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_INVALID_NAME;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    default: return ERROR_ACCESS_DENIED;  // EACCES, EPERM, EISDIR, EROFS and the rest
    }
}

bool ReadOnly(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

std::string Parent(const std::string& host) {
    size_t slash = host.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : host.substr(0, slash);
}

bool IsFolder(const std::string& host) {
    struct stat st;
    return ::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool OpenShares(dev_t dev, ino_t ino, DWORD* shared, DWORD* accessGranted) {
    bool any = false;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    DWORD granted = 0;
    for (const auto& entry : M().files) {
        if (entry.second.dev != dev || entry.second.ino != ino) continue;
        any = true;
        share &= entry.second.share;
        granted |= entry.second.access;
    }
    for (const FileHandle& held : M().heldElsewhere) {
        if (held.dev != dev || held.ino != ino) continue;
        any = true;
        share &= held.share;
        granted |= held.access;
    }
    if (shared) *shared = share;
    if (accessGranted) *accessGranted = granted;
    return any;
}

bool SharingAllows(dev_t dev, ino_t ino, DWORD access, DWORD share) {
    DWORD shared = 0, granted = 0;
    if (!OpenShares(dev, ino, &shared, &granted)) return true;
    if ((access & GENERIC_READ) && !(shared & FILE_SHARE_READ)) return false;
    if ((access & GENERIC_WRITE) && !(shared & FILE_SHARE_WRITE)) return false;
    if ((granted & GENERIC_READ) && !(share & FILE_SHARE_READ)) return false;
    if ((granted & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return false;
    if ((access & DELETE) && !(shared & FILE_SHARE_DELETE)) return false;
    if ((granted & DELETE) && !(share & FILE_SHARE_DELETE)) return false;
    return true;
}

void RefuseNewFiles(const std::string& windowsFolder) {
    std::string host;
    if (Resolve(windowsFolder.c_str(), &host) && IsFolder(host)) M().refusingNewFiles.push_back(host);
}

bool RefusesNewFiles(const std::string& hostFolder) {
    for (const std::string& folder : M().refusingNewFiles) {
        if (folder == hostFolder) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Paths

namespace {

bool AsciiCaseEqual(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

// Splits the part after "X:\" into components at separators that begin a
// character (a 0x5C trail byte belongs to its double-byte character).
std::vector<std::string> Components(const char* rest) {
    std::vector<std::string> parts;
    std::string current;
    for (size_t i = 0; rest[i];) {
        unsigned char c = static_cast<unsigned char>(rest[i]);
        if (IsDBCSLeadByte(c) && rest[i + 1]) {
            current += rest[i];
            current += rest[i + 1];
            i += 2;
            continue;
        }
        if (c == '\\' || c == '/') {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(c);
        }
        ++i;
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

}  // namespace

bool PathFits(const char* windowsPath) {
    if (!windowsPath) return true;  // the callers refuse it on their own terms
    size_t characters = 0;
    for (size_t i = 0; windowsPath[i]; ++characters) {
        i += IsDBCSLeadByte(static_cast<BYTE>(windowsPath[i])) && windowsPath[i + 1] ? 2 : 1;
    }
    if (characters < MAX_PATH) return true;
    M().lastError = ERROR_FILENAME_EXCED_RANGE;
    return false;
}

bool Resolve(const char* windowsPath, std::string* host) {
    if (!PathFits(windowsPath)) return false;
    std::string redirected;
    if (Wow64Redirect(windowsPath, &redirected)) return ResolveNative(redirected.c_str(), host);
    return ResolveNative(windowsPath, host);
}

namespace {

// The drive's host folder and the converted names of the path, as written.
bool WrittenNames(const char* windowsPath, std::string* driveHost, std::vector<std::string>* namesOut) {
    Machine& m = M();
    if (!windowsPath || !std::isalpha(static_cast<unsigned char>(windowsPath[0])) || windowsPath[1] != ':' ||
        (windowsPath[2] != '\\' && windowsPath[2] != '/')) {
        m.lastError = ERROR_PATH_NOT_FOUND;
        return false;
    }
    auto drive = m.drives.find(static_cast<char>(std::toupper(static_cast<unsigned char>(windowsPath[0]))));
    if (drive == m.drives.end()) {
        m.lastError = ERROR_PATH_NOT_FOUND;
        return false;
    }
    // The names as written, converted; "." and ".." taken away in the text.
    std::vector<std::string>& names = *namesOut;
    names.clear();
    for (const std::string& ansi : Components(windowsPath + 3)) {
        if (ansi == ".") continue;
        if (ansi == "..") {
            // Never climb above the drive's root folder.
            if (!names.empty()) names.pop_back();
            continue;
        }
        std::string name;
        if (!Utf8FromAnsi(ansi, &name) || name.find('\0') != std::string::npos) {
            m.lastError = ERROR_INVALID_NAME;
            return false;
        }
        names.push_back(std::move(name));
    }
    *driveHost = drive->second.host;
    return true;
}

std::string Joined(const std::string& driveHost, const std::vector<std::string>& names) {
    std::string path = driveHost;
    for (const std::string& name : names) path += "/" + name;
    return path;
}

}  // namespace

bool WrittenPath(const char* windowsPath, std::string* host) {
    if (!PathFits(windowsPath)) return false;
    std::string redirected;
    if (Wow64Redirect(windowsPath, &redirected)) windowsPath = redirected.c_str();
    std::string driveHost;
    std::vector<std::string> names;
    if (!WrittenNames(windowsPath, &driveHost, &names)) return false;
    *host = Joined(driveHost, names);
    return true;
}

bool ResolveNative(const char* windowsPath, std::string* host) {
    std::string driveHost;
    std::vector<std::string> names;
    if (!WrittenNames(windowsPath, &driveHost, &names)) return false;
    std::string path = driveHost;
    const std::string exact = Joined(driveHost, names);
    struct stat st;
    // Most paths name what exists with the case it has: one look-up of the
    // whole path settles that, and every folder on the way exists as written.
    if (!names.empty() && ::lstat(exact.c_str(), &st) == 0) {
        *host = exact;
        return true;
    }
    for (const std::string& name : names) {
        std::string candidate = path + "/" + name;
        if (::lstat(candidate.c_str(), &st) != 0) {
            // Windows names are case-insensitive: look for a differently cased one.
            if (DIR* dir = ::opendir(path.c_str())) {
                while (dirent* e = ::readdir(dir)) {
                    if (AsciiCaseEqual(e->d_name, name)) {
                        candidate = path + "/" + e->d_name;
                        break;
                    }
                }
                ::closedir(dir);
            }
        }
        path = candidate;
    }
    *host = path;
    return true;
}

std::string HostPath(const char* windowsPath) {
    std::string host;
    DWORD saved = M().lastError;
    bool ok = ResolveNative(windowsPath, &host);
    M().lastError = saved;
    return ok ? host : std::string();
}

}  // namespace sim
