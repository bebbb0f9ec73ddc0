// Removal of the download copies and the font cache, the WOW64 guard around
// the system-folder calls, and the restart request.
#include <cstring>
#include <string>
#include <vector>

#include "app/fontcache.h"
#include "tests/support/sim_fixture.h"

using testdata::BytesOf;

namespace {

const char kNativeCache[] = "C:\\Windows\\System32\\fntcache.dat";
const char kWow64Cache[] = "C:\\Windows\\SysWOW64\\fntcache.dat";

class FontCacheTest : public testdata::SimMachineTest {
protected:
    void TearDown() override {
        for (INT_PTR i = 0; i < m_downloads.GetSize(); ++i) delete[] m_downloads.GetAt(i);
        m_downloads.RemoveAll();
        EXPECT_EQ(sim::OpenObjectCount(), 0);
        EXPECT_TRUE(sim::Wow64RedirectionEnabled()) << "redirection left switched off";
        testdata::SimMachineTest::TearDown();
    }

    void AddDownload(const std::string& path) {
        char* copy = new char[path.size() + 1];
        std::memcpy(copy, path.c_str(), path.size() + 1);
        m_downloads.Add(copy);
    }

    CTypedPtrArray<CObArray, char*> m_downloads;
};

}  // namespace

TEST_F(FontCacheTest, TheCachePathIsInTheSystemFolder) {
    EXPECT_EQ(GetFontCachePath(), kNativeCache);
    // A folder reported with its separator gets no second one.
    sim::SetSystemFolder("D:\\WINNT\\system32\\");
    EXPECT_EQ(GetFontCachePath(), "D:\\WINNT\\system32\\fntcache.dat");
    // No system folder: no path at all, rather than a bare name that would
    // mean a file in the current folder.
    sim::FailCall("SHGetSpecialFolderPathA");
    EXPECT_EQ(GetFontCachePath(), "");
}

TEST_F(FontCacheTest, DownloadCopiesAndTheCacheAreDeletedAndFailuresIgnored) {
    const std::string dl = "D:\\Users\\k\\AppData\\Korvane\\Fonts\\Download\\add\\";
    MapNewDrive('D');
    Put(dl + "10001", BytesOf("a"));
    Put(dl + "10002", BytesOf("b"));
    Put(dl + "10004", BytesOf("d"));
    Put(kNativeCache, BytesOf("cache"));
    AddDownload(dl + "10001");
    AddDownload(dl + "10003");  // already gone
    AddDownload(dl + "10002");
    AddDownload(dl + "10004");
    sim::FailCall("DeleteFileA", 3);  // 10002 cannot be deleted

    DeleteFontCache(m_downloads);
    EXPECT_FALSE(Exists(dl + "10001"));
    EXPECT_TRUE(Exists(dl + "10002"));
    EXPECT_FALSE(Exists(dl + "10004")) << "the loop must go on after a failure";
    EXPECT_FALSE(Exists(kNativeCache));
}

TEST_F(FontCacheTest, WithoutACacheFileOnlyTheCopiesAreTouched) {
    Put("C:\\dl\\10001", BytesOf("a"));
    AddDownload("C:\\dl\\10001");
    DeleteFontCache(m_downloads);
    EXPECT_FALSE(Exists("C:\\dl\\10001"));
    EXPECT_EQ(sim::CallCount("DeleteFileA"), 1u);
}

TEST_F(FontCacheTest, WithNoCopiesOnlyTheCacheIsHandled) {
    Put(kNativeCache, BytesOf("cache"));
    DeleteFontCache(m_downloads);
    EXPECT_FALSE(Exists(kNativeCache));
    EXPECT_EQ(sim::CallCount("DeleteFileA"), 1u);
}

TEST_F(FontCacheTest, AThirtyTwoBitProgramWouldReachTheSysWow64FileUnguarded) {
    // What the guard is for: redirected, the system-folder path names the
    // 32-bit folder's file.
    sim::SetWow64(sim::Wow64::kProcess32);
    Put(kNativeCache, BytesOf("native"));
    Put(kWow64Cache, BytesOf("wow64"));
    ASSERT_TRUE(DeleteFileA(kNativeCache));
    EXPECT_TRUE(Exists(kNativeCache));
    EXPECT_FALSE(Exists(kWow64Cache));
}

TEST_F(FontCacheTest, OnSixtyFourBitWindowsTheNativeCacheIsDeleted) {
    sim::SetWow64(sim::Wow64::kProcess32);
    Put(kNativeCache, BytesOf("native"));
    Put(kWow64Cache, BytesOf("wow64"));
    DeleteFontCache(m_downloads);
    EXPECT_FALSE(Exists(kNativeCache));
    EXPECT_TRUE(Exists(kWow64Cache));
    // One guard per call, each switched back.
    EXPECT_EQ(sim::CallCount("Wow64DisableWow64FsRedirection"), 2u);
    EXPECT_EQ(sim::CallCount("Wow64RevertWow64FsRedirection"), 2u);
}

TEST_F(FontCacheTest, OnlyA32BitCacheIsNotMistakenForTheNativeOne) {
    sim::SetWow64(sim::Wow64::kProcess32);
    Put(kWow64Cache, BytesOf("wow64"));
    DeleteFontCache(m_downloads);
    EXPECT_TRUE(Exists(kWow64Cache));
    EXPECT_EQ(sim::CallCount("DeleteFileA"), 0u);
}

TEST_F(FontCacheTest, WhereRedirectionCannotBeSwitchedOffPathsAreTakenAsUsual) {
    Put(kNativeCache, BytesOf("native"));
    DeleteFontCache(m_downloads);  // no switch at all
    EXPECT_FALSE(Exists(kNativeCache));

    Put(kNativeCache, BytesOf("native"));
    sim::SetWow64(sim::Wow64::kNative);  // a switch that does nothing
    DeleteFontCache(m_downloads);
    EXPECT_FALSE(Exists(kNativeCache));
    EXPECT_EQ(sim::CallCount("Wow64RevertWow64FsRedirection"), 0u) << "nothing to revert";

    // The switch failing: the calls run redirected.
    sim::SetWow64(sim::Wow64::kProcess32);
    Put(kNativeCache, BytesOf("native"));
    Put(kWow64Cache, BytesOf("wow64"));
    sim::FailCall("Wow64DisableWow64FsRedirection", 1);
    sim::FailCall("Wow64DisableWow64FsRedirection", 2);
    DeleteFontCache(m_downloads);
    EXPECT_TRUE(Exists(kNativeCache));
    EXPECT_FALSE(Exists(kWow64Cache));
}

TEST_F(FontCacheTest, TheGuardRestoresWhatItFoundAndRevertsOnce) {
    sim::SetWow64(sim::Wow64::kProcess32);
    {
        CWow64FsRedirection outer;
        EXPECT_FALSE(sim::Wow64RedirectionEnabled());
        {
            CWow64FsRedirection inner;
            inner.Revert();
            // The inner guard found redirection off and leaves it so.
            EXPECT_FALSE(sim::Wow64RedirectionEnabled());
            inner.Revert();
        }
        EXPECT_FALSE(sim::Wow64RedirectionEnabled());
    }
    EXPECT_TRUE(sim::Wow64RedirectionEnabled());
    EXPECT_EQ(sim::CallCount("Wow64RevertWow64FsRedirection"), 2u);
}

TEST_F(FontCacheTest, RestartIsForcedWithTheShutdownPrivilegeEnabled) {
    EXPECT_EQ(RestartSystem(), 1);
    ASSERT_EQ(sim::RestartRequests().size(), 1u);
    EXPECT_EQ(sim::RestartRequests()[0].flags, 6u);
    EXPECT_EQ(sim::RestartRequests()[0].reason, 0u);
    EXPECT_TRUE(sim::RestartRequests()[0].privilegeEnabled);
}

TEST_F(FontCacheTest, TheRestartIsAskedForEvenWithoutThePrivilege) {
    sim::SetShutdownPrivilegeHeld(false);
    EXPECT_EQ(RestartSystem(), 1);
    sim::SetShutdownPrivilegeHeld(true);
    sim::FailCall("OpenProcessToken");
    EXPECT_EQ(RestartSystem(), 1);
    sim::FailCall("LookupPrivilegeValueA");
    EXPECT_EQ(RestartSystem(), 1);
    ASSERT_EQ(sim::RestartRequests().size(), 3u);
    for (const sim::RestartRequest& r : sim::RestartRequests()) {
        EXPECT_EQ(r.flags, static_cast<UINT>(EWX_REBOOT | EWX_FORCE));
        EXPECT_FALSE(r.privilegeEnabled);
    }
}
