// COpenTypeManager: storage, identification and loading.
#include "engine/manager.h"

#include <cstring>
#include <new>
#include <set>

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

CTagObject* COpenTypeManager::FindTag(const char* tagName) const {
    for (INT_PTR i = 0; i < m_tags.GetSize(); ++i) {
        CTagObject* tag = m_tags.GetAt(i);
        if (std::strcmp(tag->m_tagName, tagName) == 0) return tag;
    }
    return nullptr;
}

bool COpenTypeManager::ReadImage(const char* path, bool spareByte, bool* wrongSize) {
    // No other program may change the font while its image is taken.  One
    // that only reads it may go on: Windows holds every font it has loaded
    // from outside its own font folder open for reading, and such a font is
    // still to be found and revised.  m_fileLength is a signed 32-bit
    // length; larger files are no fonts of ours.
    BY_HANDLE_FILE_INFORMATION info;
    bool known = false;
    m_identity = FileIdentity();
    BYTE* image = nullptr;
    uint32_t length = 0;
    const bool read = ReadWholeFile(path, 0x7FFFFFFFu, spareByte ? 1 : 0, &image, &length, 0, &info, &known, wrongSize);
    if (known) m_identity = FileIdentity{true, info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    if (!read) return false;
    m_pFile = image;
    m_fileLength = static_cast<int32_t>(length);
    return true;
}

namespace {

// Name tables read while one font is identified hold at most this many
// records in all: twice what the file could hold once, so a real font's one
// table always fits, while directory entries that all point into one large
// table cannot make the work grow with their number.
uint64_t NameRecordBudget(uint32_t fileLength) { return static_cast<uint64_t>(fileLength) / 6 + 64; }

}  // namespace

COpenTypeManager::IdentityMatch COpenTypeManager::MatchIdentity(const DiffFileRecord& entry, bool headFirst,
                                                                int* revisionOut) const {
    IdentityMatch match;
    const uint32_t length = static_cast<uint32_t>(m_fileLength);
    if (!m_pFile || !DirectoryFits(length, m_header.m_numTables)) return match;

    for (uint32_t i = 0; i < m_header.m_numTables && !match.headMatches; ++i) {
        const BYTE* record = m_pFile + TableRecordAt(i);
        if (!TableRecord::Read(record).HasTag("head")) continue;
        CTagHeadObject head;
        head.ReadRecord(record, m_pFile, length);
        // A head table that is not wholly inside the file is not examined.
        if (!head.ReadTable(m_pFile)) continue;
        match.sawHead = true;
        if (revisionOut) *revisionOut = static_cast<int>(head.m_headInfo.m_fontRevision);
        match.headMatches = static_cast<int>(head.m_headInfo.m_fontRevision) == entry.fromRevision;
    }
    if (headFirst && !match.headMatches) return match;

    // Several directory entries may name one table: each distinct table is
    // read once.
    std::set<uint64_t> tried;
    uint64_t budget = NameRecordBudget(length);
    for (uint32_t i = 0; i < m_header.m_numTables && !match.nameMatches; ++i) {
        const BYTE* record = m_pFile + TableRecordAt(i);
        const TableRecord r = TableRecord::Read(record);
        if (!r.HasTag("name")) continue;
        match.sawName = true;
        if (!tried.insert(static_cast<uint64_t>(r.offset) << 32 | r.length).second) continue;
        if (InImage(length, r.offset, r.length) && r.length >= kNameHeaderSize) {
            const uint32_t count = NameTableHeader::Read(m_pFile + r.offset).count;
            if (count > budget) break;
            budget -= count;
        }
        CTagNameObject name;
        name.ReadRecord(record, m_pFile, length);
        name.ReadTable(m_pFile);
        char fifth[kSerialBufferSize];
        match.nameMatches = name.GetFifthRecordString(fifth) && std::strcmp(fifth, entry.fontName) == 0;
    }
    return match;
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
        } else if (m_header.Parse(m_pFile, static_cast<uint32_t>(m_fileLength))) {
            const IdentityMatch match = MatchIdentity(*entry, true, revisionOut);
            result = match.headMatches && match.nameMatches ? 1 : 0;
        }
    } catch (const std::bad_alloc&) {
        result = 0;
    }
    delete[] m_pFile;
    m_pFile = nullptr;
    return result;
}

bool COpenTypeManager::LoadedFontIs(const DiffFileRecord& entry) const {
    const IdentityMatch match = MatchIdentity(entry, false, nullptr);
    // A font without a head or a name table goes on to the build, which
    // refuses it with its own result.
    return (!match.sawHead || match.headMatches) && (!match.sawName || match.nameMatches);
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
        const BYTE* record = m_pFile + TableRecordAt(i);
        char tagName[5] = {0, 0, 0, 0, 0};
        std::memcpy(tagName, record, 4);
        if (!IsKnownTag(tagName)) return kReviseLoadFailed;
        // A tag the directory names twice makes no font the builder can
        // form (each table is formed once), and refusing it here keeps the
        // directory to the seventeen known tables: the ordering below is
        // then never asked to sort tens of thousands of records.
        if (FindTag(tagName)) return kReviseLoadFailed;
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

bool COpenTypeManager::LoadedFontIsTarget(const DiffFileRecord& entry) const {
    const IdentityMatch match = MatchIdentity(entry, true, nullptr);
    return match.headMatches && match.nameMatches;
}

COpenTypeManager::Identity COpenTypeManager::ReadIdentity() const {
    Identity identity;
    const uint32_t length = static_cast<uint32_t>(m_fileLength);
    if (!m_pFile || !DirectoryFits(length, m_header.m_numTables)) return identity;
    for (uint32_t i = 0; i < m_header.m_numTables; ++i) {
        const BYTE* record = m_pFile + TableRecordAt(i);
        const TableRecord r = TableRecord::Read(record);
        if (r.HasTag("head")) {
            CTagHeadObject head;
            head.ReadRecord(record, m_pFile, length);
            if (head.ReadTable(m_pFile)) {
                identity.hasHead = true;
                identity.revision = head.m_headInfo.m_fontRevision;
            }
        } else if (r.HasTag("name") && identity.name[0] == '\0') {
            CTagNameObject name;
            name.ReadRecord(record, m_pFile, length);
            name.ReadTable(m_pFile);
            name.GetFifthRecordString(identity.name);
        }
    }
    return identity;
}

void COpenTypeManager::TakeSerialStrings() {
    std::memset(m_macSerial, 0, sizeof m_macSerial);
    std::memset(m_winSerial, 0, sizeof m_winSerial);
    if (!m_pFile || !DirectoryFits(static_cast<uint32_t>(m_fileLength), m_header.m_numTables)) return;
    for (uint32_t i = 0; i < m_header.m_numTables; ++i) {
        const BYTE* record = m_pFile + TableRecordAt(i);
        if (!TableRecord::Read(record).HasTag("name")) continue;
        GetSerialStrings(record, m_macSerial, m_winSerial);
        break;
    }
}

int COpenTypeManager::GetSerialStrings(const BYTE* record, char* macOut, char* winOut) {
    if (!TableRecord::Read(record).HasTag("name")) return 0;
    CTagNameObject name;
    name.ReadRecord(record, m_pFile, static_cast<uint32_t>(m_fileLength));
    name.ReadTable(m_pFile);
    return name.GetSerialStrings(macOut, winOut);
}
