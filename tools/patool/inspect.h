// A difference file read for inspection, as far as it goes, and every fault
// of it put in words; shared by show and by the check made before a build.
// Not for use outside patool.
#pragma once

#include <string>
#include <vector>

#include "engine/sabuncheck.h"
#include "tools/patool/internal.h"

namespace patool {
namespace internal {

// A problem of the file's structure, found while it is parsed.
struct ParseFault {
    std::string rule;
    std::string text;
};

// The file parsed as far as it goes: every record that lies inside the file,
// every block that does, each fault of its structure named.
struct Inspected {
    CMakeSabunData data;
    std::vector<ParseFault> faults;
    bool headerComplete = false;
};

void Inspect(const Bytes& file, Inspected* in);
// The rule's short name, as show prints it in brackets.
const char* RuleName(SabunFaultKind kind);
// Rules that only the installed font can break: the file is sound, but not
// for this font.
bool AboutTheFont(SabunFaultKind kind);
std::string FaultText(const SabunFault& f, const CMakeSabunData& d, const COpenTypeManager* font);
// What the font says it is, for a message: its fifth name string and its
// head.fontRevision, or that it has no head table.
std::string IdentityText(const COpenTypeManager& m);
// The header's font name, up to its first zero.
std::string HeaderName(const SabunHeader& h);
// The difference file as the folder scan lists it: the font and revision
// the updater revises with it.
DiffFileRecord EntryOf(const SabunHeader& h);

}  // namespace internal
}  // namespace patool
