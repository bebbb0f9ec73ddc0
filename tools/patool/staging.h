// Where patool release makes the customers' package before it is moved into
// OUT_DIR, and the move itself: a run killed at any moment leaves OUT_DIR as
// it was or as it is to be, and its staging folder for the next run to
// remove.  Not for use outside patool.
#pragma once

#include <filesystem>
#include <string>

namespace patool {
namespace internal {

// The names of the package's parts in OUT_DIR.
constexpr char kUpdaterName[] = "upd.exe";
constexpr char kHostFolder[] = "host";

// The folder a release is made in before it is moved into OUT_DIR.  It is
// made by exclusive creation under a name of its own, beside OUT_DIR (on
// the same file system, so that the moves are renames) or, where that
// cannot be, inside it; a run holds a lock on the marker file inside it for
// as long as it lives, so that a later run can tell the folder of a killed
// run (unlocked) from a live one, and from a folder someone else made (no
// marker).  Only a killed run's folders are ever removed.
class Staging {
public:
    ~Staging() { Drop(); }

    // Makes the folder; false with *why set when it cannot be made.
    bool Make(const std::filesystem::path& outDir, std::string* why);
    const std::filesystem::path& Dir() const { return m_dir; }
    void Drop();

private:
    static bool SameFileSystem(const std::filesystem::path& place, const std::filesystem::path& out);
    bool Lock();
    static void RemoveFolder(const std::filesystem::path& dir);
    static void RemoveStale(const std::filesystem::path& place, const std::string& prefix);

    std::filesystem::path m_dir;
    int m_lock = -1;
};

// A lock on the folder itself, held while a run looks at what OUT_DIR holds
// and moves its release in.  Only runs of this tool take it, each for a
// moment; one that cannot have it within about ten seconds gives up.
class OutDirLock {
public:
    ~OutDirLock();
    bool Take(const std::filesystem::path& dir);

private:
    int m_fd = -1;
};

// Moves the staged release into OUT_DIR: the updater first, then the host
// folder, each in one step, so that a run killed between the two leaves
// the new updater beside the previous host/, which it revises as the
// previous one did.  A failure puts back what was moved.
bool MoveIntoPlace(const std::filesystem::path& staged, const std::filesystem::path& outDir, bool withUpdater,
                   std::string* why);

}  // namespace internal
}  // namespace patool
