// After a fully successful run: the download copies and the system's font
// cache file are removed, and a restart is offered so that the revised fonts
// take effect.
#pragma once

#include "platform/framework/coblist.h"
#include "platform/framework/cstring.h"
#include "platform/winapi.h"

// Switches off, for its lifetime, the redirection that 64-bit Windows applies
// to a 32-bit program's paths in the system folder, so that such a path names
// the native system folder.  Where the system has no such switch, or it
// cannot be thrown, paths are handled as usual.
class CWow64FsRedirection {
public:
    CWow64FsRedirection();
    ~CWow64FsRedirection();
    CWow64FsRedirection(const CWow64FsRedirection&) = delete;
    CWow64FsRedirection& operator=(const CWow64FsRedirection&) = delete;

    // Switches redirection back on; a second call does nothing.
    void Revert();

private:
    typedef BOOL(WINAPI* DisableFn)(PVOID* oldValue);
    typedef BOOL(WINAPI* RevertFn)(PVOID oldValue);

    DisableFn m_pfnDisable;
    RevertFn m_pfnRevert;
    PVOID m_pOldValue;
    BOOL m_bDisabled;
};

// "fntcache.dat" in the system folder, or an empty string when the system
// folder cannot be had (a bare file name would name a file in whatever the
// current folder is).
CString GetFontCachePath();

// Deletes every download copy, then the font cache file if it exists.
// Nothing is reported: what cannot be deleted stays.
void DeleteFontCache(const CTypedPtrArray<CObArray, char*>& downloadFiles);
// The same for the download copies the search controller collected.
void DeleteFontCache();

// Enables the shutdown privilege and asks for an immediate, forced restart.
// The request returns at once; the program then ends as usual.  Always 1.
int RestartSystem();
// The same, telling whether Windows accepted the request.
bool RequestRestart();
