// patool release: the difference files of a whole product line, paired by
// the catalogue's font file names, made, checked and written as the
// customers' package in one go.
#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <map>
#include <sstream>

#include "discovery/catalogue.h"
#include "engine/manager.h"
#include "engine/manifest.h"
#include "tools/paproducer/paproducer.h"
#include "tools/patool/internal.h"
#include "tools/patool/patool.h"

namespace patool {
namespace internal {

namespace {

namespace fs = std::filesystem;

const char kUpdaterName[] = "upd.exe";
const char kHostFolder[] = "host";

// A font left out of the release, and why.
struct Anomaly {
    int code;
    std::string text;
};

// The exit code when fonts were left out for several reasons: the most
// urgent first.
int AnomalyExit(const std::vector<Anomaly>& anomalies) {
    for (const int code : {kExitNotAFont, kExitOneSideOnly, kExitNotInCatalogue, kExitUnchanged}) {
        for (const Anomaly& a : anomalies) {
            if (a.code == code) return code;
        }
    }
    return kExitOk;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameNameIgnoringCase(const std::string& a, const char* b) {
    const size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

// The row whose font file name is exactly fileName, as the updater's search
// compares (case matters there too); -1 when there is none, with *nearly
// the row that differs only in case, if any.
int CatalogueRow(const std::string& fileName, int* nearly) {
    *nearly = -1;
    for (int row = 0; row < kCatalogueFontCount; ++row) {
        if (fileName == g_fontFileNames[row]) return row;
        if (*nearly < 0 && SameNameIgnoringCase(fileName, g_fontFileNames[row])) *nearly = row;
    }
    return -1;
}

bool IsFontName(const std::string& fileName) {
    if (fileName.size() < 4) return false;
    std::string ext = fileName.substr(fileName.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(), AsciiLower);
    return ext == ".otf";
}

// The catalogue fonts of one folder by row; every other .otf file in it is an
// anomaly.  Sub-folders and files of other kinds are not looked at.
bool ListFolder(const std::string& dir, const char* side, std::map<int, std::string>* byRow,
                std::vector<Anomaly>* anomalies, Failure* failure) {
    std::error_code ec;
    std::vector<std::string> names;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        if (it->is_regular_file(kind) && IsFontName(it->path().filename().string())) {
            names.push_back(it->path().filename().string());
        }
    }
    if (ec) {
        *failure = Failure{kExitUnreadable, "cannot list the folder '" + dir + "': " + ec.message()};
        return false;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = (fs::path(dir) / name).string();
        int nearly = -1;
        const int row = CatalogueRow(name, &nearly);
        if (row < 0) {
            anomalies->push_back(Anomaly{kExitNotInCatalogue,
                                         "'" + path + "' (" + side + ") is not a font of the catalogue" +
                                             (nearly < 0 ? std::string()
                                                         : std::string(" (it has ") + g_fontFileNames[nearly] + ")")});
        } else if (byRow->count(row)) {
            anomalies->push_back(Anomaly{kExitNotInCatalogue, "'" + path + "' (" + side + ") names the catalogue's " +
                                                                  g_fontFileNames[row] + " a second time, after '" +
                                                                  (*byRow)[row] + "'"});
        } else {
            (*byRow)[row] = path;
        }
    }
    return true;
}

// A line on the terminal, rewritten as the work goes on; the lines printed
// meanwhile go above it.
class ProgressLine {
public:
    ProgressLine(std::ostream& err, bool on) : m_err(err), m_on(on) {}
    ~ProgressLine() { Clear(); }
    void Show(const std::string& text) {
        if (!m_on) return;
        m_err << "\r" << text << "\033[K" << std::flush;
        m_shown = true;
    }
    void Clear() {
        if (!m_shown) return;
        m_err << "\r\033[K" << std::flush;
        m_shown = false;
    }

private:
    std::ostream& m_err;
    bool m_on;
    bool m_shown = false;
};

std::string Megabytes(uint64_t bytes) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(1) << static_cast<double>(bytes) / 1e6 << " MB";
    return s.str();
}

std::string Percent(uint64_t part, uint64_t whole) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(2) << (whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0)
      << " %";
    return s.str();
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// OUT_DIR/host may be replaced only when it holds difference files alone,
// with their release manifest: whatever else is there is not ours to remove.
bool OnlyDifferenceFiles(const fs::path& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        const std::string name = it->path().filename().string();
        if (it->is_symlink(kind) || !it->is_regular_file(kind) ||
            ((name.size() < 3 || name.compare(name.size() - 3, 3, ".pa") != 0) && name != kReleaseManifestName)) {
            return false;
        }
    }
    return !ec;
}

// The difference files of an existing OUT_DIR/host that this release would
// not write again: another product line's, or of fonts this release leaves
// out.  Replacing the folder would drop them without a word, so their
// presence refuses the release.  names holds the files the release writes.
std::vector<std::string> FilesNotReplaced(const fs::path& host, const std::vector<std::string>& names) {
    std::vector<std::string> kept;
    std::error_code ec;
    for (fs::directory_iterator it(host, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (std::find(names.begin(), names.end(), name) == names.end()) kept.push_back(name);
    }
    std::sort(kept.begin(), kept.end());
    return kept;
}

Failure NotReplacedFailure(const fs::path& host, const std::vector<std::string>& kept) {
    std::string list;
    for (const std::string& name : kept) list += (list.empty() ? "" : ", ") + name;
    return Failure{kExitWriteFailed, "'" + host.string() + "' holds difference files this release does not make (" +
                                         list + "); move them away or choose another OUT_DIR"};
}

// The folder a release is made in before it is moved into OUT_DIR.  It is
// made by exclusive creation under a name of its own, beside OUT_DIR (on
// the same file system, so that the moves are renames) or, where that
// cannot be, inside it; a run holds a lock on the marker file inside it for
// as long as it lives, so that a later run can tell the folder of a killed
// run (unlocked) from a live one, and from a folder someone else made (no
// marker).  Only a killed run's folders are ever removed.
const char kStagingMarker[] = ".patool-staging";
const char kStagingMagic[] = "staging folder of a patool release; removed by the next release if left\n";

class Staging {
public:
    ~Staging() { Drop(); }

    // Makes the folder; false with *why set when it cannot be made.
    bool Make(const fs::path& outDir, std::string* why) {
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

    const fs::path& Dir() const { return m_dir; }

    void Drop() {
        if (m_dir.empty()) return;
        RemoveFolder(m_dir);
        if (m_lock >= 0) ::close(m_lock);
        m_lock = -1;
        m_dir.clear();
    }

private:
    static bool SameFileSystem(const fs::path& place, const fs::path& out) {
        struct stat a, b;
        if (::stat(place.c_str(), &a) != 0) return false;
        // An OUT_DIR still to be made is made in place.
        if (::stat(out.c_str(), &b) != 0) return errno == ENOENT;
        return a.st_dev == b.st_dev;
    }

    bool Lock() {
        const std::string marker = (m_dir / kStagingMarker).string();
        m_lock = ::open(marker.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_lock < 0 || ::flock(m_lock, LOCK_EX | LOCK_NB) != 0) return false;
        // Written only once locked: a marker that says what it is is always held.
        const ssize_t n = ::write(m_lock, kStagingMagic, sizeof kStagingMagic - 1);
        return n == static_cast<ssize_t>(sizeof kStagingMagic - 1);
    }

    // The marker goes last, so that a run killed while removing the folder
    // leaves it recognisable: with its marker, or empty.
    static void RemoveFolder(const fs::path& dir) {
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
    static void RemoveStale(const fs::path& place, const std::string& prefix) {
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

    fs::path m_dir;
    int m_lock = -1;
};

// A lock on the folder itself, held while a run looks at what OUT_DIR holds
// and moves its release in.  Only runs of this tool take it, each for a
// moment; one that cannot have it within about ten seconds gives up.
class OutDirLock {
public:
    ~OutDirLock() {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool Take(const fs::path& dir) {
        m_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd < 0) return false;
        for (int attempt = 0; attempt < 1000; ++attempt) {
            if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) return true;
            if (errno != EWOULDBLOCK && errno != EINTR) return false;
            ::usleep(10000);
        }
        return false;
    }

private:
    int m_fd = -1;
};

// Puts from in the place of to in one step: exchanged with what is there
// (which is then at from), or renamed when nothing is.  A run killed at any
// moment leaves to as it was or as it is to be.  *exchanged says which.
bool Swap(const fs::path& from, const fs::path& to, bool* exchanged) {
    std::error_code ec;
    *exchanged = fs::exists(fs::symlink_status(to, ec));
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), *exchanged ? RENAME_EXCHANGE : RENAME_NOREPLACE) ==
           0;
}

// Moves the staged release into OUT_DIR: the updater first, then the host
// folder, each in one step, so that a run killed between the two leaves
// the new updater beside the previous host/, which it revises as the
// previous one did.  A failure puts back what was moved.
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

}  // namespace

int Release(const std::vector<std::string>& dirs, const std::string& updater, bool progressLine, std::ostream& out,
            std::ostream& err) {
    const auto started = std::chrono::steady_clock::now();
    const std::string& oldDir = dirs[0];
    const std::string& newDir = dirs[1];
    const fs::path outDir = dirs[2];
    std::error_code ec;
    for (const std::string& dir : {oldDir, newDir}) {
        if (!fs::is_directory(dir, ec)) return Fail(err, Failure{kExitUnreadable, "'" + dir + "' is not a folder"});
    }
    Bytes updaterBytes;
    if (!updater.empty()) {
        std::string why;
        if (!ReadHost(updater, &updaterBytes, &why)) return Fail(err, Failure{kExitUnreadable, why});
        if (updaterBytes.size() < 2 || updaterBytes[0] != 'M' || updaterBytes[1] != 'Z') {
            return Fail(err, Failure{kExitUsage, "'" + updater + "' is not a Windows program"});
        }
    }
    // A link that leads nowhere is there all the same: refused as not a
    // folder, never taken for an OUT_DIR to make (and to remove again).
    const bool outExisted = fs::exists(fs::symlink_status(outDir, ec));
    if (outExisted && !fs::is_directory(outDir, ec)) {
        return Fail(err, Failure{kExitWriteFailed, "'" + outDir.string() + "' is not a folder"});
    }
    const fs::path host = outDir / kHostFolder;
    const fs::file_status hostStatus = fs::symlink_status(host, ec);
    if (fs::exists(hostStatus) && (!fs::is_directory(hostStatus) || !OnlyDifferenceFiles(host))) {
        return Fail(err, Failure{kExitWriteFailed, "'" + host.string() +
                                                       "' holds more than difference files; choose another OUT_DIR"});
    }
    const fs::path updaterOut = outDir / kUpdaterName;
    if (!updater.empty() && fs::exists(fs::symlink_status(updaterOut, ec)) &&
        !fs::is_regular_file(fs::symlink_status(updaterOut, ec))) {
        return Fail(err, Failure{kExitWriteFailed, "'" + updaterOut.string() + "' is not a file"});
    }

    std::vector<Anomaly> anomalies;
    std::map<int, std::string> olds, news;
    Failure failure;
    if (!ListFolder(oldDir, "OLD_DIR", &olds, &anomalies, &failure) ||
        !ListFolder(newDir, "NEW_DIR", &news, &anomalies, &failure)) {
        return Fail(err, failure);
    }
    std::vector<int> rows;
    for (int row = 0; row < kCatalogueFontCount; ++row) {
        const bool inOld = olds.count(row) != 0, inNew = news.count(row) != 0;
        if (inOld && inNew) {
            rows.push_back(row);
        } else if (inOld || inNew) {
            anomalies.push_back(Anomaly{kExitOneSideOnly, "'" + (inOld ? olds[row] : news[row]) + "' has no counterpart in " +
                                                              (inOld ? "NEW_DIR" : "OLD_DIR")});
        }
    }
    // Refused before any work when the host folder holds files that no
    // pair could replace; checked again against the files made, at the end.
    if (fs::is_directory(hostStatus)) {
        std::vector<std::string> names{kReleaseManifestName};
        for (const int row : rows) names.push_back(g_diffFileNames[row]);
        const std::vector<std::string> kept = FilesNotReplaced(host, names);
        if (!kept.empty()) return Fail(err, NotReplacedFailure(host, kept));
    }
    uint64_t totalBytes = 0;
    auto sizeOf = [](const std::string& path) {
        std::error_code sizeError;
        const uintmax_t n = fs::file_size(path, sizeError);
        return sizeError ? uint64_t{0} : static_cast<uint64_t>(n);
    };
    for (const int row : rows) totalBytes += sizeOf(news[row]);

    // Everything is written into a staging folder of its own and moved into
    // place only when every difference file was made and checked.
    Staging stagingFolder;
    fs::path staging;
    bool stagingMade = false;
    auto removeStaging = [&]() {
        stagingFolder.Drop();
        if (!outExisted) fs::remove(outDir, ec);  // only when empty
    };

    ProgressLine progress(err, progressLine);
    std::vector<Failure> failures;
    size_t released = 0;
    uint64_t doneBytes = 0, newBytes = 0, diffBytes = 0;
    for (size_t i = 0; i < rows.size(); doneBytes += sizeOf(news[rows[i]]), ++i) {
        const int row = rows[i];
        const std::string& oldPath = olds[row];
        const std::string& newPath = news[row];
        const std::string name = g_fontFileNames[row];
        auto show = [&](const char* what) {
            std::ostringstream s;
            s << "[" << (i + 1) << "/" << rows.size() << "] " << name << ": " << what << " (" << Megabytes(doneBytes)
              << " of " << Megabytes(totalBytes) << ", " << std::fixed << std::setprecision(0) << SecondsSince(started)
              << " s)";
            progress.Show(s.str());
        };
        show("loading");
        Bytes oldFont, newFont;
        uint32_t oldRevision = 0, newRevision = 0;
        bool loadable = true;
        for (const auto& side : {std::make_pair(&oldPath, &oldFont), std::make_pair(&newPath, &newFont)}) {
            std::string why;
            Failure loadFailure;
            COpenTypeManager m;
            if (!ReadHost(*side.first, side.second, &why)) {
                anomalies.push_back(Anomaly{kExitNotAFont, why});
                loadable = false;
            } else if (!LoadWithEngine(m, *side.first, &loadFailure)) {
                anomalies.push_back(Anomaly{kExitNotAFont, loadFailure.message});
                loadable = false;
            } else {
                (side.second == &oldFont ? oldRevision : newRevision) = m.ReadIdentity().revision;
            }
        }
        if (!loadable) continue;
        if (oldRevision == newRevision) {
            anomalies.push_back(Anomaly{kExitUnchanged, "'" + newPath + "' has the revision of '" + oldPath + "', " +
                                                            RevisionText(newRevision) +
                                                            (oldFont == newFont ? " (the same font)"
                                                                                : ", but other bytes: raise its revision")});
            continue;
        }

        show("making");
        const auto makeStarted = std::chrono::steady_clock::now();
        std::string error;
        const Bytes diff = paproducer::MakeDifference(oldFont, newFont, &error);
        const double makeSeconds = SecondsSince(makeStarted);
        if (diff.empty()) {
            failures.push_back(Failure{kExitCannotPair, "cannot make the difference file of '" + oldPath + "' and '" +
                                                            newPath + "': " + error});
            continue;
        }
        if (!stagingMade) {
            stagingMade = true;
            std::string why;
            if (!stagingFolder.Make(outDir, &why)) {
                removeStaging();
                return Fail(err, Failure{kExitWriteFailed, why});
            }
            staging = stagingFolder.Dir();
            if (!fs::create_directory(staging / kHostFolder, ec)) {
                removeStaging();
                return Fail(err, Failure{kExitWriteFailed, "cannot make the folder '" + staging.string() + "/host'"});
            }
        }
        const std::string paPath = (staging / kHostFolder / g_diffFileNames[row]).string();
        if (!WriteHost(paPath, diff)) {
            failures.push_back(Failure{kExitWriteFailed, "cannot write '" + paPath + "'"});
            continue;
        }
        // Listed before it is checked, so that the check runs the updater's
        // manifest checks too.
        Failure manifestFailure;
        if (!AddToManifest(paPath, diff, oldPath, newFont, &manifestFailure)) {
            failures.push_back(manifestFailure);
            continue;
        }

        show("checking");
        const auto checkStarted = std::chrono::steady_clock::now();
        std::string report;
        Failure checkFailure;
        const int checked = CheckDifference(oldPath, paPath, newFont, newPath, &report, &checkFailure);
        if (checked < 0) {
            failures.push_back(checkFailure);
            continue;
        }
        if (checked > 0) {
            failures.push_back(Failure{kExitNoMatch, report});
            continue;
        }
        progress.Clear();
        ++released;
        newBytes += newFont.size();
        diffBytes += diff.size();
        out << name << "  " << RevisionText(oldRevision) << " -> " << RevisionText(newRevision) << "  "
            << oldFont.size() << " -> " << newFont.size() << " bytes  " << g_diffFileNames[row] << " " << diff.size()
            << " bytes (" << Percent(diff.size(), newFont.size()) << ")  make " << std::fixed << std::setprecision(2)
            << makeSeconds << " s, check " << SecondsSince(checkStarted) << " s\n"
            << std::flush;
    }
    progress.Clear();

    for (const Anomaly& a : anomalies) err << "patool: " << a.text << "\n";
    if (!failures.empty()) {
        removeStaging();
        for (const Failure& f : failures) err << "patool: " << f.message << "\n";
        err << "patool: nothing was written to '" << outDir.string() << "'\n";
        return failures.front().code;
    }
    if (released == 0) {
        removeStaging();
        err << "patool: no font to release; nothing was written to '" << outDir.string() << "'\n";
        return anomalies.empty() ? kExitUsage : AnomalyExit(anomalies);
    }

    // Another release into the same OUT_DIR may have moved its host/ in
    // since the first look, or be about to: the last look and the moves are
    // made under a lock on OUT_DIR itself, so that neither run replaces
    // what the other has just put there without a word.
    fs::create_directories(outDir, ec);
    if (!fs::is_directory(outDir, ec)) {
        removeStaging();
        return Fail(err, Failure{kExitWriteFailed, "cannot make the folder '" + outDir.string() + "'"});
    }
    OutDirLock outLock;
    if (!outLock.Take(outDir)) {
        removeStaging();
        return Fail(err, Failure{kExitWriteFailed, "cannot lock '" + outDir.string() + "': another release may be "
                                                   "writing into it"});
    }
    // The host folder's difference files as they are now, against the ones
    // made: the folder may have changed while the fonts were made.
    std::vector<std::string> made;
    for (fs::directory_iterator it(staging / kHostFolder, ec), end; !ec && it != end; it.increment(ec)) {
        made.push_back(it->path().filename().string());
    }
    if (fs::exists(fs::symlink_status(host, ec))) {
        const std::vector<std::string> kept = FilesNotReplaced(host, made);
        if (!fs::is_directory(fs::symlink_status(host, ec)) || !OnlyDifferenceFiles(host) || !kept.empty()) {
            removeStaging();
            return Fail(err, kept.empty() ? Failure{kExitWriteFailed, "'" + host.string() +
                                                                          "' holds more than difference files; "
                                                                          "choose another OUT_DIR"}
                                          : NotReplacedFailure(host, kept));
        }
    }
    std::string why;
    const bool written = updater.empty() || WriteHost((staging / kUpdaterName).string(), updaterBytes);
    if (!written || !MoveIntoPlace(staging, outDir, !updater.empty(), &why)) {
        removeStaging();
        return Fail(err, Failure{kExitWriteFailed, why.empty() ? "cannot write '" + updaterOut.string() + "'" : why});
    }
    removeStaging();

    out << "released " << released << " font" << (released == 1 ? "" : "s") << " into '" << host.string()
        << "': difference files of " << diffBytes << " bytes, " << Percent(diffBytes, newBytes) << " of the "
        << newBytes << " bytes of the new fonts" << (updater.empty() ? "" : ", with upd.exe beside them") << "; "
        << std::fixed << std::setprecision(1) << SecondsSince(started) << " s\n";
    if (!anomalies.empty()) {
        out << "left out: " << anomalies.size() << " font" << (anomalies.size() == 1 ? "" : "s")
            << " (see above)\n";
    }
    return AnomalyExit(anomalies);
}

}  // namespace internal
}  // namespace patool
