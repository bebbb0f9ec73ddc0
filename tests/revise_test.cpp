// One installed font revised from end to end on the simulated machine, and
// every way it can fail: the installed font is left whole each time.
#include "tests/support/revise_fixture.h"


TEST_F(ReviseTest, AFontIsRevisedReplacedAndVerified) {
    Progress progress;
    progress.stopAt = 100;  // too late: the font is already replaced
    ASSERT_EQ(Revise(&progress), kReviseOk);
    EXPECT_TRUE(Get(kFont) == GothicFont(Post(0x99)));
    ExpectNoLeftovers();

    EXPECT_EQ(progress.steps, (std::vector<int>{10, 20, 30, 40, 55, 65, 75, 90, 100}));
    EXPECT_EQ(progress.overall.back(), 100);
    EXPECT_EQ(progress.lastLine1, std::string(kFont) + "の改訂をしています。");
    EXPECT_EQ(progress.lastLine2, "テンポラリフォルダからファイルをコピーしています。");

    // The wait after the copy is taken on the simulated clock only.
    EXPECT_EQ(sim::SleptMilliseconds(), 300u);
}

TEST_F(ReviseTest, TheWaitComesBetweenTheCopyAndTheReadBack) {
    Bytes atSleep;
    sim::OnSleep([&](DWORD) { atSleep = Get(kFont); });
    ASSERT_EQ(Revise(), kReviseOk);
    EXPECT_TRUE(atSleep == GothicFont(Post(0x99)));
}

TEST_F(ReviseTest, SomeoneElsesFileUnderTheTemporaryNameIsLeftAlone) {
    sim::SeedRandom(42);
    const int first = std::rand() % 255;
    sim::SeedRandom(42);
    const std::string taken = std::string(kTemp) + std::to_string(kNow) + std::to_string(first);
    Put(taken, BytesOf("not ours"));

    ASSERT_EQ(Revise(), kReviseOk);
    EXPECT_EQ(Get(taken), BytesOf("not ours"));
    ExpectNoLeftovers({taken});
}

TEST_F(ReviseTest, WhenNoTemporaryFileCanBeMadeTheResultIs3) {
    for (int r = 0; r < 255; ++r) Put(std::string(kTemp) + std::to_string(kNow) + std::to_string(r), BytesOf("x"));
    EXPECT_EQ(Revise(), kReviseTempFailed);
    ExpectInstalledIntact();
    for (const std::string& name : FilesIn(kTemp)) EXPECT_EQ(Get(std::string(kTemp) + name), BytesOf("x")) << name;

    sim::SetTempPath("C:\\NoSuchFolder\\");
    EXPECT_EQ(Revise(), kReviseTempFailed);
    ExpectInstalledIntact();
}

TEST_F(ReviseTest, AFailedReplacementLeavesTheInstalledFontAsItWas) {
    for (const char* api : {"CopyFileA", "FlushFileBuffers", "MoveFileExA"}) {
        sim::FailCall(api);
        EXPECT_EQ(Revise(), kReviseCopyFailed) << api;
        ExpectInstalledIntact();
        ExpectNoLeftovers();
    }
    // A read-only font can be read and revised, but not replaced, not even
    // at the next start.
    ::chmod(sim::HostPath(kFont).c_str(), 0444);
    EXPECT_EQ(Revise(), kReviseCopyFailed);
    EXPECT_FALSE(Exists(kStaging));
    ExpectInstalledIntact();
    ExpectNoLeftovers();
}

TEST_F(ReviseTest, AFontThatCannotBeReadBackIsPutBack) {
    // The read-back's open fails.
    sim::OnSleep([](DWORD) { sim::FailCall("CreateFileA"); });
    EXPECT_EQ(Revise(), kReviseReadBackFailed);
    ExpectInstalledIntact();
    ExpectNoLeftovers();
}

TEST_F(ReviseTest, AFontReadBackWithAnotherSumIsPutBack) {
    sim::OnSleep([this](DWORD) {
        Bytes damaged = Get(kFont);
        damaged[200] ^= 0x01;
        Put(kFont, damaged);
    });
    EXPECT_EQ(Revise(), kReviseChecksum);
    ExpectInstalledIntact();
    ExpectNoLeftovers();
}

TEST_F(ReviseTest, FailuresBeforeTheCopyLeaveTheFontUntouched) {
    struct Case {
        const char* what;
        Bytes installed;
        Bytes diff;
        int stopAt;
        int expected;
    };
    const Bytes noName = GothicFont(Post(0x77), false);
    const Bytes noHead = GothicFont(Post(0x77), true, false);
    // Fonts put at the listed path after the search: each the font of
    // another difference file, which this one's blocks would garble.
    const Bytes otherRevision = testdata::SmallFont(kRev1 + 1, "Sorame Gothic Pro W3");
    const Bytes otherFont = testdata::SmallFont(kRev1, "Sorame Gothic Pro W6");
    const Case cases[] = {
        {"another revision at the path", otherRevision, DiffFor(m_installed), -1, kReviseLoadFailed},
        {"another font at the path", otherFont, DiffFor(m_installed), -1, kReviseLoadFailed},
        {"not a font", BytesOf("this is not an OpenType font at all"), DiffFor(m_installed), -1, kReviseLoadFailed},
        {"stop while loading", m_installed, DiffFor(m_installed), 20, kReviseLoadFailed},
        {"a table the font lacks", m_installed, DiffFor(m_installed, {}, "DSIG"), -1, kReviseLoadFailed},
        {"stop while building", m_installed, DiffFor(m_installed), 40, kReviseStopped},
        {"stop just before writing", m_installed, DiffFor(m_installed), 90, kReviseStopped},
        {"records cut off", m_installed,
         testdata::DiffBuilder().FontName("Sorame Gothic Pro W3").FromRevision(kRev1).TableCount(9).Build(), -1,
         kReviseDiffUnreadable},
        {"no name table", noName, DiffFor(noName), -1, kReviseNoNameTable},
        {"no head table", noHead, DiffFor(noHead), -1, kReviseChecksum},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_installed = c.installed;
        Put(kFont, m_installed);
        PutDiff(c.diff);
        Progress progress;
        progress.stopAt = c.stopAt;
        EXPECT_EQ(Revise(&progress), c.expected);
        ExpectInstalledIntact();
        ExpectNoLeftovers();
        EXPECT_EQ(sim::CallCount("MoveFileExA"), 0u);
    }
}

TEST_F(ReviseTest, ADifferenceFileSwappedAfterTheScanIsNotBuiltFrom) {
    struct Case {
        const char* what;
        testdata::DiffBuilder header;
    };
    Case cases[] = {
        {"made for another font", testdata::DiffBuilder().FontName("Sorame Gothic Pro W6").FromRevision(kRev1)},
        {"made for another revision", testdata::DiffBuilder().FontName("Sorame Gothic Pro W3").FromRevision(kRev1 + 1)},
        {"not a difference file", testdata::DiffBuilder().Magic("XXXX").FontName("Sorame Gothic Pro W3").FromRevision(kRev1)},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReleaseFolderCheckCtrl();
        PutDiff(DiffFor(m_installed, {{"post", Post(0x99)}}));
        GetFolderCheckCtrl();  // the scan sees the right file
        c.header.NewFileLength(static_cast<uint32_t>(m_installed.size()));
        for (const testdata::DiffRecord& rec : testdata::KeepEverything(m_installed)) c.header.Record(rec);
        PutDiff(c.header.Build());
        COpenTypeManager m;
        EXPECT_EQ(m.ReviseFont(kFont, static_cast<int>(kRev1), nullptr, nullptr, 1, 0), kReviseLoadFailed);
        ExpectInstalledIntact();
        ExpectNoLeftovers();
    }
}

TEST_F(ReviseTest, WhenTheOriginalCannotBePutBackTheResultSaysNeither) {
    // The read-back fails, and so does the move that would restore the font.
    sim::OnSleep([](DWORD) {
        sim::FailCall("CreateFileA");
        sim::FailCall("MoveFileExA");
    });
    EXPECT_EQ(Revise(), kReviseRestoreFailed);
    EXPECT_FALSE(Get(kFont) == m_installed);
    ExpectNoLeftovers();
}

TEST_F(ReviseTest, LeftoversBesideTheFontAreOursByExactNameOnly) {
    const std::string folder = "D:\\Fonts\\";
    for (const char* name : {"~upd0.new", "~updf.new"}) Put(folder + name, BytesOf("left over"));
    const std::vector<std::string> others = {"Sorame-Gothic-Pro-W3.otf", "x~upd1.new", "~upd00.new", "~upd1.new.otf",
                                             "~updg.new"};
    for (const std::string& name : others) {
        if (name != "Sorame-Gothic-Pro-W3.otf") Put(folder + name, BytesOf("someone else's"));
    }
    MakeFolder(folder + "~upd2.new");
    RemoveReplaceLeftovers(kFont);
    std::vector<std::string> expected = others;
    expected.push_back("~upd2.new");
    std::vector<std::string> left = FilesIn("D:\\Fonts");
    std::sort(expected.begin(), expected.end());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, expected);
    ExpectInstalledIntact();
}

TEST_F(ReviseTest, AFontAtTheLongestPathTheAnsiFunctionsTakeIsReplaced) {
    // 259 characters, the most a 260-byte path buffer holds.
    const std::string folder = "D:\\" + std::string(100, 'L') + "\\" + std::string(100, 'M') + "\\" +
                               std::string(29, 'N') + "\\";
    const std::string name = "Sorame-Gothic-Pro-W3.otf";
    ASSERT_EQ(folder.size() + name.size(), 259u);
    MakeFolder(folder.substr(0, folder.size() - 1));
    const std::string path = folder + name;
    Put(path, m_installed);
    ReleaseFolderCheckCtrl();
    GetFolderCheckCtrl();
    COpenTypeManager m;
    EXPECT_EQ(m.ReviseFont(path.c_str(), static_cast<int>(kRev1), nullptr, nullptr, 1, 0), kReviseOk);
    EXPECT_FALSE(Get(path) == m_installed);
}

TEST_F(ReviseTest, AFontWithoutItsDifferenceFileOrFileEndsWith1BeforeAnyTemporaryFile) {
    std::filesystem::remove(sim::HostPath((std::string(kHost) + "Sorame-Gothic-Pro-W3.pa").c_str()));
    EXPECT_EQ(Revise(), kReviseLoadFailed);
    ExpectInstalledIntact();
    ExpectNoLeftovers();

    ReleaseFolderCheckCtrl();
    COpenTypeManager m;
    EXPECT_EQ(m.ReviseFont("D:\\Fonts\\Sorame-Gothic-Pro-W3x.otf", 0, nullptr, nullptr, 1, 0), kReviseLoadFailed);
    EXPECT_EQ(sim::CallCount("GetTempPathA"), 0u);
}

// With a release manifest beside the difference file, a font becomes exactly
// the release or stays as it was: a damaged file, a font another tool edited
// where the file takes its bytes, or a manifest that cannot be trusted ends
// the font before anything is written.  Bytes the file never takes (the
// serial strings, carried in the new name table) may differ.
TEST_F(ReviseTest, AListedRevisionIsBuiltOnlyFromTheBytesReleased) {
    const Bytes release = GothicFont(Post(0x99));
    const Bytes nameTable = testdata::StandardNameTable("Sorame Gothic Pro W3", "MAC-SERIAL-0001", "WIN-SERIAL-0001");
    const Bytes diff = DiffFor(m_installed, {{"post", Post(0x99)}, {"name", nameTable}});
    PutDiff(diff);
    const Bytes manifest = testdata::ManifestOf({{"Sorame-Gothic-Pro-W3.pa", kFont, diff, release}});
    const std::string manifestPath = std::string(kHost) + kReleaseManifestName;

    auto flipped = [](Bytes b, size_t at) {
        b[at] ^= 0x10;
        return b;
    };
    // A manifest that says another digest of one kind, or one whose text
    // was damaged there.
    const std::vector<ReleaseManifestLine> lines = testdata::LinesOf({"Sorame-Gothic-Pro-W3.pa", kFont, diff, release});
    auto otherDigest = [&](ReleaseManifestLine::Kind kind) {
        std::vector<ReleaseManifestLine> changed = lines;
        changed[kind].digest[0] ^= 1;
        return testdata::BytesOf(FormatReleaseManifest(changed));
    };
    auto damagedAt = [&](const std::string& suffix) {
        std::string text(manifest.begin(), manifest.end());
        const size_t at = text.rfind("\n", text.find("  Sorame-Gothic-Pro-W3.pa" + suffix + "\n")) + 1;
        text[at] = text[at] == '0' ? '1' : '0';
        return testdata::BytesOf(text);
    };
    auto edited = [](Bytes font, const char* tag, size_t at) {
        const std::vector<testdata::DirectoryEntry> directory = testdata::Directory(font);
        font[testdata::FindEntry(directory, tag)->offset + at] ^= 0x01;
        return testdata::WithChecksums(font);
    };
    Bytes otherSerials = m_installed;
    testdata::ForEachName(otherSerials, [&](uint16_t, uint16_t, uint16_t, uint16_t id, size_t at, size_t len) {
        if (id == 13) otherSerials[at + len - 1] ^= 0x03;
    });
    otherSerials = testdata::WithChecksums(otherSerials);

    struct Case {
        const char* what;
        Bytes font, diff, manifest;  // an empty manifest: none in the folder
        int result;
    };
    const Case cases[] = {
        {"listed", m_installed, diff, manifest, kReviseOk},
        {"no manifest", m_installed, diff, {}, kReviseOk},
        {"a manifest without a line of the file", m_installed, diff, testdata::BytesOf(FormatReleaseManifest({})),
         kReviseOk},
        {"another customer's serial strings", otherSerials, diff, manifest, kReviseOk},
        {"a bit of a record flipped", m_installed, flipped(diff, kSabunHeaderSize + 12), manifest,
         kReviseDiffNotReleased},
        {"a bit of a literal flipped", m_installed, flipped(diff, diff.size() - 3), manifest, kReviseDiffNotReleased},
        {"the manifest cut short", m_installed, diff, Bytes(manifest.begin(), manifest.end() - 4),
         kReviseDiffNotReleased},
        {"another file digest", m_installed, diff, otherDigest(ReleaseManifestLine::kFile), kReviseDiffNotReleased},
        {"another source digest", m_installed, diff, otherDigest(ReleaseManifestLine::kSource), kReviseFontNotReleased},
        {"another result digest", m_installed, diff, otherDigest(ReleaseManifestLine::kResult),
         kReviseResultNotReleased},
        {"the manifest damaged in a digest", m_installed, diff, damagedAt("#source"), kReviseDiffNotReleased},
        {"a table taken whole edited", edited(m_installed, "cmap", 5), diff, manifest, kReviseFontNotReleased},
        {"the head table edited", edited(m_installed, "head", 20), diff, manifest, kReviseFontNotReleased},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put(kFont, c.font);
        PutDiff(c.diff);
        std::filesystem::remove(sim::HostPath(manifestPath.c_str()));
        if (!c.manifest.empty()) Put(manifestPath, c.manifest);
        ASSERT_EQ(Revise(), c.result);
        if (c.result == kReviseOk) {
            Bytes mac, win;
            testdata::SerialsOf(c.font, &mac, &win);
            EXPECT_TRUE(Get(kFont) == testdata::ExpectedRevision(release, mac, win));
        } else {
            EXPECT_TRUE(Get(kFont) == c.font) << "the installed font was changed";
        }
        EXPECT_EQ(FilesIn("D:\\Fonts"), (std::vector<std::string>{"Sorame-Gothic-Pro-W3.otf"}));
        EXPECT_TRUE(FilesIn(kTemp).empty());
    }

    // What cannot be proved is not done: a folder where the manifest should
    // be, no cryptography library (Windows before Vista), a hash that fails.
    const std::vector<std::function<void()>> unprovable = {
        [&] {
            std::filesystem::remove(sim::HostPath(manifestPath.c_str()));
            MakeFolder(manifestPath);
        },
        [] { sim::SetSystemCryptography(false); },
        [] { sim::FailCall("BCryptHashData", 1, 0); },
    };
    for (const auto& breakIt : unprovable) {
        SCOPED_TRACE(&breakIt - unprovable.data());
        Put(kFont, m_installed);
        std::filesystem::remove_all(sim::HostPath(manifestPath.c_str()));
        Put(manifestPath, manifest);
        breakIt();
        EXPECT_EQ(Revise(), kReviseDiffNotReleased);
        sim::ClearFailures();
        sim::SetSystemCryptography(true);
        ExpectInstalledIntact();
        ExpectNoLeftovers();
    }
}

TEST_F(ReviseTest, ARealFontIsRevisedToItsNextRelease) {
#ifndef HAVE_PAPRODUCER
    GTEST_SKIP() << "no difference-file producer in this tree";
#else
    REQUIRE_FONT(installed, "Sorame-Gothic-Pro-W3.otf");
    REQUIRE_FONT(release, "Sorame-Gothic-Pro-W3.rev.otf");
    std::string error;
    const Bytes diff = paproducer::MakeDifference(installed, release, &error);
    ASSERT_FALSE(diff.empty()) << error;
    m_installed = installed;
    Put(kFont, installed);
    PutDiff(diff);

    ASSERT_EQ(Revise(), kReviseOk);
    ExpectNoLeftovers();
    const Bytes revised = Get(kFont);
    ASSERT_EQ(revised.size(), release.size());
    EXPECT_EQ(testdata::WordSum(revised), 0xB1B0AFBAu);

    // Every table is the release's, but for the carried-over serial strings
    // (name) and the checksums that follow from them (head).
    const uint16_t n = GetU16(revised, 4);
    for (uint16_t i = 0; i < n; ++i) {
        const size_t r = 12 + 16 * i;
        const std::string tag(revised.begin() + static_cast<long>(r), revised.begin() + static_cast<long>(r) + 4);
        if (tag == "name" || tag == "head") continue;
        const uint32_t offset = GetU32(revised, r + 8), length = GetU32(revised, r + 12);
        ASSERT_LE(uint64_t{offset} + length, release.size()) << tag;
        EXPECT_TRUE(std::equal(revised.begin() + offset, revised.begin() + offset + length, release.begin() + offset))
            << tag;
    }

    // The installed font's serial strings live on in the revised one.
    COpenTypeManager before, after;
    Put("D:\\Old\\old.otf", installed);
    ASSERT_EQ(before.LoadFont("D:\\Old\\old.otf", nullptr, nullptr, 1, 0), kReviseOk);
    ASSERT_EQ(after.LoadFont(kFont, nullptr, nullptr, 1, 0), kReviseOk);
    char macBefore[kSerialBufferSize] = {0}, winBefore[kSerialBufferSize] = {0};
    char macAfter[kSerialBufferSize] = {0}, winAfter[kSerialBufferSize] = {0};
    const CTagObject* nameBefore = before.FindTag("name");
    const CTagObject* nameAfter = after.FindTag("name");
    ASSERT_TRUE(nameBefore && nameAfter);
    before.GetSerialStrings(before.Image() + 12 + 16 * nameBefore->m_fileIndex, macBefore, winBefore);
    after.GetSerialStrings(after.Image() + 12 + 16 * nameAfter->m_fileIndex, macAfter, winAfter);
    // Each is cut to the length of the release's own record.
    const size_t macLength = std::strlen(macAfter);
    EXPECT_GT(macLength, 10u);
    EXPECT_EQ(std::strncmp(macAfter, macBefore, macLength), 0);
    size_t winLength = sizeof winAfter;
    while (winLength > 0 && winAfter[winLength - 1] == 0) --winLength;
    EXPECT_GT(winLength, 10u);
    EXPECT_EQ(std::memcmp(winAfter, winBefore, winLength), 0);
#endif
}

// Every difference file of the corpus applied to every font of it, each font
// put where the search would have listed the difference file's own font: a
// revision succeeds exactly where identification accepts the pair, and every
// other pair leaves the font as it was.
TEST_F(ReviseTest, EachDifferenceFileRevisesOnlyTheFontItNames) {
#ifndef HAVE_PAPRODUCER
    GTEST_SKIP() << "no difference-file producer in this tree";
#else
    std::vector<std::pair<std::string, Bytes>> fonts = {
        {"small", m_installed},
        {"small, next revision", testdata::SmallFont(kRev1 + 1, "Sorame Gothic Pro W3")},
        {"small, another weight", testdata::SmallFont(kRev1, "Sorame Gothic Pro W6")},
        {"small, longer serial", GothicFont(Post(0x77))},
    };
    std::vector<std::pair<std::string, Bytes>> diffs = {{"Sorame-Gothic-Pro-W3", DiffFor(m_installed)}};
    for (const char* name : {"Sorame-Gothic-Pro-W3", "Sorame-Mincho-Std-W5"}) {
        REQUIRE_FONT(installed, std::string(name) + ".otf");
        REQUIRE_FONT(release, std::string(name) + ".rev.otf");
        std::string error;
        diffs.emplace_back(name, paproducer::MakeDifference(installed, release, &error));
        ASSERT_FALSE(diffs.back().second.empty()) << error;
        fonts.emplace_back(std::string(name) + ".otf", installed);
        fonts.emplace_back(std::string(name) + ".rev.otf", release);
    }
    for (const char* name : {"Sorame-Maru-Std-W8.otf", "Sorame-Gothic-Full-W3.otf"}) {
        REQUIRE_FONT(other, name);
        fonts.emplace_back(name, other);
    }

    int revised = 0, refused = 0;
    for (const auto& [row, diff] : diffs) {
        const std::string path = "D:\\Fonts\\" + row + ".otf";
        std::filesystem::remove_all(sim::HostPath(kHost));
        MakeFolder(kHost);
        Put(std::string(kHost) + row + ".pa", diff);
        ReleaseFolderCheckCtrl();
        const DiffFileRecord* record = GetFolderCheckCtrl()->FindDiffFile(path.c_str(), 0);
        ASSERT_NE(record, nullptr) << row;
        for (const auto& [what, font] : fonts) {
            SCOPED_TRACE(row + ".pa on " + what);
            std::filesystem::remove_all(sim::HostPath("D:\\Fonts"));
            Put(path, font);
            int revision = 0;
            const int target = COpenTypeManager().IsTargetFont(path.c_str(), record, &revision);
            const int result = COpenTypeManager().ReviseFont(path.c_str(), revision, nullptr, nullptr, 1, 0);
            if (result == kReviseOk) {
                EXPECT_EQ(target, 1) << "revised by a difference file that identification refuses";
                ++revised;
            } else {
                // A pair identification accepts can still not fit (two fonts of
                // one name and revision): refused all the same.
                EXPECT_TRUE(result == kReviseLoadFailed || result == kReviseDiffUnreadable ||
                            result == kReviseNoNameTable || result == kReviseChecksum)
                    << result;
                EXPECT_TRUE(Get(path) == font) << "a font was changed by a difference file that failed";
                refused += target ? 0 : 1;
            }
            EXPECT_EQ(FilesIn("D:\\Fonts").size(), 1u);
        }
    }
    EXPECT_GE(revised, 4);  // each real font by its own file, the small one by its own and by a serial variant
    EXPECT_GT(refused, 20);
#endif
}
