// The thread's start-up and command wait: the auto-start after our own reboot, its countdown
// cut short by the kill request, the TEST command, and the current action texts; the reboot
// storm guard, where each "boot" is a new operations thread over the same state folder, so the
// reboot record is read back as after a real reboot.

#include <gmock/gmock.h>

#include <nlohmann/json.hpp>

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
  EXPECT_EQ(
      std::tuple(thread_.AutoStart(), owner_.m_bAutoRun.load(),
                 owner_.m_iOpsState == OPS_FAILURES_SEEN, settings_.m_iLastKnownServerState.load()),
      std::tuple(c.resumes, c.resumes, c.resumes, c.server_state));
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

// The kill request during the countdown ends the thread without Go; an administrator's STOP
// ends the countdown too, and cancels the resume for good.
class CountdownEnds : public LifecycleTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CountdownEnds, TheKillRequestOrAnAdministratorsStopEndsTheCountdownWithoutGo) {
  const bool admin_stop = GetParam();
  StartedAfter("Stopped");
  std::atomic<int> sleeps = 0;
  clock_.on_sleep = [&] {
    if (++sleeps == 5) (admin_stop ? owner_.m_bAdminStop : owner_.m_bKillRequest) = true;
  };
  // Once the thread has taken the STOP up it is asked to end.
  std::thread stopper([&] {
    while (sleeps < 5 || owner_.m_bAdminStop) std::this_thread::sleep_for(1ms);
    owner_.m_bKillRequest = true;
  });
  thread_.KeepAlive();
  stopper.join();
  EXPECT_EQ(sleeps, 5);  // the countdown ended there
  EXPECT_FALSE(log_.HasEvent("COpsMngrThread::Go() 1"));
  EXPECT_TRUE(log_.HasEvent("COpsMngrThread::KeepAlive() exits."));
  EXPECT_EQ(std::tuple(thread_.AutoStart(), AutoRunValue("AutoRun")),
            std::tuple(!admin_stop, admin_stop ? "0" : "1"));
}

INSTANTIATE_TEST_SUITE_P(KillAndStop, CountdownEnds, ::testing::Bool());

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

// The recording power, noting how many reboots the record held when each request came.
class CheckingPower : public platform::FakePower {
 public:
  explicit CheckingPower(const TempDir& root) : root_(root) {}
  bool ForceReboot(std::string_view reason) override {
    std::vector<std::int64_t> seconds;
    CRebootRecord::Parse(root_.Read("var/lib/snxsvc/reboot-record"), seconds, nullptr);
    recorded_at_request.push_back(seconds.size());
    return FakePower::ForceReboot(reason);
  }
  std::vector<std::size_t> recorded_at_request;

 private:
  const TempDir& root_;
};

class RebootGuardTest : public OpsTest {
 protected:
  // The state folder the reboot record goes to. The fixture's installed unit lets a reboot set
  // the AutoRun mark, so the next boot starts as after our own reboot.
  RebootGuardTest() { std::filesystem::create_directories(root_.File("var/lib/snxsvc")); }
  // A new thread reads the AutoRun mark and the record, then runs Go until a reboot ends it or
  // `cycles` cycles have run.
  void Boot(int cycles) {
    current_ = std::make_unique<COpsMngrThread>(owner_, checked_);
    cycles_ = 0;
    on_wait = [this, cycles](int cycle) {
      if (on_cycle) on_cycle(cycle);
      if (cycle >= cycles) owner_.m_bGo = false;
    };
    ASSERT_TRUE(current_->Initialize());
    owner_.m_bGo = true;
    current_->SetCommand(SNX_GO);
    current_->Go();
  }
  std::vector<std::int64_t> Recorded() {
    std::vector<std::int64_t> seconds;
    EXPECT_TRUE(CRebootRecord::Parse(root_.Read("var/lib/snxsvc/reboot-record"), seconds, nullptr));
    return seconds;
  }
  int Withheld() const {
    int n = 0;
    for (const auto& e : log_.Errors()) n += e.rfind("Reboot withheld: ", 0) == 0;
    return n;
  }

  std::function<void(int cycle)> on_cycle;
  CheckingPower power_check_{root_};
  COpsFacilities checked_{clock_, launcher_, power_check_, keys_, factory_, mail_};
  std::unique_ptr<COpsMngrThread> current_;
};

TEST_F(RebootGuardTest, ThirdRebootOfADayIsWithheldUntilTheFirstLeavesTheWindow) {
  Load(With({"RestartsB4Reboot=1", "MaxRebootsPerDay=2"}));
  SetSite(500);  // never recovers
  Boot(10);      // first failure: down alerts and a restart; the second failure reboots
  Boot(10);      // after our reboot: a restart, then the second reboot
  const std::int64_t first_reboot = Recorded().front();
  std::vector<std::string> waiting;
  on_cycle = [&](int) { waiting.push_back(owner_.ReadActionObject()); };
  const int restarts_before = Restarts();
  Boot(400);
  ASSERT_EQ(power_check_.Requests().size(), 3u);
  // Each reboot was recorded before the power call; the record keeps the last 24 hours only.
  EXPECT_EQ(power_check_.recorded_at_request, (std::vector<std::size_t>{1, 2, 2}));
  const std::int64_t apart = Recorded().back() - first_reboot;
  EXPECT_GE(apart, 24 * 3600);
  EXPECT_LT(apart, 24 * 3600 + 15 * 60);  // the first cycle after the window opened
  // One set of down alerts for the episode; a line, a restart and the waiting text for each
  // withheld decision.
  EXPECT_EQ(MailsWithSubject("Server down"), 2);
  const int withheld = Withheld();
  EXPECT_GT(withheld, 100);
  EXPECT_EQ(current_->RebootsWithheldTotal(), static_cast<std::uint64_t>(withheld));
  EXPECT_THAT(log_.Errors(), Contains("Reboot withheld: 2 automatic reboot(s) in the last 24 "
                                      "hours, MaxRebootsPerDay is 2."));
  EXPECT_EQ(Restarts() - restarts_before, withheld + 1);
  ASSERT_GE(waiting.size(), 2u);
  EXPECT_EQ(waiting[0], ".");
  EXPECT_THAT(waiting[1], HasSubstr("Reboot withheld: 2 automatic reboot(s)"));
}

TEST_F(RebootGuardTest, AGoodCycleEndsTheEpisodeWithOneSetOfUpAlerts) {
  Load(With({"RestartsB4Reboot=1", "MaxRebootsPerDay=1"},
            {"[URLS]", kLocalUrl, "[WEBHOOKS]", "http://hooks.test/h"}));
  http_.Answer("hooks.test", 80, "/h", 200);
  SetSite(500);
  Boot(10);  // one reboot: the cap is reached
  // After the boot: restart, withheld, withheld, good, good, first failure, withheld.
  const bool good[] = {false, false, false, true, true, false, false};
  on_cycle = [&](int cycle) { SetSite(cycle < 7 && good[cycle] ? 200 : 500); };
  Boot(7);
  EXPECT_EQ(power_check_.Requests().size(), 1u);
  EXPECT_EQ(Withheld(), 3);
  EXPECT_EQ(current_->Items().GetItemRef(ITEM_RESTART, "Restart")->m_iState, ITEM_STATE_DOWN);
  // Down: the first boot's first failure, the first withheld reboot, the failure after the
  // good cycles (whose withheld reboot adds none). Up: the first good cycle only.
  EXPECT_EQ(MailsWithSubject("Server down"), 3);
  EXPECT_EQ(MailsWithSubject("Server up"), 1);
  EXPECT_EQ(current_->RebootGuardSummary(), "1 1 3");
  // The webhooks hear the same, and of the reboot decided and withheld (once an episode).
  std::vector<std::string> events;
  for (const auto& request : http_.requests()) {
    if (request.host == "hooks.test")
      events.push_back(nlohmann::json::parse(request.body)["event"]);
  }
  EXPECT_EQ(events, (std::vector<std::string>{"down", "reboot_decided", "down", "reboot_withheld",
                                              "up", "down", "reboot_withheld"}));
}

// The record as the thread finds it at start-up, and the cap.
struct StartCase {
  const char* name;
  const char* cap;
  int recent;            // reboots recorded in the last hour
  const char* contents;  // the record's text when `recent` is -1; null: no record
  bool reboots;
  const char* warning;  // the one warning line, or "" for none
};

class RebootRecordAtStart : public RebootGuardTest,
                            public ::testing::WithParamInterface<StartCase> {};

TEST_P(RebootRecordAtStart, DecidesTheFirstRebootDecision) {
  const StartCase& c = GetParam();
  std::vector<std::int64_t> times;
  const auto now = std::chrono::system_clock::to_time_t(clock_.WallNow());
  for (int i = c.recent; i > 0; --i) times.push_back(now - 60 * i);
  if (c.recent >= 0 || c.contents != nullptr) {
    root_.Write("var/lib/snxsvc/reboot-record",
                c.recent >= 0 ? CRebootRecord::Format(times) : c.contents);
  }
  Load(With({"RestartsB4Reboot=1", std::string("MaxRebootsPerDay=") + c.cap}));
  SetSite(500);
  Boot(3);
  EXPECT_EQ(power_check_.Requests().size(), c.reboots ? 1u : 0u);
  EXPECT_EQ(Withheld(), c.reboots ? 0 : 2);
  // One line about the record when it is not good ("" matches any line).
  const int warnings = *c.warning != '\0' ? 1 : 0;
  EXPECT_THAT(log_.Messages(), Contains(HasSubstr("reboot record")).Times(warnings));
  EXPECT_THAT(log_.Messages(), Contains(HasSubstr(c.warning)));
  EXPECT_EQ(Recorded().size(), static_cast<std::size_t>(std::max(c.recent, 0) + c.reboots));
}

const std::string kTooLong(CRebootRecord::kMaxFileBytes + 1, '#');
const StartCase kStartCases[] = {
    {"NoCapRebootsWhateverTheRecordHolds", "0", 50, nullptr, true, ""},
    {"NegativeCapIsNoCap", "-3", 5, nullptr, true, ""},
    {"BelowTheCapReboots", "3", 2, nullptr, true, ""},
    {"AtTheCapWithholds", "3", 3, nullptr, false, ""},
    {"MissingCountsNone", "1", -1, nullptr, true, "Warning: no reboot record"},
    {"WordCountsNone", "1", -1, "# x\r\n1796000000\r\nyesterday\n", true, "line 3 is not a number"},
    {"SignCountsNone", "1", -1, "+5\n", true, "line 1 is not a number"},
    {"TooLongCountsNone", "1", -1, kTooLong.c_str(), true, "is larger than 65536 bytes"},
};

INSTANTIATE_TEST_SUITE_P(Records, RebootRecordAtStart, ::testing::ValuesIn(kStartCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RebootRecordWindow, TimesLeaveAfter24HoursAndFarFutureOnesDoNotCount) {
  TempDir dir;
  platform::FakeClock clock;
  CRebootRecord record(clock, dir.File("record"));
  ASSERT_TRUE(record.Add());
  clock.Advance(std::chrono::hours(23));
  ASSERT_TRUE(record.Add());
  clock.Advance(std::chrono::hours(1));  // the first is exactly 24 hours old
  EXPECT_EQ(record.CountInWindow(), 1);
  // The file still holds both (only a change rewrites it). By a clock set back an hour the
  // first is 23 hours old again; by a clock set back two days both lie too far ahead.
  clock.SetWall(clock.WallNow() - std::chrono::hours(1));
  CRebootRecord again(clock, dir.File("record"));
  EXPECT_EQ(again.Load(), CRebootRecord::LoadResult::kOk);
  EXPECT_EQ(again.CountInWindow(), 2);
  clock.SetWall(clock.WallNow() - std::chrono::hours(48));
  EXPECT_EQ(again.CountInWindow(), 0);
}

}  // namespace
}  // namespace snx::test
