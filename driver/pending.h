// Revisions waiting for the next start of Windows.
//
// A font that Windows still holds after it was unloaded cannot be replaced
// while the session lasts.  Its verified revision is then kept, with a record
// of exactly which font it was made for, in a staging folder that only
// administrators can change, and the program itself is registered to run
// once at the next start (HKLM RunOnce, "upd.exe /complete").  That run
// checks the font is still the very file the revision was made for (its
// identity and the digest of its bytes) before it moves the revision in, and
// otherwise discards it: nothing is done blind at the restart, so a font the
// user deleted or replaced with a newer one stays as the user left it.
#pragma once

#include <cstdint>

#include "engine/manager.h"
#include "engine/sha256.h"
#include "platform/framework/cstring.h"

// What a revision waiting for the restart was made from.
struct PendingRevision {
    CString fontPath;
    FileIdentity identity;  // of the installed font read
    BYTE fontDigest[kDigestSize] = {};        // SHA-256 of the installed font's bytes as read
    BYTE revisionDigest[kDigestSize] = {};    // SHA-256 of the revised font
    uint32_t revisionLength = 0;
    uint32_t revisionSum = 0;  // its word sum, which the read-back must find
};

// Keeps revisedCopy (a complete file of the revision, which stays the
// caller's to remove) for the next start.  kReviseOk when it waits, also
// when the same revision of the same font was already waiting (nothing is
// staged again); kReviseFontInUse when it cannot wait safely (the font's
// folder, the program's folder or the staging folder is one a user can
// change); kReviseCopyFailed when the staging failed (nothing of it left).
int SchedulePendingRevision(const PendingRevision& revision, const char* revisedCopy);

// The SHA-256 and length of the file at path; false when it cannot be read.
bool DigestOfFile(const char* path, BYTE digest[kDigestSize], uint32_t* length);

// Whether a revision waits for the font now at fontPath (by its identity).
bool RevisionWaitingFor(const char* fontPath);

// Lines for the run log as the completion goes.
typedef void (*PendingReportFn)(const char* line, void* context);

enum CompletionScope {
    // Every ordinary run: only what an earlier start of Windows left (a
    // RunOnce that Windows did not run, or one cut short), then staging
    // files no record refers to.
    kEarlierStarts,
    // The completion run at the start of Windows: every record.
    kEveryRecord,
};

struct CompletionCounts {
    int revised = 0;    // the font is now its verified revision
    int discarded = 0;  // the font was left as it was found
};

// Completes the waiting revisions of the scope, removes their files, and
// the staging folder and the RunOnce value when nothing waits any more.
CompletionCounts CompletePendingRevisions(CompletionScope scope, PendingReportFn report, void* context);

// The one replacement path of the driver (defined beside ReviseFont): makes
// a new file beside fontPath from sourcePath, or from bytes when sourcePath
// is null, flushed, and moves it over fontPath provided fontPath is still
// the file expected.  placed receives the new file's identity.
enum PlaceResult { kPlaced, kPlaceFailed, kPlaceInUse };
PlaceResult PlaceFontFile(const char* fontPath, const char* sourcePath, const BYTE* bytes, uint32_t length,
                          const FileIdentity& expected, FileIdentity* placed);
