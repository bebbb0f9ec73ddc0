// Owners of files and what the program's token tells of its account, on the
// simulated machine.
#include <sys/stat.h>

#include <cstring>
#include <memory>

#include "platform/sim/sids.h"

using sim::Fail;
using sim::M;
using sim::MakeSid;
using sim::SidBytes;
using sim::SidLength;
using sim::Succeed;
using sim::UserSid;

BOOL WINAPI EqualSid(PSID a, PSID b) {
    if (sim::Enter("EqualSid")) return FALSE;
    const DWORD length = SidLength(a);
    if (!length || !SidLength(b)) return Fail(ERROR_INVALID_SID);
    M().lastError = ERROR_SUCCESS;
    return length == SidLength(b) && std::memcmp(a, b, length) == 0;
}

DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner, PSID* group,
                             PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    if (owner) *owner = nullptr;
    if (group) *group = nullptr;
    if (dacl) *dacl = nullptr;
    if (sacl) *sacl = nullptr;
    if (descriptor) *descriptor = nullptr;
    if (sim::Enter("GetSecurityInfo")) return M().lastError;
    auto it = M().files.find(reinterpret_cast<uintptr_t>(handle));
    if (type != SE_FILE_OBJECT || it == M().files.end()) return ERROR_INVALID_HANDLE;
    if (what != OWNER_SECURITY_INFORMATION || !owner || !descriptor) return ERROR_INVALID_PARAMETER;
    struct stat st;
    if (::fstat(it->second.fd, &st) != 0) return ERROR_INVALID_HANDLE;
    SidBytes sid = MakeSid(5, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS});
    auto known = M().owners.find(std::make_pair(st.st_dev, st.st_ino));
    if (known != M().owners.end() && known->second == sim::FileOwner::kSystem) sid = MakeSid(5, {SECURITY_LOCAL_SYSTEM_RID});
    if (known != M().owners.end() && known->second == sim::FileOwner::kUser) sid = UserSid();
    if (known != M().owners.end() && known->second == sim::FileOwner::kStandardUser) {
        sid = sim::OtherUserSid();
    }
    // One block, as Windows returns it: the descriptor, then the owner.
    const size_t size = sizeof(SECURITY_DESCRIPTOR) + sid.size();
    std::unique_ptr<unsigned char[]> block(new unsigned char[size]());
    unsigned char* sidAt = block.get() + sizeof(SECURITY_DESCRIPTOR);
    std::memcpy(sidAt, sid.data(), sid.size());
    SECURITY_DESCRIPTOR sd;
    std::memset(&sd, 0, sizeof sd);
    sd.Revision = SECURITY_DESCRIPTOR_REVISION;
    sd.Owner = sidAt;
    std::memcpy(block.get(), &sd, sizeof sd);
    *owner = sidAt;
    *descriptor = block.get();
    M().security.localBlocks[reinterpret_cast<uintptr_t>(block.get())] = std::move(block);
    M().lastError = ERROR_SUCCESS;
    return ERROR_SUCCESS;
}

BOOL WINAPI GetTokenInformation(HANDLE handle, TOKEN_INFORMATION_CLASS what, LPVOID information, DWORD length,
                                LPDWORD returned) {
    if (sim::Enter("GetTokenInformation")) return FALSE;
    const sim::KernelObject* token = sim::Object(handle, sim::KernelObject::kToken);
    if (!token) return Fail(ERROR_INVALID_HANDLE);
    if (!(token->access & TOKEN_QUERY)) return Fail(ERROR_ACCESS_DENIED);
    if (!returned) return Fail(ERROR_INVALID_PARAMETER);
    if (what == TokenElevation) {
        *returned = sizeof(TOKEN_ELEVATION);
        if (!information || length < sizeof(TOKEN_ELEVATION)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        // Before Vista there is no elevation to ask about.
        if (M().security.version.major < 6) return Fail(ERROR_INVALID_PARAMETER);
        TOKEN_ELEVATION elevation;
        elevation.TokenIsElevated = sim::RunsElevated() ? 1u : 0u;
        std::memcpy(information, &elevation, sizeof elevation);
        return Succeed();
    }
    if (what != TokenUser) return Fail(ERROR_INVALID_PARAMETER);
    const SidBytes sid = UserSid();
    const DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    *returned = needed;
    if (!information || length < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    unsigned char* at = static_cast<unsigned char*>(information);
    std::memcpy(at + sizeof(TOKEN_USER), sid.data(), sid.size());
    TOKEN_USER user;
    user.User.Sid = at + sizeof(TOKEN_USER);
    user.User.Attributes = 0;
    std::memcpy(at, &user, sizeof user);
    return Succeed();
}
