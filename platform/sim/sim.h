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

// Maps a drive letter to a host folder (which must exist).
void MapDrive(char letter, const std::string& hostFolder, UINT driveType = kDriveFixed);

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
const std::vector<std::string>& CallLog();

// Number of handles (files and listings) still open: a leak detector for tests.
int OpenHandleCount();

// The program's own path (GetModuleFileNameA) and the temporary folder
// (GetTempPathA, which ends with a backslash), as Windows paths.
void SetModulePath(const std::string& windowsPath);
void SetTempPath(const std::string& windowsPath);

// The simulated clock.  _time64 answers the time set here plus whatever the
// program has slept since; Sleep advances the clock and returns at once.
void SetTime(int64_t secondsSince1970);
uint64_t SleptMilliseconds();  // total slept since the last Reset
// Called on every Sleep, after the clock moved: lets a test act "while the
// program waits" (change a file, arm a failure).
void OnSleep(std::function<void(DWORD milliseconds)> hook);

// Seeds the run-time library's rand, for repeatable temporary names.
void SeedRandom(unsigned seed);

}  // namespace sim
