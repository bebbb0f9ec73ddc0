// The copies of a font with longer and shorter serial strings that patool
// check also builds from, as customers' copies differ from the maker's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/fontview.h"
#include "tests/support/builders.h"
#include "tools/patool/internal.h"

using patool::internal::WithOtherSerials;
using testdata::Bytes;

namespace {

struct Names {
    std::vector<std::string> strings;
    std::vector<uint16_t> offsets;
};

Names NamesOf(const Bytes& font) {
    const TableEntry name = DirectoryView(font.data(), font.size()).Find("name");
    Names names;
    if (!name.data) return names;
    for (const NameEntry& e : NameTableView(name.data, name.record.length)) {
        names.strings.emplace_back(e.string ? reinterpret_cast<const char*>(e.string) : "", e.string ? e.record.length : 0);
        names.offsets.push_back(e.record.offset);
    }
    return names;
}

std::string Utf16(const std::string& ascii) {
    std::string s;
    for (char c : ascii) s += std::string(1, '\0') + c;
    return s;
}

// Records 3 and 5 are serial strings; record 4, the font's name, has ID 13
// too and is no serial string; record 6 shares record 0's string.
Bytes FontWithSerials() {
    testdata::NameTable names;
    names.Mac(1, "Family").Mac(2, "W3").Mac(3, "Unique").Mac(13, "MAC-SERIAL").Mac(13, "Sorame Full");
    names.Win(13, "WIN-SERIAL").Mac(16, "Family").ShareWith(0);
    return testdata::FontBuilder()
        .Table("CFF ", Bytes(40, 0x11))
        .Table("head", testdata::HeadTable(0x00010000))
        .Table("name", names.Build())
        .Build();
}

TEST(PatoolSerialsTest, CopiesChangeOnlyTheSerialStringsAndStayWholeFonts) {
    const Bytes font = FontWithSerials();
    const Names before = NamesOf(font);
    ASSERT_EQ(before.strings.size(), 7u);
    struct Case {
        int units;
        std::string mac, win;
    } cases[] = {{+3, "MAC-SERIAL777", Utf16("WIN-SERIAL777")}, {-4, "MAC-SE", Utf16("WIN-SE")}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.units);
        Bytes copy;
        ASSERT_TRUE(WithOtherSerials(font, c.units, &copy));
        const Names after = NamesOf(copy);
        ASSERT_EQ(after.strings.size(), 7u);
        EXPECT_EQ(after.strings[3], c.mac);
        EXPECT_EQ(after.strings[5], c.win);
        for (size_t i : {0, 1, 2, 4, 6}) EXPECT_EQ(after.strings[i], before.strings[i]) << "record " << i;
        EXPECT_EQ(after.offsets[6], after.offsets[0]);

        const DirectoryView dir(copy.data(), copy.size());
        const TableEntry cff = dir.Find("CFF "), name = dir.Find("name");
        ASSERT_TRUE(cff.data && name.data);
        EXPECT_EQ(Bytes(cff.data, cff.data + cff.record.length), Bytes(40, 0x11));
        EXPECT_EQ(name.record.checkSum, testdata::Checksum(name.data, name.record.length));
        EXPECT_EQ(copy.size() % 4, 0u);
        EXPECT_EQ(testdata::WordSum(copy), 0xB1B0AFBAu);
    }
}

TEST(PatoolSerialsTest, NoCopyOfAFontWithoutSerialStringsOrOneThatDoesNotHoldTogether) {
    Bytes copy;
    testdata::NameTable plain;
    plain.Mac(1, "Family").Mac(2, "W3").Mac(3, "Unique").Mac(5, "1.0").Mac(4, "Sorame Full");
    const Bytes noSerial =
        testdata::FontBuilder().Table("head", testdata::HeadTable(0x00010000)).Table("name", plain.Build()).Build();
    EXPECT_FALSE(WithOtherSerials(noSerial, +3, &copy));

    testdata::NameTable outside;
    outside.Mac(4, "Sorame Full").Mac(13, "MAC-SERIAL").SetLastOffset(0xFF00);
    const Bytes stringOutside =
        testdata::FontBuilder().Table("head", testdata::HeadTable(0x00010000)).Table("name", outside.Build()).Build();
    EXPECT_FALSE(WithOtherSerials(stringOutside, +3, &copy));

    const Bytes directoryCut = testdata::FontBuilder()
                                   .Table("head", testdata::HeadTable(0x00010000))
                                   .Table("name", testdata::StandardNameTable("Sorame", "M", "W"))
                                   .NumTables(400)
                                   .Build();
    EXPECT_FALSE(WithOtherSerials(directoryCut, +3, &copy));

    Bytes tableOutside = FontWithSerials();
    testdata::PutU32(tableOutside, 12 + 16 * 2 + 12, 0x7FFFFFFF);  // the name table's length
    EXPECT_FALSE(WithOtherSerials(tableOutside, +3, &copy));
}

}  // namespace
