// The thread's start-up and command wait: the auto-start after our own reboot, its countdown
// cut short by the kill request, the TEST command, and the current action texts.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "ops/ops_fixture.h"

namespace snx::test {
namespace {

class LifecycleTest : public OpsTest {
 protected:
  void SetAutoRun(const char* value) {
    platform::HKEY key = nullptr;
    ASSERT_EQ(keys_.CreateKey(platform::HKEY_LOCAL_MACHINE, COpsMngrThread::kAutoRunKey, key),
              platform::RegResult::kOk);
    keys_.SetValue(key, "AutoRun", platform::RegValue::String(value));
    keys_.CloseKey(key);
  }
};

TEST_F(LifecycleTest, AfterOurRebootTheThreadCountsDownThenStartsGoByItself) {
  SetAutoRun("1");
  Load(With({"RstrSecs=30"}));
  ASSERT_TRUE(thread_.Initialize());
  EXPECT_TRUE(owner_.m_bAutoRun);
  EXPECT_EQ(owner_.m_iOpsState, OPS_FAILURES_SEEN);
  EXPECT_EQ(settings_.m_iLastKnownServerState, QOR_FAILS_DETECTED_SERVER_REBOOTONG);
  const auto start = clock_.MonoNow();
  platform::Clock::MonoTime first_cycle;
  on_wait = [&](int) {
    first_cycle = clock_.MonoNow();
    Stop();
    owner_.m_bKillRequest = true;  // and the thread ends
  };
  thread_.KeepAlive();
  // One command wait of a second, then the 30-second countdown, then Go.
  EXPECT_GE(first_cycle - start, std::chrono::seconds(31));
  EXPECT_THAT(log_.Messages(), ::testing::Contains("COpsMngrThread::KeepAlive() is AutoStarting."));
  EXPECT_FALSE(thread_.AutoStart());
  // The first good cycle after our reboot announces the server is back.
  EXPECT_EQ(MailsWithSubject("Server up"), 1);
}

TEST_F(LifecycleTest, TheKillRequestDuringTheCountdownEndsTheThreadWithoutGo) {
  SetAutoRun("1");
  Load(With({"RstrSecs=30"}));
  ASSERT_TRUE(thread_.Initialize());
  int sleeps = 0;
  clock_.on_sleep = [&] {
    if (++sleeps == 10) owner_.m_bKillRequest = true;
  };
  thread_.KeepAlive();
  EXPECT_EQ(sleeps, 10);
  EXPECT_FALSE(log_.HasEvent("COpsMngrThread::Go() 1"));
  EXPECT_TRUE(log_.HasEvent("COpsMngrThread::KeepAlive() exits."));
}

TEST_F(LifecycleTest, ATestCommandWakesTheThreadAndChangesNothing) {
  Load(With({}));
  ASSERT_TRUE(thread_.Initialize());
  EXPECT_FALSE(thread_.AutoStart());  // no AutoRun value: no automatic start
  const std::int32_t state = owner_.m_iOpsState;
  thread_.SetCommand(SNX_TEST);
  owner_.CommandEvent().Fire();
  // The first timed wait comes after the command was handled: then the thread is asked to end.
  const int waits = clock_.wait_count();
  std::thread stopper([&] {
    while (clock_.wait_count() == waits) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    owner_.m_bKillRequest = true;
  });
  thread_.KeepAlive();
  stopper.join();
  EXPECT_TRUE(log_.HasEvent("COpsMngrThread::KeepAlive() Command Event."));
  EXPECT_FALSE(log_.HasEvent("COpsMngrThread::Go() 1"));
  EXPECT_EQ(owner_.m_iOpsState, state);
}

TEST(OpsOwnerTest, ActionTextsFollowTheHandshake) {
  COpsOwner owner;
  EXPECT_EQ(owner.ReadAction(), "");  // nothing published yet
  owner.PublishAction("GO MODE: local URLs", ".");
  owner.PublishAction("", "http://site.test/");  // only the object changes
  EXPECT_EQ(owner.ReadAction(), "GO MODE: local URLs");
  EXPECT_EQ(owner.ReadActionObject(), "http://site.test/");
  owner.m_bActionBeingRead = true;  // a reader is copying: the writer skips its update
  owner.PublishAction("Go MODE: sleeping.", "Ops are normal.");
  owner.m_bActionBeingRead = false;
  EXPECT_EQ(owner.ReadAction(), "GO MODE: local URLs");
}

}  // namespace
}  // namespace snx::test
