// A fresh simulated machine for each test: drive C: is an empty host folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "tests/support/builders.h"

namespace testdata {

class SimMachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Host folder behind a drive letter (C: is mapped in SetUp).
    std::string MapNewDrive(char letter, UINT type = sim::kDriveFixed);

    // Files by their Windows path; folders on the way are created.
    void Put(const std::string& windowsPath, const Bytes& bytes);
    Bytes Get(const std::string& windowsPath);
    bool Exists(const std::string& windowsPath);
    void MakeFolder(const std::string& windowsPath);

    std::string m_root;  // host folder holding every drive of this test
};

// The names of the files in a folder of the simulated machine, sorted; none
// when the folder is not there.
std::vector<std::string> FilesIn(const std::string& windowsFolder);

// A real font made by tests/fonts/make_test_fonts.py, or empty when the fonts
// were not generated (the caller then skips).
Bytes RealFont(const std::string& fileName);
std::string RealFontPath(const std::string& fileName);

}  // namespace testdata

// Declares `Bytes bytes` holding a real test font.  Without the generated
// fonts the test is skipped, unless the test command asked for them (it
// always does): then a missing font is a failure.
#define REQUIRE_FONT(bytes, name)                                                       \
    ::testdata::Bytes bytes = ::testdata::RealFont(name);                               \
    if (bytes.empty()) {                                                                \
        if (std::getenv("REQUIRE_REAL_FONTS")) FAIL() << "missing real font " << name;  \
        GTEST_SKIP() << "real font " << name << " not generated";                       \
    }
