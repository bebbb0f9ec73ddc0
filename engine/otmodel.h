// The OpenType file as the engine reads it: the offset table and one object
// per table record, pointing back into the file image.
#pragma once

#include <cstdint>

#include "engine/otbase.h"

class CSabunTagObject;

// The offset table (the first 12 bytes of the file).
class COpenTypeHeader : public COpenTypeObject {
public:
    // 1 when the image begins with the CFF signature "OTTO" (the offset table
    // is then taken over); 0 otherwise, with nothing changed.  An image of
    // fewer than 12 bytes has no offset table.
    int Parse(const BYTE* image, uint32_t imageLength);
    // Writes the 12 bytes of the offset table at out.
    void Write(BYTE* out) const;

    int32_t m_format = -1;  // 2 once a CFF-outline offset table was parsed
    uint32_t m_sfntVersion = 0;
    uint16_t m_numTables = 0;
    uint16_t m_searchRange = 0;
    uint16_t m_entrySelector = 0;
    uint16_t m_rangeShift = 0;
};

static const uint32_t kSfntVersionCff = 0x4F54544F;  // "OTTO"
static const uint32_t kOffsetTableSize = 12;
static const uint32_t kTableRecordSize = 16;

// One record of the table directory, as the file holds it: the tag (four
// raw bytes), checkSum, offset and length.
struct TableRecord {
    BYTE tag[4];
    uint32_t checkSum;
    uint32_t offset;
    uint32_t length;

    // The record at p (kTableRecordSize bytes, checked by the caller).
    static TableRecord Read(const BYTE* p);
    void Write(BYTE* p) const;
    bool HasTag(const char* name) const;
};

// Where directory slot `slot` starts in a file.
inline uint64_t TableRecordAt(uint64_t slot) { return kOffsetTableSize + kTableRecordSize * slot; }

// The bytes directory slot `slot` takes in a file.
inline Extent TableRecordExtent(uint64_t slot) {
    return Extent{TableRecordAt(slot), TableRecordAt(slot) + kTableRecordSize};
}

// Writes record into directory slot `slot` of an image of length bytes;
// false, writing nothing, when the slot is not inside the image.
bool WriteTableRecord(BYTE* image, uint64_t length, uint64_t slot, const TableRecord& record);


// One table of the font: its directory record and, once the revised font is
// built, its revised form.
class CTagObject : public COpenTypeObject {
public:
    CTagObject();
    ~CTagObject() override;
    CTagObject(const CTagObject&) = delete;
    CTagObject& operator=(const CTagObject&) = delete;

    // Fills the object from the 16-byte record.  m_pData points at the table
    // only when the whole table (m_length bytes at m_offset) lies inside the
    // image of imageLength bytes, and is null otherwise.  Returns m_paddedLength.
    int32_t ReadRecord(const BYTE* record, const BYTE* image, uint32_t imageLength);

    // True when the table's bytes lie inside the image it was read from.
    bool HasData() const { return m_pData != nullptr; }

    // Forms the revised table from the old one and a difference record in
    // the place the builder gave it: m_pNewData, with m_newDataSize bytes of
    // the revised image from there on.  The table's bytes and its padding are
    // written there, nothing past them; 0 when the table does not fit or its
    // blocks reach outside the old table.
    int ApplyDifference(CSabunTagObject* record);

    BYTE m_tag[4];
    uint32_t m_checkSum = 0;
    uint32_t m_offset = 0;
    uint32_t m_length = 0;       // unpadded
    char m_tagName[5];           // the tag as text, for look-ups by name
    int32_t m_paddedLength = 0;  // the length a checksum covers
    const BYTE* m_pData = nullptr;  // the table inside the file image; not owned
    int32_t m_fileIndex = 0;   // directory slot: in the installed font, later in the revised one
    int32_t m_sortedIndex = 0;  // rank in data order, likewise

    // Not owned: the table's place in the revised image while it is built
    // (null otherwise), where it is formed and zero-padded to m_paddedLength.
    BYTE* m_pNewData = nullptr;
    BYTE m_newTag[4];
    uint32_t m_newCheckSum = 0;
    uint32_t m_newOffset = 0;
    uint32_t m_newLength = 0;
    uint32_t m_newDataSize = 0;  // bytes of the revised image from m_pNewData on
};

// The first of tags, in their order, whose tag is tagName; or null.
CTagObject* FindTagIn(const CTypedPtrArray<CObArray, CTagObject*>& tags, const char* tagName);

// A font as loading leaves it: the image, its offset table and one table
// object per directory record, pointing into the image.  What the checks,
// the digests and the build take from the installed font.
struct LoadedFont {
    const BYTE* image = nullptr;
    uint32_t length = 0;
    const COpenTypeHeader* header = nullptr;
    const CTypedPtrArray<CObArray, CTagObject*>* tags = nullptr;  // directory order

    CTagObject* FindTag(const char* tagName) const { return FindTagIn(*tags, tagName); }
    INT_PTR TagCount() const { return tags->GetSize(); }
};

// The seventeen tables the engine can revise.
bool IsKnownTag(const char* tagName);

// Order of tables by file offset; never 0, so the sort is total.
int CompareTagOffsets(const void* a, const void* b);
