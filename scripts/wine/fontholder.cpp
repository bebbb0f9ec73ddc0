// Holds a font file as Windows holds a font it has loaded, for the Wine
// end-to-end test: mapped into memory, with no file handle left open.  A
// mapped file can be read, even by a program that opens it exclusively, but
// not replaced: a move over it fails with "access denied".
//
//   fontholder.exe FONT STOP
//
// Prints "held" once the font is mapped, then waits until the file STOP
// exists, lets the font go and ends.  Exit code 0, or 1 when the font could
// not be mapped (the reason is printed).
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fontholder.exe FONT STOP\n");
        return 1;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("cannot open the font: error %lu\n", GetLastError());
        return 1;
    }
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    const void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    const DWORD error = GetLastError();
    // Only the view keeps the font now, as with a font the system has loaded:
    // an open handle would also keep other programs from reading it.
    if (mapping) CloseHandle(mapping);
    CloseHandle(file);
    if (!view) {
        std::printf("cannot map the font: error %lu\n", error);
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    while (GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES) Sleep(50);
    UnmapViewOfFile(view);
    return 0;
}
