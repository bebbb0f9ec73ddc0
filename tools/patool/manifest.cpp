// The release manifest in patool: written by make and release beside the
// difference files, checked by apply, check and show as the updater checks
// it, and a whole host folder checked by verify.  The format, the digests
// and the checks are the engine's own (engine/manifest.h, engine/release.h);
// nothing here computes a digest another way.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "engine/manager.h"
#include "engine/manifest.h"
#include "engine/release.h"
#include "tools/patool/internal.h"
#include "tools/patool/patool.h"

namespace patool {
namespace internal {

namespace fs = std::filesystem;

namespace {

std::string ManifestOf(const std::string& folderHost) { return (fs::path(folderHost) / kReleaseManifestName).string(); }

std::string FolderOf(const std::string& fileHost) {
    const fs::path parent = fs::path(fileHost).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

std::string FileNameOf(const std::string& fileHost) { return fs::path(fileHost).filename().string(); }

bool Digest(const Bytes& bytes, BYTE out[kDigestSize]) { return Sha256Of(bytes.data(), bytes.size(), out); }

}  // namespace

bool ReleaseLines(const std::string& oldHost, const Bytes& pa, const Bytes& newFont, const std::string& paName,
                  std::vector<ReleaseManifestLine>* lines, Failure* failure) {
    COpenTypeManager old;
    if (!LoadWithEngine(old, oldHost, failure)) return false;
    if (!ReleaseLinesOf(old, pa.data(), static_cast<uint32_t>(pa.size()), newFont.data(), newFont.size(), paName,
                        lines)) {
        *failure = Failure{kExitBuildFailed, "the difference file '" + paName + "' does not fit '" + oldHost +
                                                 "', or its digests cannot be computed"};
        return false;
    }
    return true;
}

bool PutInManifest(const std::string& folderHost, const std::vector<ReleaseManifestLine>& lines, Failure* failure) {
    const std::string path = ManifestOf(folderHost);
    std::vector<ReleaseManifestLine> kept;
    std::error_code ec;
    if (fs::exists(path, ec)) {
        Bytes text;
        std::string why;
        if (!ReadHost(path, &text, &why)) {
            *failure = Failure{kExitUnreadable, why};
            return false;
        }
        // The other files' lines are kept as they are; a manifest that cannot
        // be read is not silently replaced, for its lines would be lost.
        if (!ParseReleaseManifest(text.data(), text.size(), &kept)) {
            *failure = Failure{kExitNotReleased, "'" + path + "' is not a release manifest: remove it, or mend it"};
            return false;
        }
    }
    kept.erase(std::remove_if(kept.begin(), kept.end(),
                              [&](const ReleaseManifestLine& line) {
                                  return std::any_of(lines.begin(), lines.end(), [&](const ReleaseManifestLine& l) {
                                      return l.fileName == line.fileName;
                                  });
                              }),
               kept.end());
    kept.insert(kept.end(), lines.begin(), lines.end());
    const std::string text = FormatReleaseManifest(kept);
    if (text.empty()) {
        *failure = Failure{kExitWriteFailed, "the digest of '" + path + "' cannot be computed"};
        return false;
    }
    if (!WriteHost(path, Bytes(text.begin(), text.end()))) {
        *failure = Failure{kExitWriteFailed, "cannot write '" + path + "'"};
        return false;
    }
    return true;
}

bool AddToManifest(const std::string& paHost, const Bytes& pa, const std::string& oldHost, const Bytes& newFont,
                   Failure* failure) {
    std::vector<ReleaseManifestLine> lines;
    return ReleaseLines(oldHost, pa, newFont, FileNameOf(paHost), &lines, failure) &&
           PutInManifest(FolderOf(paHost), lines, failure);
}

int ManifestVerdict(const std::string& paHost, const Bytes& pa, std::string* report) {
    const ReleaseDigests release = ReadReleaseDigests(EnginePath(paHost).c_str());
    const std::string manifest = ManifestOf(FolderOf(paHost));
    switch (release.state) {
    case ReleaseDigests::kUnlisted: {
        std::error_code ec;
        *report = fs::exists(manifest, ec) ? "not listed in '" + manifest + "': the updater revises with it unchecked"
                                           : "no release manifest beside it: the updater revises with it unchecked";
        return kExitOk;
    }
    case ReleaseDigests::kRefused:
        *report = "'" + manifest + "' cannot be used (unreadable, malformed, or without all three lines of '" +
                  FileNameOf(paHost) + "'): the updater refuses the file";
        return kExitNotReleased;
    case ReleaseDigests::kListed: break;
    }
    BYTE digest[kDigestSize];
    if (!Digest(pa, digest)) {
        *report = "its digest cannot be computed";
        return kExitNotReleased;
    }
    if (std::memcmp(digest, release.file, kDigestSize) != 0) {
        *report = "its SHA-256 is " + DigestHex(digest) + ", the release manifest's " + DigestHex(release.file) +
                  ": it is not the file released (damaged?), and the updater refuses it";
        return kExitNotReleased;
    }
    *report = "listed in '" + manifest + "', and its digest matches";
    return kExitOk;
}

Failure FailureOfResult(int result, const std::string& fontHost, const std::string& paHost) {
    switch (result) {
    case kReviseDiffNotReleased:
        return Failure{kExitNotReleased, "'" + paHost + "' is not the difference file its release manifest names"};
    case kReviseFontNotReleased:
        return Failure{kExitFontNotReleased, "'" + fontHost + "' is not the font '" + paHost +
                                                 "' was made from (the bytes it takes differ)"};
    case kReviseResultNotReleased:
        return Failure{kExitResultNotReleased, "the font built from '" + fontHost + "' and '" + paHost +
                                                   "' is not the one released"};
    default:
        return Failure{kExitBuildFailed,
                       "the updater's engine cannot build the font (result " + std::to_string(result) + ")"};
    }
}

int Verify(const std::vector<std::string>& a, std::ostream& out, std::ostream& err) {
    const std::string& host = a[0];
    std::error_code ec;
    if (!fs::is_directory(host, ec)) return Fail(err, Failure{kExitUnreadable, "'" + host + "' is not a folder"});
    int code = kExitOk;
    auto worst = [&](int c) {
        if (code == kExitOk) code = c;
    };
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(host, ec)) {
        if (entry.path().extension() == ".pa") files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    const std::string manifest = ManifestOf(host);
    if (!fs::exists(manifest, ec)) out << "no release manifest in '" << host << "'\n";
    for (const std::string& file : files) {
        Bytes pa;
        std::string why, report;
        if (!ReadHost(file, &pa, &why)) {
            out << file << ": " << why << "\n";
            worst(kExitUnreadable);
            continue;
        }
        const int verdict = ManifestVerdict(file, pa, &report);
        out << file << ": " << report << "\n";
        if (verdict != kExitOk) worst(verdict);
    }
    // Each font named is tried with every file of the folder that is for
    // it, as the updater would revise it; nothing is written but a
    // temporary file.
    for (size_t i = 1; i < a.size(); ++i) {
        const std::string& font = a[i];
        COpenTypeManager m;
        Failure failure;
        if (!LoadWithEngine(m, font, &failure)) {
            out << font << ": " << failure.message << "\n";
            worst(failure.code);
            continue;
        }
        bool paired = false;
        for (const std::string& file : files) {
            Bytes pa;
            std::string why;
            CMakeSabunData data;
            if (!ReadHost(file, &pa, &why) || !data.ReadBytes(pa.data(), static_cast<uint32_t>(pa.size()))) continue;
            DiffFileRecord entry;
            std::memset(&entry, 0, sizeof entry);
            std::memcpy(entry.fontName, data.Header().fontName, sizeof data.Header().fontName);
            entry.fromRevision = static_cast<int>(data.Header().fromRevision);
            if (!m.LoadedFontIsTarget(entry)) continue;
            paired = true;
            const std::string temp =
                (fs::temp_directory_path(ec) / ("patool-verify-" + std::to_string(::getpid()) + ".otf")).string();
            Failure built;
            const bool ok = BuildRevision(font, file, temp, &built);
            std::remove(temp.c_str());
            if (ok) {
                out << font << ": '" << FileNameOf(file) << "' revises it to the release\n";
            } else {
                out << font << ": with '" << FileNameOf(file) << "': " << built.message << "\n";
                worst(built.code);
            }
        }
        if (!paired) {
            out << font << ": no file in '" << host << "' is for this font and revision\n";
            worst(kExitDoesNotFit);
        }
    }
    return code;
}

}  // namespace internal
}  // namespace patool
