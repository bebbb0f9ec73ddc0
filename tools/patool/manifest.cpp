// The release manifest in patool: written by make and release beside the
// difference files, checked by apply, check, show and verify as the updater
// checks it.  The format, the digests
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

std::string ManifestOf(const std::string& folderHost) { return (fs::path(folderHost) / kReleaseManifestName).string(); }

std::string FileNameOf(const std::string& fileHost) { return fs::path(fileHost).filename().string(); }

namespace {

std::string FolderOf(const std::string& fileHost) {
    const fs::path parent = fs::path(fileHost).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

bool Digest(const Bytes& bytes, BYTE out[kDigestSize]) { return Sha256Of(bytes.data(), bytes.size(), out); }

}  // namespace

bool ReleaseLines(const std::string& oldHost, const Bytes& pa, const Bytes& newFont, const std::string& paName,
                  std::vector<ReleaseManifestLine>* lines, Failure* failure) {
    COpenTypeManager old;
    if (!LoadWithEngine(old, oldHost, failure)) return false;
    if (!ReleaseLinesOf(old.Loaded(), pa.data(), static_cast<uint32_t>(pa.size()), newFont.data(), newFont.size(), paName,
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

}  // namespace internal
}  // namespace patool
