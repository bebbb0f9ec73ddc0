// A difference file read for inspection, and its faults put in words.
#include "tools/patool/inspect.h"

#include <cstdio>
#include <cstring>

#include "engine/manager.h"
#include "tools/patool/patool.h"

namespace patool {
namespace internal {

void Inspect(const Bytes& file, Inspected* in) {
    CMakeSabunData& d = in->data;
    std::vector<SabunReadFault> faults;
    d.ReadBytes(file.data(), static_cast<uint32_t>(file.size()), &faults);
    in->headerComplete = file.size() >= kSabunHeaderSize;
    for (const SabunReadFault& f : faults) {
        const CSabunTagObject* record = f.record >= 0 ? d.Record(f.record) : nullptr;
        const std::string which =
            record ? "record " + std::to_string(f.record) + " (" + Quoted(record->m_recordTag) + ")" : std::string();
        switch (f.kind) {
        case kReadHeaderCut:
            in->faults.push_back(ParseFault{"header-cut", "the file ends inside the " +
                                                              std::to_string(kSabunHeaderSize) + "-byte header (" +
                                                              std::to_string(file.size()) + " bytes)"});
            break;
        case kReadRecordsCut:
            in->faults.push_back(ParseFault{"records-cut", "the " + std::to_string(d.Header().tableCount) +
                                                               " table records run past the end of the file"});
            break;
        case kReadListOffset:
            in->faults.push_back(ParseFault{"list-offset", which + ": its block list offset " +
                                                               std::to_string(record->m_dataOffset) +
                                                               " is not inside the file"});
            break;
        case kReadListCut:
            in->faults.push_back(ParseFault{
                "list-cut", which + ": its block list runs past the end of the file (after " +
                                std::to_string(record->m_copyBlocks.GetSize()) + " copy and " +
                                std::to_string(record->m_literalBlocks.GetSize()) + " literal blocks)"});
            break;
        case kReadListsShared:
            in->faults.push_back(ParseFault{"lists-shared", which + ": with its block list, the lists read take "
                                                                    "more bytes than the file holds (records share "
                                                                    "one list)"});
            break;
        }
    }
}

const char* RuleName(SabunFaultKind kind) {
    switch (kind) {
    case kFaultTableCount: return "table-count";
    case kFaultFileLengthAlign: return "file-length-align";
    case kFaultFileLengthShort: return "file-length-short";
    case kFaultFileLengthLarge: return "file-length-large";
    case kFaultIndexRange: return "slot-range";
    case kFaultIndexTwice: return "slot-twice";
    case kFaultSlotEmpty: return "slot-empty";
    case kFaultTagTwice: return "tag-twice";
    case kFaultTagUnknown: return "tag-unknown";
    case kFaultOldTableMissing: return "old-table-missing";
    case kFaultOffsetAlign: return "offset-align";
    case kFaultOverDirectory: return "over-directory";
    case kFaultPastFileEnd: return "past-end";
    case kFaultOverlap: return "overlap";
    case kFaultCopyOutside: return "copy-outside";
    case kFaultUnfilled: return "unfilled-bytes";
    case kFaultCopiedTooMuch: return "copied-too-much";
    }
    return "unknown";
}

bool AboutTheFont(SabunFaultKind kind) {
    return kind == kFaultTableCount || kind == kFaultTagUnknown || kind == kFaultOldTableMissing ||
           kind == kFaultCopyOutside;
}

std::string FaultText(const SabunFault& f, const CMakeSabunData& d, const COpenTypeManager* font) {
    auto name = [&](int r) {
        return "record " + std::to_string(r) + " (" + Quoted(d.Record(r)->m_recordTag) + ")";
    };
    const SabunHeader& h = d.Header();
    switch (f.kind) {
    case kFaultTableCount:
        return "the file has " + std::to_string(h.tableCount) + " table records (" +
               std::to_string(d.RecordCount()) + " readable), the font has " +
               std::to_string(font ? font->Header().m_numTables : 0) + " tables";
    case kFaultFileLengthAlign:
        return "newFileLength " + std::to_string(h.newFileLength) + " is not a multiple of 4";
    case kFaultFileLengthShort:
        return "newFileLength " + std::to_string(h.newFileLength) + " does not hold the offset table and a " +
               std::to_string(h.tableCount) + "-record directory";
    case kFaultFileLengthLarge:
        return "newFileLength " + std::to_string(h.newFileLength) + " is larger than any font the updater builds";
    case kFaultIndexRange:
        return name(f.record) + ": directory slot " + std::to_string(d.Record(f.record)->m_newIndex) +
               " is not below the table count " + std::to_string(h.tableCount);
    case kFaultIndexTwice:
        return name(f.record) + ": directory slot " + std::to_string(d.Record(f.record)->m_newIndex) +
               " is already taken by " + name(f.other);
    case kFaultSlotEmpty: return "no record takes directory slot " + std::to_string(f.other);
    case kFaultTagTwice: return name(f.record) + ": the tag is already used by " + name(f.other);
    case kFaultTagUnknown: return name(f.record) + ": the font has no table of this tag";
    case kFaultOldTableMissing: return name(f.record) + ": the font's table lies outside its file";
    case kFaultOffsetAlign:
        return name(f.record) + ": newOffset " + std::to_string(d.Record(f.record)->m_newOffset) +
               " is not a multiple of 4";
    case kFaultOverDirectory:
        return name(f.record) + ": newOffset " + std::to_string(d.Record(f.record)->m_newOffset) +
               " lies inside the offset table and directory (" +
               std::to_string(kOffsetTableSize + kTableRecordSize * h.tableCount) + " bytes)";
    case kFaultPastFileEnd:
        return name(f.record) + ": the table (offset " + std::to_string(d.Record(f.record)->m_newOffset) +
               ", padded) reaches past newFileLength " + std::to_string(h.newFileLength);
    case kFaultOverlap: return name(f.record) + ": the table overlaps that of " + name(f.other);
    case kFaultCopyOutside: {
        const COldTagObject* b = d.Record(f.record)->CopyBlock(f.block);
        return name(f.record) + ": copy block " + std::to_string(f.block) + " (source " +
               std::to_string(b->m_srcOffset) + ", " + std::to_string(b->m_length) +
               " bytes) reads outside the font's table";
    }
    case kFaultUnfilled:
        return "newFileLength " + std::to_string(h.newFileLength) +
               " leaves more bytes to no table or block than the whole font is long";
    case kFaultCopiedTooMuch: return "the copy blocks take more than twice the font's length from it";
    }
    return "unknown fault";
}

std::string IdentityText(const COpenTypeManager& m) {
    const FontIdentity identity = m.ReadFontIdentity();
    return "\"" + std::string(identity.name) + "\"" +
           (identity.hasHead ? " revision " + RevisionText(identity.revision) : std::string(" without a head table"));
}

std::string HeaderName(const SabunHeader& h) {
    char name[33] = {};
    std::memcpy(name, h.fontName, 32);
    return name;
}

DiffFileRecord EntryOf(const SabunHeader& h) {
    DiffFileRecord entry = {};
    std::memcpy(entry.fontName, h.fontName, 32);
    entry.fromRevision = static_cast<int>(h.fromRevision);
    return entry;
}

}  // namespace internal
}  // namespace patool
