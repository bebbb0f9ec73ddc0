#include "engine/build.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "engine/fontview.h"
#include "engine/manifest.h"
#include "engine/release.h"
#include "engine/sabuncheck.h"
#include "engine/wholefile.h"
#include "platform/framework/cfile.h"

namespace {

// Lengths are held in signed 32 bits where checksums are taken; no revised
// font of ours comes anywhere near this.
const uint64_t kMaxOutputLength = kMaxRevisedFileLength;

uint64_t Smaller(uint64_t a, uint64_t b) { return a < b ? a : b; }

// Room for count extents, without throwing: false when there is no memory
// for the list, and the caller then clears its buffer whole instead.
bool Reserve(std::vector<Extent>* list, size_t count) {
    try {
        list->reserve(count);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Clears every byte of image[0, length) that no written extent covers: the
// padding after each table and any gap between tables.  Only those bytes are
// cleared, so a 16 MB image is not first filled with zeros and then written
// over.
void ZeroOutside(BYTE* image, uint64_t length, std::vector<Extent> written) {
    std::sort(written.begin(), written.end(), [](const Extent& a, const Extent& b) { return a.from < b.from; });
    uint64_t cursor = 0;
    for (const Extent& e : written) {
        const uint64_t from = Smaller(e.from, length);
        if (from > cursor) std::memset(image + cursor, 0, static_cast<size_t>(from - cursor));
        cursor = std::max(cursor, Smaller(e.to, length));
    }
    if (cursor < length) std::memset(image + cursor, 0, static_cast<size_t>(length - cursor));
}

}  // namespace

int CTagObject::ApplyDifference(CSabunTagObject* record) {
    std::memset(m_newTag, 0, sizeof m_newTag);
    m_newCheckSum = 0;
    m_newOffset = 0;
    m_newLength = 0;
    m_fileIndex = record->m_newIndex;
    m_sortedIndex = record->m_newSortedIndex;

    // A record without a block list takes the old table over; its own
    // newLength plays no part.
    const bool unchanged = !record->m_hasBlocks;
    const uint64_t length = unchanged ? m_length : record->m_newLength;
    if (length > kMaxOutputLength) return 0;
    if (m_length != 0 && !m_pData) return 0;
    BYTE* const out = m_pNewData;
    if (!out || length > m_newDataSize) return 0;
    const uint64_t padded = RoundUp4(length);
    m_paddedLength = static_cast<int32_t>(padded);
    // The padding belongs to the table, but only as far as the image goes:
    // a table ending the image has no bytes after it to clear.
    const uint64_t extent = Smaller(padded, m_newDataSize);

    if (unchanged) {
        // Only the table's own bytes: whatever followed it in the installed
        // file is not part of it, and the revised file holds zeros there.
        if (m_length != 0) std::memcpy(out, m_pData, m_length);
        std::memset(out + m_length, 0, static_cast<size_t>(extent - m_length));
    } else {
        // The old table reads as its m_length bytes followed by zeros up to
        // its padded length; nothing beyond that is part of it.  The new
        // table reads as zeros wherever no block writes; only those bytes are
        // cleared, not the whole table before it is written.
        std::vector<Extent> written;
        const bool tracked = Reserve(&written, static_cast<size_t>(record->m_copyBlocks.GetSize()) +
                                                   static_cast<size_t>(record->m_literalBlocks.GetSize()));
        if (!tracked) std::memset(out, 0, static_cast<size_t>(extent));
        for (INT_PTR i = 0; i < record->m_copyBlocks.GetSize(); ++i) {
            const COldTagObject* block = record->CopyBlock(i);
            CopySpan span;
            if (!CopySpanOf(*block, m_length, length, &span)) return 0;
            if (span.n == 0) continue;
            const uint64_t n = span.n, fromTable = span.fromTable;
            BYTE* to = out + block->m_dstOffset;
            if (fromTable != 0) std::memcpy(to, m_pData + block->m_srcOffset, static_cast<size_t>(fromTable));
            std::memset(to + fromTable, 0, static_cast<size_t>(n - fromTable));
            if (tracked) written.push_back(Extent{block->m_dstOffset, block->m_dstOffset + n});
        }
        for (INT_PTR i = 0; i < record->m_literalBlocks.GetSize(); ++i) {
            const CNewTagObject* block = record->LiteralBlock(i);
            if (block->m_dstOffset >= length) continue;
            const uint64_t n = Smaller(block->m_length, length - block->m_dstOffset);
            std::memcpy(out + block->m_dstOffset, block->m_pBytes, static_cast<size_t>(n));
            if (tracked) written.push_back(Extent{block->m_dstOffset, block->m_dstOffset + n});
        }
        if (tracked) ZeroOutside(out, extent, std::move(written));
    }

    std::memcpy(m_newTag, m_tag, sizeof m_newTag);
    m_newLength = static_cast<uint32_t>(length);
    m_newOffset = record->m_newOffset;
    // The sum of the table padded with zeros, whether or not its padding
    // lies inside the image.
    m_newCheckSum = CalcCheckSum(out, static_cast<int32_t>(length));
    return 1;
}


namespace {

bool Listed(const ReleaseDigests& release) { return release.state == ReleaseDigests::kListed; }

// Reads the difference file into build->data: kReviseOk, or the result
// that refuses it.
int ReadDifference(RevisionBuild* build, const ReleaseDigests& release) {
    build->data = new (std::nothrow) CMakeSabunData;
    if (!build->data) return kReviseDiffUnreadable;
    const int read = build->data->ReadReleasedFile(build->paPath, Listed(release) ? release.file : nullptr);
    if (read < 0) return kReviseDiffNotReleased;
    if (read == 0) return kReviseDiffUnreadable;
    // The host folder may hold another file now than when it was
    // scanned: what is built from must be the file the font was paired with.
    if (build->expectedDiff && !build->data->HeaderIs(*build->expectedDiff)) return kReviseLoadFailed;
    return kReviseOk;
}

// Whether the difference file describes a revised font that can be built
// from the loaded one without any byte landing outside its place, and takes
// the bytes the manifest says it was made from.
int CheckSource(const RevisionBuild& build, const ReleaseDigests& release) {
    // A file the manifest vouches for that does not fit is proof enough
    // that the font is not the one it was made from.
    if (CheckSabunData(*build.data, &build.font, nullptr) != 0) {
        return Listed(release) ? kReviseFontNotReleased : kReviseLoadFailed;
    }
    if (!Listed(release)) return kReviseOk;
    BYTE taken[kDigestSize];
    if (!TakenDigest(build.font, *build.data, taken) || std::memcmp(taken, release.source, kDigestSize) != 0) {
        return kReviseFontNotReleased;
    }
    return kReviseOk;
}

// Forms every table in its own place in build.output (no table is held
// twice) and writes the offset table and the directory; every other byte,
// and the one after the image, is cleared.
int FormImage(const RevisionBuild& build) {
    BYTE* const image = build.output;
    const uint32_t length = build.outputLength;
    const CMakeSabunData& data = *build.data;
    std::vector<Extent> written;
    const int tableCount = data.Header().tableCount;
    const bool tracked = Reserve(&written, 2 * static_cast<size_t>(tableCount) + 1);
    if (!tracked) std::memset(image, 0, static_cast<size_t>(length) + 1);
    if (tracked) written.push_back(Extent{0, kOffsetTableSize});
    build.font.header->Write(image);

    for (int i = 0; i < tableCount; ++i) {
        CSabunTagObject* record = data.FindByIndex(i);
        CTagObject* tag = record ? build.font.FindTag(record->m_tag) : nullptr;
        if (!tag || record->m_newOffset > length) return kReviseLoadFailed;
        tag->m_pNewData = image + record->m_newOffset;
        tag->m_newDataSize = length - record->m_newOffset;
        if (!tag->ApplyDifference(record)) return kReviseLoadFailed;
    }
    for (int j = 0; j < tableCount; ++j) {
        if (j >= build.font.TagCount()) return kReviseLoadFailed;
        const CTagObject* tag = build.font.tags->GetAt(j);
        if (!tag->m_pNewData || tag->m_fileIndex < 0) return kReviseLoadFailed;
        if (!InImage(length, tag->m_newOffset, tag->m_newLength)) return kReviseLoadFailed;
        TableRecord record;
        std::memcpy(record.tag, tag->m_newTag, 4);
        record.checkSum = tag->m_newCheckSum;
        record.offset = tag->m_newOffset;
        record.length = tag->m_newLength;
        const uint64_t slot = static_cast<uint64_t>(tag->m_fileIndex);
        if (!WriteTableRecord(image, length, slot, record)) return kReviseLoadFailed;
        if (tracked) {
            // The table's padding inside the image was cleared with it.
            const uint64_t padding = Smaller(RoundUp4(tag->m_newLength), length - tag->m_newOffset);
            written.push_back(TableRecordExtent(slot));
            written.push_back(Extent{tag->m_newOffset, tag->m_newOffset + padding});
        }
    }
    // The image's trailing byte, beyond its length, is cleared with the rest.
    if (tracked) ZeroOutside(image, static_cast<uint64_t>(length) + 1, std::move(written));
    return kReviseOk;
}

// Creates path and writes the image to it: kReviseOk or kReviseTempFailed.
int WriteImage(const char* path, const BYTE* image, uint32_t length) {
    CFile file;
    if (!file.Open(path, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive)) return kReviseTempFailed;
    const BOOL written = file.Write(image, length);
    // A failed close may have lost data that the write accepted.
    const BOOL closed = file.Close();
    return written && closed ? kReviseOk : kReviseTempFailed;
}

// The finished image against the release manifest's digest of the result.
bool ResultReleased(const RevisionBuild& build, const ReleaseDigests& release) {
    if (!Listed(release)) return true;
    BYTE made[kDigestSize];
    return ReleasedFontDigest(build.output, build.outputLength, made) &&
           std::memcmp(made, release.result, kDigestSize) == 0;
}

int FormSteps(RevisionBuild* build) {
    const FontProgress& progress = build->progress;
    if (progress.Report(40, false, "%sのファイルをオープンしています。")) return kReviseStopped;
    // The maker's digests, when the folder has a manifest: each is compared
    // on the bytes in hand before they are built from, and the revised image
    // before anything is written.
    build->release = ReadReleaseDigests(build->paPath);
    if (build->release.state == ReleaseDigests::kRefused) return kReviseDiffNotReleased;
    int result = ReadDifference(build, build->release);
    if (result != kReviseOk) return result;
    if (progress.Report(55, false, "%sのファイルを読み込んでいます。")) return kReviseStopped;
    result = CheckSource(*build, build->release);
    if (result != kReviseOk) return result;

    build->outputLength = build->data->Header().newFileLength;
    build->output = new (std::nothrow) BYTE[static_cast<size_t>(build->outputLength) + 1];
    if (!build->output) return kReviseLoadFailed;
    return FormImage(*build);
}

}  // namespace

int FormRevision(RevisionBuild* build) {
    const int result = FormSteps(build);
    // The tables' places go with the image.
    for (INT_PTR i = 0; i < build->font.TagCount(); ++i) {
        build->font.tags->GetAt(i)->m_pNewData = nullptr;
        build->font.tags->GetAt(i)->m_newDataSize = 0;
    }
    return result;
}

int WriteRevision(RevisionBuild* build) {
    if (!ResultReleased(*build, build->release)) return kReviseResultNotReleased;
    // The image is final: its sum is taken before the report, so that the
    // stretch after it (writing, copying, flushing) holds file work only.
    // Over whole words only: the read-back leaves out a file's last 1 to 3
    // bytes on both sides of the comparison.
    const uint32_t imageSum = CalcCheckSum(build->output, static_cast<int32_t>(build->outputLength & ~3u));
    // A stop asked for here comes too late to save the work: the file is
    // still written, and the driver removes it.
    int result = kReviseOk;
    if (build->progress.Report(90, true, "%sのファイルを作成しています。")) result = kReviseStopped;
    if (WriteImage(build->tempPath, build->output, build->outputLength) != kReviseOk) return kReviseTempFailed;
    build->imageSum = imageSum;
    return result;
}
