#include "tests/support/sim_fixture.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace testdata {

void SimMachineTest::SetUp() {
    sim::Reset();
    char tmpl[] = "/tmp/simdrive-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    m_root = tmpl;
    MapNewDrive('C');
}

void SimMachineTest::TearDown() {
    EXPECT_EQ(sim::OpenHandleCount(), 0) << "a file or listing was left open";
    sim::Reset();
    std::error_code ec;
    // Read-only files (the simulated attribute) must not keep the folder alive.
    for (auto it = fs::recursive_directory_iterator(m_root, ec); it != fs::recursive_directory_iterator(); ++it) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(m_root, ec);
}

std::string SimMachineTest::MapNewDrive(char letter, UINT type) {
    std::string host = m_root + "/" + letter;
    fs::create_directories(host);
    sim::MapDrive(letter, host, type);
    return host;
}

void SimMachineTest::Put(const std::string& windowsPath, const Bytes& bytes) {
    std::string host = sim::HostPath(windowsPath.c_str());
    ASSERT_FALSE(host.empty()) << windowsPath;
    fs::create_directories(fs::path(host).parent_path());
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << host;
    out.close();
    // An administrator's file, even where a removed file of another owner
    // left its identity to be taken again.
    sim::SetFileOwner(windowsPath.c_str(), sim::FileOwner::kAdministrators);
}

Bytes SimMachineTest::Get(const std::string& windowsPath) {
    std::ifstream in(sim::HostPath(windowsPath.c_str()), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool SimMachineTest::Exists(const std::string& windowsPath) {
    std::string host = sim::HostPath(windowsPath.c_str());
    return !host.empty() && fs::exists(host);
}

void SimMachineTest::MakeFolder(const std::string& windowsPath) {
    fs::create_directories(sim::HostPath(windowsPath.c_str()));
}

std::vector<std::string> FilesIn(const std::string& windowsFolder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(sim::HostPath(windowsFolder.c_str()), ec)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string RealFontPath(const std::string& fileName) {
    const char* dir = std::getenv("TEST_FONT_DIR");
    return std::string(dir ? dir : TEST_FONT_DIR_DEFAULT) + "/" + fileName;
}

Bytes RealFont(const std::string& fileName) {
    std::ifstream in(RealFontPath(fileName), std::ios::binary);
    if (!in) return Bytes();
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testdata
