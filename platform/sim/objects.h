// State of the simulated system behind the security, kernel-object and
// shell functions (security.cpp, shell.cpp).  Part of sim::Machine, so that
// sim::Reset forgets it with everything else.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace sim {

struct KernelObject {
    enum Kind { kToken, kMutex } kind = kToken;
    DWORD access = 0;
    bool impersonation = false;  // tokens: a thread's token rather than the process's
    std::string name;            // mutexes
    bool owned = false;          // mutexes: created initially owned, not yet released
};

struct SecurityState {
    WindowsVersion version;
    UserRights rights = UserRights::kAdministrator;
    bool shutdownHeld = true;
    bool shutdownEnabled = false;
    bool impersonating = false;
    std::map<uintptr_t, KernelObject> objects;
    // Open handles per mutex name, this program's and the ones held elsewhere.
    std::map<std::string, int> mutexes;
    std::map<std::string, int> heldElsewhere;
    // Owned here so that a reset frees what a test left behind.
    std::map<uintptr_t, std::unique_ptr<unsigned char[]>> localBlocks;
    std::map<uintptr_t, std::unique_ptr<unsigned char[]>> sids;
    std::vector<RestartRequest> restarts;
    std::string userName = "alice";
    DWORD session = 1;
};

struct ShellState {
    std::string systemFolder = "C:\\Windows\\System32";
    std::string profilesFolder = "C:\\Users";
    Wow64 wow64 = Wow64::kAbsent;
    bool redirectionDisabled = false;
    bool cryptography = true;  // bcrypt.dll in the system folder (Vista and later)
};

// Closes a token or mutex handle; false when the handle is neither.
bool CloseKernelObject(uintptr_t handle);

// The path a 32-bit process on 64-bit Windows really reaches: a path in the
// system folder names the same path in SysWOW64 while redirection is on.
// False (and nothing written) when the path is not redirected.
bool Wow64Redirect(const char* windowsPath, std::string* redirected);

// kernel32, which every process has loaded: GetModuleHandleA answers this
// handle for "kernel32" and "kernel32.dll", in any letter case.
bool IsKernel32(const char* moduleName);
HMODULE Kernel32Module();

// bcrypt.dll once loaded (crypt.cpp), and its functions by name: null for a
// name it does not export.
HMODULE CryptModule();
FARPROC CryptProc(const char* name);

}  // namespace sim
