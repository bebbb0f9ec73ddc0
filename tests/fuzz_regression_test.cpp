// The fuzz targets' entries in the ordinary test run: every input kept under
// fuzz/regressions/<entry>/ is replayed, and the entries are shown to reach
// the engine's work at all (a harness that stops at its first check finds
// nothing however long it runs).
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/types.h"
#include "tests/support/sim_fixture.h"

#ifdef FUZZ_REGRESSION_DIR
#include "fuzz/entries.h"

namespace fs = std::filesystem;
using testdata::Bytes;

namespace {

Bytes ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class FuzzRegressionTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        std::string error;
        const fs::path font = testdata::RealFontPath("Sorame-Gothic-Pro-W3.otf");
        if (!fuzzentry::Setup(font.parent_path().string(), &error)) {
            if (std::getenv("REQUIRE_REAL_FONTS")) FAIL() << error;
            GTEST_SKIP() << error;
        }
    }
    void TearDown() override { sim::Reset(); }

    fuzzentry::Outcome Run(const char* entry, const Bytes& input) {
        const fuzzentry::Entry* e = fuzzentry::FindEntry(entry);
        EXPECT_NE(e, nullptr) << entry;
        return e ? e->run(input.data(), input.size()) : fuzzentry::Outcome{};
    }

    static Bytes NameTableOf(const Bytes& font) {
        const uint16_t n = testdata::GetU16(font, 4);
        for (size_t i = 0; i < n; ++i) {
            const size_t r = 12 + 16 * i;
            if (std::string(font.begin() + static_cast<long>(r), font.begin() + static_cast<long>(r) + 4) != "name") continue;
            const uint32_t offset = testdata::GetU32(font, r + 8), length = testdata::GetU32(font, r + 12);
            return Bytes(font.begin() + offset, font.begin() + offset + length);
        }
        return {};
    }
};

}  // namespace

TEST_F(FuzzRegressionTest, EveryKeptInputRunsCleanThroughItsEntry) {
    int replayed = 0;
    std::error_code ec;
    for (const auto& folder : fs::directory_iterator(FUZZ_REGRESSION_DIR, ec)) {
        if (!folder.is_directory()) continue;
        const std::string entry = folder.path().filename().string();
        ASSERT_NE(fuzzentry::FindEntry(entry), nullptr) << "no entry named " << entry;
        std::vector<fs::path> inputs;
        for (const auto& f : fs::directory_iterator(folder.path())) {
            if (f.is_regular_file() && f.path().filename().string()[0] != '.') inputs.push_back(f.path());
        }
        std::sort(inputs.begin(), inputs.end());
        for (const fs::path& input : inputs) {
            SCOPED_TRACE(entry + "/" + input.filename().string());
            EXPECT_EQ(Run(entry.c_str(), ReadAll(input)).fault, "");
            ++replayed;
        }
    }
    RecordProperty("replayed", replayed);
}

TEST_F(FuzzRegressionTest, TheRealInputsGoAllTheWayThrough) {
    const Bytes& font = fuzzentry::RealFont();
    const Bytes& diff = fuzzentry::RealDiff();
    struct Case {
        const char* entry;
        Bytes input;
        int result;
    };
    const Case cases[] = {
        {"is_target_font", font, 1},    {"load_font", font, kReviseOk}, {"read_header", diff, 1},
        {"read_file", diff, 1},         {"revise_diff", diff, kReviseOk}, {"revise_font", font, kReviseOk},
        {"name_table", NameTableOf(font), 1},
    };
    for (const Case& c : cases) {
        const fuzzentry::Outcome o = Run(c.entry, c.input);
        EXPECT_EQ(o.result, c.result) << c.entry;
        EXPECT_EQ(o.fault, "") << c.entry;
    }
}

// A quick deterministic sweep in the ordinary build (g++, its own sanitizers):
// the real difference file cut at every length and with each byte of its
// header and records changed, and the real font cut along its directory.
TEST_F(FuzzRegressionTest, CutAndChangedRealInputsAreRefusedCleanly) {
    const Bytes& diff = fuzzentry::RealDiff();
    const Bytes& font = fuzzentry::RealFont();
    for (size_t cut = 0; cut < diff.size(); cut += cut < 600 ? 1 : 37) {
        const Bytes part(diff.begin(), diff.begin() + static_cast<long>(cut));
        const fuzzentry::Outcome o = Run("revise_diff", part);
        ASSERT_EQ(o.fault, "") << "cut at " << cut;
        ASSERT_NE(o.result, kReviseOk) << "a cut difference file was taken, cut at " << cut;
    }
    const size_t records = std::min<size_t>(diff.size(), 53 + 18 * diff[44]);
    for (size_t at = 0; at < records; ++at) {
        for (uint8_t flip : {0x01, 0xFF}) {
            Bytes changed = diff;
            changed[at] ^= flip;
            ASSERT_EQ(Run("revise_diff", changed).fault, "") << "byte " << at << " ^ " << int(flip);
        }
    }
    for (size_t cut = 0; cut < 12 + 16 * size_t{testdata::GetU16(font, 4)} + 64; ++cut) {
        const Bytes part(font.begin(), font.begin() + static_cast<long>(cut));
        for (const char* entry : {"is_target_font", "load_font", "revise_font"}) {
            const fuzzentry::Outcome o = Run(entry, part);
            ASSERT_EQ(o.fault, "") << entry << " cut at " << cut;
            ASSERT_NE(o.result, entry[0] == 'i' ? 1 : kReviseOk) << entry << " took a font cut at " << cut;
        }
    }
}

#endif  // FUZZ_REGRESSION_DIR
