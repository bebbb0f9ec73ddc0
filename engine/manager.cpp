// COpenTypeManager: storage, identification and loading.
#include "engine/manager.h"

#include <cstring>
#include <new>

#include "platform/framework/cfile.h"
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
}

CTagObject* COpenTypeManager::FindTag(const char* tagName) const {
    for (INT_PTR i = 0; i < m_tags.GetSize(); ++i) {
        CTagObject* tag = m_tags.GetAt(i);
        if (std::strcmp(tag->m_tagName, tagName) == 0) return tag;
    }
    return nullptr;
}

bool COpenTypeManager::ReadImage(const char* path, bool spareByte) {
    // No other program may change the font while its image is taken.
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareExclusive)) return false;
    const ULONGLONG length = file.GetLength();
    // m_fileLength is a signed 32-bit length; larger files are no fonts of ours.
    if (length == 0 || length > 0x7FFFFFFFu) return false;
    m_fileLength = static_cast<int32_t>(length);
    const size_t size = static_cast<size_t>(length) + (spareByte ? 1 : 0);
    m_pFile = new (std::nothrow) BYTE[size];
    if (!m_pFile) return false;
    if (spareByte) m_pFile[length] = 0;
    return file.Read(m_pFile, static_cast<UINT>(length)) == length;
}

int COpenTypeManager::IsTargetFont(const char* path, const DiffFileRecord* entry, int* revisionOut) {
    Reset();
    int result = 0;
    if (ReadImage(path, false) && m_header.Parse(m_pFile, static_cast<uint32_t>(m_fileLength)) &&
        DirectoryFits(static_cast<uint32_t>(m_fileLength), m_header.m_numTables)) {
        const uint32_t length = static_cast<uint32_t>(m_fileLength);

        bool headMatches = false;
        for (uint32_t i = 0; i < m_header.m_numTables && !headMatches; ++i) {
            const BYTE* record = m_pFile + kOffsetTableSize + kTableRecordSize * i;
            if (std::memcmp(record, "head", 4) != 0) continue;
            CTagHeadObject head;
            head.ReadRecord(record, m_pFile, length);
            // A head table that is not wholly inside the file is not examined.
            if (!head.ReadTable(m_pFile)) continue;
            *revisionOut = static_cast<int>(head.m_headInfo.m_fontRevision);
            headMatches = static_cast<int>(head.m_headInfo.m_fontRevision) == entry->fromRevision;
        }

        for (uint32_t i = 0; i < m_header.m_numTables && headMatches && result == 0; ++i) {
            const BYTE* record = m_pFile + kOffsetTableSize + kTableRecordSize * i;
            if (std::memcmp(record, "name", 4) != 0) continue;
            CTagNameObject name;
            name.ReadRecord(record, m_pFile, length);
            name.ReadTable(m_pFile);
            char fifth[kSerialBufferSize];
            if (name.GetFifthRecordString(fifth) && std::strcmp(fifth, entry->fontName) == 0) result = 1;
        }
    }
    delete[] m_pFile;
    m_pFile = nullptr;
    return result;
}

int OverallPercent(int fontCount, int fontIndex, int step, bool floatForm) {
    if (fontCount < 1) fontCount = 1;
    if (floatForm) {
        // Each quotient rounded to single precision, then the sum truncated: with
        // the last font's step 100 this reaches exactly 100.
        const float a = static_cast<float>(fontIndex) * 100.0f / static_cast<float>(fontCount);
        const float b = static_cast<float>(step) / static_cast<float>(fontCount);
        return static_cast<int>(a + b);
    }
    return fontIndex * 100 / fontCount + step / fontCount;
}

int ReportProgress(ProgressCallbackFn callback, void* context, int fontCount, int fontIndex, int step,
                   bool floatForm, const char* fontPath, const char* line2Format) {
    if (!callback) return 0;
    CString name;
    SplitPath(fontPath, nullptr, nullptr, &name, nullptr);
    CString line1, line2;
    line1.Format("%sの改訂をしています。", fontPath);
    line2.Format(line2Format, static_cast<const char*>(name));
    return callback(OverallPercent(fontCount, fontIndex, step, floatForm), step, line1, line2, context);
}

int COpenTypeManager::LoadFont(const char* path, ProgressCallbackFn callback, void* context, int fontCount,
                               int fontIndex) {
    Reset();

    CString name, ext;
    SplitPath(path, nullptr, nullptr, &name, &ext);
    m_fontName.Format("%s%s", static_cast<const char*>(name), static_cast<const char*>(ext));

    // With no context nobody listens: no report is made at all.
    auto report = [&](int step, const char* line2) {
        return context ? ReportProgress(callback, context, fontCount, fontIndex, step, false, path, line2) : 0;
    };

    if (!ReadImage(path, true)) return kReviseLoadFailed;
    if (report(10, "%sのファイルをオープンしています。")) return kReviseStopped;

    const uint32_t length = static_cast<uint32_t>(m_fileLength);
    if (!m_header.Parse(m_pFile, length)) return kReviseLoadFailed;
    if (!DirectoryFits(length, m_header.m_numTables)) return kReviseLoadFailed;
    if (report(20, "%sのファイルを読み込んでいます。")) return kReviseStopped;

    for (uint32_t i = 0; i < m_header.m_numTables; ++i) {
        const BYTE* record = m_pFile + kOffsetTableSize + kTableRecordSize * i;
        char tagName[5] = {0, 0, 0, 0, 0};
        std::memcpy(tagName, record, 4);
        if (!IsKnownTag(tagName)) return kReviseLoadFailed;
        CTagObject* tag = new (std::nothrow) CTagObject;
        if (!tag) return kReviseLoadFailed;
        m_tags.Add(tag);
        tag->ReadRecord(record, m_pFile, length);
        // The builder takes every table's bytes from the image.
        if (!tag->HasData()) return kReviseLoadFailed;
    }
    if (report(30, "タグデータを読み込みました。")) return kReviseStopped;

    for (INT_PTR i = 0; i < m_tags.GetSize(); ++i) {
        CTagObject* tag = m_tags.GetAt(i);
        tag->m_fileIndex = static_cast<int32_t>(i);
        m_sortedTags.Add(tag);
    }
    m_sortedTags.Sort(CompareTagOffsets);
    for (INT_PTR i = 0; i < m_sortedTags.GetSize(); ++i) m_sortedTags.GetAt(i)->m_sortedIndex = static_cast<int32_t>(i);
    return kReviseOk;
}

int COpenTypeManager::GetSerialStrings(const BYTE* record, char* macOut, char* winOut) {
    if (std::memcmp(record, "name", 4) != 0) return 0;
    CTagNameObject name;
    name.ReadRecord(record, m_pFile, static_cast<uint32_t>(m_fileLength));
    name.ReadTable(m_pFile);
    return name.GetSerialStrings(macOut, winOut);
}
