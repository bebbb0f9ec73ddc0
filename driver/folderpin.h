// CPinnedFolder: a folder path held so that, while it is held, the path
// names exactly the folders it named when it was pinned.
//
// Every folder from the drive root down is opened without FILE_SHARE_DELETE.
// Renaming, deleting or replacing a folder by a link all need DELETE access
// to it, which that sharing refuses to every other opener, so no other
// process can change which folder a name inside the path reaches.  The
// path-based calls the program makes inside the folder while it is pinned
// are then as safe as calls on the handles themselves.
#pragma once

#include <vector>

#include "platform/winapi.h"

class CPinnedFolder {
public:
    CPinnedFolder() = default;
    ~CPinnedFolder() { Release(); }
    CPinnedFolder(const CPinnedFolder&) = delete;
    CPinnedFolder& operator=(const CPinnedFolder&) = delete;

    // folderPath: the full path of a folder on a local drive ("C:\\x\\y",
    // with or without the final backslash).  Opens every component from the
    // drive root down and keeps it open; refuses (false, nothing held) a
    // component that is a link or not a folder, a path that is not a local
    // drive's, and one that cannot be opened.  A pin already held is
    // released first.
    bool Pin(const char* folderPath);
    // Closes every handle; the path may change again from then on.
    void Release();
    bool IsPinned() const { return !m_handles.empty(); }

private:
    std::vector<HANDLE> m_handles;  // drive root first, the folder itself last
};
