// The difference-file producer, judged by what the engine builds from its
// files.
#include <random>
#include <string>

#include "tests/support/revision.h"
#include "tools/paproducer/paproducer.h"

using testdata::Bytes;
using testdata::FontBuilder;
using testdata::HeadTable;

namespace {

Bytes Noise(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (uint8_t& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

Bytes Font(const Bytes& cff, uint32_t revision, const std::string& serial, std::vector<size_t> order = {}) {
    return FontBuilder()
        .Table("CFF ", cff)
        .Table("head", HeadTable(revision))
        .Table("hmtx", Bytes(18, 0x55))
        .Table("name", testdata::StandardNameTable("Sorame Gothic W3", serial, serial))
        .DataOrder(order)
        .Build();
}

class ProducerTest : public testdata::RevisionTest {};

}  // namespace

TEST_F(ProducerTest, EditedTablesComeBackExactlyAndMostlyFromCopies) {
    const Bytes oldCff = Noise(20000, 1);
    const Bytes installed = Font(oldCff, 0x10000, "SERIAL-OF-THE-USER");
    std::mt19937 rng(7);
    for (int round = 0; round < 8; ++round) {
        // A few insertions, deletions and overwrites at random places.
        Bytes cff = oldCff;
        for (int e = 0; e < 5; ++e) {
            const size_t at = rng() % (cff.size() - 100);
            const Bytes bytes = Noise(1 + rng() % 40, rng());
            switch (rng() % 3) {
            case 0: cff.insert(cff.begin() + at, bytes.begin(), bytes.end()); break;
            case 1: cff.erase(cff.begin() + at, cff.begin() + at + bytes.size()); break;
            default: std::copy(bytes.begin(), bytes.end(), cff.begin() + at); break;
            }
        }
        const Bytes revised = Font(cff, 0x1028F, "PLACEHOLDER", round % 2 ? std::vector<size_t>{3, 1, 0, 2} : std::vector<size_t>{});
        std::string error;
        paproducer::DifferenceStats stats;
        const Bytes diff = paproducer::MakeDifference(installed, revised, &error, &stats);
        ASSERT_FALSE(diff.empty()) << error;
        EXPECT_EQ(std::string(diff.begin() + 4, diff.begin() + 20), "Sorame Gothic W3");
        EXPECT_EQ(testdata::GetU32(diff, 36), 0x10000u);
        EXPECT_EQ(testdata::GetU32(diff, 40), revised.size());
        EXPECT_LT(stats.literalBytes, 1500u) << round;

        COpenTypeManager m;
        ASSERT_EQ(Revise(m, installed, diff), 0) << round;
        Bytes mac, win;
        testdata::SerialsOf(installed, &mac, &win);
        EXPECT_TRUE(Output() == testdata::ExpectedRevision(revised, mac, win)) << round;
        std::remove(sim::HostPath(kTempPath).c_str());
    }
}

TEST_F(ProducerTest, UnchangedTablesButTheNameTableAreTakenOverAndFontsThatDoNotPairAreRefused) {
    const Bytes installed = Font(Noise(500, 2), 0x10000, "S");
    std::string error;
    const Bytes same = paproducer::MakeDifference(installed, installed, &error);
    ASSERT_FALSE(same.empty()) << error;
    // The name table alone is never taken over: it goes in as literals.
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(testdata::GetU32(same, 53 + 18 * i + 6), 0u) << i;
    const size_t nameList = testdata::GetU32(same, 53 + 18 * 3 + 6);
    ASSERT_EQ(nameList, 53u + 18 * 4);
    EXPECT_EQ(testdata::GetU32(same, nameList), 0u) << "copy blocks in the name table";

    const Bytes fewer = FontBuilder().Table("CFF ", Bytes(10, 1)).Table("head", HeadTable(1)).Build();
    EXPECT_TRUE(paproducer::MakeDifference(installed, fewer, &error).empty());
    EXPECT_FALSE(error.empty());
    const Bytes other = FontBuilder()
                            .Table("CFF ", Bytes(10, 1))
                            .Table("head", HeadTable(1))
                            .Table("hmtx", Bytes(4, 1))
                            .Table("post", Bytes(4, 1))
                            .Build();
    EXPECT_TRUE(paproducer::MakeDifference(installed, other, &error).empty());
    Bytes truncated(installed.begin(), installed.begin() + 40);
    EXPECT_TRUE(paproducer::MakeDifference(truncated, installed, &error).empty());
    EXPECT_TRUE(paproducer::MakeDifference(Bytes(), installed, &error).empty());
}

// A difference file is made from the maker's copy of a font, but every
// customer's copy carries its own serial strings, of its own length, which
// shift the name table's other strings.  Each copy must come out as the
// release with its own serials, whether the release's name table kept the
// maker's serial or not.
TEST_F(ProducerTest, EveryCustomersCopyGetsTheReleasesNames) {
    const Bytes cff = Noise(3000, 3);
    const std::string makers = "SERIAL-OF-THE-MAKERS-COPY-0001";
    const Bytes installed = Font(cff, 0x10000, makers);
    struct Case {
        const char* what;
        std::string releaseSerial, customerSerial;
    };
    for (const Case& k : std::vector<Case>{
             {"same name table, longer serial", makers, makers + "-AND-SOME-MORE-OF-IT"},
             {"same name table, shorter serial", makers, "SHORT"},
             {"placeholder, longer serial", "PLACEHOLDER", makers + "-AND-SOME-MORE-OF-IT"},
             {"placeholder, shorter serial", "PLACEHOLDER", "SHORT"},
             {"placeholder, empty serial", "PLACEHOLDER", ""},
         }) {
        SCOPED_TRACE(k.what);
        Bytes cffRevised = cff;
        cffRevised[100] ^= 0xFF;
        const Bytes revised = Font(cffRevised, 0x1028F, k.releaseSerial);
        std::string error;
        const Bytes diff = paproducer::MakeDifference(installed, revised, &error);
        ASSERT_FALSE(diff.empty()) << error;

        const Bytes customers = Font(cff, 0x10000, k.customerSerial);
        COpenTypeManager m;
        ASSERT_EQ(Revise(m, customers, diff), 0);
        Bytes mac, win;
        testdata::SerialsOf(customers, &mac, &win);
        EXPECT_TRUE(Output() == testdata::ExpectedRevision(revised, mac, win));
        std::remove(sim::HostPath(kTempPath).c_str());
    }
}
