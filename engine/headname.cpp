#include "engine/headname.h"

#include <algorithm>
#include <cstring>
#include <new>

void CHeadInfoObject::Parse(const BYTE* head) {
    m_version = GetU32(head + 0);
    m_fontRevision = GetU32(head + 4);
    m_checkSumAdjustment = GetU32(head + kHeadAdjustmentOffset);
    m_magicNumber = GetU32(head + 12);
    m_flags = GetU16(head + 16);
    m_unitsPerEm = GetU16(head + 18);
    std::memcpy(m_created, head + 20, 8);
    std::memcpy(m_modified, head + 28, 8);
    m_xMin = static_cast<int16_t>(GetU16(head + 36));
    m_yMin = static_cast<int16_t>(GetU16(head + 38));
    m_xMax = static_cast<int16_t>(GetU16(head + 40));
    m_yMax = static_cast<int16_t>(GetU16(head + 42));
    m_macStyle = GetU16(head + 44);
    m_lowestRecPPEM = GetU16(head + 46);
    m_fontDirectionHint = static_cast<int16_t>(GetU16(head + 48));
    m_indexToLocFormat = static_cast<int16_t>(GetU16(head + 50));
    m_glyphDataFormat = static_cast<int16_t>(GetU16(head + 52));
}

bool CTagHeadObject::ReadTable(const BYTE* /*image*/) {
    // m_pData is set only for a table that lies inside the image.
    if (!HasData() || m_length < kHeadTableSize) return false;
    m_headInfo.Parse(m_pData);
    return true;
}

void CNameRecordObject::Parse(const NameRecord& record, const BYTE* table, uint32_t storageStart) {
    m_platformID = record.platformID;
    m_encodingID = record.encodingID;
    m_languageID = record.languageID;
    m_nameID = record.nameID;
    m_stringLength = record.length;
    m_storageOffset = record.offset;
    m_stringStart = storageStart + m_storageOffset;
    const uint32_t kept = std::min<uint32_t>(m_stringLength, kNameStringKept);
    std::memset(m_string, 0, sizeof m_string);
    std::memcpy(m_string, table + m_stringStart, kept);
}

static_assert(kNameStringKept >= static_cast<uint32_t>(kSerialBufferSize),
              "the serial strings are copied out of the kept bytes");

namespace {

struct NameKey {
    uint16_t platform, encoding, language, nameID;
};

bool Is(const CNameRecordObject* r, const NameKey& k) {
    return r->m_platformID == k.platform && r->m_encodingID == k.encoding && r->m_languageID == k.language &&
           r->m_nameID == k.nameID;
}

// Records that take their sibling's string instead of storing their own.
const NameKey kShared[4] = {{1, 1, 11, 2}, {3, 1, 0x409, 6}, {3, 1, 0x411, 2}, {3, 1, 0x411, 17}};
const NameKey kSiblings[4] = {{1, 0, 0, 2}, {3, 1, 0x409, 4}, {3, 1, 0x409, 2}, {3, 1, 0x409, 17}};

int SharedIndex(const CNameRecordObject* r) {
    for (int i = 0; i < 4; ++i) {
        if (Is(r, kShared[i])) return i;
    }
    return -1;
}

int SiblingIndex(const CNameRecordObject* r) {
    for (int i = 0; i < 4; ++i) {
        if (Is(r, kSiblings[i])) return i;
    }
    return -1;
}

}  // namespace

CNameTableObject::~CNameTableObject() { DeleteRecords(); }

void CNameTableObject::DeleteRecords() {
    for (INT_PTR i = 0; i < m_records.GetSize(); ++i) delete m_records.GetAt(i);
    m_records.RemoveAll();
}

BOOL CNameTableObject::Parse(const BYTE* table, uint32_t tableLength) {
    DeleteRecords();
    m_pSource = nullptr;
    m_addressable = false;
    CByteReader in(table, tableLength);
    const BYTE* header = nullptr;
    if (!in.View(kNameHeaderSize, &header)) return FALSE;
    const NameTableHeader h = NameTableHeader::Read(header);
    m_nameFormat = h.format;
    m_count = h.count;
    m_stringOffset = h.stringOffset;
    // Every record must be there before any is taken.
    if (!in.Has(static_cast<uint64_t>(m_count) * kNameRecordSize)) return FALSE;
    for (uint32_t i = 0; i < m_count; ++i) {
        const BYTE* at = nullptr;
        in.View(kNameRecordSize, &at);
        const NameRecord r = NameRecord::Read(at);
        const uint64_t start = static_cast<uint64_t>(m_stringOffset) + r.offset;
        CNameRecordObject* record = InImage(tableLength, start, r.length) ? new (std::nothrow) CNameRecordObject : nullptr;
        if (!record) {
            DeleteRecords();
            return FALSE;
        }
        record->Parse(r, table, m_stringOffset);
        try {
            m_records.Add(record);
        } catch (const std::bad_alloc&) {
            delete record;
            DeleteRecords();
            return FALSE;
        }
    }
    m_pSource = table;
    return TRUE;
}

bool CNameTableObject::ComputeSize() {
    m_headerSize = static_cast<int32_t>(NameRecordAt(m_count));
    // Each string is written at the running storage position, which its
    // record stores in 16 bits: once a string would start past 0xFFFF the
    // table cannot be written back.  Counting stops there, so the sum stays
    // below two 16-bit lengths whatever the records claim.
    uint64_t position = 0;
    bool fits = true;
    for (INT_PTR i = 0; i < m_records.GetSize() && fits; ++i) {
        const CNameRecordObject* r = m_records.GetAt(i);
        if (SharedIndex(r) >= 0) continue;
        fits = position <= 0xFFFF;
        position += r->m_stringLength;
    }
    m_addressable = fits;
    if (!m_addressable) {
        m_stringBytes = 0;
        m_totalSize = 0;
        return false;
    }
    m_stringBytes = static_cast<int32_t>(position);
    m_totalSize = m_headerSize + m_stringBytes;
    return true;
}

void CNameTableObject::Write(BYTE* out) const {
    if (!m_addressable || !m_pSource) return;
    NameTableHeader{m_nameFormat, m_count, m_stringOffset}.Write(out);
    BYTE* storage = out + m_headerSize;
    // The storage position lives in 16 bits like the offset fields it fills;
    // it never exceeds the bytes already counted, so the writes stay inside
    // the m_totalSize bytes that ComputeSize counted.
    uint16_t position = 0;
    uint32_t written = 0;
    // A shared record that comes before its sibling takes offset 0.
    uint16_t remembered[4] = {0, 0, 0, 0};
    for (INT_PTR i = 0; i < m_records.GetSize(); ++i) {
        const CNameRecordObject* r = m_records.GetAt(i);
        NameRecord record{r->m_platformID, r->m_encodingID, r->m_languageID, r->m_nameID, r->m_stringLength, 0};
        BYTE* rec = out + NameRecordAt(static_cast<uint64_t>(i));
        const int shared = SharedIndex(r);
        if (shared >= 0) {
            record.offset = remembered[shared];
            record.Write(rec);
            continue;
        }
        const int sibling = SiblingIndex(r);
        if (sibling >= 0) remembered[sibling] = position;
        record.offset = position;
        record.Write(rec);
        std::memcpy(storage + written, m_pSource + r->m_stringStart, r->m_stringLength);
        written += r->m_stringLength;
        position = static_cast<uint16_t>(position + r->m_stringLength);
    }
}

void CNameTableObject::PutSerialStrings(BYTE* table, uint32_t tableLength, const char* macSerial,
                                        const char* winSerial) {
    CByteReader in(table, tableLength);
    const BYTE* header = nullptr;
    if (!in.View(kNameHeaderSize, &header)) return;
    const NameTableHeader h = NameTableHeader::Read(header);
    // Records may all point at one long string: the strings written over
    // stop at twice the table's length, so that a table of 65,535 such
    // records costs no more than its own size.
    uint64_t written = 0;
    for (uint32_t j = 0; j < h.count; ++j) {
        const BYTE* at = nullptr;
        if (!in.View(kNameRecordSize, &at)) break;
        const NameRecord r = NameRecord::Read(at);
        if (r.nameID != kLicenseNameID) continue;
        const uint64_t start = static_cast<uint64_t>(h.stringOffset) + r.offset;
        if (!InImage(tableLength, start, r.length)) continue;
        written += r.length;
        if (written > 2 * static_cast<uint64_t>(tableLength)) break;

        BYTE* text = table + start;
        const char* serial = r.platformID == kPlatformMacintosh ? macSerial : winSerial;
        const uint32_t copied = r.length < static_cast<uint32_t>(kSerialBufferSize) ? r.length : kSerialBufferSize;
        std::memset(text, 0, r.length);
        std::memcpy(text, serial, copied);
    }
}

CTagNameObject::~CTagNameObject() { delete[] m_pTableData; }

uint32_t CTagNameObject::ReadTable(const BYTE* /*image*/) {
    delete[] m_pTableData;
    m_pTableData = nullptr;
    m_nameTable.DeleteRecords();
    if (!HasData()) return 0;

    // The table is parsed from the bytes the record names, nothing beyond.
    if (!m_nameTable.Parse(m_pData, m_length)) return 0;
    if (!m_nameTable.ComputeSize()) {
        m_nameTable.DeleteRecords();
        return 0;
    }

    m_length = static_cast<uint32_t>(m_nameTable.m_totalSize);
    m_paddedLength = static_cast<int32_t>(RoundUp4(m_nameTable.m_totalSize));
    m_pTableData = new (std::nothrow) BYTE[static_cast<size_t>(m_paddedLength)]();
    if (!m_pTableData) {
        m_nameTable.DeleteRecords();
        return 0;
    }
    m_nameTable.Write(m_pTableData);
    m_checkSum = CalcCheckSum(m_pTableData, m_paddedLength);
    return m_checkSum;
}

int CTagNameObject::GetFifthRecordString(char* out) const {
    std::memset(out, 0, kSerialBufferSize);
    const CNameRecordObject* r = m_nameTable.Record(4);
    if (!r) return 0;
    // Through a 255-byte buffer that keeps its terminator.
    const size_t n = std::min<size_t>(r->m_stringLength, kSerialBufferSize - 1);
    std::memcpy(out, r->m_string, n);
    return out[0] != '\0' ? 1 : 0;
}

int CTagNameObject::GetSerialStrings(char* macOut, char* winOut) const {
    bool mac = false, win = false;
    for (INT_PTR i = 0; i < m_nameTable.m_records.GetSize(); ++i) {
        const CNameRecordObject* r = m_nameTable.Record(i);
        if (!mac && Is(r, NameKey{1, 0, 0, 13})) {
            std::memcpy(macOut, r->m_string, std::min<size_t>(r->m_stringLength, kSerialBufferSize));
            mac = true;
        } else if (!win && Is(r, NameKey{3, 1, 0x409, 13})) {
            std::memcpy(winOut, r->m_string, std::min<size_t>(r->m_stringLength, kSerialBufferSize));
            win = true;
        }
    }
    return mac && win ? 1 : 0;
}
