#include <memory>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/otbase.h"
#include "engine/otmodel.h"
#include "platform/framework/cstring.h"
#include "platform/framework/path.h"

TEST(CStringTest, FormatsPrintfStyleAndGrowsPastAnyFixedBuffer) {
    CString s;
    s.Format("%d%%", 7);
    EXPECT_STREQ(s, "7%");
    std::string longPath(3000, 'x');
    s.Format("[%s]", longPath.c_str());
    EXPECT_EQ(s.GetLength(), 3002);
    s.Format("%sの改訂をしています。", "C:\\a.otf");
    // The literal is compiled to code page 932: 0x82 0xCC is "の".
    EXPECT_EQ(static_cast<unsigned char>(s.GetAt(8)), 0x82);
    EXPECT_EQ(static_cast<unsigned char>(s.GetAt(9)), 0xCC);
}

struct SplitCase {
    const char* path;
    const char* drive;
    const char* dir;
    const char* fname;
    const char* ext;
};

TEST(SplitPathTest, SplitsLikeTheRuntimeLibrary) {
    const SplitCase cases[] = {
        {"C:\\Windows\\Fonts\\Sorame-Gothic-W3.otf", "C:", "\\Windows\\Fonts\\", "Sorame-Gothic-W3", ".otf"},
        {"C:\\Fonts\\a.b.otf", "C:", "\\Fonts\\", "a.b", ".otf"},
        {"C:\\Fonts\\noext", "C:", "\\Fonts\\", "noext", ""},
        {"C:\\dir.x\\file", "C:", "\\dir.x\\", "file", ""},
        {"file.pa", "", "", "file", ".pa"},
        {"D:\\host\\", "D:", "\\host\\", "", ""},
        {"", "", "", "", ""},
    };
    for (const SplitCase& c : cases) {
        CString drive, dir, fname, ext;
        SplitPath(c.path, &drive, &dir, &fname, &ext);
        EXPECT_STREQ(drive, c.drive) << c.path;
        EXPECT_STREQ(dir, c.dir) << c.path;
        EXPECT_STREQ(fname, c.fname) << c.path;
        EXPECT_STREQ(ext, c.ext) << c.path;
    }
}

TEST(SplitPathTest, ABackslashTrailByteIsPartOfItsCharacter) {
    // "ソ" is 0x83 0x5C in code page 932: its second byte is a backslash.
    const char path[] = "C:\\\x83\x5C\x83\x74\x83\x67\\\x83\x5C.otf";
    CString drive, dir, fname, ext;
    SplitPath(path, &drive, &dir, &fname, &ext);
    EXPECT_STREQ(dir, "\\\x83\x5C\x83\x74\x83\x67\\");
    EXPECT_STREQ(fname, "\x83\x5C");
    EXPECT_STREQ(ext, ".otf");
    EXPECT_STREQ(PathFileName(path), "\x83\x5C.otf");
}

TEST(SplitPathTest, LongPathsAreNotCut) {
    std::string path = "C:\\" + std::string(900, 'd') + "\\" + std::string(300, 'n') + ".otf";
    CString fname;
    SplitPath(path.c_str(), nullptr, nullptr, &fname, nullptr);
    EXPECT_EQ(fname.GetLength(), 300);
}

namespace {

std::vector<CTagObject*> MakeTags(const std::vector<uint32_t>& offsets) {
    std::vector<CTagObject*> tags;
    for (uint32_t o : offsets) {
        auto* t = new CTagObject;
        t->m_offset = o;
        tags.push_back(t);
    }
    return tags;
}

std::vector<uint32_t> SortedOffsets(const std::vector<uint32_t>& offsets) {
    auto tags = MakeTags(offsets);
    CSortArray array;
    for (CTagObject* t : tags) array.Add(t);
    array.Sort(CompareTagOffsets);
    std::vector<uint32_t> out;
    for (INT_PTR i = 0; i < array.GetSize(); ++i) out.push_back(static_cast<CTagObject*>(array.GetAt(i))->m_offset);
    for (CTagObject* t : tags) delete t;
    return out;
}

}  // namespace

TEST(CSortArrayTest, OrdersTablesByOffsetForEveryShapeOfInput) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint32_t> offsets(rng() % 40);
        for (auto& o : offsets) o = rng() % 1000;  // duplicates included
        auto expected = offsets;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(SortedOffsets(offsets), expected);
    }
    // Offsets compared unsigned: a huge offset sorts last.
    EXPECT_EQ(SortedOffsets({0x80000000u, 5, 0xFFFFFFF0u, 1}),
              (std::vector<uint32_t>{1, 5, 0x80000000u, 0xFFFFFFF0u}));
}

TEST(CSortArrayTest, AReversedDirectorySortsWithoutDeepRecursion) {
    std::vector<uint32_t> offsets;
    for (uint32_t i = 0; i < 8000; ++i) offsets.push_back(8000 - i);
    auto sorted = SortedOffsets(offsets);
    EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end()));
}

TEST(CSortArrayTest, EqualOffsetsKeepBothTables) {
    auto tags = MakeTags({40, 12, 40});
    CSortArray array;
    for (CTagObject* t : tags) array.Add(t);
    array.Sort(CompareTagOffsets);
    ASSERT_EQ(array.GetSize(), 3);
    EXPECT_EQ(array.GetAt(0), tags[1]);
    EXPECT_TRUE((array.GetAt(1) == tags[0] && array.GetAt(2) == tags[2]) ||
                (array.GetAt(1) == tags[2] && array.GetAt(2) == tags[0]));
    for (CTagObject* t : tags) delete t;
}

TEST(NumericFunctionsTest, MatchTheOpenTypeDefinitions) {
    EXPECT_EQ(RoundUp4(0), 0u);
    EXPECT_EQ(RoundUp4(1), 4u);
    EXPECT_EQ(RoundUp4(4), 4u);
    EXPECT_EQ(RoundUp4(5), 8u);
    const unsigned char abcde[8] = {'a', 'b', 'c', 'd', 'e', 0, 0, 0};
    EXPECT_EQ(CalcCheckSum(abcde, 5), 0xC6626364u);
    EXPECT_EQ(CalcCheckSum(abcde, 0), 0u);
    // The tail counts as zero-padded whatever follows it, and nothing past
    // the length is read (a buffer of exactly five bytes, under the sanitizer).
    const unsigned char abcdeFollowed[8] = {'a', 'b', 'c', 'd', 'e', 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(CalcCheckSum(abcdeFollowed, 5), 0xC6626364u);
    std::unique_ptr<unsigned char[]> exact(new unsigned char[5]);
    std::copy(abcde, abcde + 5, exact.get());
    EXPECT_EQ(CalcCheckSum(exact.get(), 5), 0xC6626364u);
    const unsigned char be[4] = {0x00, 0x01, 0x00, 0x00};
    uint32_t v = 0;
    SwapCopy(&v, be, 4);
    EXPECT_EQ(v, 0x00010000u);
    // Sums wrap modulo 2^32.
    const unsigned char ff[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x02};
    EXPECT_EQ(CalcCheckSum(ff, 8), 1u);
}

TEST(InImageTest, NeverWrapsAround) {
    EXPECT_TRUE(InImage(100, 0, 100));
    EXPECT_TRUE(InImage(100, 100, 0));
    EXPECT_FALSE(InImage(100, 101, 0));
    EXPECT_FALSE(InImage(100, 96, 5));
    EXPECT_FALSE(InImage(100, 0xFFFFFFFFu, 2));
    EXPECT_FALSE(InImage(100, 8, 0xFFFFFFFCu));
}
