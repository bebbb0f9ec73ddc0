// COpenTypeManager: the storage of one font, and each operation handed to
// the function of its concern.
#include "engine/manager.h"

#include <cstring>
#include <new>

#include "engine/build.h"
#include "engine/checksum.h"
#include "engine/fontview.h"
#include "engine/load.h"
#include "platform/framework/path.h"

COpenTypeManager::COpenTypeManager() {
    std::memset(m_macSerial, 0, sizeof m_macSerial);
    std::memset(m_winSerial, 0, sizeof m_winSerial);
}

COpenTypeManager::~COpenTypeManager() { Reset(); }

void COpenTypeManager::Reset() {
    delete[] m_pFile;
    m_pFile = nullptr;
    for (INT_PTR i = 0; i < m_tags.GetSize(); ++i) delete m_tags.GetAt(i);
    m_tags.RemoveAll();
    m_sortedTags.RemoveAll();
    delete m_pSabunData;
    m_pSabunData = nullptr;
    delete[] m_pOutput;
    m_pOutput = nullptr;
    DropReadBackBuffer();
}

CTagObject* COpenTypeManager::FindTag(const char* tagName) const { return FindTagIn(m_tags, tagName); }

bool COpenTypeManager::ReadImage(const char* path, bool spareByte, bool* wrongSize) {
    // m_fileLength is a signed 32-bit length; larger files are no fonts of ours.
    WholeFile file;
    const WholeFileResult read = ReadWholeFile(path, 0x7FFFFFFFu, spareByte ? 1 : 0, &file, &m_fileIdentity);
    if (wrongSize) *wrongSize = read == kWholeFileWrongSize;
    if (read != kWholeFileRead) return false;
    m_pFile = file.data;
    m_fileLength = static_cast<int32_t>(file.length);
    return true;
}

int COpenTypeManager::IsTargetFont(const char* path, const DiffFileRecord* entry, int* revisionOut) {
    Reset();
    int result = 0;
    // Whatever a file claims, running out of memory over it only means it
    // is not one of ours.
    try {
        bool wrongSize = false;
        if (!ReadImage(path, false, &wrongSize)) {
            // An empty or oversized file is simply not one of ours.
            result = wrongSize ? 0 : -1;
        } else if (m_header.Parse(m_pFile, ImageLength())) {
            result = FontIsEntry(m_pFile, ImageLength(), m_header.m_numTables, *entry, kIdentifySameFont, revisionOut);
        }
    } catch (const std::bad_alloc&) {
        result = 0;
    }
    delete[] m_pFile;
    m_pFile = nullptr;
    return result;
}

bool COpenTypeManager::LoadedFontIs(const DiffFileRecord& entry) const {
    return FontIsEntry(m_pFile, ImageLength(), m_header.m_numTables, entry, kIdentifyNothingContrary);
}

bool COpenTypeManager::LoadedFontIsTarget(const DiffFileRecord& entry) const {
    return FontIsEntry(m_pFile, ImageLength(), m_header.m_numTables, entry, kIdentifySameFont);
}

FontIdentity COpenTypeManager::ReadFontIdentity() const {
    return ::ReadFontIdentity(m_pFile, ImageLength(), m_header.m_numTables);
}

int COpenTypeManager::LoadFont(const char* path, ProgressCallbackFn callback, void* context, int fontCount,
                               int fontIndex) {
    Reset();
    CString name, ext;
    SplitPath(path, nullptr, nullptr, &name, &ext);
    m_fontName.Format("%s%s", static_cast<const char*>(name), static_cast<const char*>(ext));
    // With no context nobody listens: no report is made at all.
    const FontProgress progress{context ? callback : nullptr, context, fontCount, fontIndex, path};

    if (!ReadImage(path, true)) return kReviseLoadFailed;
    if (progress.Report(10, false, "%sのファイルをオープンしています。")) return kReviseStopped;
    if (!m_header.Parse(m_pFile, ImageLength())) return kReviseLoadFailed;
    const DirectoryView directory(m_pFile, ImageLength(), m_header.m_numTables);
    if (!directory.Fits()) return kReviseLoadFailed;
    if (progress.Report(20, false, "%sのファイルを読み込んでいます。")) return kReviseStopped;
    if (!ReadTableObjects(directory, &m_tags)) return kReviseLoadFailed;
    if (progress.Report(30, false, "タグデータを読み込みました。")) return kReviseStopped;
    OrderTableObjects(m_tags, &m_sortedTags);
    return kReviseOk;
}

void COpenTypeManager::TakeSerialStrings() {
    std::memset(m_macSerial, 0, sizeof m_macSerial);
    std::memset(m_winSerial, 0, sizeof m_winSerial);
    const DirectoryView directory(m_pFile, ImageLength(), m_header.m_numTables);
    if (!directory.Fits()) return;
    const TableEntry name = directory.Find("name");
    if (name) GetSerialStrings(m_pFile + name.recordAt, m_macSerial, m_winSerial);
}

int COpenTypeManager::GetSerialStrings(const BYTE* record, char* macOut, char* winOut) {
    return ReadSerialStrings(record, m_pFile, ImageLength(), macOut, winOut);
}

int COpenTypeManager::CreateRevisedFile(const char* fontPath, const char* paPath, const char* tempPath,
                                        ProgressCallbackFn callback, void* context, int fontCount, int fontIndex) {
    // No more than one image is ever held beside the installed font: the
    // memory kept from an earlier build is given up first.
    DropReadBackBuffer();
    RevisionBuild build;
    build.font = Loaded();
    build.paPath = paPath;
    build.tempPath = tempPath;
    build.expectedDiff = m_pExpectedDiff;
    build.progress = FontProgress{callback, context, fontCount, fontIndex, fontPath};
    build.outputLength = m_outputLength;
    int result = FormRevision(&build);
    if (build.data) {
        delete m_pSabunData;
        m_pSabunData = build.data;
    }
    m_pOutput = build.output;
    m_outputLength = build.outputLength;
    if (result == kReviseOk) result = WriteSerialRecord(fontPath, m_header, callback, context, fontCount, fontIndex);
    if (result == kReviseOk) result = RecalcCheckSums(fontPath, m_header, callback, context, fontCount, fontIndex);
    if (result == kReviseOk) result = WriteRevision(&build);
    m_outputSum += build.imageSum;
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

int COpenTypeManager::WriteSerialRecord(const char* fontPath, const COpenTypeHeader& offsetTable,
                                        ProgressCallbackFn callback, void* context, int fontCount, int fontIndex) {
    return PutSerialRecord(m_pOutput, m_outputLength, offsetTable.m_numTables, m_macSerial, m_winSerial,
                           FontProgress{callback, context, fontCount, fontIndex, fontPath});
}

int COpenTypeManager::RecalcCheckSums(const char* fontPath, const COpenTypeHeader& offsetTable,
                                      ProgressCallbackFn callback, void* context, int fontCount, int fontIndex) {
    return PutCheckSums(m_pOutput, m_outputLength, offsetTable.m_numTables,
                        FontProgress{callback, context, fontCount, fontIndex, fontPath});
}

int COpenTypeManager::VerifyRevisedFile(const char* path, uint32_t expectedSum) {
    // Into the memory the written image left, when the file fits it.
    return CheckReadBack(path, expectedSum, m_outputLength, m_pReadBack, m_readBackSize);
}

void COpenTypeManager::DropReadBackBuffer() {
    delete[] m_pReadBack;
    m_pReadBack = nullptr;
    m_readBackSize = 0;
}
