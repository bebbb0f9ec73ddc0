// Who may change a folder, decided from the rules the simulated machine
// gives folders as Windows does, and the pin that keeps a folder path
// naming the folders it named.
#include <string>
#include <vector>

#include "driver/folderpin.h"
#include "driver/foldersecurity.h"
#include "tests/support/sim_fixture.h"

namespace {

const char kBobFonts[] = "C:\\Users\\bob\\AppData\\Local\\Microsoft\\Windows\\Fonts";
const char kAliceFonts[] = "C:\\Users\\alice\\AppData\\Local\\Microsoft\\Windows\\Fonts";
const BYTE kOiCi = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

sim::AccessEntry Allow(const std::string& sid, DWORD mask, BYTE flags = kOiCi) {
    sim::AccessEntry entry;
    entry.sid = sid;
    entry.mask = mask;
    entry.flags = flags;
    return entry;
}

class FolderSecurityTest : public testdata::SimMachineTest {
protected:
    void SetUp() override {
        testdata::SimMachineTest::SetUp();
        MapNewDrive('D');
        for (const char* folder : {"C:\\Windows\\Fonts", "C:\\Windows\\Temp", "C:\\Program Files\\Sorame\\Updater",
                                   kBobFonts, kAliceFonts, "D:\\Fonts"}) {
            MakeFolder(folder);
        }
    }
    static bool AdminsOnly(const char* folder) { return ControlOfFolder(folder) == kFolderAdministratorsOnly; }
};

TEST_F(FolderSecurityTest, WindowsDefaultsDecideWhoMayChangeAFolder) {
    // The system's folders, and the program's, are the administrators'.
    EXPECT_TRUE(AdminsOnly("C:\\Windows\\Fonts"));
    EXPECT_TRUE(AdminsOnly("C:\\Windows\\Fonts\\"));
    EXPECT_TRUE(AdminsOnly("C:\\Program Files\\Sorame\\Updater"));
    // Users may add to the system's Temp, and may change a folder an
    // administrator made at a drive's root (Authenticated Users' inherited
    // rights); users may make folders in the root itself.
    EXPECT_FALSE(AdminsOnly("C:\\Windows\\Temp"));
    EXPECT_FALSE(AdminsOnly("D:\\Fonts"));
    EXPECT_FALSE(AdminsOnly("D:\\"));
    // Another user's profile is theirs.
    EXPECT_FALSE(AdminsOnly(kBobFonts));
    // The program's own account counts only when its token is elevated.
    EXPECT_TRUE(AdminsOnly(kAliceFonts));
    sim::SetUserRights(sim::UserRights::kAdministratorWithoutElevation);
    EXPECT_FALSE(AdminsOnly(kAliceFonts));
    EXPECT_TRUE(AdminsOnly("C:\\Windows\\Fonts"));
    sim::SetUserRights(sim::UserRights::kAdministrator);
    sim::WindowsVersion xp;
    xp.major = 5;
    xp.minor = 1;
    sim::SetWindowsVersion(xp);  // no elevation to ask about
    EXPECT_FALSE(AdminsOnly(kAliceFonts));
}

TEST_F(FolderSecurityTest, AnyUntrustedOwnerOrRightOnTheFolderOrAboveMakesItTheUsers) {
    MakeFolder("C:\\Windows\\Temp\\Staging\\Inner");
    sim::SetFolderRules("C:\\Windows\\Temp\\Staging", sim::FolderRules::kAdministratorsOnly);
    // Users may add to Temp, but not take away or rename what is in it.
    EXPECT_TRUE(AdminsOnly("C:\\Windows\\Temp\\Staging"));
    EXPECT_TRUE(AdminsOnly("C:\\Windows\\Temp\\Staging\\Inner"));

    sim::SetFolderRules("C:\\Windows\\Temp\\Staging", sim::FolderRules::kOwnedByAnotherUser);
    EXPECT_FALSE(AdminsOnly("C:\\Windows\\Temp\\Staging"));
    EXPECT_FALSE(AdminsOnly("C:\\Windows\\Temp\\Staging\\Inner"));

    // A folder above open to users: they may rename what is below.
    sim::SetFolderRules("C:\\Windows\\Temp\\Staging", sim::FolderRules::kOpenToUsers);
    sim::SetFolderRules("C:\\Windows\\Temp\\Staging\\Inner", sim::FolderRules::kAdministratorsOnly);
    EXPECT_FALSE(AdminsOnly("C:\\Windows\\Temp\\Staging\\Inner"));

    // A folder Authenticated Users made at the root: they own it.
    MakeFolder("D:\\Theirs");
    sim::SetFileOwner("D:\\Theirs", sim::FileOwner::kStandardUser);
    EXPECT_FALSE(AdminsOnly("D:\\Theirs"));

    // Each right that lets a user put in, take out or re-secure, alone.
    for (DWORD right : {FILE_ADD_FILE, FILE_ADD_SUBDIRECTORY, FILE_DELETE_CHILD, DELETE, WRITE_DAC, WRITE_OWNER,
                        GENERIC_WRITE, GENERIC_ALL, MAXIMUM_ALLOWED}) {
        sim::SetFolderRules("C:\\Windows\\Temp\\Staging", sim::kSidAdministrators,
                            {Allow(sim::kSidSystem, FILE_ALL_ACCESS), Allow(sim::kSidUsers, right, 0)});
        EXPECT_FALSE(AdminsOnly("C:\\Windows\\Temp\\Staging")) << std::hex << right;
    }
    // Reading is no change; and a deny entry never makes up for an allow.
    sim::AccessEntry deny = Allow(sim::kSidUsers, DELETE, 0);
    deny.allow = false;
    sim::SetFolderRules("C:\\Windows\\Temp\\Staging", sim::kSidTrustedInstaller,
                        {Allow(sim::kSidUsers, 0x001200A9u), Allow(sim::UserSidText(), FILE_ALL_ACCESS)});
    EXPECT_TRUE(AdminsOnly("C:\\Windows\\Temp\\Staging"));
    sim::SetFolderRules("C:\\Windows\\Temp\\Staging", sim::kSidAdministrators,
                        {deny, Allow(sim::kSidUsers, DELETE, 0)});
    EXPECT_FALSE(AdminsOnly("C:\\Windows\\Temp\\Staging"));
}

TEST_F(FolderSecurityTest, ANullDaclIsEveryonesAndInheritOnlyEntriesAreForWhatIsBelow) {
    MakeFolder("C:\\Windows\\Fonts\\Sub");
    sim::SetFolderNullDacl("C:\\Windows\\Fonts", sim::kSidAdministrators);
    EXPECT_FALSE(AdminsOnly("C:\\Windows\\Fonts"));
    EXPECT_FALSE(AdminsOnly("C:\\Windows\\Fonts\\Sub"));

    // CREATOR OWNER, inherit-only: the folder's own owner (an administrator)
    // gets it on what is made below, and the folder itself is not changed.
    sim::SetFolderRules("C:\\Windows\\Fonts", sim::kSidAdministrators,
                        {Allow(sim::kSidAdministrators, FILE_ALL_ACCESS),
                         Allow(sim::kSidCreatorOwner, GENERIC_ALL, kOiCi | INHERIT_ONLY_ACE),
                         Allow(sim::kSidUsers, DELETE | GENERIC_WRITE, kOiCi | INHERIT_ONLY_ACE)});
    EXPECT_TRUE(AdminsOnly("C:\\Windows\\Fonts"));
    // The users' inherit-only entry is the subfolder's own.
    EXPECT_FALSE(AdminsOnly("C:\\Windows\\Fonts\\Sub"));
    sim::SetFolderRules("C:\\Windows\\Fonts", sim::kSidAdministrators,
                        {Allow(sim::kSidAdministrators, FILE_ALL_ACCESS),
                         Allow(sim::kSidCreatorOwner, GENERIC_ALL, kOiCi | INHERIT_ONLY_ACE)});
    EXPECT_TRUE(AdminsOnly("C:\\Windows\\Fonts\\Sub"));
    // A user who makes a folder there owns it, and CREATOR OWNER makes it theirs.
    sim::SetFileOwner("C:\\Windows\\Fonts\\Sub", sim::FileOwner::kStandardUser);
    EXPECT_FALSE(AdminsOnly("C:\\Windows\\Fonts\\Sub"));
}

TEST_F(FolderSecurityTest, ALinkAnywhereOnThePathOrAnUnreadableAnswerIsTheUsers) {
    ASSERT_TRUE(sim::MakeFolderLink("C:\\Windows\\Fonts\\Link", "C:\\Program Files\\Sorame"));
    EXPECT_FALSE(AdminsOnly("C:\\Windows\\Fonts\\Link"));
    EXPECT_FALSE(AdminsOnly("C:\\Windows\\Fonts\\Link\\Updater"));
    for (const char* path : {"", "Fonts", "C:Windows", "\\\\server\\share\\Fonts", "\\\\?\\C:\\Windows",
                             "C:\\Windows\\..\\Users\\bob", "C:\\Windows\\.\\Fonts", "C:\\Windows\\\\Fonts",
                             "C:\\Windows/Fonts", "C:\\Windows\\Fonts.", "C:\\Windows\\Fonts:x", "C:\\NoSuchFolder"}) {
        EXPECT_FALSE(AdminsOnly(path)) << path;
    }
    EXPECT_FALSE(AdminsOnly(nullptr));
    for (unsigned nth = 1; nth <= 3; ++nth) {
        sim::FailCall("GetFileSecurityA", nth);
        EXPECT_FALSE(AdminsOnly("C:\\Windows\\Fonts")) << nth;
        sim::ClearFailures();
    }
    sim::FailCall("GetAce", 2);
    EXPECT_FALSE(AdminsOnly("C:\\Windows\\Fonts"));
    sim::ClearFailures();
    EXPECT_TRUE(AdminsOnly("C:\\Windows\\Fonts"));
}

TEST_F(FolderSecurityTest, WhatWineReportsIsTheRunningAccountsAndSoAdministratorsOnlyUnlessOthersMayWrite) {
    // Wine: every folder owned by the Unix user, the rules from the mode bits.
    const std::string user = sim::UserSidText();
    for (const char* folder : {"C:\\", "C:\\Windows", "C:\\Windows\\Fonts"}) {
        sim::SetFolderRules(folder, user,
                            {Allow(sim::kSidSystem, FILE_ALL_ACCESS), Allow(user, FILE_ALL_ACCESS),
                             Allow(sim::kSidEveryone, 0x001200A9u)});
    }
    EXPECT_TRUE(AdminsOnly("C:\\Windows\\Fonts"));
    sim::SetFolderRules("C:\\Windows\\Fonts", user,
                        {Allow(sim::kSidSystem, FILE_ALL_ACCESS), Allow(user, FILE_ALL_ACCESS),
                         Allow(sim::kSidEveryone, 0x001301BFu)});  // chmod o+w
    EXPECT_FALSE(AdminsOnly("C:\\Windows\\Fonts"));
}

TEST_F(FolderSecurityTest, APinnedFolderCannotBeRenamedRemovedOrReplacedUntilReleased) {
    const int open = sim::OpenHandleCount();
    {
        CPinnedFolder pin;
        ASSERT_TRUE(pin.Pin(kBobFonts));
        EXPECT_TRUE(pin.IsPinned());
        for (const std::string& folder : {std::string("C:\\Users\\bob"), std::string("C:\\Users\\bob\\AppData\\Local"), std::string(kBobFonts)}) {
            EXPECT_EQ(sim::RenameFolderElsewhere(folder, folder + "2"), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
            EXPECT_EQ(sim::ReplaceFolderByLinkElsewhere(folder, "C:\\Windows\\Fonts"),
                      static_cast<DWORD>(ERROR_SHARING_VIOLATION));
            EXPECT_EQ(sim::RemoveFolderElsewhere(folder), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
        EXPECT_EQ(MoveFileExA("C:\\Users\\bob", "C:\\Users\\bob2", 0), FALSE);
        // Files inside stay the program's to make, move and delete.
        Put(std::string(kBobFonts) + "\\a.otf", testdata::BytesOf("a"));
        EXPECT_TRUE(MoveFileExA((std::string(kBobFonts) + "\\a.otf").c_str(),
                                (std::string(kBobFonts) + "\\b.otf").c_str(), 0));
        EXPECT_TRUE(DeleteFileA((std::string(kBobFonts) + "\\b.otf").c_str()));
        // Pinning again holds the new path only.
        ASSERT_TRUE(pin.Pin("C:\\Windows\\Fonts"));
        EXPECT_EQ(sim::RenameFolderElsewhere("C:\\Users\\bob", "C:\\Users\\bob2"), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(sim::RenameFolderElsewhere("C:\\Users\\bob2", "C:\\Users\\bob"), static_cast<DWORD>(ERROR_SUCCESS));
    }
    EXPECT_EQ(sim::OpenHandleCount(), open);
    EXPECT_EQ(sim::ReplaceFolderByLinkElsewhere(kBobFonts, "C:\\Windows\\Fonts"), static_cast<DWORD>(ERROR_SUCCESS));

    // A link, a file, or a missing folder on the way is refused, and nothing is held.
    CPinnedFolder pin;
    EXPECT_FALSE(pin.Pin(kBobFonts));
    Put("C:\\Windows\\Fonts\\x.otf", testdata::BytesOf("x"));
    EXPECT_FALSE(pin.Pin("C:\\Windows\\Fonts\\x.otf"));
    EXPECT_FALSE(pin.Pin("C:\\Windows\\Nothing"));
    EXPECT_FALSE(pin.Pin("C:\\Windows\\..\\Users"));
    sim::FailCall("CreateFileA", 3);
    EXPECT_FALSE(pin.Pin("C:\\Windows\\Fonts"));
    EXPECT_FALSE(pin.IsPinned());
    EXPECT_EQ(sim::OpenHandleCount(), open);
}

}  // namespace
