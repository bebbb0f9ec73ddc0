// The system's cryptography (hashing only) and the loading of a system
// library by path, as the simulated machine declares them.  Included through
// platform/winapi.h only.
//
// The program never links the cryptography library: systems older than
// Vista lack it, and a program that imported it would not start there.  It
// loads the library from the system folder and looks its functions up by
// name, so these declarations serve for their types.
#pragma once

#include "platform/win32/base.h"

typedef LONG NTSTATUS;
typedef void* BCRYPT_ALG_HANDLE;
typedef void* BCRYPT_HASH_HANDLE;
typedef unsigned char UCHAR;
typedef UCHAR* PUCHAR;

#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000DL)
#define STATUS_NOT_FOUND ((NTSTATUS)0xC0000225L)
#define STATUS_NO_MEMORY ((NTSTATUS)0xC0000017L)
#define STATUS_UNSUCCESSFUL ((NTSTATUS)0xC0000001L)
#define BCRYPT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)
// Wide strings are UTF-16, as on Windows.
#define BCRYPT_SHA256_ALGORITHM u"SHA256"
#define BCRYPT_OBJECT_LENGTH u"ObjectLength"

// path: a full path; the simulated machine has one library, bcrypt.dll in
// the system folder (unless sim::SetSystemCryptography(false)).
HMODULE WINAPI LoadLibraryA(LPCSTR path);
BOOL WINAPI FreeLibrary(HMODULE module);

NTSTATUS WINAPI BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algId, LPCWSTR implementation,
                                            ULONG flags);
NTSTATUS WINAPI BCryptGetProperty(void* object, LPCWSTR property, PUCHAR output, ULONG outputSize, ULONG* result,
                                  ULONG flags);
NTSTATUS WINAPI BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR hashObject,
                                 ULONG hashObjectSize, PUCHAR secret, ULONG secretSize, ULONG flags);
NTSTATUS WINAPI BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG inputSize, ULONG flags);
NTSTATUS WINAPI BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG outputSize, ULONG flags);
NTSTATUS WINAPI BCryptDestroyHash(BCRYPT_HASH_HANDLE hash);
NTSTATUS WINAPI BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags);
