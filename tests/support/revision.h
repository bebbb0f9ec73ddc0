// Shared by the tests of the writing side: revising a font on the simulated
// machine the way the per-font driver does it, and the bytes a revision must
// produce, worked out independently of the engine.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/manager.h"
#include "tests/support/sim_fixture.h"

namespace testdata {

struct DirectoryEntry {
    std::string tag;
    uint32_t checkSum, offset, length;
};

inline std::vector<DirectoryEntry> Directory(const Bytes& font) {
    std::vector<DirectoryEntry> d;
    const uint16_t n = GetU16(font, 4);
    for (size_t i = 0; i < n; ++i) {
        const size_t at = 12 + 16 * i;
        d.push_back(DirectoryEntry{std::string(font.begin() + at, font.begin() + at + 4), GetU32(font, at + 4),
                                   GetU32(font, at + 8), GetU32(font, at + 12)});
    }
    return d;
}

inline const DirectoryEntry* FindEntry(const std::vector<DirectoryEntry>& d, const std::string& tag) {
    for (const DirectoryEntry& e : d) {
        if (e.tag == tag) return &e;
    }
    return nullptr;
}

// Calls f(platform, encoding, language, nameID, stringAt, length) for every
// name record of the font (the font is trusted: it is test data).
template <class F>
void ForEachName(const Bytes& font, F f) {
    const std::vector<DirectoryEntry> directory = Directory(font);
    const DirectoryEntry* name = FindEntry(directory, "name");
    if (!name) return;
    const size_t t = name->offset;
    const uint16_t count = GetU16(font, t + 2);
    const uint16_t storage = GetU16(font, t + 4);
    for (size_t j = 0; j < count; ++j) {
        const size_t r = t + 6 + 12 * j;
        f(GetU16(font, r), GetU16(font, r + 2), GetU16(font, r + 4), GetU16(font, r + 6),
          t + storage + GetU16(font, r + 10), GetU16(font, r + 8));
    }
}

// The serial strings the driver takes from an installed font: the first
// (1,0,0,13) and (3,1,0x409,13) strings, in 255 zero-filled bytes each.
inline void SerialsOf(const Bytes& font, Bytes* mac, Bytes* win) {
    mac->assign(255, 0);
    win->assign(255, 0);
    bool haveMac = false, haveWin = false;
    ForEachName(font, [&](uint16_t p, uint16_t e, uint16_t l, uint16_t id, size_t at, size_t len) {
        if (id != 13) return;
        Bytes* out = nullptr;
        if (p == 1 && e == 0 && l == 0 && !haveMac) out = mac, haveMac = true;
        if (p == 3 && e == 1 && l == 0x409 && !haveWin) out = win, haveWin = true;
        if (out) std::copy(font.begin() + at, font.begin() + at + std::min<size_t>(len, 255), out->begin());
    });
}

// Table checksums over the zero-padded tables, then the adjustment.
inline Bytes WithChecksums(Bytes font) {
    const std::vector<DirectoryEntry> d = Directory(font);
    const DirectoryEntry* head = FindEntry(d, "head");
    if (head) PutU32(font, head->offset + 8, 0);
    for (size_t i = 0; i < d.size(); ++i) {
        Bytes table(font.begin() + d[i].offset, font.begin() + d[i].offset + d[i].length);
        PutU32(font, 12 + 16 * i + 4, Checksum(table.data(), table.size()));
    }
    if (head) PutU32(font, head->offset + 8, 0xB1B0AFBAu - WordSum(font));
    return font;
}

// What the builder must write when the difference file leads to `revised`:
// its name ID 13 strings replaced by the installed serials (Macintosh for
// platform 1, Windows for all others), cut or zero-padded to their own
// length, and all checksums made right.
inline Bytes ExpectedRevision(Bytes revised, const Bytes& macSerial, const Bytes& winSerial) {
    Bytes copy = revised;
    ForEachName(copy, [&](uint16_t p, uint16_t, uint16_t, uint16_t id, size_t at, size_t len) {
        if (id != 13) return;
        const Bytes& serial = p == 1 ? macSerial : winSerial;
        for (size_t k = 0; k < len; ++k) revised[at + k] = k < serial.size() ? serial[k] : 0;
    });
    return WithChecksums(revised);
}

// Every table checksum of the font is that of its zero-padded bytes, and the
// word sum of the file is the OpenType constant.
inline ::testing::AssertionResult ChecksumsAreRight(const Bytes& font) {
    const std::vector<DirectoryEntry> d = Directory(font);
    for (const DirectoryEntry& e : d) {
        Bytes table(font.begin() + e.offset, font.begin() + e.offset + e.length);
        if (e.tag == "head") PutU32(table, 8, 0);
        if (Checksum(table.data(), table.size()) != e.checkSum) {
            return ::testing::AssertionFailure() << "checksum of '" << e.tag << "'";
        }
    }
    if (font.size() % 4 != 0) return ::testing::AssertionFailure() << "length " << font.size();
    if (WordSum(font) != 0xB1B0AFBAu) return ::testing::AssertionFailure() << "word sum " << std::hex << WordSum(font);
    return ::testing::AssertionSuccess();
}

// A difference file that keeps every table of the font where it is.
inline std::vector<DiffRecord> KeepEverything(const Bytes& font) {
    std::vector<DiffRecord> records;
    const std::vector<DirectoryEntry> d = Directory(font);
    for (size_t i = 0; i < d.size(); ++i) {
        DiffRecord r;
        r.tag = d[i].tag;
        r.newIndex = static_cast<uint8_t>(i);
        for (const DirectoryEntry& other : d) r.newSortedIndex += other.offset < d[i].offset ? 1 : 0;
        r.newLength = d[i].length;
        r.newOffset = d[i].offset;
        records.push_back(r);
    }
    return records;
}

inline Bytes DiffOf(const std::vector<DiffRecord>& records, uint32_t newFileLength) {
    DiffBuilder b;
    b.FontName("Sorame Gothic W3").NewFileLength(newFileLength);
    for (const DiffRecord& r : records) b.Record(r);
    return b.Build();
}

struct Report {
    int overall, step;
    std::string line1, line2;
    void* context;
};

struct ProgressRecorder {
    std::vector<Report> reports;
    int stopAtStep = -1;
    static int Callback(int overall, int step, const char* line1, const char* line2, void* context) {
        ProgressRecorder* self = context ? static_cast<ProgressRecorder*>(context) : NullContextRecorder();
        self->reports.push_back(Report{overall, step, line1, line2, context});
        return step == self->stopAtStep ? 1 : 0;
    }
    // Where reports made with a null context end up.
    static ProgressRecorder* NullContextRecorder() {
        static ProgressRecorder r;
        return &r;
    }
    std::vector<int> Steps() const {
        std::vector<int> s;
        for (const Report& r : reports) s.push_back(r.step);
        return s;
    }
};

// Revision of one font as the driver runs it, up to the temporary file.
class RevisionTest : public SimMachineTest {
protected:
    static constexpr const char* kFontPath = "C:\\Windows\\Fonts\\Sorame-Gothic-W3.otf";
    static constexpr const char* kDiffPath = "C:\\Program\\host\\Sorame-Gothic-W3.pa";
    static constexpr const char* kTempPath = "C:\\Temp\\17000000001";

    void SetUp() override {
        SimMachineTest::SetUp();
        MakeFolder("C:\\Temp");
    }

    // Puts the files in place, loads the font and takes its serials as the
    // driver does: 0, or 100 + the result of a failed load.
    int Prepare(COpenTypeManager& m, const Bytes& font, const Bytes& diff) {
        Put(kFontPath, font);
        Put(kDiffPath, diff);
        const int loaded = m.LoadFont(kFontPath, nullptr, nullptr, 1, 0);
        if (loaded != 0) return 100 + loaded;
        m.TakeSerialStrings();
        return 0;
    }

    int Build(COpenTypeManager& m, ProgressRecorder* rec = nullptr, int fontCount = 1, int fontIndex = 0) {
        return m.CreateRevisedFile(kFontPath, kDiffPath, kTempPath, rec ? ProgressRecorder::Callback : nullptr, rec,
                                   fontCount, fontIndex);
    }

    int Revise(COpenTypeManager& m, const Bytes& font, const Bytes& diff, ProgressRecorder* rec = nullptr,
               int fontCount = 1, int fontIndex = 0) {
        const int prepared = Prepare(m, font, diff);
        return prepared != 0 ? prepared : Build(m, rec, fontCount, fontIndex);
    }

    Bytes Output() { return Get(kTempPath); }
    bool OutputExists() { return Exists(kTempPath); }
};

}  // namespace testdata
