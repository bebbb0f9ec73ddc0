#include "engine/otmodel.h"

#include <cstring>

int COpenTypeHeader::Parse(const BYTE* image, uint32_t imageLength) {
    if (!image || imageLength < kOffsetTableSize) return 0;
    if (GetU32(image) != kSfntVersionCff) return 0;
    m_format = 2;
    m_sfntVersion = GetU32(image);
    m_numTables = GetU16(image + 4);
    m_searchRange = GetU16(image + 6);
    m_entrySelector = GetU16(image + 8);
    m_rangeShift = GetU16(image + 10);
    return 1;
}

void COpenTypeHeader::Write(BYTE* out) const {
    PutU32(out, m_sfntVersion);
    PutU16(out + 4, m_numTables);
    PutU16(out + 6, m_searchRange);
    PutU16(out + 8, m_entrySelector);
    PutU16(out + 10, m_rangeShift);
}

TableRecord TableRecord::Read(const BYTE* p) {
    TableRecord r;
    std::memcpy(r.tag, p, 4);
    r.checkSum = GetU32(p + 4);
    r.offset = GetU32(p + 8);
    r.length = GetU32(p + 12);
    return r;
}

void TableRecord::Write(BYTE* p) const {
    std::memcpy(p, tag, 4);
    PutU32(p + 4, checkSum);
    PutU32(p + 8, offset);
    PutU32(p + 12, length);
}

bool TableRecord::HasTag(const char* name) const { return std::memcmp(tag, name, 4) == 0; }

bool WriteTableRecord(BYTE* image, uint64_t length, uint64_t slot, const TableRecord& record) {
    const uint64_t at = TableRecordAt(slot);
    if (!InImage(length, at, kTableRecordSize)) return false;
    record.Write(image + at);
    return true;
}

CTagObject::CTagObject() {
    std::memset(m_tag, 0, sizeof m_tag);
    std::memset(m_tagName, 0, sizeof m_tagName);
    std::memset(m_newTag, 0, sizeof m_newTag);
}

CTagObject::~CTagObject() = default;

int32_t CTagObject::ReadRecord(const BYTE* record, const BYTE* image, uint32_t imageLength) {
    const TableRecord r = TableRecord::Read(record);
    std::memcpy(m_tag, r.tag, 4);
    std::memcpy(m_tagName, r.tag, 4);
    m_tagName[4] = '\0';
    m_checkSum = r.checkSum;
    m_offset = r.offset;
    m_length = r.length;
    m_pData = InImage(imageLength, m_offset, m_length) ? image + m_offset : nullptr;
    m_paddedLength = static_cast<int32_t>(RoundUp4(m_length));
    return m_paddedLength;
}

CTagObject* FindTagIn(const CTypedPtrArray<CObArray, CTagObject*>& tags, const char* tagName) {
    for (INT_PTR i = 0; i < tags.GetSize(); ++i) {
        CTagObject* tag = tags.GetAt(i);
        if (std::strcmp(tag->m_tagName, tagName) == 0) return tag;
    }
    return nullptr;
}

static const char* const kKnownTags[17] = {
    "BASE", "CFF ", "GPOS", "GSUB", "OS/2", "VORG", "cmap", "head", "hhea",
    "hmtx", "maxp", "name", "post", "vhea", "vmtx", "EBDT", "EBLC",
};

bool IsKnownTag(const char* tagName) {
    for (const char* known : kKnownTags) {
        if (std::strcmp(known, tagName) == 0) return true;
    }
    return false;
}

int CompareTagOffsets(const void* a, const void* b) {
    const CTagObject* x = static_cast<const CTagObject*>(a);
    const CTagObject* y = static_cast<const CTagObject*>(b);
    return x->m_offset < y->m_offset ? -1 : 1;
}
