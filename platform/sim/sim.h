// Control of the simulated machine, for tests and the native build.
//
// The program sees a Windows machine: drive letters, backslash paths and
// file names in code page 932.  Behind it, each drive letter is a folder of
// the host; names are converted to and from the host's UTF-8 only here.
// Sharing modes between open handles are enforced as Windows enforces them,
// and any single API call can be made to fail.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/winapi.h"
#include "platform/sim/sim_windows.h"  // windows, the scripted user, the transcript
#include "platform/sim/sim_registry.h" // the registry, RunOnce at a restart

namespace sim {

// Drive types, with the values of GetDriveTypeA.
enum : UINT {
    kDriveUnknown = 0,
    kDriveNoRootDir = 1,
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveRemote = 4,
    kDriveCdrom = 5,
    kDriveRamdisk = 6,
};

// Forgets drives, open handles, failure rules and call counts.
void Reset();

// Maps a drive letter to a host folder (which must exist).  Two letters may
// map to one folder, as a drive substituted for a folder of another: the
// same files under both, with the same identity.
void MapDrive(char letter, const std::string& hostFolder, UINT driveType = kDriveFixed);

// Makes a folder link (a junction) at linkPath that leads to the folder at
// targetPath, both Windows paths; folders on the way to the link are made.
// The link is listed as a folder with FILE_ATTRIBUTE_REPARSE_POINT, and a
// path through it reaches the target's files.  A link to a drive's root is
// a volume mounted in a folder; a link to a folder above it makes a loop.
// False when either path is not on a mapped drive or the host refuses.
bool MakeFolderLink(const std::string& linkPath, const std::string& targetPath);

// How much a listing (FindFirstFileA, FindNextFileA) tells of each entry.
// Windows keeps attributes, size and times in the folder itself, so that a
// listing costs one read of the folder; the host keeps them in each file's
// inode, one look-up per entry.  kListFull (the default) makes those
// look-ups and lists everything; kListTypeOnly lists what the folder read
// alone gives: the name and whether it is a folder, with size 0, no
// read-only bit and the folder's own times.  For measuring the walk of a
// program that needs no more, at the cost of a Windows listing.
enum ListingDetail { kListFull, kListTypeOnly };
void SetListingDetail(ListingDetail detail);
// Every entry a listing gives (FindFirstFileA, FindFirstFileExA, FindNextFileA)
// moves the clock on by this many microseconds, as if listing took time; 0,
// the default, lists in no time.  GetTickCount shows it, _time64 does not.
void SetListingCost(DWORD microsecondsPerEntry);
// Before Windows 7 (SetWindowsVersion below 6.1), FindFirstFileExA refuses the
// basic level and large fetches with ERROR_INVALID_PARAMETER.

// The host path a Windows path names (existing or not), or "" when the path
// is not on a mapped drive or its name cannot be converted.
std::string HostPath(const char* windowsPath);

// Code page 932 <-> UTF-8.  Characters that have no code page 932 form become
// '?', as the ANSI functions of Windows report them.
std::string AnsiFromUtf8(const std::string& utf8);
bool Utf8FromAnsi(const std::string& ansi, std::string* utf8);

// Failure injection.  A rule makes the nth call (counted from when the rule is
// set, 1 = the next one) of one API function fail with the given error.
void FailCall(const char* api, unsigned nth = 1, DWORD error = ERROR_ACCESS_DENIED);
// The same for the nth API call of any function.
void FailAnyCall(unsigned nth, DWORD error = ERROR_ACCESS_DENIED);
void ClearFailures();

// Calls made since the last Reset, for a fault-injection sweep.
uint64_t CallCount(const char* api);
uint64_t TotalCalls();
const std::vector<const char*>& CallLog();

// Number of handles (files and listings) still open: a leak detector for tests.
int OpenHandleCount();

// An access rule of a folder, as an access control list would set it: no new
// file may be made in that folder (not in the ones below it), whether by
// CreateFileA, CopyFileA or a move into it, which fail with access denied;
// the files already there are read, written and deleted as before.  The
// folder must exist.
void RefuseNewFiles(const std::string& windowsFolder);

// The program's own path (GetModuleFileNameA) and the temporary folder
// (GetTempPathA, which ends with a backslash), as Windows paths.
void SetModulePath(const std::string& windowsPath);
void SetTempPath(const std::string& windowsPath);

// The command line GetCommandLineA answers, program name first, as Windows
// passes it; empty (the default) gives the quoted program path alone.
void SetCommandLine(const std::string& commandLine);

// The simulated clock.  _time64 answers the time set here plus whatever the
// program has slept since; Sleep advances the clock and returns at once.
void SetTime(int64_t secondsSince1970);
uint64_t SleptMilliseconds();  // total slept since the last Reset
// Called on every Sleep, after the clock moved: lets a test act "while the
// program waits" (change a file, arm a failure).
void OnSleep(std::function<void(DWORD milliseconds)> hook);

// Called on every API call as it begins, after it was counted (total counts
// this call too): lets a test act at an exact point of a run, for instance
// end the process there.
void OnCall(std::function<void(const char* api, uint64_t total)> hook);

// Another process opens the file for reading with the given sharing and
// keeps it open (as Windows keeps a font it has loaded) until
// ReleaseFileElsewhere or a simulated restart.  Without FILE_SHARE_DELETE no
// one can replace or delete it.  Not counted in OpenHandleCount.
void HoldFileElsewhere(const std::string& windowsPath, DWORD share = FILE_SHARE_READ);
void ReleaseFileElsewhere(const std::string& windowsPath);

// Fonts loaded in the session by another program (AddFontResourceA there):
// the file is held open without delete sharing, once however many times it
// was loaded, until as many RemoveFontResourceA calls of the program's (or a
// restart) unload it; the program's own AddFontResourceA loads it again.
void LoadFontElsewhere(const std::string& windowsPath);
// How many times the font at the path is loaded now (0: not loaded).
int FontLoadCount(const std::string& windowsPath);

// Another process changes a folder: renames it, removes it (with all it
// holds) or puts a folder link to target in its place (the folder itself
// moved to path + ".old").  Each needs delete access to the folder, which
// fails with ERROR_SHARING_VIOLATION (returned here; 0 when done) while any
// handle open on it does not share delete, as Windows refuses it.
DWORD RenameFolderElsewhere(const std::string& windowsPath, const std::string& newWindowsPath);
DWORD RemoveFolderElsewhere(const std::string& windowsPath);
DWORD ReplaceFolderByLinkElsewhere(const std::string& windowsPath, const std::string& targetWindowsPath);

// Moves asked for with MOVEFILE_DELAY_UNTIL_REBOOT, in order, as Windows
// keeps them until its next start.
struct PendingMove {
    std::string from, to;  // Windows paths as given; `to` empty: delete
    DWORD flags = 0;
};
const std::vector<PendingMove>& PendingMoves();
// The next start of Windows: every other process's files are closed, then
// the pending moves are carried out in order (a move whose source is gone,
// or whose target exists without MOVEFILE_REPLACE_EXISTING, is passed by).
// Then volatile registry keys go and the RunOnce values are run (see
// sim_registry.h).
void RestartWindows();

// Seeds the run-time library's rand, for repeatable temporary names.
void SeedRandom(unsigned seed);

// ---------------------------------------------------------------------------
// The system the program runs on: version, the logged-on user, kernel
// objects, restart requests, shell folders and WOW64 (security.cpp, shell.cpp).

// What GetVersionExA reports.  The default is what a program without a
// compatibility manifest sees on current Windows.
struct WindowsVersion {
    DWORD platform = 2;  // VER_PLATFORM_WIN32_NT
    DWORD major = 6;
    DWORD minor = 2;
    DWORD build = 9200;
    std::string servicePack;  // szCSDVersion, for example "Service Pack 3"
    WORD servicePackMajor = 0;
    WORD servicePackMinor = 0;
    // Systems before NT 4.0 SP6 and the 95 family refuse the extended
    // structure (size 156) and answer only the basic one (size 148).
    bool extendedQuery = true;
};
void SetWindowsVersion(const WindowsVersion& version);

// The groups of the logged-on user's token.  An administrator without
// elevation holds the Administrators group for deny checks only.
enum class UserRights { kAdministrator, kAdministratorWithoutElevation, kStandardUser };
void SetUserRights(UserRights rights);
// Whether the user's token holds the shutdown privilege at all (it does by default).
void SetShutdownPrivilegeHeld(bool held);
// Whether the thread is impersonating (ImpersonateSelf until RevertToSelf).
bool ThreadImpersonating();

// Tokens and mutexes the program holds open (not counted by OpenHandleCount),
// and blocks of LocalAlloc and SIDs of AllocateAndInitializeSid not yet freed.
int OpenObjectCount();
int LiveLocalBlocks();
int LiveSids();

// The account the program runs as (GetUserNameA; default "alice") and the
// session its process belongs to (default 1, a person's logon; 0 is where
// services and deployment agents run, with no one at a screen).  Mutex
// names live in the session's namespace unless they begin with "Global\\";
// the names the functions below take are spelt as the program in the
// current session would spell them.
void SetUserName(const std::string& name);
void SetSession(DWORD session);
// The local system account in session 0, with its administrator's rights.
void RunAsLocalSystem();

// Who owns a file.  Files the tests make belong to the Administrators
// group; a file the program creates belongs to the account it runs as (the
// group when elevated); another standard user's file is one they planted.
// kUser is the logged-on user the program may run as; kStandardUser
// another one.
enum class FileOwner { kAdministrators, kSystem, kUser, kStandardUser };
// Keyed by the host file's identity, which a new file may take again once
// the old one is removed: a test that writes a file on the host sets its
// owner (the fixtures' Put does).
void SetFileOwner(const char* windowsPath, FileOwner owner);
// A host symbolic link at linkPath (a file link as a standard user may make
// one in a folder open to them) to target, which need not exist.
bool MakeFileLink(const std::string& linkPath, const std::string& targetWindowsPath);

// The access rules of folders (GetFileSecurityA).  Unless a test sets them,
// a folder has those Windows gives it: a drive root lets Authenticated Users
// make folders in it, and what they make there they may change (the root's
// inherit-only entry); the Windows folder and the program folders belong to
// the system's installer and only administrators change them, the Windows
// folder's Temp letting users add files and folders; the profiles folder is
// the administrators', each profile (profiles folder\<name>) its user's,
// owner and full control, and so is all below it.  A folder below inherits
// its parent's inheritable entries.  Owners: what SetFileOwner says, else
// the profile's user inside a profile, else the Administrators group.
// Rules set here are the folder's own (protected: nothing inherited), keyed
// by the folder's identity; they pass on to the folders below.
struct AccessEntry {
    bool allow = true;
    std::string sid;  // "S-1-5-32-544"; "S-1-3-0" is CREATOR OWNER
    DWORD mask = 0;
    BYTE flags = 0;  // OBJECT_INHERIT_ACE, CONTAINER_INHERIT_ACE, INHERIT_ONLY_ACE, ...
};
void SetFolderRules(const std::string& windowsFolder, const std::string& ownerSid, const std::vector<AccessEntry>& dacl);
// No DACL at all: everyone may do everything.
void SetFolderNullDacl(const std::string& windowsFolder, const std::string& ownerSid);
// Common cases: only Administrators and SYSTEM may change the folder (owner
// Administrators; users read); users may add and remove files in it; the
// folder belongs to another standard user, with full control.
enum class FolderRules { kAdministratorsOnly, kOpenToUsers, kOwnedByAnotherUser };
void SetFolderRules(const std::string& windowsFolder, FolderRules rules);
// The SIDs the rules name.
extern const char kSidAdministrators[];
extern const char kSidSystem[];
extern const char kSidUsers[];
extern const char kSidAuthenticatedUsers[];
extern const char kSidEveryone[];
extern const char kSidCreatorOwner[];
extern const char kSidTrustedInstaller[];
std::string UserSidText();       // the account the program runs as
std::string OtherUserSidText();  // another standard user

// Named mutexes.  A name held "elsewhere" behaves as if another process had
// created it and keeps it open until released here.
void HoldMutexElsewhere(const std::string& name);
void ReleaseMutexElsewhere(const std::string& name);
bool MutexExists(const std::string& name);
// The running program ends: the system closes every handle it left open
// (files, listings, tokens, mutexes) and ends its impersonation, so that a
// new copy can start on the same machine.
void EndProgramRun();

// Restart requests (ExitWindowsEx) are recorded, never carried out.
struct RestartRequest {
    UINT flags = 0;
    DWORD reason = 0;
    bool privilegeEnabled = false;  // the shutdown privilege was enabled when asked
};
const std::vector<RestartRequest>& RestartRequests();

// The folder of the users' profiles as GetProfilesDirectoryA reports it;
// default "C:\Users".  Nothing is made there.
void SetProfilesFolder(const std::string& windowsPath);

// The system folder as SHGetSpecialFolderPathA(CSIDL_SYSTEM) reports it;
// default "C:\Windows\System32".  The 32-bit system folder is
// "SysWOW64" beside it.
void SetSystemFolder(const std::string& windowsPath);

// Whether the system folder holds the cryptography library (bcrypt.dll), as
// every Windows from Vista on does (the default); false plays an older one.
// Its hashes are computed by the host's OpenSSL.
void SetSystemCryptography(bool present);

// How the program's process meets WOW64.
enum class Wow64 {
    kAbsent,   // kernel32 has no redirection functions (the default)
    kNative,   // they exist but do nothing: a native process (disabling fails)
    kProcess32 // a 32-bit process on 64-bit Windows: system-folder paths are
               // redirected to SysWOW64 unless the thread switched that off
};
void SetWow64(Wow64 mode);
// True unless the thread has switched redirection off.
bool Wow64RedirectionEnabled();

}  // namespace sim
