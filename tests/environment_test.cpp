// The start-up checks: the version table, the administrator test against the
// simulated user's token, and which message the whole check shows.
#include <cstring>
#include <string>
#include <vector>

#include "app/environment.h"
#include "res/resource.h"
#include "tests/support/sim_fixture.h"

namespace {

class EnvironmentTest : public testdata::SimMachineTest {
protected:
    void TearDown() override {
        // Whatever the outcome, nothing of the test may outlive it.
        EXPECT_EQ(sim::OpenObjectCount(), 0) << "a token or mutex was left open";
        EXPECT_EQ(sim::LiveLocalBlocks(), 0) << "a LocalAlloc block was not freed";
        EXPECT_EQ(sim::LiveSids(), 0) << "a SID was not freed";
        EXPECT_FALSE(sim::ThreadImpersonating()) << "the thread was left impersonating";
        testdata::SimMachineTest::TearDown();
    }

    static void SetVersion(DWORD platform, DWORD major, DWORD minor, bool extendedQuery = true) {
        sim::WindowsVersion v;
        v.platform = platform;
        v.major = major;
        v.minor = minor;
        v.extendedQuery = extendedQuery;
        sim::SetWindowsVersion(v);
    }

    int Check() {
        return CheckEnvironment([this](UINT id) { m_shown.push_back(id); });
    }

    std::vector<UINT> m_shown;
};

struct VersionRow {
    const char* what;
    DWORD platform, major, minor;
    int expected;
};

const VersionRow kVersionTable[] = {
    {"Win32s", 0, 3, 11, 1001},
    {"Windows 95 and OSR2", 1, 4, 0, 1001},
    {"Windows 98", 1, 4, 10, 1001},
    {"Windows Me", 1, 4, 90, 1001},
    {"an unknown 95-family minor", 1, 4, 3, 1002},
    {"a 95-family major other than 4", 1, 5, 0, 1002},
    {"NT 3.51", 2, 3, 51, 1001},
    {"NT 4.0", 2, 4, 0, 1001},
    {"Windows 2000", 2, 5, 0, 1002},
    {"Windows XP", 2, 5, 1, 6},
    {"NT 5.2", 2, 5, 2, 6},
    {"an NT 5 minor after 5.2", 2, 5, 3, 1002},
    {"Vista", 2, 6, 0, 7},
    {"a later 6.x", 2, 6, 3, 7},
    {"major 10", 2, 10, 0, 7},
    {"an unknown platform", 3, 6, 0, 1002},
};

}  // namespace

TEST_F(EnvironmentTest, EveryRowOfTheVersionTable) {
    for (const VersionRow& row : kVersionTable) {
        SetVersion(row.platform, row.major, row.minor);
        EXPECT_EQ(ClassifyWindowsVersion(), row.expected) << row.what;
    }
}

TEST_F(EnvironmentTest, NtFourIsTooOldWhateverItsServicePack) {
    sim::WindowsVersion v;
    v.major = 4;
    v.minor = 0;
    v.servicePack = "Service Pack 6";
    v.servicePackMajor = 6;
    sim::SetWindowsVersion(v);
    EXPECT_EQ(ClassifyWindowsVersion(), kEnvWindowsTooOld);
    v.servicePack.clear();
    v.servicePackMajor = 0;
    v.extendedQuery = false;  // before SP6 only the basic structure is answered
    sim::SetWindowsVersion(v);
    EXPECT_EQ(ClassifyWindowsVersion(), kEnvWindowsTooOld);
}

TEST_F(EnvironmentTest, ASystemWithoutTheExtendedQueryIsAskedWithTheBasicOne) {
    SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10, false);
    EXPECT_EQ(ClassifyWindowsVersion(), kEnvWindowsTooOld);
    EXPECT_EQ(sim::CallCount("GetVersionExA"), 2u);

    SetVersion(VER_PLATFORM_WIN32_NT, 5, 1);
    sim::FailCall("GetVersionExA", 1);
    EXPECT_EQ(ClassifyWindowsVersion(), kEnvWindowsXp);
}

TEST_F(EnvironmentTest, BothQueriesFailing) {
    sim::FailCall("GetVersionExA", 1);
    sim::FailCall("GetVersionExA", 2);
    EXPECT_EQ(ClassifyWindowsVersion(), kEnvQueryFailed);
}

TEST_F(EnvironmentTest, OnlyAnEnabledAdministratorsGroupCounts) {
    sim::SetUserRights(sim::UserRights::kAdministrator);
    EXPECT_TRUE(IsUserAdministrator());
    sim::SetUserRights(sim::UserRights::kStandardUser);
    EXPECT_FALSE(IsUserAdministrator());
    // Held for deny checks only, as without elevation: no access is granted.
    sim::SetUserRights(sim::UserRights::kAdministratorWithoutElevation);
    EXPECT_FALSE(IsUserAdministrator());
}

TEST_F(EnvironmentTest, AnyFailingStepMeansNoAdministrator) {
    const char* steps[] = {"ImpersonateSelf",           "OpenThreadToken",            "AllocateAndInitializeSid",
                           "InitializeSecurityDescriptor", "InitializeAcl",           "AddAccessAllowedAce",
                           "SetSecurityDescriptorDacl", "SetSecurityDescriptorGroup", "SetSecurityDescriptorOwner",
                           "IsValidSecurityDescriptor", "AccessCheck"};
    for (const char* step : steps) {
        sim::FailCall(step);
        EXPECT_FALSE(IsUserAdministrator()) << step;
        EXPECT_EQ(sim::LiveLocalBlocks(), 0) << step;
        EXPECT_EQ(sim::LiveSids(), 0) << step;
        EXPECT_EQ(sim::OpenObjectCount(), 0) << step;
        EXPECT_FALSE(sim::ThreadImpersonating()) << step;
        sim::ClearFailures();
    }
    for (unsigned nth : {1u, 2u}) {  // the descriptor, then the list
        sim::FailCall("LocalAlloc", nth, ERROR_NOT_ENOUGH_MEMORY);
        EXPECT_FALSE(IsUserAdministrator()) << "allocation " << nth;
        sim::ClearFailures();
    }
    EXPECT_TRUE(IsUserAdministrator());
}

TEST_F(EnvironmentTest, WithoutAThreadTokenTheProcessTokenIsTried) {
    // No thread token: the process token is opened instead, and the access
    // check, which needs a thread's token, refuses it.
    sim::FailCall("ImpersonateSelf");
    EXPECT_FALSE(IsUserAdministrator());
    EXPECT_EQ(sim::CallCount("OpenProcessToken"), 1u);

    // Any other failure of the thread token ends the test at once.
    sim::FailCall("OpenThreadToken", 1, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(IsUserAdministrator());
    EXPECT_EQ(sim::CallCount("OpenProcessToken"), 1u);
}

TEST_F(EnvironmentTest, NoFailureAnywhereLeaksOrLeavesTheThreadImpersonating) {
    ASSERT_TRUE(IsUserAdministrator());
    const uint64_t calls = sim::TotalCalls();
    for (unsigned nth = 1; nth <= calls; ++nth) {
        const size_t first = sim::CallLog().size();
        sim::FailAnyCall(nth);
        IsUserAdministrator();
        sim::ClearFailures();
        const std::string failed = sim::CallLog()[first + nth - 1];
        ASSERT_EQ(sim::LiveLocalBlocks(), 0) << failed;
        ASSERT_EQ(sim::LiveSids(), 0) << failed;
        ASSERT_EQ(sim::OpenObjectCount(), 0) << failed;
        // Only a failing revert itself can leave the impersonation on.
        if (failed == "RevertToSelf") {
            RevertToSelf();
        } else {
            ASSERT_FALSE(sim::ThreadImpersonating()) << failed;
        }
    }
}

TEST_F(EnvironmentTest, TheCheckShowsOneMessageForEachWayOfStopping) {
    sim::FailCall("GetVersionExA", 1);
    sim::FailCall("GetVersionExA", 2);
    EXPECT_EQ(Check(), kEnvQueryFailed);
    EXPECT_EQ(m_shown, std::vector<UINT>{IDS_SETUP_ERROR});

    m_shown.clear();
    SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 90);
    EXPECT_EQ(Check(), kEnvWindowsTooOld);
    EXPECT_EQ(m_shown, std::vector<UINT>{IDS_OS_UNSUPPORTED});

    m_shown.clear();
    sim::SetUserRights(sim::UserRights::kStandardUser);
    SetVersion(VER_PLATFORM_WIN32_NT, 6, 1);
    EXPECT_EQ(Check(), kEnvNotAdministrator);
    EXPECT_EQ(m_shown, std::vector<UINT>{IDS_NOT_ADMIN});
}

TEST_F(EnvironmentTest, AnUnsupportedVersionIsToldBeforeAndInsteadOfTheRights) {
    sim::SetUserRights(sim::UserRights::kStandardUser);
    SetVersion(VER_PLATFORM_WIN32_NT, 5, 0);
    EXPECT_EQ(Check(), kEnvWindowsUnknown);
    EXPECT_EQ(m_shown, std::vector<UINT>{IDS_OS_UNSUPPORTED});
    EXPECT_EQ(sim::CallCount("ImpersonateSelf"), 0u);
    EXPECT_EQ(sim::CallCount("AccessCheck"), 0u);
}

TEST_F(EnvironmentTest, ASupportedSystemAndAnAdministratorGoOnSilently) {
    SetVersion(VER_PLATFORM_WIN32_NT, 5, 2);
    EXPECT_EQ(Check(), kEnvWindowsXp);
    SetVersion(VER_PLATFORM_WIN32_NT, 10, 0);
    EXPECT_EQ(Check(), kEnvWindowsVista);
    EXPECT_TRUE(m_shown.empty());
}
