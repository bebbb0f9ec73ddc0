#include "engine/sabuncheck.h"

#include <algorithm>
#include <cstring>

#include "engine/manager.h"

namespace {

// A table's padded extent in the revised font.
struct TableExtent {
    Extent bytes;
    int record;
    bool operator<(const TableExtent& other) const {
        return bytes.from != other.bytes.from ? bytes.from < other.bytes.from : bytes.to < other.bytes.to;
    }
};

}  // namespace

int CheckSabunData(const CMakeSabunData& data, const COpenTypeManager* font, std::vector<SabunFault>* faults) {
    int found = 0;
    // True when the caller wants the check to go on.
    auto fault = [&](SabunFaultKind kind, int record, int other = -1, int block = -1) {
        ++found;
        if (faults) faults->push_back(SabunFault{kind, record, other, block});
        return faults != nullptr;
    };

    const SabunHeader& header = data.Header();
    const uint32_t count = header.tableCount;
    const INT_PTR parsed = data.RecordCount();
    if (font && (count != font->Header().m_numTables || font->TagCount() != count || parsed != count)) {
        if (!fault(kFaultTableCount, -1)) return found;
    }

    const uint64_t directoryEnd = kOffsetTableSize + static_cast<uint64_t>(kTableRecordSize) * count;
    const uint64_t fileLength = header.newFileLength;
    if (fileLength % 4 != 0 && !fault(kFaultFileLengthAlign, -1)) return found;
    if (fileLength < directoryEnd && !fault(kFaultFileLengthShort, -1)) return found;
    if (fileLength > kMaxRevisedFileLength && !fault(kFaultFileLengthLarge, -1)) return found;

    // What the builder makes from nothing and what it copies, in bytes (see
    // the end of the check).
    uint64_t unfilledInTables = 0;
    uint64_t copied = 0;
    std::vector<int> slotOwner(256, -1);
    std::vector<TableExtent> extents;
    extents.reserve(static_cast<size_t>(parsed));
    for (INT_PTR i = 0; i < parsed; ++i) {
        const int r = static_cast<int>(i);
        const CSabunTagObject* record = data.Record(i);
        if (record->m_newIndex >= count) {
            if (!fault(kFaultIndexRange, r)) return found;
        } else if (slotOwner[record->m_newIndex] >= 0) {
            if (!fault(kFaultIndexTwice, r, slotOwner[record->m_newIndex])) return found;
        } else {
            slotOwner[record->m_newIndex] = r;
        }
        for (int k = 0; k < r; ++k) {
            if (std::memcmp(data.Record(k)->m_recordTag, record->m_recordTag, 4) == 0) {
                if (!fault(kFaultTagTwice, r, k)) return found;
                break;
            }
        }

        uint64_t length = record->m_newLength;
        const CTagObject* old = nullptr;
        if (font) {
            old = font->FindTag(record->m_tag);
            if (!old || std::memcmp(old->m_tag, record->m_recordTag, 4) != 0) {
                old = nullptr;
                if (!fault(kFaultTagUnknown, r)) return found;
            } else if (old->m_length != 0 && !old->HasData()) {
                if (!fault(kFaultOldTableMissing, r)) return found;
            }
            // A table taken over keeps its old length whatever the record says.
            if (old && !record->m_hasBlocks) length = old->m_length;
        }

        // Every table starts on a 4-byte boundary after the directory, and
        // its zero padding is as much its own as its bytes are.
        const uint64_t offset = record->m_newOffset;
        if (offset % 4 != 0 && !fault(kFaultOffsetAlign, r)) return found;
        if (offset < directoryEnd && !fault(kFaultOverDirectory, r)) return found;
        if (!InImage(fileLength, offset, RoundUp4(length)) && !fault(kFaultPastFileEnd, r)) return found;
        extents.push_back(TableExtent{Extent{offset, offset + RoundUp4(length)}, r});

        if (record->m_hasBlocks) {
            // Blocks as the builder clips them to the table; the bytes they
            // leave are zeros.
            uint64_t filled = 0;
            for (INT_PTR b = 0; b < record->m_copyBlocks.GetSize(); ++b) {
                const COldTagObject* block = record->CopyBlock(b);
                if (block->m_dstOffset < length) filled += std::min<uint64_t>(block->m_length, length - block->m_dstOffset);
            }
            copied += filled;
            for (INT_PTR b = 0; b < record->m_literalBlocks.GetSize(); ++b) {
                const CNewTagObject* block = record->LiteralBlock(b);
                if (block->m_dstOffset < length) filled += std::min<uint64_t>(block->m_length, length - block->m_dstOffset);
            }
            if (filled < length) unfilledInTables += length - filled;
        }

        if (old) {
            const uint64_t oldPadded = RoundUp4(old->m_length);
            for (INT_PTR b = 0; b < record->m_copyBlocks.GetSize(); ++b) {
                const COldTagObject* block = record->CopyBlock(b);
                if (!InImage(oldPadded, block->m_srcOffset, block->m_length) &&
                    !fault(kFaultCopyOutside, r, -1, static_cast<int>(b))) {
                    return found;
                }
            }
        }
    }
    // Only when the records are all there does a missing slot mean more than
    // a missing record.
    if (parsed == count) {
        for (uint32_t slot = 0; slot < count; ++slot) {
            if (slotOwner[slot] < 0 && !fault(kFaultSlotEmpty, -1, static_cast<int>(slot))) return found;
        }
    }

    std::sort(extents.begin(), extents.end());
    uint64_t reach = 0;
    int reacher = -1;
    for (const TableExtent& e : extents) {
        if (reacher >= 0 && e.bytes.from < reach && !fault(kFaultOverlap, e.record, reacher)) return found;
        if (e.bytes.to > reach || reacher < 0) {
            reach = e.bytes.to;
            reacher = e.record;
        }
    }
    // Bytes that no table holds (gaps between tables, and after the last)
    // and bytes of a table that no block fills are zeros.  A few are
    // harmless (a table that shrank, a run of zeros the producer left out),
    // but a damaged length or offset field would have the builder make,
    // write and install a font of up to 2 GB: no more of them than the
    // installed font's own length are accepted.
    uint64_t held = directoryEnd;
    for (const TableExtent& e : extents) held += e.bytes.to - e.bytes.from;
    const uint64_t fontLength = font ? static_cast<uint64_t>(font->ImageLength()) : 0;
    if (font && found == 0 && (fileLength > held ? fileLength - held : 0) + unfilledInTables > fontLength &&
        !fault(kFaultUnfilled, -1)) {
        return found;
    }
    // Copy blocks cost 12 bytes each and may each take a whole old table:
    // copied again and again, over one place or side by side, they would
    // make the builder's work and the new font grow with their number.  A
    // revision copies each old byte about once.
    if (font && found == 0 && copied > 2 * fontLength && !fault(kFaultCopiedTooMuch, -1)) return found;
    return found;
}
