// What the commands of patool share: host files, the updater's engine on
// them, and the check of a difference file; and the commands themselves,
// one file each.  Not for use outside patool and its tests.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

class COpenTypeManager;
struct ReleaseManifestLine;

namespace patool {
namespace internal {

using Bytes = std::vector<uint8_t>;

struct Failure {
    int code;
    std::string message;
};

// Prints the failure as patool's error line and returns its code.
int Fail(std::ostream& err, const Failure& f);

// A big-endian field of a host file's bytes, through the engine's own
// reader; the caller has checked that it is there.
uint32_t U32At(const Bytes& b, size_t at);
// A table tag for a message, quoted, its unprintable bytes escaped.
std::string Quoted(const uint8_t* tag);

// Whether the host file at path can be opened for reading; *why says why not,
// in ReadHost's words.
bool CanRead(const std::string& path, std::string* why);
bool ReadHost(const std::string& path, Bytes* bytes, std::string* why);
// Writes beside the target and renames, so that no half file is left under
// the target's name.
bool WriteHost(const std::string& path, const Bytes& bytes);
bool IsCffFont(const Bytes& font);
// Whether a and b both exist and are one file.
bool SameFile(const std::string& a, const std::string& b);
// The first bytes of a host file, enough to tell a CFF font by.
Bytes FirstBytes(const std::string& path);

// Loads a host font with the engine, as the updater does before revising it.
bool LoadWithEngine(COpenTypeManager& m, const std::string& hostPath, Failure* failure);
// A 16.16 revision as a font maker writes it: 0x0001028F is 1.010.
std::string RevisionText(uint32_t raw);

// Whether the difference file turns OLD into the expected NEW, and copies of
// OLD with longer and shorter serial strings too: 0 (yes), 1 (no; *report
// says where) or -1 (*failure says what could not be done).
int CheckDifference(const std::string& oldPath, const std::string& paPath, const Bytes& expected,
                    const std::string& newName, std::string* report, Failure* failure);

// The path under which the engine reaches a host file.
std::string EnginePath(const std::string& hostPath);

// A copy of font as another customer would have it: the same font, with
// serial strings (name ID 13) `units` characters longer, or shorter when
// units is negative; false when there is none to change (serials.cpp).
bool WithOtherSerials(const Bytes& font, int units, Bytes* copy);

// Builds the revised font into builtHost the way the updater's driver does,
// the release manifest beside the difference file checked as it checks it.
bool BuildRevision(const std::string& fontHost, const std::string& paHost, const std::string& builtHost,
                   Failure* failure);

// The release manifest (manifest.cpp).
// The manifest's path in a host folder.
std::string ManifestOf(const std::string& folderHost);
// The last part of a host path.
std::string FileNameOf(const std::string& fileHost);
// The three lines of the difference file pa, named paName, made from the
// font at oldHost to newFont.
bool ReleaseLines(const std::string& oldHost, const Bytes& pa, const Bytes& newFont, const std::string& paName,
                  std::vector<ReleaseManifestLine>* lines, Failure* failure);
// Adds lines to the manifest of the host folder, replacing the lines of
// the files they name; a manifest there that cannot be read is refused.
bool PutInManifest(const std::string& folderHost, const std::vector<ReleaseManifestLine>& lines, Failure* failure);
// ReleaseLines and PutInManifest for the difference file written at paHost.
bool AddToManifest(const std::string& paHost, const Bytes& pa, const std::string& oldHost, const Bytes& newFont,
                   Failure* failure);
// What the manifest beside paHost says of its bytes pa: kExitOk (listed
// and matching, or not listed) or kExitNotReleased; *report says which.
int ManifestVerdict(const std::string& paHost, const Bytes& pa, std::string* report);
// The failure of a build that the engine refused with result.
Failure FailureOfResult(int result, const std::string& fontHost, const std::string& paHost);

// The commands, each in a file of its name, given the arguments that are
// not options.
int Make(const std::vector<std::string>& a, std::ostream& out, std::ostream& err);
// fontPath is null without --font.
int Show(const std::string& paPath, const std::string* fontPath, std::ostream& out, std::ostream& err);
int Apply(const std::vector<std::string>& a, std::ostream& out, std::ostream& err);
int Check(const std::vector<std::string>& a, std::ostream& out, std::ostream& err);
// patool verify HOST_DIR [FONT...].
int Verify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// patool release OLD_DIR NEW_DIR OUT_DIR, with the updater to copy beside
// host/ (or empty); progressLine asks for a line on err that is rewritten
// while the release is made.
int Release(const std::vector<std::string>& dirs, const std::string& updater, bool progressLine, std::ostream& out,
            std::ostream& err);

}  // namespace internal
}  // namespace patool
