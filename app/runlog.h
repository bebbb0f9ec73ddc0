// The run's log, for administrators who deploy the program to many
// machines: one line per event, appended, in UTF-8 with a byte-order mark
// (so that Notepad and PowerShell read the Japanese messages), each line
// stamped with the local time to the millisecond.  A log is kept only when
// one was asked for; without it nothing here touches the system.  The log
// never stops a run: a line that cannot be written is given up, and so is
// every later one.
#pragma once

#include "platform/framework/cstring.h"
#include "platform/winapi.h"

class CFolderCheckCtrl;
struct CommandLine;

class CRunLog {
public:
    CRunLog() = default;
    ~CRunLog() { Close(); }
    CRunLog(const CRunLog&) = delete;
    CRunLog& operator=(const CRunLog&) = delete;

    // Opens the file at path to append to; false when it cannot be opened
    // or is not to be trusted.  The program writes as the local system
    // account, often in a folder where anyone may make files and links, so
    // a log is only written through a handle that was opened without
    // following a link at its last name and then found to be a plain file
    // with no other name (a hard link would make the write land elsewhere);
    // with ownerChecked, also one that the Administrators group, the local
    // system account or the account the program runs as owns, or that this
    // open created (another account's file is theirs to read, hold and
    // swap).  No name is ever
    // moved or deleted: a log grown past kMaxBytes has its last kMaxBytes
    // copied into PATH.old, itself opened with the same checks, and is
    // begun anew through the same handle, so that years of hourly checks
    // cannot fill a disk.
    bool Open(const char* path, bool ownerChecked);
    // A log under a name no one could have prepared: the folder and the
    // executable's name, the local time to the millisecond and a counter,
    // created new or not at all.
    bool OpenFresh(const char* folder, const char* exeName);
    // Why the last Open failed: true when a file was there but not trusted.
    bool Distrusted() const { return m_distrusted; }
    void Close();
    bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }
    const CString& Path() const { return m_path; }

    // One line of ANSI text; line breaks inside it become blanks, and a
    // text longer than kMaxLine bytes is cut.
    void Write(const char* text);
    void Writef(const char* format, ...) FW_PRINTF_FORMAT(2, 3);

    static const DWORD kMaxBytes = 4u << 20;
    static const int kMaxLine = 2048;

private:
    bool WriteBytes(const char* bytes, DWORD length);
    bool Adopt(HANDLE file, const char* path);

    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    bool m_distrusted = false;
    CString m_path;
};

// The process's one log; closed unless a log was asked for.
CRunLog& RunLog();

// The log a windowless run keeps when none is named: the executable's name
// with ".log" in the temporary folder of the account it runs as (for the
// local system account, C:\Windows\Temp).  Empty when there is none.
CString DefaultLogPath(const char* exeName);

// Opens the process's log as the command line asks: the named one, else
// for a /quiet run the default one; an explicit log that cannot be opened
// is replaced by the default one, and a default one that is not to be
// trusted by a fresh one beside it (CRunLog::OpenFresh), whose first line
// says so.  Then writes the start line.
void OpenRunLog(const CommandLine& options, const char* exeName, const char* commandLine);

// The events every run logs, through RunLog(); nothing when it is closed.
void LogEnvironment(int environment);
void LogMessage(const char* what, UINT messageId);
// The host folder's difference files, each drive's and the profiles'
// folder counts, and every font found.
void LogSearch(const CFolderCheckCtrl& control);
// A font's result and the message the end dialog shows for it.
void LogFontResult(const char* fontPath, int result);
void LogExit(int exitCode);
