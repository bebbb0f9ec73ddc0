// Building the revised font: each table formed from the installed one and
// its difference record, the tables put together into one image, the image
// finished (serial strings, checksums) and written to the temporary file.
//
// A difference file is checked as a whole before anything is built.  A file
// that does not describe a sound font for exactly the installed one (a table
// missing or doubled, a slot taken twice or left empty, tables overlapping
// each other or the directory, bytes taken from outside an old table) would
// otherwise leave a damaged font in place of a working one; it is refused
// with the result for a font that does not fit its difference file.
#pragma once

#include <cstdint>

#include "engine/manifest.h"
#include "engine/otmodel.h"
#include "engine/progress.h"
#include "engine/sabun.h"

// One build of a revised font: what it is built from, and what it leaves.
struct RevisionBuild {
    LoadedFont font;                 // the installed font, loaded
    const char* paPath = nullptr;    // its difference file
    const char* tempPath = nullptr;  // where the revised font is written
    // The scanned record the difference file must still match; null for a
    // build asked for directly.
    const DiffFileRecord* expectedDiff = nullptr;
    FontProgress progress{};

    // Left by the build, each the caller's to delete once set:
    CMakeSabunData* data = nullptr;  // the difference file read
    BYTE* output = nullptr;          // the revised image and one byte more
    uint32_t outputLength = 0;
    ReleaseDigests release;  // what the manifest beside the difference file says of it
    uint32_t imageSum = 0;   // word sum of the image written, over its whole words
};

// Reads the difference file, checks it against the font and the release
// manifest beside it (when there is one), and forms the revised image in
// build->output: a result code (engine/types.h).  The serial strings and
// the checksums are then the caller's to put in.
int FormRevision(RevisionBuild* build);

// Checks the finished image against the manifest, takes its sum and writes
// it to the temporary file: a result code.
int WriteRevision(RevisionBuild* build);
