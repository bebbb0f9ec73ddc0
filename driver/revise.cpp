// COpenTypeManager::ReviseFont: one installed font from end to end.  It is
// declared with the engine but lives above it and the search, whose
// controller names the font's difference file: the engine itself never
// reaches up to the search.
//
// The installed font is the user's only copy, so it is never written in
// place.  The revised font is first made complete in a new file beside it,
// in the same folder, and then moved over it with one rename: at every
// moment the installed path holds either the old font or the new one, whole.
// When the new font cannot be confirmed after the move, the old font's bytes,
// which the manager still holds, go back the same way.
#include <cstdio>
#include <cstring>
#include <new>

#include "discovery/foldercheck.h"
#include "driver/folderpath.h"
#include "driver/folderpin.h"
#include "driver/foldersecurity.h"
#include "driver/pending.h"
#include "driver/revise.h"
#include "engine/manager.h"
#include "platform/framework/cfile.h"
#include "platform/framework/cstring.h"

namespace {

// Names of new files: how many to try before giving up when each one turns
// out to be taken already.
const int kNameTries = 16;
// The wait after the copy, before the font is read back.
const DWORD kSettleMilliseconds = 300;

long long Now() { return static_cast<long long>(_time64(nullptr)); }

bool NameTaken() {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

// Reserves a temporary file: the temporary folder, the current time and a
// random part, created new and empty.  A file someone else already has under
// such a name is never touched; another name is tried instead.
bool ReserveTempFile(CString* tempPath) {
    char folder[MAX_PATH];
    std::memset(folder, 0, sizeof folder);
    const DWORD length = GetTempPathA(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH) return false;
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        CString candidate;
        candidate.Format("%s%lld%d", folder, Now(), std::rand() % 255);
        if (candidate.GetLength() >= MAX_PATH) return false;
        CFile file;
        if (file.Open(candidate, CFile::modeWrite | CFile::modeCreateNew | CFile::shareExclusive)) {
            if (!file.Close()) {
                DeleteFileA(candidate);
                return false;
            }
            *tempPath = candidate;
            return true;
        }
        if (!NameTaken()) return false;
    }
    return false;
}

bool FlushToDisk(const char* path) {
    CFile file;
    if (!file.Open(path, CFile::modeReadWrite | CFile::shareExclusive)) return false;
    const bool flushed = FlushFileBuffers(file.m_hFile) != FALSE;
    return file.Close() && flushed;
}

// Removes a file of our own making.  A file just closed can still be held
// for a moment by another program (a virus scanner, an indexer); a large
// font left behind in the temporary folder is worth a short wait and another
// try.
const int kDeleteTries = 3;
const DWORD kDeleteRetryMilliseconds = 100;

void DeleteOwnFile(const char* path) {
    for (int attempt = 0; attempt < kDeleteTries; ++attempt) {
        if (attempt > 0) Sleep(kDeleteRetryMilliseconds);
        if (DeleteFileA(path)) return;
        if (GetLastError() == ERROR_FILE_NOT_FOUND && attempt > 0) return;
    }
}

// How a new file beside the installed font came out.
enum FillResult { kFilled, kFillNameTaken, kFillFailed };

// The new file beside the installed font has a short name of its own
// pattern, "~upd", one hexadecimal digit for the attempt and ".new": no
// longer than any font file name the search lists, so that it fits wherever
// the font's own path fits the ANSI functions' 260 characters, and never a
// name the search takes for a font.  Only files of exactly this pattern are
// ever removed as leftovers.
const char kBesidePrefix[] = "~upd";
const char kBesideSuffix[] = ".new";
const char kHexDigits[] = "0123456789abcdef";

// The path of attempt's new file in the installed font's folder; "" when the
// font's path has no folder.
CString BesidePath(const char* target, int attempt, const char* suffix) {
    const CString folder = FolderOf(target);
    if (folder.IsEmpty()) return CString();
    CString beside;
    beside.Format("%s%s%c%s", static_cast<const char*>(folder), kBesidePrefix, kHexDigits[attempt & 15], suffix);
    return beside;
}

// Whether a move over target failed because another program has the file
// open without letting it be replaced (Windows holds every font it has
// loaded from outside its own font folder so).  The move's own error does
// not tell: "access denied" also means a read-only font or a folder that
// refuses us.  Asking for the access a move needs does: only another
// opener's sharing refuses it with a sharing violation.
bool TargetInUse(const char* target, DWORD error) {
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION && error != ERROR_ACCESS_DENIED) return false;
    HANDLE probe = CreateFileA(target, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

// The identity of the file at path now; false when it cannot be had.
bool IdentityOf(const char* path, FileIdentity* out) {
    HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const FileIdentity identity = ReadFileIdentity(file);
    CloseHandle(file);
    if (identity.known) *out = identity;
    return identity.known;
}

enum ReplaceResult { kReplaced, kNotReplaced, kTargetInUse };

// Moves the complete new file beside target over it.  kNotReplaced: the
// target is as it was and beside is removed.  kTargetInUse (only when
// inUseAllowed): the target is as it was, and beside is left for the caller.
// expected, when given, is the identity the target must still have;
// placedOut receives the identity of the file moved into its place.
ReplaceResult MoveBesideOver(const char* beside, const char* target, bool inUseAllowed,
                             const FileIdentity* expected,
                             FileIdentity* placedOut) {
    // The folder may have been swapped for a link to another one since the
    // font was read: what is replaced must be the file read, or the file
    // this revision put there.
    FileIdentity now;
    if (expected && expected->known && (!IdentityOf(target, &now) || !(now == *expected))) {
        DeleteOwnFile(beside);
        return kNotReplaced;
    }
    FileIdentity placed;
    if (placedOut) IdentityOf(beside, &placed);
    if (MoveFileExA(beside, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        if (placedOut) *placedOut = placed;
        return kReplaced;
    }
    if (inUseAllowed && TargetInUse(target, GetLastError())) return kTargetInUse;
    DeleteOwnFile(beside);
    return kNotReplaced;
}

// Makes a complete new file beside target (at a name that must not exist
// yet) and moves it over target in one step.  fill creates the file and
// leaves nothing behind when it fails.  kNotReplaced: the target is as it
// was, and no file is left beside it.  kTargetInUse (only when inUseCopy is
// given): the target is as it was, and the complete new file is left at
// *inUseCopy for the caller.
// expected, when given, is the identity the target must still have;
// placedOut receives the identity of the file moved into its place.
template <class Fill>
ReplaceResult ReplaceWhole(const char* target, Fill fill, CString* inUseCopy,
                           const FileIdentity* expected,
                           FileIdentity* placedOut) {
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        const CString beside = BesidePath(target, attempt, kBesideSuffix);
        if (beside.IsEmpty() || beside.GetLength() >= MAX_PATH) return kNotReplaced;
        const FillResult filled = fill(static_cast<const char*>(beside));
        if (filled == kFillNameTaken) continue;
        if (filled == kFillFailed) return kNotReplaced;
        const ReplaceResult moved = MoveBesideOver(beside, target, inUseCopy != nullptr, expected, placedOut);
        if (moved == kTargetInUse) *inUseCopy = beside;
        return moved;
    }
    return kNotReplaced;
}

// Windows holds the file of a font loaded in the session (from outside its
// own font folder) for as long as it stays loaded, which is usually the
// only reason a font is in use.  Unloading it for the session lets the
// replacement through; it is loaded again as many times as it was unloaded,
// whatever became of the replacement, and the run's font-change broadcast
// tells the programs.  Loads are counted, so the unloading is bounded: a
// font loaded more often than this is left as in use.
const int kMaxUnloads = 64;

class CUnloadedFont {
public:
    CUnloadedFont() = default;
    ~CUnloadedFont() { Reload(); }
    CUnloadedFont(const CUnloadedFont&) = delete;
    CUnloadedFont& operator=(const CUnloadedFont&) = delete;

    // How many loads were undone.
    int Unload(const char* fontPath) {
        m_path = fontPath;
        while (m_count < kMaxUnloads && RemoveFontResourceA(fontPath)) ++m_count;
        return m_count;
    }
    void Reload() {
        for (; m_count > 0; --m_count) AddFontResourceA(m_path);
    }

private:
    CString m_path;
    int m_count = 0;
};

// Fills a new file beside a font, from sourcePath when given, else from
// bytes.  The bytes reach the disk before the move makes them the font: a
// rename that outlives its data would leave an empty font after a power
// failure.
FillResult FillBeside(const char* beside, const char* sourcePath, const BYTE* bytes, uint32_t length) {
    if (sourcePath) {
        if (!CopyFileA(sourcePath, beside, TRUE)) return NameTaken() ? kFillNameTaken : kFillFailed;
        if (FlushToDisk(beside)) return kFilled;
        DeleteOwnFile(beside);
        return kFillFailed;
    }
    CFile file;
    if (!file.Open(beside, CFile::modeWrite | CFile::modeCreateNew | CFile::shareExclusive)) {
        return NameTaken() ? kFillNameTaken : kFillFailed;
    }
    bool ok = file.Write(bytes, length) && FlushFileBuffers(file.m_hFile);
    ok = file.Close() && ok;
    if (!ok) DeleteOwnFile(beside);
    return ok ? kFilled : kFillFailed;
}

// Loads the installed font, takes its serial strings and finds its
// difference file; null when any of it fails.  The search looked at this
// path some time ago; what is there now, and what the host folder holds now,
// may be other files.  The pair is checked again on the very bytes the
// revision is built from: the font here, the difference file's header in
// CreateRevisedFile.
const DiffFileRecord* LoadForRevision(COpenTypeManager& manager, const char* fontPath, int revision,
                                      ProgressCallbackFn callback, void* context, int fontCount, int fontIndex) {
    try {
        if (manager.LoadFont(fontPath, callback, context, fontCount, fontIndex) != kReviseOk) return nullptr;
        manager.TakeSerialStrings();
        CFolderCheckCtrl* control = GetFolderCheckCtrl();
        const DiffFileRecord* diff = control ? control->FindDiffFile(fontPath, revision) : nullptr;
        return diff && manager.LoadedFontIs(*diff) ? diff : nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Reads the replaced font back; when it is not the verified revision, puts
// the font back exactly as it was loaded.  placed is the identity of the
// file the replacement put there.
int ConfirmReplaced(COpenTypeManager& manager, const char* fontPath, const FileIdentity& placed) {
    Sleep(kSettleMilliseconds);
    int result = manager.VerifyRevisedFile(fontPath, manager.OutputSum());
    if (result == kReviseOk || !manager.Image() || manager.ImageLength() == 0) return result;
    const BYTE* original = manager.Image();
    const uint32_t originalLength = manager.ImageLength();
    const bool restored =
        ReplaceWhole(
            fontPath, [&](const char* beside) { return FillBeside(beside, nullptr, original, originalLength); },
            nullptr, &placed, nullptr) == kReplaced;
    // The font is then neither the verified revision nor the original: the
    // user must be told so, not that it was put back.
    return restored ? result : kReviseRestoreFailed;
}

}  // namespace

// A file this program made beside a font: a plain file with one name.  A
// folder, a link, or a file with another name elsewhere (a hard link, which
// deleting this name would not remove but which is someone else's file) is
// not, whatever its name.  Asked on the file opened itself, never through a
// link.
bool OwnLeftover(const char* path) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ours = GetFileInformationByHandle(file, &info) &&
                      !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
                      info.nNumberOfLinks == 1;
    CloseHandle(file);
    return ours;
}

void RemoveReplaceLeftovers(const char* fontPath) {
    // Only in the folder the search read, held for the sweep: a folder
    // swapped for a link since then cannot be deleted through, because the
    // pin refuses a link and keeps any from being put in its place.
    CPinnedFolder pin;
    if (!pin.Pin(FolderOf(fontPath))) return;
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        const CString beside = BesidePath(fontPath, attempt, kBesideSuffix);
        if (beside.IsEmpty() || beside.GetLength() >= MAX_PATH) return;
        if (OwnLeftover(beside)) DeleteOwnFile(beside);
    }
}

int COpenTypeManager::ReplaceAtNextStart(const char* fontPath, const char* copy) {
    // The revision waits with a record of exactly what it was made from:
    // the font as read (its identity and the digest of its bytes) and the
    // revision itself, all checked again when it is moved in.
    PendingRevision revision;
    revision.fontPath = fontPath;
    revision.identity = m_fileIdentity;
    revision.revisionSum = m_outputSum;
    // The copy is checked as the read-back checks a font replaced at once;
    // its digest is then what the completion must find.
    int result = kReviseCopyFailed;
    if (m_pFile && m_fileLength > 0 && Sha256Of(m_pFile, static_cast<uint64_t>(m_fileLength), revision.fontDigest) &&
        VerifyRevisedFile(copy, m_outputSum) == kReviseOk &&
        DigestOfFile(copy, revision.revisionDigest, &revision.revisionLength)) {
        result = SchedulePendingRevision(revision, copy);
    }
    DeleteOwnFile(copy);
    return result;
}

PlaceResult PlaceFontFile(const char* fontPath, const char* sourcePath, const BYTE* bytes, uint32_t length,
                          const FileIdentity& expected, FileIdentity* placed) {
    CString inUseCopy;
    ReplaceResult replaced = ReplaceWhole(
        fontPath,
        [&](const char* beside) { return FillBeside(beside, sourcePath, bytes, length); }, &inUseCopy, &expected,
        placed);
    // Loaded again (when the font was loaded in the session) as soon as the
    // move is done, as a revision made now is.
    CUnloadedFont unloaded;
    if (replaced == kTargetInUse && unloaded.Unload(fontPath) > 0) {
        replaced = MoveBesideOver(inUseCopy, fontPath, true, &expected, placed);
    }
    if (replaced == kTargetInUse) {
        DeleteOwnFile(inUseCopy);
        return kPlaceInUse;
    }
    return replaced == kReplaced ? kPlaced : kPlaceFailed;
}

int COpenTypeManager::ReviseFont(const char* fontPath, int revision, ProgressCallbackFn callback, void* context,
                                 int fontCount, int fontIndex) {
    // The font's folder, and every folder above it, is held from before the
    // font is read until the last step: while held, its path names the
    // folder read, so no step below can be turned to another folder by a
    // link put in its place.
    const CString folder = FolderOf(fontPath);
    CPinnedFolder pin;
    if (folder.IsEmpty() || !pin.Pin(folder)) return kReviseLoadFailed;

    const DiffFileRecord* diff = LoadForRevision(*this, fontPath, revision, callback, context, fontCount, fontIndex);
    if (!diff) return kReviseLoadFailed;

    CString tempPath;
    if (!ReserveTempFile(&tempPath)) return kReviseTempFailed;

    m_pExpectedDiff = diff;
    int result = CreateRevisedFile(fontPath, diff->diffPath, tempPath, callback, context, fontCount, fontIndex);
    m_pExpectedDiff = nullptr;
    if (result == kReviseOk) {
        CString inUseCopy;
        FileIdentity placed;
        ReplaceResult replaced = ReplaceWhole(
            fontPath, [&](const char* beside) { return FillBeside(beside, tempPath, nullptr, 0); }, &inUseCopy,
            &m_fileIdentity, &placed);
        CUnloadedFont unloaded;
        if (replaced == kTargetInUse && unloaded.Unload(fontPath) > 0) {
            replaced = MoveBesideOver(inUseCopy, fontPath, true, &m_fileIdentity, &placed);
            if (replaced == kTargetInUse) unloaded.Reload();
        }
        if (replaced == kNotReplaced) {
            result = kReviseCopyFailed;
        } else if (replaced == kTargetInUse && ControlOfFolder(folder) == kFolderUserControlled) {
            // What is kept for later is moved by its path, with the
            // administrator's rights; in a folder someone else can change,
            // they could point that path anywhere.  The user closes the
            // programs holding the font, or signs out, and runs again.
            DeleteOwnFile(inUseCopy);
            result = kReviseFontInUse;
        } else if (replaced == kTargetInUse) {
            result = ReplaceAtNextStart(fontPath, inUseCopy);
            if (result == kReviseOk) {
                ReportProgress(callback, context, fontCount, fontIndex, 100, true, fontPath,
                               "テンポラリフォルダからファイルをコピーしています。");
            }
        } else {
            // The answer to this last report is not heeded: the font is already replaced.
            ReportProgress(callback, context, fontCount, fontIndex, 100, true, fontPath,
                           "テンポラリフォルダからファイルをコピーしています。");
            result = ConfirmReplaced(*this, fontPath, placed);
        }
    }
    // Only our own file: it was created new above.
    DeleteOwnFile(tempPath);
    return result;
}
