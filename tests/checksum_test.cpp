// The serial strings, the checksums of a revised image, and the check of
// the file read back.
#include <string>
#include <vector>

#include "engine/checksum.h"
#include "engine/manager.h"
#include "platform/framework/cfile.h"
#include "tests/support/revision.h"

using testdata::Bytes;
using testdata::FontBuilder;
using testdata::HeadTable;
using testdata::NameTable;
using testdata::ProgressRecorder;

namespace {

const char* const kPath = "C:\\Windows\\Fonts\\Sorame-Gothic-W3.otf";

// An image as the builder leaves it, to be finished by the steps under test
// with the serial strings the driver took.
struct Revised {
    explicit Revised(const Bytes& bytes) : image(bytes) {}
    void SetSerials(const std::string& macSerial, const std::string& winSerial) {
        std::fill(mac, mac + sizeof mac, 0);
        std::fill(win, win + sizeof win, 0);
        std::copy(macSerial.begin(), macSerial.end(), mac);
        std::copy(winSerial.begin(), winSerial.end(), win);
    }
    int PutSerials(uint32_t numTables, ProgressRecorder* rec = nullptr, int fontCount = 1, int fontIndex = 0) {
        return PutSerialRecord(image.data(), static_cast<uint32_t>(image.size()), numTables, mac, win,
                               Progress(rec, fontCount, fontIndex));
    }
    int PutSums(uint32_t numTables, ProgressRecorder* rec = nullptr, int fontCount = 1, int fontIndex = 0) {
        return PutCheckSums(image.data(), static_cast<uint32_t>(image.size()), numTables,
                            Progress(rec, fontCount, fontIndex));
    }
    static FontProgress Progress(ProgressRecorder* rec, int fontCount, int fontIndex) {
        return FontProgress{rec ? ProgressRecorder::Callback : nullptr, rec, fontCount, fontIndex, kPath};
    }

    Bytes image;
    char mac[kSerialBufferSize] = {};
    char win[kSerialBufferSize] = {};
};

std::vector<std::string> LicenseStrings(const Bytes& font) {
    std::vector<std::string> s;
    testdata::ForEachName(font, [&](uint16_t, uint16_t, uint16_t, uint16_t id, size_t at, size_t len) {
        if (id == 13) s.push_back(std::string(font.begin() + at, font.begin() + at + len));
    });
    return s;
}

uint32_t DirectoryChecksum(const Bytes& font, const std::string& tag) {
    return testdata::FindEntry(testdata::Directory(font), tag)->checkSum;
}

uint32_t TableChecksum(const Bytes& font, const std::string& tag) {
    const auto d = testdata::Directory(font);
    const testdata::DirectoryEntry* e = testdata::FindEntry(d, tag);
    return testdata::Checksum(font.data() + e->offset, e->length);
}

class ChecksumTest : public testdata::SimMachineTest {};

}  // namespace

TEST_F(ChecksumTest, EveryLicenseStringGetsTheSerialOfItsPlatformCutOrPaddedToItsOwnLength) {
    const std::string winSerial("\0W\0I\0N\0-\0S\0N", 12);
    NameTable name;
    name.Mac(4, "Sorame Gothic W3")
        .Mac(13, "abc")                          // shorter than the serial
        .Win(13, "0123456789")                   // longer: zero-padded
        .Win(13, "xx", 0x411)                    // Japanese: the Windows string too
        .Add(0, 3, 0, 13, Bytes(6, '?'))         // Unicode platform
        .Add(2, 0, 0, 13, Bytes(4, '?'))         // any other platform
        .Add(1, 0, 0, 13, Bytes(300, '?'))       // longer than the 255 bytes held
        .Win(14, "untouched");
    const Bytes image = FontBuilder().Table("head", HeadTable(0x10000)).Table("name", name.Build()).Build();
    Revised m(image);
    m.SetSerials(std::string(255, 'M'), winSerial);
    ProgressRecorder rec;
    ASSERT_EQ(m.PutSerials(2, &rec, 1, 0), 0);
    EXPECT_EQ(rec.Steps(), (std::vector<int>{65}));

    const Bytes out = m.image;
    const std::vector<std::string> s = LicenseStrings(out);
    ASSERT_EQ(s.size(), 6u);
    EXPECT_EQ(s[0], "MMM");
    EXPECT_EQ(s[1], winSerial + std::string(8, '\0'));
    EXPECT_EQ(s[2], std::string("\0W\0I", 4));
    EXPECT_EQ(s[3], winSerial.substr(0, 6));
    EXPECT_EQ(s[4], winSerial.substr(0, 4));
    EXPECT_EQ(s[5], std::string(255, 'M') + std::string(45, '\0'));
    EXPECT_EQ(DirectoryChecksum(out, "name"), TableChecksum(out, "name"));

    // Nothing but those strings and the name checksum changed.
    Bytes expected = testdata::ExpectedRevision(image, Bytes(255, 'M'), testdata::BytesOf(winSerial));
    testdata::PutU32(expected, 12 + 4, DirectoryChecksum(image, "head"));  // head: not this step's work
    const uint32_t headAt = testdata::FindEntry(testdata::Directory(image), "head")->offset;
    testdata::PutU32(expected, headAt + 8, testdata::GetU32(image, headAt + 8));
    EXPECT_EQ(out, expected);
}

TEST_F(ChecksumTest, RecordsAndStringsOutsideTheNameTableAreLeftAlone) {
    NameTable name;
    name.Mac(13, "good")
        .Mac(13, "far").SetLastOffset(0xFFF0)      // string past the table
        .Mac(13, "long").SetLastLength(0x8000)     // string running past the table
        .Count(40);                                // records past the table
    Bytes table = name.Build();
    const Bytes image = FontBuilder().Table("name", table).Table("head", HeadTable(0x10000)).Build();
    Revised m(image);
    m.SetSerials("SERIAL", "");
    ASSERT_EQ(m.PutSerials(2), 0);
    const Bytes out = m.image;
    const uint32_t at = testdata::FindEntry(testdata::Directory(out), "name")->offset;
    EXPECT_EQ(std::string(out.begin() + at + 42, out.begin() + at + 53), "SERIfarlong");
    EXPECT_EQ(DirectoryChecksum(out, "name"), TableChecksum(out, "name"));

    // A name table whose stated length runs past the image: nothing written.
    const Bytes cut = FontBuilder().Table("head", HeadTable(0x10000)).Table("name", table).SetLength(1, 0x10000).Build();
    Revised n(cut);
    n.SetSerials("SERIAL", "");
    EXPECT_EQ(n.PutSerials(2), 0);
    EXPECT_EQ(n.image, cut);

    // More directory slots claimed than the image holds.
    Revised o(Bytes(image.begin(), image.begin() + 20));
    EXPECT_EQ(o.PutSerials(200), 10);
}

TEST_F(ChecksumTest, WithoutANameTableOrOnAStopNothingIsWritten) {
    const Bytes noName = FontBuilder().Table("head", HeadTable(0x10000)).Table("post", Bytes(32, 1)).Build();
    Revised m(noName);
    ProgressRecorder rec;
    EXPECT_EQ(m.PutSerials(2, &rec, 1, 0), 10);
    EXPECT_TRUE(rec.reports.empty());
    EXPECT_EQ(m.image, noName);
    EXPECT_EQ(m.PutSerials(0, &rec, 1, 0), 10);

    // The name record is looked for among the installed font's table count only.
    const Bytes nameLast = FontBuilder().Table("head", HeadTable(0x10000)).Table("name", NameTable().Mac(13, "x").Build()).Build();
    m.image = nameLast;
    EXPECT_EQ(m.PutSerials(1), 10);

    m.SetSerials("SERIAL", "");
    rec.stopAtStep = 65;
    EXPECT_EQ(m.PutSerials(2, &rec, 1, 0), 8);
    EXPECT_EQ(m.image, nameLast);
}

TEST_F(ChecksumTest, TheHeadChecksumAndAdjustmentMakeTheFileSumRight) {
    // head in the fourth slot; a second head record later is ignored.
    const Bytes image = FontBuilder()
                            .Table("CFF ", Bytes(21, 3))
                            .Table("OS/2", Bytes(96, 4))
                            .Table("cmap", Bytes(10, 5))
                            .Table("head", HeadTable(0x10000, 0x12345678))
                            .Table("head", HeadTable(0x20000, 0x9ABCDEF0))
                            .FixChecksums(false)
                            .Build();
    Revised m(image);
    ProgressRecorder rec;
    ASSERT_EQ(m.PutSums(5, &rec, 2, 1), 0);
    ASSERT_EQ(rec.Steps(), (std::vector<int>{75}));
    EXPECT_EQ(rec.reports[0].overall, 87);

    const Bytes out = m.image;
    EXPECT_EQ(testdata::WordSum(out), 0xB1B0AFBAu);
    const auto d = testdata::Directory(out);
    // The first head's checksum is taken with its adjustment at zero.
    Bytes head(out.begin() + d[3].offset, out.begin() + d[3].offset + 54);
    testdata::PutU32(head, 8, 0);
    EXPECT_EQ(d[3].checkSum, testdata::Checksum(head.data(), head.size()));
    EXPECT_EQ(testdata::GetU32(out, d[4].offset + 8), 0x9ABCDEF0u);
    EXPECT_EQ(d[4].checkSum, testdata::GetU32(image, 12 + 16 * 4 + 4));
}

TEST_F(ChecksumTest, WithoutAWholeHeadTableTheResultIsTwelveUnlessAStopCame) {
    const Bytes head = HeadTable(0x10000, 0x12345678);
    struct Case {
        const char* what;
        Bytes image;
    };
    const Case cases[] = {
        {"no head", FontBuilder().Table("name", Bytes(20, 1)).FixChecksums(false).Build()},
        {"head of 53 bytes", FontBuilder().Table("head", Bytes(head.begin(), head.end() - 1)).FixChecksums(false).Build()},
        {"head of 8 bytes", FontBuilder().Table("head", Bytes(head.begin(), head.begin() + 8)).FixChecksums(false).Build()},
        {"head past the image", FontBuilder().Table("head", head).SetLength(0, 0x7FFFFFF0).FixChecksums(false).Build()},
        {"head far past the image", FontBuilder().Table("head", head).SetOffset(0, 0xFFFFFFF8).FixChecksums(false).Build()},
    };
    for (const Case& c : cases) {
        for (int stopAt : {-1, 75}) {
            Revised m(c.image);
            ProgressRecorder rec;
            rec.stopAtStep = stopAt;
            EXPECT_EQ(m.PutSums(1, &rec, 1, 0),
                      stopAt == 75 ? 8 : 12)
                << c.what;
            EXPECT_EQ(rec.Steps(), (std::vector<int>{75})) << c.what;
            EXPECT_EQ(m.image, c.image) << c.what;
        }
    }
}

TEST_F(ChecksumTest, AStopAtSeventyFiveLeavesTheAdjustmentUnwritten) {
    const Bytes image = FontBuilder().Table("head", HeadTable(0x10000, 0x12345678)).FixChecksums(false).Build();
    Revised m(image);
    ProgressRecorder rec;
    rec.stopAtStep = 75;
    EXPECT_EQ(m.PutSums(1, &rec, 1, 0), 8);
    EXPECT_NE(testdata::GetU32(m.image, 12 + 16 + 8), 0x12345678u);
    EXPECT_NE(testdata::WordSum(m.image), 0xB1B0AFBAu);
}

TEST_F(ChecksumTest, AnImageWithTrailingBytesIsSummedAsIfPaddedWithZeros) {
    Bytes image = FontBuilder().Table("head", HeadTable(0x10000)).Build();
    image.push_back(0xAB);
    image.push_back(0xCD);
    Revised m(image);
    ASSERT_EQ(m.PutSums(1), 0);
    Bytes padded = m.image;
    padded.resize(padded.size() + 2, 0);
    EXPECT_EQ(testdata::WordSum(padded), 0xB1B0AFBAu);
}

TEST_F(ChecksumTest, VerificationComparesTheWordSumOfTheFileReadBack) {
    const Bytes font = testdata::SmallFont(0x10000, "Sorame Gothic W3");
    const uint32_t sum = testdata::WordSum(font);
    Put(kPath, font);
    COpenTypeManager m;
    EXPECT_EQ(m.VerifyRevisedFile(kPath, sum), 0);
    EXPECT_EQ(sum, 0xB1B0AFBAu);

    Bytes changed = font;
    changed[100] ^= 1;
    Put(kPath, changed);
    EXPECT_EQ(m.VerifyRevisedFile(kPath, sum), 12);

    // Trailing bytes take no part, on either side.
    Bytes longer = font;
    longer.push_back(0xFF);
    longer.push_back(0xFF);
    longer.push_back(0xFF);
    Put(kPath, longer);
    EXPECT_EQ(m.VerifyRevisedFile(kPath, sum), 0);

    EXPECT_EQ(m.VerifyRevisedFile("C:\\Windows\\Fonts\\missing.otf", sum), 11);
    Put(kPath, Bytes());
    EXPECT_EQ(m.VerifyRevisedFile(kPath, 0), 11);

    Put(kPath, font);
    sim::FailCall("ReadFile");
    EXPECT_EQ(m.VerifyRevisedFile(kPath, sum), 11);
    sim::ClearFailures();

    // Another program writing to the file keeps it from being read back.
    CFile writer;
    ASSERT_TRUE(writer.Open(kPath, CFile::modeWrite | CFile::shareDenyNone));
    EXPECT_EQ(m.VerifyRevisedFile(kPath, sum), 11);
    writer.Close();
    EXPECT_EQ(m.VerifyRevisedFile(kPath, sum), 0);
}
