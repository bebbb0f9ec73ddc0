// Reading whole files, and telling which file was read.
//
// The engine reads every file whole, with one read call, into one buffer:
// a font, a difference file, a manifest, a font read back after the copy.
#pragma once

#include <cstdint>

#include "platform/winapi.h"

// Which file, as the system tells it: the same file reached by two paths
// (a link, another drive letter) has the same identity, and a file put in
// another's place has another.
struct FileIdentity {
    bool known = false;  // the system could say
    DWORD volume = 0, indexHigh = 0, indexLow = 0;
    bool operator==(const FileIdentity& o) const {
        return known && o.known && volume == o.volume && indexHigh == o.indexHigh && indexLow == o.indexLow;
    }
};

// The identity of the file open on `file`; not known when the system
// cannot tell.
FileIdentity ReadFileIdentity(HANDLE file);

enum WholeFileResult {
    kWholeFileRead,
    kWholeFileWrongSize,  // the file is empty or longer than asked for: no file of ours
    kWholeFileFailed,     // it cannot be opened or read whole, or the memory cannot be had
};

// A file read whole.
struct WholeFile {
    BYTE* data = nullptr;
    uint32_t length = 0;
};

// Opens path for reading, denying writers, and reads it with one read call
// into a new buffer of its length and `spare` zero bytes more, which the
// caller deletes[].  *out is set only when the file was read.  identity,
// when given, receives which file was opened, whether or not it could be
// read.
WholeFileResult ReadWholeFile(const char* path, uint32_t maxLength, uint32_t spare, WholeFile* out,
                              FileIdentity* identity = nullptr);

// As ReadWholeFile with no spare bytes, into `reuse` when its capacity
// holds the file, and otherwise into a new buffer: out->data is then not
// `reuse`, and the caller deletes[] it.
WholeFileResult ReadWholeFileInto(const char* path, uint32_t maxLength, BYTE* reuse, uint64_t capacity,
                                  WholeFile* out);
