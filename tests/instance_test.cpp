// One copy per executable name, across simulated program runs.
#include "app/instance.h"
#include "tests/support/sim_fixture.h"

namespace {

class InstanceTest : public testdata::SimMachineTest {
protected:
    void TearDown() override {
        sim::EndProgramRun();
        testdata::SimMachineTest::TearDown();
    }
};

}  // namespace

TEST_F(InstanceTest, TheNameIsTheExecutableNameWithExe) {
    EXPECT_EQ(SingleInstanceName("upd"), "upd.EXE");
    HANDLE mutex = nullptr;
    ASSERT_TRUE(TakeSingleInstance("Updater", &mutex));
    EXPECT_NE(mutex, nullptr);
    EXPECT_TRUE(sim::MutexExists("Updater.EXE"));
}

TEST_F(InstanceTest, ASecondCopyIsRefusedWhileTheFirstRuns) {
    HANDLE first = nullptr;
    ASSERT_TRUE(TakeSingleInstance("upd", &first));
    HANDLE second = reinterpret_cast<HANDLE>(0x1);
    EXPECT_FALSE(TakeSingleInstance("upd", &second));
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(sim::OpenObjectCount(), 1) << "the second copy must close what it opened";

    // Shutting the first down keeps the name taken until its process ends.
    ReleaseSingleInstance(first);
    EXPECT_FALSE(TakeSingleInstance("upd", &second));
    sim::EndProgramRun();
    EXPECT_TRUE(TakeSingleInstance("upd", &second));
}

TEST_F(InstanceTest, AnotherNameOrLetterCaseIsAnotherProgram) {
    HANDLE first = nullptr, other = nullptr, upper = nullptr;
    ASSERT_TRUE(TakeSingleInstance("upd", &first));
    EXPECT_TRUE(TakeSingleInstance("upd2", &other));
    EXPECT_TRUE(TakeSingleInstance("UPD", &upper));
}

TEST_F(InstanceTest, ACopyHeldByAnotherProcess) {
    sim::HoldMutexElsewhere("upd.EXE");
    HANDLE mutex = nullptr;
    EXPECT_FALSE(TakeSingleInstance("upd", &mutex));
    EXPECT_EQ(sim::CallCount("CreateMutexA"), 0u);
    sim::ReleaseMutexElsewhere("upd.EXE");
    EXPECT_TRUE(TakeSingleInstance("upd", &mutex));
}

TEST_F(InstanceTest, TwoCopiesStartedTogetherDoNotBothRun) {
    // The other copy creates the name between this copy's look and its creation.
    sim::HoldMutexElsewhere("upd.EXE");
    sim::FailCall("OpenMutexA", 1, ERROR_FILE_NOT_FOUND);
    HANDLE mutex = nullptr;
    EXPECT_FALSE(TakeSingleInstance("upd", &mutex));
    EXPECT_EQ(mutex, nullptr);
    EXPECT_EQ(sim::OpenObjectCount(), 0);
}

TEST_F(InstanceTest, AMutexThatCannotBeCreatedDoesNotStopTheProgram) {
    sim::FailCall("CreateMutexA", 1, ERROR_NOT_ENOUGH_MEMORY);
    HANDLE mutex = reinterpret_cast<HANDLE>(0x1);
    EXPECT_TRUE(TakeSingleInstance("upd", &mutex));
    EXPECT_EQ(mutex, nullptr);
}
