// The last changes to a revised image before it is written: the serial
// strings in its name table, the head checksum and the whole-file
// adjustment; and the check of the file read back after the copy.
//
// These run on m_pOutput after the builder has put every table in place, but
// they read its directory again rather than trusting it: every record,
// string and table they touch is checked against the image first.
#include <cstring>
#include <new>

#include "engine/manager.h"
#include "platform/framework/cfile.h"

namespace {

const uint32_t kWholeFileSum = 0xB1B0AFBAu;
const uint32_t kNameHeaderSize = 6;
const uint32_t kNameRecordSize = 12;
const uint16_t kLicenseNameID = 13;
const uint16_t kPlatformMacintosh = 1;
const uint32_t kAdjustmentOffset = 8;

}  // namespace

uint32_t WordSum(const BYTE* data, uint64_t length, bool padTail) {
    uint32_t sum = 0;
    const uint64_t words = length / 4;
    const BYTE* p = data;
    for (uint64_t i = 0; i < words; ++i, p += 4) {
        sum += (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
               (static_cast<uint32_t>(p[2]) << 8) | p[3];
    }
    const uint64_t tail = length % 4;
    if (padTail && tail != 0) {
        uint32_t word = 0;
        for (uint64_t k = 0; k < 4; ++k) word = word << 8 | (k < tail ? p[k] : 0u);
        sum += word;
    }
    return sum;
}

int COpenTypeManager::FindOutputRecord(const char* tag, uint32_t numTables) const {
    if (!m_pOutput) return -1;
    for (uint32_t i = 0; i < numTables; ++i) {
        const uint64_t at = kOffsetTableSize + static_cast<uint64_t>(kTableRecordSize) * i;
        if (!InImage(m_outputLength, at, kTableRecordSize)) break;
        if (std::memcmp(m_pOutput + at, tag, 4) == 0) return static_cast<int>(i);
    }
    return -1;
}

int COpenTypeManager::WriteSerialRecord(const char* fontPath, const COpenTypeHeader& offsetTable,
                                        ProgressCallbackFn callback, void* context, int fontCount, int fontIndex) {
    const int slot = FindOutputRecord("name", offsetTable.m_numTables);
    if (slot < 0) return kReviseNoNameTable;
    BYTE* record = m_pOutput + kOffsetTableSize + kTableRecordSize * static_cast<uint32_t>(slot);
    const uint32_t tableOffset = GetU32(record + 8);
    const uint32_t tableLength = GetU32(record + 12);

    // Strings are written only inside a name table that is itself inside the
    // image, and only where its own records and string storage say: a record
    // or a string reaching past the table's end is left as it is.
    const bool tableInImage = InImage(m_outputLength, tableOffset, tableLength);
    BYTE* table = tableInImage ? m_pOutput + tableOffset : nullptr;
    uint32_t count = 0;
    uint32_t stringOffset = 0;
    if (tableInImage && tableLength >= kNameHeaderSize) {
        count = GetU16(table + 2);
        stringOffset = GetU16(table + 4);
    }

    if (ReportProgress(callback, context, fontCount, fontIndex, 65, false, fontPath,
                       "%sのファイルにシリアルナンバーを書き込んでいます。")) {
        return kReviseStopped;
    }

    // Records may all point at one long string: the strings written over
    // stop at twice the table's length, so that a table of 65,535 such
    // records costs no more than its own size.
    uint64_t written = 0;
    for (uint32_t j = 0; j < count; ++j) {
        const uint64_t at = kNameHeaderSize + static_cast<uint64_t>(kNameRecordSize) * j;
        if (!InImage(tableLength, at, kNameRecordSize)) break;
        const BYTE* nameRecord = table + at;
        if (GetU16(nameRecord + 6) != kLicenseNameID) continue;
        const uint16_t platformID = GetU16(nameRecord);
        const uint32_t length = GetU16(nameRecord + 8);
        const uint64_t start = static_cast<uint64_t>(stringOffset) + GetU16(nameRecord + 10);
        if (!InImage(tableLength, start, length)) continue;
        written += length;
        if (written > 2 * static_cast<uint64_t>(tableLength)) break;

        BYTE* text = table + start;
        const char* serial = platformID == kPlatformMacintosh ? m_macSerial : m_winSerial;
        const uint32_t copied = length < static_cast<uint32_t>(kSerialBufferSize) ? length : kSerialBufferSize;
        std::memset(text, 0, length);
        std::memcpy(text, serial, copied);
    }

    if (tableInImage) PutU32(record + 4, WordSum(table, tableLength, true));
    return kReviseOk;
}

int COpenTypeManager::RecalcCheckSums(const char* fontPath, const COpenTypeHeader& offsetTable,
                                      ProgressCallbackFn callback, void* context, int fontCount, int fontIndex) {
    int result = kReviseOk;
    const int slot = FindOutputRecord("head", offsetTable.m_numTables);
    BYTE* head = nullptr;
    if (slot >= 0) {
        BYTE* record = m_pOutput + kOffsetTableSize + kTableRecordSize * static_cast<uint32_t>(slot);
        const uint32_t headOffset = GetU32(record + 8);
        const uint32_t headLength = GetU32(record + 12);
        // A head table shorter than its 54 bytes (or not inside the image)
        // makes a font that no system accepts: it is refused like a missing
        // one, before anything is written over the installed font.
        if (headLength >= kHeadTableSize && InImage(m_outputLength, headOffset, headLength)) {
            head = m_pOutput + headOffset;
            PutU32(head + kAdjustmentOffset, 0);
            PutU32(record + 4, WordSum(head, headLength, true));
        }
    }
    const uint32_t adjustment = kWholeFileSum - WordSum(m_pOutput, m_outputLength, true);
    if (!head) result = kReviseChecksum;

    if (ReportProgress(callback, context, fontCount, fontIndex, 75, false, fontPath,
                       "%sのファイルにチェックサムを再計算しています。")) {
        return kReviseStopped;
    }
    if (head) PutU32(head + kAdjustmentOffset, adjustment);
    return result;
}

int COpenTypeManager::VerifyRevisedFile(const char* path, uint32_t expectedSum) {
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite)) return kReviseReadBackFailed;
    const ULONGLONG length = file.GetLength();
    if (length == 0 || length > 0xFFFFFFFFu) return kReviseReadBackFailed;
    BYTE* buffer = new (std::nothrow) BYTE[static_cast<size_t>(length)];
    if (!buffer) return kReviseReadBackFailed;
    const UINT got = file.Read(buffer, static_cast<UINT>(length));
    file.Close();
    // A file that cannot be read whole has not been read back.
    const int result = got != length                              ? kReviseReadBackFailed
                       : WordSum(buffer, length) == expectedSum ? kReviseOk
                                                                  : kReviseChecksum;
    delete[] buffer;
    return result;
}
