// The digests a release is proved by: SHA-256 from the system against the
// published test vectors, and the manifest's text read strictly.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/manifest.h"
#include "engine/release.h"
#include "engine/sha256.h"
#include "tests/support/builders.h"
#include "tests/support/sha256_vectors.h"
#include "tests/support/sim_fixture.h"

using testdata::Bytes;
using testdata::BytesOf;

namespace {

std::string HexOf(CSha256* hash) {
    BYTE digest[kDigestSize];
    return hash->Finish(digest) ? DigestHex(digest) : "(failed)";
}

class ReleaseTest : public testdata::SimMachineTest {};

}  // namespace

// FIPS 180-2's examples, fed in pieces of awkward sizes.
TEST_F(ReleaseTest, Sha256GivesThePublishedDigests) {
    size_t count = 0;
    const testdata::Sha256Vector* vectors = testdata::Sha256Vectors(&count);
    for (size_t i = 0; i < count; ++i) {
        const std::string& m = vectors[i].message;
        CSha256 hash;
        for (uint64_t done = 0, piece = 1; done < m.size(); done += piece, piece = piece * 7 % 997 + 1) {
            hash.Add(reinterpret_cast<const BYTE*>(m.data()) + done, std::min<uint64_t>(piece, m.size() - done));
        }
        EXPECT_EQ(HexOf(&hash), vectors[i].digest) << m.size() << " bytes";
    }

    // Zeros added as such are the zeros of a buffer.
    CSha256 zeros, buffer;
    zeros.AddZeros(10000);
    const Bytes z(10000, 0);
    buffer.Add(z.data(), z.size());
    EXPECT_EQ(HexOf(&zeros), HexOf(&buffer));
}

// No digest is ever made up: without the library, or with any one of its
// calls failing, the hash says it failed, and nothing is left loaded.
TEST_F(ReleaseTest, AHashThatCannotBeHadSaysSo) {
    sim::SetSystemCryptography(false);
    CSha256 none;
    none.Add(reinterpret_cast<const BYTE*>("abc"), 3);
    EXPECT_EQ(HexOf(&none), "(failed)");
    sim::SetSystemCryptography(true);
    for (const char* call : {"LoadLibraryA", "GetProcAddress", "BCryptOpenAlgorithmProvider", "BCryptGetProperty",
                             "BCryptCreateHash", "BCryptHashData", "BCryptFinishHash"}) {
        sim::FailCall(call);
        CSha256 hash;
        hash.Add(reinterpret_cast<const BYTE*>("abc"), 3);
        EXPECT_EQ(HexOf(&hash), "(failed)") << call;
        sim::ClearFailures();
    }
}

// A manifest is read whole or not at all: every damage a transfer or an
// editor can do to it makes it unusable, never a shorter list.
TEST_F(ReleaseTest, AManifestIsReadWholeOrRefused) {
    std::vector<ReleaseManifestLine> lines(3);
    for (int k = 0; k < 3; ++k) {
        lines[k].fileName = "Sorame-Gothic-Pro-W3.pa";
        lines[k].kind = static_cast<ReleaseManifestLine::Kind>(k);
        lines[k].digest[0] = static_cast<BYTE>(k + 1);
    }
    const std::string text = FormatReleaseManifest(lines);
    std::vector<ReleaseManifestLine> read;
    ASSERT_TRUE(ParseReleaseManifest(reinterpret_cast<const BYTE*>(text.data()), text.size(), &read));
    ReleaseDigests d = DigestsOf(read, "Sorame-Gothic-Pro-W3.pa");
    EXPECT_EQ(d.state, ReleaseDigests::kListed);
    EXPECT_EQ(d.source[0], 2);
    EXPECT_EQ(DigestsOf(read, "Sorame-Mincho-Std-W5.pa").state, ReleaseDigests::kUnlisted);
    EXPECT_EQ(DigestsOf(read, "sorame-gothic-pro-w3.pa").state, ReleaseDigests::kUnlisted);

    const std::string hex = DigestHex(lines[0].digest);
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = text;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    const struct {
        const char* what;
        std::string text;
        bool usable;
    } cases[] = {
        {"CRLF line ends", replaced("\n", "\r\n"), true},
        {"a digit changed", replaced(hex, "f" + hex.substr(1)), false},
        {"the digest of its lines changed", replaced("  #manifest", "  #manifesto"), false},
        {"cut before its last line", text.substr(0, text.size() - 6), false},
        {"cut inside its last line", text.substr(0, text.size() - 1), false},
        {"no first line", text.substr(text.find('\n') + 1), false},
        {"a hex digit short", replaced(hex + "  ", hex.substr(1) + "  "), false},
        {"a letter for a digit", replaced(hex, "g" + hex.substr(1)), false},
        {"one space", replaced(hex + "  ", hex + " "), false},
        {"a path", replaced("  Sorame-Gothic-Pro-W3.pa\n", "  ..\\Sorame-Gothic-Pro-W3.pa\n"), false},
        {"an unknown kind", replaced(".pa#source", ".pa#sourcf"), false},
        {"a line twice", replaced("# end\n", hex + "  Sorame-Gothic-Pro-W3.pa\n# end\n"), false},
        {"a NUL in a name", replaced("W3.pa#result", std::string("W3.pa\0#result", 13)), false},
        {"text after the end", text + "x\n", false},
        {"empty", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ParseReleaseManifest(reinterpret_cast<const BYTE*>(c.text.data()), c.text.size(), &read), c.usable);
        if (!c.usable) {
            EXPECT_TRUE(read.empty());
        }
    }
    // A file with some of its lines but not all is refused, not unlisted.
    read.assign(lines.begin(), lines.begin() + 2);
    EXPECT_EQ(DigestsOf(read, "Sorame-Gothic-Pro-W3.pa").state, ReleaseDigests::kRefused);
    const std::string huge = "# release manifest 1\n" + std::string(kMaxManifestLength, '#') + "\n# end\n";
    EXPECT_FALSE(ParseReleaseManifest(reinterpret_cast<const BYTE*>(huge.data()), huge.size(), &read));
}

// The bytes filled in per customer: every directory checksum, the head's
// adjustment and the ID 13 strings, each once, even when a crafted font
// names one name table from every record.
TEST_F(ReleaseTest, TheBytesFilledInAreTheChecksumsAndSerialStrings) {
    const Bytes font = testdata::SmallFont(0x00010000, "Sorame Gothic Pro W3");
    std::vector<Extent> ranges;
    ASSERT_TRUE(FilledInRanges(font.data(), font.size(), &ranges));
    uint64_t covered = 0;
    for (size_t i = 0; i < ranges.size(); ++i) {
        if (i > 0) {
            EXPECT_LT(ranges[i - 1].to, ranges[i].from);
        }
        covered += ranges[i].to - ranges[i].from;
    }
    const uint32_t tables = testdata::GetU16(font, 4);
    // 4 bytes per record, 4 of the head, and the two serial strings:
    // "MAC-SERIAL-0001" in 15 bytes, its Windows form in 30.
    EXPECT_EQ(covered, 4u * tables + 4 + 15 + 30);

    const Bytes crafted = testdata::ClaimingNameFont(0x00010000, 5000, 0xFFFF);
    ASSERT_TRUE(FilledInRanges(crafted.data(), crafted.size(), &ranges));
    EXPECT_LE(ranges.size(), crafted.size() / 4);
}
