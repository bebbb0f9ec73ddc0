// Shell folders, path helpers and the WOW64 file-system redirection functions, as the simulated machine
// declares them.  Included through platform/winapi.h only.
#pragma once

#include "platform/win32/base.h"

// Special folders (SHGetSpecialFolderPathA).
#define CSIDL_FONTS 0x0014
#define CSIDL_WINDOWS 0x0024
#define CSIDL_SYSTEM 0x0025
#define CSIDL_SYSTEMX86 0x0029

// The owner window is never used by the program; it is declared with the
// window handle's underlying type so that this header stands on its own.
BOOL WINAPI SHGetSpecialFolderPathA(struct HWND__* owner, LPSTR path, int csidl, BOOL create);

// The folder that holds every user's profile ("C:\Users"), without a final
// backslash.  *size is the buffer's length in characters; when it is too
// small the call fails with ERROR_INSUFFICIENT_BUFFER and *size is set to
// the length needed, terminator included.
BOOL WINAPI GetProfilesDirectoryA(LPSTR profileDir, LPDWORD size);

// path is a buffer of MAX_PATH characters; the result must fit in it.
BOOL WINAPI PathAppendA(LPSTR path, LPCSTR more);
BOOL WINAPI PathFileExistsA(LPCSTR path);

// Functions of a loaded module, looked up by name.  The program finds the
// WOW64 redirection switches this way because older systems lack them:
//   BOOL WINAPI Wow64DisableWow64FsRedirection(PVOID* oldValue);
//   BOOL WINAPI Wow64RevertWow64FsRedirection(PVOID oldValue);
typedef INT_PTR(WINAPI* FARPROC)(void);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
