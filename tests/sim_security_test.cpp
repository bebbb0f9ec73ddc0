// The simulated system's security and version functions write what Windows
// writes, as far as Windows writes it, and judge access the way Windows does.
#include <cstring>
#include <vector>

#include "tests/support/sim_fixture.h"

namespace {

class SimSecurityTest : public testdata::SimMachineTest {
protected:
    void TearDown() override {
        EXPECT_EQ(sim::OpenObjectCount(), 0);
        testdata::SimMachineTest::TearDown();
    }

    // The Administrators SID, freed by the caller.
    static PSID Admins() {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        PSID sid = nullptr;
        EXPECT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                             0, 0, &sid));
        return sid;
    }

    // Whether the current user may read an object whose list says "type"
    // (allowed or denied) for the Administrators group, checked with token.
    static bool CanRead(BYTE aceType, HANDLE token, DWORD* error = nullptr) {
        PSID admins = Admins();
        SECURITY_DESCRIPTOR sd;
        EXPECT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
        alignas(4) unsigned char aclBuffer[64];
        PACL acl = reinterpret_cast<PACL>(aclBuffer);
        EXPECT_TRUE(InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION));
        EXPECT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, 3, admins));
        if (aceType == ACCESS_DENIED_ACE_TYPE) {
            aclBuffer[sizeof(ACL)] = ACCESS_DENIED_ACE_TYPE;  // the same entry, turned into a denial
        }
        SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
        SetSecurityDescriptorOwner(&sd, admins, FALSE);
        SetSecurityDescriptorGroup(&sd, admins, FALSE);
        GENERIC_MAPPING mapping = {1, 2, 0, 3};
        PRIVILEGE_SET privileges;
        DWORD length = sizeof privileges;
        DWORD granted = 0xFFFF;
        BOOL status = TRUE;
        const BOOL ok = AccessCheck(&sd, token, 1, &mapping, &privileges, &length, &granted, &status);
        if (error) *error = ok ? ERROR_SUCCESS : GetLastError();
        FreeSid(admins);
        if (ok) {
            EXPECT_EQ(granted, status ? 1u : 0u);
        }
        return ok && status;
    }

    static HANDLE ThreadToken() {
        EXPECT_TRUE(ImpersonateSelf(SecurityImpersonation));
        HANDLE token = nullptr;
        EXPECT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token));
        return token;
    }
};

}  // namespace

TEST_F(SimSecurityTest, TheVersionStructureIsFilledOnlyAsFarAsItsSizeSays) {
    sim::WindowsVersion v;
    v.major = 5;
    v.minor = 1;
    v.build = 2600;
    v.servicePack = "Service Pack 3";
    v.servicePackMajor = 3;
    sim::SetWindowsVersion(v);

    unsigned char buffer[200];
    std::memset(buffer, 0xAB, sizeof buffer);
    OSVERSIONINFOA basic;
    basic.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    std::memcpy(buffer, &basic.dwOSVersionInfoSize, 4);
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(buffer)));
    EXPECT_EQ(buffer[148], 0xAB) << "written past the basic structure";
    std::memcpy(&basic, buffer, sizeof basic);
    EXPECT_EQ(basic.dwMajorVersion, 5u);
    EXPECT_EQ(basic.dwBuildNumber, 2600u);
    EXPECT_STREQ(basic.szCSDVersion, "Service Pack 3");

    OSVERSIONINFOEXA ex;
    std::memset(&ex, 0, sizeof ex);
    ex.dwOSVersionInfoSize = sizeof ex;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
    EXPECT_EQ(ex.wServicePackMajor, 3);
    EXPECT_EQ(sizeof(OSVERSIONINFOA), 148u);
    EXPECT_EQ(sizeof(OSVERSIONINFOEXA), 156u);

    ex.dwOSVersionInfoSize = 100;  // neither structure
    EXPECT_FALSE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
    v.extendedQuery = false;
    sim::SetWindowsVersion(v);
    ex.dwOSVersionInfoSize = sizeof ex;
    EXPECT_FALSE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
}

TEST_F(SimSecurityTest, ADescriptorIsWrittenWholeWhateverTheCallerAllocated) {
    // In a 64-bit process the structure, and so the minimum length, is 40
    // bytes; a caller that allocates the 32-bit size, 20, is overrun.
    if (sizeof(void*) == 8) {
        EXPECT_EQ(SECURITY_DESCRIPTOR_MIN_LENGTH, 40u);
    }
    unsigned char buffer[64];
    std::memset(buffer, 0xCC, sizeof buffer);
    ASSERT_TRUE(InitializeSecurityDescriptor(buffer, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_EQ(buffer[0], SECURITY_DESCRIPTOR_REVISION);
    for (size_t i = 1; i < SECURITY_DESCRIPTOR_MIN_LENGTH; ++i) EXPECT_EQ(buffer[i], 0) << i;
    for (size_t i = SECURITY_DESCRIPTOR_MIN_LENGTH; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 0xCC) << i;
}

#if defined(__SANITIZE_ADDRESS__)
TEST(SimSecurityDeathTest, ATwentyByteDescriptorIsCaughtInA64BitProcess) {
    if (sizeof(void*) != 8) GTEST_SKIP() << "20 bytes is the right size in a 32-bit process";
    EXPECT_DEATH(
        {
            sim::Reset();
            PSECURITY_DESCRIPTOR sd = LocalAlloc(LPTR, 20);
            InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION);
            LocalFree(sd);
        },
        "heap-buffer-overflow");
}
#endif

TEST_F(SimSecurityTest, AnEntryThatDoesNotFitTheListIsRefused) {
    PSID admins = Admins();
    const DWORD exact = static_cast<DWORD>(sizeof(ACL)) + 8 + GetLengthSid(admins);
    EXPECT_EQ(GetLengthSid(admins), 16u);
    std::vector<unsigned char> buffer(exact + 8, 0xEE);
    PACL acl = reinterpret_cast<PACL>(buffer.data());
    ASSERT_TRUE(InitializeAcl(acl, exact - 4, ACL_REVISION));
    EXPECT_FALSE(AddAccessAllowedAce(acl, ACL_REVISION, 3, admins));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALLOTTED_SPACE_EXCEEDED));
    EXPECT_EQ(acl->AceCount, 0);
    EXPECT_EQ(buffer[sizeof(ACL)], 0xEE) << "nothing written for a refused entry";

    ASSERT_TRUE(InitializeAcl(acl, exact, ACL_REVISION));
    EXPECT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, 3, admins));
    EXPECT_EQ(buffer[exact], 0xEE) << "written past the list";
    EXPECT_FALSE(AddAccessAllowedAce(acl, ACL_REVISION, 3, admins)) << "the list is full";

    EXPECT_FALSE(InitializeAcl(acl, sizeof(ACL) - 1, ACL_REVISION));
    EXPECT_EQ(FreeSid(admins), nullptr);
    EXPECT_EQ(sim::LiveSids(), 0);
}

TEST_F(SimSecurityTest, AccessFollowsTheTokensGroupsAndTheEntryType) {
    HANDLE token = ThreadToken();
    EXPECT_TRUE(CanRead(ACCESS_ALLOWED_ACE_TYPE, token));
    EXPECT_FALSE(CanRead(ACCESS_DENIED_ACE_TYPE, token));
    sim::SetUserRights(sim::UserRights::kAdministratorWithoutElevation);
    EXPECT_FALSE(CanRead(ACCESS_ALLOWED_ACE_TYPE, token));
    sim::SetUserRights(sim::UserRights::kStandardUser);
    EXPECT_FALSE(CanRead(ACCESS_ALLOWED_ACE_TYPE, token));
    EXPECT_TRUE(CloseHandle(token));
    EXPECT_TRUE(RevertToSelf());
    EXPECT_FALSE(sim::ThreadImpersonating());
}

TEST_F(SimSecurityTest, ThePrimaryTokenCannotBeCheckedAgainst) {
    HANDLE token = nullptr;
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    DWORD error = 0;
    EXPECT_FALSE(CanRead(ACCESS_ALLOWED_ACE_TYPE, token, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_IMPERSONATION_TOKEN));
    CloseHandle(token);
}

TEST_F(SimSecurityTest, TokensMutexesAndFilesShareOneCloseHandle) {
    Put("C:\\a.txt", testdata::BytesOf("x"));
    HANDLE file = CreateFileA("C:\\a.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "m");
    ASSERT_NE(mutex, nullptr);
    EXPECT_NE(token, file);
    EXPECT_NE(mutex, file);
    EXPECT_EQ(sim::OpenObjectCount(), 2);
    EXPECT_EQ(sim::OpenHandleCount(), 1);

    EXPECT_TRUE(CloseHandle(token));
    EXPECT_TRUE(CloseHandle(mutex));
    EXPECT_FALSE(sim::MutexExists("m"));
    EXPECT_FALSE(CloseHandle(token)) << "closed twice";
    char c = 0;
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(file, &c, 1, &got, nullptr)) << "the file handle must survive";
    EXPECT_TRUE(CloseHandle(file));

    // A failed close still releases a token.
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    sim::FailCall("CloseHandle");
    EXPECT_FALSE(CloseHandle(token));
    EXPECT_EQ(sim::OpenObjectCount(), 0);
}

TEST_F(SimSecurityTest, ThePrivilegeMustBeEnabledForARestart) {
    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));

    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES tp = {};
    tp.PrivilegeCount = 1;
    ASSERT_TRUE(LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &tp.Privileges[0].Luid));
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &tp, sizeof tp, nullptr, nullptr)) << "opened without the right";
    CloseHandle(token);

    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    sim::SetShutdownPrivilegeHeld(false);
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, sizeof tp, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
    sim::SetShutdownPrivilegeHeld(true);
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, sizeof tp, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(token);

    EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0));
    ASSERT_EQ(sim::RestartRequests().size(), 2u);
    EXPECT_FALSE(sim::RestartRequests()[0].privilegeEnabled);
    EXPECT_TRUE(sim::RestartRequests()[1].privilegeEnabled);

    LUID luid;
    EXPECT_FALSE(LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &luid));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));
}

TEST_F(SimSecurityTest, MutexNamesAreCaseSensitiveAndLiveAsLongAsAHandle) {
    HANDLE a = CreateMutexA(nullptr, FALSE, "upd.EXE");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "UPD.EXE"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    HANDLE b = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "upd.EXE");
    ASSERT_NE(b, nullptr);
    HANDLE c = CreateMutexA(nullptr, FALSE, "upd.EXE");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(ReleaseMutex(a)) << "never owned";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    CloseHandle(a);
    CloseHandle(b);
    EXPECT_TRUE(sim::MutexExists("upd.EXE"));
    CloseHandle(c);
    EXPECT_FALSE(sim::MutexExists("upd.EXE"));

    HANDLE owned = CreateMutexA(nullptr, TRUE, "owned");
    EXPECT_TRUE(ReleaseMutex(owned));
    EXPECT_FALSE(ReleaseMutex(owned));
    sim::EndProgramRun();
    EXPECT_FALSE(sim::MutexExists("owned"));
}
