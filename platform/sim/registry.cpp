// The simulated machine's registry (HKLM only, text values), folders made
// with an access rule, the Windows folder, and the starts of Windows that
// run the RunOnce values.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/sim/machine.h"
#include "platform/sim/sids.h"
#include "platform/sim/sim_registry.h"

using sim::Fail;
using sim::M;
using sim::Succeed;

namespace sim {

struct RegistryKey {
    bool isVolatile = false;
    std::map<std::string, std::string> values;  // upper-case name -> text
    std::map<std::string, std::string> names;   // upper-case name -> name as written
};

struct RegistryState {
    std::map<std::string, RegistryKey> keys;  // upper-case full path ("HKLM\\SOFTWARE\\...")
    std::map<uintptr_t, std::string> handles;
    uintptr_t nextHandle = 0x5000;
    std::function<int(const std::string&)> starter;
    std::vector<std::string> started;
};

}  // namespace sim

namespace {

// The allow entries of an ACL the program built, as the folder's own rules.
bool EntriesOf(const ACL* acl, std::vector<sim::AccessEntry>* out) {
    const unsigned char* base = reinterpret_cast<const unsigned char*>(acl);
    size_t at = sizeof(ACL);
    for (WORD i = 0; i < acl->AceCount; ++i) {
        ACE_HEADER header;
        if (at + sizeof header > acl->AclSize) return false;
        std::memcpy(&header, base + at, sizeof header);
        if (header.AceSize < sizeof header + 4 || at + header.AceSize > acl->AclSize) return false;
        sim::AccessEntry entry;
        entry.allow = header.AceType == ACCESS_ALLOWED_ACE_TYPE;
        entry.flags = header.AceFlags;
        std::memcpy(&entry.mask, base + at + sizeof header, 4);
        const unsigned char* sid = base + at + sizeof header + 4;
        const size_t room = header.AceSize - sizeof header - 4;
        if (room < 8 || room < 8u + 4u * sid[1]) return false;
        entry.sid = sim::SidText(sim::SidBytes(sid, sid + 8 + 4 * sid[1]));
        if (entry.sid.empty()) return false;
        out->push_back(entry);
        at += header.AceSize;
    }
    return true;
}

const char kRunOnce[] = "HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCE";

sim::RegistryState& R() {
    if (!M().registry) {
        M().registry = std::make_shared<sim::RegistryState>();
        // The keys every Windows has, none of them volatile.
        const std::string runOnce = kRunOnce;
        for (size_t at = runOnce.find('\\', 5);; at = runOnce.find('\\', at + 1)) {
            M().registry->keys[at == std::string::npos ? runOnce : runOnce.substr(0, at)];
            if (at == std::string::npos) break;
        }
    }
    return *M().registry;
}

std::string Upper(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// The full upper-case path of subKey below key; false when key is no open
// key or subKey is malformed.
bool FullPath(HKEY key, LPCSTR subKey, std::string* out) {
    std::string base;
    if (key == HKEY_LOCAL_MACHINE) {
        base = "HKLM";
    } else {
        const auto it = R().handles.find(reinterpret_cast<uintptr_t>(key));
        if (it == R().handles.end()) return false;
        base = it->second;
    }
    const std::string sub = subKey ? subKey : "";
    if (!sub.empty() && (sub.front() == '\\' || sub.back() == '\\' || sub.find("\\\\") != std::string::npos)) return false;
    *out = sub.empty() ? base : base + "\\" + Upper(sub);
    return true;
}

HKEY NewHandle(const std::string& path) {
    const uintptr_t handle = R().nextHandle++;
    R().handles[handle] = path;
    return reinterpret_cast<HKEY>(handle);
}

sim::RegistryKey* OpenKeyOf(HKEY key) {
    std::string path;
    if (!FullPath(key, nullptr, &path)) return nullptr;
    const auto it = R().keys.find(path);
    return it == R().keys.end() ? nullptr : &it->second;
}

}  // namespace

LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD options, REGSAM, LPSECURITY_ATTRIBUTES,
                            PHKEY result, LPDWORD disposition) {
    if (sim::Enter("RegCreateKeyExA")) return static_cast<LONG>(GetLastError());
    std::string path;
    if (!result || !subKey || !FullPath(key, subKey, &path)) return ERROR_INVALID_PARAMETER;
    const bool isVolatile = (options & REG_OPTION_VOLATILE) != 0;
    auto& keys = R().keys;
    const bool exists = keys.count(path) != 0;
    if (!exists) {
        // The machine's keys are an administrator's to write.
        if (!sim::RunsElevated()) return ERROR_ACCESS_DENIED;
        // Every key on the way is made; below a volatile key only volatile ones.
        for (size_t at = path.find('\\', 5); ; at = path.find('\\', at + 1)) {
            const std::string step = at == std::string::npos ? path : path.substr(0, at);
            auto found = keys.find(step);
            if (found == keys.end()) {
                sim::RegistryKey made;
                made.isVolatile = isVolatile;
                keys[step] = made;
            } else if (found->second.isVolatile && !isVolatile) {
                return ERROR_CHILD_MUST_BE_VOLATILE;
            }
            if (at == std::string::npos) break;
        }
    }
    if (disposition) *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = NewHandle(path);
    return ERROR_SUCCESS;
}

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
    if (sim::Enter("RegOpenKeyExA")) return static_cast<LONG>(GetLastError());
    std::string path;
    if (!result || !FullPath(key, subKey, &path)) return ERROR_INVALID_PARAMETER;
    if (!R().keys.count(path)) return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(path);
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
    if (sim::Enter("RegSetValueExA")) return static_cast<LONG>(GetLastError());
    sim::RegistryKey* open = OpenKeyOf(key);
    if (!open) return ERROR_INVALID_HANDLE;
    if (type != REG_SZ || (dataSize && !data)) return ERROR_INVALID_PARAMETER;
    if (!sim::RunsElevated()) return ERROR_ACCESS_DENIED;
    std::string text(reinterpret_cast<const char*>(data), dataSize);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    const std::string name = valueName ? valueName : "";
    open->values[Upper(name)] = text;
    open->names[Upper(name)] = name;
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (sim::Enter("RegQueryValueExA")) return static_cast<LONG>(GetLastError());
    sim::RegistryKey* open = OpenKeyOf(key);
    if (!open) return ERROR_INVALID_HANDLE;
    const auto it = open->values.find(Upper(valueName ? valueName : ""));
    if (it == open->values.end()) return ERROR_FILE_NOT_FOUND;
    if (type) *type = REG_SZ;
    const DWORD needed = static_cast<DWORD>(it->second.size() + 1);
    if (!dataSize) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (!data) {
        *dataSize = needed;
        return ERROR_SUCCESS;
    }
    const DWORD room = *dataSize;
    *dataSize = needed;
    if (room < needed) return ERROR_MORE_DATA;
    std::memcpy(data, it->second.c_str(), needed);
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName) {
    if (sim::Enter("RegDeleteValueA")) return static_cast<LONG>(GetLastError());
    sim::RegistryKey* open = OpenKeyOf(key);
    if (!open) return ERROR_INVALID_HANDLE;
    if (!sim::RunsElevated()) return ERROR_ACCESS_DENIED;
    const std::string name = Upper(valueName ? valueName : "");
    if (!open->values.erase(name)) return ERROR_FILE_NOT_FOUND;
    open->names.erase(name);
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY key) {
    sim::Enter("RegCloseKey");
    return R().handles.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// ---------------------------------------------------------------------------
// Folders with an access rule of their own

BOOL WINAPI AddAccessAllowedAceEx(PACL acl, DWORD revision, DWORD flags, DWORD mask, PSID sid) {
    if (!AddAccessAllowedAce(acl, revision, mask, sid)) return FALSE;
    // The ACE just added is the last one: walk the sizes to it.
    unsigned char* at = reinterpret_cast<unsigned char*>(acl) + sizeof(ACL);
    for (WORD i = 1; i < acl->AceCount; ++i) {
        ACE_HEADER header;
        std::memcpy(&header, at, sizeof header);
        at += header.AceSize;
    }
    ACE_HEADER header;
    std::memcpy(&header, at, sizeof header);
    header.AceFlags = static_cast<BYTE>(flags);
    std::memcpy(at, &header, sizeof header);
    return Succeed();
}

BOOL WINAPI SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR p, SECURITY_DESCRIPTOR_CONTROL interest,
                                         SECURITY_DESCRIPTOR_CONTROL bits) {
    if (sim::Enter("SetSecurityDescriptorControl")) return FALSE;
    // Only the inheritance bits may be set so, as on Windows.
    const SECURITY_DESCRIPTOR_CONTROL settable = 0x0100 | 0x0200 | 0x0400 | 0x0800 | SE_DACL_PROTECTED | 0x2000;
    if ((interest | bits) & ~settable) return Fail(ERROR_INVALID_PARAMETER);
    SECURITY_DESCRIPTOR sd;
    std::memcpy(&sd, p, sizeof sd);
    if (sd.Revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
    sd.Control = static_cast<SECURITY_DESCRIPTOR_CONTROL>((sd.Control & ~interest) | (bits & interest));
    std::memcpy(p, &sd, sizeof sd);
    return Succeed();
}

BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES securityAttributes) {
    if (sim::Enter("CreateDirectoryA")) return FALSE;
    std::string host;
    if (!sim::Resolve(pathName, &host)) return FALSE;
    struct stat st;
    if (::lstat(host.c_str(), &st) == 0) return Fail(ERROR_ALREADY_EXISTS);
    const std::string parent = sim::Parent(host);
    if (!sim::IsFolder(parent)) return Fail(ERROR_PATH_NOT_FOUND);
    if (sim::RefusesNewFiles(parent)) return Fail(ERROR_ACCESS_DENIED);
    // The rules given are the folder's own; an elevated administrator's new
    // folder belongs to the Administrators group, anyone else's to them.
    std::vector<sim::AccessEntry> entries;
    bool ownRules = false;
    if (securityAttributes && securityAttributes->lpSecurityDescriptor) {
        PSECURITY_DESCRIPTOR descriptor = securityAttributes->lpSecurityDescriptor;
        if (!IsValidSecurityDescriptor(descriptor)) return Fail(ERROR_INVALID_SECURITY_DESCR);
        SECURITY_DESCRIPTOR sd;
        std::memcpy(&sd, descriptor, sizeof sd);
        if ((sd.Control & SE_DACL_PRESENT) && sd.Dacl) {
            if (!EntriesOf(sd.Dacl, &entries)) return Fail(ERROR_INVALID_ACL);
            ownRules = true;
        }
    }
    if (::mkdir(host.c_str(), 0755) != 0) return Fail(sim::ErrorFromErrno(errno));
    const bool elevated = sim::RunsElevated();
    sim::SetFileOwner(pathName, elevated ? sim::FileOwner::kAdministrators : sim::FileOwner::kUser);
    if (ownRules) sim::SetFolderRules(pathName, elevated ? sim::kSidAdministrators : sim::UserSidText(), entries);
    return Succeed();
}

BOOL WINAPI RemoveDirectoryA(LPCSTR pathName) {
    if (sim::Enter("RemoveDirectoryA")) return FALSE;
    std::string host;
    if (!sim::Resolve(pathName, &host)) return FALSE;
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0) return Fail(sim::IsFolder(sim::Parent(host)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    // A folder link goes itself, never what it leads to.
    if (S_ISLNK(st.st_mode)) return ::unlink(host.c_str()) == 0 ? Succeed() : Fail(sim::ErrorFromErrno(errno));
    if (!S_ISDIR(st.st_mode)) return Fail(ERROR_DIRECTORY);
    DWORD shared = 0;
    if (sim::OpenShares(st.st_dev, st.st_ino, &shared, nullptr) && !(shared & FILE_SHARE_DELETE)) {
        return Fail(ERROR_SHARING_VIOLATION);
    }
    if (::rmdir(host.c_str()) != 0) return Fail(errno == ENOTEMPTY || errno == EEXIST ? ERROR_DIR_NOT_EMPTY : sim::ErrorFromErrno(errno));
    return Succeed();
}

UINT WINAPI GetSystemWindowsDirectoryA(LPSTR buffer, UINT size) {
    if (sim::Enter("GetSystemWindowsDirectoryA")) return 0;
    const std::string& system = M().shell.systemFolder;
    const size_t slash = system.rfind('\\');
    std::string windows = slash == std::string::npos ? system : system.substr(0, slash);
    if (windows.size() == 2) windows += '\\';  // a drive root keeps its backslash
    if (!buffer || windows.size() + 1 > size) {
        Succeed();
        return static_cast<UINT>(windows.size() + 1);
    }
    std::memcpy(buffer, windows.c_str(), windows.size() + 1);
    Succeed();
    return static_cast<UINT>(windows.size());
}

namespace sim {

std::map<std::string, std::string> RegistryValues(const std::string& key) {
    std::map<std::string, std::string> out;
    const auto it = R().keys.find(Upper(key));
    if (it == R().keys.end()) return out;
    for (const auto& value : it->second.values) out[it->second.names.at(value.first)] = value.second;
    return out;
}

bool RegistryKeyExists(const std::string& key) { return R().keys.count(Upper(key)) != 0; }

void SetRegistryValue(const std::string& key, const std::string& name, const std::string& text) {
    const std::string path = Upper(key);
    for (size_t at = path.find('\\', 5);; at = path.find('\\', at + 1)) {
        R().keys[at == std::string::npos ? path : path.substr(0, at)];
        if (at == std::string::npos) break;
    }
    R().keys[path].values[Upper(name)] = text;
    R().keys[path].names[Upper(name)] = name;
}

void SetProgramStarter(std::function<int(const std::string&)> start) { R().starter = std::move(start); }

const std::vector<std::string>& RunOnceStarted() { return R().started; }

int OpenRegistryKeyCount() { return static_cast<int>(R().handles.size()); }

void StartWindowsRegistry() {
    RegistryState& r = R();
    r.handles.clear();
    for (auto it = r.keys.begin(); it != r.keys.end();) {
        it = it->second.isVolatile ? r.keys.erase(it) : std::next(it);
    }
    // Windows removes each value before it runs the command, so that a
    // command that fails or hangs is not run at every start.
    for (;;) {
        const auto key = r.keys.find(kRunOnce);
        if (key == r.keys.end() || key->second.values.empty()) break;
        const auto first = key->second.values.begin();
        const std::string command = first->second;
        key->second.names.erase(first->first);
        key->second.values.erase(first);
        r.started.push_back(command);
        if (r.starter) {
            r.starter(command);
            EndProgramRun();
        }
    }
}

}  // namespace sim
