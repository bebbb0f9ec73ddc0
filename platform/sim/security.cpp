// Version query, local memory, security identifiers and descriptors, tokens
// and the access check, named mutexes, privileges and restart requests of the
// simulated machine.
//
// The structures the program builds (descriptors, access-control lists) live
// in the program's own memory; the functions here write exactly as many bytes
// as Windows writes, so a buffer the program made too small is overrun here
// just as it would be on Windows, where the sanitizer can see it.
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/sim/machine.h"
#include "platform/sim/sids.h"

using sim::Fail;
using sim::MakeSid;
using sim::Object;
using sim::ReadSid;
using sim::SidBytes;
using sim::SidLength;
using sim::TokenGroup;
using sim::TokenGroups;
using sim::UserSid;
using sim::WalkAces;
using sim::M;
using sim::Succeed;

namespace {

sim::SecurityState& S() { return M().security; }

const uintptr_t kCurrentProcess = static_cast<uintptr_t>(-1);
const uintptr_t kCurrentThread = static_cast<uintptr_t>(-2);

SECURITY_DESCRIPTOR* Descriptor(PSECURITY_DESCRIPTOR p) { return static_cast<SECURITY_DESCRIPTOR*>(p); }

// Descriptor fields are read through memcpy: the program's buffer need not
// be aligned for the structure.
SECURITY_DESCRIPTOR ReadDescriptor(PSECURITY_DESCRIPTOR p) {
    SECURITY_DESCRIPTOR sd;
    std::memcpy(&sd, p, sizeof sd);
    return sd;
}

bool DescriptorValid(PSECURITY_DESCRIPTOR p) {
    if (!p) return false;
    const SECURITY_DESCRIPTOR sd = ReadDescriptor(p);
    if (sd.Revision != SECURITY_DESCRIPTOR_REVISION || (sd.Control & SE_SELF_RELATIVE)) return false;
    if (sd.Owner && !SidLength(sd.Owner)) return false;
    if (sd.Group && !SidLength(sd.Group)) return false;
    if ((sd.Control & SE_DACL_PRESENT) && sd.Dacl) {
        if (!WalkAces(sd.Dacl, [](const ACE_HEADER&, const unsigned char*, size_t) {})) return false;
    }
    return true;
}

uintptr_t NewHandle(const sim::KernelObject& object) {
    const uintptr_t id = M().nextHandle;
    M().nextHandle += 4;
    S().objects[id] = object;
    return id;
}


// Where a name lives: "Global\\" names in one namespace for the machine,
// every other name (and a "Local\\" one) in the caller's session's.
std::string MutexKey(const std::string& name) {
    static const char kGlobal[] = "Global\\";
    static const char kLocal[] = "Local\\";
    if (name.compare(0, sizeof kGlobal - 1, kGlobal) == 0) return name;
    const std::string own = name.compare(0, sizeof kLocal - 1, kLocal) == 0 ? name.substr(sizeof kLocal - 1) : name;
    return "Session\\" + std::to_string(S().session) + "\\" + own;
}

int MutexOpenCount(const std::string& key) {
    auto it = S().mutexes.find(key);
    return it == S().mutexes.end() ? 0 : it->second;
}

}  // namespace

namespace sim {

void SetWindowsVersion(const WindowsVersion& version) { S().version = version; }
void SetUserRights(UserRights rights) { S().rights = rights; }
bool RunsElevated() { return S().rights == UserRights::kAdministrator; }
void SetShutdownPrivilegeHeld(bool held) { S().shutdownHeld = held; }
bool ThreadImpersonating() { return S().impersonating; }
int OpenObjectCount() { return static_cast<int>(S().objects.size()); }
int LiveLocalBlocks() { return static_cast<int>(S().localBlocks.size()); }
int LiveSids() { return static_cast<int>(S().sids.size()); }

void HoldMutexElsewhere(const std::string& name) {
    const std::string key = MutexKey(name);
    ++S().heldElsewhere[key];
    ++S().mutexes[key];
}

void ReleaseMutexElsewhere(const std::string& name) {
    const std::string key = MutexKey(name);
    auto it = S().heldElsewhere.find(key);
    if (it == S().heldElsewhere.end()) return;
    if (--it->second == 0) S().heldElsewhere.erase(it);
    if (--S().mutexes[key] == 0) S().mutexes.erase(key);
}

bool MutexExists(const std::string& name) { return MutexOpenCount(MutexKey(name)) > 0; }

void SetUserName(const std::string& name) { S().userName = name; }
void SetSession(DWORD session) { S().session = session; }
void RunAsLocalSystem() {
    S().userName = "SYSTEM";
    S().session = 0;
    S().rights = UserRights::kAdministrator;
}

void EndProgramRun() {
    Machine& m = M();
    for (auto& entry : m.files) {
        if (entry.second.fd >= 0) ::close(entry.second.fd);
    }
    m.files.clear();
    m.finds.clear();
    std::vector<uintptr_t> open;
    for (const auto& entry : S().objects) open.push_back(entry.first);
    for (uintptr_t id : open) CloseKernelObject(id);
    S().impersonating = false;
    S().shutdownEnabled = false;
    m.shell.redirectionDisabled = false;
    m.security.localBlocks.clear();
    m.security.sids.clear();
}

const std::vector<RestartRequest>& RestartRequests() { return S().restarts; }

bool CloseKernelObject(uintptr_t handle) {
    auto it = S().objects.find(handle);
    if (it == S().objects.end()) return false;
    if (it->second.kind == KernelObject::kMutex) {
        // The name lives as long as any handle to it.
        if (--S().mutexes[it->second.name] <= 0) S().mutexes.erase(it->second.name);
    }
    S().objects.erase(it);
    return true;
}

}  // namespace sim

// ---------------------------------------------------------------------------
// Version

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    if (sim::Enter("GetVersionExA")) return FALSE;
    if (!info) return Fail(ERROR_INVALID_PARAMETER);
    const sim::WindowsVersion& v = S().version;
    const DWORD size = info->dwOSVersionInfoSize;
    const bool extended = size == sizeof(OSVERSIONINFOEXA);
    if (size != sizeof(OSVERSIONINFOA) && !extended) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (extended && !v.extendedQuery) return Fail(ERROR_INSUFFICIENT_BUFFER);

    // Built whole, then copied as far as the caller's structure goes.
    OSVERSIONINFOEXA out;
    std::memset(&out, 0, sizeof out);
    out.dwOSVersionInfoSize = size;
    out.dwMajorVersion = v.major;
    out.dwMinorVersion = v.minor;
    out.dwBuildNumber = v.build;
    out.dwPlatformId = v.platform;
    const size_t n = std::min(v.servicePack.size(), sizeof out.szCSDVersion - 1);
    std::memcpy(out.szCSDVersion, v.servicePack.data(), n);
    out.wServicePackMajor = v.servicePackMajor;
    out.wServicePackMinor = v.servicePackMinor;
    out.wProductType = 1;  // VER_NT_WORKSTATION
    std::memcpy(info, &out, size);
    return Succeed();
}

// ---------------------------------------------------------------------------
// Local memory

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
    if (sim::Enter("LocalAlloc")) return nullptr;
    if (flags & ~LPTR) {
        Fail(ERROR_INVALID_PARAMETER);  // movable blocks are not simulated
        return nullptr;
    }
    // Exactly the size asked for, so that the sanitizer sees any overrun.
    std::unique_ptr<unsigned char[]> block(new unsigned char[bytes ? bytes : 1]);
    if (flags & LMEM_ZEROINIT) std::memset(block.get(), 0, bytes ? bytes : 1);
    HLOCAL p = block.get();
    S().localBlocks[reinterpret_cast<uintptr_t>(p)] = std::move(block);
    Succeed();
    return p;
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
    sim::Enter("LocalFree");
    if (!memory) return nullptr;
    auto it = S().localBlocks.find(reinterpret_cast<uintptr_t>(memory));
    if (it == S().localBlocks.end()) {
        Fail(ERROR_INVALID_HANDLE);
        return memory;
    }
    S().localBlocks.erase(it);
    return nullptr;
}

// ---------------------------------------------------------------------------
// SIDs, ACLs, descriptors

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD s0, DWORD s1, DWORD s2,
                                     DWORD s3, DWORD s4, DWORD s5, DWORD s6, DWORD s7, PSID* sid) {
    if (sid) *sid = nullptr;
    if (sim::Enter("AllocateAndInitializeSid")) return FALSE;
    if (!authority || !sid || count > 8) return Fail(ERROR_INVALID_SID);
    const DWORD subs[8] = {s0, s1, s2, s3, s4, s5, s6, s7};
    const size_t length = 8u + 4u * count;
    std::unique_ptr<unsigned char[]> block(new unsigned char[length]);
    block[0] = SID_REVISION;
    block[1] = count;
    std::memcpy(block.get() + 2, authority->Value, 6);
    std::memcpy(block.get() + 8, subs, 4u * count);
    *sid = block.get();
    S().sids[reinterpret_cast<uintptr_t>(*sid)] = std::move(block);
    return Succeed();
}

PVOID WINAPI FreeSid(PSID sid) {
    sim::Enter("FreeSid");
    auto it = S().sids.find(reinterpret_cast<uintptr_t>(sid));
    if (it == S().sids.end()) return sid;
    S().sids.erase(it);
    return nullptr;
}

DWORD WINAPI GetLengthSid(PSID sid) {
    sim::Enter("GetLengthSid");
    return SidLength(sid);
}

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR p, DWORD revision) {
    if (sim::Enter("InitializeSecurityDescriptor")) return FALSE;
    if (revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
    // The whole structure is written, as Windows writes it: 40 bytes in a
    // 64-bit process, whatever the caller allocated.
    std::memset(p, 0, sizeof(SECURITY_DESCRIPTOR));
    Descriptor(p)->Revision = SECURITY_DESCRIPTOR_REVISION;
    return Succeed();
}

BOOL WINAPI InitializeAcl(PACL acl, DWORD length, DWORD revision) {
    if (sim::Enter("InitializeAcl")) return FALSE;
    if (revision < ACL_REVISION || revision > ACL_REVISION_DS) return Fail(ERROR_INVALID_PARAMETER);
    if (length < sizeof(ACL)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (length > 0xFFFF) return Fail(ERROR_INVALID_PARAMETER);
    ACL header;
    std::memset(&header, 0, sizeof header);
    header.AclRevision = static_cast<BYTE>(revision);
    header.AclSize = static_cast<WORD>(length & ~3u);
    std::memcpy(acl, &header, sizeof header);
    return Succeed();
}

BOOL WINAPI AddAccessAllowedAce(PACL acl, DWORD revision, DWORD mask, PSID sid) {
    if (sim::Enter("AddAccessAllowedAce")) return FALSE;
    const DWORD sidLength = SidLength(sid);
    if (!sidLength) return Fail(ERROR_INVALID_SID);
    if (!acl || revision < ACL_REVISION || revision > ACL_REVISION_DS) return Fail(ERROR_INVALID_PARAMETER);
    size_t end = 0;
    if (!WalkAces(acl, [](const ACE_HEADER&, const unsigned char*, size_t) {}, &end)) return Fail(ERROR_INVALID_ACL);
    const size_t aceSize = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + sidLength;
    if (aceSize > static_cast<size_t>(acl->AclSize) - end) return Fail(ERROR_ALLOTTED_SPACE_EXCEEDED);
    unsigned char* at = reinterpret_cast<unsigned char*>(acl) + end;
    ACE_HEADER header = {ACCESS_ALLOWED_ACE_TYPE, 0, static_cast<WORD>(aceSize)};
    std::memcpy(at, &header, sizeof header);
    std::memcpy(at + sizeof header, &mask, sizeof mask);
    std::memcpy(at + sizeof header + sizeof mask, sid, sidLength);
    ++acl->AceCount;
    return Succeed();
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR p, BOOL present, PACL dacl, BOOL defaulted) {
    if (sim::Enter("SetSecurityDescriptorDacl")) return FALSE;
    SECURITY_DESCRIPTOR sd = ReadDescriptor(p);
    if (sd.Revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
    if (sd.Control & SE_SELF_RELATIVE) return Fail(ERROR_INVALID_SECURITY_DESCR);
    sd.Control = static_cast<WORD>(sd.Control & ~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
    if (present) {
        sd.Control |= SE_DACL_PRESENT;
        if (defaulted) sd.Control |= SE_DACL_DEFAULTED;
        sd.Dacl = dacl;
    } else {
        sd.Dacl = nullptr;
    }
    std::memcpy(p, &sd, sizeof sd);
    return Succeed();
}

static BOOL SetDescriptorSid(const char* api, PSECURITY_DESCRIPTOR p, PSID sid, BOOL defaulted, bool owner) {
    if (sim::Enter(api)) return FALSE;
    SECURITY_DESCRIPTOR sd = ReadDescriptor(p);
    if (sd.Revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
    if (sd.Control & SE_SELF_RELATIVE) return Fail(ERROR_INVALID_SECURITY_DESCR);
    const WORD flag = owner ? SE_OWNER_DEFAULTED : SE_GROUP_DEFAULTED;
    sd.Control = static_cast<WORD>(defaulted ? (sd.Control | flag) : (sd.Control & ~flag));
    (owner ? sd.Owner : sd.Group) = sid;
    std::memcpy(p, &sd, sizeof sd);
    return Succeed();
}

BOOL WINAPI SetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR p, PSID group, BOOL defaulted) {
    return SetDescriptorSid("SetSecurityDescriptorGroup", p, group, defaulted, false);
}

BOOL WINAPI SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR p, PSID owner, BOOL defaulted) {
    return SetDescriptorSid("SetSecurityDescriptorOwner", p, owner, defaulted, true);
}

BOOL WINAPI IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR p) {
    if (sim::Enter("IsValidSecurityDescriptor")) return FALSE;
    return DescriptorValid(p) ? Succeed() : Fail(ERROR_INVALID_SECURITY_DESCR);
}

// ---------------------------------------------------------------------------
// Tokens and the access check

HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(kCurrentProcess); }
HANDLE WINAPI GetCurrentThread(void) { return reinterpret_cast<HANDLE>(kCurrentThread); }

BOOL WINAPI ImpersonateSelf(SECURITY_IMPERSONATION_LEVEL level) {
    if (sim::Enter("ImpersonateSelf")) return FALSE;
    if (level < SecurityAnonymous || level > SecurityDelegation) return Fail(ERROR_BAD_IMPERSONATION_LEVEL);
    S().impersonating = true;
    return Succeed();
}

BOOL WINAPI RevertToSelf(void) {
    if (sim::Enter("RevertToSelf")) return FALSE;
    S().impersonating = false;
    return Succeed();
}

BOOL WINAPI OpenThreadToken(HANDLE thread, DWORD access, BOOL, PHANDLE token) {
    if (token) *token = nullptr;
    if (sim::Enter("OpenThreadToken")) return FALSE;
    if (reinterpret_cast<uintptr_t>(thread) != kCurrentThread) return Fail(ERROR_INVALID_HANDLE);
    if (!token) return Fail(ERROR_INVALID_PARAMETER);
    if (!S().impersonating) return Fail(ERROR_NO_TOKEN);
    sim::KernelObject object;
    object.kind = sim::KernelObject::kToken;
    object.access = access;
    object.impersonation = true;
    *token = reinterpret_cast<HANDLE>(NewHandle(object));
    return Succeed();
}

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    if (token) *token = nullptr;
    if (sim::Enter("OpenProcessToken")) return FALSE;
    if (reinterpret_cast<uintptr_t>(process) != kCurrentProcess) return Fail(ERROR_INVALID_HANDLE);
    if (!token) return Fail(ERROR_INVALID_PARAMETER);
    sim::KernelObject object;
    object.kind = sim::KernelObject::kToken;
    object.access = access;
    *token = reinterpret_cast<HANDLE>(NewHandle(object));
    return Succeed();
}

BOOL WINAPI AccessCheck(PSECURITY_DESCRIPTOR p, HANDLE clientToken, DWORD desired, PGENERIC_MAPPING mapping,
                        PPRIVILEGE_SET privileges, LPDWORD privilegesLength, LPDWORD granted, LPBOOL status) {
    if (sim::Enter("AccessCheck")) return FALSE;
    const sim::KernelObject* token = Object(clientToken, sim::KernelObject::kToken);
    if (!token) return Fail(ERROR_INVALID_HANDLE);
    // Only a thread's (impersonation) token can be checked against.
    if (!token->impersonation) return Fail(ERROR_NO_IMPERSONATION_TOKEN);
    if (!(token->access & TOKEN_QUERY)) return Fail(ERROR_ACCESS_DENIED);
    if (!p || !mapping || !privilegesLength || !granted || !status) return Fail(ERROR_INVALID_PARAMETER);
    if (desired & (GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL)) return Fail(ERROR_GENERIC_NOT_MAPPED);
    if (!DescriptorValid(p)) return Fail(ERROR_INVALID_SECURITY_DESCR);
    const SECURITY_DESCRIPTOR sd = ReadDescriptor(p);
    if (!sd.Owner || !sd.Group) return Fail(ERROR_INVALID_SECURITY_DESCR);
    if (*privilegesLength < sizeof(PRIVILEGE_SET)) {
        *privilegesLength = sizeof(PRIVILEGE_SET);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (!privileges) return Fail(ERROR_INVALID_PARAMETER);
    privileges->PrivilegeCount = 0;  // no privilege was used
    privileges->Control = 0;

    ACCESS_MASK allowed = 0;
    ACCESS_MASK denied = 0;
    if (!(sd.Control & SE_DACL_PRESENT) || !sd.Dacl) {
        allowed = desired;  // no list: everyone may do everything
    } else {
        const std::vector<TokenGroup> groups = TokenGroups();
        WalkAces(sd.Dacl, [&](const ACE_HEADER& header, const unsigned char* ace, size_t size) {
            if (size < sizeof(ACE_HEADER) + sizeof(ACCESS_MASK)) return;
            if (header.AceType != ACCESS_ALLOWED_ACE_TYPE && header.AceType != ACCESS_DENIED_ACE_TYPE) return;
            ACCESS_MASK mask;
            std::memcpy(&mask, ace + sizeof(ACE_HEADER), sizeof mask);
            const size_t sidAt = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK);
            const SidBytes sid = ReadSid(ace + sidAt, size - sidAt);
            if (sid.empty()) return;
            for (const TokenGroup& group : groups) {
                if (group.sid != sid) continue;
                const bool enabled = (group.attributes & SE_GROUP_ENABLED) != 0;
                const bool denyOnly = (group.attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0;
                // Entries are taken in order: a right decided once stays decided.
                if (header.AceType == ACCESS_ALLOWED_ACE_TYPE && enabled) allowed |= mask & ~denied;
                if (header.AceType == ACCESS_DENIED_ACE_TYPE && (enabled || denyOnly)) denied |= mask & ~allowed;
            }
        });
    }
    if ((allowed & desired) == desired && desired != 0) {
        *granted = desired;
        *status = TRUE;
        return Succeed();
    }
    *granted = 0;
    *status = FALSE;
    M().lastError = ERROR_ACCESS_DENIED;
    return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, PLUID luid) {
    if (sim::Enter("LookupPrivilegeValueA")) return FALSE;
    if (systemName && systemName[0]) return Fail(ERROR_INVALID_PARAMETER);  // only the local system
    if (!name || !luid) return Fail(ERROR_INVALID_PARAMETER);
    static const struct {
        const char* name;
        DWORD value;
    } known[] = {{"SeSecurityPrivilege", 8}, {"SeBackupPrivilege", 17}, {"SeRestorePrivilege", 18},
                 {SE_SHUTDOWN_NAME, 19}, {"SeDebugPrivilege", 20}};
    for (const auto& k : known) {
        if (::strcasecmp(k.name, name) == 0) {
            luid->LowPart = k.value;
            luid->HighPart = 0;
            return Succeed();
        }
    }
    return Fail(ERROR_NO_SUCH_PRIVILEGE);
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE tokenHandle, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD bufferLength,
                                  PTOKEN_PRIVILEGES previousState, LPDWORD returnLength) {
    if (sim::Enter("AdjustTokenPrivileges")) return FALSE;
    const sim::KernelObject* token = Object(tokenHandle, sim::KernelObject::kToken);
    if (!token) return Fail(ERROR_INVALID_HANDLE);
    if (!(token->access & TOKEN_ADJUST_PRIVILEGES)) return Fail(ERROR_ACCESS_DENIED);
    if (previousState) {
        if (!(token->access & TOKEN_QUERY)) return Fail(ERROR_ACCESS_DENIED);
        if (bufferLength < sizeof(TOKEN_PRIVILEGES)) {
            if (returnLength) *returnLength = sizeof(TOKEN_PRIVILEGES);
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        previousState->PrivilegeCount = 1;
        previousState->Privileges[0].Luid.LowPart = 19;
        previousState->Privileges[0].Luid.HighPart = 0;
        previousState->Privileges[0].Attributes = S().shutdownEnabled ? SE_PRIVILEGE_ENABLED : 0;
        if (returnLength) *returnLength = sizeof(TOKEN_PRIVILEGES);
    }
    if (disableAll) {
        S().shutdownEnabled = false;
        return Succeed();
    }
    if (!newState) return Fail(ERROR_INVALID_PARAMETER);
    bool notAssigned = false;
    // The entries follow the count; a set of more than one runs past the
    // declared array, as Windows allows.
    const LUID_AND_ATTRIBUTES* entries = newState->Privileges;
    for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
        if (entries[i].Luid.LowPart == 19 && entries[i].Luid.HighPart == 0 && S().shutdownHeld) {
            S().shutdownEnabled = (entries[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
        } else {
            notAssigned = true;  // a privilege the user does not hold
        }
    }
    // Success even when nothing could be enabled: only the last error tells.
    M().lastError = notAssigned ? ERROR_NOT_ALL_ASSIGNED : ERROR_SUCCESS;
    return TRUE;
}

// ---------------------------------------------------------------------------
// Named mutexes

HANDLE WINAPI OpenMutexA(DWORD access, BOOL, LPCSTR name) {
    if (sim::Enter("OpenMutexA")) return nullptr;
    if (!name) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string key = MutexKey(name);
    if (!MutexOpenCount(key)) {
        Fail(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    sim::KernelObject object;
    object.kind = sim::KernelObject::kMutex;
    object.access = access;
    object.name = key;
    ++S().mutexes[key];
    Succeed();
    return reinterpret_cast<HANDLE>(NewHandle(object));
}

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
    if (sim::Enter("CreateMutexA")) return nullptr;
    sim::KernelObject object;
    object.kind = sim::KernelObject::kMutex;
    object.access = MUTEX_ALL_ACCESS;
    // An unnamed mutex gets a name no program can spell.
    object.name = name ? MutexKey(name) : "\x01unnamed-" + std::to_string(M().nextHandle);
    const bool existed = MutexOpenCount(object.name) > 0;
    object.owned = initialOwner && !existed;
    ++S().mutexes[object.name];
    HANDLE h = reinterpret_cast<HANDLE>(NewHandle(object));
    M().lastError = existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
    return h;
}

BOOL WINAPI ReleaseMutex(HANDLE mutex) {
    if (sim::Enter("ReleaseMutex")) return FALSE;
    sim::KernelObject* object = Object(mutex, sim::KernelObject::kMutex);
    if (!object) return Fail(ERROR_INVALID_HANDLE);
    // Releasing a mutex one does not own is refused; the handle stays open
    // either way, and with it the name.
    if (!object->owned) return Fail(ERROR_NOT_OWNER);
    object->owned = false;
    return Succeed();
}

// ---------------------------------------------------------------------------
// The account

BOOL WINAPI GetUserNameA(LPSTR buffer, LPDWORD size) {
    if (sim::Enter("GetUserNameA")) return FALSE;
    if (!size) return Fail(ERROR_INVALID_PARAMETER);
    const std::string& name = S().userName;
    const DWORD needed = static_cast<DWORD>(name.size() + 1);
    if (!buffer || *size < needed) {
        *size = needed;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, name.c_str(), needed);
    *size = needed;
    return Succeed();
}

// ---------------------------------------------------------------------------
// Restart

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason) {
    if (sim::Enter("ExitWindowsEx")) return FALSE;
    sim::RestartRequest request;
    request.flags = flags;
    request.reason = reason;
    request.privilegeEnabled = S().shutdownEnabled;
    S().restarts.push_back(request);
    if (!request.privilegeEnabled && (flags & (EWX_SHUTDOWN | EWX_REBOOT | EWX_POWEROFF))) {
        return Fail(ERROR_PRIVILEGE_NOT_HELD);
    }
    return Succeed();
}
