#include "discovery/foldercheck.h"

#include <cstring>
#include <new>

#include "discovery/catalogue.h"
#include "engine/manager.h"
#include "platform/framework/cstring.h"
#include "platform/framework/path.h"

int g_folderCount = 0;

namespace {

CFolderCheckCtrl* g_pFolderCheckCtrl = nullptr;

// Folders deeper than this many levels below a drive root are met but not
// listed: it bounds the walk, also through junction loops.
const int kMaxLevel = 7;
// Status reports, and with them the message pump, come every this many folders.
const int kReportEvery = 30;
// File names this long or longer are no fonts of ours: skipped before any test.
const size_t kMaxFileNameLength = 40;
const size_t kProductCodeLength = 5;
const char kDownloadMarker[] = "\\Korvane\\Fonts\\Download\\add\\";

// Copies text into a fixed record field; false (nothing copied) when it does
// not fit with its terminator.
template <size_t N>
bool CopyField(char (&field)[N], const char* text) {
    const size_t length = std::strlen(text);
    if (length >= N) return false;
    std::memcpy(field, text, length + 1);
    return true;
}

// Length of a row's base name: the row without its last extension.
size_t BaseLength(const char* row) {
    const char* dot = std::strrchr(row, '.');
    return dot ? static_cast<size_t>(dot - row) : std::strlen(row);
}

bool IsDots(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

}  // namespace

CFolderCheckCtrl* GetFolderCheckCtrl() {
    if (!g_pFolderCheckCtrl) {
        g_pFolderCheckCtrl = new CFolderCheckCtrl;
        g_pFolderCheckCtrl->ScanDiffFolder();
    }
    return g_pFolderCheckCtrl;
}

void ReleaseFolderCheckCtrl() {
    delete g_pFolderCheckCtrl;
    g_pFolderCheckCtrl = nullptr;
}

CFolderCheckCtrl::CFolderCheckCtrl() { std::memset(m_driveStrings, 0, sizeof m_driveStrings); }

CFolderCheckCtrl::~CFolderCheckCtrl() {
    for (INT_PTR i = 0; i < m_foundFonts.GetSize(); ++i) delete m_foundFonts.GetAt(i);
    for (INT_PTR i = 0; i < m_diffFiles.GetSize(); ++i) delete m_diffFiles.GetAt(i);
    for (INT_PTR i = 0; i < m_downloadFiles.GetSize(); ++i) delete[] m_downloadFiles.GetAt(i);
    m_foundFonts.RemoveAll();
    m_diffFiles.RemoveAll();
    m_downloadFiles.RemoveAll();
    m_drives.clear();
}

// ---------------------------------------------------------------------------
// The host folder

int CFolderCheckCtrl::ScanDiffFolder() {
    char modulePath[MAX_PATH];
    std::memset(modulePath, 0, sizeof modulePath);
    const DWORD length = GetModuleFileNameA(nullptr, modulePath, MAX_PATH);
    // A truncated path would name the wrong folder.
    if (length == 0 || length >= MAX_PATH) return 1;

    CString drive, dir;
    SplitPath(modulePath, &drive, &dir, nullptr, nullptr);
    CString hostFolder;
    hostFolder.Format("%s%shost\\", static_cast<const char*>(drive), static_cast<const char*>(dir));

    CString pattern;
    pattern.Format("%s*", static_cast<const char*>(hostFolder));
    WIN32_FIND_DATAA found;
    HANDLE listing = FindFirstFileA(pattern, &found);
    if (listing == INVALID_HANDLE_VALUE) return 1;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        found.cFileName[MAX_PATH - 1] = '\0';
        for (int row = 0; row < kCatalogueFontCount; ++row) {
            if (std::strcmp(found.cFileName, g_diffFileNames[row]) != 0) continue;

            CString diffPath;
            diffPath.Format("%s%s", static_cast<const char*>(hostFolder), found.cFileName);
            CString base;
            SplitPath(found.cFileName, nullptr, nullptr, &base, nullptr);
            CString fontFileName;
            fontFileName.Format("%s.otf", static_cast<const char*>(base));

            CMakeSabunData probe;
            char fontName[33];
            std::memset(fontName, 0, sizeof fontName);
            int fromRevision = 0;
            if (probe.ReadHeader(diffPath, fontName, &fromRevision)) {
                DiffFileRecord* record = new (std::nothrow) DiffFileRecord();
                if (record) {
                    // A host folder too deep for a 260-byte path cannot be
                    // recorded whole; such a file is left out, never cut.
                    if (CopyField(record->diffPath, diffPath) && CopyField(record->fontFileName, fontFileName) &&
                        CopyField(record->fontName, fontName)) {
                        record->fromRevision = fromRevision;
                        m_diffFiles.Add(record);
                    } else {
                        delete record;
                    }
                }
            }
            break;
        }
    } while (FindNextFileA(listing, &found));
    FindClose(listing);
    return 1;
}

DiffFileRecord* CFolderCheckCtrl::FindDiffFile(const char* fontPath, int /*revision*/) {
    const CString fileName = PathFileName(fontPath);
    for (INT_PTR i = 0; i < m_diffFiles.GetSize(); ++i) {
        DiffFileRecord* record = m_diffFiles.GetAt(i);
        const size_t n = BaseLength(record->fontFileName);
        // strncmp stops at the shorter name's terminator: no read past either.
        if (std::strncmp(record->fontFileName, fileName, n) == 0) return record;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// The search

void CFolderCheckCtrl::SearchFonts(SearchStatusCallbackFn callback, void* context) {
    if (CollectFixedDrives(callback, context) == 1) SearchDrives(callback, context);
}

int CFolderCheckCtrl::CollectFixedDrives(SearchStatusCallbackFn callback, void* context) {
    // The keys point into m_driveStrings, which is about to be rewritten.
    m_drives.clear();
    std::memset(m_driveStrings, 0, sizeof m_driveStrings);
    const DWORD length = GetLogicalDriveStringsA(MAX_PATH, m_driveStrings);
    // 0: no list; more than the buffer: nothing was written.
    if (length == 0 || length >= MAX_PATH) return 0;

    // The buffer's last byte stays zero, so every root below is terminated.
    for (char* root = m_driveStrings; root < m_driveStrings + MAX_PATH - 1 && *root; root += std::strlen(root) + 1) {
        if (GetDriveTypeA(root) == DRIVE_FIXED) m_drives[root] = DRIVE_FIXED;
        CString text;
        text.Format("%sドライブを検索しました。", root);
        if (callback && callback(text, context) != 0) return 0;
    }
    return 1;
}

int CFolderCheckCtrl::SearchDrives(SearchStatusCallbackFn callback, void* context) {
    for (const auto& drive : m_drives) {
        char root[MAX_PATH];
        std::memset(root, 0, sizeof root);
        std::strncpy(root, drive.first, MAX_PATH - 1);
        if (SearchFolder(root, callback, context, 0) == 0) return 0;
    }
    return 1;
}

int CFolderCheckCtrl::SearchFolder(const char* folder, SearchStatusCallbackFn callback, void* context, int depth) {
    const int level = depth + 1;
    if (level > kMaxLevel) return 1;

    CString pattern;
    pattern.Format("%s*", folder);
    WIN32_FIND_DATAA found;
    HANDLE listing = FindFirstFileA(pattern, &found);
    if (listing == INVALID_HANDLE_VALUE) return 1;

    int result = 1;
    do {
        found.cFileName[MAX_PATH - 1] = '\0';
        const char* name = found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (IsDots(name)) continue;
            CString sub;
            sub.Format("%s%s\\", folder, name);
            ++g_folderCount;
            if (g_folderCount % kReportEvery == 0 && callback) {
                CString text;
                text.Format("%sを検索しています。", static_cast<const char*>(sub));
                if (callback(text, context) != 0) {
                    result = 0;
                    break;
                }
            }
            if (SearchFolder(sub, callback, context, level) == 0) {
                result = 0;
                break;
            }
            continue;
        }
        if (std::strlen(name) >= kMaxFileNameLength) continue;
        // Cheap name tests first; identification reads the whole file.
        if (std::strstr(name, ".otf")) TestFontFile(folder, name);
        TestDownloadCopy(folder, name);
    } while (FindNextFileA(listing, &found));
    FindClose(listing);
    return result;
}

void CFolderCheckCtrl::TestFontFile(const char* folder, const char* name) {
    CString base;
    SplitPath(name, nullptr, nullptr, &base, nullptr);
    for (int row = 0; row < kCatalogueFontCount; ++row) {
        const size_t n = BaseLength(g_fontFileNames[row]);
        if (std::strncmp(base, g_fontFileNames[row], n) != 0) continue;

        CString path;
        path.Format("%s%s", folder, name);
        // A path that does not fit its record is not recorded: a cut path
        // would name another file, and its font could not be revised.
        if (static_cast<size_t>(path.GetLength()) >= sizeof(FoundFontRecord::path)) return;
        for (INT_PTR i = 0; i < m_diffFiles.GetSize(); ++i) {
            const DiffFileRecord* entry = m_diffFiles.GetAt(i);
            if (static_cast<size_t>(path.GetLength()) <= std::strlen(entry->fontFileName)) continue;
            int revision = 0;
            int isTarget = 0;
            {
                COpenTypeManager manager;
                isTarget = manager.IsTargetFont(path, entry, &revision);
            }
            if (!isTarget) continue;
            FoundFontRecord* record = new (std::nothrow) FoundFontRecord();
            if (record) {
                CopyField(record->path, path);
                record->skip = 0;
                record->revision = revision;
                m_foundFonts.Add(record);
            }
            break;
        }
        return;  // the first matching row ends the catalogue walk
    }
}

void CFolderCheckCtrl::TestDownloadCopy(const char* folder, const char* name) {
    if (std::strlen(name) != kProductCodeLength) return;
    bool isCode = false;
    for (int row = 0; row < kCatalogueFontCount && !isCode; ++row) isCode = std::strcmp(name, g_productCodes[row]) == 0;
    if (!isCode) return;

    CString path;
    path.Format("%s%s", folder, name);
    const char* marker = std::strstr(path, kDownloadMarker);
    if (!marker || marker - static_cast<const char*>(path) <= 5) return;
    const size_t size = static_cast<size_t>(path.GetLength()) + 1;
    char* copy = new (std::nothrow) char[size];
    if (!copy) return;
    std::memcpy(copy, static_cast<const char*>(path), size);
    m_downloadFiles.Add(copy);
}
