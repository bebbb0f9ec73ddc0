// Difference-file producer: from a font as installed and its revised
// release, the .pa file that turns the one into the other.
//
// Both fonts must be CFF OpenType with the same set of tables.  The file
// carries, for every table of the revised font in its directory order, the
// table's slot, rank, offset and length in the revised file; a table whose
// bytes did not change is marked as taken over (dataOffset 0), every other
// one gets copy blocks for the runs it shares with the old table and literal
// blocks for the rest.  The name table is the exception: it is always written
// as literals, never taken from the old font, because customers' copies
// differ in its serial strings (name ID 13) and so in its layout.  The
// header names the old font (its fifth name record, up to 32 bytes) and its
// head.fontRevision.
//
// The producer reads and writes the font and difference-file layouts with
// its own code, not the engine's records and readers, on purpose: it makes
// the files the engine is tested on, and a fault in a layout the two shared
// would be written by one and read back by the other without a test noticing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace paproducer {

struct DifferenceStats {
    size_t changedTables = 0;
    size_t copyBlocks = 0;
    size_t literalBlocks = 0;
    uint64_t copiedBytes = 0;
    uint64_t literalBytes = 0;
};

// The difference file, or an empty vector with the reason in *error.
std::vector<uint8_t> MakeDifference(const std::vector<uint8_t>& oldFont, const std::vector<uint8_t>& newFont,
                                    std::string* error, DifferenceStats* stats = nullptr);

}  // namespace paproducer
