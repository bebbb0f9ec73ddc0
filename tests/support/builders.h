// Readable test inputs: fonts and difference files stated field by field.
//
//   auto font = FontBuilder()
//       .Table("head", HeadTable(0x00010000))
//       .Table("name", NameTable().Mac(4, "Sorame Gothic W3").Build())
//       .Build();
//
// The builders write well-formed data unless told otherwise; each knob that
// breaks a rule is named after the rule it breaks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/types.h"

namespace testdata {

using Bytes = std::vector<uint8_t>;

void PutU16(Bytes& b, size_t at, uint16_t v);
void PutU32(Bytes& b, size_t at, uint32_t v);
void AppendU16(Bytes& b, uint16_t v);
void AppendU32(Bytes& b, uint32_t v);
uint16_t GetU16(const Bytes& b, size_t at);
uint32_t GetU32(const Bytes& b, size_t at);
Bytes BytesOf(const std::string& s);
// The OpenType checksum of len bytes at data, padded with zeros.
uint32_t Checksum(const uint8_t* data, size_t len);
// Word sum of a whole file (trailing bytes ignored).
uint32_t WordSum(const Bytes& b);

// A 54-byte head table.
Bytes HeadTable(uint32_t fontRevision, uint32_t checkSumAdjustment = 0);

class NameTable {
public:
    NameTable& Add(uint16_t platform, uint16_t encoding, uint16_t language, uint16_t nameID, const Bytes& text);
    // Platform 1, encoding 0, language 0, 8-bit text.
    NameTable& Mac(uint16_t nameID, const std::string& text);
    // Platform 3, encoding 1, language 0x409, the ASCII text as UTF-16BE.
    NameTable& Win(uint16_t nameID, const std::string& text, uint16_t language = 0x409);
    // Let a record point at the string of an earlier record instead of
    // storing its own (index of the earlier record).
    NameTable& ShareWith(size_t earlierRecord);
    // Raw override of the last record's length or offset field.
    NameTable& SetLastLength(uint16_t length);
    NameTable& SetLastOffset(uint16_t offset);
    NameTable& Count(uint16_t count);           // stated count, whatever the records
    NameTable& StringOffset(uint16_t offset);  // stated stringOffset
    Bytes Build() const;

private:
    struct Record {
        uint16_t platform, encoding, language, nameID;
        Bytes text;
        int sharedWith = -1;
        int lengthOverride = -1;
        int offsetOverride = -1;
    };
    std::vector<Record> m_records;
    int m_count = -1;
    int m_stringOffset = -1;
};

// The standard name table of the test fonts: Macintosh records 0..4 first
// (the fifth record is the Macintosh full name), serial strings for both
// platforms, and the Windows records that share their siblings' strings.
Bytes StandardNameTable(const std::string& fullName, const std::string& macSerial, const std::string& winSerial);

class FontBuilder {
public:
    FontBuilder& SfntVersion(uint32_t v);
    // Tables in directory order; data is laid out in the same order unless
    // DataOrder says otherwise.
    FontBuilder& Table(const std::string& tag, const Bytes& data);
    FontBuilder& DataOrder(const std::vector<size_t>& order);  // indexes into the directory
    FontBuilder& NumTables(uint16_t n);                         // stated count, whatever the records
    FontBuilder& Garbage(uint8_t fill);                          // padding bytes between tables
    FontBuilder& SetOffset(size_t index, uint32_t offset);      // raw record fields
    FontBuilder& SetLength(size_t index, uint32_t length);
    FontBuilder& FixChecksums(bool on);                          // table checksums and the adjustment
    Bytes Build() const;

private:
    struct Entry {
        std::string tag;
        Bytes data;
        int64_t offsetOverride = -1;
        int64_t lengthOverride = -1;
    };
    uint32_t m_sfnt = 0x4F54544F;
    std::vector<Entry> m_tables;
    std::vector<size_t> m_order;
    int m_numTables = -1;
    uint8_t m_padding = 0;
    bool m_fixChecksums = true;
};

// A small, well-formed target font.
Bytes SmallFont(uint32_t fontRevision, const std::string& fullName, const std::string& macSerial = "MAC-SERIAL-0001",
                const std::string& winSerial = "WIN-SERIAL-0001");

// A font of one head table and one name table whose records each claim a
// string far longer than the table could hold once re-packed: `records`
// records (all Macintosh name ID 4), each claiming the `claimed` bytes from
// the table's first byte (storage offset 0, string offset 0); the table is
// padded to hold them, or to `tableLength` bytes when that is longer.  `nameEntries`
// directory entries all point at that one table.  The shapes that once
// overran or exhausted the name-table model.
Bytes ClaimingNameFont(uint32_t fontRevision, uint32_t records, uint16_t claimed, uint32_t tableLength = 0,
                       int nameEntries = 1);

// The search's record of a difference file, as identification sees it.
DiffFileRecord Entry(const char* fontName, uint32_t fromRevision);

// Difference files.
struct CopyBlock {
    uint32_t srcOffset, length, dstOffset;
};
struct LiteralBlock {
    uint32_t dstOffset;
    Bytes bytes;
    int64_t lengthOverride = -1;  // stated length, whatever the bytes
};
struct DiffRecord {
    std::string tag;
    uint8_t newIndex = 0;
    uint8_t newSortedIndex = 0;
    uint32_t newLength = 0;
    uint32_t newOffset = 0;
    bool unchanged = true;  // dataOffset 0
    std::vector<CopyBlock> copies;
    std::vector<LiteralBlock> literals;
    int64_t dataOffsetOverride = -1;
    int64_t copyCountOverride = -1;
    int64_t literalCountOverride = -1;
};

class DiffBuilder {
public:
    DiffBuilder& Magic(const std::string& m);
    DiffBuilder& FontName(const std::string& name);  // up to 32 bytes
    DiffBuilder& FromRevision(uint32_t r);
    DiffBuilder& NewFileLength(uint32_t n);
    DiffBuilder& TableCount(uint8_t n);  // stated count, whatever the records
    DiffBuilder& Record(const DiffRecord& r);
    Bytes Build() const;

private:
    std::string m_magic = "RVDF";
    std::string m_fontName;
    uint32_t m_fromRevision = 0x00010000;
    uint32_t m_newFileLength = 0;
    int m_tableCount = -1;
    std::vector<DiffRecord> m_records;
};

}  // namespace testdata
