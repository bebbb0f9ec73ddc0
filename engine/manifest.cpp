#include "engine/manifest.h"

#include <cstring>
#include <exception>
#include <new>
#include <set>
#include <utility>

#include "engine/release.h"
#include "engine/sabuncheck.h"
#include "engine/wholefile.h"
#include "platform/framework/cstring.h"

namespace {

const char kFirstLine[] = "# release manifest 1";
const char kLastLine[] = "# end";
// The name of the line that holds the digest of the lines above it.
const char kSelfName[] = "#manifest";
const char* const kSuffixes[] = {"", "#source", "#result"};
const uint64_t kHexLength = 2 * kDigestSize;

int HexValue(BYTE c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool EndsWith(const std::string& text, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// A file name as a manifest may give it: a name of this folder (no path),
// that the ANSI functions can open, and that cannot be mistaken for a kind.
bool SoundFileName(const std::string& name) {
    if (name.empty() || name.size() >= MAX_PATH) return false;
    for (const char c : name) {
        const BYTE b = static_cast<BYTE>(c);
        if (b < 0x20 || b == 0x7F || c == '\\' || c == '/' || c == ':' || c == '#') return false;
    }
    return true;
}

// The digest whose 64 hexadecimal digits begin line; false when they do not.
bool ReadDigest(const std::string& line, BYTE digest[kDigestSize]) {
    if (line.size() < kHexLength) return false;
    for (uint64_t i = 0; i < kDigestSize; ++i) {
        const int high = HexValue(static_cast<BYTE>(line[2 * i])), low = HexValue(static_cast<BYTE>(line[2 * i + 1]));
        if (high < 0 || low < 0) return false;
        digest[i] = static_cast<BYTE>(high << 4 | low);
    }
    return true;
}

// One digest line: "<hex>  <name>" or "<hex> *<name>", as sha256sum writes
// them in text and binary mode.
bool ParseDigestLine(const std::string& line, ReleaseManifestLine* out) {
    if (line.size() < kHexLength + 3 || !ReadDigest(line, out->digest)) return false;
    if (line[kHexLength] != ' ' || (line[kHexLength + 1] != ' ' && line[kHexLength + 1] != '*')) return false;
    std::string name = line.substr(kHexLength + 2);
    out->kind = ReleaseManifestLine::kFile;
    for (int kind = ReleaseManifestLine::kSource; kind <= ReleaseManifestLine::kResult; ++kind) {
        if (EndsWith(name, kSuffixes[kind])) {
            name.resize(name.size() - std::strlen(kSuffixes[kind]));
            out->kind = static_cast<ReleaseManifestLine::Kind>(kind);
        }
    }
    if (!SoundFileName(name)) return false;
    out->fileName = name;
    return true;
}

}  // namespace

bool ParseReleaseManifest(const BYTE* text, uint64_t length, std::vector<ReleaseManifestLine>* lines) {
    lines->clear();
    if (length > kMaxManifestLength) return false;
    try {
        std::vector<std::string> texts;
        uint64_t start = 0;
        while (start < length) {
            const void* found = std::memchr(text + start, '\n', static_cast<size_t>(length - start));
            // The last line ends with LF too: one without it was cut short.
            if (!found) return false;
            const uint64_t end = static_cast<uint64_t>(static_cast<const BYTE*>(found) - text);
            uint64_t lineEnd = end;
            if (lineEnd > start && text[lineEnd - 1] == '\r') --lineEnd;
            texts.emplace_back(reinterpret_cast<const char*>(text + start), static_cast<size_t>(lineEnd - start));
            start = end + 1;
        }
        if (texts.size() < 3 || texts.front() != kFirstLine || texts.back() != kLastLine) return false;
        // The lines above the self line, each ended with LF whatever the
        // transfer made of its line end, must have its digest: damage to
        // any digest then reads as a damaged manifest, never as a font or
        // a file other than the one released.
        const std::string& self = texts[texts.size() - 2];
        std::string above;
        for (size_t i = 0; i + 2 < texts.size(); ++i) above += texts[i] + "\n";
        BYTE said[kDigestSize], digest[kDigestSize];
        if (self.size() != kHexLength + 2 + std::strlen(kSelfName) || self.compare(kHexLength, 2, "  ") != 0 ||
            self.compare(kHexLength + 2, std::string::npos, kSelfName) != 0 || !ReadDigest(self, said) ||
            !Sha256Of(reinterpret_cast<const BYTE*>(above.data()), above.size(), digest) ||
            std::memcmp(digest, said, kDigestSize) != 0) {
            return false;
        }
        // Each file's digest of each kind once: a set, so that a manifest
        // of many lines costs no more than reading it.
        std::set<std::pair<std::string, int>> seen;
        for (size_t i = 1; i + 2 < texts.size(); ++i) {
            const std::string& line = texts[i];
            if (line.empty() || line[0] == '#') continue;
            ReleaseManifestLine parsed;
            if (!ParseDigestLine(line, &parsed)) {
                lines->clear();
                return false;
            }
            // Two digests of one thing: which one holds cannot be told.
            if (!seen.emplace(parsed.fileName, parsed.kind).second) {
                lines->clear();
                return false;
            }
            lines->push_back(parsed);
        }
        return true;
    } catch (const std::exception&) {
        lines->clear();
        return false;
    }
}

ReleaseDigests DigestsOf(const std::vector<ReleaseManifestLine>& lines, const char* fileName) {
    ReleaseDigests digests;
    BYTE* const slots[] = {digests.file, digests.source, digests.result};
    int found = 0;
    for (const ReleaseManifestLine& line : lines) {
        if (line.fileName != fileName) continue;
        std::memcpy(slots[line.kind], line.digest, kDigestSize);
        found |= 1 << line.kind;
    }
    digests.state = found == 0 ? ReleaseDigests::kUnlisted : found == 7 ? ReleaseDigests::kListed
                                                                       : ReleaseDigests::kRefused;
    return digests;
}

ReleaseDigests ReadReleaseDigests(const char* paPath) {
    ReleaseDigests refused;
    refused.state = ReleaseDigests::kRefused;
    const char* slash = std::strrchr(paPath, '\\');
    if (!slash || slash[1] == '\0') return refused;
    CString manifest;
    manifest.Format("%.*s%s", static_cast<int>(slash - paPath) + 1, paPath, kReleaseManifestName);
    if (manifest.GetLength() >= MAX_PATH) return refused;

    // Only a manifest that is not there at all leaves the files unchecked;
    // one that is there but cannot be read may have been meant for them.
    const DWORD attributes = GetFileAttributesA(manifest);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? ReleaseDigests() : refused;
    }
    WholeFile text;
    if (ReadWholeFile(manifest, kMaxManifestLength, 0, &text) != kWholeFileRead) return refused;
    std::vector<ReleaseManifestLine> lines;
    const bool parsed = ParseReleaseManifest(text.data, text.length, &lines);
    delete[] text.data;
    if (!parsed) return refused;
    return DigestsOf(lines, slash + 1);
}

bool ReleaseLinesOf(const LoadedFont& old, const BYTE* pa, uint32_t paLength, const BYTE* release,
                    uint64_t releaseLength, const std::string& fileName, std::vector<ReleaseManifestLine>* lines) {
    CMakeSabunData data;
    if (!data.ReadBytes(pa, paLength) || CheckSabunData(data, &old, nullptr) != 0) return false;
    std::vector<ReleaseManifestLine> made(3);
    for (int kind = ReleaseManifestLine::kFile; kind <= ReleaseManifestLine::kResult; ++kind) {
        made[static_cast<size_t>(kind)].fileName = fileName;
        made[static_cast<size_t>(kind)].kind = static_cast<ReleaseManifestLine::Kind>(kind);
    }
    if (!Sha256Of(pa, paLength, made[0].digest) || !TakenDigest(old, data, made[1].digest) ||
        !ReleasedFontDigest(release, releaseLength, made[2].digest)) {
        return false;
    }
    lines->swap(made);
    return true;
}

std::string FormatReleaseManifest(const std::vector<ReleaseManifestLine>& lines) {
    std::string text = kFirstLine;
    text +=
        "\n"
        "# SHA-256 digests of the difference files in this folder.  For each file:\n"
        "# the file itself; NAME#source: the installed font's bytes it takes, in the\n"
        "# order it takes them; NAME#result: the revised font, its serial strings,\n"
        "# table checksums and checksum adjustment counted as zeros.\n"
        "# #manifest: the lines above it.\n"
        "# The files themselves: sha256sum --ignore-missing -c release.sha256\n";
    for (const ReleaseManifestLine& line : lines) {
        text += DigestHex(line.digest) + "  " + line.fileName + kSuffixes[line.kind] + "\n";
    }
    BYTE self[kDigestSize];
    // Without a digest of its own the manifest would be refused: an empty
    // text says so to the writer.
    if (!Sha256Of(reinterpret_cast<const BYTE*>(text.data()), text.size(), self)) return std::string();
    text += DigestHex(self) + "  " + kSelfName + "\n";
    text += kLastLine;
    text += "\n";
    return text;
}

std::string DigestHex(const BYTE digest[kDigestSize]) {
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (uint32_t i = 0; i < kDigestSize; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}
