// Copies of a font as other customers have it, with serial strings of
// other lengths, for checking a difference file against them.
#include <algorithm>
#include <map>

#include "engine/fontview.h"
#include "engine/headname.h"
#include "tools/patool/internal.h"

namespace patool {
namespace internal {

namespace {

// The font's directory, every table inside the file: the records, with the
// slots of the first name and head tables (or -1).  False when the directory
// or a table lies outside the file.
bool ReadTables(const Bytes& font, std::vector<TableEntry>* tables, int* nameSlot, int* headSlot) {
    if (font.size() < kOffsetTableSize) return false;
    const DirectoryView directory(font.data(), font.size());
    if (!directory.Fits()) return false;
    *nameSlot = *headSlot = -1;
    for (const TableEntry& table : directory) {
        if (!table.data) return false;
        if (table.HasTag("name") && *nameSlot < 0) *nameSlot = static_cast<int>(table.slot);
        if (table.HasTag("head") && *headSlot < 0) *headSlot = static_cast<int>(table.slot);
        tables->push_back(table);
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
// in record order; records that shared a string go on sharing it, so that
// the work is what the strings weigh, however many records share them.
// False when there is no serial string to change or the table does not hold
// together.
bool NameWithOtherSerials(const TableEntry& old, int units, Bytes* table) {
    const NameTableView view(old.data, old.record.length);
    if (!view.HasHeader()) return false;
    const uint32_t storage = view.Header().stringOffset;
    if (NameRecordAt(view.Header().count) > storage || storage > view.Length()) return false;
    table->assign(view.Table(), view.Table() + storage);
    Bytes strings;
    std::map<uint32_t, uint32_t> placed;  // old offset << 16 | length -> new offset
    bool changed = false;
    for (const NameEntry& entry : view) {
        if (!entry.string) return false;
        NameRecord record = entry.record;
        const bool serial = record.nameID == kLicenseNameID && entry.index != 4;
        const uint32_t key = static_cast<uint32_t>(record.offset) << 16 | record.length;
        const auto shared = serial ? placed.end() : placed.find(key);
        uint32_t at = static_cast<uint32_t>(strings.size());
        size_t length = record.length;
        if (shared != placed.end()) {
            at = shared->second;
        } else {
            Bytes text(entry.string, entry.string + record.length);
            if (serial) {
                if (!Resized(record.platformID, units, &text)) continue;
                changed = true;
            } else {
                placed.emplace(key, at);
            }
            strings.insert(strings.end(), text.begin(), text.end());
            length = text.size();
        }
        if (at > 0xFFFF || length > 0xFFFF) return false;
        record.length = static_cast<uint16_t>(length);
        record.offset = static_cast<uint16_t>(at);
        record.Write(table->data() + NameRecordAt(entry.index));
    }
    if (!changed) return false;
    table->insert(table->end(), strings.begin(), strings.end());
    return true;
}

// The font again with its name table replaced: every table in its old data
// order, each on a four-byte boundary, the name table's checksum and
// head.checkSumAdjustment made anew.
void LayOut(const Bytes& font, const std::vector<TableEntry>& tables, int nameSlot, int headSlot, const Bytes& name,
            Bytes* copy) {
    std::vector<TableEntry> byOffset = tables;
    std::stable_sort(byOffset.begin(), byOffset.end(),
                     [](const TableEntry& a, const TableEntry& b) { return a.record.offset < b.record.offset; });
    copy->assign(font.begin(), font.begin() + kOffsetTableSize + kTableRecordSize * tables.size());
    for (const TableEntry& t : byOffset) {
        copy->resize((copy->size() + 3) / 4 * 4, 0);
        TableRecord record = t.record;
        const bool isName = static_cast<int>(t.slot) == nameSlot;
        record.offset = static_cast<uint32_t>(copy->size());
        if (isName) {
            copy->insert(copy->end(), name.begin(), name.end());
        } else {
            copy->insert(copy->end(), t.data, t.data + t.record.length);
        }
        record.length = static_cast<uint32_t>(copy->size() - record.offset);
        if (isName) record.checkSum = CalcCheckSum(copy->data() + record.offset, static_cast<int32_t>(record.length));
        record.Write(copy->data() + t.recordAt);
    }
    copy->resize((copy->size() + 3) / 4 * 4, 0);
    if (headSlot >= 0) {
        const TableEntry head = DirectoryView(copy->data(), copy->size()).At(static_cast<uint32_t>(headSlot));
        if (head.record.length >= 12) {
            BYTE* adjustment = copy->data() + head.record.offset + kHeadAdjustmentOffset;
            PutU32(adjustment, 0);
            PutU32(adjustment, 0xB1B0AFBAu - CalcCheckSum(copy->data(), static_cast<int32_t>(copy->size())));
        }
    }
}

}  // namespace

// Every string and table after the serial strings moves to match them.  The
// fifth name record names the font and is left alone whatever its ID.
bool WithOtherSerials(const Bytes& font, int units, Bytes* copy) {
    std::vector<TableEntry> tables;
    int nameSlot = -1, headSlot = -1;
    if (!ReadTables(font, &tables, &nameSlot, &headSlot) || nameSlot < 0) return false;
    Bytes table;
    if (!NameWithOtherSerials(tables[static_cast<size_t>(nameSlot)], units, &table)) return false;
    LayOut(font, tables, nameSlot, headSlot, table, copy);
    return true;
}

}  // namespace internal
}  // namespace patool
