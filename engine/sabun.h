// A difference file (.pa) in memory.
//
// Layout, all numbers big-endian:
//   0  magic "RVDF" | 4 fontName[32] | 36 fromRevision | 40 newFileLength |
//   44 tableCount (1 byte) | 45 reserved1[4] | 49 reserved2[4] |
//   53 tableCount records of 18 bytes:
//      tag[4] newIndex(1) newSortedIndex(1) dataOffset(4) newLength(4) newOffset(4)
// A record whose dataOffset is 0 takes its table over unchanged; otherwise
// dataOffset points at a block list:
//   copyCount(4), copyCount x {srcOffset, length, dstOffset},
//   literalCount(4), literalCount x {dstOffset, length, length bytes}.
// A count with its top bit set means no blocks of that kind.
//
// The file comes from outside: the readers check every record, block list
// and literal against the file's length and refuse a file that reaches past
// its end, so nothing is read outside the buffer.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/otbase.h"
#include "engine/sha256.h"
#include "engine/types.h"

static const char kSabunMagic[4] = {'R', 'V', 'D', 'F'};
static const uint32_t kSabunHeaderSize = 53;
static const uint32_t kSabunRecordSize = 18;
static const uint32_t kSabunProbeSize = 40;  // what ReadHeader takes: magic, name, fromRevision

struct SabunHeader {
    BYTE magic[4];
    BYTE fontName[32];
    uint32_t fromRevision;
    uint32_t newFileLength;
    uint8_t tableCount;
    BYTE reserved1[4];
    BYTE reserved2[4];

    // The header at p (kSabunHeaderSize bytes, checked by the caller).
    static SabunHeader Read(const BYTE* p);
    // What the folder scan takes from the kSabunProbeSize bytes at p: the
    // magic, the font name and fromRevision; the other fields are zero.
    static SabunHeader ReadProbe(const BYTE* p);
};

// One 18-byte table record as the file holds it.
struct SabunRecord {
    BYTE tag[4];
    uint8_t newIndex;
    uint8_t newSortedIndex;
    uint32_t dataOffset;  // of the record's block list; 0 when the table is taken over
    uint32_t newLength;
    uint32_t newOffset;

    // The record at p (kSabunRecordSize bytes, checked by the caller).
    static SabunRecord Read(const BYTE* p);
};

// Where table record `index` starts in a difference file.
inline uint64_t SabunRecordAt(uint64_t index) { return kSabunHeaderSize + kSabunRecordSize * index; }

// One copy block: bytes of the old table put into the new one.
class COldTagObject : public COpenTypeObject {
public:
    void Set(uint32_t srcOffset, uint32_t length, uint32_t dstOffset);

    uint32_t m_srcOffset = 0;
    uint32_t m_length = 0;
    uint32_t m_dstOffset = 0;
};

// What one copy block takes from an old table of oldLength bytes into a new
// one of newLength: n bytes at its srcOffset of the old table read as its
// bytes followed by zeros up to its padded length, fromTable of them its own.
struct CopySpan {
    uint64_t n = 0;
    uint64_t fromTable = 0;
};

// False when the block reads outside the padded old table.  A block that
// starts past the new table's end takes nothing.
bool CopySpanOf(const COldTagObject& block, uint64_t oldLength, uint64_t newLength, CopySpan* span);

// One literal block: bytes carried in the difference file.
class CNewTagObject : public COpenTypeObject {
public:
    ~CNewTagObject() override;
    // Copies length bytes; false when the buffer cannot be had.
    bool Set(uint32_t dstOffset, uint32_t length, const BYTE* bytes);

    uint32_t m_dstOffset = 0;
    uint32_t m_length = 0;
    BYTE* m_pBytes = nullptr;  // owned: m_length bytes and one zero byte
};

// One table record with its block list.
class CSabunTagObject : public COpenTypeObject {
public:
    CSabunTagObject();
    ~CSabunTagObject() override;
    CSabunTagObject(const CSabunTagObject&) = delete;
    CSabunTagObject& operator=(const CSabunTagObject&) = delete;

    void SetRecord(const BYTE* tag, uint8_t newIndex, uint8_t newSortedIndex, uint32_t dataOffset,
                   uint32_t newLength, uint32_t newOffset);

    // Parses the block list at blockData, which has `available` bytes up to
    // the end of the file image.  False when the list or a literal reaches
    // past the end (or memory runs out); the blocks read so far stay.
    bool ReadBlocks(const BYTE* blockData, uint64_t available);

    COldTagObject* CopyBlock(INT_PTR i) const { return m_copyBlocks.GetAt(i); }
    CNewTagObject* LiteralBlock(INT_PTR i) const { return m_literalBlocks.GetAt(i); }

    char m_tag[5];  // the tag bytes and a NUL
    CTypedPtrArray<CSortArray, COldTagObject*> m_copyBlocks;   // owned, file order
    CTypedPtrArray<CObArray, CNewTagObject*> m_literalBlocks;  // owned, file order
    int m_hasBlocks = 0;  // 1 once a block list was read

    BYTE m_recordTag[4];
    uint8_t m_newIndex = 0;
    uint8_t m_newSortedIndex = 0;
    uint32_t m_dataOffset = 0;
    uint32_t m_newLength = 0;
    uint32_t m_newOffset = 0;
};

// What keeps a difference file from being read whole.  The updater stops at
// the first; the makers' tool reads on past each to name them all.
enum SabunReadFaultKind {
    kReadHeaderCut,   // the file ends inside the header
    kReadRecordsCut,  // the table records run past the end of the file
    kReadListOffset,  // a record's block list offset is not inside the file
    kReadListCut,     // a record's block list runs past the end of the file
    kReadListsShared, // the lists read take more bytes than the file holds: records share them
};

struct SabunReadFault {
    SabunReadFaultKind kind;
    int record;  // -1 for the header and the records as a whole
};

class CMakeSabunData : public COpenTypeObject {
public:
    CMakeSabunData();
    ~CMakeSabunData() override;
    CMakeSabunData(const CMakeSabunData&) = delete;
    CMakeSabunData& operator=(const CMakeSabunData&) = delete;

    // 1 when the file is a difference file: fontNameOut (33 bytes, zeroed by
    // the caller) receives the 32 name bytes, fromRevisionOut the revision.
    // 1 with the header's fields, 0 for a file that is no difference file,
    // -1 for one that could not be read.
    int ReadHeader(const char* path, char* fontNameOut, int* fromRevisionOut);

    // 1 when the whole file was read into m_sabunHeader and m_sabunTags.
    int ReadFile(const char* path);

    // As ReadFile, for a file whose digest the release manifest gives: the
    // digest of the bytes read is compared first, and -1 (nothing parsed)
    // means they are not the file released, or their digest cannot be had.
    int ReadReleasedFile(const char* path, const BYTE expected[kDigestSize]);

    // Reads a difference file from length bytes in memory (copied), as
    // ReadFile reads one from disk.  With faults null it stops at the first
    // fault, as ReadFile does; otherwise it takes every record and block
    // that lies inside the file, adds each fault to the list, and returns 1
    // only when there was none.
    int ReadBytes(const BYTE* bytes, uint32_t length, std::vector<SabunReadFault>* faults = nullptr);

    // True when the header read by ReadFile is a difference file's and names
    // entry's font and revision.
    bool HeaderIs(const DiffFileRecord& entry) const;

    CSabunTagObject* FindByIndex(int newIndex) const;
    CSabunTagObject* Record(INT_PTR i) const { return m_sabunTags.GetAt(i); }
    // The records read, in file order: all of them after a successful read.
    INT_PTR RecordCount() const { return m_sabunTags.GetSize(); }
    const SabunHeader& Header() const { return m_sabunHeader; }
    // The file as read (and one zero byte); null once ReadHeader is done,
    // and once ReadFile has read the whole file.
    const BYTE* FileImage() const { return m_pFile; }
    uint32_t FileLength() const { return m_fileLength; }
    void Clear();

private:
    // Opens path and reads it whole into m_pFile; false when that fails.
    bool ReadWhole(const char* path, bool* wrongSize = nullptr);
    // Parses m_pFile: see ReadBytes.
    int Parse(std::vector<SabunReadFault>* faults);

    CTypedPtrArray<CObArray, CSabunTagObject*> m_sabunTags;  // owned, record order
    SabunHeader m_sabunHeader;
    uint32_t m_fileLength = 0;
    BYTE* m_pFile = nullptr;  // owned: the whole file and one zero byte
};
