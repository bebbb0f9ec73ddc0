#include "engine/wholefile.h"

#include <cstring>
#include <new>

#include "platform/framework/cfile.h"

FileIdentity ReadFileIdentity(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(file, &info) == FALSE) return FileIdentity();
    return FileIdentity{true, info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

namespace {

// Opens path to be read whole and takes its length.  No other program may
// change the file while it is read; one that only reads it may go on
// (Windows holds every font it has loaded from outside its own font folder
// open for reading, and such a font is still to be found and revised).
WholeFileResult OpenWhole(CFile* file, const char* path, uint32_t maxLength, FileIdentity* identity,
                          uint64_t* length) {
    if (!file->Open(path, CFile::modeRead | CFile::shareDenyWrite)) return kWholeFileFailed;
    if (identity) *identity = ReadFileIdentity(file->m_hFile);
    const ULONGLONG size = file->GetLength();
    if (size == 0 && GetLastError() != ERROR_SUCCESS) return kWholeFileFailed;  // the size could not be had
    if (size == 0 || size > maxLength) return kWholeFileWrongSize;
    *length = size;
    return kWholeFileRead;
}

// A file that cannot be read whole has not been read.
bool ReadAll(CFile* file, BYTE* into, uint64_t length) {
    return file->Read(into, static_cast<UINT>(length)) == length;
}

}  // namespace

WholeFileResult ReadWholeFile(const char* path, uint32_t maxLength, uint32_t spare, WholeFile* out,
                              FileIdentity* identity) {
    if (identity) *identity = FileIdentity();
    CFile file;
    uint64_t length = 0;
    const WholeFileResult opened = OpenWhole(&file, path, maxLength, identity, &length);
    if (opened != kWholeFileRead) return opened;
    BYTE* data = new (std::nothrow) BYTE[static_cast<size_t>(length + spare)];
    if (!data) return kWholeFileFailed;
    if (spare != 0) std::memset(data + length, 0, spare);
    if (!ReadAll(&file, data, length)) {
        delete[] data;
        return kWholeFileFailed;
    }
    out->data = data;
    out->length = static_cast<uint32_t>(length);
    return kWholeFileRead;
}

WholeFileResult ReadWholeFileInto(const char* path, uint32_t maxLength, BYTE* reuse, uint64_t capacity,
                                  WholeFile* out) {
    CFile file;
    uint64_t length = 0;
    const WholeFileResult opened = OpenWhole(&file, path, maxLength, nullptr, &length);
    if (opened != kWholeFileRead) return opened;
    const bool fits = reuse && capacity >= length;
    BYTE* const into = fits ? reuse : new (std::nothrow) BYTE[static_cast<size_t>(length)];
    if (!into) return kWholeFileFailed;
    if (!ReadAll(&file, into, length)) {
        if (!fits) delete[] into;
        return kWholeFileFailed;
    }
    out->data = into;
    out->length = static_cast<uint32_t>(length);
    return kWholeFileRead;
}
