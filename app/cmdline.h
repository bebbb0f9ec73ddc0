// The command line, in the style administrators know from Windows
// Installer: switches begin with "/" or "-", in any letter case; a path
// with spaces is quoted.  With no arguments the program is the interactive
// one.
#pragma once

#include "platform/framework/cstring.h"

struct CommandLine {
    enum Mode {
        kInteractive,  // every dialog, as without arguments
        kPassive,      // the progress window only, no question
        kQuiet,        // no window at all, no question
    };
    Mode mode = kInteractive;
    bool check = false;         // search only: does a font still need revising?
    bool complete = false;      // /complete: the revisions waiting for this start of Windows, nothing else
    bool usage = false;         // /?
    bool noRestart = false;
    bool forceRestart = false;
    CString logPath;            // /log PATH; empty when not given
    CString bad;                // the first argument not understood; empty when all were

    // No one answers questions: the run takes every answer that revises.
    bool Unattended() const { return mode != kInteractive || check || complete; }
    // No window may be made at all.
    bool Windowless() const { return mode == kQuiet || check || complete; }
};

// Parses a whole command line as GetCommandLineA gives it, program name
// first.  False when an argument is not understood or contradicts another;
// out->bad then names it.
bool ParseCommandLine(const char* line, CommandLine* out);
