#include "engine/release.h"

#include <algorithm>
#include <exception>
#include <set>

#include "engine/headname.h"
#include "engine/otmodel.h"

namespace {

bool Add(std::vector<Extent>* ranges, uint64_t size, uint64_t at, uint64_t n) {
    if (n == 0 || !InImage(size, at, n)) return true;
    ranges->push_back(Extent{at, at + n});
    return true;
}

// The ID 13 strings of the name table at [at, at + length) of the image.
// budget: name records that may still be read, shared by every table.
void AddLicenseStrings(const BYTE* image, uint64_t size, uint64_t at, uint64_t length, uint64_t* budget,
                       std::vector<Extent>* ranges) {
    if (length < kNameHeaderSize) return;
    const NameTableHeader header = NameTableHeader::Read(image + at);
    const uint64_t end = at + length;
    for (uint32_t j = 0; j < header.count && *budget > 0; ++j, --*budget) {
        const uint64_t record = at + NameRecordAt(j);
        if (!InImage(end, record, kNameRecordSize)) break;
        const NameRecord name = NameRecord::Read(image + record);
        if (name.nameID != kLicenseNameID) continue;
        const uint64_t string = at + header.stringOffset + name.offset;
        if (InImage(end, string, name.length)) Add(ranges, size, string, name.length);
    }
}

}  // namespace

bool FilledInRanges(const BYTE* image, uint64_t length, std::vector<Extent>* ranges) {
    try {
        ranges->clear();
        if (length < kOffsetTableSize) return true;
        // A name record is 12 bytes: no honest table holds more of them than
        // the image has room for, and a crafted one that repeats a table in
        // many directory records is read only that often.
        uint64_t budget = length / 6 + 64;
        std::set<std::pair<uint32_t, uint32_t>> namesRead;
        const uint32_t count = GetU16(image + 4);
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t r = TableRecordAt(i);
            if (!InImage(length, r, kTableRecordSize)) break;
            Add(ranges, length, r + 4, 4);
            const TableRecord t = TableRecord::Read(image + r);
            if (!InImage(length, t.offset, t.length)) continue;
            if (t.HasTag("head") && t.length >= kHeadAdjustmentOffset + 4) {
                Add(ranges, length, static_cast<uint64_t>(t.offset) + kHeadAdjustmentOffset, 4);
            }
            if (t.HasTag("name") && namesRead.insert(std::make_pair(t.offset, t.length)).second) {
                AddLicenseStrings(image, length, t.offset, t.length, &budget, ranges);
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
