// Security identifiers and the program's tokens on the simulated machine.
#include <cstdlib>

#include "platform/sim/sids.h"

namespace sim {

SidBytes MakeSid(BYTE authority, std::initializer_list<DWORD> subs) {
    SidBytes sid = {SID_REVISION, static_cast<unsigned char>(subs.size()), 0, 0, 0, 0, 0, authority};
    for (DWORD sub : subs) {
        for (int i = 0; i < 4; ++i) sid.push_back(static_cast<unsigned char>(sub >> (8 * i)));
    }
    return sid;
}

SidBytes UserSid() {
    return M().security.userName == "SYSTEM" ? MakeSid(5, {SECURITY_LOCAL_SYSTEM_RID}) : MakeSid(5, {21, 1000, 2000, 3000, 1001});
}

std::vector<TokenGroup> TokenGroups() {
    const DWORD on = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;
    std::vector<TokenGroup> groups = {
        {UserSid(), on},
        {MakeSid(1, {0}), on},
        {MakeSid(5, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}), on},
        {MakeSid(5, {11}), on},
    };
    const SidBytes admins = MakeSid(5, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS});
    switch (M().security.rights) {
    case sim::UserRights::kAdministrator: groups.push_back({admins, on}); break;
    case sim::UserRights::kAdministratorWithoutElevation: groups.push_back({admins, SE_GROUP_USE_FOR_DENY_ONLY}); break;
    case sim::UserRights::kStandardUser: break;
    }
    return groups;
}

DWORD SidLength(const void* p) {
    if (!p) return 0;
    const unsigned char* b = static_cast<const unsigned char*>(p);
    if (b[0] != SID_REVISION || b[1] > SID_MAX_SUB_AUTHORITIES) return 0;
    return 8u + 4u * b[1];
}

SidBytes ReadSid(const unsigned char* p, size_t limit) {
    if (limit < 8 || p[0] != SID_REVISION || p[1] > SID_MAX_SUB_AUTHORITIES) return SidBytes();
    const size_t length = 8u + 4u * p[1];
    if (length > limit) return SidBytes();
    return SidBytes(p, p + length);
}

std::string SidText(const SidBytes& sid) {
    if (sid.size() < 8) return std::string();
    std::string text = "S-1-" + std::to_string(sid[7]);
    for (size_t at = 8; at + 4 <= sid.size(); at += 4) {
        const DWORD sub = static_cast<DWORD>(sid[at]) | static_cast<DWORD>(sid[at + 1]) << 8 |
                          static_cast<DWORD>(sid[at + 2]) << 16 | static_cast<DWORD>(sid[at + 3]) << 24;
        text += "-" + std::to_string(sub);
    }
    return text;
}

SidBytes OtherUserSid() { return MakeSid(5, {21, 1000, 2000, 3000, 1002}); }

SidBytes SidFromText(const std::string& text) {
    if (text.compare(0, 4, "S-1-") != 0) return SidBytes();
    std::vector<unsigned long> parts;
    size_t at = 4;
    while (at <= text.size()) {
        const size_t dash = text.find('-', at);
        const std::string part = text.substr(at, dash == std::string::npos ? std::string::npos : dash - at);
        if (part.empty() || part.size() > 10 || part.find_first_not_of("0123456789") != std::string::npos) {
            return SidBytes();
        }
        parts.push_back(std::strtoul(part.c_str(), nullptr, 10));
        if (dash == std::string::npos) break;
        at = dash + 1;
    }
    if (parts.size() < 2 || parts.size() > 1 + SID_MAX_SUB_AUTHORITIES || parts[0] > 255) return SidBytes();
    SidBytes sid = {SID_REVISION, static_cast<unsigned char>(parts.size() - 1), 0, 0, 0, 0, 0,
                    static_cast<unsigned char>(parts[0])};
    for (size_t i = 1; i < parts.size(); ++i) {
        for (int b = 0; b < 4; ++b) sid.push_back(static_cast<unsigned char>(parts[i] >> (8 * b)));
    }
    return sid;
}

KernelObject* Object(HANDLE h, KernelObject::Kind kind) {
    auto it = M().security.objects.find(reinterpret_cast<uintptr_t>(h));
    return it == M().security.objects.end() || it->second.kind != kind ? nullptr : &it->second;
}

}  // namespace sim
