#include "engine/sabuncheck.h"

#include <algorithm>
#include <cstring>

namespace {

// A table's padded extent in the revised font.
struct TableExtent {
    Extent bytes;
    int record;
    bool operator<(const TableExtent& other) const {
        return bytes.from != other.bytes.from ? bytes.from < other.bytes.from : bytes.to < other.bytes.to;
    }
};

// One check of a difference file: the rules in the order they are checked,
// each fault counted and, when a list is kept, added to it.  Each step
// answers false when the check is to stop there.
class SabunChecker {
public:
    SabunChecker(const CMakeSabunData& data, const LoadedFont* font, std::vector<SabunFault>* faults)
        : m_data(data), m_font(font), m_faults(faults), m_count(data.Header().tableCount),
          m_fileLength(data.Header().newFileLength),
          m_directoryEnd(kOffsetTableSize + static_cast<uint64_t>(kTableRecordSize) * m_count) {}

    int Run() {
        if (CheckHeader() && CheckRecords() && CheckSlots() && CheckOverlaps()) CheckTotals();
        return m_found;
    }

private:
    // True when the caller wants the check to go on.
    bool Fault(SabunFaultKind kind, int record, int other = -1, int block = -1) {
        ++m_found;
        if (m_faults) m_faults->push_back(SabunFault{kind, record, other, block});
        return m_faults != nullptr;
    }

    bool CheckHeader() {
        const INT_PTR parsed = m_data.RecordCount();
        if (m_font && (m_count != m_font->header->m_numTables || m_font->TagCount() != m_count || parsed != m_count)) {
            if (!Fault(kFaultTableCount, -1)) return false;
        }
        if (m_fileLength % 4 != 0 && !Fault(kFaultFileLengthAlign, -1)) return false;
        if (m_fileLength < m_directoryEnd && !Fault(kFaultFileLengthShort, -1)) return false;
        if (m_fileLength > kMaxRevisedFileLength && !Fault(kFaultFileLengthLarge, -1)) return false;
        return true;
    }

    bool CheckRecords() {
        m_extents.reserve(static_cast<size_t>(m_data.RecordCount()));
        for (INT_PTR i = 0; i < m_data.RecordCount(); ++i) {
            if (!CheckRecord(static_cast<int>(i), *m_data.Record(i))) return false;
        }
        return true;
    }

    bool CheckRecord(int r, const CSabunTagObject& record) {
        if (record.m_newIndex >= m_count) {
            if (!Fault(kFaultIndexRange, r)) return false;
        } else if (m_slotOwner[record.m_newIndex] >= 0) {
            if (!Fault(kFaultIndexTwice, r, m_slotOwner[record.m_newIndex])) return false;
        } else {
            m_slotOwner[record.m_newIndex] = r;
        }
        for (int k = 0; k < r; ++k) {
            if (std::memcmp(m_data.Record(k)->m_recordTag, record.m_recordTag, 4) == 0) {
                if (!Fault(kFaultTagTwice, r, k)) return false;
                break;
            }
        }
        const CTagObject* old = nullptr;
        if (m_font && !FindOld(r, record, &old)) return false;
        // A table taken over keeps its old length whatever the record says.
        const uint64_t length = old && !record.m_hasBlocks ? old->m_length : record.m_newLength;
        return CheckPlace(r, record, length) && (!old || CheckCopies(r, record, *old));
    }

    // The installed font's table of the record's tag, into *old (null when
    // there is none).
    bool FindOld(int r, const CSabunTagObject& record, const CTagObject** old) {
        *old = m_font->FindTag(record.m_tag);
        if (!*old || std::memcmp((*old)->m_tag, record.m_recordTag, 4) != 0) {
            *old = nullptr;
            return Fault(kFaultTagUnknown, r);
        }
        if ((*old)->m_length != 0 && !(*old)->HasData()) return Fault(kFaultOldTableMissing, r);
        return true;
    }

    // Every table starts on a 4-byte boundary after the directory, and its
    // zero padding is as much its own as its bytes are.
    bool CheckPlace(int r, const CSabunTagObject& record, uint64_t length) {
        const uint64_t offset = record.m_newOffset;
        if (offset % 4 != 0 && !Fault(kFaultOffsetAlign, r)) return false;
        if (offset < m_directoryEnd && !Fault(kFaultOverDirectory, r)) return false;
        if (!InImage(m_fileLength, offset, RoundUp4(length)) && !Fault(kFaultPastFileEnd, r)) return false;
        m_extents.push_back(TableExtent{Extent{offset, offset + RoundUp4(length)}, r});
        if (record.m_hasBlocks) CountBlocks(record, length);
        return true;
    }

    // Blocks as the builder clips them to the table; the bytes they leave
    // are zeros.
    void CountBlocks(const CSabunTagObject& record, uint64_t length) {
        uint64_t filled = 0;
        for (INT_PTR b = 0; b < record.m_copyBlocks.GetSize(); ++b) {
            const COldTagObject* block = record.CopyBlock(b);
            if (block->m_dstOffset < length) filled += std::min<uint64_t>(block->m_length, length - block->m_dstOffset);
        }
        m_copied += filled;
        for (INT_PTR b = 0; b < record.m_literalBlocks.GetSize(); ++b) {
            const CNewTagObject* block = record.LiteralBlock(b);
            if (block->m_dstOffset < length) filled += std::min<uint64_t>(block->m_length, length - block->m_dstOffset);
        }
        if (filled < length) m_unfilledInTables += length - filled;
    }

    bool CheckCopies(int r, const CSabunTagObject& record, const CTagObject& old) {
        const uint64_t oldPadded = RoundUp4(old.m_length);
        for (INT_PTR b = 0; b < record.m_copyBlocks.GetSize(); ++b) {
            const COldTagObject* block = record.CopyBlock(b);
            if (!InImage(oldPadded, block->m_srcOffset, block->m_length) &&
                !Fault(kFaultCopyOutside, r, -1, static_cast<int>(b))) {
                return false;
            }
        }
        return true;
    }

    // Only when the records are all there does a missing slot mean more
    // than a missing record.
    bool CheckSlots() {
        if (m_data.RecordCount() != m_count) return true;
        for (uint32_t slot = 0; slot < m_count; ++slot) {
            if (m_slotOwner[slot] < 0 && !Fault(kFaultSlotEmpty, -1, static_cast<int>(slot))) return false;
        }
        return true;
    }

    bool CheckOverlaps() {
        std::sort(m_extents.begin(), m_extents.end());
        uint64_t reach = 0;
        int reacher = -1;
        for (const TableExtent& e : m_extents) {
            if (reacher >= 0 && e.bytes.from < reach && !Fault(kFaultOverlap, e.record, reacher)) return false;
            if (e.bytes.to > reach || reacher < 0) {
                reach = e.bytes.to;
                reacher = e.record;
            }
        }
        return true;
    }

    // Bytes that no table holds (gaps between tables, and after the last)
    // and bytes of a table that no block fills are zeros.  A few are
    // harmless (a table that shrank, a run of zeros the producer left out),
    // but a damaged length or offset field would have the builder make,
    // write and install a font of up to 2 GB: no more of them than the
    // installed font's own length are accepted.  Copy blocks cost 12 bytes
    // each and may each take a whole old table: copied again and again, over
    // one place or side by side, they would make the builder's work and the
    // new font grow with their number.  A revision copies each old byte
    // about once.
    void CheckTotals() {
        if (!m_font || m_found != 0) return;
        uint64_t held = m_directoryEnd;
        for (const TableExtent& e : m_extents) held += e.bytes.to - e.bytes.from;
        const uint64_t fontLength = m_font->length;
        const uint64_t unheld = m_fileLength > held ? m_fileLength - held : 0;
        if (unheld + m_unfilledInTables > fontLength && !Fault(kFaultUnfilled, -1)) return;
        if (m_found == 0 && m_copied > 2 * fontLength) Fault(kFaultCopiedTooMuch, -1);
    }

    const CMakeSabunData& m_data;
    const LoadedFont* m_font;
    std::vector<SabunFault>* m_faults;
    const uint32_t m_count;
    const uint64_t m_fileLength;
    const uint64_t m_directoryEnd;
    int m_found = 0;
    std::vector<int> m_slotOwner = std::vector<int>(256, -1);
    std::vector<TableExtent> m_extents;
    uint64_t m_unfilledInTables = 0;  // what the builder makes from nothing
    uint64_t m_copied = 0;            // and what it copies, in bytes
};

}  // namespace

int CheckSabunData(const CMakeSabunData& data, const LoadedFont* font, std::vector<SabunFault>* faults) {
    return SabunChecker(data, font, faults).Run();
}
