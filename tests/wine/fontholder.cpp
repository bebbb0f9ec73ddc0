// Holds a font file as Windows holds a font it has loaded, for the Wine
// end-to-end test: open for reading, sharing reading only, and mapped into
// memory.  Others can still read the font, but not replace it: a move over
// it fails with "access denied", and asking for the access a move needs
// fails with a sharing violation.
//
//   fontholder.exe FONT STOP
//   fontholder.exe /load FONT STOP
//
// With /load the font is loaded for the session instead (AddFontResourceW),
// as a program loads a font it was given, and unloaded at the end.
//
// Prints "held" once the font is held, then waits until the file STOP
// exists, lets the font go and ends.  Exit code 0, or 1 when the font could
// not be held (the reason is printed).
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && lstrcmpiW(argv[1], L"/load") == 0) {
        // From gdi32 at run time: the helper is linked with no more than it
        // was before.
        HMODULE gdi = LoadLibraryW(L"gdi32.dll");
        typedef int(WINAPI * AddFn)(LPCWSTR);
        typedef BOOL(WINAPI * RemoveFn)(LPCWSTR);
        AddFn add = gdi ? reinterpret_cast<AddFn>(GetProcAddress(gdi, "AddFontResourceW")) : nullptr;
        RemoveFn remove = gdi ? reinterpret_cast<RemoveFn>(GetProcAddress(gdi, "RemoveFontResourceW")) : nullptr;
        if (!add || !remove || add(argv[2]) == 0) {
            std::printf("cannot load the font\n");
            return 1;
        }
        std::printf("held\n");
        std::fflush(stdout);
        while (GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES) Sleep(50);
        remove(argv[2]);
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: fontholder.exe [/load] FONT STOP\n");
        return 1;
    }
    // The handle stays open, without FILE_SHARE_DELETE: under Wine a mapping
    // alone also blocks the move, but grants delete access to whoever asks,
    // and asking for it is how the program tells a font in use.
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("cannot open the font: error %lu\n", GetLastError());
        return 1;
    }
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    const void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (!view) {
        std::printf("cannot map the font: error %lu\n", GetLastError());
        return 1;
    }
    CloseHandle(mapping);
    std::printf("held\n");
    std::fflush(stdout);
    while (GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES) Sleep(50);
    UnmapViewOfFile(view);
    CloseHandle(file);
    return 0;
}
