// Who may change a folder, read from the access rules of the folder and of
// every folder above it.  Anything that cannot be read, or read whole, makes
// the answer "user-controlled": the answer that allows less.
#include "driver/foldersecurity.h"

#include <cstring>
#include <string>
#include <vector>

#include "driver/folderpath.h"
#include "platform/winapi.h"

namespace {

// A descriptor is at most a 64 KiB DACL plus its header and owner; a larger
// answer is not a descriptor to trust.
const DWORD kMaxDescriptor = 0x10000 + 1024;

// Rights on the folder itself that let their holder put something in it,
// take something out, or change who may.
const DWORD kChangesFolder = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                             WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;
// Rights on a folder above that let their holder rename, remove or replace
// what is below it, or give themselves those rights.
const DWORD kChangesBelow = FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL | MAXIMUM_ALLOWED;

const BYTE kAccessDeniedObjectAce = 0x6;
const BYTE kAccessDeniedCallbackAce = 0xA;
const BYTE kAccessDeniedCallbackObjectAce = 0xC;

using SidBytes = std::vector<BYTE>;

SidBytes NtSid(std::initializer_list<DWORD> subs) {
    SidBytes sid = {SID_REVISION, static_cast<BYTE>(subs.size()), 0, 0, 0, 0, 0, 5};
    for (DWORD sub : subs) {
        for (int i = 0; i < 4; ++i) sid.push_back(static_cast<BYTE>(sub >> (8 * i)));
    }
    return sid;
}

// The account the program runs as, when its token is an administrator's:
// elevated (which the local system account always is).  Another account is
// what the rule defends against; a process of the administrator's own
// account that is not elevated is no boundary Windows itself keeps (it can
// already drive the elevated one's windows and files), and without this no
// folder could be administrators-only under Wine, which reports every folder
// as owned by the user.  Before Vista, where elevation cannot be asked
// about, the account is not trusted.
bool ElevatedAccount(SidBytes* sid) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD length = 0;
    const bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &length) &&
                          length == sizeof elevation && elevation.TokenIsElevated != 0;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    const bool known = elevated && GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &length);
    CloseHandle(token);
    if (!known || !buffer.user.User.Sid || !IsValidSid(buffer.user.User.Sid)) return false;
    const DWORD sidLength = GetLengthSid(buffer.user.User.Sid);
    if (sidLength == 0 || sidLength > SECURITY_MAX_SID_SIZE) return false;
    const BYTE* at = static_cast<const BYTE*>(buffer.user.User.Sid);
    sid->assign(at, at + sidLength);
    return true;
}

std::vector<SidBytes> TrustedPrincipals() {
    std::vector<SidBytes> trusted = {
        NtSid({SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}),
        NtSid({SECURITY_LOCAL_SYSTEM_RID}),
        NtSid({80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u}),  // TrustedInstaller
    };
    SidBytes own;
    if (ElevatedAccount(&own)) trusted.push_back(own);
    return trusted;
}

// A descriptor as the system answered it, with the bounds every pointer
// into it is checked against.
struct Descriptor {
    std::vector<BYTE> bytes;
    bool Holds(const void* p, size_t size) const {
        const BYTE* at = static_cast<const BYTE*>(p);
        const BYTE* begin = bytes.data();
        return at >= begin && at <= begin + bytes.size() && size <= static_cast<size_t>(begin + bytes.size() - at);
    }
};

bool ReadDescriptor(const std::string& path, Descriptor* out) {
    const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    BYTE probe[256];
    if (GetFileSecurityA(path.c_str(), wanted, probe, sizeof probe, &needed)) {
        if (needed == 0 || needed > sizeof probe) return false;
        out->bytes.assign(probe, probe + needed);
        return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= sizeof probe || needed > kMaxDescriptor) return false;
    out->bytes.assign(needed, 0);
    DWORD again = 0;
    if (!GetFileSecurityA(path.c_str(), wanted, out->bytes.data(), needed, &again) || again == 0 || again > needed) {
        return false;
    }
    out->bytes.resize(again);
    return true;
}

// The SID at p, whole inside the descriptor; empty when it is not.
SidBytes SidAt(const Descriptor& d, const void* p, size_t room) {
    if (!p || room < 8 || !d.Holds(p, 8)) return SidBytes();
    const BYTE* at = static_cast<const BYTE*>(p);
    const size_t length = 8u + 4u * at[1];
    if (at[0] != SID_REVISION || at[1] > SID_MAX_SUB_AUTHORITIES || length > room || !d.Holds(p, length)) {
        return SidBytes();
    }
    return SidBytes(at, at + length);
}

bool Trusted(const std::vector<SidBytes>& trusted, const SidBytes& sid) {
    for (const SidBytes& t : trusted) {
        if (t == sid) return true;
    }
    return false;
}

// Whether an untrusted principal holds any of the rights in `changes`
// through an allow entry that applies to the folder itself.  Deny entries
// are passed by: an allow the decision cannot rule out counts.
bool UntrustedMayChange(const Descriptor& d, PACL dacl, DWORD changes, const std::vector<SidBytes>& trusted) {
    if (!d.Holds(dacl, sizeof(ACL))) return true;
    ACL header;
    std::memcpy(&header, dacl, sizeof header);
    if (header.AclSize < sizeof(ACL) || !d.Holds(dacl, header.AclSize)) return true;
    const BYTE* aclEnd = reinterpret_cast<const BYTE*>(dacl) + header.AclSize;
    for (DWORD i = 0; i < header.AceCount; ++i) {
        LPVOID ace = nullptr;
        if (!GetAce(dacl, i, &ace) || !d.Holds(ace, sizeof(ACE_HEADER))) return true;
        const BYTE* at = static_cast<const BYTE*>(ace);
        ACE_HEADER entry;
        std::memcpy(&entry, at, sizeof entry);
        if (at < reinterpret_cast<const BYTE*>(dacl) || entry.AceSize > static_cast<size_t>(aclEnd - at)) return true;
        if (entry.AceFlags & INHERIT_ONLY_ACE) continue;
        if (entry.AceType == ACCESS_DENIED_ACE_TYPE || entry.AceType == kAccessDeniedObjectAce ||
            entry.AceType == kAccessDeniedCallbackAce || entry.AceType == kAccessDeniedCallbackObjectAce) {
            continue;
        }
        // An allow entry of another form (object, callback) is not read:
        // it might grant anything.
        const size_t sidAt = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK);
        if (entry.AceType != ACCESS_ALLOWED_ACE_TYPE || entry.AceSize < sidAt) return true;
        ACCESS_MASK mask;
        std::memcpy(&mask, at + sizeof(ACE_HEADER), sizeof mask);
        const SidBytes sid = SidAt(d, at + sidAt, entry.AceSize - sidAt);
        if (sid.empty()) return true;
        if ((mask & changes) && !Trusted(trusted, sid)) return true;
    }
    return false;
}

// Whether someone untrusted may change the folder (changes: the rights that
// count for it), by its descriptor.
bool UserControls(const std::string& path, DWORD changes, const std::vector<SidBytes>& trusted) {
    Descriptor d;
    if (!ReadDescriptor(path, &d)) return true;
    PSECURITY_DESCRIPTOR sd = d.bytes.data();
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(sd, &owner, &defaulted)) return true;
    const SidBytes ownerSid = SidAt(d, owner, d.bytes.size());
    if (ownerSid.empty() || !Trusted(trusted, ownerSid)) return true;
    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted)) return true;
    // No DACL, or a null one: everyone may do everything.
    if (!present || !dacl) return true;
    return UntrustedMayChange(d, dacl, changes, trusted);
}

}  // namespace

FolderControl ControlOfFolder(const char* folderPath) {
    std::vector<std::string> chain;
    if (!FolderChain(folderPath, &chain)) return kFolderUserControlled;
    const std::vector<SidBytes> trusted = TrustedPrincipals();
    for (size_t i = 0; i < chain.size(); ++i) {
        const bool folderItself = i + 1 == chain.size();
        // A link anywhere on the way puts another folder behind the name:
        // its rules are not the ones this path shows.
        if (i > 0) {
            const DWORD attributes = GetFileAttributesA(chain[i].c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
                (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                return kFolderUserControlled;
            }
        }
        const DWORD changes = folderItself ? kChangesFolder : kChangesBelow;
        if (UserControls(chain[i], changes, trusted)) return kFolderUserControlled;
    }
    return kFolderAdministratorsOnly;
}
