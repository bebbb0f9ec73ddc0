// The simulated machine must behave like Windows where the program relies on
// it: sharing modes, listings, names in code page 932, failures on demand.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/framework/cfile.h"
#include "tests/support/sim_fixture.h"

using testdata::Bytes;

namespace {

class SimFilesTest : public testdata::SimMachineTest {
protected:
    std::vector<std::string> List(const char* pattern, std::vector<bool>* isFolder = nullptr) {
        std::vector<std::string> names;
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA(pattern, &fd);
        if (h == INVALID_HANDLE_VALUE) return names;
        do {
            names.push_back(fd.cFileName);
            if (isFolder) isFolder->push_back((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
        } while (FindNextFileA(h, &fd));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
        FindClose(h);
        return names;
    }
};

}  // namespace

TEST_F(SimFilesTest, WindowsPathsReachTheDriveFolderAndNamesComeInCodePage932) {
    // "フォント" on the host is 0x83 0x74 0x83 0x48 0x83 0x93 0x83 0x67 to the program.
    std::filesystem::create_directories(m_root + "/C/" + u8"フォント");
    std::ofstream(m_root + "/C/" + u8"フォント/" + u8"ソ.otf") << "data";
    auto names = List("C:\\\x83\x74\x83\x48\x83\x93\x83\x67\\*");
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[2], "\x83\x5C.otf");  // a 0x5C trail byte, not a separator

    CFile f;
    ASSERT_TRUE(f.Open("C:\\\x83\x74\x83\x48\x83\x93\x83\x67\\\x83\x5C.otf", CFile::modeRead));
    EXPECT_EQ(f.GetLength(), 4u);
}

TEST_F(SimFilesTest, ListingsLookLikeWindowsListings) {
    MakeFolder("C:\\Fonts\\sub");
    Put("C:\\Fonts\\b.otf", Bytes(3));
    Put("C:\\Fonts\\A.otf", Bytes(3));
    Put("C:\\top.txt", Bytes(1));
    std::vector<bool> folders;
    // Sub-folders list "." and ".."; names come in case-insensitive order.
    EXPECT_EQ(List("C:\\Fonts\\*", &folders), (std::vector<std::string>{".", "..", "A.otf", "b.otf", "sub"}));
    EXPECT_EQ(folders, (std::vector<bool>{true, true, false, false, true}));
    // A drive root has no "." and "..".
    EXPECT_EQ(List("C:\\*"), (std::vector<std::string>{"Fonts", "top.txt"}));
    EXPECT_EQ(List("C:\\Fonts\\*.OTF"), (std::vector<std::string>{"A.otf", "b.otf"}));
    // A missing folder, or a drive that is not there, cannot be listed.
    WIN32_FIND_DATAA fd;
    EXPECT_EQ(FindFirstFileA("C:\\Missing\\*", &fd), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstFileA("Q:\\*", &fd), INVALID_HANDLE_VALUE);
}

TEST_F(SimFilesTest, NamesAreFoundWhateverTheirLetterCase) {
    Put("C:\\Windows\\Fonts\\Test.otf", Bytes(8, 1));
    CFile f;
    EXPECT_TRUE(f.Open("C:\\WINDOWS\\fonts\\TEST.OTF", CFile::modeRead));
}

TEST_F(SimFilesTest, SharingModesAreEnforcedBetweenHandles) {
    Put("C:\\f.otf", Bytes(8, 1));
    {
        CFile exclusive;
        ASSERT_TRUE(exclusive.Open("C:\\f.otf", CFile::modeRead | CFile::shareExclusive));
        CFile reader;
        EXPECT_FALSE(reader.Open("C:\\f.otf", CFile::modeRead | CFile::shareDenyNone));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_FALSE(DeleteFileA("C:\\f.otf"));
    }
    {
        CFile writer;
        ASSERT_TRUE(writer.Open("C:\\f.otf", CFile::modeWrite | CFile::shareDenyNone));
        // A reader that denies writers cannot open a file someone writes to.
        CFile reader;
        EXPECT_FALSE(reader.Open("C:\\f.otf", CFile::modeRead | CFile::shareDenyWrite));
        CFile exclusive;
        EXPECT_FALSE(exclusive.Open("C:\\f.otf", CFile::modeRead | CFile::shareExclusive));
    }
    {
        CFile denyWrite;
        ASSERT_TRUE(denyWrite.Open("C:\\f.otf", CFile::modeRead | CFile::shareDenyWrite));
        CFile secondReader;
        EXPECT_TRUE(secondReader.Open("C:\\f.otf", CFile::modeRead | CFile::shareDenyWrite));
        CFile writer;
        EXPECT_FALSE(writer.Open("C:\\f.otf", CFile::modeWrite | CFile::shareDenyNone));
        // Truncating create is a write too.
        CFile creator;
        EXPECT_FALSE(creator.Open("C:\\f.otf", CFile::modeCreate | CFile::modeWrite | CFile::shareDenyNone));
    }
    EXPECT_EQ(Get("C:\\f.otf"), Bytes(8, 1));
    EXPECT_TRUE(DeleteFileA("C:\\f.otf"));
    EXPECT_FALSE(Exists("C:\\f.otf"));
}

TEST_F(SimFilesTest, CreateModesFollowWindows) {
    Put("C:\\t\\old", Bytes(10, 7));
    CFile f;
    EXPECT_FALSE(f.Open("C:\\t\\old", CFile::modeCreateNew | CFile::modeWrite));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_FALSE(f.Open("C:\\nofolder\\x", CFile::modeCreate | CFile::modeWrite));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    ASSERT_TRUE(f.Open("C:\\t\\old", CFile::modeCreate | CFile::modeWrite));
    EXPECT_TRUE(f.Write("abc", 3));
    EXPECT_TRUE(f.Close());
    EXPECT_EQ(Get("C:\\t\\old"), testdata::BytesOf("abc"));
    // A folder is not a file.
    EXPECT_FALSE(f.Open("C:\\t", CFile::modeRead));
}

TEST_F(SimFilesTest, AReadOnlyFileCannotBeWrittenOrDeleted) {
    Put("C:\\ro.otf", Bytes(4, 9));
    ::chmod(sim::HostPath("C:\\ro.otf").c_str(), 0444);
    CFile f;
    EXPECT_FALSE(f.Open("C:\\ro.otf", CFile::modeCreate | CFile::modeWrite));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteFileA("C:\\ro.otf"));
    EXPECT_TRUE(f.Open("C:\\ro.otf", CFile::modeRead));
}

TEST_F(SimFilesTest, AFolderThatRefusesNewFilesKeepsItsOwnFilesUsable) {
    Put("C:\\Temp\\old", Bytes(4, 1));
    Put("C:\\Temp\\gone", Bytes(4, 2));
    Put("C:\\elsewhere", Bytes(4, 3));
    MakeFolder("C:\\Temp\\below");
    sim::RefuseNewFiles("C:\\temp");
    CFile f;
    // Every way of adding a name to the folder is refused...
    EXPECT_FALSE(f.Open("C:\\Temp\\new", CFile::modeCreate | CFile::modeWrite));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(CopyFileA("C:\\elsewhere", "C:\\Temp\\copy", TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(MoveFileExA("C:\\elsewhere", "C:\\Temp\\old", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(Exists("C:\\Temp\\new") || Exists("C:\\Temp\\copy"));
    // ...while its files are read, rewritten and deleted, and the folder
    // below and the files moved out of it are not concerned.
    ASSERT_TRUE(f.Open("C:\\Temp\\old", CFile::modeCreate | CFile::modeWrite));
    EXPECT_TRUE(f.Write("abc", 3));
    EXPECT_TRUE(f.Close());
    EXPECT_EQ(Get("C:\\Temp\\old"), testdata::BytesOf("abc"));
    EXPECT_TRUE(DeleteFileA("C:\\Temp\\old"));
    EXPECT_TRUE(MoveFileExA("C:\\Temp\\gone", "C:\\moved", 0));
    ASSERT_TRUE(f.Open("C:\\Temp\\below\\new", CFile::modeCreate | CFile::modeWrite));
    EXPECT_TRUE(f.Close());
}

TEST_F(SimFilesTest, AnySingleCallCanBeMadeToFail) {
    Put("C:\\f.bin", Bytes(100, 3));
    sim::FailCall("ReadFile", 2, ERROR_READ_FAULT);
    Bytes buffer(100);
    CFile f;
    ASSERT_TRUE(f.Open("C:\\f.bin", CFile::modeRead));
    EXPECT_EQ(f.Read(buffer.data(), 10), 10u);   // first call
    EXPECT_EQ(f.Read(buffer.data(), 10), 0u);    // second call fails
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_READ_FAULT));
    EXPECT_EQ(f.Read(buffer.data(), 10), 10u);   // and only that one
    f.Close();

    const uint64_t before = sim::TotalCalls();
    sim::FailAnyCall(1);
    EXPECT_FALSE(f.Open("C:\\f.bin", CFile::modeRead));
    EXPECT_EQ(sim::TotalCalls(), before + 1);
    EXPECT_EQ(sim::CallCount("CreateFileA"), 2u);
}

TEST_F(SimFilesTest, EveryFileFunctionRefusesAPathOf260CharactersOrMore) {
    // 259 characters and a terminator fill the ANSI functions' buffer; a
    // double-byte character ("ソ", ending in 0x5C) counts once.
    std::string so80;
    for (int i = 0; i < 80; ++i) so80 += "\x83\x5C";
    const std::string dbcsFolder = "C:\\" + so80 + "\\" + so80 + "\\" + so80 + "\\";  // 246 characters
    struct Length {
        std::string path;
        bool fits;
    };
    const Length lengths[] = {
        {"C:\\" + std::string(250, 'a') + "\\f.otf", true},
        {"C:\\" + std::string(251, 'b') + "\\f.otf", false},
        {dbcsFolder + std::string(8, 'x') + "f.otf", true},  // 499 bytes
        {dbcsFolder + std::string(9, 'y') + "f.otf", false},
    };
    struct Function {
        const char* name;
        std::function<bool(const char*)> call;
    };
    const Function functions[] = {
        {"CreateFileA",
         [](const char* p) {
             HANDLE h = CreateFileA(p, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
             return h != INVALID_HANDLE_VALUE && CloseHandle(h);
         }},
        {"GetFileAttributesA", [](const char* p) { return GetFileAttributesA(p) != INVALID_FILE_ATTRIBUTES; }},
        {"FindFirstFileA",
         [](const char* p) {
             WIN32_FIND_DATAA fd;
             HANDLE h = FindFirstFileA(p, &fd);
             return h != INVALID_HANDLE_VALUE && FindClose(h);
         }},
        {"CopyFileA from", [](const char* p) { return CopyFileA(p, "C:\\copy.otf", FALSE) != FALSE; }},
        {"CopyFileA to", [](const char* p) { return CopyFileA("C:\\src.otf", p, FALSE) != FALSE; }},
        {"MoveFileExA from", [](const char* p) { return MoveFileExA(p, "C:\\moved.otf", MOVEFILE_REPLACE_EXISTING) != FALSE; }},
        {"MoveFileExA to", [](const char* p) { return MoveFileExA("C:\\src.otf", p, MOVEFILE_REPLACE_EXISTING) != FALSE; }},
        {"DeleteFileA", [](const char* p) { return DeleteFileA(p) != FALSE; }},
        {"PathFileExistsA", [](const char* p) { return PathFileExistsA(p) != FALSE; }},
    };
    for (const Function& f : functions) {
        for (const Length& l : lengths) {
            SCOPED_TRACE(std::string(f.name) + ", " + std::to_string(l.path.size()) + " bytes");
            Put(l.path, Bytes(4, 7));
            Put("C:\\src.otf", Bytes(3, 1));
            const bool ok = f.call(l.path.c_str());
            EXPECT_EQ(ok, l.fits);
            if (!l.fits) {
                EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
                EXPECT_EQ(Get(l.path), Bytes(4, 7));
                EXPECT_TRUE(Exists("C:\\src.otf"));
            }
        }
    }
}

TEST_F(SimFilesTest, LinksAndAliasDrivesLeadToTheSameFileIdentity) {
    Put("C:\\Fonts\\f.otf", Bytes(4, 1));
    Put("C:\\Fonts\\g.otf", Bytes(4, 1));
    ASSERT_TRUE(sim::MakeFolderLink("C:\\Fonts\\loop", "C:\\Fonts"));
    sim::MapDrive('S', sim::HostPath("C:\\Fonts"));
    // A junction lists and answers as a folder that is a reparse point.
    std::vector<bool> folders;
    EXPECT_EQ(List("C:\\Fonts\\loop\\loop\\*", &folders),
              (std::vector<std::string>{".", "..", "f.otf", "g.otf", "loop"}));
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA("C:\\Fonts\\lo*", &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(fd.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    FindClose(h);
    EXPECT_EQ(GetFileAttributesA("C:\\Fonts\\loop"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_EQ(GetFileAttributesA("C:\\Fonts"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

    auto identity = [](const char* path, DWORD flags) {
        HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, flags, nullptr);
        if (file == INVALID_HANDLE_VALUE) return std::string("refused");
        BY_HANDLE_FILE_INFORMATION info;
        const bool ok = GetFileInformationByHandle(file, &info);
        CloseHandle(file);
        return ok ? std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) + ":" +
                        std::to_string(info.nFileIndexLow)
                  : std::string("no answer");
    };
    const std::string f = identity("C:\\Fonts\\f.otf", 0);
    EXPECT_EQ(identity("C:\\Fonts\\loop\\loop\\F.OTF", 0), f);
    EXPECT_EQ(identity("S:\\f.otf", 0), f);
    EXPECT_NE(identity("S:\\g.otf", 0), f);
    // A folder opens only with backup semantics, and then answers too.
    EXPECT_EQ(identity("C:\\Fonts", 0), "refused");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    const std::string fonts = identity("C:\\Fonts", FILE_FLAG_BACKUP_SEMANTICS);
    EXPECT_NE(fonts, "refused");
    EXPECT_EQ(identity("C:\\Fonts\\loop", FILE_FLAG_BACKUP_SEMANTICS), fonts);
    EXPECT_EQ(identity("S:\\", FILE_FLAG_BACKUP_SEMANTICS), fonts);
}
