// patool release: the difference files of a whole product line, paired by
// the catalogue's font file names, made, checked and written as the
// customers' package in one go.
#include <unistd.h>

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
    const bool outExisted = fs::exists(outDir, ec);
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
    uint64_t totalBytes = 0;
    auto sizeOf = [](const std::string& path) {
        std::error_code sizeError;
        const uintmax_t n = fs::file_size(path, sizeError);
        return sizeError ? uint64_t{0} : static_cast<uint64_t>(n);
    };
    for (const int row : rows) totalBytes += sizeOf(news[row]);

    // Everything is written into a folder of its own inside OUT_DIR and
    // moved into place only when every difference file was made and checked.
    const fs::path staging = outDir / (".patool-release-" + std::to_string(::getpid()));
    bool stagingMade = false;
    auto removeStaging = [&]() {
        if (stagingMade) fs::remove_all(staging, ec);
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
            if (!fs::create_directories(staging / kHostFolder, ec)) {
                removeStaging();
                return Fail(err, Failure{kExitWriteFailed, "cannot make the folder '" + staging.string() + "'"});
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

    // Into place: the new host folder first, the updater after it; an
    // earlier release's host folder goes only once the new one is in.
    const fs::path oldHost = staging / "host.replaced";
    const bool replacing = fs::exists(host, ec);
    if (replacing) fs::rename(host, oldHost, ec);
    if (!ec) fs::rename(staging / kHostFolder, host, ec);
    if (ec) {
        const std::string message = ec.message();
        if (replacing) fs::rename(oldHost, host, ec);
        removeStaging();
        return Fail(err, Failure{kExitWriteFailed, "cannot move the host folder into '" + outDir.string() + "': " + message});
    }
    if (!updater.empty()) {
        const fs::path staged = staging / kUpdaterName;
        bool moved = WriteHost(staged.string(), updaterBytes);
        if (moved) {
            fs::rename(staged, updaterOut, ec);
            moved = !ec;
        }
        if (!moved) {
            fs::remove_all(host, ec);
            if (replacing) fs::rename(oldHost, host, ec);
            removeStaging();
            return Fail(err, Failure{kExitWriteFailed, "cannot write '" + updaterOut.string() + "'"});
        }
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
