// The program's exit codes.  Deployment systems read them as they read
// Windows Installer's, so the same numbers mean the same things; the
// refusals that have a Windows error of their own use it.
#pragma once

enum ExitCode {
    kExitNothingToDo = 0,           // no font needs revising (also /? shown)
    kExitWorkNeeded = 1,            // /check: a font still needs revising
    kExitBadCommandLine = 87,       // ERROR_INVALID_PARAMETER
    kExitNotAdministrator = 740,    // ERROR_ELEVATION_REQUIRED
    kExitWindowsUnsupported = 1150, // ERROR_OLD_WIN_VERSION
    kExitCancelled = 1602,          // ERROR_INSTALL_USEREXIT
    kExitFailed = 1603,             // ERROR_INSTALL_FAILURE
    kExitAnotherRun = 1618,         // ERROR_INSTALL_ALREADY_RUNNING
    // A font another program holds, in a folder a user can change: the same
    // "try again later" that deployment systems retry by default.
    kExitFontInUse = 1618,
    kExitRestartStarted = 1641,     // ERROR_SUCCESS_REBOOT_INITIATED
    kExitRestartNeeded = 3010,      // ERROR_SUCCESS_REBOOT_REQUIRED
};

// The code of an environment check that stopped the program (Part of the
// checks' own codes: 1000, 1001, 1002, 1005).
int ExitCodeOfEnvironment(int environment);

// The code of an update run that ended with the engine's result, before any
// restart: every revised font takes effect only after one.
int ExitCodeOfRevision(int result);
