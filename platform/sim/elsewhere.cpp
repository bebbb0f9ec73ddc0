// Another process changing folders of the simulated machine while the
// program runs: what a user could do at any moment, refused as Windows
// refuses it while a handle open on the folder does not share delete.
#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "platform/sim/machine.h"

namespace {

// Whether anything open keeps the entry at host (not followed through a
// link) from being renamed or removed.
bool DeleteRefused(const std::string& host) {
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0) return false;
    DWORD shared = 0;
    return sim::OpenShares(st.st_dev, st.st_ino, &shared, nullptr) && !(shared & FILE_SHARE_DELETE);
}

// The same for the folder and everything in it, as removing it all needs.
bool TreeDeleteRefused(const std::string& host) {
    if (DeleteRefused(host)) return true;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(host, error), end; !error && it != end; it.increment(error)) {
        if (DeleteRefused(it->path().string())) return true;
    }
    return false;
}

}  // namespace

namespace sim {

DWORD RenameFolderElsewhere(const std::string& windowsPath, const std::string& newWindowsPath) {
    std::string from, to;
    if (!ResolveNative(windowsPath.c_str(), &from) || !WrittenPath(newWindowsPath.c_str(), &to)) return ERROR_PATH_NOT_FOUND;
    if (DeleteRefused(from)) return ERROR_SHARING_VIOLATION;
    std::error_code error;
    std::filesystem::rename(from, to, error);
    return error ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

DWORD RemoveFolderElsewhere(const std::string& windowsPath) {
    std::string host;
    if (!ResolveNative(windowsPath.c_str(), &host)) return ERROR_PATH_NOT_FOUND;
    if (TreeDeleteRefused(host)) return ERROR_SHARING_VIOLATION;
    std::error_code error;
    std::filesystem::remove_all(host, error);
    return error ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

DWORD ReplaceFolderByLinkElsewhere(const std::string& windowsPath, const std::string& targetWindowsPath) {
    const DWORD moved = RenameFolderElsewhere(windowsPath, windowsPath + ".old");
    if (moved != ERROR_SUCCESS) return moved;
    return MakeFolderLink(windowsPath, targetWindowsPath) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

}  // namespace sim
