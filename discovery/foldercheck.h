// CFolderCheckCtrl: the process's one search controller.  It knows the
// usable difference files of the host folder beside the program, walks the
// fixed drives for the installed fonts they revise, collects the download
// tool's copies of the target fonts, and pairs a font with its difference
// file by name.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/types.h"
#include "platform/framework/coblist.h"
#include "platform/winapi.h"

class CFolderCheckCtrl {
public:
    CFolderCheckCtrl();
    virtual ~CFolderCheckCtrl();
    CFolderCheckCtrl(const CFolderCheckCtrl&) = delete;
    CFolderCheckCtrl& operator=(const CFolderCheckCtrl&) = delete;

    // Records every valid difference file of the host folder; always 1.
    int ScanDiffFolder();

    // The difference file whose base name begins the font's file name, or
    // null.  revision is accepted for the callers' sake and not used.
    DiffFileRecord* FindDiffFile(const char* fontPath, int revision);

    // The whole search: the drive survey, the walk of the fixed drives, then
    // the users' own font folders.  Besides its status lines, the callback
    // is called with no text (null) at least every 50 ms of listing, so that
    // the window answers the user; it may ask to stop then too.
    void SearchFonts(SearchStatusCallbackFn callback, void* context);
    // 1 when the drive list was walked to its end; 0 with no list or on a stop.
    int CollectFixedDrives(SearchStatusCallbackFn callback, void* context);
    // 1 when every fixed drive was walked; 0 on a stop.
    int SearchDrives(SearchStatusCallbackFn callback, void* context);
    // folder ends with a backslash; depth is 0 for a drive root.  1 to go on,
    // 0 when the callback asked to stop.
    int SearchFolder(const char* folder, SearchStatusCallbackFn callback, void* context, int depth);
    // Lists the font folder of every user profile that the walk of the
    // drives has not listed, that folder alone.  1 to go on, 0 on a stop.
    int SearchUserFontFolders(SearchStatusCallbackFn callback, void* context);

    // Range-tested access: an index outside 0 .. count-1 gives null.
    INT_PTR GetFoundFontCount() const { return m_foundFonts.GetSize(); }
    FoundFontRecord* GetFoundFont(INT_PTR i) const { return m_foundFonts.GetAt(i); }
    INT_PTR GetDiffFileCount() const { return m_diffFiles.GetSize(); }
    DiffFileRecord* GetDiffFile(INT_PTR i) const { return m_diffFiles.GetAt(i); }

    char m_driveStrings[MAX_PATH];
    std::map<char*, int> m_drives;  // root string inside m_driveStrings -> DRIVE_FIXED
    CTypedPtrArray<CObArray, FoundFontRecord*> m_foundFonts;  // owned, in the order found
    CTypedPtrArray<CObArray, DiffFileRecord*> m_diffFiles;    // owned, in listing order
    CTypedPtrArray<CObArray, char*> m_downloadFiles;          // owned heap strings
    // What the last walk covered, for the run's log: each fixed drive's root
    // with the folders met below it, and the users' font folders listed.
    std::vector<std::pair<std::string, int>> m_driveFolders;
    int m_userFontFolders = 0;
    // What the last search could not look at, each with its path and the
    // system's error: a candidate font that could not be read, a listing
    // refused or ended early, a drive or the profiles that could not be
    // told.  A font may hide behind any of them, so a run no one watches
    // must not call such a search complete.  At most kMaxFailuresKept are
    // kept; m_searchFailureCount counts them all.
    std::vector<std::string> m_searchFailures;
    int m_searchFailureCount = 0;
    static const int kMaxFailuresKept = 100;

    // What a file is, whatever path reached it: the volume's serial number
    // and the file's index on it.
    struct FileId {
        DWORD volume;
        DWORD indexHigh;
        DWORD indexLow;
        bool operator<(const FileId& other) const;
    };

private:
    // attributes: the folder's as its parent listed it (0 for a root).  A
    // reparse point's refusal to be listed is Windows' own (its
    // compatibility junctions deny listing to everyone), and so is a hidden
    // system folder's (System Volume Information denies administrators):
    // neither is a failure of the search.
    int ListFolder(const char* folder, SearchStatusCallbackFn callback, void* context, int level, bool descend,
                   DWORD attributes);
    int SearchFolderAt(const char* folder, SearchStatusCallbackFn callback, void* context, int depth, DWORD attributes);
    void NoteFailure(const char* what, const char* path, DWORD error);
    bool CountFolder(const char* folder, SearchStatusCallbackFn callback, void* context);
    HANDLE ListFirst(const char* pattern, WIN32_FIND_DATAA* found);
    int Report(const char* text, SearchStatusCallbackFn callback, void* context);
    bool KeepAnswering(SearchStatusCallbackFn callback, void* context);
    bool FirstListingThroughLink(const char* folder, int level);
    bool ListedByTheWalk(const FileId& id);
    void TestFontFile(const char* folder, const char* name);
    void TestDownloadCopy(const char* folder, const char* name);

    DWORD m_lastAnswer = 0;       // when the callback was last called
    bool m_plainListing = false;  // the system refused the basic listing
    std::map<FileId, FoundFontRecord*> m_foundIds;  // of the fonts in m_foundFonts that had one
    // The walk's memory, from the start of SearchDrives: folders listed
    // through a link (and the users' font folders), with the shallowest
    // level each was listed at; and the listed folders that may be a user's
    // font folder reached without a link (drive roots, folders named Fonts),
    // whose identities are taken only if a user's font folder needs them.
    std::map<FileId, int> m_linkedFolders;
    std::vector<std::string> m_rootAndFontFolders;
};

// The controller, created (and the host folder scanned) on the first call.
CFolderCheckCtrl* GetFolderCheckCtrl();
// Deletes the controller, if any; the next GetFolderCheckCtrl makes a new one.
void ReleaseFolderCheckCtrl();

// Subfolders met by every walk so far; every 30th is reported.
extern int g_folderCount;
