// The checked view of a font image: its table directory and its name
// tables, each record read once through a bounds test and handed on with
// the bytes it points at, and the budget that bounds the work untrusted
// counts can ask for.
//
// A font comes from outside.  Its directory may claim more records than the
// image holds, a record may point past the image's end, a name table may
// claim 65,535 records that all share one long string, and many directory
// records may name one table.  The views never hand out a byte that is not
// inside the buffer they were given: a record is yielded only when all its
// bytes are there, and the bytes it points at only when they are all there
// too (null otherwise).  What a caller does with a partial directory (stop,
// or take what is there) stays the caller's rule; Fits() and RecordsFit()
// say whether the whole declared list is there.
#pragma once

#include <cstdint>

#include "engine/otmodel.h"

static const uint32_t kNameHeaderSize = 6;
static const uint32_t kNameRecordSize = 12;

// The first 6 bytes of a name table.
struct NameTableHeader {
    uint16_t format;
    uint16_t count;
    uint16_t stringOffset;  // where string storage starts in the table

    static NameTableHeader Read(const BYTE* p);
    void Write(BYTE* p) const;
};

// One 12-byte name record as the table holds it.
struct NameRecord {
    uint16_t platformID;
    uint16_t encodingID;
    uint16_t languageID;
    uint16_t nameID;
    uint16_t length;  // of the string, in bytes
    uint16_t offset;  // of the string, from the start of string storage

    static NameRecord Read(const BYTE* p);
    void Write(BYTE* p) const;
};

// Where name record `index` starts in its table.
inline uint64_t NameRecordAt(uint64_t index) { return kNameHeaderSize + kNameRecordSize * index; }

// Work that untrusted counts ask for, in units the caller chooses (records
// read, bytes written).  Each rule that bounds such work sets one budget
// and charges every step against it, so that the bound and its reason are
// stated once, where the budget is made.
class WorkBudget {
public:
    explicit WorkBudget(uint64_t units) : m_left(units) {}

    // Name records that may be read from the name tables of an image of
    // imageLength bytes, all tables together.  A record is 12 bytes: twice
    // what the image could hold once, so that an honest font's one table
    // always fits, while directory records that all name one large table
    // cannot make the work grow with their number.
    static WorkBudget NameRecordsOf(uint64_t imageLength) { return WorkBudget(imageLength / 6 + 64); }

    // True, with the units taken, when the budget still holds them; false,
    // taking nothing, when it does not.
    bool Charge(uint64_t units) {
        if (units > m_left) return false;
        m_left -= units;
        return true;
    }
    uint64_t Left() const { return m_left; }

private:
    uint64_t m_left;
};

// A walk over the records of a view, in their order, that charges one unit
// of a budget (when given) before each record and ends when the budget
// cannot pay for the next.
template <class View, class Entry>
class CheckedWalk {
public:
    class Iterator {
    public:
        Iterator(const View* view, uint32_t index, WorkBudget* budget) : m_view(view), m_index(index), m_budget(budget) {
            Pay();
        }
        Entry operator*() const { return m_view->At(m_index); }
        Iterator& operator++() {
            ++m_index;
            Pay();
            return *this;
        }
        bool operator!=(const Iterator& other) const { return m_index != other.m_index; }

    private:
        void Pay() {
            if (m_index < m_view->Count() && m_budget && !m_budget->Charge(1)) m_index = m_view->Count();
        }
        const View* m_view;
        uint32_t m_index;
        WorkBudget* m_budget;
    };

    CheckedWalk(const View* view, WorkBudget* budget) : m_view(view), m_budget(budget) {}
    Iterator begin() const { return Iterator(m_view, 0, m_budget); }
    Iterator end() const { return Iterator(m_view, m_view->Count(), nullptr); }

private:
    const View* m_view;
    WorkBudget* m_budget;
};

// One record of a table directory, with the table it names.
struct TableEntry {
    bool present = false;  // false only for Find's answer when no record has the tag
    uint32_t slot = 0;
    uint64_t recordAt = 0;  // where the 16-byte record starts in the image
    TableRecord record{};
    // The table's record.length bytes in the image; null when they are not
    // all inside it.
    const BYTE* data = nullptr;

    explicit operator bool() const { return present; }
    bool HasTag(const char* name) const { return record.HasTag(name); }
};

// The table directory of a font image.
class DirectoryView {
public:
    // The directory that the image's offset table declares (no table at all
    // when the image is shorter than an offset table).  The signature is
    // not looked at: callers that need one have parsed the offset table.
    DirectoryView(const BYTE* image, uint64_t length);
    // The directory of numTables records, as a parsed offset table gave it.
    DirectoryView(const BYTE* image, uint64_t length, uint32_t numTables);

    uint32_t DeclaredCount() const { return m_declared; }
    // True when every declared record lies inside the image.
    bool Fits() const { return m_count == m_declared; }
    // Records that lie inside the image: the first ones declared.
    uint32_t Count() const { return m_count; }
    // Record `slot` (below Count()).
    TableEntry At(uint32_t slot) const;
    // The first record, in directory order, tagged tag (four bytes).
    TableEntry Find(const char* tag) const;

    CheckedWalk<DirectoryView, TableEntry> Records(WorkBudget* budget) const { return {this, budget}; }
    CheckedWalk<DirectoryView, TableEntry>::Iterator begin() const { return Records(nullptr).begin(); }
    CheckedWalk<DirectoryView, TableEntry>::Iterator end() const { return Records(nullptr).end(); }

    const BYTE* Image() const { return m_image; }
    uint64_t Length() const { return m_length; }

private:
    const BYTE* m_image;
    uint64_t m_length;
    uint32_t m_declared = 0;
    uint32_t m_count = 0;
};

// One record of a name table, with its string.
struct NameEntry {
    uint32_t index = 0;
    NameRecord record{};
    uint64_t stringStart = 0;  // from the table's start: stringOffset + record.offset
    // The string's record.length bytes in the table; null when they are not
    // all inside it.
    const BYTE* string = nullptr;
};

// A name table's records, over the table's own bytes: nothing beyond its
// length is part of it.
class NameTableView {
public:
    NameTableView(const BYTE* table, uint64_t length);

    // True when the table holds its 6-byte header; without one it has no records.
    bool HasHeader() const { return m_hasHeader; }
    const NameTableHeader& Header() const { return m_header; }
    // True when every declared record lies inside the table.
    bool RecordsFit() const { return m_hasHeader && m_count == m_header.count; }
    // Records that lie inside the table: the first ones declared.
    uint32_t Count() const { return m_count; }
    // Record `index` (below Count()).
    NameEntry At(uint32_t index) const;

    CheckedWalk<NameTableView, NameEntry> Records(WorkBudget* budget) const { return {this, budget}; }
    CheckedWalk<NameTableView, NameEntry>::Iterator begin() const { return Records(nullptr).begin(); }
    CheckedWalk<NameTableView, NameEntry>::Iterator end() const { return Records(nullptr).end(); }

    const BYTE* Table() const { return m_table; }
    uint64_t Length() const { return m_length; }

private:
    const BYTE* m_table;
    uint64_t m_length;
    bool m_hasHeader = false;
    NameTableHeader m_header{0, 0, 0};
    uint32_t m_count = 0;
};
