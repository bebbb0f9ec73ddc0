// CFile: the framework's file, a thin owner of one Windows file handle.
//
// The engine always reads a file whole with one Read and writes one with one
// Write; failures come back as results, never as exceptions.
#pragma once

#include "platform/winapi.h"

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareExclusive = 0x0010,   // no other opener, of any kind, while open
        shareDenyWrite = 0x0020,   // others may read, not write
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeCreate = 0x1000,       // create, truncating an existing file
        modeNoTruncate = 0x2000,   // with modeCreate: open an existing file as it is
        modeCreateNew = 0x4000,    // create; fail when the name is taken
    };

    CFile() = default;
    ~CFile() { Close(); }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    BOOL Open(LPCSTR path, UINT flags);
    BOOL IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }

    // The file's length, or 0 when it cannot be told (callers treat an
    // unknown length like an empty file).
    ULONGLONG GetLength() const;

    // Reads up to count bytes; returns the number read, less than count at the
    // end of the file or on a read error.
    UINT Read(void* buffer, UINT count);

    // Writes all count bytes; FALSE when any of them could not be written.
    BOOL Write(const void* buffer, UINT count);

    // Closes the handle; FALSE when the system reported a failure (for a file
    // written through this object, data may then be lost).
    BOOL Close();

    HANDLE m_hFile = INVALID_HANDLE_VALUE;
};
