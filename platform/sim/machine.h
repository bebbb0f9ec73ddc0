// State of the simulated machine shared by the files that implement its API.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/sim/objects.h"
#include "platform/sim/sim.h"

namespace sim {

struct Drive {
    std::string host;  // host folder, without a trailing slash
    UINT type = kDriveFixed;
};

struct FileHandle {
    int fd = -1;
    std::string host;
    dev_t dev = 0;
    ino_t ino = 0;
    DWORD access = 0;
    DWORD share = 0;
    bool link = false;  // the link itself, opened with FILE_FLAG_OPEN_REPARSE_POINT
    bool font = false;  // held elsewhere because the font is loaded in the session
};

struct FindHandle {
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};

struct FailureRule {
    std::string api;  // empty: any function
    uint64_t remaining = 0;
    DWORD error = 0;
};

struct RegistryState;  // registry.cpp

struct Machine {
    std::map<char, Drive> drives;  // upper-case letters
    std::map<uintptr_t, FileHandle> files;
    std::map<uintptr_t, FindHandle> finds;
    uintptr_t nextHandle = 0x100;
    std::vector<FailureRule> failures;
    // Keyed by and logging the callers' own literal names: a listing of a big
    // tree makes hundreds of thousands of calls, none of which should copy.
    std::unordered_map<std::string_view, uint64_t> counts;
    std::vector<const char*> log;
    uint64_t total = 0;
    DWORD lastError = 0;
    ListingDetail listing = kListFull;
    std::vector<std::string> refusingNewFiles;  // host folders (RefuseNewFiles)
    // Owners of host files other than the Administrators group, by identity.
    std::map<std::pair<dev_t, ino_t>, FileOwner> owners;

    // System side (system.cpp).
    std::string modulePath = "C:\\Program Files\\Sorame\\Updater\\upd.exe";
    std::string tempPath = "C:\\Windows\\Temp\\";
    std::string commandLine;        // empty: the quoted module path
    std::string commandLineAnswer;  // what GetCommandLineA handed out last
    int64_t timeBase = 1700000000;  // 2023-11-14 22:13:20 UTC
    uint64_t sleptMs = 0;
    // Time spent listing (SetListingCost), which GetTickCount adds to the sleeps.
    uint64_t listedUs = 0;
    DWORD listingCostUs = 0;
    std::function<void(DWORD)> sleepHook;

    // Files another process has open (HoldFileElsewhere), and the moves
    // waiting for the next start of Windows, in the order they were asked for.
    std::vector<FileHandle> heldElsewhere;
    std::vector<PendingMove> pendingMoves;
    // Fonts loaded in the session (LoadFontElsewhere, AddFontResourceA), by
    // identity: how many times.  Each loaded font is held in heldElsewhere.
    std::map<std::pair<dev_t, ino_t>, int> loadedFonts;

    // Access rules set by tests (SetFolderRules), by the folder's identity.
    struct OwnRules {
        std::string owner;
        bool nullDacl = false;
        std::vector<AccessEntry> dacl;
    };
    std::map<std::pair<dev_t, ino_t>, OwnRules> folderRules;

    // Security, kernel objects, shell folders, WOW64 (security.cpp, shell.cpp).
    SecurityState security;
    ShellState shell;
    std::function<void(const char*, uint64_t)> callHook;
    std::shared_ptr<RegistryState> registry;  // made on first use (registry.cpp)

    // Window positions (geometry.cpp): where the program put each window.
    std::map<HWND, POINT> windowAt;
    std::vector<Placement> placements;
};

Machine& M();

// The window side (window_core.cpp): forgets every window, the queue, the script
// and the transcript; notes a Sleep in the transcript.
void ResetWindows();
void RecordSleep(DWORD milliseconds);

// Whether the program runs with an elevated administrator's token
// (security.cpp): what writing the machine's own settings needs.
bool RunsElevated();

// Counts the call and applies the failure rules: true when this call must
// fail, with the rule's error already set as the last error.
bool Enter(const char* api);  // api: a name with static storage (a literal)

// The ends of an API call: the last error set, the Windows result returned.
inline BOOL Fail(DWORD error) {
    M().lastError = error;
    return FALSE;
}
inline BOOL Succeed() {
    M().lastError = ERROR_SUCCESS;
    return TRUE;
}

// Host files as Windows sees them.
DWORD ErrorFromErrno(int e);
// A host file without its owner's write bit plays the read-only attribute:
// the tests run as root, for whom the kernel would ignore the bits.
bool ReadOnly(const struct stat& st);
std::string Parent(const std::string& host);  // "/" for a top-level entry
bool IsFolder(const std::string& host);
// The sharing of every handle open on the file, combined, and the access
// they were granted (either may be null); false when no handle is open on it.
bool OpenShares(dev_t dev, ino_t ino, DWORD* shared, DWORD* accessGranted);
// Windows lets a second opener in only when every handle already open shares
// the access it asks for, and its own sharing allows every access already
// granted.  An open with no data access conflicts with nothing.
bool SharingAllows(dev_t dev, ino_t ino, DWORD access, DWORD share);

// Whether the ANSI functions take the path: Windows converts it to UTF-16
// in a buffer of MAX_PATH characters, terminator included, so 259
// characters (a double-byte character counts once) is the longest that
// works.  False, with ERROR_FILENAME_EXCED_RANGE set, for a longer one.
bool PathFits(const char* windowsPath);
// Whether the folder's access rule refuses new files in it.
bool RefusesNewFiles(const std::string& hostFolder);

// Host path of a Windows path.  Existing components are matched without
// regard to ASCII letter case, as Windows matches names; the rest are taken
// as given.  Returns false (with the last error set) when the path is not on
// a mapped drive, is relative, is too long for the ANSI functions, or has a
// name that cannot be converted.
bool Resolve(const char* windowsPath, std::string* host);
// The same without WOW64 redirection: the path as the test sees the machine.
bool ResolveNative(const char* windowsPath, std::string* host);
// The host path of a Windows path taken as written (redirection applied,
// names converted, "." and ".." taken away), without looking at the host's
// files: what Resolve gives whenever that path exists.  False when the path
// is not on a mapped drive, is too long or a name cannot be converted.
bool WrittenPath(const char* windowsPath, std::string* host);

}  // namespace sim

namespace sim {

// The compiled resource of the given type and ordinal name (any language).
bool FindResource(int type, int name, const unsigned char** data, size_t* size);
// A string-table text converted to code page 932; false when it is missing.
bool LoadResourceString(UINT id, std::string* ansi);

}  // namespace sim
