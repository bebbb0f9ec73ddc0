#include "tests/support/builders.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>

namespace testdata {

void PutU16(Bytes& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

void PutU32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

void AppendU16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

void AppendU32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (24 - 8 * i)));
}

uint16_t GetU16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] << 8 | b[at + 1]); }

uint32_t GetU32(const Bytes& b, size_t at) {
    return static_cast<uint32_t>(b[at]) << 24 | static_cast<uint32_t>(b[at + 1]) << 16 |
           static_cast<uint32_t>(b[at + 2]) << 8 | b[at + 3];
}

Bytes BytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

uint32_t Checksum(const uint8_t* data, size_t len) {
    uint32_t sum = 0;
    for (size_t i = 0; i < len; i += 4) {
        uint32_t word = 0;
        for (size_t k = 0; k < 4; ++k) word = word << 8 | (i + k < len ? data[i + k] : 0);
        sum += word;
    }
    return sum;
}

uint32_t WordSum(const Bytes& b) { return Checksum(b.data(), b.size() / 4 * 4); }

Bytes HeadTable(uint32_t fontRevision, uint32_t checkSumAdjustment) {
    Bytes h(54, 0);
    PutU32(h, 0, 0x00010000);
    PutU32(h, 4, fontRevision);
    PutU32(h, 8, checkSumAdjustment);
    PutU32(h, 12, 0x5F0F3CF5);
    PutU16(h, 16, 0x0003);
    PutU16(h, 18, 1000);
    for (int i = 20; i < 36; ++i) h[i] = static_cast<uint8_t>(i);  // created, modified
    PutU16(h, 36, static_cast<uint16_t>(-100));
    PutU16(h, 38, static_cast<uint16_t>(-120));
    PutU16(h, 40, 1000);
    PutU16(h, 42, 880);
    PutU16(h, 46, 3);
    PutU16(h, 48, 2);
    return h;
}

NameTable& NameTable::Add(uint16_t platform, uint16_t encoding, uint16_t language, uint16_t nameID,
                          const Bytes& text) {
    m_records.push_back(Record{platform, encoding, language, nameID, text});
    return *this;
}

NameTable& NameTable::Mac(uint16_t nameID, const std::string& text) { return Add(1, 0, 0, nameID, BytesOf(text)); }

NameTable& NameTable::Win(uint16_t nameID, const std::string& text, uint16_t language) {
    Bytes utf16;
    for (char c : text) {
        utf16.push_back(0);
        utf16.push_back(static_cast<uint8_t>(c));
    }
    return Add(3, 1, language, nameID, utf16);
}

NameTable& NameTable::ShareWith(size_t earlierRecord) {
    m_records.back().sharedWith = static_cast<int>(earlierRecord);
    return *this;
}

NameTable& NameTable::SetLastLength(uint16_t length) {
    m_records.back().lengthOverride = length;
    return *this;
}

NameTable& NameTable::SetLastOffset(uint16_t offset) {
    m_records.back().offsetOverride = offset;
    return *this;
}

NameTable& NameTable::Count(uint16_t count) {
    m_count = count;
    return *this;
}

NameTable& NameTable::StringOffset(uint16_t offset) {
    m_stringOffset = offset;
    return *this;
}

Bytes NameTable::Build() const {
    Bytes t;
    const uint16_t count = m_count >= 0 ? static_cast<uint16_t>(m_count) : static_cast<uint16_t>(m_records.size());
    const uint16_t stringOffset = m_stringOffset >= 0 ? static_cast<uint16_t>(m_stringOffset)
                                                      : static_cast<uint16_t>(6 + 12 * m_records.size());
    AppendU16(t, 0);
    AppendU16(t, count);
    AppendU16(t, stringOffset);
    Bytes storage;
    std::vector<uint16_t> offsets;
    for (const Record& r : m_records) {
        uint16_t offset;
        if (r.sharedWith >= 0) {
            offset = offsets[static_cast<size_t>(r.sharedWith)];
        } else {
            offset = static_cast<uint16_t>(storage.size());
            storage.insert(storage.end(), r.text.begin(), r.text.end());
        }
        offsets.push_back(offset);
        AppendU16(t, r.platform);
        AppendU16(t, r.encoding);
        AppendU16(t, r.language);
        AppendU16(t, r.nameID);
        AppendU16(t, r.lengthOverride >= 0 ? static_cast<uint16_t>(r.lengthOverride) : static_cast<uint16_t>(r.text.size()));
        AppendU16(t, r.offsetOverride >= 0 ? static_cast<uint16_t>(r.offsetOverride) : offset);
    }
    t.insert(t.end(), storage.begin(), storage.end());
    return t;
}

Bytes StandardNameTable(const std::string& fullName, const std::string& macSerial, const std::string& winSerial) {
    NameTable n;
    n.Mac(0, "Copyright test foundry")  // 0
        .Mac(1, "Sorame Test")           // 1
        .Mac(2, "Regular")               // 2
        .Mac(3, "TestFoundry: " + fullName)
        .Mac(4, fullName)   // 4: the fifth record
        .Mac(13, macSerial)  // 5
        .Add(1, 1, 11, 2, BytesOf("Regular")).ShareWith(2)
        .Win(1, "Sorame Test")  // 7
        .Win(2, "Regular")      // 8
        .Win(4, fullName)       // 9
        .Win(6, fullName).ShareWith(9)
        .Win(13, winSerial)
        .Win(2, "Regular", 0x411).ShareWith(8);
    return n.Build();
}

FontBuilder& FontBuilder::SfntVersion(uint32_t v) {
    m_sfnt = v;
    return *this;
}

FontBuilder& FontBuilder::Table(const std::string& tag, const Bytes& data) {
    m_tables.push_back(Entry{tag, data});
    return *this;
}

FontBuilder& FontBuilder::DataOrder(const std::vector<size_t>& order) {
    m_order = order;
    return *this;
}

FontBuilder& FontBuilder::NumTables(uint16_t n) {
    m_numTables = n;
    return *this;
}

FontBuilder& FontBuilder::Garbage(uint8_t fill) {
    m_padding = fill;
    return *this;
}

FontBuilder& FontBuilder::SetOffset(size_t index, uint32_t offset) {
    m_tables[index].offsetOverride = offset;
    return *this;
}

FontBuilder& FontBuilder::SetLength(size_t index, uint32_t length) {
    m_tables[index].lengthOverride = length;
    return *this;
}

FontBuilder& FontBuilder::FixChecksums(bool on) {
    m_fixChecksums = on;
    return *this;
}

Bytes FontBuilder::Build() const {
    const size_t n = m_tables.size();
    std::vector<size_t> order = m_order;
    if (order.empty()) {
        order.resize(n);
        std::iota(order.begin(), order.end(), 0);
    }
    Bytes f(12 + 16 * n, 0);
    PutU32(f, 0, m_sfnt);
    PutU16(f, 4, m_numTables >= 0 ? static_cast<uint16_t>(m_numTables) : static_cast<uint16_t>(n));
    uint16_t pow2 = 1, log2 = 0;
    while (pow2 * 2 <= n) {
        pow2 *= 2;
        ++log2;
    }
    PutU16(f, 6, static_cast<uint16_t>(pow2 * 16));
    PutU16(f, 8, log2);
    PutU16(f, 10, static_cast<uint16_t>(n * 16 - pow2 * 16));

    std::vector<uint32_t> offsets(n, 0);
    for (size_t k : order) {
        offsets[k] = static_cast<uint32_t>(f.size());
        f.insert(f.end(), m_tables[k].data.begin(), m_tables[k].data.end());
        while (f.size() % 4) f.push_back(m_padding);
    }
    size_t headAt = SIZE_MAX;
    for (size_t i = 0; i < n; ++i) {
        const Entry& e = m_tables[i];
        size_t r = 12 + 16 * i;
        for (size_t k = 0; k < 4; ++k) f[r + k] = k < e.tag.size() ? static_cast<uint8_t>(e.tag[k]) : ' ';
        uint32_t offset = e.offsetOverride >= 0 ? static_cast<uint32_t>(e.offsetOverride) : offsets[i];
        uint32_t length = e.lengthOverride >= 0 ? static_cast<uint32_t>(e.lengthOverride)
                                                : static_cast<uint32_t>(e.data.size());
        PutU32(f, r + 8, offset);
        PutU32(f, r + 12, length);
        if (e.tag == "head" && headAt == SIZE_MAX) headAt = offsets[i];
    }
    if (m_fixChecksums) {
        if (headAt != SIZE_MAX) PutU32(f, headAt + 8, 0);
        for (size_t i = 0; i < n; ++i) {
            PutU32(f, 12 + 16 * i + 4, Checksum(f.data() + offsets[i], m_tables[i].data.size()));
        }
        if (headAt != SIZE_MAX) PutU32(f, headAt + 8, 0xB1B0AFBAu - WordSum(f));
    }
    return f;
}

Bytes SmallFont(uint32_t fontRevision, const std::string& fullName, const std::string& macSerial,
                const std::string& winSerial) {
    Bytes cff = BytesOf("CFF-DATA-FOR-TESTS-");
    for (int i = 0; i < 200; ++i) cff.push_back(static_cast<uint8_t>(i * 7));
    Bytes os2(96, 0x22), cmap(40, 0x33), hhea(36, 0x44), hmtx(64, 0x55), maxp(6, 0x66), post(32, 0x77);
    return FontBuilder()
        .Table("CFF ", cff)
        .Table("OS/2", os2)
        .Table("cmap", cmap)
        .Table("head", HeadTable(fontRevision))
        .Table("hhea", hhea)
        .Table("hmtx", hmtx)
        .Table("maxp", maxp)
        .Table("name", StandardNameTable(fullName, macSerial, winSerial))
        .Table("post", post)
        .Build();
}

Bytes ClaimingNameFont(uint32_t fontRevision, uint32_t records, uint16_t claimed, uint32_t tableLength,
                       int nameEntries) {
    Bytes name;
    AppendU16(name, 0);
    AppendU16(name, static_cast<uint16_t>(records));
    AppendU16(name, 0);  // storage from the table's first byte, over the records
    for (uint32_t i = 0; i < records; ++i) {
        for (uint16_t field : {uint16_t{1}, uint16_t{0}, uint16_t{0}, uint16_t{4}, claimed, uint16_t{0}}) {
            AppendU16(name, field);
        }
    }
    // The table must hold one claimed string for it to be read at all.
    const size_t needed = std::max<size_t>({name.size(), claimed, tableLength});
    name.resize(needed, 'N');

    const Bytes head = HeadTable(fontRevision);
    const uint32_t directory = 12 + 16 * (1 + static_cast<uint32_t>(nameEntries));
    const uint32_t headOffset = directory;
    const uint32_t nameOffset = headOffset + 56;
    Bytes font;
    AppendU32(font, 0x4F54544F);
    AppendU16(font, static_cast<uint16_t>(1 + nameEntries));
    for (int i = 0; i < 3; ++i) AppendU16(font, 0);
    auto record = [&](const char* tag, uint32_t offset, uint32_t length) {
        font.insert(font.end(), tag, tag + 4);
        AppendU32(font, 0);
        AppendU32(font, offset);
        AppendU32(font, length);
    };
    record("head", headOffset, static_cast<uint32_t>(head.size()));
    for (int i = 0; i < nameEntries; ++i) record("name", nameOffset, static_cast<uint32_t>(name.size()));
    font.insert(font.end(), head.begin(), head.end());
    font.resize(nameOffset, 0);
    font.insert(font.end(), name.begin(), name.end());
    font.resize((font.size() + 3) & ~size_t{3}, 0);
    return font;
}

DiffFileRecord Entry(const char* fontName, uint32_t fromRevision) {
    DiffFileRecord e;
    std::memset(&e, 0, sizeof e);
    std::snprintf(e.fontName, sizeof e.fontName, "%s", fontName);
    e.fromRevision = static_cast<int>(fromRevision);
    return e;
}

DiffBuilder& DiffBuilder::Magic(const std::string& m) {
    m_magic = m;
    return *this;
}

DiffBuilder& DiffBuilder::FontName(const std::string& name) {
    m_fontName = name;
    return *this;
}

DiffBuilder& DiffBuilder::FromRevision(uint32_t r) {
    m_fromRevision = r;
    return *this;
}

DiffBuilder& DiffBuilder::NewFileLength(uint32_t n) {
    m_newFileLength = n;
    return *this;
}

DiffBuilder& DiffBuilder::TableCount(uint8_t n) {
    m_tableCount = n;
    return *this;
}

DiffBuilder& DiffBuilder::Record(const DiffRecord& r) {
    m_records.push_back(r);
    return *this;
}

Bytes DiffBuilder::Build() const {
    Bytes d;
    for (size_t i = 0; i < 4; ++i) d.push_back(i < m_magic.size() ? static_cast<uint8_t>(m_magic[i]) : 0);
    for (size_t i = 0; i < 32; ++i) d.push_back(i < m_fontName.size() ? static_cast<uint8_t>(m_fontName[i]) : 0);
    AppendU32(d, m_fromRevision);
    AppendU32(d, m_newFileLength);
    d.push_back(m_tableCount >= 0 ? static_cast<uint8_t>(m_tableCount) : static_cast<uint8_t>(m_records.size()));
    for (int i = 0; i < 8; ++i) d.push_back(static_cast<uint8_t>(0xA0 + i));  // reserved1, reserved2
    const size_t recordsAt = d.size();
    d.resize(d.size() + 18 * m_records.size(), 0);
    for (size_t i = 0; i < m_records.size(); ++i) {
        const DiffRecord& r = m_records[i];
        size_t at = recordsAt + 18 * i;
        for (size_t k = 0; k < 4; ++k) d[at + k] = k < r.tag.size() ? static_cast<uint8_t>(r.tag[k]) : ' ';
        d[at + 4] = r.newIndex;
        d[at + 5] = r.newSortedIndex;
        uint32_t dataOffset = 0;
        if (!r.unchanged) {
            dataOffset = static_cast<uint32_t>(d.size());
            AppendU32(d, r.copyCountOverride >= 0 ? static_cast<uint32_t>(r.copyCountOverride)
                                                  : static_cast<uint32_t>(r.copies.size()));
            for (const CopyBlock& c : r.copies) {
                AppendU32(d, c.srcOffset);
                AppendU32(d, c.length);
                AppendU32(d, c.dstOffset);
            }
            AppendU32(d, r.literalCountOverride >= 0 ? static_cast<uint32_t>(r.literalCountOverride)
                                                     : static_cast<uint32_t>(r.literals.size()));
            for (const LiteralBlock& l : r.literals) {
                AppendU32(d, l.dstOffset);
                AppendU32(d, l.lengthOverride >= 0 ? static_cast<uint32_t>(l.lengthOverride)
                                                   : static_cast<uint32_t>(l.bytes.size()));
                d.insert(d.end(), l.bytes.begin(), l.bytes.end());
            }
        }
        if (r.dataOffsetOverride >= 0) dataOffset = static_cast<uint32_t>(r.dataOffsetOverride);
        PutU32(d, at + 6, dataOffset);
        PutU32(d, at + 10, r.newLength);
        PutU32(d, at + 14, r.newOffset);
    }
    return d;
}

}  // namespace testdata
