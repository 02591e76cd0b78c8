// The thread's start-up and command wait: the auto-start after our own reboot, its countdown
// cut short by the kill request, the TEST command, and the current action texts.

#include <gmock/gmock.h>

#include "ops/ops_fixture.h"

namespace snx::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

class LifecycleTest : public OpsTest {
 protected:
  // A start after a service in Go mode ended so.
  void StartedAfter(const char* last_end) {
    SetAutoRun("1", last_end);
    Load(With({"RstrSecs=30"}));
    ASSERT_TRUE(thread_.Initialize());
  }
  // Runs the command wait until its next timed wait, then asks the thread to end.
  void OneRoundOfKeepAlive() {
    const int waits = clock_.wait_count();
    std::thread stopper([&] {
      while (clock_.wait_count() == waits) std::this_thread::sleep_for(1ms);
      owner_.m_bKillRequest = true;
    });
    thread_.KeepAlive();
    stopper.join();
  }
};

TEST_F(LifecycleTest, AfterOurRebootTheThreadCountsDownThenStartsGoByItself) {
  StartedAfter("Reboot");
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
  StartedAfter("Reboot");
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
  OneRoundOfKeepAlive();
  EXPECT_TRUE(log_.HasEvent("COpsMngrThread::KeepAlive() Command Event."));
  EXPECT_FALSE(log_.HasEvent("COpsMngrThread::Go() 1"));
  EXPECT_EQ(owner_.m_iOpsState, state);
}

// Every end of a service that was in Go mode resumes Go at the next start, and says why; only
// after our own reboot is the server taken as "Rebooting".
struct ResumeCase {
  const char* name;
  const char* auto_run;
  const char* last_end;  // nullptr: none written (a mark from an older version)
  bool resumes;
  const char* reason;  // a part of it
  std::int32_t server_state;
};

class ResumeTable : public OpsTest, public ::testing::WithParamInterface<ResumeCase> {};

TEST_P(ResumeTable, TheStartReadsTheMarkAndHowTheServiceEnded) {
  const ResumeCase& c = GetParam();
  SetAutoRun(c.auto_run, c.last_end);
  Load(With({"SvrStatus=Restarting"}));
  ASSERT_TRUE(thread_.Initialize());
  EXPECT_EQ(thread_.AutoStart(), c.resumes);
  EXPECT_EQ(owner_.m_bAutoRun, c.resumes);
  EXPECT_EQ(settings_.m_iLastKnownServerState, c.server_state);
  EXPECT_THAT(thread_.ResumeReason(), ::testing::HasSubstr(c.reason));
  if (c.resumes) {
    EXPECT_THAT(log_.Messages(),
                Contains("Resuming GO mode by itself: " + thread_.ResumeReason() + "."));
    EXPECT_EQ(AutoRunValue("LastEnd"), "Running");  // a crash from here on is told as one
  }
}

// clang-format off
const ResumeCase kResumeCases[] = {
    {"OwnReboot", "1", "Reboot", true, "rebooted the machine", QOR_FAILS_DETECTED_SERVER_REBOOTONG},
    {"StoppedBySystem", "1", "Stopped", true, "the system stopped the service", QOR_FAILS_DETECTED_SERVER_RESTARTING},
    {"Crash", "1", "Running", true, "without a stop", QOR_FAILS_DETECTED_SERVER_RESTARTING},
    {"OlderMark", "1", nullptr, true, "without a stop", QOR_FAILS_DETECTED_SERVER_RESTARTING},
    {"AdministratorStopped", "0", "Stopped", false, "", QOR_FAILS_DETECTED_SERVER_RESTARTING},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Ends, ResumeTable, ::testing::ValuesIn(kResumeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LifecycleTest, GoMarksAutoRunAndOnlyAnAdministratorsStopClearsIt) {
  Load(With({}));
  StopAfter(1);
  StartAndGo();
  EXPECT_EQ(AutoRunValue("AutoRun"), "1");
  EXPECT_EQ(AutoRunValue("LastEnd"), "Running");
  // The system's stop (SIGTERM: no administrator's flag) ends the thread: the mark stays and
  // the next start knows the service was stopped, not crashed.
  owner_.m_bKillRequest = true;
  thread_.ExitInstance();
  EXPECT_EQ(AutoRunValue("AutoRun"), "1");
  EXPECT_EQ(AutoRunValue("LastEnd"), "Stopped");

  // An administrator's STOP, seen at the thread's next command wait.
  owner_.m_bKillRequest = false;
  StartAndGo();
  owner_.m_bAdminStop = true;
  OneRoundOfKeepAlive();
  EXPECT_EQ(AutoRunValue("AutoRun"), "0");
  EXPECT_FALSE(owner_.m_bAdminStop);
  EXPECT_THAT(log_.Messages(), Contains(HasSubstr("AutoRun is off")));
}

TEST_F(LifecycleTest, AnAdministratorsStopDuringTheCountdownCancelsTheResume) {
  StartedAfter("Stopped");
  std::atomic<int> sleeps = 0;
  clock_.on_sleep = [&] {
    if (++sleeps == 5) owner_.m_bAdminStop = true;
  };
  // Once the thread has taken the STOP up it is asked to end.
  std::thread stopper([&] {
    while (sleeps < 5 || owner_.m_bAdminStop) std::this_thread::sleep_for(1ms);
    owner_.m_bKillRequest = true;
  });
  thread_.KeepAlive();
  stopper.join();
  EXPECT_EQ(sleeps, 5);  // the countdown ended at the STOP
  EXPECT_FALSE(log_.HasEvent("COpsMngrThread::Go() 1"));
  EXPECT_FALSE(thread_.AutoStart());
  EXPECT_EQ(AutoRunValue("AutoRun"), "0");
}

TEST_F(LifecycleTest, ARebootDecisionKeepsTheMarkAndItsEndOutlivesTheShutdownStop) {
  Load(With({"RestartsB4Reboot=1"}));
  SetSite(500);
  StartAndGo();  // cycle 1 restarts, cycle 2 reboots and leaves Go
  ASSERT_EQ(power_.Requests().size(), 1u);
  owner_.m_bKillRequest = true;  // the shutdown's SIGTERM
  thread_.ExitInstance();
  EXPECT_EQ(AutoRunValue("AutoRun"), "1");
  EXPECT_EQ(AutoRunValue("LastEnd"), "Reboot");
}

TEST_F(LifecycleTest, WithoutTheServiceUnitGoCannotMarkAutoRun) {
  std::filesystem::remove(root_.File(platform::kServiceUnitFile));
  Load(With({}));
  StopAfter(1);
  StartAndGo();
  EXPECT_EQ(AutoRunValue("AutoRun"), "(none)");
  EXPECT_TRUE(log_.HasError("Shortcut to Sentinex not found. Should be at:"));
  EXPECT_TRUE(log_.HasError("Cannot restart on reboot without this shortcut."));
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
