#include "discovery/foldercheck.h"

#include <cctype>
#include <cstring>
#include <new>
#include <tuple>

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
// Status reports come every this many folders.
const int kReportEvery = 30;
// Between them the window is let answer at least this often, in
// milliseconds of listing, however many entries one folder holds: a click
// on the stop button is asked about at once, not when the folder ends.
const DWORD kAnswerEvery = 50;
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

// Where Windows keeps the fonts a user installed for themselves, inside
// their profile folder.
const char kUserFontFolder[] = "AppData\\Local\\Microsoft\\Windows\\Fonts\\";
const char kFontsSuffix[] = "\\fonts\\";

// Whether the text's last character is a backslash of its own, not the
// second byte of a double-byte character.
bool EndsWithSeparator(const char* text) {
    bool separator = false;
    for (size_t i = 0; text[i];) {
        const bool lead = IsDBCSLeadByte(static_cast<BYTE>(text[i])) && text[i + 1];
        separator = !lead && text[i] == '\\';
        i += lead ? 2 : 1;
    }
    return separator;
}

// Whether a folder path ends in a folder named Fonts, in any letter case.
// A double-byte character ending in 0x5C before the name passes too; the
// answer only decides whose identity may be taken later.
bool IsFontsFolder(const char* folder) {
    const size_t length = std::strlen(folder), n = sizeof kFontsSuffix - 1;
    if (length < n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(folder[length - n + i])) != kFontsSuffix[i]) return false;
    }
    return true;
}

// The next entry of a listing.  Only ERROR_NO_MORE_FILES ends a listing for
// good: a call that fails part-way is made once more, the handle keeping
// its place, so that one bad moment does not drop the rest of the folder
// (a font in it, or a difference file) without a word.
bool ListNext(HANDLE listing, WIN32_FIND_DATAA* found) {
    if (FindNextFileA(listing, found)) return true;
    return GetLastError() != ERROR_NO_MORE_FILES && FindNextFileA(listing, found);
}

// Whether a folder on the way to path is a link (a junction, a folder link,
// a volume mounted in a folder).  Backslashes inside double-byte
// characters do not separate.
bool ThroughLink(const char* path) {
    const size_t length = std::strlen(path);
    for (size_t i = 3; i < length; ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i]))) {
            ++i;
            continue;
        }
        if (path[i] != '\\') continue;
        const std::string folder(path, i);
        const DWORD attributes = GetFileAttributesA(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    }
    return false;
}

// The identity of the file or folder at path; false when it cannot be had.
// Only its attributes are asked for, with every kind of sharing, so that
// no one who has the file open, or opens it meanwhile, is disturbed.
bool GetFileId(const char* path, CFolderCheckCtrl::FileId* id, DWORD* attributes = nullptr) {
    HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    const bool ok = GetFileInformationByHandle(file, &info) != FALSE;
    CloseHandle(file);
    if (!ok) return false;
    id->volume = info.dwVolumeSerialNumber;
    id->indexHigh = info.nFileIndexHigh;
    id->indexLow = info.nFileIndexLow;
    if (attributes) *attributes = info.dwFileAttributes;
    return true;
}

// Whether a listing that ended this way missed entries.
bool ListingCut(DWORD error) { return error != ERROR_NO_MORE_FILES; }

// Whether a folder's refusal to be listed may hide a font: not for a link
// or a hidden system folder, whose refusals are Windows' own, nor for a
// folder gone meanwhile.
bool RefusalHides(DWORD attributes, DWORD error) {
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
    const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    return (attributes & hiddenSystem) != hiddenSystem;
}


}  // namespace

bool CFolderCheckCtrl::FileId::operator<(const FileId& other) const {
    return std::tie(volume, indexHigh, indexLow) < std::tie(other.volume, other.indexHigh, other.indexLow);
}

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
    m_foundIds.clear();
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
            const int header = probe.ReadHeader(diffPath, fontName, &fromRevision);
            // Its fonts would go unfound: as much a failed search as a
            // font that could not be read.
            if (header < 0) NoteFailure("difference-file-unreadable", diffPath, GetLastError());
            if (header > 0) {
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
    } while (ListNext(listing, &found));
    if (ListingCut(GetLastError())) NoteFailure("listing-cut", hostFolder, GetLastError());
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
    m_lastAnswer = GetTickCount();
    if (CollectFixedDrives(callback, context) == 1 && SearchDrives(callback, context) == 1) {
        SearchUserFontFolders(callback, context);
    }
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
        const UINT type = GetDriveTypeA(root);
        if (type == DRIVE_FIXED) m_drives[root] = DRIVE_FIXED;
        // A drive whose kind is unknown may be a fixed one left unsearched.
        if (type == DRIVE_UNKNOWN) NoteFailure("drive-type-unknown", root, GetLastError());
        CString text;
        text.Format("%sドライブを検索しました。", root);
        if (callback && Report(text, callback, context) != 0) return 0;
    }
    return 1;
}

int CFolderCheckCtrl::SearchDrives(SearchStatusCallbackFn callback, void* context) {
    m_linkedFolders.clear();
    m_rootAndFontFolders.clear();
    m_driveFolders.clear();
    for (const auto& drive : m_drives) {
        char root[MAX_PATH];
        std::memset(root, 0, sizeof root);
        std::strncpy(root, drive.first, MAX_PATH - 1);
        const int before = g_folderCount;
        const int walked = SearchFolder(root, callback, context, 0);
        m_driveFolders.emplace_back(root, g_folderCount - before);
        if (walked == 0) return 0;
    }
    return 1;
}

int CFolderCheckCtrl::SearchFolder(const char* folder, SearchStatusCallbackFn callback, void* context, int depth) {
    return SearchFolderAt(folder, callback, context, depth, 0);
}

int CFolderCheckCtrl::SearchFolderAt(const char* folder, SearchStatusCallbackFn callback, void* context, int depth,
                                     DWORD attributes) {
    const int level = depth + 1;
    if (level > kMaxLevel) return 1;
    if (depth == 0 || IsFontsFolder(folder)) m_rootAndFontFolders.emplace_back(folder);
    return ListFolder(folder, callback, context, level, true, attributes);
}

void CFolderCheckCtrl::NoteFailure(const char* what, const char* path, DWORD error) {
    ++m_searchFailureCount;
    if (m_searchFailures.size() >= static_cast<size_t>(kMaxFailuresKept)) return;
    CString text;
    text.Format("%s %s error=%lu", what, path, static_cast<unsigned long>(error));
    m_searchFailures.emplace_back(static_cast<const char*>(text));
}


// Counts a folder met and reports every 30th; false when the callback asks
// to stop.
bool CFolderCheckCtrl::CountFolder(const char* folder, SearchStatusCallbackFn callback, void* context) {
    ++g_folderCount;
    if (g_folderCount % kReportEvery != 0 || !callback) return true;
    CString text;
    text.Format("%sを検索しています。", folder);
    return Report(text, callback, context) == 0;
}

// The listing of a folder: FindFirstFileExA at the basic level with large
// fetches, which makes the system neither work out short names nor fetch
// the entries a few at a time; the same listing, with less work.  Systems
// before Windows 7 know neither and refuse the call, and then the plain
// listing is used for the rest of the search.
HANDLE CFolderCheckCtrl::ListFirst(const char* pattern, WIN32_FIND_DATAA* found) {
    if (!m_plainListing) {
        const HANDLE listing =
            FindFirstFileExA(pattern, FindExInfoBasic, found, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (listing != INVALID_HANDLE_VALUE || GetLastError() != ERROR_INVALID_PARAMETER) return listing;
        m_plainListing = true;
    }
    return FindFirstFileA(pattern, found);
}

int CFolderCheckCtrl::Report(const char* text, SearchStatusCallbackFn callback, void* context) {
    m_lastAnswer = GetTickCount();
    return callback(text, context);
}

// A report without a line once the window has waited long enough.
bool CFolderCheckCtrl::KeepAnswering(SearchStatusCallbackFn callback, void* context) {
    if (!callback || GetTickCount() - m_lastAnswer < kAnswerEvery) return true;
    return Report(nullptr, callback, context) == 0;
}

// Lists one folder: tests its files and, when descend is set, walks its
// subfolders at the next level.
int CFolderCheckCtrl::ListFolder(const char* folder, SearchStatusCallbackFn callback, void* context, int level,
                                 bool descend, DWORD attributes) {
    CString pattern;
    pattern.Format("%s*", folder);
    WIN32_FIND_DATAA found;
    HANDLE listing = ListFirst(pattern, &found);
    if (listing == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (RefusalHides(attributes, error)) NoteFailure("listing-refused", folder, error);
        return 1;
    }

    int result = 1;
    do {
        if (!KeepAnswering(callback, context)) {
            result = 0;
            break;
        }
        found.cFileName[MAX_PATH - 1] = '\0';
        const char* name = found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!descend || IsDots(name)) continue;
            CString sub;
            sub.Format("%s%s\\", folder, name);
            if (!CountFolder(sub, callback, context)) {
                result = 0;
                break;
            }
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !FirstListingThroughLink(sub, level + 1)) {
                continue;
            }
            if (SearchFolderAt(sub, callback, context, level, found.dwFileAttributes) == 0) {
                result = 0;
                break;
            }
            continue;
        }
        if (std::strlen(name) >= kMaxFileNameLength) continue;
        // Cheap name tests first; identification reads the whole file.
        if (std::strstr(name, ".otf")) TestFontFile(folder, name);
        TestDownloadCopy(folder, name);
    } while (ListNext(listing, &found));
    if (result == 1 && ListingCut(GetLastError())) NoteFailure("listing-cut", folder, GetLastError());
    FindClose(listing);
    return result;
}

// Whether a folder reached through a link (a junction, a folder link, a
// volume mounted in a folder) is to be listed at this level.  The depth
// limit alone would bound a loop, but not a planted fan of links to links,
// which multiplies the walk with every level: a folder is listed through
// links once, or again only where it is reached nearer the root and more
// of it lies within the limit.  A link whose folder cannot be identified
// is followed, bounded by the depth limit as before.
bool CFolderCheckCtrl::FirstListingThroughLink(const char* folder, int level) {
    if (level > kMaxLevel) return true;  // met, not listed: nothing to ask
    FileId id;
    if (!GetFileId(folder, &id)) return true;
    const auto it = m_linkedFolders.find(id);
    if (it != m_linkedFolders.end() && it->second <= level) return false;
    m_linkedFolders[id] = level;
    return true;
}

// Whether the walk listed the folder: through a link, or as a drive root or
// a folder named Fonts (a drive substituted for a folder, or a profiles
// folder at a root, reach a user's font folder within the depth limit).
bool CFolderCheckCtrl::ListedByTheWalk(const FileId& id) {
    if (m_linkedFolders.count(id)) return true;
    for (const std::string& folder : m_rootAndFontFolders) {
        FileId listed;
        if (GetFileId(folder.c_str(), &listed)) m_linkedFolders.emplace(listed, kMaxLevel);
    }
    m_rootAndFontFolders.clear();  // each identity is asked for once
    return m_linkedFolders.count(id) != 0;
}

int CFolderCheckCtrl::SearchUserFontFolders(SearchStatusCallbackFn callback, void* context) {
    m_userFontFolders = 0;
    char profiles[MAX_PATH];
    std::memset(profiles, 0, sizeof profiles);
    DWORD size = MAX_PATH;
    if (!GetProfilesDirectoryA(profiles, &size)) {
        NoteFailure("profiles-unknown", "-", GetLastError());
        return 1;
    }
    profiles[MAX_PATH - 1] = '\0';
    // Only on a fixed drive, which the walk covers: never a folder of a
    // network or removable drive.
    bool fixed = false;
    for (const auto& drive : m_drives) {
        fixed = fixed || (std::toupper(static_cast<unsigned char>(profiles[0])) == drive.first[0] &&
                          profiles[1] == ':' && profiles[2] == '\\');
    }
    if (!fixed) return 1;
    const DWORD attributes = GetFileAttributesA(profiles);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (RefusalHides(0, error)) NoteFailure("profiles-unreadable", profiles, error);
        return 1;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 1;

    CString profileRoot;
    profileRoot.Format(EndsWithSeparator(profiles) ? "%s" : "%s\\", profiles);
    CString pattern;
    pattern.Format("%s*", static_cast<const char*>(profileRoot));
    // The profiles are listed first and looked into after, with one listing
    // open at a time.
    std::vector<std::string> folders;
    WIN32_FIND_DATAA found;
    HANDLE listing = FindFirstFileA(pattern, &found);
    if (listing == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (RefusalHides(attributes, error)) NoteFailure("listing-refused", profileRoot, error);
        return 1;
    }
    do {
        found.cFileName[MAX_PATH - 1] = '\0';
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsDots(found.cFileName)) continue;
        CString folder;
        folder.Format("%s%s\\%s", static_cast<const char*>(profileRoot), found.cFileName, kUserFontFolder);
        folders.emplace_back(static_cast<const char*>(folder));
    } while (ListNext(listing, &found));
    if (ListingCut(GetLastError())) NoteFailure("listing-cut", profileRoot, GetLastError());
    FindClose(listing);

    for (const std::string& folder : folders) {
        FileId id;
        DWORD kind = 0;  // unknown: a refusal to list it then counts
        if (GetFileId(folder.c_str(), &id, &kind)) {
            if (!(kind & FILE_ATTRIBUTE_DIRECTORY) || ListedByTheWalk(id)) continue;
            // Two profiles (one a link to the other) lead here only once.
            m_linkedFolders.emplace(id, kMaxLevel);
        } else {
            const DWORD error = GetLastError();
            // Most profiles have no font folder of their own.  One that is
            // there but cannot be identified is listed all the same.
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) continue;
        }
        if (!CountFolder(folder.c_str(), callback, context)) return 0;
        ++m_userFontFolders;
        if (ListFolder(folder.c_str(), callback, context, kMaxLevel, false, kind) == 0) return 0;
    }
    return 1;
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
        // One font reached by several paths (a link, a drive substituted for
        // a folder, a volume mounted in a folder) is listed once, where the
        // walk first met it: revised a second time, it would no longer be
        // the revision its difference file names, and the run would stop
        // there.  A font whose identity cannot be had is taken as before.
        // The font is revised by the path listed, and never through a link
        // (its folder could not be held): met again by a path without one,
        // it is listed by that path.
        FileId id;
        const bool identified = GetFileId(path, &id);
        const auto seen = identified ? m_foundIds.find(id) : m_foundIds.end();
        if (seen != m_foundIds.end()) {
            if (ThroughLink(seen->second->path) && !ThroughLink(path)) CopyField(seen->second->path, path);
            return;
        }
        // Identified only against the difference file the run will pair it
        // with by its name: a file named for one row that holds another
        // row's font would be listed, then refused by the run, which stops
        // there and leaves every later font unrevised.
        const DiffFileRecord* entry = FindDiffFile(path, 0);
        if (!entry || static_cast<size_t>(path.GetLength()) <= std::strlen(entry->fontFileName)) return;
        int revision = 0;
        int isTarget = 0;
        DWORD error = ERROR_SUCCESS;
        {
            COpenTypeManager manager;
            isTarget = manager.IsTargetFont(path, entry, &revision);
            error = GetLastError();
        }
        // One gone since it was listed hides nothing.
        if (isTarget < 0 && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            NoteFailure("font-unreadable", path, error);
        }
        if (isTarget != 1) return;
        FoundFontRecord* record = new (std::nothrow) FoundFontRecord();
        if (record) {
            CopyField(record->path, path);
            record->skip = 0;
            record->revision = revision;
            m_foundFonts.Add(record);
            if (identified) m_foundIds[id] = record;
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
