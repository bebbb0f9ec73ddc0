// The last changes to a revised image before it is written: the serial
// strings in its name table, the head checksum and the whole-file
// adjustment; and the check of the file read back after the copy.
//
// These run on m_pOutput after the builder has put every table in place, but
// they read its directory again rather than trusting it: every record,
// string and table they touch is checked against the image first.
#include <cstring>

#include "engine/manager.h"

namespace {

const uint32_t kWholeFileSum = 0xB1B0AFBAu;
// CalcCheckSum takes a signed 32-bit length; no revision of ours is near it.
const uint32_t kMaxReadBackLength = 0x7FFFFFFFu;

}  // namespace

int COpenTypeManager::FindOutputRecord(const char* tag, uint32_t numTables) const {
    if (!m_pOutput) return -1;
    for (uint32_t i = 0; i < numTables; ++i) {
        const uint64_t at = TableRecordAt(i);
        if (!InImage(m_outputLength, at, kTableRecordSize)) break;
        if (TableRecord::Read(m_pOutput + at).HasTag(tag)) return static_cast<int>(i);
    }
    return -1;
}

int COpenTypeManager::WriteSerialRecord(const char* fontPath, const COpenTypeHeader& offsetTable,
                                        ProgressCallbackFn callback, void* context, int fontCount, int fontIndex) {
    const int slot = FindOutputRecord("name", offsetTable.m_numTables);
    if (slot < 0) return kReviseNoNameTable;
    BYTE* at = m_pOutput + TableRecordAt(static_cast<uint32_t>(slot));
    TableRecord record = TableRecord::Read(at);

    if (ReportProgress(callback, context, fontCount, fontIndex, 65, false, fontPath,
                       "%sのファイルにシリアルナンバーを書き込んでいます。")) {
        return kReviseStopped;
    }

    // Strings are written only inside a name table that is itself inside the
    // image; the table's checksum is then taken again.
    if (InImage(m_outputLength, record.offset, record.length)) {
        BYTE* table = m_pOutput + record.offset;
        CNameTableObject::PutSerialStrings(table, record.length, m_macSerial, m_winSerial);
        record.checkSum = CalcCheckSum(table, static_cast<int32_t>(record.length));
        record.Write(at);
    }
    return kReviseOk;
}

int COpenTypeManager::RecalcCheckSums(const char* fontPath, const COpenTypeHeader& offsetTable,
                                      ProgressCallbackFn callback, void* context, int fontCount, int fontIndex) {
    int result = kReviseOk;
    const int slot = FindOutputRecord("head", offsetTable.m_numTables);
    BYTE* head = nullptr;
    if (slot >= 0) {
        BYTE* at = m_pOutput + TableRecordAt(static_cast<uint32_t>(slot));
        TableRecord record = TableRecord::Read(at);
        // A head table shorter than its 54 bytes (or not inside the image)
        // makes a font that no system accepts: it is refused like a missing
        // one, before anything is written over the installed font.
        if (record.length >= kHeadTableSize && InImage(m_outputLength, record.offset, record.length)) {
            head = m_pOutput + record.offset;
            PutU32(head + kHeadAdjustmentOffset, 0);
            record.checkSum = CalcCheckSum(head, static_cast<int32_t>(record.length));
            record.Write(at);
        }
    }
    const uint32_t adjustment = kWholeFileSum - CalcCheckSum(m_pOutput, static_cast<int32_t>(m_outputLength));
    if (!head) result = kReviseChecksum;

    if (ReportProgress(callback, context, fontCount, fontIndex, 75, false, fontPath,
                       "%sのファイルにチェックサムを再計算しています。")) {
        return kReviseStopped;
    }
    if (head) PutU32(head + kHeadAdjustmentOffset, adjustment);
    return result;
}

int COpenTypeManager::VerifyRevisedFile(const char* path, uint32_t expectedSum) {
    // Into the memory the written image left, when the file fits it (the
    // file read back is the size of that image, unless someone changed it);
    // otherwise into a new buffer.
    BYTE* buffer = m_pReadBack;
    uint32_t length = 0;
    if (!ReadWholeFile(path, kMaxReadBackLength, 0, &buffer, &length, m_readBackSize)) return kReviseReadBackFailed;
    // Whole words only, as the sum of the image written was taken.  After a
    // build the file must also be as long as the image written: words of
    // zeros gained or lost leave the sum alone.
    const bool sameLength = m_outputLength == 0 || length == m_outputLength;
    const int result = sameLength && CalcCheckSum(buffer, static_cast<int32_t>(length & ~3u)) == expectedSum
                           ? kReviseOk
                           : kReviseChecksum;
    if (buffer != m_pReadBack) delete[] buffer;
    return result;
}

void COpenTypeManager::DropReadBackBuffer() {
    delete[] m_pReadBack;
    m_pReadBack = nullptr;
    m_readBackSize = 0;
}
