// Whether a difference file turns an old font into the new one, apart from
// what the updater fills in itself, for the copy it was made from and for
// copies with other serial strings.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "engine/fontview.h"
#include "engine/release.h"
#include "tools/patool/internal.h"
#include "tools/patool/patool.h"

namespace patool {
namespace internal {

namespace fs = std::filesystem;

namespace {

// Marks the bytes of a font that the updater fills in itself, as the
// engine decides them for the release manifest's digests.
std::vector<bool> FilledInBytes(const Bytes& font) {
    std::vector<bool> mask(font.size(), false);
    std::vector<Extent> ranges;
    FilledInRanges(font.data(), font.size(), &ranges);
    for (const Extent& e : ranges) std::fill(mask.begin() + static_cast<long>(e.from), mask.begin() + static_cast<long>(e.to), true);
    return mask;
}

// Where byte `at` of a font lies, for a message: the first table that
// holds it, in directory order.
std::string Where(const Bytes& font, size_t at) {
    if (at < kOffsetTableSize) return "offset table";
    const DirectoryView directory(font.data(), font.size());
    if (at - kOffsetTableSize < static_cast<uint64_t>(kTableRecordSize) * directory.DeclaredCount()) {
        return "directory record " + std::to_string((at - kOffsetTableSize) / kTableRecordSize);
    }
    for (const TableEntry& table : directory) {
        const TableRecord& t = table.record;
        if (at >= t.offset && at - t.offset < t.length) {
            return "table " + Quoted(t.tag) + " at +" + std::to_string(at - t.offset);
        }
    }
    return "padding";
}

// Whether built equals expected apart from what the updater fills in; when
// not, *how says where they part.
bool SameApartFromFilledIn(const Bytes& built, const Bytes& expected, std::string* how) {
    const std::vector<bool> maskBuilt = FilledInBytes(built), maskExpected = FilledInBytes(expected);
    const size_t common = std::min(built.size(), expected.size());
    size_t differing = 0, first = common;
    for (size_t i = 0; i < common; ++i) {
        if (built[i] != expected[i] && !maskBuilt[i] && !maskExpected[i]) {
            if (differing++ == 0) first = i;
        }
    }
    if (built.size() == expected.size() && differing == 0) return true;
    how->clear();
    if (built.size() != expected.size()) {
        *how += " the built font has " + std::to_string(built.size()) + " bytes, NEW " +
                std::to_string(expected.size()) + ";";
    }
    if (differing != 0) {
        *how += " " + std::to_string(differing) + " bytes differ, the first at " + std::to_string(first) + " (" +
                Where(expected, first) + " of NEW)";
    }
    return false;
}

// Builds from fontHost with the difference file and compares the result with
// expected: 0 when they agree, 1 when they do not (*how says where), -1 when
// nothing was built (*failure says why).
int BuildAndCompare(const std::string& fontHost, const std::string& paHost, const Bytes& expected, std::string* how,
                    Failure* failure) {
    static int serial = 0;
    std::error_code ec;
    const std::string temp = (fs::temp_directory_path(ec) / ("patool-check-" + std::to_string(::getpid()) + "-" +
                                                             std::to_string(++serial) + ".otf"))
                                 .string();
    if (!BuildRevision(fontHost, paHost, temp, failure)) {
        std::remove(temp.c_str());
        return -1;
    }
    Bytes built;
    std::string why;
    const bool read = ReadHost(temp, &built, &why);
    std::remove(temp.c_str());
    if (!read) {
        *failure = Failure{kExitWriteFailed, why};
        return -1;
    }
    return SameApartFromFilledIn(built, expected, how) ? 0 : 1;
}

}  // namespace

// Whether the difference file turns OLD into NEW, and copies of OLD whose
// serial strings are longer and shorter as well: customers' copies differ
// there, and a file that takes anything from the old name table by its
// position gives them garbage names.  0 when it does (*report says so); 1
// when it does not (*report says where); -1 when OLD, the file or a
// temporary file cannot be used (*failure says why).
int CheckDifference(const std::string& oldPath, const std::string& paPath, const Bytes& expected,
                    const std::string& newName, std::string* report, Failure* failure) {
    std::string how;
    int r = BuildAndCompare(oldPath, paPath, expected, &how, failure);
    if (r < 0) return r;
    if (r > 0) {
        *report = "'" + paPath + "' does not turn '" + oldPath + "' into '" + newName + "':" + how;
        return 1;
    }
    Bytes old;
    std::string why;
    if (!ReadHost(oldPath, &old, &why)) {
        *failure = Failure{kExitUnreadable, why};
        return -1;
    }
    int variants = 0;
    for (const int units : {+19, -7}) {
        Bytes copy;
        if (!WithOtherSerials(old, units, &copy)) continue;
        ++variants;
        const char* which = units > 0 ? "longer" : "shorter";
        std::error_code ec;
        const std::string copyPath = (fs::temp_directory_path(ec) / ("patool-copy-" + std::to_string(::getpid()) +
                                                                     "-" + which + ".otf"))
                                         .string();
        if (!WriteHost(copyPath, copy)) {
            *failure = Failure{kExitWriteFailed, "cannot write '" + copyPath + "'"};
            return -1;
        }
        Failure built;
        r = BuildAndCompare(copyPath, paPath, expected, &how, &built);
        std::remove(copyPath.c_str());
        const std::string what = "'" + paPath + "' does not turn a copy of '" + oldPath + "' with " + which +
                                 " serial strings into '" + newName + "':";
        if (r < 0 && (built.code == kExitWriteFailed || built.code == kExitUnreadable)) {
            *failure = built;
            return -1;
        }
        if (r != 0) {
            *report = what + (r < 0 ? " " + built.message : how);
            return 1;
        }
    }
    *report = "'" + paPath + "' turns '" + oldPath + "' into '" + newName + "' (name ID 13 strings and checksums aside)" +
              (variants == 2   ? ", also from copies of it with longer and shorter serial strings"
               : variants == 1 ? ", also from a copy of it with longer serial strings"
                               : "; it has no serial strings to vary");
    return 0;
}

}  // namespace internal
}  // namespace patool
