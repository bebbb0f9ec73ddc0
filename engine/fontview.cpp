#include "engine/fontview.h"

#include <cstring>

NameTableHeader NameTableHeader::Read(const BYTE* p) {
    return NameTableHeader{GetU16(p), GetU16(p + 2), GetU16(p + 4)};
}

void NameTableHeader::Write(BYTE* p) const {
    PutU16(p, format);
    PutU16(p + 2, count);
    PutU16(p + 4, stringOffset);
}

NameRecord NameRecord::Read(const BYTE* p) {
    return NameRecord{GetU16(p), GetU16(p + 2), GetU16(p + 4), GetU16(p + 6), GetU16(p + 8), GetU16(p + 10)};
}

void NameRecord::Write(BYTE* p) const {
    PutU16(p, platformID);
    PutU16(p + 2, encodingID);
    PutU16(p + 4, languageID);
    PutU16(p + 6, nameID);
    PutU16(p + 8, length);
    PutU16(p + 10, offset);
}

namespace {

// How many of `declared` records of `size` bytes from `start` lie inside a
// buffer of `length` bytes.
uint32_t RecordsInside(uint64_t length, uint64_t start, uint64_t size, uint32_t declared) {
    if (start > length) return 0;
    const uint64_t room = (length - start) / size;
    return room < declared ? static_cast<uint32_t>(room) : declared;
}

}  // namespace

DirectoryView::DirectoryView(const BYTE* image, uint64_t length)
    : DirectoryView(image, length, image && length >= kOffsetTableSize ? GetU16(image + 4) : 0) {}

DirectoryView::DirectoryView(const BYTE* image, uint64_t length, uint32_t numTables)
    : m_image(image), m_length(image ? length : 0), m_declared(numTables) {
    m_count = RecordsInside(m_length, kOffsetTableSize, kTableRecordSize, numTables);
}

TableEntry DirectoryView::At(uint32_t slot) const {
    TableEntry e;
    if (slot >= m_count) return e;
    e.present = true;
    e.slot = slot;
    e.recordAt = TableRecordAt(slot);
    e.record = TableRecord::Read(m_image + e.recordAt);
    if (InImage(m_length, e.record.offset, e.record.length)) e.data = m_image + e.record.offset;
    return e;
}

TableEntry DirectoryView::Find(const char* tag) const {
    for (uint32_t slot = 0; slot < m_count; ++slot) {
        if (std::memcmp(m_image + TableRecordAt(slot), tag, 4) == 0) return At(slot);
    }
    return TableEntry();
}

NameTableView::NameTableView(const BYTE* table, uint64_t length) : m_table(table), m_length(table ? length : 0) {
    m_hasHeader = m_length >= kNameHeaderSize;
    if (!m_hasHeader) return;
    m_header = NameTableHeader::Read(table);
    m_count = RecordsInside(m_length, kNameHeaderSize, kNameRecordSize, m_header.count);
}

NameEntry NameTableView::At(uint32_t index) const {
    NameEntry e;
    if (index >= m_count) return e;
    e.index = index;
    e.record = NameRecord::Read(m_table + NameRecordAt(index));
    e.stringStart = static_cast<uint64_t>(m_header.stringOffset) + e.record.offset;
    if (InImage(m_length, e.stringStart, e.record.length)) e.string = m_table + e.stringStart;
    return e;
}
