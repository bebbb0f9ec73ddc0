// The target font catalogue, compiled in and read-only.
//
// Every table is an array of rows of exactly 260 bytes (MAX_PATH), each row
// one NUL-terminated string with zeros after it.  Consumers read rows as
// strings and walk every table from its first row to its last.
//
// No font base name is a prefix of another: the search matches installed
// files by base-name prefix, so this keeps every file on a single row.
//
// The rows and their counts are generated at build time from the data file
// discovery/catalogue.txt (cmake/make_catalogue.py), which refuses rows that
// would break these rules.
#pragma once

static const int kCatalogueRowSize = 260;
// kCatalogueFontCount and kNoticeLineCount, counted from the data file.
#include "discovery/catalogue_counts.h"

// Five-digit product codes; searched only as a set, never by row.
extern const char g_productCodes[kCatalogueFontCount][kCatalogueRowSize];
// The start dialog's notice, code page 932: the heading, one line per
// family, an empty row.
extern const char g_noticeLines[kNoticeLineCount][kCatalogueRowSize];
// Target font file names: base name (ASCII letters, digits, hyphens) + ".otf".
extern const char g_fontFileNames[kCatalogueFontCount][kCatalogueRowSize];
// The difference file for the same row: base name + ".pa".
extern const char g_diffFileNames[kCatalogueFontCount][kCatalogueRowSize];
