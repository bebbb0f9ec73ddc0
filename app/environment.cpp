#include "app/environment.h"

#include <cstring>

#include "res/resource.h"

int ClassifyWindowsVersion() {
    OSVERSIONINFOEXA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) {
        // Older systems know only the basic structure.
        std::memset(&info, 0, sizeof info);
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return kEnvQueryFailed;
    }

    const DWORD major = info.dwMajorVersion;
    const DWORD minor = info.dwMinorVersion;
    switch (info.dwPlatformId) {
    case VER_PLATFORM_WIN32s: return kEnvWindowsTooOld;
    case VER_PLATFORM_WIN32_WINDOWS:
        // 95 (and its OSR2 release), 98 and Me are known; anything else of
        // that family is not.
        if (major == 4 && (minor == 0 || minor == 10 || minor == 90)) return kEnvWindowsTooOld;
        return kEnvWindowsUnknown;
    case VER_PLATFORM_WIN32_NT:
        if (major <= 4) return kEnvWindowsTooOld;
        if (major == 5) return (minor == 1 || minor == 2) ? kEnvWindowsXp : kEnvWindowsUnknown;
        return kEnvWindowsVista;
    default: return kEnvWindowsUnknown;
    }
}

namespace {

const DWORD kAccessRead = 1;
const DWORD kAccessWrite = 2;

}  // namespace

bool IsUserAdministrator() {
    // The access check needs a token of the thread's own; without one the
    // process token is tried.
    ImpersonateSelf(SecurityImpersonation);

    HANDLE token = nullptr;
    bool haveToken = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token) != FALSE;
    if (!haveToken && GetLastError() == ERROR_NO_TOKEN) {
        haveToken = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) != FALSE;
    }

    bool isAdmin = false;
    PSID admins = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL acl = nullptr;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;

    if (haveToken && AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                              0, 0, 0, 0, 0, &admins)) {
        // A descriptor of the structure's own size: 40 bytes in a 64-bit
        // process, which InitializeSecurityDescriptor fills whole.
        descriptor = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
        // One access-allowed entry for the group: the list header, the entry
        // without its placeholder for the SID, and the SID itself.
        const DWORD aclLength =
            static_cast<DWORD>(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) + GetLengthSid(admins);
        if (descriptor && InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION)) {
            acl = static_cast<PACL>(LocalAlloc(LPTR, aclLength));
        }
        if (acl && InitializeAcl(acl, aclLength, ACL_REVISION) &&
            AddAccessAllowedAce(acl, ACL_REVISION, kAccessRead | kAccessWrite, admins) &&
            SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE)) {
            SetSecurityDescriptorGroup(descriptor, admins, FALSE);
            SetSecurityDescriptorOwner(descriptor, admins, FALSE);
            if (IsValidSecurityDescriptor(descriptor)) {
                GENERIC_MAPPING mapping = {kAccessRead, kAccessWrite, 0, kAccessRead | kAccessWrite};
                PRIVILEGE_SET privileges;
                std::memset(&privileges, 0, sizeof privileges);
                DWORD privilegesLength = sizeof privileges;
                DWORD granted = 0;
                BOOL status = FALSE;
                if (AccessCheck(descriptor, token, kAccessRead, &mapping, &privileges, &privilegesLength, &granted,
                                &status)) {
                    isAdmin = status != FALSE;
                }
            }
        }
    }

    // The thread must not go on impersonating, whichever step failed.
    RevertToSelf();
    if (acl) LocalFree(acl);
    if (descriptor) LocalFree(descriptor);
    if (admins) FreeSid(admins);
    if (token) CloseHandle(token);
    return isAdmin;
}

int CheckEnvironment(const ShowMessageFn& showMessage) {
    const int version = ClassifyWindowsVersion();
    if (version == kEnvQueryFailed) {
        showMessage(IDS_SETUP_ERROR);
        return version;
    }
    if (version == kEnvWindowsTooOld || version == kEnvWindowsUnknown) {
        showMessage(IDS_OS_UNSUPPORTED);
        return version;
    }
    if (!IsUserAdministrator()) {
        showMessage(IDS_NOT_ADMIN);
        return kEnvNotAdministrator;
    }
    return version;
}
