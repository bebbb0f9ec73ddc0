// Version query, tokens, the access check, named mutexes, privileges and restart, as the simulated machine
// declares them.  Included through platform/winapi.h only.
#pragma once

#include "platform/win32/base.h"

typedef ULONG_PTR SIZE_T;
typedef void* PVOID;
typedef PVOID* PHANDLE;
typedef void* HLOCAL;

// More system error codes.
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_NOT_OWNER 288L
#define ERROR_NOT_ALL_ASSIGNED 1300L
#define ERROR_UNKNOWN_REVISION 1305L
#define ERROR_NO_IMPERSONATION_TOKEN 1309L
#define ERROR_NO_SUCH_PRIVILEGE 1313L
#define ERROR_PRIVILEGE_NOT_HELD 1314L
#define ERROR_INVALID_ACL 1336L
#define ERROR_INVALID_SID 1337L
#define ERROR_INVALID_SECURITY_DESCR 1338L
#define ERROR_ALLOTTED_SPACE_EXCEEDED 1344L
#define ERROR_BAD_IMPERSONATION_LEVEL 1346L
#define ERROR_GENERIC_NOT_MAPPED 1360L

// ---------------------------------------------------------------------------
// Version query

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

typedef struct _OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

typedef struct _OSVERSIONINFOEXA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
} OSVERSIONINFOEXA, *LPOSVERSIONINFOEXA;

// The size field says which of the two structures the caller passes.
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA versionInformation);

// ---------------------------------------------------------------------------
// Local memory

#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL WINAPI LocalFree(HLOCAL memory);

// ---------------------------------------------------------------------------
// Security identifiers, access-control lists, security descriptors

typedef DWORD ACCESS_MASK;
typedef PVOID PSID;
typedef PVOID PSECURITY_DESCRIPTOR;
typedef WORD SECURITY_DESCRIPTOR_CONTROL;

typedef struct _SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY, *PSID_IDENTIFIER_AUTHORITY;

#define SECURITY_NT_AUTHORITY {{0, 0, 0, 0, 0, 5}}
#define SECURITY_LOCAL_SYSTEM_RID 0x00000012u
#define SECURITY_BUILTIN_DOMAIN_RID 0x00000020u
#define DOMAIN_ALIAS_RID_ADMINS 0x00000220u
#define DOMAIN_ALIAS_RID_USERS 0x00000221u

typedef struct _SID {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
    DWORD SubAuthority[1];
} SID;
#define SID_REVISION 1
#define SID_MAX_SUB_AUTHORITIES 15

typedef struct _ACL {
    BYTE AclRevision;
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
} ACL, *PACL;
#define ACL_REVISION 2
#define ACL_REVISION_DS 4

typedef struct _ACE_HEADER {
    BYTE AceType;
    BYTE AceFlags;
    WORD AceSize;
} ACE_HEADER;
#define ACCESS_ALLOWED_ACE_TYPE 0x0
#define ACCESS_DENIED_ACE_TYPE 0x1

typedef struct _ACCESS_ALLOWED_ACE {
    ACE_HEADER Header;
    ACCESS_MASK Mask;
    DWORD SidStart;
} ACCESS_ALLOWED_ACE;

// The absolute form, with pointers: its size, and so the minimum length a
// caller must provide, is 20 bytes in a 32-bit process and 40 in a 64-bit one.
typedef struct _SECURITY_DESCRIPTOR {
    BYTE Revision;
    BYTE Sbz1;
    SECURITY_DESCRIPTOR_CONTROL Control;
    PSID Owner;
    PSID Group;
    PACL Sacl;
    PACL Dacl;
} SECURITY_DESCRIPTOR;
#define SECURITY_DESCRIPTOR_REVISION 1
#define SECURITY_DESCRIPTOR_MIN_LENGTH (sizeof(SECURITY_DESCRIPTOR))

#define SE_OWNER_DEFAULTED 0x0001
#define SE_GROUP_DEFAULTED 0x0002
#define SE_DACL_PRESENT 0x0004
#define SE_DACL_DEFAULTED 0x0008
#define SE_SACL_PRESENT 0x0010
#define SE_SELF_RELATIVE 0x8000

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE subAuthorityCount,
                                     DWORD subAuthority0, DWORD subAuthority1, DWORD subAuthority2,
                                     DWORD subAuthority3, DWORD subAuthority4, DWORD subAuthority5,
                                     DWORD subAuthority6, DWORD subAuthority7, PSID* sid);
PVOID WINAPI FreeSid(PSID sid);
DWORD WINAPI GetLengthSid(PSID sid);

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR securityDescriptor, DWORD revision);
BOOL WINAPI InitializeAcl(PACL acl, DWORD aclLength, DWORD aclRevision);
BOOL WINAPI AddAccessAllowedAce(PACL acl, DWORD aceRevision, DWORD accessMask, PSID sid);
BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR securityDescriptor, BOOL daclPresent, PACL dacl,
                                      BOOL daclDefaulted);
BOOL WINAPI SetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR securityDescriptor, PSID group, BOOL groupDefaulted);
BOOL WINAPI SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR securityDescriptor, PSID owner, BOOL ownerDefaulted);
BOOL WINAPI IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR securityDescriptor);
BOOL WINAPI EqualSid(PSID sid1, PSID sid2);

// The security of an open object (aclapi.h).  Only a file's owner is
// simulated: *owner points into *securityDescriptor, which the caller frees
// with LocalFree.  Returns a system error code, not a BOOL.
typedef DWORD SECURITY_INFORMATION;
#define OWNER_SECURITY_INFORMATION 0x00000001u
typedef enum _SE_OBJECT_TYPE { SE_UNKNOWN_OBJECT_TYPE = 0, SE_FILE_OBJECT } SE_OBJECT_TYPE;
DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION securityInfo,
                             PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                             PSECURITY_DESCRIPTOR* securityDescriptor);

// The security of a file or folder by its path, as a self-relative
// descriptor in the caller's buffer (*needed: the size it takes; too small a
// buffer fails with ERROR_INSUFFICIENT_BUFFER).  The path is followed through
// links to what they reach.
#define GROUP_SECURITY_INFORMATION 0x00000002u
#define DACL_SECURITY_INFORMATION 0x00000004u
#define SACL_SECURITY_INFORMATION 0x00000008u
BOOL WINAPI GetFileSecurityA(LPCSTR fileName, SECURITY_INFORMATION requested, PSECURITY_DESCRIPTOR securityDescriptor,
                             DWORD length, LPDWORD needed);
// The parts of a descriptor, absolute or self-relative: pointers into it.
// A DACL that is present but null lets everyone do everything.
BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR securityDescriptor, PSID* owner, LPBOOL ownerDefaulted);
BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR securityDescriptor, LPBOOL daclPresent, PACL* dacl,
                                      LPBOOL daclDefaulted);
BOOL WINAPI GetAce(PACL acl, DWORD aceIndex, LPVOID* ace);
BOOL WINAPI IsValidSid(PSID sid);

#define SE_DACL_PROTECTED 0x1000

// ACE flags: which objects below a folder inherit the entry, and whether it
// applies to the folder itself.
#define OBJECT_INHERIT_ACE 0x01
#define CONTAINER_INHERIT_ACE 0x02
#define NO_PROPAGATE_INHERIT_ACE 0x04
#define INHERIT_ONLY_ACE 0x08
#define INHERITED_ACE 0x10

// Standard and folder-specific access rights.
#define READ_CONTROL 0x00020000u
#define WRITE_DAC 0x00040000u
#define WRITE_OWNER 0x00080000u
#define FILE_LIST_DIRECTORY 0x0001u
#define FILE_ADD_FILE 0x0002u
#define FILE_ADD_SUBDIRECTORY 0x0004u
#define FILE_TRAVERSE 0x0020u
#define FILE_DELETE_CHILD 0x0040u
#define FILE_ALL_ACCESS 0x001F01FFu

// ---------------------------------------------------------------------------
// Tokens, impersonation, the access check

typedef enum _SECURITY_IMPERSONATION_LEVEL {
    SecurityAnonymous,
    SecurityIdentification,
    SecurityImpersonation,
    SecurityDelegation
} SECURITY_IMPERSONATION_LEVEL;

#define TOKEN_ASSIGN_PRIMARY 0x0001u
#define TOKEN_DUPLICATE 0x0002u
#define TOKEN_IMPERSONATE 0x0004u
#define TOKEN_QUERY 0x0008u
#define TOKEN_QUERY_SOURCE 0x0010u
#define TOKEN_ADJUST_PRIVILEGES 0x0020u
#define TOKEN_ADJUST_GROUPS 0x0040u
#define TOKEN_ADJUST_DEFAULT 0x0080u

#define SE_GROUP_MANDATORY 0x00000001u
#define SE_GROUP_ENABLED_BY_DEFAULT 0x00000002u
#define SE_GROUP_ENABLED 0x00000004u
#define SE_GROUP_USE_FOR_DENY_ONLY 0x00000010u

typedef struct _GENERIC_MAPPING {
    ACCESS_MASK GenericRead;
    ACCESS_MASK GenericWrite;
    ACCESS_MASK GenericExecute;
    ACCESS_MASK GenericAll;
} GENERIC_MAPPING, *PGENERIC_MAPPING;

#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define MAXIMUM_ALLOWED 0x02000000u

typedef struct _LUID {
    DWORD LowPart;
    LONG HighPart;
} LUID, *PLUID;

typedef struct _LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
} LUID_AND_ATTRIBUTES;

typedef struct _PRIVILEGE_SET {
    DWORD PrivilegeCount;
    DWORD Control;
    LUID_AND_ATTRIBUTES Privilege[1];
} PRIVILEGE_SET, *PPRIVILEGE_SET;

typedef struct _TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[1];
} TOKEN_PRIVILEGES, *PTOKEN_PRIVILEGES;

#define SE_PRIVILEGE_ENABLED_BY_DEFAULT 0x00000001u
#define SE_PRIVILEGE_ENABLED 0x00000002u
#define SE_PRIVILEGE_REMOVED 0x00000004u
#define SE_SHUTDOWN_NAME "SeShutdownPrivilege"

// Pseudo handles: they need no closing.
HANDLE WINAPI GetCurrentProcess(void);
HANDLE WINAPI GetCurrentThread(void);

BOOL WINAPI ImpersonateSelf(SECURITY_IMPERSONATION_LEVEL impersonationLevel);
BOOL WINAPI RevertToSelf(void);
BOOL WINAPI OpenThreadToken(HANDLE thread, DWORD desiredAccess, BOOL openAsSelf, PHANDLE tokenHandle);
BOOL WINAPI OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE tokenHandle);
BOOL WINAPI AccessCheck(PSECURITY_DESCRIPTOR securityDescriptor, HANDLE clientToken, DWORD desiredAccess,
                        PGENERIC_MAPPING genericMapping, PPRIVILEGE_SET privilegeSet, LPDWORD privilegeSetLength,
                        LPDWORD grantedAccess, LPBOOL accessStatus);

typedef struct _SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
} SID_AND_ATTRIBUTES;
typedef struct _TOKEN_USER {
    SID_AND_ATTRIBUTES User;
} TOKEN_USER;
typedef enum _TOKEN_INFORMATION_CLASS { TokenUser = 1, TokenElevation = 20 } TOKEN_INFORMATION_CLASS;
#define SECURITY_MAX_SID_SIZE 68
typedef struct _TOKEN_ELEVATION {
    DWORD TokenIsElevated;
} TOKEN_ELEVATION;
// TokenUser: the account's SID, inside the caller's buffer.  TokenElevation:
// whether the token is an elevated administrator's (Vista and later; before,
// the call fails with ERROR_INVALID_PARAMETER).
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                                DWORD informationLength, LPDWORD returnLength);

BOOL WINAPI LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, PLUID luid);
BOOL WINAPI AdjustTokenPrivileges(HANDLE tokenHandle, BOOL disableAllPrivileges, PTOKEN_PRIVILEGES newState,
                                  DWORD bufferLength, PTOKEN_PRIVILEGES previousState, LPDWORD returnLength);

// ---------------------------------------------------------------------------
// Named mutexes (object names are case-sensitive)

#define SYNCHRONIZE 0x00100000u
#define MUTEX_ALL_ACCESS 0x001F0001u

// Names are looked up in the namespace of the caller's session unless they
// begin with "Global\\" (one namespace for the whole machine); "Local\\"
// names the session's own.
HANDLE WINAPI OpenMutexA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name);
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES mutexAttributes, BOOL initialOwner, LPCSTR name);
BOOL WINAPI ReleaseMutex(HANDLE mutex);

// ---------------------------------------------------------------------------
// The account the program runs as

BOOL WINAPI GetUserNameA(LPSTR buffer, LPDWORD size);

// ---------------------------------------------------------------------------
// Ending the session

#define EWX_LOGOFF 0x00000000u
#define EWX_SHUTDOWN 0x00000001u
#define EWX_REBOOT 0x00000002u
#define EWX_FORCE 0x00000004u
#define EWX_POWEROFF 0x00000008u
#define EWX_FORCEIFHUNG 0x00000010u

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason);
