// The staging folder of patool release and the move into OUT_DIR: see
// staging.h.
#include "tools/patool/staging.h"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace patool {
namespace internal {

namespace fs = std::filesystem;

namespace {

const char kStagingMarker[] = ".patool-staging";
const char kStagingMagic[] = "staging folder of a patool release; removed by the next release if left\n";

// Puts from in the place of to in one step: exchanged with what is there
// (which is then at from), or renamed when nothing is.  A run killed at any
// moment leaves to as it was or as it is to be.  *exchanged says which.
bool Swap(const fs::path& from, const fs::path& to, bool* exchanged) {
    std::error_code ec;
    *exchanged = fs::exists(fs::symlink_status(to, ec));
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), *exchanged ? RENAME_EXCHANGE : RENAME_NOREPLACE) ==
           0;
}

}  // namespace

bool Staging::Make(const fs::path& outDir, std::string* why) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(outDir, ec).lexically_normal();
    const fs::path out = absolute.has_filename() ? absolute : absolute.parent_path();
    fs::create_directories(out.parent_path(), ec);
    const fs::path places[] = {out.parent_path(), out};
    for (const fs::path& place : places) {
        if (place == out) {
            // Inside OUT_DIR only when beside it cannot be: it would go out with
            // OUT_DIR if this run were killed.
            if (!fs::is_directory(out, ec)) continue;
        } else if (!SameFileSystem(place, out)) {
            continue;
        }
        const std::string prefix = (place / ("." + out.filename().string() + ".patool-staging-")).string();
        RemoveStale(place, fs::path(prefix).filename().string());
        // Another run starting at the same moment may take an empty
        // folder for a killed run's before the marker is in: tried again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            std::string name = prefix + "XXXXXX";
            if (!::mkdtemp(name.data())) break;
            m_dir = name;
            if (Lock()) return true;
            Drop();
        }
    }
    *why = "cannot make a staging folder beside or inside '" + outDir.string() + "'";
    return false;
}

void Staging::Drop() {
    if (m_dir.empty()) return;
    RemoveFolder(m_dir);
    if (m_lock >= 0) ::close(m_lock);
    m_lock = -1;
    m_dir.clear();
}

bool Staging::SameFileSystem(const fs::path& place, const fs::path& out) {
    struct stat a, b;
    if (::stat(place.c_str(), &a) != 0) return false;
    // An OUT_DIR still to be made is made in place.
    if (::stat(out.c_str(), &b) != 0) return errno == ENOENT;
    return a.st_dev == b.st_dev;
}

bool Staging::Lock() {
    const std::string marker = (m_dir / kStagingMarker).string();
    m_lock = ::open(marker.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_lock < 0 || ::flock(m_lock, LOCK_EX | LOCK_NB) != 0) return false;
    // Written only once locked: a marker that says what it is is always held.
    const ssize_t n = ::write(m_lock, kStagingMagic, sizeof kStagingMagic - 1);
    return n == static_cast<ssize_t>(sizeof kStagingMagic - 1);
}

// The marker goes last, so that a run killed while removing the folder
// leaves it recognisable: with its marker, or empty.
void Staging::RemoveFolder(const fs::path& dir) {
    std::error_code ec;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename() != kStagingMarker) entries.push_back(it->path());
    }
    for (const fs::path& entry : entries) fs::remove_all(entry, ec);
    fs::remove(dir / kStagingMarker, ec);
    fs::remove(dir, ec);
}

// Removes the staging folders of killed runs in place: real folders
// (not links) named with the prefix that hold our marker, unlocked; or
// nothing at all (a run killed as it made or removed its folder), which
// only an empty folder's removal can take.
void Staging::RemoveStale(const fs::path& place, const std::string& prefix) {
    std::error_code ec;
    std::vector<fs::path> stale;
    for (fs::directory_iterator it(place, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code kind;
        if (name.compare(0, prefix.size(), prefix) == 0 && it->is_directory(kind) && !it->is_symlink(kind)) {
            stale.push_back(it->path());
        }
    }
    for (const fs::path& dir : stale) {
        const int fd = ::open((dir / kStagingMarker).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            ::rmdir(dir.c_str());  // only when empty
            continue;
        }
        // A marker is ours when it says so, or is still empty: a run
        // killed between making it and writing it.
        struct stat st;
        char text[sizeof kStagingMagic] = {};
        const ssize_t n = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::read(fd, text, sizeof text) : -1;
        const bool ours = n == 0 || (n == static_cast<ssize_t>(sizeof kStagingMagic - 1) &&
                                     std::memcmp(text, kStagingMagic, sizeof kStagingMagic - 1) == 0);
        if (ours && ::flock(fd, LOCK_EX | LOCK_NB) == 0) RemoveFolder(dir);
        ::close(fd);
    }
}

OutDirLock::~OutDirLock() {
    if (m_fd >= 0) ::close(m_fd);
}

bool OutDirLock::Take(const fs::path& dir) {
    m_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0) return false;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        ::usleep(10000);
    }
    return false;
}

bool MoveIntoPlace(const fs::path& staged, const fs::path& outDir, bool withUpdater, std::string* why) {
    const fs::path updaterOut = outDir / kUpdaterName;
    bool updaterExchanged = false, hostExchanged = false;
    if (withUpdater && !Swap(staged / kUpdaterName, updaterOut, &updaterExchanged)) {
        *why = "cannot write '" + updaterOut.string() + "': " + std::strerror(errno);
        return false;
    }
    if (!Swap(staged / kHostFolder, outDir / kHostFolder, &hostExchanged)) {
        *why = "cannot move the host folder into '" + outDir.string() + "': " + std::strerror(errno);
        if (withUpdater) {
            bool ignored = false;
            if (updaterExchanged) Swap(staged / kUpdaterName, updaterOut, &ignored);
            else ::rename(updaterOut.c_str(), (staged / kUpdaterName).c_str());
        }
        return false;
    }
    return true;
}

}  // namespace internal
}  // namespace patool
