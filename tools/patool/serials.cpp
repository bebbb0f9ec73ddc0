// Copies of a font as other customers have it, with serial strings of
// other lengths, for checking a difference file against them.
#include <algorithm>
#include <utility>

#include "engine/headname.h"
#include "engine/otbase.h"
#include "tools/patool/internal.h"

namespace patool {
namespace internal {

namespace {

// A table of the font: its directory slot and where its bytes lie.
struct Table {
    uint32_t slot, offset, length;
};

// The font's directory, every table inside the file; the slots of the first
// name and head tables, or -1.  False when the directory or a table lies
// outside the file.
bool ReadTables(const Bytes& font, std::vector<Table>* tables, int* nameSlot, int* headSlot) {
    if (font.size() < kOffsetTableSize) return false;
    const uint32_t numTables = U16At(font, 4);
    if (!InImage(font.size(), kOffsetTableSize, static_cast<uint64_t>(kTableRecordSize) * numTables)) return false;
    *nameSlot = *headSlot = -1;
    for (uint32_t i = 0; i < numTables; ++i) {
        const TableRecord record = TableRecord::Read(font.data() + TableRecordAt(i));
        const Table t{i, record.offset, record.length};
        if (!InImage(font.size(), t.offset, t.length)) return false;
        if (record.HasTag("name") && *nameSlot < 0) *nameSlot = static_cast<int>(i);
        if (record.HasTag("head") && *headSlot < 0) *headSlot = static_cast<int>(i);
        tables->push_back(t);
    }
    return true;
}

// A serial string `units` characters longer, or shorter when units is
// negative; false when there is nothing to drop.
bool Resized(uint32_t platform, int units, Bytes* text) {
    // Macintosh strings are single bytes, all others UTF-16.
    const size_t unit = platform == kPlatformMacintosh ? 1 : 2;
    if (units > 0) {
        for (int k = 0; k < units; ++k) {
            if (unit == 2) text->push_back(0);
            text->push_back('7');
        }
        return true;
    }
    const size_t drop = std::min(text->size() / unit, static_cast<size_t>(-units)) * unit;
    if (drop == 0) return false;
    text->resize(text->size() - drop);
    return true;
}

// The name table again, its serial strings resized and its strings laid out
// in record order; records that shared a string go on sharing it.  False
// when there is no serial string to change or the table does not hold
// together.
bool NameWithOtherSerials(const Bytes& old, int units, Bytes* table) {
    if (old.size() < kNameHeaderSize) return false;
    const NameTableHeader header = NameTableHeader::Read(old.data());
    const uint32_t count = header.count, storage = header.stringOffset;
    const uint64_t recordsEnd = NameRecordAt(count);
    if (recordsEnd > storage || storage > old.size()) return false;
    table->assign(old.begin(), old.begin() + storage);
    Bytes strings;
    std::vector<std::pair<uint32_t, uint32_t>> placed;  // (old offset << 16 | length, new offset)
    bool changed = false;
    for (uint32_t j = 0; j < count; ++j) {
        const size_t r = static_cast<size_t>(NameRecordAt(j));
        NameRecord record = NameRecord::Read(old.data() + r);
        const uint32_t length = record.length, offset = record.offset;
        if (!InImage(old.size(), static_cast<uint64_t>(storage) + offset, length)) return false;
        Bytes text(old.begin() + storage + offset, old.begin() + storage + offset + length);
        const bool serial = record.nameID == kLicenseNameID && j != 4;
        if (serial) {
            if (!Resized(record.platformID, units, &text)) continue;
            changed = true;
        }
        uint32_t at = static_cast<uint32_t>(strings.size());
        const uint32_t key = offset << 16 | length;
        bool shared = false;
        for (const auto& p : placed) {
            if (!serial && p.first == key) {
                at = p.second;
                shared = true;
                break;
            }
        }
        if (!shared) {
            if (!serial) placed.emplace_back(key, at);
            strings.insert(strings.end(), text.begin(), text.end());
        }
        if (at > 0xFFFF || text.size() > 0xFFFF) return false;
        record.length = static_cast<uint16_t>(text.size());
        record.offset = static_cast<uint16_t>(at);
        record.Write(table->data() + r);
    }
    if (!changed) return false;
    table->insert(table->end(), strings.begin(), strings.end());
    return true;
}

// The font again with its name table replaced: every table in its old data
// order, each on a four-byte boundary, the name table's checksum and
// head.checkSumAdjustment made anew.
void LayOut(const Bytes& font, const std::vector<Table>& tables, int nameSlot, int headSlot, const Bytes& name,
            Bytes* copy) {
    std::vector<Table> byOffset = tables;
    std::stable_sort(byOffset.begin(), byOffset.end(), [](const Table& a, const Table& b) { return a.offset < b.offset; });
    copy->assign(font.begin(), font.begin() + kOffsetTableSize + kTableRecordSize * tables.size());
    for (const Table& t : byOffset) {
        copy->resize((copy->size() + 3) / 4 * 4, 0);
        const size_t r = kOffsetTableSize + kTableRecordSize * t.slot;
        const size_t at = copy->size();
        if (static_cast<int>(t.slot) == nameSlot) {
            copy->insert(copy->end(), name.begin(), name.end());
        } else {
            copy->insert(copy->end(), font.begin() + t.offset, font.begin() + t.offset + t.length);
        }
        const uint32_t length = static_cast<uint32_t>(copy->size() - at);
        PutU32(copy->data() + r + 8, static_cast<uint32_t>(at));
        PutU32(copy->data() + r + 12, length);
        if (static_cast<int>(t.slot) == nameSlot) {
            PutU32(copy->data() + r + 4, CalcCheckSum(copy->data() + at, static_cast<int32_t>(length)));
        }
    }
    copy->resize((copy->size() + 3) / 4 * 4, 0);
    if (headSlot >= 0) {
        const size_t r = kOffsetTableSize + kTableRecordSize * static_cast<size_t>(headSlot);
        const TableRecord head = TableRecord::Read(copy->data() + r);
        if (head.length >= 12) {
            PutU32(copy->data() + head.offset + 8, 0);
            PutU32(copy->data() + head.offset + 8,
                   0xB1B0AFBAu - CalcCheckSum(copy->data(), static_cast<int32_t>(copy->size())));
        }
    }
}

}  // namespace

// Every string and table after the serial strings moves to match them.  The
// fifth name record names the font and is left alone whatever its ID.
bool WithOtherSerials(const Bytes& font, int units, Bytes* copy) {
    std::vector<Table> tables;
    int nameSlot = -1, headSlot = -1;
    if (!ReadTables(font, &tables, &nameSlot, &headSlot) || nameSlot < 0) return false;
    const Table& name = tables[static_cast<size_t>(nameSlot)];
    const Bytes old(font.begin() + name.offset, font.begin() + name.offset + name.length);
    Bytes table;
    if (!NameWithOtherSerials(old, units, &table)) return false;
    LayOut(font, tables, nameSlot, headSlot, table, copy);
    return true;
}

}  // namespace internal
}  // namespace patool
