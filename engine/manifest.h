// The release manifest: the font maker's SHA-256 digests of each difference
// file in a folder, kept beside them under one name.  It travels beside the
// files because their own layout has no room for a digest, and files
// already shipped must keep working without one.
//
// A plain text file, one line a digest, in the form sha256sum writes and
// checks (so `sha256sum --ignore-missing -c release.sha256` checks the
// files themselves):
//
//   # release manifest 1
//   <64 hex digits>  GothicW3.pa          the difference file
//   <64 hex digits>  GothicW3.pa#source   the installed font's bytes it takes
//   <64 hex digits>  GothicW3.pa#result   the revised font, apart from the
//                                         bytes filled in per customer
//   <64 hex digits>  #manifest            every line above, each ended by LF
//   # end
//
// Lines end with LF (a CR before it is dropped); other lines that begin with
// "#" are comments; the first line and the last two are as shown, so that a
// manifest cut short is never taken for a shorter one, and damage to any
// digest reads as damage to the manifest.  A file has its three lines or
// none.  Anything else makes the whole manifest unusable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/sha256.h"

struct LoadedFont;

static const char kReleaseManifestName[] = "release.sha256";
// A manifest larger than this is refused unread: a line is under 340 bytes,
// and a folder holds a few dozen files.
static const uint32_t kMaxManifestLength = 1u << 20;

// What the manifest says of one difference file.
struct ReleaseDigests {
    enum State {
        kUnlisted,  // no manifest, or no line for the file: it is revised as it always was
        kListed,    // the three digests below must all match
        kRefused,   // the manifest cannot be read or is malformed, or lacks a line of the file
    };
    State state = kUnlisted;
    BYTE file[kDigestSize] = {};    // of the difference file
    BYTE source[kDigestSize] = {};  // of the installed font's bytes the file takes
    BYTE result[kDigestSize] = {};  // of the revised font, apart from the bytes filled in
};

// One line of a manifest: a file's digest of one kind.
struct ReleaseManifestLine {
    enum Kind { kFile, kSource, kResult };
    std::string fileName;
    Kind kind = kFile;
    BYTE digest[kDigestSize] = {};
};

// Parses a manifest's text: false (and lines empty) when it breaks any rule
// above, or memory runs out.
bool ParseReleaseManifest(const BYTE* text, uint64_t length, std::vector<ReleaseManifestLine>* lines);

// What the lines say of fileName (compared byte for byte).
ReleaseDigests DigestsOf(const std::vector<ReleaseManifestLine>& lines, const char* fileName);

// The manifest in the folder of the difference file at paPath, for that
// file: kUnlisted when the folder has none.  Never reads more than
// kMaxManifestLength bytes.
ReleaseDigests ReadReleaseDigests(const char* paPath);

// The three lines that list the difference file pa (paLength bytes), named
// fileName, made to turn the font `old` has loaded into release: the file's
// digest, that of the font's bytes it takes, that of the release.  False,
// with *lines as it was, when the file cannot be read or does not fit the
// font, or a digest cannot be had.
bool ReleaseLinesOf(const LoadedFont& old, const BYTE* pa, uint32_t paLength, const BYTE* release,
                    uint64_t releaseLength, const std::string& fileName, std::vector<ReleaseManifestLine>* lines);

// A manifest's text holding lines in order, with its first and last lines,
// the comments that tell a reader what it is and its own digest; "" when
// that digest cannot be had.
std::string FormatReleaseManifest(const std::vector<ReleaseManifestLine>& lines);

// 64 lowercase hexadecimal digits.
std::string DigestHex(const BYTE digest[kDigestSize]);
