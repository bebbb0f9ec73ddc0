#include "driver/folderpin.h"

#include <string>

#include "driver/folderpath.h"

bool CPinnedFolder::Pin(const char* folderPath) {
    Release();
    std::vector<std::string> chain;
    if (!FolderChain(folderPath, &chain)) return false;
    m_handles.reserve(chain.size());
    for (const std::string& folder : chain) {
        // No FILE_SHARE_DELETE: that is what keeps the name from being
        // changed.  Opening the entry itself, never what a link leads to,
        // lets a link be seen and refused.
        const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
        HANDLE h = CreateFileA(folder.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, flags, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            Release();
            return false;
        }
        m_handles.push_back(h);
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(h, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            Release();
            return false;
        }
    }
    return true;
}

void CPinnedFolder::Release() {
    for (HANDLE h : m_handles) CloseHandle(h);
    m_handles.clear();
}
