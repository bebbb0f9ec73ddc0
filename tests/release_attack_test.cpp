// The release manifest under attack: manifests planted, cut, doubled or
// swapped by a hostile user or by bad luck, difference files swapped while
// a build reads them, the system's hashing failing call by call or missing.
// Whatever happens, a build ends either with the release's font or with a
// failure that leaves nothing behind.
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/manager.h"
#include "engine/manifest.h"
#include "engine/release.h"
#include "engine/sabun.h"
#include "tests/support/revision.h"
#include "tests/support/sim_fixture.h"
#include "tools/paproducer/paproducer.h"
#include "tools/patool/patool.h"

using testdata::Bytes;

namespace {

const char kFont[] = "C:\\Windows\\Fonts\\Sorame-Gothic-Pro-W3.otf";
const char kPa[] = "C:\\Upd\\host\\Sorame-Gothic-Pro-W3.pa";
const char kManifest[] = "C:\\Upd\\host\\release.sha256";
const char kTemp[] = "C:\\Windows\\Temp\\~attack.tmp";
const char kName[] = "Sorame-Gothic-Pro-W3.pa";

struct Release {
    Bytes installed, release, diff, expected;
    std::vector<ReleaseManifestLine> lines;  // the maker's three lines
};

class ReleaseAttackTest : public testdata::SimMachineTest {
protected:
    // The real pair, its difference file and its manifest, as the maker
    // makes them; false (the test then skips) without the real fonts.
    bool Prepare() {
        r.installed = testdata::RealFont("Sorame-Gothic-Pro-W3.otf");
        r.release = testdata::RealFont("Sorame-Gothic-Pro-W3.rev.otf");
        std::string error;
        if (r.installed.empty() || r.release.empty()) return false;
        r.diff = paproducer::MakeDifference(r.installed, r.release, &error);
        Bytes mac, win;
        testdata::SerialsOf(r.installed, &mac, &win);
        r.expected = testdata::ExpectedRevision(r.release, mac, win);
        Put(kFont, r.installed);
        Put(kPa, r.diff);
        MakeFolder("C:\\Windows\\Temp");
        COpenTypeManager m;
        return m.LoadFont(kFont, nullptr, nullptr, 1, 0) == kReviseOk &&
               ReleaseLinesOf(m.Loaded(), r.diff.data(), static_cast<uint32_t>(r.diff.size()), r.release.data(),
                              r.release.size(), kName, &r.lines);
    }

    std::string Text(const std::vector<ReleaseManifestLine>& lines) const { return FormatReleaseManifest(lines); }
    void PutText(const std::string& text) { Put(kManifest, Bytes(text.begin(), text.end())); }

    // Loads the font and builds its revision as the driver does; atBuild
    // runs between the two, where the search's findings are already old.
    int Revise(const std::function<void()>& atBuild = nullptr) {
        COpenTypeManager m;
        int result = m.LoadFont(kFont, nullptr, nullptr, 1, 0);
        if (result != kReviseOk) return result;
        m.TakeSerialStrings();
        if (atBuild) atBuild();
        result = m.CreateRevisedFile(kFont, kPa, kTemp, nullptr, nullptr, 1, 0);
        sim::ClearFailures();
        sim::OnCall(nullptr);
        return result;
    }

    // What must hold after any build: the font as it was, and the revision
    // itself when the build says it is done, else no file.
    void ExpectSound(int result) {
        EXPECT_EQ(Get(kFont), r.installed);
        if (result == kReviseOk) {
            EXPECT_EQ(Get(kTemp), r.expected);
        } else {
            EXPECT_FALSE(Exists(kTemp));
        }
        EXPECT_EQ(sim::OpenHandleCount(), 0);
    }

    Release r;
};

#define REQUIRE_RELEASE()                                                                      \
    if (!Prepare()) {                                                                          \
        if (std::getenv("REQUIRE_REAL_FONTS")) FAIL() << "missing real fonts or their digests"; \
        GTEST_SKIP() << "real fonts not generated";                                            \
    }

TEST_F(ReleaseAttackTest, EveryManifestEndsInTheReleaseOrInAFailureThatLeavesNothing) {
    REQUIRE_RELEASE();
    const std::string maker = Text(r.lines);
    auto renamed = [&](const std::string& name) {
        std::vector<ReleaseManifestLine> lines = r.lines;
        for (ReleaseManifestLine& line : lines) line.fileName = name;
        return lines;
    };
    auto wrong = [&](int kind) {
        std::vector<ReleaseManifestLine> lines = r.lines;
        lines[kind].digest[7] ^= 1;
        return Text(lines);
    };
    std::string huge = "# release manifest 1\n";
    while (huge.size() <= kMaxManifestLength) huge += "# " + std::string(200, 'x') + "\n";
    huge += maker.substr(maker.find('\n') + 1);

    struct Case {
        const char* what;
        std::function<void()> arrange;
        int expected;
    };
    const std::vector<Case> cases = {
        {"none: files shipped before manifests", [] {}, kReviseOk},
        {"the maker's", [&] { PutText(maker); }, kReviseOk},
        {"lines for other files only", [&] { PutText(Text(renamed("Other.pa"))); }, kReviseOk},
        {"cut inside a digest", [&] { PutText(maker.substr(0, maker.size() - 100)); }, kReviseDiffNotReleased},
        {"a folder", [&] { MakeFolder(kManifest); }, kReviseDiffNotReleased},
        {"over its size limit", [&] { PutText(huge); }, kReviseDiffNotReleased},
        {"two of the three lines", [&] { PutText(Text({r.lines[0], r.lines[2]})); }, kReviseDiffNotReleased},
        {"planted: another file's digest", [&] { PutText(wrong(ReleaseManifestLine::kFile)); },
         kReviseDiffNotReleased},
        {"another font's source digest", [&] { PutText(wrong(ReleaseManifestLine::kSource)); },
         kReviseFontNotReleased},
        {"another release's result digest", [&] { PutText(wrong(ReleaseManifestLine::kResult)); },
         kReviseResultNotReleased},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::error_code ec;
        std::filesystem::remove_all(sim::HostPath(kManifest), ec);
        std::filesystem::remove(sim::HostPath(kTemp), ec);
        c.arrange();
        const int result = Revise();
        EXPECT_EQ(result, c.expected);
        ExpectSound(result);
    }
}

TEST_F(ReleaseAttackTest, FilesChangedWhileTheBuildReadsThemAreJudgedOnTheBytesRead) {
    REQUIRE_RELEASE();
    PutText(Text(r.lines));
    Bytes damaged = r.diff;
    damaged[damaged.size() - 3] ^= 0x10;  // a literal byte
    // Acts as the n-th file opened once the build has begun is opened: the
    // manifest, the difference file, the temporary file.
    int acted = 0;
    auto onOpen = [&](uint64_t n, std::function<void()> act) {
        return [n, act, &acted] {
            auto opened = std::make_shared<uint64_t>(0);
            sim::OnCall([opened, n, act, &acted](const char* api, uint64_t) {
                if (std::strcmp(api, "CreateFileA") == 0 && ++*opened == n) {
                    act();
                    ++acted;
                }
            });
        };
    };
    struct Case {
        const char* what;
        std::function<void()> atBuild;
        int expected;
    };
    const std::vector<Case> cases = {
        {"the file swapped after the manifest was read", onOpen(2, [&] { Put(kPa, damaged); }),
         kReviseDiffNotReleased},
        {"the file swapped after it was read", onOpen(3, [&] { Put(kPa, damaged); }), kReviseOk},
        {"the manifest emptied after it was read", onOpen(2, [&] { PutText(""); }), kReviseOk},
        {"the manifest locked by another program",
         [&] { sim::HoldFileElsewhere(kManifest, 0); }, kReviseDiffNotReleased},
        {"the manifest's attributes refused", [] { sim::FailCall("GetFileAttributesA"); }, kReviseDiffNotReleased},
        {"the manifest's read failing", [] { sim::FailCall("ReadFile"); }, kReviseDiffNotReleased},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put(kPa, r.diff);
        PutText(Text(r.lines));
        std::error_code ec;
        std::filesystem::remove(sim::HostPath(kTemp), ec);
        const int result = Revise(c.atBuild);
        sim::ReleaseFileElsewhere(kManifest);
        EXPECT_EQ(result, c.expected);
        ExpectSound(result);
    }
    EXPECT_EQ(acted, 3);
}

TEST_F(ReleaseAttackTest, AHashThatCannotBeHadRefusesTheListedFileAndOnlyIt) {
    REQUIRE_RELEASE();
    PutText(Text(r.lines));
    // How often a build that succeeds calls each function.
    sim::Reset();
    MapNewDrive('C');
    ASSERT_EQ(Revise(), kReviseOk);
    std::error_code ec;
    const char* const apis[] = {"LoadLibraryA",      "GetProcAddress",   "BCryptOpenAlgorithmProvider",
                                "BCryptGetProperty", "BCryptCreateHash", "BCryptHashData",
                                "BCryptFinishHash"};
    std::map<std::string, uint64_t> calls;
    for (const char* api : apis) calls[api] = sim::CallCount(api);
    ASSERT_GE(calls["BCryptFinishHash"], 3u);
    int failures = 0;
    for (const char* api : apis) {
        for (uint64_t n = 1; n <= calls[api]; ++n) {
            SCOPED_TRACE(std::string(api) + " #" + std::to_string(n));
            std::filesystem::remove(sim::HostPath(kTemp), ec);
            const int result = Revise([&] { sim::FailCall(api, static_cast<unsigned>(n)); });
            EXPECT_TRUE(result == kReviseDiffNotReleased || result == kReviseFontNotReleased ||
                        result == kReviseResultNotReleased)
                << result;
            ExpectSound(result);
            ++failures;
        }
    }
    RecordProperty("failed calls", failures);

    // A system without the library: a listed file cannot be proven, and
    // files shipped without a manifest are revised as before.
    sim::SetSystemCryptography(false);
    EXPECT_EQ(Revise(), kReviseDiffNotReleased);
    ExpectSound(kReviseDiffNotReleased);
    std::filesystem::remove(sim::HostPath(kManifest), ec);
    const int unlisted = Revise();
    EXPECT_EQ(unlisted, kReviseOk);
    ExpectSound(unlisted);
}

// A table taken over whole that an editor lengthened no longer fits the
// file's layout; with the manifest vouching for the file, patool names the
// font as the updater does, and without one the file as before.
TEST(ReleasePatool, AFontThatNoLongerFitsAListedFileIsNamedAsTheFont) {
    REQUIRE_FONT(installed, "Sorame-Mincho-Std-W5.otf");
    char folder[] = "/tmp/release-attack-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string dir = folder, old = dir + "/old.otf", edited = dir + "/edited.otf";
    auto write = [](const std::string& path, const Bytes& bytes) {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
    };
    auto run = [](std::vector<std::string> args, std::string* err = nullptr) {
        std::ostringstream out, errors;
        const int code = patool::Run(args, out, errors);
        if (err) *err = errors.str();
        return code;
    };
    write(old, installed);
    Bytes font = installed;
    const std::vector<testdata::DirectoryEntry> directory = testdata::Directory(font);
    for (size_t i = 0; i < directory.size(); ++i) {
        if (directory[i].tag == "post") testdata::PutU32(font, 12 + 16 * i + 12, directory[i].length + 4);
    }
    write(edited, testdata::WithChecksums(font));
    std::filesystem::create_directories(dir + "/host");
    ASSERT_EQ(run({"make", old, testdata::RealFontPath("Sorame-Mincho-Std-W5.rev.otf"), dir + "/host/M.pa"}), 0);
    std::string err;
    EXPECT_EQ(run({"apply", edited, dir + "/host/M.pa", dir + "/out.otf"}, &err), patool::kExitFontNotReleased);
    EXPECT_EQ(err.find("'" + edited + "'"), err.find('\'')) << err;
    std::filesystem::remove(dir + "/host/release.sha256");
    EXPECT_EQ(run({"apply", edited, dir + "/host/M.pa", dir + "/out.otf"}), patool::kExitMalformed);
    EXPECT_FALSE(std::filesystem::exists(dir + "/out.otf"));
    std::filesystem::remove_all(dir);
}

TEST(ReleaseFilledIn, NameTablesThatClaimEveryRecordStayBoundedAndInsideTheImage) {
    // 4,000 directory entries naming one name table, each with another
    // length, so that each is read as a table of its own; it claims 65,535
    // serial records, whose strings all overlap.
    const uint32_t entries = 4000, head = 12 + 16 * (entries + 1), name = head + 56, nameLength = 6 + 12 * 300;
    Bytes font(name + nameLength, 0);
    testdata::PutU32(font, 0, 0x4F54544F);
    testdata::PutU16(font, 4, static_cast<uint16_t>(entries + 1));
    std::memcpy(font.data() + 12, "head", 4);
    testdata::PutU32(font, 20, head);
    testdata::PutU32(font, 24, 54);
    for (uint32_t i = 1; i <= entries; ++i) {
        std::memcpy(font.data() + 12 + 16 * i, "name", 4);
        testdata::PutU32(font, 12 + 16 * i + 8, name);
        testdata::PutU32(font, 12 + 16 * i + 12, nameLength - i % 1000);
    }
    testdata::PutU16(font, name + 2, 0xFFFF);
    testdata::PutU16(font, name + 4, 6);
    for (uint32_t j = 0; 6 + 12 * j + 12 <= nameLength; ++j) {
        testdata::PutU16(font, name + 6 + 12 * j + 6, 13);
        testdata::PutU16(font, name + 6 + 12 * j + 8, static_cast<uint16_t>(nameLength - 1000 - j % 7));
        testdata::PutU16(font, name + 6 + 12 * j + 10, static_cast<uint16_t>(j % 5));
    }
    std::vector<Extent> ranges;
    ASSERT_TRUE(FilledInRanges(font.data(), font.size(), &ranges));
    for (size_t i = 0; i < ranges.size(); ++i) {
        EXPECT_LT(ranges[i].from, ranges[i].to);
        EXPECT_LE(ranges[i].to, font.size());
        if (i > 0) {
            EXPECT_LT(ranges[i - 1].to, ranges[i].from);
        }
    }
    // A checksum per entry, the adjustment and the strings, merged.
    EXPECT_LE(ranges.size(), entries + 3u);
    BYTE digest[kDigestSize];
    EXPECT_TRUE(ReleasedFontDigest(font.data(), font.size(), digest));
}

}  // namespace
