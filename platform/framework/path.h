// Path splitting as the run-time library's _splitpath does it, but into
// strings, so that no component of a long path can overrun a buffer.
//
// Paths are ANSI code page bytes: a backslash that is the second byte of a
// double-byte character (0x5C is a valid trail byte in code page 932, as in
// "ソ") is part of that character, never a separator.
#pragma once

#include "platform/framework/cstring.h"

// Any output may be null.  drive is "X:" or empty; dir keeps its leading and
// trailing separators; ext begins with the last dot of the last component.
void SplitPath(LPCSTR path, CString* drive, CString* dir, CString* fname, CString* ext);

// The file name with its extension (the last component), and the part before it.
CString PathFileName(LPCSTR path);
