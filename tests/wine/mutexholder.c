/* Holds a named mutex as a running copy of the program holds its name, for
 * the Wine test of unattended runs: a copy started meanwhile must find the
 * name taken, without any race on how long a real run lasts.
 *
 *   mutexholder.exe NAME STOP
 *
 * Prints "held" once the mutex exists, then waits until the file STOP
 * exists and ends (the system closes the mutex).  Exit code 0, or 1 when
 * the name was already taken or could not be made. */
#include <windows.h>
#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
    HANDLE mutex;
    if (argc != 3) {
        fprintf(stderr, "usage: mutexholder.exe NAME STOP\n");
        return 1;
    }
    mutex = CreateMutexW(NULL, FALSE, argv[1]);
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) {
        printf("cannot take the name: error %lu\n", GetLastError());
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    while (GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES) Sleep(50);
    CloseHandle(mutex);
    return 0;
}
