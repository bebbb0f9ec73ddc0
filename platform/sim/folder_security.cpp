// The access rules of files and folders on the simulated machine: owners
// and DACLs as Windows sets them on a fresh installation, inheritance from
// folder to folder, rules a test sets, and the functions that read them.
#include <sys/stat.h>

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/sim/sids.h"

using sim::AccessEntry;
using sim::Fail;
using sim::M;
using sim::SidBytes;
using sim::Succeed;

namespace sim {

const char kSidAdministrators[] = "S-1-5-32-544";
const char kSidSystem[] = "S-1-5-18";
const char kSidUsers[] = "S-1-5-32-545";
const char kSidAuthenticatedUsers[] = "S-1-5-11";
const char kSidEveryone[] = "S-1-1-0";
const char kSidCreatorOwner[] = "S-1-3-0";
const char kSidTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

}  // namespace sim

namespace {

const BYTE kOiCi = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
const DWORD kReadExecute = 0x001200A9u;
const DWORD kModify = 0x001301BFu;

// What a folder's rules are, whole: the owner, and the DACL (null or a list).
struct Rules {
    std::string owner;
    bool nullDacl = false;
    bool protectedDacl = false;
    std::vector<AccessEntry> dacl;
};

AccessEntry Allow(const std::string& sid, DWORD mask, BYTE flags) {
    AccessEntry entry;
    entry.sid = sid;
    entry.mask = mask;
    entry.flags = flags;
    return entry;
}

// A fixed drive's root: Authenticated Users may make folders here (this
// folder only), and may change what is below (inherit-only), so what one
// user makes there the others may change too.
Rules RootRules() {
    Rules rules;
    rules.owner = sim::kSidSystem;
    rules.protectedDacl = true;
    rules.dacl = {Allow(sim::kSidAdministrators, FILE_ALL_ACCESS, kOiCi),
                  Allow(sim::kSidSystem, FILE_ALL_ACCESS, kOiCi),
                  Allow(sim::kSidUsers, kReadExecute, kOiCi),
                  Allow(sim::kSidAuthenticatedUsers, DELETE | GENERIC_EXECUTE | GENERIC_WRITE, kOiCi | INHERIT_ONLY_ACE),
                  Allow(sim::kSidAuthenticatedUsers, FILE_ADD_SUBDIRECTORY, 0)};
    return rules;
}

// The Windows folder and the folders of installed programs.
Rules SystemRules() {
    Rules rules;
    rules.owner = sim::kSidTrustedInstaller;
    rules.protectedDacl = true;
    rules.dacl = {Allow(sim::kSidTrustedInstaller, FILE_ALL_ACCESS, CONTAINER_INHERIT_ACE),
                  Allow(sim::kSidSystem, kModify, kOiCi),
                  Allow(sim::kSidAdministrators, kModify, kOiCi),
                  Allow(sim::kSidUsers, kReadExecute, kOiCi),
                  Allow(sim::kSidCreatorOwner, GENERIC_ALL, kOiCi | INHERIT_ONLY_ACE)};
    return rules;
}

Rules ProfileRules(const std::string& owner, bool profilesFolder) {
    Rules rules;
    rules.owner = owner;
    rules.protectedDacl = true;
    rules.dacl = {Allow(sim::kSidSystem, FILE_ALL_ACCESS, kOiCi), Allow(sim::kSidAdministrators, FILE_ALL_ACCESS, kOiCi)};
    if (profilesFolder) {
        rules.dacl.push_back(Allow(sim::kSidUsers, kReadExecute, kOiCi));
        rules.dacl.push_back(Allow(sim::kSidEveryone, kReadExecute, kOiCi));
    } else {
        rules.dacl.push_back(Allow(owner, FILE_ALL_ACCESS, kOiCi));
    }
    return rules;
}

// What a new object below a folder takes from the folder's entries, as
// Windows works it out when the object is made.
Rules Inherit(const Rules& parent, const std::string& owner, bool folder) {
    Rules rules;
    rules.owner = owner;
    rules.nullDacl = parent.nullDacl;
    for (const AccessEntry& entry : parent.dacl) {
        const bool containers = (entry.flags & CONTAINER_INHERIT_ACE) != 0;
        const bool objects = (entry.flags & OBJECT_INHERIT_ACE) != 0;
        const bool propagate = !(entry.flags & NO_PROPAGATE_INHERIT_ACE);
        if (folder ? !(containers || (objects && propagate)) : !objects) continue;
        AccessEntry inherited = entry;
        inherited.flags = static_cast<BYTE>((entry.flags & kOiCi) | INHERITED_ACE);
        // An object-only entry passes through a folder to its files without
        // applying to the folder itself.
        if (folder && !containers) inherited.flags |= INHERIT_ONLY_ACE;
        if (!folder || !propagate) inherited.flags = INHERITED_ACE;
        if (entry.sid == sim::kSidCreatorOwner) {
            if (!folder || containers) {
                AccessEntry own = inherited;
                own.sid = owner;
                own.flags = INHERITED_ACE;
                rules.dacl.push_back(own);
            }
            if (!folder || !propagate) continue;
            inherited.flags |= INHERIT_ONLY_ACE;
        }
        rules.dacl.push_back(inherited);
    }
    return rules;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string OwnerText(sim::FileOwner owner) {
    switch (owner) {
    case sim::FileOwner::kAdministrators: return sim::kSidAdministrators;
    case sim::FileOwner::kSystem: return sim::kSidSystem;
    case sim::FileOwner::kUser: return sim::UserSidText();
    case sim::FileOwner::kStandardUser: return sim::OtherUserSidText();
    }
    return sim::kSidAdministrators;
}

// The drive whose folder holds the canonical host path: its letter and its
// folder, canonical; false when no drive holds it.
bool DriveHolding(const std::string& canonical, char* letter, std::string* driveHost) {
    bool found = false;
    for (const auto& drive : M().drives) {
        char resolved[PATH_MAX];
        if (!::realpath(drive.second.host.c_str(), resolved)) continue;
        const std::string root = resolved;
        const bool inside = canonical == root || (canonical.size() > root.size() &&
                                                  canonical.compare(0, root.size(), root) == 0 && canonical[root.size()] == '/');
        if (!inside || (found && root.size() <= driveHost->size())) continue;
        found = true;
        *letter = drive.first;
        *driveHost = root;
    }
    return found;
}

// The rules Windows would have given the folder or file at windowsPath
// (below a drive root, canonical), the rules of its parent given.
Rules DefaultRules(const std::string& windowsPath, const Rules& parent, const struct stat& st) {
    const sim::ShellState& shell = M().shell;
    const std::string path = Lower(windowsPath);
    const std::string windowsFolder = Lower(shell.systemFolder.substr(0, shell.systemFolder.rfind('\\')));
    const std::string systemDrive = windowsFolder.substr(0, 3);
    const std::string profiles = Lower(shell.profilesFolder);
    const std::string parentPath = path.substr(0, path.rfind('\\'));
    const std::string name = windowsPath.substr(windowsPath.rfind('\\') + 1);
    const bool folder = S_ISDIR(st.st_mode);
    auto known = M().owners.find(std::make_pair(st.st_dev, st.st_ino));
    std::string owner = known != M().owners.end() ? OwnerText(known->second) : sim::kSidAdministrators;
    if (folder && (path == windowsFolder || path == systemDrive + "program files" ||
                   path == systemDrive + "program files (x86)")) {
        Rules rules = SystemRules();
        if (known != M().owners.end()) rules.owner = owner;
        return rules;
    }
    if (folder && path == profiles) return ProfileRules(sim::kSidSystem, true);
    if (folder && parentPath == profiles) {
        const bool own = Lower(name) == Lower(M().security.userName);
        return ProfileRules(own ? sim::UserSidText() : sim::OtherUserSidText(), false);
    }
    // Inside a profile, what the tests make is the profile user's.
    if (known == M().owners.end() && path.compare(0, profiles.size() + 1, profiles + "\\") == 0) {
        const std::string rest = windowsPath.substr(profiles.size() + 1);
        const std::string user = rest.substr(0, rest.find('\\'));
        owner = Lower(user) == Lower(M().security.userName) ? sim::UserSidText() : sim::OtherUserSidText();
    }
    Rules rules = Inherit(parent, owner, folder);
    if (folder && path == windowsFolder + "\\temp") {
        rules.dacl.push_back(Allow(sim::kSidUsers, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE,
                                   CONTAINER_INHERIT_ACE));
    }
    return rules;
}

Rules FromOwn(const sim::Machine::OwnRules& own) {
    Rules rules;
    rules.owner = own.owner;
    rules.nullDacl = own.nullDacl;
    rules.protectedDacl = true;
    rules.dacl = own.dacl;
    return rules;
}

// The rules of the file or folder at a host path (links followed), from its
// drive's root down; false when it is not there or on no drive.
bool RulesOf(const std::string& host, Rules* out) {
    char resolved[PATH_MAX];
    if (!::realpath(host.c_str(), resolved)) return false;
    const std::string canonical = resolved;
    char letter = 0;
    std::string at;
    if (!DriveHolding(canonical, &letter, &at)) return false;
    struct stat st;
    if (::stat(at.c_str(), &st) != 0) return false;
    auto own = M().folderRules.find(std::make_pair(st.st_dev, st.st_ino));
    Rules rules = own != M().folderRules.end() ? FromOwn(own->second) : RootRules();
    std::string walked = std::string(1, letter) + ":";
    for (size_t from = at.size(); from < canonical.size();) {
        const size_t next = canonical.find('/', from + 1);
        const std::string name = canonical.substr(from + 1, next == std::string::npos ? std::string::npos : next - from - 1);
        at = canonical.substr(0, next);
        walked += "\\" + sim::AnsiFromUtf8(name);
        if (::stat(at.c_str(), &st) != 0) return false;
        own = M().folderRules.find(std::make_pair(st.st_dev, st.st_ino));
        rules = own != M().folderRules.end() ? FromOwn(own->second) : DefaultRules(walked, rules, st);
        from = next == std::string::npos ? canonical.size() : next;
    }
    *out = rules;
    return true;
}

void Append(std::vector<unsigned char>* out, const void* data, size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    out->insert(out->end(), p, p + size);
}

// The DACL as Windows stores it: the header, then each entry with its SID.
std::vector<unsigned char> AclBytes(const std::vector<AccessEntry>& entries) {
    std::vector<unsigned char> aces;
    WORD count = 0;
    for (const AccessEntry& entry : entries) {
        const SidBytes sid = sim::SidFromText(entry.sid);
        if (sid.empty()) continue;
        const ACE_HEADER header = {static_cast<BYTE>(entry.allow ? ACCESS_ALLOWED_ACE_TYPE : ACCESS_DENIED_ACE_TYPE),
                                   entry.flags, static_cast<WORD>(sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + sid.size())};
        Append(&aces, &header, sizeof header);
        Append(&aces, &entry.mask, sizeof entry.mask);
        Append(&aces, sid.data(), sid.size());
        ++count;
    }
    ACL acl;
    std::memset(&acl, 0, sizeof acl);
    acl.AclRevision = ACL_REVISION;
    acl.AclSize = static_cast<WORD>(sizeof(ACL) + aces.size());
    acl.AceCount = count;
    std::vector<unsigned char> out;
    Append(&out, &acl, sizeof acl);
    Append(&out, aces.data(), aces.size());
    return out;
}

void PutDword(std::vector<unsigned char>* out, size_t at, DWORD value) { std::memcpy(out->data() + at, &value, 4); }

// A self-relative descriptor: revision, control, the four offsets, then
// the owner, the group and the DACL asked for.
std::vector<unsigned char> SelfRelative(const Rules& rules, SECURITY_INFORMATION requested) {
    const size_t kHeader = 20;
    std::vector<unsigned char> out(kHeader, 0);
    out[0] = SECURITY_DESCRIPTOR_REVISION;
    WORD control = SE_SELF_RELATIVE;
    if (requested & OWNER_SECURITY_INFORMATION) {
        const SidBytes owner = sim::SidFromText(rules.owner);
        PutDword(&out, 4, static_cast<DWORD>(out.size()));
        Append(&out, owner.data(), owner.size());
    }
    if (requested & GROUP_SECURITY_INFORMATION) {
        const SidBytes group = sim::SidFromText(sim::kSidSystem);
        PutDword(&out, 8, static_cast<DWORD>(out.size()));
        Append(&out, group.data(), group.size());
    }
    if (requested & DACL_SECURITY_INFORMATION) {
        control |= SE_DACL_PRESENT;
        if (rules.protectedDacl) control |= SE_DACL_PROTECTED;
        if (!rules.nullDacl) {
            PutDword(&out, 16, static_cast<DWORD>(out.size()));
            const std::vector<unsigned char> acl = AclBytes(rules.dacl);
            Append(&out, acl.data(), acl.size());
        }
    }
    std::memcpy(out.data() + 2, &control, sizeof control);
    return out;
}

void SetOwn(const std::string& windowsFolder, const sim::Machine::OwnRules& own) {
    struct stat st;
    if (::stat(sim::HostPath(windowsFolder.c_str()).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    M().folderRules[std::make_pair(st.st_dev, st.st_ino)] = own;
}

// A descriptor field: the pointer of an absolute descriptor, or the offset
// of a self-relative one made a pointer (null for 0).
void* Field(PSECURITY_DESCRIPTOR p, size_t pointerAt, size_t offsetAt) {
    SECURITY_DESCRIPTOR_CONTROL control;
    std::memcpy(&control, static_cast<unsigned char*>(p) + 2, sizeof control);
    if (control & SE_SELF_RELATIVE) {
        DWORD offset;
        std::memcpy(&offset, static_cast<unsigned char*>(p) + offsetAt, sizeof offset);
        return offset ? static_cast<unsigned char*>(p) + offset : nullptr;
    }
    void* pointer;
    std::memcpy(&pointer, static_cast<unsigned char*>(p) + pointerAt, sizeof pointer);
    return pointer;
}

}  // namespace

namespace sim {

std::string UserSidText() { return SidText(UserSid()); }
std::string OtherUserSidText() { return SidText(OtherUserSid()); }

void SetFolderRules(const std::string& windowsFolder, const std::string& ownerSid, const std::vector<AccessEntry>& dacl) {
    Machine::OwnRules own;
    own.owner = ownerSid;
    own.dacl = dacl;
    SetOwn(windowsFolder, own);
}

void SetFolderNullDacl(const std::string& windowsFolder, const std::string& ownerSid) {
    Machine::OwnRules own;
    own.owner = ownerSid;
    own.nullDacl = true;
    SetOwn(windowsFolder, own);
}

void SetFolderRules(const std::string& windowsFolder, FolderRules rules) {
    std::vector<AccessEntry> dacl = {Allow(kSidAdministrators, FILE_ALL_ACCESS, kOiCi),
                                     Allow(kSidSystem, FILE_ALL_ACCESS, kOiCi)};
    std::string owner = kSidAdministrators;
    switch (rules) {
    case FolderRules::kAdministratorsOnly: dacl.push_back(Allow(kSidUsers, kReadExecute, kOiCi)); break;
    case FolderRules::kOpenToUsers: dacl.push_back(Allow(kSidUsers, kModify, kOiCi)); break;
    case FolderRules::kOwnedByAnotherUser:
        owner = OtherUserSidText();
        dacl.push_back(Allow(owner, FILE_ALL_ACCESS, kOiCi));
        break;
    }
    SetFolderRules(windowsFolder, owner, dacl);
}

}  // namespace sim

BOOL WINAPI GetFileSecurityA(LPCSTR fileName, SECURITY_INFORMATION requested, PSECURITY_DESCRIPTOR descriptor,
                             DWORD length, LPDWORD needed) {
    if (sim::Enter("GetFileSecurityA")) return FALSE;
    if (!needed) return Fail(ERROR_INVALID_PARAMETER);
    // The system audit list needs a privilege the program never enables.
    if (requested & SACL_SECURITY_INFORMATION) return Fail(ERROR_PRIVILEGE_NOT_HELD);
    std::string host;
    if (!sim::Resolve(fileName, &host)) return FALSE;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) {
        return Fail(sim::IsFolder(sim::Parent(host)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    }
    Rules rules;
    if (!RulesOf(host, &rules)) return Fail(ERROR_ACCESS_DENIED);
    const std::vector<unsigned char> bytes = SelfRelative(rules, requested);
    *needed = static_cast<DWORD>(bytes.size());
    if (!descriptor || length < bytes.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(descriptor, bytes.data(), bytes.size());
    return Succeed();
}

BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR p, PSID* owner, LPBOOL defaulted) {
    if (sim::Enter("GetSecurityDescriptorOwner")) return FALSE;
    if (!p || !owner || !defaulted) return Fail(ERROR_INVALID_PARAMETER);
    if (static_cast<unsigned char*>(p)[0] != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
    *owner = Field(p, offsetof(SECURITY_DESCRIPTOR, Owner), 4);
    SECURITY_DESCRIPTOR_CONTROL control;
    std::memcpy(&control, static_cast<unsigned char*>(p) + 2, sizeof control);
    *defaulted = (control & SE_OWNER_DEFAULTED) != 0;
    return Succeed();
}

BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR p, LPBOOL present, PACL* dacl, LPBOOL defaulted) {
    if (sim::Enter("GetSecurityDescriptorDacl")) return FALSE;
    if (!p || !present || !dacl || !defaulted) return Fail(ERROR_INVALID_PARAMETER);
    if (static_cast<unsigned char*>(p)[0] != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
    SECURITY_DESCRIPTOR_CONTROL control;
    std::memcpy(&control, static_cast<unsigned char*>(p) + 2, sizeof control);
    *present = (control & SE_DACL_PRESENT) != 0;
    *dacl = *present ? static_cast<PACL>(Field(p, offsetof(SECURITY_DESCRIPTOR, Dacl), 16)) : nullptr;
    *defaulted = (control & SE_DACL_DEFAULTED) != 0;
    return Succeed();
}

BOOL WINAPI GetAce(PACL acl, DWORD index, LPVOID* ace) {
    if (sim::Enter("GetAce")) return FALSE;
    if (!acl || !ace) return Fail(ERROR_INVALID_PARAMETER);
    *ace = nullptr;
    DWORD at = 0;
    const bool wellFormed = sim::WalkAces(acl, [&](const ACE_HEADER&, const unsigned char* entry, size_t) {
        if (at++ == index) *ace = const_cast<unsigned char*>(entry);
    });
    if (!wellFormed) return Fail(ERROR_INVALID_ACL);
    return *ace ? Succeed() : Fail(ERROR_INVALID_PARAMETER);
}

BOOL WINAPI IsValidSid(PSID sid) {
    if (sim::Enter("IsValidSid")) return FALSE;
    return sim::SidLength(sid) ? Succeed() : Fail(ERROR_INVALID_SID);
}
