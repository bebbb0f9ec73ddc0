// One copy of the program per executable file name.
#pragma once

#include "platform/framework/cstring.h"
#include "platform/winapi.h"

// The single-instance name: the executable name (its file name without
// folder and extension, letter case kept) followed by ".EXE".
CString SingleInstanceName(const char* exeName);

// False when another copy of the same executable runs; *mutex then stays
// null and nothing else happens.  Otherwise *mutex receives the mutex that
// holds the name for as long as this copy runs (it is never closed: the
// system closes it when the process ends).  A mutex that cannot be created
// is no reason to stop: the copy runs without the protection.
bool TakeSingleInstance(const char* exeName, HANDLE* mutex);

// The same across every session of the machine: a deployment agent in
// session 0 and a person at the screen must not revise the same fonts at
// once.  The name is the single-instance name under "Global\\".  A name
// that exists but that this account may not open (another account made
// it) is taken for another copy too; only a mutex that cannot be made for
// any other reason lets the copy run without the protection.
CString MachineInstanceName(const char* exeName);
bool TakeMachineInstance(const char* exeName, HANDLE* mutex);

// At shut-down.  The mutex was never owned, so this changes nothing; the
// name stays taken until the process ends.
void ReleaseSingleInstance(HANDLE mutex);
