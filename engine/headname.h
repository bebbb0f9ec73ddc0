// The two tables read field by field: head (for the installed revision) and
// name (for the font's name and its serial-number strings).
//
// Name strings are never decoded: a record holds the raw bytes of its string
// (8-bit text on the Macintosh platform, UTF-16BE on Windows).
//
// A name table comes from outside.  Its 16-bit counts and lengths can claim
// far more than the table holds once strings are shared or re-packed, so the
// model keeps only the first bytes of each string that anything reads (the
// font name and the serial strings), re-serialises from the table's own
// bytes, and refuses a table whose re-serialised form its 16-bit offsets
// could not address.
#pragma once

#include <cstdint>

#include "engine/fontview.h"
#include "engine/otmodel.h"

static const uint32_t kHeadTableSize = 54;
static const uint32_t kNameStringKept = 260;
static const uint16_t kLicenseNameID = 13;  // the serial-number strings
// Where head.checkSumAdjustment lies in the head table.
static const uint32_t kHeadAdjustmentOffset = 8;
static const uint16_t kPlatformMacintosh = 1;

class CHeadInfoObject : public COpenTypeObject {
public:
    // Reads the 54-byte table at head; the caller has checked that it is there.
    void Parse(const BYTE* head);

    uint32_t m_version = 0;       // 16.16 bits
    uint32_t m_fontRevision = 0;  // 16.16 bits, compared raw
    uint32_t m_checkSumAdjustment = 0;
    uint32_t m_magicNumber = 0;
    uint16_t m_flags = 0;
    uint16_t m_unitsPerEm = 0;
    BYTE m_created[8] = {};   // file byte order
    BYTE m_modified[8] = {};  // file byte order
    int16_t m_xMin = 0, m_yMin = 0, m_xMax = 0, m_yMax = 0;
    uint16_t m_macStyle = 0;
    uint16_t m_lowestRecPPEM = 0;
    int16_t m_fontDirectionHint = 0;
    int16_t m_indexToLocFormat = 0;
    int16_t m_glyphDataFormat = 0;
};

class CTagHeadObject : public CTagObject {
public:
    // Parses the head table of the image; false (nothing parsed) when the
    // record's table is not inside the image or is shorter than a head table.
    bool ReadTable(const BYTE* image);

    CHeadInfoObject m_headInfo;
};

class CNameRecordObject : public COpenTypeObject {
public:
    // Takes the record over, with its string from the string storage at
    // table + storageStart.  The caller has checked that the string lies
    // inside the table.
    void Parse(const NameRecord& record, const BYTE* table, uint32_t storageStart);

    uint16_t m_platformID = 0;
    uint16_t m_encodingID = 0;
    uint16_t m_languageID = 0;
    uint16_t m_nameID = 0;
    uint16_t m_stringLength = 0;
    uint16_t m_storageOffset = 0;
    // The first kNameStringKept bytes of the string, zero-filled beyond its
    // length and always followed by a zero byte: the font name and the serial
    // strings are read through 255-byte buffers, so nothing reads further.
    BYTE m_string[kNameStringKept + 1];
    // Where the whole string starts in the table it was parsed from.
    uint32_t m_stringStart = 0;
};

class CNameTableObject : public CTagObject {
public:
    ~CNameTableObject() override;

    // Reads the table of tableLength bytes.  A table whose records or strings
    // reach past its end is malformed, and one that cannot be held for want
    // of memory is refused: Parse then keeps no record and returns FALSE.
    BOOL Parse(const BYTE* table, uint32_t tableLength);
    // Sizes the re-serialised table.  False (and m_totalSize 0) when a
    // string of it would start beyond what a 16-bit offset reaches: such a
    // table cannot be written back, and no font of ours has one.
    bool ComputeSize();
    // Writes the re-serialised table, m_totalSize bytes at out, taking the
    // strings from the table Parse read, which must still be there.  Writes
    // nothing when ComputeSize refused the table.
    void Write(BYTE* out) const;
    void DeleteRecords();

    // Writes the serial strings over every license string (name ID 13) of
    // the table of tableLength bytes at table: macSerial on the Macintosh
    // platform, winSerial on the others, each cut or zero-filled to the
    // string's own length.  Records and strings that reach past the table's
    // end are left as they are.  Neither buffer is read past its 255 bytes.
    static void PutSerialStrings(BYTE* table, uint32_t tableLength, const char* macSerial, const char* winSerial);

    CNameRecordObject* Record(INT_PTR index) const { return m_records.GetAt(index); }

    uint16_t m_nameFormat = 0;
    uint16_t m_count = 0;
    uint16_t m_stringOffset = 0;
    CTypedPtrArray<CObArray, CNameRecordObject*> m_records;  // owned, in table order
    const BYTE* m_pSource = nullptr;  // the table last parsed; not owned
    bool m_addressable = false;       // ComputeSize accepted the table
    int32_t m_totalSize = 0;
    int32_t m_headerSize = 0;   // 6 + 12 * count
    int32_t m_stringBytes = 0;  // string storage of the re-serialised table
};

class CTagNameObject : public CTagObject {
public:
    CTagNameObject() = default;
    ~CTagNameObject() override;

    // Reads, re-serialises and checksums the name table; returns the new
    // m_checkSum.  A table outside the image, or a malformed one, leaves no
    // records (so no fifth record and no serial strings) and returns 0.
    uint32_t ReadTable(const BYTE* image);

    // 1 with the fifth record's string in out (255 bytes, always terminated);
    // 0 when there is no fifth record or its string is empty.
    int GetFifthRecordString(char* out) const;

    // Copies the first Macintosh (1,0,0,13) and Windows (3,1,0x409,13) serial
    // strings into the zero-filled 255-byte buffers, cut to 255 bytes; 1 when
    // both were found.
    int GetSerialStrings(char* macOut, char* winOut) const;

    CNameTableObject m_nameTable;
    BYTE* m_pTableData = nullptr;  // owned: the re-serialised table
};

static const int kSerialBufferSize = 255;
