// The checks made before anything else: a supported Windows version and a
// user with administrator rights.
#pragma once

#include <functional>

#include "platform/winapi.h"

// Results of the version classification and of the whole check.
enum EnvironmentCode {
    kEnvWindowsXp = 6,           // NT 5.1 or 5.2: go on
    kEnvWindowsVista = 7,        // NT 6.0 or later: go on
    kEnvQueryFailed = 1000,      // the version query failed
    kEnvWindowsTooOld = 1001,    // a known version older than the supported ones
    kEnvWindowsUnknown = 1002,   // any other version or platform
    kEnvNotAdministrator = 1005  // supported version, but no administrator rights
};

int ClassifyWindowsVersion();

// True when the user's token holds the built-in Administrators group as an
// enabled group; false otherwise and on any failure along the way.
bool IsUserAdministrator();

// Shows one string-table message and returns when the user has closed it.
using ShowMessageFn = std::function<void(UINT messageId)>;

// Classifies the version and, on a supported one, tests the rights; every
// code that stops the program has its message shown through showMessage
// before it is returned.  The caller goes on only for 6 and 7.
int CheckEnvironment(const ShowMessageFn& showMessage);
