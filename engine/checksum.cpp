#include "engine/checksum.h"

#include "engine/fontview.h"
#include "engine/headname.h"
#include "engine/wholefile.h"

namespace {

const uint32_t kWholeFileSum = 0xB1B0AFBAu;
// CalcCheckSum takes a signed 32-bit length; no revision of ours is near it.
const uint32_t kMaxReadBackLength = 0x7FFFFFFFu;

}  // namespace

int PutSerialRecord(BYTE* image, uint32_t length, uint32_t numTables, const char* macSerial, const char* winSerial,
                    const FontProgress& progress) {
    const TableEntry name = DirectoryView(image, length, numTables).Find("name");
    if (!name) return kReviseNoNameTable;
    if (progress.Report(65, false, "%sのファイルにシリアルナンバーを書き込んでいます。")) return kReviseStopped;
    // Strings are written only inside a name table that is itself inside the
    // image; the table's checksum is then taken again.
    if (name.data) {
        BYTE* table = image + name.record.offset;
        CNameTableObject::PutSerialStrings(table, name.record.length, macSerial, winSerial);
        TableRecord record = name.record;
        record.checkSum = CalcCheckSum(table, static_cast<int32_t>(record.length));
        record.Write(image + name.recordAt);
    }
    return kReviseOk;
}

int PutCheckSums(BYTE* image, uint32_t length, uint32_t numTables, const FontProgress& progress) {
    const TableEntry found = DirectoryView(image, length, numTables).Find("head");
    // A head table shorter than its 54 bytes (or not inside the image) makes
    // a font that no system accepts: it is refused like a missing one,
    // before anything is written over the installed font.
    BYTE* head = found && found.data && found.record.length >= kHeadTableSize ? image + found.record.offset : nullptr;
    if (head) {
        PutU32(head + kHeadAdjustmentOffset, 0);
        TableRecord record = found.record;
        record.checkSum = CalcCheckSum(head, static_cast<int32_t>(record.length));
        record.Write(image + found.recordAt);
    }
    const uint32_t adjustment = kWholeFileSum - CalcCheckSum(image, static_cast<int32_t>(length));
    if (progress.Report(75, false, "%sのファイルにチェックサムを再計算しています。")) return kReviseStopped;
    if (!head) return kReviseChecksum;
    PutU32(head + kHeadAdjustmentOffset, adjustment);
    return kReviseOk;
}

int CheckReadBack(const char* path, uint32_t expectedSum, uint32_t expectedLength, BYTE* reuse, uint64_t capacity) {
    WholeFile file;
    if (ReadWholeFileInto(path, kMaxReadBackLength, reuse, capacity, &file) != kWholeFileRead) {
        return kReviseReadBackFailed;
    }
    // Whole words only, as the sum of the image written was taken.  After a
    // build the file must also be as long as the image written: words of
    // zeros gained or lost leave the sum alone.
    const bool sameLength = expectedLength == 0 || file.length == expectedLength;
    const int result = sameLength && CalcCheckSum(file.data, static_cast<int32_t>(file.length & ~3u)) == expectedSum
                           ? kReviseOk
                           : kReviseChecksum;
    if (file.data != reuse) delete[] file.data;
    return result;
}
