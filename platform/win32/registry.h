// The machine's registry, folders made and removed with their own access
// rules, and the system's Windows folder, as the simulated machine declares
// them.  Included through platform/winapi.h only.
#pragma once

#include "platform/win32/security.h"

// ---------------------------------------------------------------------------
// Registry

typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;

#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u)))

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u

#define REG_OPTION_NON_VOLATILE 0x00000000u
#define REG_OPTION_VOLATILE 0x00000001u
#define REG_CREATED_NEW_KEY 0x00000001u
#define REG_OPENED_EXISTING_KEY 0x00000002u

#define REG_SZ 1u

#define ERROR_MORE_DATA 234L
#define ERROR_CHILD_MUST_BE_VOLATILE 1021L
#define ERROR_DIRECTORY 267L

typedef BYTE* LPBYTE;

// Each returns a system error code (ERROR_SUCCESS), not a BOOL, and leaves
// the last error as it was.
LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM desired,
                            LPSECURITY_ATTRIBUTES securityAttributes, PHKEY result, LPDWORD disposition);
LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result);
LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize);
LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD dataSize);
LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName);
LONG WINAPI RegCloseKey(HKEY key);

// ---------------------------------------------------------------------------
// Folders with an access rule of their own

struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES;

BOOL WINAPI AddAccessAllowedAceEx(PACL acl, DWORD aceRevision, DWORD aceFlags, DWORD accessMask, PSID sid);
BOOL WINAPI SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR securityDescriptor,
                                         SECURITY_DESCRIPTOR_CONTROL controlBitsOfInterest,
                                         SECURITY_DESCRIPTOR_CONTROL controlBitsToSet);

BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES securityAttributes);
BOOL WINAPI RemoveDirectoryA(LPCSTR pathName);

// %SystemRoot%, the same for every session (GetWindowsDirectoryA may answer
// a folder of the user's own under Terminal Services).
UINT WINAPI GetSystemWindowsDirectoryA(LPSTR buffer, UINT size);
