// What a release of the font maker's promises, byte for byte, whichever
// customer installs it.
//
// Every customer's copy of a font differs from the maker's in the bytes the
// updater fills in for that customer: the serial strings (name ID 13 of
// every name table), every table checksum in the directory and
// head.checkSumAdjustment.  Those bytes, and only those, are left out of the
// digests that prove a revision, by counting them as zeros; this file
// decides which they are, for the updater, the manifest writer and the
// makers' tool alike.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/otbase.h"
#include "engine/otmodel.h"
#include "engine/sabun.h"
#include "engine/sha256.h"

// The bytes of the font image that the updater fills in, as sorted,
// disjoint ranges.  Records and strings that do not lie inside the image
// are left out; name records are read only up to what the image could
// hold, so the work is bounded by the image's length however many records
// a table claims.  False when memory runs out.
bool FilledInRanges(const BYTE* image, uint64_t length, std::vector<Extent>* ranges);

// Adds image[from, to) to hash, with every byte that one of ranges (sorted
// and disjoint, as FilledInRanges gives them) covers counted as zero.
void AddApartFromFilledIn(CSha256* hash, const BYTE* image, uint64_t from, uint64_t to,
                          const std::vector<Extent>& ranges);

// The digest of a revised font as released: the whole image with the bytes
// filled in per customer counted as zeros.  False when it cannot be had.
bool ReleasedFontDigest(const BYTE* image, uint64_t length, BYTE out[kDigestSize]);

// The digest of the loaded font's bytes that the difference file data
// takes, in the order the build takes them, the bytes filled in per
// customer counted as zeros; for a file that fits the font.  False when it
// cannot be had.
bool TakenDigest(const LoadedFont& font, const CMakeSabunData& data, BYTE out[kDigestSize]);
