// The system side of the simulated machine: what the search and the
// revision driver rely on.
#include <chrono>
#include <cstring>
#include <string>

#include "platform/framework/cfile.h"
#include "tests/support/sim_fixture.h"

using testdata::Bytes;
using testdata::BytesOf;

namespace {

class SimSystemTest : public testdata::SimMachineTest {
protected:
    void TwoFiles() {
        Put("C:\\d\\old.otf", BytesOf("OLD-CONTENT"));
        Put("C:\\d\\new.otf", BytesOf("NEW"));
    }
    void ExpectUntouched() {
        EXPECT_EQ(Get("C:\\d\\old.otf"), BytesOf("OLD-CONTENT"));
        EXPECT_EQ(Get("C:\\d\\new.otf"), BytesOf("NEW"));
    }
};

}  // namespace

TEST_F(SimSystemTest, DrivesAreListedInLetterOrderWithTheirTypes) {
    MapNewDrive('F', sim::kDriveCdrom);
    MapNewDrive('D');
    MapNewDrive('E', sim::kDriveRemovable);

    char list[MAX_PATH];
    std::memset(list, 'x', sizeof list);
    ASSERT_EQ(GetLogicalDriveStringsA(MAX_PATH, list), 16u);
    EXPECT_EQ(std::string(list, 17), std::string("C:\\\0D:\\\0E:\\\0F:\\\0\0", 17));

    // Too small: the size needed, with the final terminator, and nothing written.
    std::memset(list, 'x', sizeof list);
    EXPECT_EQ(GetLogicalDriveStringsA(16, list), 17u);
    EXPECT_EQ(list[0], 'x');

    EXPECT_EQ(GetDriveTypeA("C:\\"), static_cast<UINT>(DRIVE_FIXED));
    EXPECT_EQ(GetDriveTypeA("e:\\"), static_cast<UINT>(DRIVE_REMOVABLE));
    EXPECT_EQ(GetDriveTypeA("F:\\"), static_cast<UINT>(DRIVE_CDROM));
    EXPECT_EQ(GetDriveTypeA("G:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    EXPECT_EQ(GetDriveTypeA("C:\\Windows\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));

    sim::FailCall("GetLogicalDriveStringsA");
    EXPECT_EQ(GetLogicalDriveStringsA(MAX_PATH, list), 0u);
}

TEST_F(SimSystemTest, ModuleAndTemporaryPathsAreConfigurable) {
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
    EXPECT_STREQ(path, "C:\\Program Files\\Sorame\\Updater\\upd.exe");
    ASSERT_GT(GetTempPathA(MAX_PATH, path), 0u);
    EXPECT_EQ(path[std::strlen(path) - 1], '\\');

    sim::SetModulePath("D:\\Tools\\u.exe");
    sim::SetTempPath("D:\\Tmp\\");
    EXPECT_EQ(GetModuleFileNameA(nullptr, path, MAX_PATH), 14u);
    EXPECT_STREQ(path, "D:\\Tools\\u.exe");
    EXPECT_EQ(GetTempPathA(MAX_PATH, path), 7u);
    EXPECT_STREQ(path, "D:\\Tmp\\");

    // A short buffer: the module path is cut but terminated, the temp path not written.
    char small[5];
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 5u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_STREQ(small, "D:\\T");
    EXPECT_EQ(GetTempPathA(5, small), 8u);
    EXPECT_STREQ(small, "D:\\T");
}

TEST_F(SimSystemTest, MoveReplacesTheTargetInOneStep) {
    TwoFiles();
    // A reader that allows deletion keeps reading the old file, whole.
    HANDLE reader = CreateFileA("C:\\d\\old.otf", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(MoveFileExA("C:\\d\\new.otf", "C:\\d\\old.otf", MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(Get("C:\\d\\old.otf"), BytesOf("NEW"));
    EXPECT_FALSE(Exists("C:\\d\\new.otf"));
    char buffer[32] = {0};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(reader, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(std::string(buffer, got), "OLD-CONTENT");
    CloseHandle(reader);
}

TEST_F(SimSystemTest, MoveRefusesAsWindowsDoesAndChangesNothing) {
    TwoFiles();
    const DWORD replace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

    EXPECT_FALSE(MoveFileExA("C:\\d\\new.otf", "C:\\d\\old.otf", MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    ExpectUntouched();

    EXPECT_FALSE(MoveFileExA("C:\\d\\none.otf", "C:\\d\\old.otf", replace));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(MoveFileExA("C:\\d\\new.otf", "C:\\nofolder\\old.otf", replace));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    ExpectUntouched();

    {
        // The target in use by a program that does not share deletion.
        CFile inUse;
        ASSERT_TRUE(inUse.Open("C:\\d\\old.otf", CFile::modeRead | CFile::shareDenyWrite));
        EXPECT_FALSE(MoveFileExA("C:\\d\\new.otf", "C:\\d\\old.otf", replace));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    {
        // The source still open.
        CFile inUse;
        ASSERT_TRUE(inUse.Open("C:\\d\\new.otf", CFile::modeRead | CFile::shareDenyNone));
        EXPECT_FALSE(MoveFileExA("C:\\d\\new.otf", "C:\\d\\old.otf", replace));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    ExpectUntouched();

    MapNewDrive('D');
    EXPECT_FALSE(MoveFileExA("C:\\d\\new.otf", "D:\\new.otf", replace));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SAME_DEVICE));
    ExpectUntouched();
    ASSERT_TRUE(MoveFileExA("C:\\d\\new.otf", "D:\\new.otf", replace | MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ(Get("D:\\new.otf"), BytesOf("NEW"));
    EXPECT_FALSE(Exists("C:\\d\\new.otf"));

    sim::FailCall("MoveFileExA");
    EXPECT_FALSE(MoveFileExA("D:\\new.otf", "D:\\other.otf", replace));
    EXPECT_TRUE(Exists("D:\\new.otf"));
}

TEST_F(SimSystemTest, CopyKeepsAnExistingFileWhenAskedAndOverwritesOtherwise) {
    TwoFiles();
    EXPECT_FALSE(CopyFileA("C:\\d\\new.otf", "C:\\d\\old.otf", TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    ExpectUntouched();

    EXPECT_FALSE(CopyFileA("C:\\d\\none.otf", "C:\\d\\x.otf", TRUE));
    EXPECT_FALSE(Exists("C:\\d\\x.otf"));
    {
        CFile inUse;
        ASSERT_TRUE(inUse.Open("C:\\d\\old.otf", CFile::modeRead | CFile::shareExclusive));
        EXPECT_FALSE(CopyFileA("C:\\d\\new.otf", "C:\\d\\old.otf", FALSE));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_FALSE(CopyFileA("C:\\d\\old.otf", "C:\\d\\y.otf", FALSE));
        EXPECT_FALSE(Exists("C:\\d\\y.otf"));
    }
    ExpectUntouched();

    ASSERT_TRUE(CopyFileA("C:\\d\\new.otf", "C:\\d\\old.otf", FALSE));
    EXPECT_EQ(Get("C:\\d\\old.otf"), BytesOf("NEW"));
    ASSERT_TRUE(CopyFileA("C:\\d\\new.otf", "C:\\d\\z.otf", TRUE));
    EXPECT_EQ(Get("C:\\d\\z.otf"), BytesOf("NEW"));
}

TEST_F(SimSystemTest, FlushNeedsAWriteHandle) {
    Put("C:\\f.bin", BytesOf("abc"));
    CFile reader;
    ASSERT_TRUE(reader.Open("C:\\f.bin", CFile::modeRead | CFile::shareDenyNone));
    EXPECT_FALSE(FlushFileBuffers(reader.m_hFile));
    CFile writer;
    ASSERT_TRUE(writer.Open("C:\\g.bin", CFile::modeWrite | CFile::modeCreateNew));
    EXPECT_TRUE(FlushFileBuffers(writer.m_hFile));
    EXPECT_FALSE(FlushFileBuffers(INVALID_HANDLE_VALUE));
}

TEST_F(SimSystemTest, SleepRunsOnTheSimulatedClockOnly) {
    sim::SetTime(2000000000);
    EXPECT_EQ(_time64(nullptr), 2000000000);
    std::vector<DWORD> seen;
    sim::OnSleep([&](DWORD ms) { seen.push_back(ms); });

    const auto start = std::chrono::steady_clock::now();
    Sleep(600000);
    Sleep(300);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(1));

    EXPECT_EQ(sim::SleptMilliseconds(), 600300u);
    __time64_t now = 0;
    EXPECT_EQ(_time64(&now), 2000000600);
    EXPECT_EQ(now, 2000000600);
    EXPECT_EQ(seen, (std::vector<DWORD>{600000, 300}));
    EXPECT_EQ(sim::CallCount("Sleep"), 2u);
}
