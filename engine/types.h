// Types that the engine shares with the search and the dialogs.
#pragma once

// One progress report of a revision: overall and step are percentages, the
// two lines are shown as they are.  A non-zero answer means the user asked
// for a stop and confirmed it.
typedef int (*ProgressCallbackFn)(int overall, int step, const char* line1, const char* line2, void* context);

// One status line of the search; a non-zero answer stops the search.  A
// null text brings no new line: the search only lets the window answer.
typedef int (*SearchStatusCallbackFn)(const char* text, void* context);

// One usable difference file in the host folder.
struct DiffFileRecord {
    char diffPath[260];      // full path of the .pa file
    char fontFileName[260];  // "<base name of the .pa file>.otf"
    char fontName[260];      // the header's font name: at most 32 bytes of text
    int fromRevision;        // head.fontRevision (raw 16.16 bits) the font must carry
};

// One installed font due for revision.
struct FoundFontRecord {
    char path[1024];  // full path of the installed font file
    int skip;         // always 0 from the search: revise this font
    int revision;     // the installed head.fontRevision, as identification read it
};

// Results of a font's revision.
enum ReviseResult {
    kReviseOk = 0,
    kReviseLoadFailed = 1,      // cannot be loaded, no difference file, or does not fit it
    kReviseTempFailed = 3,      // the temporary file cannot be created or written
    kReviseCopyFailed = 4,      // the installed font cannot be replaced
    kReviseStopped = 8,         // the user stopped the run
    kReviseDiffUnreadable = 9,  // the difference file cannot be read
    kReviseNoNameTable = 10,
    kReviseReadBackFailed = 11,  // the replaced font cannot be read back
    kReviseChecksum = 12,        // no head table, or the font read back has another sum
    // The font read back was not the revision, and the original could not
    // be put back: the installed file is neither.
    kReviseRestoreFailed = 13,
    // What the release manifest beside the difference file says does not
    // hold; nothing was written.  The difference file is not the one
    // released (or the manifest is there but cannot be used):
    kReviseDiffNotReleased = 14,
    // the installed font's bytes that the file takes are not those of the
    // font it was made from:
    kReviseFontNotReleased = 15,
    // the revised font built is not the one released:
    kReviseResultNotReleased = 16,
    // Another program still holds the font, and its folder is one that a
    // user other than the administrators can change: nothing was written,
    // nothing is kept for later.
    kReviseFontInUse = 17,
};
