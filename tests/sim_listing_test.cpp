// Listings, paths and copies of the simulated machine on their quick paths:
// names that need no conversion, paths that exist as written, copies made in
// the kernel.  The answers must be those of the slow paths.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/framework/cfile.h"
#include "tests/support/sim_fixture.h"

using testdata::Bytes;

namespace {

class SimListingTest : public testdata::SimMachineTest {
protected:
    std::vector<WIN32_FIND_DATAA> List(const char* pattern) {
        std::vector<WIN32_FIND_DATAA> entries;
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA(pattern, &fd);
        if (h == INVALID_HANDLE_VALUE) return entries;
        do entries.push_back(fd);
        while (FindNextFileA(h, &fd));
        FindClose(h);
        return entries;
    }
};

}  // namespace

TEST_F(SimListingTest, EntriesCarryTheirOwnAttributesAndSizesInNameOrder) {
    MakeFolder("C:\\F\\zeta");
    Put("C:\\F\\b.dat", Bytes(70000, 1));
    Put("C:\\F\\A_.otf", Bytes(5, 1));  // '_' sorts after "b" upper-cased, before "b" as it is
    Put("C:\\F\\Ab.otf", Bytes(6, 1));
    Put("C:\\F\\locked.otf", Bytes(7, 1));
    ::chmod((m_root + "/C/F/locked.otf").c_str(), 0444);
    // Japanese names among ASCII ones, converted one after another.
    std::ofstream(m_root + "/C/F/" + u8"ソ.otf") << "abc";
    std::ofstream(m_root + "/C/F/" + u8"フォント") << "abcd";
    // A link to nothing is no entry.
    ASSERT_EQ(::symlink((m_root + "/C/F/missing").c_str(), (m_root + "/C/F/dangling").c_str()), 0);

    const auto entries = List("C:\\F\\*");
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.cFileName);
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "Ab.otf", "A_.otf", "b.dat", "locked.otf", "zeta",
                                               // byte by byte, upper-cased: "t" (0x74) as "T" (0x54)
                                               "\x83\x74\x83\x48\x83\x93\x83\x67", "\x83\x5C.otf"}));
    ASSERT_EQ(entries.size(), 9u);
    EXPECT_EQ(entries[2].nFileSizeLow, 6u);
    EXPECT_EQ(entries[3].nFileSizeLow, 5u);
    EXPECT_EQ(entries[4].nFileSizeLow, 70000u);
    EXPECT_EQ(entries[4].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(entries[5].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(entries[6].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(entries[6].nFileSizeLow, 0u);
    EXPECT_EQ(entries[7].nFileSizeLow, 4u);
    EXPECT_EQ(entries[8].nFileSizeLow, 3u);
    EXPECT_NE(entries[2].ftLastWriteTime.dwHighDateTime, 0u);
    // "." and ".." are the folder itself.
    EXPECT_EQ(entries[0].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(entries[1].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    // A mask still selects, in any case.
    EXPECT_EQ(List("C:\\F\\*.OTF").size(), 4u);

    // Listings that give only what the folder read gives: the same entries in
    // the same order and kinds, sizes and the read-only bit left out.
    sim::SetListingDetail(sim::kListTypeOnly);
    const auto brief = List("C:\\F\\*");
    ASSERT_EQ(brief.size(), entries.size());
    for (size_t i = 0; i < brief.size(); ++i) {
        EXPECT_STREQ(brief[i].cFileName, entries[i].cFileName);
        EXPECT_EQ(brief[i].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY,
                  entries[i].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) << brief[i].cFileName;
        EXPECT_EQ(brief[i].nFileSizeLow, 0u);
    }
    EXPECT_EQ(brief[5].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
}

TEST_F(SimListingTest, PathsResolveAlikeWithAndWithoutTheirExactCase) {
    Put("C:\\Data\\Sub\\File.bin", Bytes(3, 9));
    CFile f;
    // As written; in another case; through "." and ".."; ".." never above the root.
    for (const char* path : {"C:\\Data\\Sub\\File.bin", "C:\\DATA\\sub\\FILE.BIN", "C:\\Data\\.\\Other\\..\\Sub\\File.bin",
                             "C:\\..\\..\\data\\Nowhere\\..\\SUB\\file.bin"}) {
        ASSERT_TRUE(f.Open(path, CFile::modeRead)) << path;
        EXPECT_EQ(f.GetLength(), 3u) << path;
        f.Close();
    }
    EXPECT_EQ(sim::HostPath("C:\\DATA\\sub\\FILE.BIN"), m_root + "/C/Data/Sub/File.bin");
    // A name the code page cannot carry is refused, not cut short.
    EXPECT_FALSE(f.Open("C:\\Data\\\x85\x30", CFile::modeRead));
}

TEST_F(SimListingTest, ACopyIsWholeAndAFailedOneLeavesNothing) {
    Bytes big(3 * 1024 * 1024 + 17);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 131 + (i >> 12));
    Put("C:\\Temp\\font.tmp", big);
    MakeFolder("C:\\Fonts");
    ASSERT_TRUE(CopyFileA("C:\\Temp\\font.tmp", "C:\\Fonts\\font.new", TRUE));
    EXPECT_EQ(Get("C:\\Fonts\\font.new"), big);
    // Over an existing file only when asked, and then whole again.
    Put("C:\\Fonts\\old.otf", Bytes(10 * 1024 * 1024, 7));
    EXPECT_FALSE(CopyFileA("C:\\Temp\\font.tmp", "C:\\Fonts\\old.otf", TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    ASSERT_TRUE(CopyFileA("C:\\Temp\\font.tmp", "C:\\Fonts\\old.otf", FALSE));
    EXPECT_EQ(Get("C:\\Fonts\\old.otf"), big);
    // An empty file copies as an empty file.
    Put("C:\\Temp\\empty", Bytes());
    ASSERT_TRUE(CopyFileA("C:\\Temp\\empty", "C:\\Fonts\\empty", TRUE));
    EXPECT_TRUE(Exists("C:\\Fonts\\empty"));
    EXPECT_EQ(Get("C:\\Fonts\\empty"), Bytes());
}
