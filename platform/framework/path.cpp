#include "platform/framework/path.h"

#include <cstring>

void SplitPath(LPCSTR path, CString* drive, CString* dir, CString* fname, CString* ext) {
    if (drive) drive->Empty();
    if (dir) dir->Empty();
    if (fname) fname->Empty();
    if (ext) ext->Empty();
    if (!path) return;

    const size_t length = std::strlen(path);
    size_t start = 0;
    if (length >= 2 && path[1] == ':' && !IsDBCSLeadByte(static_cast<BYTE>(path[0]))) {
        if (drive) *drive = CString(path, 2);
        start = 2;
    }

    // One pass that knows where characters begin: the last separator and the
    // last dot after it are looked for only at character starts.
    size_t nameStart = start;
    size_t lastDot = length;
    for (size_t i = start; i < length;) {
        const BYTE c = static_cast<BYTE>(path[i]);
        if (IsDBCSLeadByte(c) && i + 1 < length) {
            i += 2;
            continue;
        }
        if (c == '\\' || c == '/') {
            nameStart = i + 1;
            lastDot = length;
        } else if (c == '.') {
            lastDot = i;
        }
        ++i;
    }

    if (dir) *dir = CString(path + start, static_cast<int>(nameStart - start));
    if (fname) *fname = CString(path + nameStart, static_cast<int>(lastDot - nameStart));
    if (ext) *ext = CString(path + lastDot, static_cast<int>(length - lastDot));
}

CString PathFileName(LPCSTR path) {
    CString fname, ext;
    SplitPath(path, nullptr, nullptr, &fname, &ext);
    fname += ext;
    return fname;
}
