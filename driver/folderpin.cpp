// Stand-in until the pin lands: checks the path once.
#include "driver/folderpin.h"

#include <string>

bool CPinnedFolder::Pin(const char* folderPath) {
    Release();
    const DWORD attributes = GetFileAttributesA(folderPath);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    m_handles.push_back(INVALID_HANDLE_VALUE);
    return true;
}

void CPinnedFolder::Release() { m_handles.clear(); }
