#include "tools/paproducer/paproducer.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace paproducer {

namespace {

using Bytes = std::vector<uint8_t>;

const uint32_t kCffSignature = 0x4F54544F;  // "OTTO"
const size_t kHeaderSize = 53;
const size_t kRecordSize = 18;
const size_t kFontNameSize = 32;

uint16_t U16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] << 8 | b[at + 1]); }

uint32_t U32(const Bytes& b, size_t at) {
    return static_cast<uint32_t>(b[at]) << 24 | static_cast<uint32_t>(b[at + 1]) << 16 |
           static_cast<uint32_t>(b[at + 2]) << 8 | b[at + 3];
}

void PutU32(Bytes& b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

void AppendU32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (24 - 8 * i)));
}

bool Fits(size_t size, uint64_t offset, uint64_t length) { return offset <= size && length <= size - offset; }

struct Table {
    std::string tag;
    uint32_t offset = 0;
    uint32_t length = 0;
};

bool ReadDirectory(const Bytes& font, const char* which, std::vector<Table>* tables, std::string* error) {
    if (font.size() < 12 || U32(font, 0) != kCffSignature) {
        *error = std::string(which) + " font is not CFF OpenType";
        return false;
    }
    const size_t count = U16(font, 4);
    if (!Fits(font.size(), 12, 16 * static_cast<uint64_t>(count))) {
        *error = std::string(which) + " font's table directory is cut off";
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        const size_t at = 12 + 16 * i;
        Table t;
        t.tag.assign(reinterpret_cast<const char*>(font.data() + at), 4);
        t.offset = U32(font, at + 8);
        t.length = U32(font, at + 12);
        if (!Fits(font.size(), t.offset, t.length)) {
            *error = std::string(which) + " font's table '" + t.tag + "' lies outside the file";
            return false;
        }
        for (const Table& earlier : *tables) {
            if (earlier.tag == t.tag) {
                *error = std::string(which) + " font has table '" + t.tag + "' twice";
                return false;
            }
        }
        tables->push_back(t);
    }
    return true;
}

const Table* Find(const std::vector<Table>& tables, const std::string& tag) {
    for (const Table& t : tables) {
        if (t.tag == tag) return &t;
    }
    return nullptr;
}

// The string of the name table's fifth record, cut to the header's 32 bytes;
// empty when the font has no such record.
std::string FifthNameString(const Bytes& font, const std::vector<Table>& tables) {
    const Table* name = Find(tables, "name");
    if (!name || name->length < 6) return std::string();
    const size_t t = name->offset;
    const size_t count = U16(font, t + 2);
    const size_t storage = U16(font, t + 4);
    if (count < 5 || !Fits(name->length, 6 + 12 * 4, 12)) return std::string();
    const size_t record = t + 6 + 12 * 4;
    const size_t length = U16(font, record + 8);
    const size_t offset = storage + U16(font, record + 10);
    if (!Fits(name->length, offset, length)) return std::string();
    std::string text(reinterpret_cast<const char*>(font.data() + t + offset), std::min(length, kFontNameSize));
    return text.substr(0, text.find('\0'));
}

// Finds the runs that a new table shares with the old one.  The old table is
// indexed by the hash of each aligned block; the new table is scanned with a
// rolling hash, and every verified hit is grown in both directions.
class Matcher {
public:
    struct Copy {
        uint32_t src, length, dst;
    };
    struct Literal {
        uint32_t dst, length;
    };

    Matcher(const uint8_t* old, size_t oldLength) : m_old(old), m_oldLength(oldLength) {
        const size_t blocks = oldLength / kBlock;
        size_t slots = 16;
        while (slots < blocks * 2) slots *= 2;
        m_mask = slots - 1;
        m_slots.assign(slots, 0);
        for (size_t b = 0; b < blocks; ++b) {
            const uint64_t h = Hash(old + b * kBlock);
            for (size_t s = Slot(h);; s = (s + 1) & m_mask) {
                if (m_slots[s] == 0) {
                    m_slots[s] = b + 1;
                    break;
                }
                // The first of equal blocks is enough.
                if (Hash(old + (m_slots[s] - 1) * kBlock) == h) break;
            }
        }
        m_topPower = 1;
        for (size_t i = 1; i < kBlock; ++i) m_topPower *= kBase;
    }

    void Match(const uint8_t* now, size_t length, std::vector<Copy>* copies, std::vector<Literal>* literals) const {
        size_t literalStart = 0;
        size_t p = 0;
        uint64_t h = length >= kBlock ? Hash(now) : 0;
        while (m_oldLength >= kBlock && p + kBlock <= length) {
            size_t src = 0;
            if (Lookup(h, now + p, &src)) {
                size_t start = p, from = src;
                while (start > literalStart && from > 0 && now[start - 1] == m_old[from - 1]) {
                    --start;
                    --from;
                }
                size_t end = p + kBlock, to = src + kBlock;
                while (end < length && to < m_oldLength && now[end] == m_old[to]) {
                    ++end;
                    ++to;
                }
                if (start > literalStart) {
                    literals->push_back(Literal{static_cast<uint32_t>(literalStart),
                                                static_cast<uint32_t>(start - literalStart)});
                }
                copies->push_back(Copy{static_cast<uint32_t>(from), static_cast<uint32_t>(end - start),
                                       static_cast<uint32_t>(start)});
                p = literalStart = end;
                if (p + kBlock <= length) h = Hash(now + p);
                continue;
            }
            if (p + kBlock < length) h = (h - now[p] * m_topPower) * kBase + now[p + kBlock];
            ++p;
        }
        if (literalStart < length) {
            literals->push_back(
                Literal{static_cast<uint32_t>(literalStart), static_cast<uint32_t>(length - literalStart)});
        }
    }

private:
    static const size_t kBlock = 32;
    static const uint64_t kBase = 0x100000001B3ull;

    static uint64_t Hash(const uint8_t* p) {
        uint64_t h = 0;
        for (size_t i = 0; i < kBlock; ++i) h = h * kBase + p[i];
        return h;
    }

    size_t Slot(uint64_t h) const { return static_cast<size_t>((h * 0x9E3779B97F4A7C15ull) >> 20) & m_mask; }

    bool Lookup(uint64_t h, const uint8_t* block, size_t* src) const {
        for (size_t s = Slot(h); m_slots[s] != 0; s = (s + 1) & m_mask) {
            const size_t at = (m_slots[s] - 1) * kBlock;
            if (Hash(m_old + at) != h) continue;
            if (std::memcmp(m_old + at, block, kBlock) != 0) return false;
            *src = at;
            return true;
        }
        return false;
    }

    const uint8_t* m_old;
    size_t m_oldLength;
    std::vector<size_t> m_slots;  // block number + 1, 0 for empty
    size_t m_mask = 0;
    uint64_t m_topPower = 1;
};

}  // namespace

Bytes MakeDifference(const Bytes& oldFont, const Bytes& newFont, std::string* error, DifferenceStats* stats) {
    std::string ignored;
    if (!error) error = &ignored;
    DifferenceStats localStats;
    if (!stats) stats = &localStats;
    *stats = DifferenceStats();

    std::vector<Table> oldTables, newTables;
    if (!ReadDirectory(oldFont, "old", &oldTables, error)) return Bytes();
    if (!ReadDirectory(newFont, "new", &newTables, error)) return Bytes();
    if (newTables.size() != oldTables.size() || newTables.size() > 255) {
        *error = "the fonts do not have the same set of tables";
        return Bytes();
    }
    for (const Table& t : newTables) {
        if (!Find(oldTables, t.tag)) {
            *error = "the old font has no table '" + t.tag + "'";
            return Bytes();
        }
    }
    if (newFont.size() > 0xFFFFFFF0u) {
        *error = "the new font is too large";
        return Bytes();
    }

    Bytes out(kHeaderSize + kRecordSize * newTables.size(), 0);
    std::memcpy(out.data(), "RVDF", 4);
    const std::string fontName = FifthNameString(oldFont, oldTables);
    std::memcpy(out.data() + 4, fontName.data(), fontName.size());
    const Table* head = Find(oldTables, "head");
    PutU32(out, 36, head && head->length >= 8 ? U32(oldFont, head->offset + 4) : 0);
    PutU32(out, 40, static_cast<uint32_t>((newFont.size() + 3) / 4 * 4));
    out[44] = static_cast<uint8_t>(newTables.size());

    std::vector<size_t> byOffset(newTables.size());
    std::iota(byOffset.begin(), byOffset.end(), 0);
    std::stable_sort(byOffset.begin(), byOffset.end(),
                     [&](size_t a, size_t b) { return newTables[a].offset < newTables[b].offset; });
    std::vector<uint8_t> rank(newTables.size());
    for (size_t r = 0; r < byOffset.size(); ++r) rank[byOffset[r]] = static_cast<uint8_t>(r);

    for (size_t i = 0; i < newTables.size(); ++i) {
        const Table& now = newTables[i];
        const Table& old = *Find(oldTables, now.tag);
        const size_t at = kHeaderSize + kRecordSize * i;
        std::memcpy(out.data() + at, now.tag.data(), 4);
        out[at + 4] = static_cast<uint8_t>(i);
        out[at + 5] = rank[i];
        PutU32(out, at + 10, now.length);
        PutU32(out, at + 14, now.offset);

        const uint8_t* oldBytes = oldFont.data() + old.offset;
        const uint8_t* newBytes = newFont.data() + now.offset;
        if (old.length == now.length && std::memcmp(oldBytes, newBytes, now.length) == 0) continue;

        std::vector<Matcher::Copy> copies;
        std::vector<Matcher::Literal> literals;
        Matcher(oldBytes, old.length).Match(newBytes, now.length, &copies, &literals);
        if (out.size() > 0xFFFFFFFFu) {
            *error = "the difference file would be too large";
            return Bytes();
        }
        PutU32(out, at + 6, static_cast<uint32_t>(out.size()));
        AppendU32(out, static_cast<uint32_t>(copies.size()));
        for (const Matcher::Copy& c : copies) {
            AppendU32(out, c.src);
            AppendU32(out, c.length);
            AppendU32(out, c.dst);
            stats->copiedBytes += c.length;
        }
        AppendU32(out, static_cast<uint32_t>(literals.size()));
        for (const Matcher::Literal& l : literals) {
            AppendU32(out, l.dst);
            AppendU32(out, l.length);
            out.insert(out.end(), newBytes + l.dst, newBytes + l.dst + l.length);
            stats->literalBytes += l.length;
        }
        ++stats->changedTables;
        stats->copyBlocks += copies.size();
        stats->literalBlocks += literals.size();
    }
    return out;
}

}  // namespace paproducer
