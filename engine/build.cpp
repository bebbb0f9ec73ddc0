// Building the revised font: each table formed from the installed one and
// its difference record, the tables put together into one image, the image
// finished (serial strings, checksums) and written to the temporary file.
//
// A difference file is checked as a whole before anything is built.  A file
// that does not describe a sound font for exactly the installed one (a table
// missing or doubled, a slot taken twice or left empty, tables overlapping
// each other or the directory, bytes taken from outside an old table) would
// otherwise leave a damaged font in place of a working one; it is refused
// with the result for a font that does not fit its difference file.
#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "engine/manager.h"
#include "engine/manifest.h"
#include "engine/release.h"
#include "engine/sabuncheck.h"
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

// What one copy block takes from an old table of oldLength bytes into a new
// one of newLength: n bytes at srcOffset of the old table read as its bytes
// followed by zeros up to its padded length, fromTable of them its own.
struct CopySpan {
    uint64_t n = 0;
    uint64_t fromTable = 0;
};

// False when the block reads outside the padded old table.  A block that
// starts past the new table's end takes nothing.
bool SpanOf(const COldTagObject& block, uint64_t oldLength, uint64_t newLength, CopySpan* span) {
    *span = CopySpan();
    if (block.m_dstOffset >= newLength) return true;
    span->n = Smaller(block.m_length, newLength - block.m_dstOffset);
    if (!InImage(RoundUp4(oldLength), block.m_srcOffset, span->n)) return false;
    span->fromTable = block.m_srcOffset < oldLength ? Smaller(span->n, oldLength - block.m_srcOffset) : 0;
    return true;
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
            if (!SpanOf(*block, m_length, length, &span)) return 0;
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

bool COpenTypeManager::DifferenceFits() const {
    return m_pSabunData && CheckSabunData(*m_pSabunData, this, nullptr) == 0;
}

bool COpenTypeManager::TakenDigest(const CMakeSabunData& data, BYTE out[kDigestSize]) const {
    std::memset(out, 0, kDigestSize);
    if (!m_pFile || m_fileLength < static_cast<int32_t>(kOffsetTableSize)) return false;
    const uint64_t imageLength = static_cast<uint64_t>(m_fileLength);
    std::vector<Extent> filledIn;
    if (!FilledInRanges(m_pFile, imageLength, &filledIn)) return false;
    CSha256 hash;
    // The revised font's offset table is the installed one's.
    AddApartFromFilledIn(&hash, m_pFile, 0, kOffsetTableSize, filledIn);
    // Then every table in the order the build forms them, each as the build
    // reads it: whole when it is taken over, else the bytes each copy block
    // takes from it.
    for (int i = 0; i < data.Header().tableCount; ++i) {
        const CSabunTagObject* record = data.FindByIndex(i);
        const CTagObject* tag = record ? FindTag(record->m_tag) : nullptr;
        if (!tag || (tag->m_length != 0 && !tag->m_pData)) return false;
        const uint64_t at = static_cast<uint64_t>(tag->m_pData - m_pFile);
        if (!record->m_hasBlocks) {
            AddApartFromFilledIn(&hash, m_pFile, at, at + tag->m_length, filledIn);
            continue;
        }
        for (INT_PTR b = 0; b < record->m_copyBlocks.GetSize(); ++b) {
            const COldTagObject* block = record->CopyBlock(b);
            CopySpan span;
            if (!SpanOf(*block, tag->m_length, record->m_newLength, &span)) return false;
            const uint64_t from = at + block->m_srcOffset;
            if (span.fromTable != 0) AddApartFromFilledIn(&hash, m_pFile, from, from + span.fromTable, filledIn);
        }
    }
    return hash.Finish(out);
}

int COpenTypeManager::WriteOutput(const char* tempPath) {
    CFile file;
    if (!file.Open(tempPath, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive)) return kReviseTempFailed;
    const BOOL written = file.Write(m_pOutput, m_outputLength);
    // A failed close may have lost data that the write accepted.
    const BOOL closed = file.Close();
    return written && closed ? kReviseOk : kReviseTempFailed;
}

int COpenTypeManager::CreateRevisedFile(const char* fontPath, const char* paPath, const char* tempPath,
                                        ProgressCallbackFn callback, void* context, int fontCount, int fontIndex) {
    auto report = [&](int step, bool floatForm, const char* line2) {
        return ReportProgress(callback, context, fontCount, fontIndex, step, floatForm, fontPath, line2);
    };
    auto build = [&]() -> int {
        if (report(40, false, "%sのファイルをオープンしています。")) return kReviseStopped;

        // The maker's digests, when the folder has a manifest: each is
        // compared on the bytes in hand before they are built from, and the
        // revised image before anything is written.
        const ReleaseDigests release = ReadReleaseDigests(paPath);
        if (release.state == ReleaseDigests::kRefused) return kReviseDiffNotReleased;
        const bool listed = release.state == ReleaseDigests::kListed;

        delete m_pSabunData;
        m_pSabunData = new (std::nothrow) CMakeSabunData;
        if (!m_pSabunData) return kReviseDiffUnreadable;
        const int read = m_pSabunData->ReadReleasedFile(paPath, listed ? release.file : nullptr);
        if (read < 0) return kReviseDiffNotReleased;
        if (read == 0) return kReviseDiffUnreadable;
        // The host folder may hold another file now than when it was
        // scanned: what is built from must be the file the font was paired with.
        if (m_pExpectedDiff && !m_pSabunData->HeaderIs(*m_pExpectedDiff)) return kReviseLoadFailed;

        if (report(55, false, "%sのファイルを読み込んでいます。")) return kReviseStopped;
        // A file the manifest vouches for that does not fit is proof enough
        // that the font is not the one it was made from.
        if (!DifferenceFits()) return listed ? kReviseFontNotReleased : kReviseLoadFailed;
        if (listed) {
            BYTE taken[kDigestSize];
            if (!TakenDigest(*m_pSabunData, taken) || std::memcmp(taken, release.source, kDigestSize) != 0) {
                return kReviseFontNotReleased;
            }
        }

        m_outputLength = m_pSabunData->Header().newFileLength;
        delete[] m_pOutput;
        // The memory kept from an earlier build is given up first, so that
        // no more than one image is ever held beside the installed font.
        DropReadBackBuffer();
        m_pOutput = new (std::nothrow) BYTE[static_cast<size_t>(m_outputLength) + 1];
        if (!m_pOutput) return kReviseLoadFailed;
        std::vector<Extent> written;
        const int tableCount = m_pSabunData->Header().tableCount;
        const bool tracked = Reserve(&written, 2 * static_cast<size_t>(tableCount) + 1);
        if (!tracked) std::memset(m_pOutput, 0, static_cast<size_t>(m_outputLength) + 1);
        if (tracked) written.push_back(Extent{0, kOffsetTableSize});

        m_header.Write(m_pOutput);

        // Each table is formed in its own place in the image: no table is
        // held twice.
        for (int i = 0; i < tableCount; ++i) {
            CSabunTagObject* record = m_pSabunData->FindByIndex(i);
            if (!record) return kReviseLoadFailed;
            CTagObject* tag = FindTag(record->m_tag);
            if (!tag) return kReviseLoadFailed;
            if (record->m_newOffset > m_outputLength) return kReviseLoadFailed;
            tag->m_pNewData = m_pOutput + record->m_newOffset;
            tag->m_newDataSize = m_outputLength - record->m_newOffset;
            if (!tag->ApplyDifference(record)) return kReviseLoadFailed;
        }

        for (int j = 0; j < tableCount; ++j) {
            if (j >= m_tags.GetSize()) return kReviseLoadFailed;
            const CTagObject* tag = m_tags.GetAt(j);
            if (!tag->m_pNewData || tag->m_fileIndex < 0) return kReviseLoadFailed;
            const uint64_t at = TableRecordAt(static_cast<uint64_t>(tag->m_fileIndex));
            if (!InImage(m_outputLength, at, kTableRecordSize)) return kReviseLoadFailed;
            if (!InImage(m_outputLength, tag->m_newOffset, tag->m_newLength)) return kReviseLoadFailed;
            TableRecord record;
            std::memcpy(record.tag, tag->m_newTag, 4);
            record.checkSum = tag->m_newCheckSum;
            record.offset = tag->m_newOffset;
            record.length = tag->m_newLength;
            record.Write(m_pOutput + at);
            if (tracked) {
                // The table's padding inside the image was cleared with it.
                const uint64_t padding = Smaller(RoundUp4(tag->m_newLength), m_outputLength - tag->m_newOffset);
                written.push_back(Extent{at, at + kTableRecordSize});
                written.push_back(Extent{tag->m_newOffset, tag->m_newOffset + padding});
            }
        }
        // The image's trailing byte, beyond its length, is cleared with the rest.
        if (tracked) ZeroOutside(m_pOutput, static_cast<uint64_t>(m_outputLength) + 1, std::move(written));

        int result = WriteSerialRecord(fontPath, m_header, callback, context, fontCount, fontIndex);
        if (result != kReviseOk) return result;
        result = RecalcCheckSums(fontPath, m_header, callback, context, fontCount, fontIndex);
        if (result != kReviseOk) return result;
        if (listed) {
            BYTE made[kDigestSize];
            if (!ReleasedFontDigest(m_pOutput, m_outputLength, made) ||
                std::memcmp(made, release.result, kDigestSize) != 0) {
                return kReviseResultNotReleased;
            }
        }

        // The image is final: its sum is taken before the report, so that the
        // stretch after it (writing, copying, flushing) holds file work only.
        // Over whole words only: the read-back leaves out a file's last 1 to 3
        // bytes on both sides of the comparison.
        const uint32_t imageSum = CalcCheckSum(m_pOutput, static_cast<int32_t>(m_outputLength & ~3u));

        // A stop asked for here comes too late to save the work: the file is
        // still written, and the driver removes it.
        if (report(90, true, "%sのファイルを作成しています。")) result = kReviseStopped;

        if (WriteOutput(tempPath) != kReviseOk) return kReviseTempFailed;
        m_outputSum += imageSum;
        return result;
    };

    const int result = build();
    // The tables' places go with the image.
    for (INT_PTR i = 0; i < m_tags.GetSize(); ++i) {
        m_tags.GetAt(i)->m_pNewData = nullptr;
        m_tags.GetAt(i)->m_newDataSize = 0;
    }
    // A written image's memory is kept for reading the file back; its bytes
    // are of no further use.
    if (result == kReviseOk && m_pOutput) {
        m_pReadBack = m_pOutput;
        m_readBackSize = static_cast<uint64_t>(m_outputLength) + 1;
    } else {
        delete[] m_pOutput;
    }
    m_pOutput = nullptr;
    return result;
}
