// The one boundary between the program and the machine it runs on.
//
// The program is a Windows program: it calls the ANSI ("A") functions of the
// Windows API and nothing else of the system.  On Windows this header is
// <windows.h>.  Everywhere else it declares the subset of that API the program
// uses, with the same names, types and values, and the simulated machine
// (platform/sim) implements it.  Nothing outside this header may assume which
// of the two it is talking to.
#pragma once

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <aclapi.h>    // GetSecurityInfo
#include <commctrl.h>  // progress bar and list view messages
#include <shlobj.h>    // SHGetSpecialFolderPathA
#include <shlwapi.h>   // PathAppendA, PathFileExistsA
#include <userenv.h>   // GetProfilesDirectoryA
#include <bcrypt.h>    // the hash functions' types; the library is loaded by path
#include <cstdlib>     // rand
#include <ctime>       // _time64

#else  // the simulated machine

// The declarations are split by area so that each stays readable; together
// they are the whole subset.
#include "platform/win32/base.h"      // types, files, listings, system, time, resources
#include "platform/win32/ui.h"        // windows, dialogs, controls, messages
#include "platform/win32/security.h"  // version, tokens, access check, mutex, restart
#include "platform/win32/shell.h"     // shell folders, path helpers, WOW64 redirection
#include "platform/win32/crypt.h"     // hashing, and loading its library by path
#include "platform/win32/registry.h"  // the registry, folders with access rules, the Windows folder

#endif  // _WIN32
