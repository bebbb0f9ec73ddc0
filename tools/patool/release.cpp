// patool release: the difference files of a whole product line, paired by
// the catalogue's font file names, made, checked and written as the
// customers' package in one go.
#include <algorithm>
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
#include "tools/patool/staging.h"

namespace patool {
namespace internal {

namespace {

namespace fs = std::filesystem;

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

uint64_t SizeOf(const std::string& path) {
    std::error_code sizeError;
    const uintmax_t n = fs::file_size(path, sizeError);
    return sizeError ? uint64_t{0} : static_cast<uint64_t>(n);
}

// The two fonts of a pair as read and loaded, with their revisions.
struct LoadedPair {
    Bytes oldFont, newFont;
    uint32_t oldRevision = 0, newRevision = 0;
};

// One run of release, in its steps: the first look at the folders, the
// fonts paired, each pair made and checked into the staging folder, and the
// staging folder moved into OUT_DIR.  What the steps find is kept here for
// the lines at the end.
class ReleaseRun {
public:
    ReleaseRun(const std::vector<std::string>& dirs, const std::string& updater, bool progressLine,
               std::ostream& out, std::ostream& err)
        : m_oldDir(dirs[0]),
          m_newDir(dirs[1]),
          m_outDir(dirs[2]),
          m_host(m_outDir / kHostFolder),
          m_updater(updater),
          m_out(out),
          m_err(err),
          m_progress(err, progressLine) {}

    int Run();

private:
    bool CheckPlaces(Failure* failure);
    bool PairFonts(Failure* failure);
    void ShowProgress(size_t i, const char* what);
    bool ReleasePair(size_t i, Failure* failure);
    bool LoadPair(int row, LoadedPair* pair);
    bool MakePair(size_t i, const LoadedPair& pair, Failure* failure);
    bool MakeStaging(Failure* failure);
    bool MoveIn(Failure* failure);
    void RemoveStaging();

    const std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
    const std::string m_oldDir, m_newDir;
    const fs::path m_outDir, m_host;
    const std::string m_updater;  // empty without --with-updater
    std::ostream& m_out;
    std::ostream& m_err;
    Bytes m_updaterBytes;
    bool m_outExisted = false;
    fs::file_status m_hostStatus;

    std::vector<Anomaly> m_anomalies;
    std::map<int, std::string> m_olds, m_news;  // by catalogue row
    std::vector<int> m_rows;                    // the rows in both folders
    uint64_t m_totalBytes = 0;

    // Everything is written into a staging folder of its own and moved into
    // place only when every difference file was made and checked.
    Staging m_stagingFolder;
    fs::path m_staging;
    bool m_stagingMade = false;

    ProgressLine m_progress;
    std::vector<Failure> m_failures;
    size_t m_released = 0;
    uint64_t m_doneBytes = 0, m_newBytes = 0, m_diffBytes = 0;
    OutDirLock m_outLock;  // held from the last look until the run ends
};

int ReleaseRun::Run() {
    Failure failure;
    if (!CheckPlaces(&failure) || !PairFonts(&failure)) return Fail(m_err, failure);
    for (size_t i = 0; i < m_rows.size(); m_doneBytes += SizeOf(m_news[m_rows[i]]), ++i) {
        if (!ReleasePair(i, &failure)) {
            RemoveStaging();
            return Fail(m_err, failure);
        }
    }
    m_progress.Clear();

    for (const Anomaly& a : m_anomalies) m_err << "patool: " << a.text << "\n";
    if (!m_failures.empty()) {
        RemoveStaging();
        for (const Failure& f : m_failures) m_err << "patool: " << f.message << "\n";
        m_err << "patool: nothing was written to '" << m_outDir.string() << "'\n";
        return m_failures.front().code;
    }
    if (m_released == 0) {
        RemoveStaging();
        m_err << "patool: no font to release; nothing was written to '" << m_outDir.string() << "'\n";
        return m_anomalies.empty() ? kExitUsage : AnomalyExit(m_anomalies);
    }
    if (!MoveIn(&failure)) {
        RemoveStaging();
        return Fail(m_err, failure);
    }
    RemoveStaging();

    m_out << "released " << m_released << " font" << (m_released == 1 ? "" : "s") << " into '" << m_host.string()
          << "': difference files of " << m_diffBytes << " bytes, " << Percent(m_diffBytes, m_newBytes) << " of the "
          << m_newBytes << " bytes of the new fonts" << (m_updater.empty() ? "" : ", with upd.exe beside them") << "; "
          << std::fixed << std::setprecision(1) << SecondsSince(m_started) << " s\n";
    if (!m_anomalies.empty()) {
        m_out << "left out: " << m_anomalies.size() << " font" << (m_anomalies.size() == 1 ? "" : "s")
              << " (see above)\n";
    }
    return AnomalyExit(m_anomalies);
}

// The folders and the updater looked at before any work: what cannot be
// read, or what OUT_DIR holds that is not ours to replace, refuses the run.
bool ReleaseRun::CheckPlaces(Failure* failure) {
    std::error_code ec;
    for (const std::string& dir : {m_oldDir, m_newDir}) {
        if (!fs::is_directory(dir, ec)) {
            *failure = Failure{kExitUnreadable, "'" + dir + "' is not a folder"};
            return false;
        }
    }
    if (!m_updater.empty()) {
        std::string why;
        if (!ReadHost(m_updater, &m_updaterBytes, &why)) {
            *failure = Failure{kExitUnreadable, why};
            return false;
        }
        if (m_updaterBytes.size() < 2 || m_updaterBytes[0] != 'M' || m_updaterBytes[1] != 'Z') {
            *failure = Failure{kExitUsage, "'" + m_updater + "' is not a Windows program"};
            return false;
        }
    }
    // A link that leads nowhere is there all the same: refused as not a
    // folder, never taken for an OUT_DIR to make (and to remove again).
    m_outExisted = fs::exists(fs::symlink_status(m_outDir, ec));
    if (m_outExisted && !fs::is_directory(m_outDir, ec)) {
        *failure = Failure{kExitWriteFailed, "'" + m_outDir.string() + "' is not a folder"};
        return false;
    }
    m_hostStatus = fs::symlink_status(m_host, ec);
    if (fs::exists(m_hostStatus) && (!fs::is_directory(m_hostStatus) || !OnlyDifferenceFiles(m_host))) {
        *failure = Failure{kExitWriteFailed,
                           "'" + m_host.string() + "' holds more than difference files; choose another OUT_DIR"};
        return false;
    }
    const fs::path updaterOut = m_outDir / kUpdaterName;
    if (!m_updater.empty() && fs::exists(fs::symlink_status(updaterOut, ec)) &&
        !fs::is_regular_file(fs::symlink_status(updaterOut, ec))) {
        *failure = Failure{kExitWriteFailed, "'" + updaterOut.string() + "' is not a file"};
        return false;
    }
    return true;
}

// The fonts of the two folders paired by catalogue row; a font in one
// folder only is an anomaly.
bool ReleaseRun::PairFonts(Failure* failure) {
    if (!ListFolder(m_oldDir, "OLD_DIR", &m_olds, &m_anomalies, failure) ||
        !ListFolder(m_newDir, "NEW_DIR", &m_news, &m_anomalies, failure)) {
        return false;
    }
    for (int row = 0; row < kCatalogueFontCount; ++row) {
        const bool inOld = m_olds.count(row) != 0, inNew = m_news.count(row) != 0;
        if (inOld && inNew) {
            m_rows.push_back(row);
        } else if (inOld || inNew) {
            m_anomalies.push_back(Anomaly{kExitOneSideOnly, "'" + (inOld ? m_olds[row] : m_news[row]) +
                                                                "' has no counterpart in " +
                                                                (inOld ? "NEW_DIR" : "OLD_DIR")});
        }
    }
    // Refused before any work when the host folder holds files that no
    // pair could replace; checked again against the files made, at the end.
    if (fs::is_directory(m_hostStatus)) {
        std::vector<std::string> names{kReleaseManifestName};
        for (const int row : m_rows) names.push_back(g_diffFileNames[row]);
        const std::vector<std::string> kept = FilesNotReplaced(m_host, names);
        if (!kept.empty()) {
            *failure = NotReplacedFailure(m_host, kept);
            return false;
        }
    }
    for (const int row : m_rows) m_totalBytes += SizeOf(m_news[row]);
    return true;
}

void ReleaseRun::ShowProgress(size_t i, const char* what) {
    std::ostringstream s;
    s << "[" << (i + 1) << "/" << m_rows.size() << "] " << g_fontFileNames[m_rows[i]] << ": " << what << " ("
      << Megabytes(m_doneBytes) << " of " << Megabytes(m_totalBytes) << ", " << std::fixed << std::setprecision(0)
      << SecondsSince(m_started) << " s)";
    m_progress.Show(s.str());
}

// The pair of row m_rows[i]: left out when a font cannot be loaded or its
// revision did not change, otherwise made and checked.  False only when
// the run cannot go on (*failure says why); a pair that fails is kept in
// m_failures, and the others are still made, for one report of them all.
bool ReleaseRun::ReleasePair(size_t i, Failure* failure) {
    const int row = m_rows[i];
    ShowProgress(i, "loading");
    LoadedPair pair;
    if (!LoadPair(row, &pair)) return true;
    if (pair.oldRevision == pair.newRevision) {
        m_anomalies.push_back(Anomaly{kExitUnchanged, "'" + m_news[row] + "' has the revision of '" + m_olds[row] +
                                                          "', " + RevisionText(pair.newRevision) +
                                                          (pair.oldFont == pair.newFont
                                                               ? " (the same font)"
                                                               : ", but other bytes: raise its revision")});
        return true;
    }
    return MakePair(i, pair, failure);
}

// Reads both fonts and loads them with the engine; false, with an anomaly
// for each that cannot be, when either cannot.
bool ReleaseRun::LoadPair(int row, LoadedPair* pair) {
    bool loadable = true;
    for (const auto& side : {std::make_pair(&m_olds[row], &pair->oldFont), std::make_pair(&m_news[row], &pair->newFont)}) {
        std::string why;
        Failure loadFailure;
        COpenTypeManager m;
        if (!ReadHost(*side.first, side.second, &why)) {
            m_anomalies.push_back(Anomaly{kExitNotAFont, why});
            loadable = false;
        } else if (!LoadWithEngine(m, *side.first, &loadFailure)) {
            m_anomalies.push_back(Anomaly{kExitNotAFont, loadFailure.message});
            loadable = false;
        } else {
            (side.second == &pair->oldFont ? pair->oldRevision : pair->newRevision) = m.ReadFontIdentity().revision;
        }
    }
    return loadable;
}

// Makes the pair's difference file in the staging folder, lists it in the
// staged manifest and checks it as the updater would use it.
bool ReleaseRun::MakePair(size_t i, const LoadedPair& pair, Failure* failure) {
    const int row = m_rows[i];
    const std::string& oldPath = m_olds[row];
    const std::string& newPath = m_news[row];
    ShowProgress(i, "making");
    const auto makeStarted = std::chrono::steady_clock::now();
    std::string error;
    const Bytes diff = paproducer::MakeDifference(pair.oldFont, pair.newFont, &error);
    const double makeSeconds = SecondsSince(makeStarted);
    if (diff.empty()) {
        m_failures.push_back(Failure{kExitCannotPair, "cannot make the difference file of '" + oldPath + "' and '" +
                                                          newPath + "': " + error});
        return true;
    }
    if (!m_stagingMade && !MakeStaging(failure)) return false;
    const std::string paPath = (m_staging / kHostFolder / g_diffFileNames[row]).string();
    if (!WriteHost(paPath, diff)) {
        m_failures.push_back(Failure{kExitWriteFailed, "cannot write '" + paPath + "'"});
        return true;
    }
    // Listed before it is checked, so that the check runs the updater's
    // manifest checks too.
    Failure manifestFailure;
    if (!AddToManifest(paPath, diff, oldPath, pair.newFont, &manifestFailure)) {
        m_failures.push_back(manifestFailure);
        return true;
    }

    ShowProgress(i, "checking");
    const auto checkStarted = std::chrono::steady_clock::now();
    std::string report;
    Failure checkFailure;
    const int checked = CheckDifference(oldPath, paPath, pair.newFont, newPath, &report, &checkFailure);
    if (checked != 0) {
        m_failures.push_back(checked < 0 ? checkFailure : Failure{kExitNoMatch, report});
        return true;
    }
    m_progress.Clear();
    ++m_released;
    m_newBytes += pair.newFont.size();
    m_diffBytes += diff.size();
    m_out << g_fontFileNames[row] << "  " << RevisionText(pair.oldRevision) << " -> "
          << RevisionText(pair.newRevision) << "  " << pair.oldFont.size() << " -> " << pair.newFont.size()
          << " bytes  " << g_diffFileNames[row] << " " << diff.size() << " bytes ("
          << Percent(diff.size(), pair.newFont.size()) << ")  make " << std::fixed << std::setprecision(2)
          << makeSeconds << " s, check " << SecondsSince(checkStarted) << " s\n"
          << std::flush;
    return true;
}

// The staging folder, made with the first difference file to go in it.
bool ReleaseRun::MakeStaging(Failure* failure) {
    m_stagingMade = true;
    std::string why;
    if (!m_stagingFolder.Make(m_outDir, &why)) {
        *failure = Failure{kExitWriteFailed, why};
        return false;
    }
    m_staging = m_stagingFolder.Dir();
    std::error_code ec;
    if (!fs::create_directory(m_staging / kHostFolder, ec)) {
        *failure = Failure{kExitWriteFailed, "cannot make the folder '" + m_staging.string() + "/host'"};
        return false;
    }
    return true;
}

// Another release into the same OUT_DIR may have moved its host/ in since
// the first look, or be about to: the last look and the moves are made
// under a lock on OUT_DIR itself, so that neither run replaces what the
// other has just put there without a word.
bool ReleaseRun::MoveIn(Failure* failure) {
    std::error_code ec;
    fs::create_directories(m_outDir, ec);
    if (!fs::is_directory(m_outDir, ec)) {
        *failure = Failure{kExitWriteFailed, "cannot make the folder '" + m_outDir.string() + "'"};
        return false;
    }
    if (!m_outLock.Take(m_outDir)) {
        *failure = Failure{kExitWriteFailed,
                           "cannot lock '" + m_outDir.string() + "': another release may be writing into it"};
        return false;
    }
    // The host folder's difference files as they are now, against the ones
    // made: the folder may have changed while the fonts were made.
    std::vector<std::string> made;
    for (fs::directory_iterator it(m_staging / kHostFolder, ec), end; !ec && it != end; it.increment(ec)) {
        made.push_back(it->path().filename().string());
    }
    if (fs::exists(fs::symlink_status(m_host, ec))) {
        const std::vector<std::string> kept = FilesNotReplaced(m_host, made);
        if (!fs::is_directory(fs::symlink_status(m_host, ec)) || !OnlyDifferenceFiles(m_host) || !kept.empty()) {
            *failure = kept.empty() ? Failure{kExitWriteFailed, "'" + m_host.string() +
                                                                    "' holds more than difference files; choose "
                                                                    "another OUT_DIR"}
                                    : NotReplacedFailure(m_host, kept);
            return false;
        }
    }
    std::string why;
    const bool written = m_updater.empty() || WriteHost((m_staging / kUpdaterName).string(), m_updaterBytes);
    if (!written || !MoveIntoPlace(m_staging, m_outDir, !m_updater.empty(), &why)) {
        *failure = Failure{kExitWriteFailed,
                           why.empty() ? "cannot write '" + (m_outDir / kUpdaterName).string() + "'" : why};
        return false;
    }
    return true;
}

void ReleaseRun::RemoveStaging() {
    m_stagingFolder.Drop();
    std::error_code ec;
    if (!m_outExisted) fs::remove(m_outDir, ec);  // only when empty
}

}  // namespace

int Release(const std::vector<std::string>& dirs, const std::string& updater, bool progressLine, std::ostream& out,
            std::ostream& err) {
    return ReleaseRun(dirs, updater, progressLine, out, err).Run();
}

}  // namespace internal
}  // namespace patool
