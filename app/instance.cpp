#include "app/instance.h"

CString SingleInstanceName(const char* exeName) { return CString(exeName) + ".EXE"; }

bool TakeSingleInstance(const char* exeName, HANDLE* mutex) {
    *mutex = nullptr;
    const CString name = SingleInstanceName(exeName);

    HANDLE running = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name);
    if (running) {
        CloseHandle(running);
        return false;
    }

    HANDLE created = CreateMutexA(nullptr, FALSE, name);
    // Two copies started together can both miss the name above; the one
    // whose creation finds it already there is the second.
    if (created && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(created);
        return false;
    }
    *mutex = created;
    return true;
}

CString MachineInstanceName(const char* exeName) { return CString("Global\\") + SingleInstanceName(exeName); }

bool TakeMachineInstance(const char* exeName, HANDLE* mutex) {
    *mutex = nullptr;
    const CString name = MachineInstanceName(exeName);
    HANDLE created = CreateMutexA(nullptr, FALSE, name);
    if (!created) return GetLastError() != ERROR_ACCESS_DENIED;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(created);
        return false;
    }
    *mutex = created;
    return true;
}

void ReleaseSingleInstance(HANDLE mutex) {
    if (mutex) ReleaseMutex(mutex);
}
