// The fixture of patool's tests: a folder of its own for each test, and
// patool run in the test's process.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/revision.h"
#include "tools/patool/patool.h"

namespace patooltest {

using testdata::Bytes;
using testdata::DiffBuilder;
using testdata::DiffRecord;
using testdata::FontBuilder;

namespace fs = std::filesystem;

struct Outcome {
    int code;
    std::string out, err;
};

class PatoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/patool-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    std::string PathOf(const std::string& name) const { return m_dir + "/" + name; }

    std::string Put(const std::string& name, const Bytes& bytes) {
        const std::string path = PathOf(name);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    static Bytes Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    static Outcome Run(const std::vector<std::string>& args) {
        std::ostringstream out, err;
        const int code = patool::Run(args, out, err);
        return Outcome{code, out.str(), err.str()};
    }

    // No file but the ones the test put there (a failed command leaves no
    // half-written output or temporary file behind).
    size_t FileCount() const {
        size_t n = 0;
        for (auto it = fs::directory_iterator(m_dir); it != fs::directory_iterator(); ++it) ++n;
        return n;
    }

    std::string m_dir;
};

// A small target font and a difference file of our own making for it, which
// a test then spoils one field at a time.
struct SmallCase {
    Bytes font = testdata::SmallFont(0x00010000, "Sorame Test W3");
    std::vector<DiffRecord> records = testdata::KeepEverything(font);
    uint32_t newFileLength = static_cast<uint32_t>(font.size());

    Bytes Diff() const {
        DiffBuilder b;
        b.FontName("Sorame Test W3").FromRevision(0x00010000).NewFileLength(newFileLength);
        for (const DiffRecord& r : records) b.Record(r);
        return b.Build();
    }
};

inline bool Names(const std::string& text, const std::string& rule) { return text.find("[" + rule + "]") != std::string::npos; }

}  // namespace patooltest
