#include "engine/identify.h"

#include <cstring>
#include <set>

#include "engine/fontview.h"

namespace {

// The revision of the head table of directory entry e; false when its table
// is not wholly inside the image or is shorter than a head table.
bool ReadRevision(const DirectoryView& directory, const TableEntry& e, uint32_t* revision) {
    CTagHeadObject head;
    head.ReadRecord(directory.Image() + e.recordAt, directory.Image(), static_cast<uint32_t>(directory.Length()));
    if (!head.ReadTable(directory.Image())) return false;
    *revision = head.m_headInfo.m_fontRevision;
    return true;
}

// The name tables of a directory, for their fifth strings.  Several
// directory records may name one table: each distinct table is read once,
// and all of them together within the image's name-record budget, so that
// records naming one large table cannot make the work grow with their number.
class NameTables {
public:
    // With chargeClaimed each table costs the records it claims, whether or
    // not they are there; otherwise the records read, none for a table
    // whose records run past its end (it is refused before any is read).
    NameTables(const DirectoryView& directory, bool chargeClaimed)
        : m_directory(directory), m_budget(WorkBudget::NameRecordsOf(directory.Length())),
          m_chargeClaimed(chargeClaimed) {}

    // Calls take(fifth) with the fifth string of each name table in
    // directory order until take answers true (then true) or the budget is
    // spent.  *seen, when given, says whether a name record was met.
    template <class Take>
    bool Find(Take take, bool* seen) {
        for (const TableEntry& e : m_directory) {
            if (!e.HasTag("name")) continue;
            if (seen) *seen = true;
            if (!m_read.insert(static_cast<uint64_t>(e.record.offset) << 32 | e.record.length).second) continue;
            const NameTableView view(e.data, e.data ? e.record.length : 0);
            const bool charged = m_chargeClaimed || view.RecordsFit();
            if (view.HasHeader() && charged && !m_budget.Charge(view.Header().count)) return false;
            if (take(FifthString(e))) return true;
        }
        return false;
    }

private:
    const char* FifthString(const TableEntry& e) {
        CTagNameObject name;
        name.ReadRecord(m_directory.Image() + e.recordAt, m_directory.Image(),
                        static_cast<uint32_t>(m_directory.Length()));
        name.ReadTable(m_directory.Image());
        name.GetFifthRecordString(m_fifth);
        return m_fifth;
    }

    const DirectoryView& m_directory;
    WorkBudget m_budget;
    const bool m_chargeClaimed;
    std::set<uint64_t> m_read;
    char m_fifth[kSerialBufferSize] = {};
};

}  // namespace

FontIdentity ReadFontIdentity(const BYTE* image, uint32_t length, uint32_t numTables) {
    FontIdentity identity;
    const DirectoryView directory(image, length, numTables);
    if (!directory.Fits()) return identity;
    for (const TableEntry& e : directory) {
        if (e.HasTag("head") && ReadRevision(directory, e, &identity.revision)) identity.hasHead = true;
    }
    NameTables(directory, false).Find(
        [&](const char* fifth) {
            std::memcpy(identity.name, fifth, sizeof identity.name);
            return fifth[0] != '\0';
        },
        nullptr);
    return identity;
}

bool FontIsEntry(const BYTE* image, uint32_t length, uint32_t numTables, const DiffFileRecord& entry,
                 IdentifyRule rule, int* revisionOut) {
    const DirectoryView directory(image, length, numTables);
    // Nothing of a directory that is not all there is read: no table says otherwise.
    if (!image || !directory.Fits()) return rule == kIdentifyNothingContrary;
    bool sawHead = false, headMatches = false;
    for (const TableEntry& e : directory) {
        uint32_t revision = 0;
        if (!e.HasTag("head") || !ReadRevision(directory, e, &revision)) continue;
        sawHead = true;
        if (revisionOut) *revisionOut = static_cast<int>(revision);
        headMatches = static_cast<int>(revision) == entry.fromRevision;
        if (headMatches) break;
    }
    if (rule == kIdentifySameFont && !headMatches) return false;
    bool sawName = false;
    // An empty fifth string names no font, not even a record's empty name.
    const bool nameMatches = NameTables(directory, true).Find(
        [&](const char* fifth) { return fifth[0] != '\0' && std::strcmp(fifth, entry.fontName) == 0; }, &sawName);
    if (rule == kIdentifySameFont) return nameMatches;
    return (!sawHead || headMatches) && (!sawName || nameMatches);
}
