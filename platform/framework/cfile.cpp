#include "platform/framework/cfile.h"

BOOL CFile::Open(LPCSTR path, UINT flags) {
    Close();

    DWORD access = 0;
    switch (flags & 0x3) {
    case modeRead: access = GENERIC_READ; break;
    case modeWrite: access = GENERIC_WRITE; break;
    default: access = GENERIC_READ | GENERIC_WRITE; break;
    }

    DWORD share = 0;
    switch (flags & 0x70) {
    case shareDenyWrite: share = FILE_SHARE_READ; break;
    case shareDenyRead: share = FILE_SHARE_WRITE; break;
    case shareDenyNone: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    default: share = 0; break;  // exclusive (and the old "compat" mode)
    }

    DWORD disposition = OPEN_EXISTING;
    if (flags & modeCreateNew) {
        disposition = CREATE_NEW;
    } else if (flags & modeCreate) {
        disposition = (flags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
    }

    HANDLE h = CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    m_hFile = h;
    return TRUE;
}

ULONGLONG CFile::GetLength() const {
    if (!IsOpen()) return 0;
    DWORD high = 0;
    SetLastError(ERROR_SUCCESS);
    DWORD low = GetFileSize(m_hFile, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return 0;
    return (static_cast<ULONGLONG>(high) << 32) | low;
}

UINT CFile::Read(void* buffer, UINT count) {
    if (!IsOpen()) return 0;
    BYTE* p = static_cast<BYTE*>(buffer);
    UINT total = 0;
    // A local file hands over a whole request at once; the loop only matters
    // for devices that deliver in pieces.
    while (total < count) {
        DWORD got = 0;
        if (!ReadFile(m_hFile, p + total, count - total, &got, nullptr)) break;
        if (got == 0) break;
        total += got;
    }
    return total;
}

BOOL CFile::Write(const void* buffer, UINT count) {
    if (!IsOpen()) return FALSE;
    const BYTE* p = static_cast<const BYTE*>(buffer);
    UINT total = 0;
    while (total < count) {
        DWORD put = 0;
        if (!WriteFile(m_hFile, p + total, count - total, &put, nullptr)) return FALSE;
        if (put == 0) return FALSE;
        total += put;
    }
    return TRUE;
}

BOOL CFile::Close() {
    if (!IsOpen()) return TRUE;
    BOOL ok = CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
    return ok;
}
