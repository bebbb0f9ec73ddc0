// What the commands of patool share: host files, the updater's engine on
// them, and the check of a difference file.  Not for use outside patool.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

class COpenTypeManager;

namespace patool {
namespace internal {

using Bytes = std::vector<uint8_t>;

struct Failure {
    int code;
    std::string message;
};

// Prints the failure as patool's error line and returns its code.
int Fail(std::ostream& err, const Failure& f);

bool ReadHost(const std::string& path, Bytes* bytes, std::string* why);
// Writes beside the target and renames, so that no half file is left under
// the target's name.
bool WriteHost(const std::string& path, const Bytes& bytes);
bool IsCffFont(const Bytes& font);

// Loads a host font with the engine, as the updater does before revising it.
bool LoadWithEngine(COpenTypeManager& m, const std::string& hostPath, Failure* failure);
// A 16.16 revision as a font maker writes it: 0x0001028F is 1.010.
std::string RevisionText(uint32_t raw);

// Whether the difference file turns OLD into the expected NEW, and copies of
// OLD with longer and shorter serial strings too: 0 (yes), 1 (no; *report
// says where) or -1 (*failure says what could not be done).
int CheckDifference(const std::string& oldPath, const std::string& paPath, const Bytes& expected,
                    const std::string& newName, std::string* report, Failure* failure);

// patool release OLD_DIR NEW_DIR OUT_DIR, with the updater to copy beside
// host/ (or empty); progressLine asks for a line on err that is rewritten
// while the release is made.
int Release(const std::vector<std::string>& dirs, const std::string& updater, bool progressLine, std::ostream& out,
            std::ostream& err);

}  // namespace internal
}  // namespace patool
