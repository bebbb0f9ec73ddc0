// Identification: whether a font image is the font, in the revision, that a
// difference file revises, and what the image says it is.
#pragma once

#include <cstdint>

#include "engine/headname.h"
#include "engine/types.h"

// Which font an image says it is: the revision of its head table and the
// fifth string of its name table.
struct FontIdentity {
    bool hasHead = false;  // a head table lies inside the image
    uint32_t revision = 0;
    char name[kSerialBufferSize] = {};  // "" when no name table has a fifth string
};

// The identity of the font image of length bytes whose directory has
// numTables records: the last whole head table's revision and the first
// name table's fifth string.  Nothing when the directory is not all inside
// the image.
FontIdentity ReadFontIdentity(const BYTE* image, uint32_t length, uint32_t numTables);

// How closely identification holds an image to a difference file's record.
enum IdentifyRule {
    // A head table has the record's revision and a name table the record's
    // font name; no name table is read unless a head table matched.  The
    // rule for an installed file found by the search.
    kIdentifySameFont,
    // No head or name table says otherwise: a font without either is left
    // for the build to refuse with its own result.  The rule for the font
    // loaded for revision, checked again against the record.
    kIdentifyNothingContrary,
};

// Whether the font image of length bytes whose directory has numTables
// records is the font and revision that entry names, by rule.  revisionOut,
// when given, receives every head revision read, and so ends with the
// matching one when one matched.
bool FontIsEntry(const BYTE* image, uint32_t length, uint32_t numTables, const DiffFileRecord& entry,
                 IdentifyRule rule, int* revisionOut = nullptr);
