#include "engine/sabun.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/wholefile.h"

SabunHeader SabunHeader::ReadProbe(const BYTE* p) {
    SabunHeader h;
    std::memset(&h, 0, sizeof h);
    std::memcpy(h.magic, p, 4);
    std::memcpy(h.fontName, p + 4, 32);
    h.fromRevision = GetU32(p + 36);
    return h;
}

SabunHeader SabunHeader::Read(const BYTE* p) {
    SabunHeader h = ReadProbe(p);
    h.newFileLength = GetU32(p + 40);
    h.tableCount = p[44];
    std::memcpy(h.reserved1, p + 45, 4);
    std::memcpy(h.reserved2, p + 49, 4);
    return h;
}

SabunRecord SabunRecord::Read(const BYTE* p) {
    SabunRecord r;
    std::memcpy(r.tag, p, 4);
    r.newIndex = p[4];
    r.newSortedIndex = p[5];
    r.dataOffset = GetU32(p + 6);
    r.newLength = GetU32(p + 10);
    r.newOffset = GetU32(p + 14);
    return r;
}

// A count with its top bit set stands for "no blocks".
static uint32_t BlockCount(uint32_t field) {
    const int32_t count = static_cast<int32_t>(field);
    return count > 0 ? static_cast<uint32_t>(count) : 0;
}

void COldTagObject::Set(uint32_t srcOffset, uint32_t length, uint32_t dstOffset) {
    m_srcOffset = srcOffset;
    m_length = length;
    m_dstOffset = dstOffset;
}

bool CopySpanOf(const COldTagObject& block, uint64_t oldLength, uint64_t newLength, CopySpan* span) {
    *span = CopySpan();
    if (block.m_dstOffset >= newLength) return true;
    span->n = std::min<uint64_t>(block.m_length, newLength - block.m_dstOffset);
    if (!InImage(RoundUp4(oldLength), block.m_srcOffset, span->n)) return false;
    span->fromTable = block.m_srcOffset < oldLength ? std::min<uint64_t>(span->n, oldLength - block.m_srcOffset) : 0;
    return true;
}

CNewTagObject::~CNewTagObject() { delete[] m_pBytes; }

bool CNewTagObject::Set(uint32_t dstOffset, uint32_t length, const BYTE* bytes) {
    m_dstOffset = dstOffset;
    m_length = length;
    delete[] m_pBytes;
    m_pBytes = new (std::nothrow) BYTE[static_cast<size_t>(length) + 1]();
    if (!m_pBytes) {
        m_length = 0;
        return false;
    }
    std::memcpy(m_pBytes, bytes, length);
    return true;
}

CSabunTagObject::CSabunTagObject() {
    std::memset(m_tag, 0, sizeof m_tag);
    std::memset(m_recordTag, 0, sizeof m_recordTag);
}

CSabunTagObject::~CSabunTagObject() {
    for (INT_PTR i = 0; i < m_copyBlocks.GetSize(); ++i) delete m_copyBlocks.GetAt(i);
    m_copyBlocks.RemoveAll();
    for (INT_PTR i = 0; i < m_literalBlocks.GetSize(); ++i) delete m_literalBlocks.GetAt(i);
    m_literalBlocks.RemoveAll();
}

void CSabunTagObject::SetRecord(const BYTE* tag, uint8_t newIndex, uint8_t newSortedIndex, uint32_t dataOffset,
                                uint32_t newLength, uint32_t newOffset) {
    std::memcpy(m_recordTag, tag, 4);
    std::memcpy(m_tag, tag, 4);
    m_tag[4] = '\0';
    m_newIndex = newIndex;
    m_newSortedIndex = newSortedIndex;
    m_dataOffset = dataOffset;
    m_newLength = newLength;
    m_newOffset = newOffset;
}

bool CSabunTagObject::ReadBlocks(const BYTE* blockData, uint64_t available) {
    m_hasBlocks = 1;
    CByteReader in(blockData, available);
    uint32_t count = 0;
    if (!in.ReadU32(&count)) return false;
    const uint32_t copyCount = BlockCount(count);
    // The whole run of copy blocks must be there before any is taken.
    if (!in.Has(static_cast<uint64_t>(copyCount) * 12)) return false;
    for (uint32_t i = 0; i < copyCount; ++i) {
        uint32_t srcOffset = 0, length = 0, dstOffset = 0;
        in.ReadU32(&srcOffset);
        in.ReadU32(&length);
        in.ReadU32(&dstOffset);
        COldTagObject* block = new (std::nothrow) COldTagObject;
        if (!block) return false;
        block->Set(srcOffset, length, dstOffset);
        m_copyBlocks.Add(block);
    }

    if (!in.ReadU32(&count)) return false;
    const uint32_t literalCount = BlockCount(count);
    for (uint32_t i = 0; i < literalCount; ++i) {
        uint32_t dstOffset = 0, length = 0;
        const BYTE* bytes = nullptr;
        if (!in.ReadU32(&dstOffset) || !in.ReadU32(&length) || !in.View(length, &bytes)) return false;
        CNewTagObject* block = new (std::nothrow) CNewTagObject;
        if (!block) return false;
        m_literalBlocks.Add(block);
        if (!block->Set(dstOffset, length, bytes)) return false;
    }
    return true;
}

CMakeSabunData::CMakeSabunData() { std::memset(&m_sabunHeader, 0, sizeof m_sabunHeader); }

CMakeSabunData::~CMakeSabunData() { Clear(); }

void CMakeSabunData::Clear() {
    for (INT_PTR i = 0; i < m_sabunTags.GetSize(); ++i) delete m_sabunTags.GetAt(i);
    m_sabunTags.RemoveAll();
    delete[] m_pFile;
    m_pFile = nullptr;
}

bool CMakeSabunData::ReadWhole(const char* path, bool* wrongSize) {
    delete[] m_pFile;
    m_pFile = nullptr;
    m_fileLength = 0;
    // The length is kept in 32 bits; a file this program could have made is
    // far below that.
    WholeFile file;
    const WholeFileResult read = ReadWholeFile(path, 0x7FFFFFFFu, 1, &file);
    if (wrongSize) *wrongSize = read == kWholeFileWrongSize;
    m_pFile = file.data;
    m_fileLength = file.length;
    return read == kWholeFileRead;
}

int CMakeSabunData::ReadHeader(const char* path, char* fontNameOut, int* fromRevisionOut) {
    bool wrongSize = false;
    if (!ReadWhole(path, &wrongSize)) return wrongSize ? 0 : -1;
    if (m_fileLength < kSabunProbeSize || std::memcmp(m_pFile, kSabunMagic, 4) != 0) return 0;
    const SabunHeader probe = SabunHeader::ReadProbe(m_pFile);
    std::memcpy(fontNameOut, probe.fontName, sizeof probe.fontName);
    *fromRevisionOut = static_cast<int>(probe.fromRevision);
    delete[] m_pFile;
    m_pFile = nullptr;
    return 1;
}

int CMakeSabunData::ReadFile(const char* path) { return ReadReleasedFile(path, nullptr); }

int CMakeSabunData::ReadReleasedFile(const char* path, const BYTE expected[kDigestSize]) {
    Clear();
    if (!ReadWhole(path)) return 0;
    if (expected) {
        // On the very bytes that are parsed next: the file on disk may be
        // another by the time anything looks at it again.
        BYTE digest[kDigestSize];
        if (!Sha256Of(m_pFile, m_fileLength, digest) || std::memcmp(digest, expected, kDigestSize) != 0) {
            delete[] m_pFile;
            m_pFile = nullptr;
            return -1;
        }
    }
    const int read = Parse(nullptr);
    // The records and blocks hold all the builder takes from the file (the
    // literal blocks their own copies of its bytes): its image is not kept
    // beside the two font images while the revision is built.
    if (read) {
        delete[] m_pFile;
        m_pFile = nullptr;
    }
    return read;
}

int CMakeSabunData::ReadBytes(const BYTE* bytes, uint32_t length, std::vector<SabunReadFault>* faults) {
    Clear();
    m_pFile = new (std::nothrow) BYTE[static_cast<size_t>(length) + 1]();
    if (!m_pFile) return 0;
    if (length != 0) std::memcpy(m_pFile, bytes, length);
    m_fileLength = length;
    return Parse(faults);
}

int CMakeSabunData::Parse(std::vector<SabunReadFault>* faults) {
    int found = 0;
    // True when the caller wants the reading to go on.
    auto fault = [&](SabunReadFaultKind kind, int record) {
        ++found;
        if (faults) faults->push_back(SabunReadFault{kind, record});
        return faults != nullptr;
    };
    if (m_fileLength < kSabunHeaderSize) {
        fault(kReadHeaderCut, -1);
        return 0;
    }

    m_sabunHeader = SabunHeader::Read(m_pFile);

    if (!InImage(m_fileLength, kSabunHeaderSize, static_cast<uint64_t>(m_sabunHeader.tableCount) * kSabunRecordSize) &&
        !fault(kReadRecordsCut, -1)) {
        return 0;
    }
    // Each record holds its own copy of the block list it points at, so
    // records that all point into one long list would each copy it: 255 of
    // them would make a small file cost hundreds of times its size.  Lists
    // that lie side by side take up no more bytes in all than the file
    // holds; once the lists read take more, no further list is read.
    uint64_t listBytes = 0;
    for (uint32_t i = 0; i < m_sabunHeader.tableCount; ++i) {
        const uint64_t at = SabunRecordAt(i);
        if (!InImage(m_fileLength, at, kSabunRecordSize)) break;
        const SabunRecord r = SabunRecord::Read(m_pFile + at);
        const uint32_t dataOffset = r.dataOffset;
        CSabunTagObject* record = new (std::nothrow) CSabunTagObject;
        if (!record) return 0;
        record->SetRecord(r.tag, r.newIndex, r.newSortedIndex, dataOffset, r.newLength, r.newOffset);
        // Appended before the checks below, so the array owns it whatever follows.
        m_sabunTags.Add(record);
        if (dataOffset == 0) continue;
        const int which = static_cast<int>(i);
        if (dataOffset >= m_fileLength) {
            if (!fault(kReadListOffset, which)) return 0;
            continue;
        }
        if (listBytes > m_fileLength) {
            if (!fault(kReadListsShared, which)) return 0;
            continue;
        }
        const bool read = record->ReadBlocks(m_pFile + dataOffset, m_fileLength - dataOffset);
        // The counts, each block's fields and each literal's bytes.
        listBytes += 8 + 12 * static_cast<uint64_t>(record->m_copyBlocks.GetSize());
        for (INT_PTR b = 0; b < record->m_literalBlocks.GetSize(); ++b) {
            listBytes += 8 + static_cast<uint64_t>(record->LiteralBlock(b)->m_length);
        }
        if (!read && !fault(kReadListCut, which)) return 0;
        if (read && listBytes > m_fileLength && !fault(kReadListsShared, which)) return 0;
    }
    return found == 0 ? 1 : 0;
}

bool CMakeSabunData::HeaderIs(const DiffFileRecord& entry) const {
    if (std::memcmp(m_sabunHeader.magic, kSabunMagic, 4) != 0) return false;
    if (static_cast<int>(m_sabunHeader.fromRevision) != entry.fromRevision) return false;
    // The name as the folder scan took it: the 32 bytes, cut at a zero.
    char name[sizeof m_sabunHeader.fontName + 1] = {};
    std::memcpy(name, m_sabunHeader.fontName, sizeof m_sabunHeader.fontName);
    return std::strcmp(name, entry.fontName) == 0;
}

CSabunTagObject* CMakeSabunData::FindByIndex(int newIndex) const {
    for (INT_PTR i = 0; i < m_sabunTags.GetSize(); ++i) {
        CSabunTagObject* record = m_sabunTags.GetAt(i);
        if (record->m_newIndex == newIndex) return record;
    }
    return nullptr;
}
