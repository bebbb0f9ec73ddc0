#include "engine/release.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <set>

#include "engine/fontview.h"
#include "engine/headname.h"
#include "engine/otmodel.h"

namespace {

bool Add(std::vector<Extent>* ranges, uint64_t size, uint64_t at, uint64_t n) {
    if (n == 0 || !InImage(size, at, n)) return true;
    ranges->push_back(Extent{at, at + n});
    return true;
}

// The ID 13 strings of the name table at `at` of the image, as far as the
// budget shared by every table lets them be read.
void AddLicenseStrings(const NameTableView& table, uint64_t size, uint64_t at, WorkBudget* budget,
                       std::vector<Extent>* ranges) {
    for (const NameEntry& e : table.Records(budget)) {
        if (e.record.nameID == kLicenseNameID && e.string) Add(ranges, size, at + e.stringStart, e.record.length);
    }
}

}  // namespace

bool FilledInRanges(const BYTE* image, uint64_t length, std::vector<Extent>* ranges) {
    try {
        ranges->clear();
        if (length < kOffsetTableSize) return true;
        // Each table is read once, however many records name it.
        WorkBudget budget = WorkBudget::NameRecordsOf(length);
        std::set<std::pair<uint32_t, uint32_t>> namesRead;
        for (const TableEntry& t : DirectoryView(image, length)) {
            Add(ranges, length, t.recordAt + 4, 4);
            if (!t.data) continue;
            if (t.HasTag("head") && t.record.length >= kHeadAdjustmentOffset + 4) {
                Add(ranges, length, static_cast<uint64_t>(t.record.offset) + kHeadAdjustmentOffset, 4);
            }
            if (t.HasTag("name") && namesRead.insert(std::make_pair(t.record.offset, t.record.length)).second) {
                AddLicenseStrings(NameTableView(t.data, t.record.length), length, t.record.offset, &budget, ranges);
            }
        }
        std::sort(ranges->begin(), ranges->end(), [](const Extent& a, const Extent& b) { return a.from < b.from; });
        // Strings that records share or overlap become one range.
        std::vector<Extent> merged;
        merged.reserve(ranges->size());
        for (const Extent& e : *ranges) {
            if (!merged.empty() && e.from <= merged.back().to) {
                merged.back().to = std::max(merged.back().to, e.to);
            } else {
                merged.push_back(e);
            }
        }
        ranges->swap(merged);
        return true;
    } catch (const std::exception&) {
        ranges->clear();
        return false;
    }
}

void AddApartFromFilledIn(CSha256* hash, const BYTE* image, uint64_t from, uint64_t to,
                          const std::vector<Extent>& ranges) {
    // The first range that ends after from.
    auto it = std::upper_bound(ranges.begin(), ranges.end(), from,
                               [](uint64_t at, const Extent& e) { return at < e.to; });
    uint64_t cursor = from;
    for (; it != ranges.end() && it->from < to; ++it) {
        const uint64_t zeroFrom = std::max(it->from, cursor), zeroTo = std::min(it->to, to);
        if (zeroFrom > cursor) hash->Add(image + cursor, zeroFrom - cursor);
        hash->AddZeros(zeroTo - zeroFrom);
        cursor = zeroTo;
    }
    if (cursor < to) hash->Add(image + cursor, to - cursor);
}

bool ReleasedFontDigest(const BYTE* image, uint64_t length, BYTE out[kDigestSize]) {
    std::vector<Extent> ranges;
    if (!FilledInRanges(image, length, &ranges)) return false;
    CSha256 hash;
    AddApartFromFilledIn(&hash, image, 0, length, ranges);
    return hash.Finish(out);
}

bool TakenDigest(const LoadedFont& font, const CMakeSabunData& data, BYTE out[kDigestSize]) {
    std::memset(out, 0, kDigestSize);
    if (!font.image || font.length < kOffsetTableSize) return false;
    std::vector<Extent> filledIn;
    if (!FilledInRanges(font.image, font.length, &filledIn)) return false;
    CSha256 hash;
    // The revised font's offset table is the installed one's.
    AddApartFromFilledIn(&hash, font.image, 0, kOffsetTableSize, filledIn);
    // Then every table in the order the build forms them, each as the build
    // reads it: whole when it is taken over, else the bytes each copy block
    // takes from it.
    for (int i = 0; i < data.Header().tableCount; ++i) {
        const CSabunTagObject* record = data.FindByIndex(i);
        const CTagObject* tag = record ? font.FindTag(record->m_tag) : nullptr;
        if (!tag || (tag->m_length != 0 && !tag->m_pData)) return false;
        const uint64_t at = static_cast<uint64_t>(tag->m_pData - font.image);
        if (!record->m_hasBlocks) {
            AddApartFromFilledIn(&hash, font.image, at, at + tag->m_length, filledIn);
            continue;
        }
        for (INT_PTR b = 0; b < record->m_copyBlocks.GetSize(); ++b) {
            CopySpan span;
            if (!CopySpanOf(*record->CopyBlock(b), tag->m_length, record->m_newLength, &span)) return false;
            const uint64_t from = at + record->CopyBlock(b)->m_srcOffset;
            if (span.fromTable != 0) AddApartFromFilledIn(&hash, font.image, from, from + span.fromTable, filledIn);
        }
    }
    return hash.Finish(out);
}
