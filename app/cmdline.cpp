#include "app/cmdline.h"

#include <cctype>
#include <cstring>

#include "platform/winapi.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The next argument from *p, quotes removed: a quote opens or closes a
// stretch in which blanks belong to the argument.  No escapes: a folder
// written "C:\Logs\" keeps its last backslash.  Code page 932's second
// bytes are never a blank or a quote, so bytes can be taken one by one.
// False at the end of the line.
bool NextArgument(const char** p, CString* out) {
    const char* s = *p;
    while (IsBlank(*s)) ++s;
    if (!*s) {
        *p = s;
        return false;
    }
    bool quoted = false;
    const char* piece = s;
    CString argument;
    for (; *s && (quoted || !IsBlank(*s)); ++s) {
        if (*s != '"') continue;
        argument += CString(piece, static_cast<int>(s - piece));
        quoted = !quoted;
        piece = s + 1;
    }
    argument += CString(piece, static_cast<int>(s - piece));
    *out = argument;
    *p = s;
    return true;
}

bool SwitchIs(const CString& argument, const char* name) {
    const char* text = argument;
    if (text[0] != '/' && text[0] != '-') return false;
    const size_t n = std::strlen(name);
    if (std::strlen(text + 1) != n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[1 + i])) != name[i]) return false;
    }
    return true;
}

// Keeps the first argument not understood.
void Refuse(CommandLine* out, const CString& argument) {
    if (out->bad.IsEmpty()) out->bad = argument.IsEmpty() ? CString("\"\"") : argument;
}

}  // namespace

bool ParseCommandLine(const char* line, CommandLine* out) {
    *out = CommandLine();
    if (!line) return true;
    const char* p = line;
    CString argument;
    if (!NextArgument(&p, &argument)) return true;  // the program's own name
    // Every argument is read, also after one not understood, so that a
    // quiet run stays quiet whatever else its command line holds.
    while (NextArgument(&p, &argument)) {
        if (SwitchIs(argument, "quiet")) {
            // Asked for both, no window is the safer reading for a run no
            // one watches.
            out->mode = CommandLine::kQuiet;
        } else if (SwitchIs(argument, "passive")) {
            if (out->mode != CommandLine::kQuiet) out->mode = CommandLine::kPassive;
        } else if (SwitchIs(argument, "norestart")) {
            out->noRestart = true;
        } else if (SwitchIs(argument, "forcerestart")) {
            out->forceRestart = true;
        } else if (SwitchIs(argument, "check")) {
            out->check = true;
        } else if (SwitchIs(argument, "complete")) {
            out->complete = true;
        } else if (SwitchIs(argument, "?")) {
            out->usage = true;
        } else if (SwitchIs(argument, "log")) {
            CString path;
            const char* before = p;
            // One log only, and a path that the ANSI functions can open.
            if (!NextArgument(&p, &path) || path.IsEmpty() || path.GetAt(0) == '/' || path.GetLength() >= MAX_PATH ||
                !out->logPath.IsEmpty()) {
                if (!path.IsEmpty() && path.GetAt(0) == '/') p = before;  // a switch: read it as one
                Refuse(out, argument);
                continue;
            }
            out->logPath = path;
        } else {
            Refuse(out, argument);
        }
    }
    if (out->noRestart && out->forceRestart) Refuse(out, "/forcerestart");
    // The completion at the start of Windows does nothing else.
    if (out->complete && (out->check || out->mode != CommandLine::kInteractive || out->forceRestart)) {
        Refuse(out, "/complete");
    }
    return out->bad.IsEmpty();
}
