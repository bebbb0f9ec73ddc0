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

bool DirectoryFits(uint32_t imageLength, uint32_t numTables) {
    return InImage(imageLength, kOffsetTableSize, static_cast<uint64_t>(numTables) * kTableRecordSize);
}

CTagObject::CTagObject() {
    std::memset(m_tag, 0, sizeof m_tag);
    std::memset(m_tagName, 0, sizeof m_tagName);
    std::memset(m_newTag, 0, sizeof m_newTag);
}

CTagObject::~CTagObject() { delete[] m_pNewData; }

int32_t CTagObject::ReadRecord(const BYTE* record, const BYTE* image, uint32_t imageLength) {
    std::memcpy(m_tag, record, 4);
    std::memcpy(m_tagName, record, 4);
    m_tagName[4] = '\0';
    m_checkSum = GetU32(record + 4);
    m_offset = GetU32(record + 8);
    m_length = GetU32(record + 12);
    m_pData = InImage(imageLength, m_offset, m_length) ? image + m_offset : nullptr;
    m_paddedLength = RoundUp4(static_cast<int32_t>(m_length));
    return m_paddedLength;
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
