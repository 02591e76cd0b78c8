// Go mode over fakes, cycle by cycle on a virtual clock: which cycles restart, which reboots,
// which send the down and up alerts, the states they leave, and how Go ends; settings the
// administrator changes while Go runs, and a settings file that cannot be saved (the install
// folder on a full disk): the state in memory decides the alerts and restarts.

#include <gmock/gmock.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "ops/ops_fixture.h"

namespace snx::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

// One row of the alert table: the site's answer in each cycle and what must come of it.
struct AlertCase {
  const char* name;
  const char* restarts_b4_reboot;
  bool after_reboot;         // AutoRun "1": the thread starts as after a reboot made by us
  std::vector<bool> cycles;  // true: the local URL answers 200 in that cycle
  int down_mails, up_mails, down_calls, up_calls;
  int restarts;
  bool reboot;
  std::int32_t server_state;  // at the end
  std::int32_t ops_state;     // at the end
};

class GoAlertTable : public OpsTest, public ::testing::WithParamInterface<AlertCase> {};

TEST_P(GoAlertTable, RestartsRebootsAndAlertsAsTheCyclesGo) {
  const AlertCase& c = GetParam();
  Load(With({std::string("RestartsB4Reboot=") + c.restarts_b4_reboot}));
  if (c.after_reboot) SetAutoRun("1", "Reboot");
  // The answer of cycle n is set when the wait before it begins.
  SetSite(c.cycles[0] ? 200 : 500);
  on_wait = [&](int cycle) {
    if (cycle >= static_cast<int>(c.cycles.size())) return Stop();
    SetSite(c.cycles[cycle] ? 200 : 500);
  };
  StartAndGo();

  EXPECT_EQ(std::vector({MailsWithSubject("Server down"), MailsWithSubject("Server up"),
                         PhoneCalls("Server down"), PhoneCalls("Server up"), Restarts(),
                         static_cast<int>(power_.Requests().size())}),
            std::vector({c.down_mails, c.up_mails, c.down_calls, c.up_calls, c.restarts,
                         static_cast<int>(c.reboot)}));
  EXPECT_EQ(std::tuple(settings_.m_iLastKnownServerState.load(), owner_.m_iOpsState.load(),
                       owner_.m_bGoLoopRunning.load(), ItemState(ITEM_RESTART, "Restart")),
            std::tuple(c.server_state, c.ops_state, false,
                       c.reboot ? ITEM_STATE_DOWN
                                : (c.restarts > 0 ? ITEM_STATE_UP : ITEM_STATE_UNKNOWN)));
  // The state the file keeps is the state in memory.
  CRamFileRO saved;
  ASSERT_TRUE(saved.Initialize(Folder(), CAllSets::kSettingsFileName));
  EXPECT_STREQ(saved.GetKey("SvrStatus"), CAllSets::ServerStateWord(c.server_state));
}

// clang-format off
const AlertCase kAlertCases[] = {
    // name, RestartsB4Reboot, after our reboot, cycles; down/up mails, down/up calls, restarts,
    // reboot, server state and ops state at the end
    {"GoodAfterGoodSendsNothing", "2", false, {true, true}, 0, 0, 0, 0, 0, false, QOR_SERVER_UP, OPS_STOPPED},
    {"FailureThatRecoversSendsOneDownAndOneUpSet", "2", false, {false, true, true}, 1, 1, 1, 1, 1, false, QOR_SERVER_UP, OPS_STOPPED},
    {"TwoRestartsThenTheThirdFailureReboots", "2", false, {false, false, false}, 1, 0, 1, 0, 2, true, QOR_FAILS_DETECTED_SERVER_REBOOTONG, OPS_FAILURES_SEEN},
    {"NoLimitRestartsForEver", "0", false, {false, false, false, false, false}, 1, 0, 1, 0, 5, false, QOR_FAILS_DETECTED_SERVER_RESTARTING, OPS_FAILURES_SEEN},
    {"FirstGoodCycleAfterOurRebootSendsUp", "2", true, {true}, 0, 1, 0, 1, 0, false, QOR_SERVER_UP, OPS_STOPPED},
    {"FirstFailureAfterOurRebootSendsNoDown", "2", true, {false, true}, 0, 1, 0, 1, 1, false, QOR_SERVER_UP, OPS_STOPPED},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cycles, GoAlertTable, ::testing::ValuesIn(kAlertCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OpsTest, RemoteFailureWithGoodLocalTestsIsStateGoRemoteFailingWithoutRestart) {
  Load(With({}, {"[URLS]", kLocalUrl, "[RURLS]", kRemoteUrl}));
  http_.Answer("far.test", 80, "/", 503);
  std::int32_t state_in_wait = 0;
  on_wait = [&](int cycle) {
    state_in_wait = owner_.m_iOpsState;
    if (cycle == 2) Stop();
  };
  StartAndGo();
  // Two failing passes: no restart, no down alert.
  EXPECT_EQ(std::tuple(state_in_wait, Restarts(), MailsWithSubject("Server down")),
            std::tuple(OPS_GO_REMOTE_FAILING, 0, 0));
  EXPECT_TRUE(
      log_.HasEvent("Detects Failing Remote URL(s) but Local Ops are NORMAL. System is running."));
}

// A STOP or the kill request during the 10-minute wait ends Go within one 2-second slice.
class GoEnds : public OpsTest, public ::testing::WithParamInterface<bool> {};

TEST_P(GoEnds, StopOrKillDuringTheWaitEndsGoWithinASlice) {
  const bool kill = GetParam();
  Load(With({}));
  platform::Clock::MonoTime asked;
  on_wait = [&](int) {
    asked = clock_.MonoNow();
    if (kill) {
      owner_.m_bKillRequest = true;
    } else {
      Stop();
    }
  };
  StartAndGo();
  EXPECT_LE(clock_.MonoNow() - asked, std::chrono::seconds(2));
  EXPECT_EQ(std::tuple(cycles_, owner_.m_iOpsState.load(), owner_.ReadAction()),
            std::tuple(1, OPS_STOPPED, "Exiting GO MODE: :"));
}

INSTANTIATE_TEST_SUITE_P(StopAndKill, GoEnds, ::testing::Bool());

TEST_F(OpsTest, GoLogsEachProblemOfTheSettingsAndMinuteIntervalZeroWaitsTenMinutes) {
  Load(With({"EmailEnabeld=1", "MinuteInterval=0"}));
  std::vector<platform::Clock::MonoTime> starts;
  on_wait = [&](int cycle) {
    starts.push_back(clock_.MonoNow());
    if (cycle == 2) Stop();
  };
  StartAndGo();
  EXPECT_THAT(log_.Messages(), Contains(HasSubstr("EmailEnabeld: did you mean EmailEnabled?")));
  EXPECT_THAT(log_.Messages(), Contains(HasSubstr("MinuteInterval=0: ")));
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_GE(starts[1] - starts[0], std::chrono::minutes(10));
  EXPECT_LT(starts[1] - starts[0], std::chrono::minutes(10) + std::chrono::seconds(5));
}

TEST_F(OpsTest, AGoodCycleWritesTheHeartbeatAndAFailedOneNamesTheWatchedProgram) {
  // A watched program whose activity stands still: the watcher names it.
  Load(With({}, {"[URLS]", kLocalUrl, "[STOPS]", "/opt/apps/server.bin"}));
  processes_.Add(4242, "/opt/apps/server.bin");
  watcher_.working = false;
  StopAfter(1);
  StartAndGo();
  EXPECT_TRUE(log_.HasError("Failure in Elapsed Time of server stands still"));
  EXPECT_THAT(log_.Errors(), Contains("FAILURE DETECTED. Attempting RESTART........"));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("Beat.txt")));

  // Activity again: the next Go's good cycle writes the heartbeat.
  watcher_.working = true;
  cycles_ = 0;
  Go();
  EXPECT_THAT(dir_.Read("Beat.txt"), HasSubstr("System working."));
}

TEST_F(OpsTest, MissingRequiredSettingRefusesGoWithItsMessage) {
  Lines lines = With({});
  lines.erase(std::find(lines.begin(), lines.end(), "AdminId=admin"));
  Load(lines);
  StartAndGo();
  EXPECT_TRUE(log_.HasError("COpsMngrThread::LowLevelInit() Requireds are Invalid."));
  ASSERT_EQ(boxes_.boxes().size(), 1u);
  EXPECT_EQ(boxes_.boxes()[0].text,
            "Required LOGON ID was not entered. \r\n Load it in 'Settings'.");
  EXPECT_TRUE(http_.requests().empty());  // Go never began
}

TEST_F(OpsTest, TheLocalPassPausesOnceAfterItsUrlsNotAfterEachUrl) {
  Load(With({}, {"[URLS]", "http://site.test/a", "http://site.test/b", "http://site.test/c"}));
  for (const char* path : {"/a", "/b", "/c"}) SetSite(200, path);
  int pauses = 0;  // sleeps of the local pass, before its "testing done"
  const auto hook = clock_.on_sleep;
  clock_.on_sleep = [&] {
    if (!log_.HasEvent("COpsMngrThread::RunUrls() testing done")) ++pauses;
    hook();
  };
  StopAfter(1);
  StartAndGo();
  EXPECT_TRUE(log_.HasEvent("COpsMngrThread::RunUrls() all LOCAL URLS are alive."));
  EXPECT_EQ(pauses, 1);
}

constexpr const char* kSecondUrl = "http://site.test/second";

int Count(const std::vector<std::string>& lines, std::string_view text) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.find(text) != std::string::npos;
  }));
}

TEST_F(OpsTest, AChangeMadeWhileRunningIsTakenUpAtTheNextCycle) {
  Load(With({}));
  SetSite(200);
  SetSite(500, "/second");
  on_wait = [&](int cycle) {
    if (cycle == 1) {
      ConfChange(Folder(), [](CRamFileRO& f) {
        return f.AddLineToSection("[URLS]", kSecondUrl) && f.SetKey("EmailSubjectDn", "Now down") &&
               f.SetKey("UptimeSizeLimit", "250000");
      });
    }
    if (cycle >= 2) Stop();
  };
  StartAndGo();
  // The URL added after cycle 1 was tested in cycle 2, failed, and the new subject went out.
  EXPECT_EQ(Count(log_.Messages(), "settings reloaded"), 1);
  EXPECT_TRUE(log_.HasError(std::string("Failed URL: ") + kSecondUrl));
  EXPECT_EQ(MailsWithSubject("Now down"), 1);
  EXPECT_EQ(Restarts(), 1);
  EXPECT_EQ(thread_.Items().UptimeLog().SizeLimit(), 250000);
}

TEST_F(OpsTest, ABrokenSettingsFileKeepsTheLastGoodSettingsWithOneErrorLine) {
  Load(With({}));
  on_wait = [&](int cycle) {
    if (cycle == 1)
      dir_.Write("AutoSet.caf", "[KEYS]\r\nAdminId=" + std::string(300, 'x') + "\r\n");
    if (cycle == 2) SetSite(500);
    if (cycle >= 3) Stop();
  };
  StartAndGo();
  EXPECT_EQ(Count(log_.Errors(), "settings not reloaded"), 1);
  EXPECT_EQ(Count(log_.Messages(), "settings reloaded"), 0);
  // Watching went on with the last good settings: the failure of cycle 3 was reported.
  EXPECT_EQ(MailsWithSubject("Server down"), 1);
  EXPECT_EQ(Restarts(), 1);
  EXPECT_EQ(settings_.m_sAdminId.ToString(), "admin");
}

TEST_F(OpsTest, AChangedRestartProgramRunsFromTheNextCycleAndAnUntrustedOneIsRefusedOnce) {
  Load(With({}));
  const auto program = [&](const std::string& step, mode_t mode) {
    dir_.Write("Sentinex.ini", "Begin=Detection\nStart=" + step + "\nEnd=\n");
    ::chmod(dir_.File("Sentinex.ini").c_str(), mode);
  };
  program("first", 0600);
  on_wait = [&](int cycle) {
    if (cycle == 1) program("second-one", 0600);
    if (cycle == 2) program("third-program", 0666);  // anyone may change it: refused
    if (cycle == 4) ::chmod(dir_.File("Sentinex.ini").c_str(), 0600);  // mended
    if (cycle == 5) ::unlink(dir_.File("Sentinex.ini").c_str());
    if (cycle >= 7) Stop();
  };
  GoReady();
  settings_.m_bUseIni = true;  // the detection section runs in each cycle
  thread_.Go();
  const auto runs = [&](const std::string& line) {
    const auto lines = launcher_.CommandLines();
    return std::count(lines.begin(), lines.end(), line);
  };
  EXPECT_EQ(runs("first"), 1);
  EXPECT_EQ(runs("second-one"), 3);     // cycles 2 to 4: the untrusted file left it in force
  EXPECT_EQ(runs("third-program"), 3);  // cycles 5 to 7: a missing file leaves it in force
  EXPECT_EQ(Count(log_.Messages(), "restart program reloaded"), 2);
  EXPECT_EQ(Count(log_.Errors(), "restart program not reloaded"), 2);
  EXPECT_EQ(Count(log_.Errors(), "is writable by everyone"), 1);
  EXPECT_EQ(Count(log_.Errors(), "restart program not reloaded: there is no file"), 1);
}

// The install folder on a small tmpfs that is filled up once the settings are written.
class FullDiskTest : public OpsTest {
 protected:
  void SetUp() override {
    if (::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, "size=256k") != 0) {
      GTEST_SKIP() << "cannot mount a small tmpfs over the install folder (" << std::strerror(errno)
                   << "); not tested here";
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
  }
  void Fill() {
    std::ofstream filler(dir_.File("filler"), std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
  }
  bool mounted_ = false;
};

TEST_F(FullDiskTest, AFailedSaveOfTheServerStateStillSendsDownAndUpAndRestarts) {
  Load(With({}));
  Fill();
  SetSite(500);
  on_wait = [&](int cycle) {
    if (cycle == 1) {
      // An administrator's edit that lands while the disk is full is taken up all the same,
      // without taking the stale state of the file.
      ::unlink(dir_.File("filler").c_str());
      ConfChange(Folder(), [](CRamFileRO& f) { return f.SetKey("EmailSubject", "Back up"); });
      Fill();
    }
    SetSite(200);
    if (cycle >= 3) Stop();
  };
  StartAndGo();
  EXPECT_TRUE(log_.HasError("CAllSets::SaveSettings() failed."));
  EXPECT_EQ(Count(log_.Messages(), "settings reloaded"), 1);
  EXPECT_EQ(MailsWithSubject("Server down"), 1);
  EXPECT_EQ(MailsWithSubject("Back up"), 1);
  EXPECT_EQ(Restarts(), 1);
  EXPECT_EQ(settings_.m_iLastKnownServerState, QOR_SERVER_UP);
}

}  // namespace
}  // namespace snx::test
