// The target font catalogue: the forms and relations its consumers rely on.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>

#include "discovery/catalogue.h"

namespace {

template <int Rows>
void ExpectZeroAfterTerminator(const char (&table)[Rows][kCatalogueRowSize], const char* what) {
    for (int i = 0; i < Rows; ++i) {
        const size_t length = strnlen(table[i], kCatalogueRowSize);
        ASSERT_LT(length, static_cast<size_t>(kCatalogueRowSize)) << what << " row " << i;
        for (size_t k = length; k < static_cast<size_t>(kCatalogueRowSize); ++k) {
            ASSERT_EQ(table[i][k], 0) << what << " row " << i << " byte " << k;
        }
    }
}

std::string Base(const char* fileName) {
    const char* dot = std::strrchr(fileName, '.');
    return std::string(fileName, dot ? static_cast<size_t>(dot - fileName) : std::strlen(fileName));
}

}  // namespace

TEST(CatalogueTest, TablesHaveTheirRowCountsAndWidths) {
    EXPECT_EQ(sizeof g_productCodes, 44u * 260u);
    EXPECT_EQ(sizeof g_noticeLines, 23u * 260u);
    EXPECT_EQ(sizeof g_fontFileNames, 44u * 260u);
    EXPECT_EQ(sizeof g_diffFileNames, 44u * 260u);
    ExpectZeroAfterTerminator(g_productCodes, "product codes");
    ExpectZeroAfterTerminator(g_noticeLines, "notice");
    ExpectZeroAfterTerminator(g_fontFileNames, "font files");
    ExpectZeroAfterTerminator(g_diffFileNames, "difference files");
}

TEST(CatalogueTest, ProductCodesAreDistinctFiveDigitNumbers) {
    std::set<std::string> codes;
    for (const auto& row : g_productCodes) {
        ASSERT_EQ(std::strlen(row), 5u) << row;
        for (int k = 0; k < 5; ++k) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(row[k]))) << row;
        codes.insert(row);
    }
    EXPECT_EQ(codes.size(), 44u);
}

TEST(CatalogueTest, FontFileNamesHaveTheSearchedForm) {
    std::set<std::string> names;
    for (const auto& row : g_fontFileNames) {
        const std::string name = row;
        EXPECT_GE(name.size(), 16u) << name;
        EXPECT_LE(name.size(), 29u) << name;
        ASSERT_GT(name.size(), 4u);
        EXPECT_EQ(name.substr(name.size() - 4), ".otf") << name;
        for (char c : Base(row)) {
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '-') << name;
        }
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 44u);
    // The fonts the tests and the release data revise.
    for (const char* known : {"Sorame-Gothic-Pro-W3.otf", "Sorame-Mincho-Std-W5.otf", "Sorame-Maru-Std-W8.otf",
                              "Sorame-Gothic-Full-W3.otf"}) {
        EXPECT_EQ(names.count(known), 1u) << known;
    }
}

TEST(CatalogueTest, NoBaseNameBeginsAnother) {
    // The search takes the first row whose base name begins a file's base
    // name; a prefix would hand one row's files to another.
    for (int i = 0; i < kCatalogueFontCount; ++i) {
        for (int j = 0; j < kCatalogueFontCount; ++j) {
            if (i == j) continue;
            const std::string a = Base(g_fontFileNames[i]);
            const std::string b = Base(g_fontFileNames[j]);
            EXPECT_NE(b.compare(0, a.size(), a), 0) << a << " begins " << b;
        }
    }
}

TEST(CatalogueTest, DifferenceFileNamesFollowTheirFontRow) {
    for (int i = 0; i < kCatalogueFontCount; ++i) {
        EXPECT_EQ(std::string(g_diffFileNames[i]), Base(g_fontFileNames[i]) + ".pa") << i;
    }
}

TEST(CatalogueTest, NoticeHasAHeadingAndOneLinePerFamilyForEveryFont) {
    std::string notice;
    for (const auto& row : g_noticeLines) notice += row;

    const std::string heading = "コルヴァンフォント製品をご利用のお客様は、下記44フォントが改訂対象です。\n\n";
    EXPECT_EQ(std::string(g_noticeLines[0]), heading);
    EXPECT_EQ(notice.compare(0, heading.size(), heading), 0);
    EXPECT_STREQ(g_noticeLines[22], "");
    ASSERT_FALSE(notice.empty());
    EXPECT_EQ(notice.back(), '\n');
    EXPECT_EQ(notice.find('\r'), std::string::npos);

    // Each family line: two ideographic spaces and a middle dot in code page
    // 932, the family and its weights, one line feed.  Together the weights
    // name every font of the catalogue.
    const std::string lead = "\x81\x40\x81\x40\x81\x45";
    int weights = 0;
    for (int i = 1; i <= 21; ++i) {
        const std::string line = g_noticeLines[i];
        EXPECT_EQ(line.compare(0, lead.size(), lead), 0) << i;
        ASSERT_GT(line.size(), lead.size() + 1) << i;
        EXPECT_EQ(line.find('\n'), line.size() - 1) << i;
        for (size_t k = 0; k + 1 < line.size(); ++k) {
            if (line[k] == 'W' && std::isdigit(static_cast<unsigned char>(line[k + 1]))) ++weights;
        }
    }
    EXPECT_EQ(weights, kCatalogueFontCount);
    // The heading's number is the number of font rows.
    EXPECT_NE(heading.find(std::to_string(kCatalogueFontCount)), std::string::npos);
}
