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

    // The runs of now that the old table holds, in order and not overlapping.
    void Match(const uint8_t* now, size_t length, std::vector<Copy>* copies) const {
        size_t matchedEnd = 0;
        size_t p = 0;
        // Where the last run came from, relative to where it went: after an
        // edit the next run most often continues from there.
        bool haveLast = false;
        int64_t lastShift = 0;
        uint64_t h = length >= kBlock ? Hash(now) : 0;
        while (m_oldLength >= kBlock && p + kBlock <= length) {
            size_t src = 0;
            bool found = Lookup(h, now + p, &src);
            if (!found && haveLast) {
                const int64_t at = static_cast<int64_t>(p) + lastShift;
                if (at >= 0 && static_cast<uint64_t>(at) + kResync <= m_oldLength &&
                    std::memcmp(m_old + at, now + p, kResync) == 0) {
                    src = static_cast<size_t>(at);
                    found = true;
                }
            }
            if (found) {
                size_t start = p, from = src;
                while (start > matchedEnd && from > 0 && now[start - 1] == m_old[from - 1]) {
                    --start;
                    --from;
                }
                size_t end = p, to = src;
                while (end < length && to < m_oldLength && now[end] == m_old[to]) {
                    ++end;
                    ++to;
                }
                copies->push_back(Copy{static_cast<uint32_t>(from), static_cast<uint32_t>(end - start),
                                       static_cast<uint32_t>(start)});
                haveLast = true;
                lastShift = static_cast<int64_t>(from) - static_cast<int64_t>(start);
                p = matchedEnd = end;
                if (p + kBlock <= length) h = Hash(now + p);
                continue;
            }
            if (p + kBlock < length) h = (h - now[p] * m_topPower) * kBase + now[p + kBlock];
            ++p;
        }
    }

private:
    static const size_t kBlock = 32;
    // Shortest run looked for where the last one left off.
    static const size_t kResync = 16;
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

// What a block costs in the file: a copy block is 12 bytes, a literal block
// 8 bytes before its own.
const size_t kCopyCost = 12;
const size_t kLiteralHeader = 8;
// Runs from the same place further apart than this are not joined.
const size_t kJoinGap = 64;

// Bytes of a new table that the updater writes itself whatever the file
// says: the name ID 13 strings (the installed font's serial goes there) and
// head.checkSumAdjustment.  Empty when there are none.
std::vector<bool> FilledInByUpdater(const std::string& tag, const uint8_t* table, size_t length) {
    std::vector<bool> mask;
    if (tag == "head" && length >= 12) {
        mask.assign(length, false);
        for (size_t k = 8; k < 12; ++k) mask[k] = true;
    } else if (tag == "name" && length >= 6) {
        mask.assign(length, false);
        const size_t count = static_cast<size_t>(table[2] << 8 | table[3]);
        const size_t storage = static_cast<size_t>(table[4] << 8 | table[5]);
        for (size_t j = 0; j < count && Fits(length, 6 + 12 * j, 12); ++j) {
            const uint8_t* r = table + 6 + 12 * j;
            if ((r[6] << 8 | r[7]) != 13) continue;
            const size_t len = static_cast<size_t>(r[8] << 8 | r[9]);
            const size_t at = storage + static_cast<size_t>(r[10] << 8 | r[11]);
            if (!Fits(length, at, len)) continue;
            for (size_t k = at; k < at + len; ++k) mask[k] = true;
        }
    }
    return mask;
}

// Chooses the blocks that form a new table from the runs it shares with the
// old one.  Runs from the same place with a short stretch between them
// become one copy block whose wrong bytes literals put right; runs too short
// to pay for their block are left to the literals; bytes that are zero in the
// new table need no block at all (the table starts as zeros), nor do bytes
// the updater fills in; and literals close together share one block.
void ChooseBlocks(const uint8_t* old, const uint8_t* now, size_t length, const std::vector<bool>& filledIn,
                  const std::vector<Matcher::Copy>& runs, std::vector<Matcher::Copy>* copies,
                  std::vector<Matcher::Literal>* literals) {
    auto ignored = [&](size_t p) { return !filledIn.empty() && filledIn[p]; };
    // Bytes of [from, to) that still need a literal under copy c (or none).
    auto wrong = [&](size_t from, size_t to, const Matcher::Copy* c) {
        size_t n = 0;
        for (size_t p = from; p < to; ++p) {
            const uint8_t have = c ? old[c->src + (p - c->dst)] : 0;
            if (have != now[p] && !ignored(p)) ++n;
        }
        return n;
    };
    auto literalCost = [](size_t n) { return n == 0 ? 0 : n + kLiteralHeader; };

    std::vector<Matcher::Copy> joined;
    for (const Matcher::Copy& run : runs) {
        if (!joined.empty()) {
            Matcher::Copy& last = joined.back();
            const size_t lastEnd = static_cast<size_t>(last.dst) + last.length;
            const bool sameShift = static_cast<int64_t>(run.src) - run.dst == static_cast<int64_t>(last.src) - last.dst;
            if (sameShift && run.dst >= lastEnd && run.dst - lastEnd <= kJoinGap) {
                Matcher::Copy wider = last;
                wider.length = run.dst + run.length - last.dst;
                if (literalCost(wrong(lastEnd, run.dst, &wider)) <= kCopyCost + literalCost(wrong(lastEnd, run.dst, nullptr))) {
                    last = wider;
                    continue;
                }
            }
        }
        joined.push_back(run);
    }
    for (const Matcher::Copy& c : joined) {
        const size_t end = static_cast<size_t>(c.dst) + c.length;
        if (wrong(c.dst, end, nullptr) > kCopyCost + wrong(c.dst, end, &c)) copies->push_back(c);
    }

    // The literals: every byte that the copies (or the zeros) leave wrong,
    // in runs joined across gaps that cost less than a block header.
    size_t next = 0;
    bool open = false;
    size_t runStart = 0, lastWrong = 0;
    for (size_t p = 0; p < length; ++p) {
        while (next < copies->size() && static_cast<size_t>((*copies)[next].dst) + (*copies)[next].length <= p) ++next;
        const Matcher::Copy* c = next < copies->size() && (*copies)[next].dst <= p ? &(*copies)[next] : nullptr;
        const uint8_t have = c ? old[c->src + (p - c->dst)] : 0;
        if (have == now[p] || ignored(p)) continue;
        if (open && p - lastWrong - 1 <= kLiteralHeader) {
            lastWrong = p;
            continue;
        }
        if (open) literals->push_back(Matcher::Literal{static_cast<uint32_t>(runStart), static_cast<uint32_t>(lastWrong + 1 - runStart)});
        open = true;
        runStart = lastWrong = p;
    }
    if (open) literals->push_back(Matcher::Literal{static_cast<uint32_t>(runStart), static_cast<uint32_t>(lastWrong + 1 - runStart)});
}

// The two directories read and paired by tag: the same tables in both.
bool PairTables(const Bytes& oldFont, const Bytes& newFont, std::vector<Table>* oldTables,
                std::vector<Table>* newTables, std::string* error) {
    if (!ReadDirectory(oldFont, "old", oldTables, error)) return false;
    if (!ReadDirectory(newFont, "new", newTables, error)) return false;
    if (newTables->size() != oldTables->size() || newTables->size() > 255) {
        *error = "the fonts do not have the same set of tables";
        return false;
    }
    for (const Table& t : *newTables) {
        if (!Find(*oldTables, t.tag)) {
            *error = "the old font has no table '" + t.tag + "'";
            return false;
        }
    }
    if (newFont.size() > 0xFFFFFFF0u) {
        *error = "the new font is too large";
        return false;
    }
    return true;
}

// The header and the zeroed records: the old font's name and revision, which
// the updater matches installed fonts by, and the new font's length.
Bytes StartFile(const Bytes& oldFont, const std::vector<Table>& oldTables, size_t newLength, size_t tableCount) {
    Bytes out(kHeaderSize + kRecordSize * tableCount, 0);
    std::memcpy(out.data(), "RVDF", 4);
    const std::string fontName = FifthNameString(oldFont, oldTables);
    std::memcpy(out.data() + 4, fontName.data(), fontName.size());
    const Table* head = Find(oldTables, "head");
    PutU32(out, 36, head && head->length >= 8 ? U32(oldFont, head->offset + 4) : 0);
    PutU32(out, 40, static_cast<uint32_t>((newLength + 3) / 4 * 4));
    out[44] = static_cast<uint8_t>(tableCount);
    return out;
}

// Each table's place in the new font's data order.
std::vector<uint8_t> RanksByOffset(const std::vector<Table>& tables) {
    std::vector<size_t> byOffset(tables.size());
    std::iota(byOffset.begin(), byOffset.end(), 0);
    std::stable_sort(byOffset.begin(), byOffset.end(),
                     [&](size_t a, size_t b) { return tables[a].offset < tables[b].offset; });
    std::vector<uint8_t> rank(tables.size());
    for (size_t r = 0; r < byOffset.size(); ++r) rank[byOffset[r]] = static_cast<uint8_t>(r);
    return rank;
}

// Whether the new table is the old one, apart from the bytes the updater
// fills in: it is then taken over whole, without a block list.
bool Unchanged(const uint8_t* oldBytes, const Table& old, const uint8_t* newBytes, const Table& now,
               const std::vector<bool>& filledIn) {
    if (old.length != now.length) return false;
    size_t p = 0;
    while (p < now.length && (oldBytes[p] == newBytes[p] || (!filledIn.empty() && filledIn[p]))) ++p;
    return p == now.length;
}

// The block list of a changed table, appended to out.
void AppendBlockList(Bytes& out, const uint8_t* newBytes, const std::vector<Matcher::Copy>& copies,
                     const std::vector<Matcher::Literal>& literals, DifferenceStats* stats) {
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

// The record of the new font's table i, and the table's block list when it
// changed; false when the file would grow past what its offsets can
// address.
bool AddTable(Bytes& out, size_t i, uint8_t rank, const Bytes& oldFont, const Table& old, const Bytes& newFont,
              const Table& now, DifferenceStats* stats, std::string* error) {
    const size_t at = kHeaderSize + kRecordSize * i;
    std::memcpy(out.data() + at, now.tag.data(), 4);
    out[at + 4] = static_cast<uint8_t>(i);
    out[at + 5] = rank;
    PutU32(out, at + 10, now.length);
    PutU32(out, at + 14, now.offset);

    const uint8_t* oldBytes = oldFont.data() + old.offset;
    const uint8_t* newBytes = newFont.data() + now.offset;
    const std::vector<bool> filledIn = FilledInByUpdater(now.tag, newBytes, now.length);
    // Customers' copies of one font differ in their serial strings, and
    // so in the length and layout of their name tables: any byte taken
    // from the old name table, or the table taken over whole, would come
    // from the wrong place in every copy but the one the file was made
    // from.  The new name table goes in as literals; the updater writes
    // the serials itself.
    const bool literalOnly = now.tag == "name";
    if (!literalOnly && Unchanged(oldBytes, old, newBytes, now, filledIn)) return true;

    std::vector<Matcher::Copy> runs, copies;
    std::vector<Matcher::Literal> literals;
    if (!literalOnly) Matcher(oldBytes, old.length).Match(newBytes, now.length, &runs);
    // A table too short for the matcher's blocks (head, hhea, maxp) most
    // often keeps its layout and changes a few fields: offer the old
    // table in place, and let the choice below weigh it.
    if (!literalOnly && runs.empty() && old.length != 0 && now.length != 0) {
        runs.push_back(Matcher::Copy{0, std::min(old.length, now.length), 0});
    }
    ChooseBlocks(oldBytes, newBytes, now.length, filledIn, runs, &copies, &literals);
    if (out.size() > 0xFFFFFFFFu) {
        *error = "the difference file would be too large";
        return false;
    }
    PutU32(out, at + 6, static_cast<uint32_t>(out.size()));
    AppendBlockList(out, newBytes, copies, literals, stats);
    return true;
}

}  // namespace

Bytes MakeDifference(const Bytes& oldFont, const Bytes& newFont, std::string* error, DifferenceStats* stats) {
    std::string ignored;
    if (!error) error = &ignored;
    DifferenceStats localStats;
    if (!stats) stats = &localStats;
    *stats = DifferenceStats();

    std::vector<Table> oldTables, newTables;
    if (!PairTables(oldFont, newFont, &oldTables, &newTables, error)) return Bytes();
    Bytes out = StartFile(oldFont, oldTables, newFont.size(), newTables.size());
    const std::vector<uint8_t> rank = RanksByOffset(newTables);
    for (size_t i = 0; i < newTables.size(); ++i) {
        const Table& now = newTables[i];
        if (!AddTable(out, i, rank[i], oldFont, *Find(oldTables, now.tag), newFont, now, stats, error)) return Bytes();
    }
    return out;
}

}  // namespace paproducer
