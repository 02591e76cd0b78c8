// The thread owner with a real operations thread: start-up, a GO command carried by the flags
// and "EventCommand", and a teardown while Go waits between cycles, which must not wait for the
// next cycle. Time is real here (the thread waits for real); the fakes stand for everything else.

#include "service/thread_owner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "ops/ops_fixture.h"
#include "platform/clock.h"

namespace snx::test {
namespace {

// The facilities of the fixture with the real clock.
class ThreadOwnerTest : public OpsTest {
 protected:
  ThreadOwnerTest() : real_{platform::DefaultFacility<platform::Clock>()} {}
  COpsFacilities RealTime() {
    COpsFacilities f = facilities_;
    return COpsFacilities{real_, f.launcher, f.power, f.keys, f.components, f.mail, f.minute};
  }
  // Polls a condition for up to `limit` of real time.
  template <class F>
  static bool Eventually(F ready, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }
  platform::Clock& real_;
  platform::ScopedInstall<platform::Clock> real_clock_{platform::DefaultFacility<platform::Clock>()};
};

TEST_F(ThreadOwnerTest, GoRunsUntilTeardownWhichEndsDuringTheWaitBetweenCycles) {
  Load(With({"MinuteInterval=10"}));
  clock_.on_sleep = nullptr;
  auto owner = std::make_unique<CThreadOwner>(RealTime());
  owner->SetSettings(&settings_);
  owner->SetProgramDirectory(Folder());
  ASSERT_TRUE(owner->StartThreads());
  EXPECT_EQ(owner->m_iOpsState, OPS_READY);
  EXPECT_TRUE(owner->m_bThreadsRunning);
  EXPECT_FALSE(owner->m_bThreadEnded);

  // The GO command as the command object hands it over.
  owner->m_bTest = false;
  owner->m_bGo = true;
  owner->SetPendingCommand(SNX_GO);
  owner->FireCommandEvent();
  // The good cycle writes the heartbeat just before its wait.
  ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(dir_.File("Beat.txt")); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(owner->m_bGoLoopRunning);
  EXPECT_EQ(owner->m_iOpsState, OPS_GO_IDLE);
  EXPECT_EQ(owner->ReadAction(), "Go MODE: waiting for next test :");

  // Teardown in the middle of the 10-minute wait: the thread sees the kill request.
  EXPECT_TRUE(owner->KillAllThreads());
  EXPECT_TRUE(owner->m_bThreadEnded);
  EXPECT_FALSE(owner->m_bThreadsRunning);
  EXPECT_EQ(owner->m_iOpsState, OPS_STOPPED);
  EXPECT_EQ(owner->ReadAction(), "Exiting GO MODE: :");
  owner.reset();
  EXPECT_TRUE(log_.HasEvent("COpsMngrThread::ExitInstance() 1."));
  EXPECT_FALSE(log_.HasError("SNXSVC CThreadOwner::KillAllThreads() failed."));
}

TEST_F(ThreadOwnerTest, AThreadThatNeverReportsItsStartUpLeavesStateReady) {
  // Without the watcher component the restart engine cannot initialize.
  platform::FakeComponentFactory bare(&keys_);
  Load(With({}));
  platform::FakeClock fast;  // the owner's 75 polls cost no real time
  COpsFacilities f{fast, launcher_, power_, keys_, bare, mail_};
  {
    CThreadOwner owner(f);
    owner.SetSettings(&settings_);
    owner.SetProgramDirectory(Folder());
    EXPECT_FALSE(owner.StartThreads());
    EXPECT_EQ(owner.m_iOpsState, OPS_READY);
    EXPECT_TRUE(owner.m_bThreadsRunning);
  }  // the destructor ends and joins the thread
  EXPECT_TRUE(log_.HasEvent("SNXSVC CThreadOwner::KillAllThreads() called."));
}

TEST_F(ThreadOwnerTest, AnOwnerNeverStartedDoesNotKill) {
  { CThreadOwner owner(facilities_); }
  EXPECT_TRUE(log_.HasEvent("SNXSVC CThreadOwner::Destructor."));
  EXPECT_FALSE(log_.HasEvent("SNXSVC CThreadOwner::KillAllThreads() called."));
}

}  // namespace
}  // namespace snx::test
