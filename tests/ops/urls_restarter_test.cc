// The URL passes and the soft restart, each run alone on a started thread.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ops/ops_fixture.h"

namespace snx::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

class UrlTest : public OpsTest {
 protected:
  std::vector<std::string> Fetched() const {
    std::vector<std::string> paths;
    for (const auto& r : http_.requests()) paths.push_back(r.host + r.path);
    return paths;
  }
};

TEST_F(UrlTest, TheFirstFailingLocalUrlEndsThePass) {
  Load(With({}, {"[URLS]", "http://site.test/a", "http://site.test/b", "http://site.test/c"}));
  thread_.Initialize();
  SetSite(200, "/a");
  SetSite(404, "/b");
  SetSite(200, "/c");
  EXPECT_FALSE(thread_.RunUrls());
  EXPECT_THAT(Fetched(), ElementsAre("site.test/a", "site.test/b"));
  EXPECT_EQ(ItemState(ITEM_LOCAL_URL, "http://site.test/a"), ITEM_STATE_UP);
  EXPECT_EQ(ItemState(ITEM_LOCAL_URL, "http://site.test/b"), ITEM_STATE_DOWN);
  EXPECT_EQ(ItemState(ITEM_LOCAL_URL, "http://site.test/c"), ITEM_STATE_UNKNOWN);
  EXPECT_TRUE(log_.HasError("COpsMngrThread::RunUrls() test failed for: http://site.test/b"));
  EXPECT_EQ(owner_.ReadAction(), "Go MODE: Failed URL");
  EXPECT_EQ(owner_.ReadActionObject(), "http://site.test/b");
}

TEST_F(UrlTest, EmptySectionsPassWithTheirLines) {
  Load(With({}, {}));
  thread_.Initialize();
  EXPECT_TRUE(thread_.RunUrls());
  EXPECT_TRUE(log_.HasEvent("COpsMngrThread::RunUrls() all LOCAL URLS are alive."));
  log_.Clear();
  EXPECT_TRUE(thread_.HandleRemoteUrls(true));
  EXPECT_EQ(thread_.RemoteUrlState(), REMOTE_URLS_NONE);
  EXPECT_TRUE(log_.HasEvent("COpsMngrThread::HandleRemoteUrls() testing done"));
  EXPECT_FALSE(log_.HasEvent("COpsMngrThread::HandleRemoteUrls() all REMOTE URLS are alive."));
}

// The summary is of each pass; alerts go out once per change of a site.
TEST_F(UrlTest, RemoteSummaryIsOfThePassAndAlertsFollowChanges) {
  Load(With({}, {"[RURLS]", "http://far.test/1", "http://far.test/2"}));
  thread_.Initialize();
  owner_.m_bGo = true;  // e-mail alerts go out in Go mode
  http_.Answer("far.test", 80, "/1", 500);
  http_.Answer("far.test", 80, "/2", 200);
  const struct {
    std::uint32_t first;
    std::int32_t summary;
    int failed_mails, restored_mails;
  } passes[] = {{500, REMOTE_URLS_FAILING, 1, 0},
                {500, REMOTE_URLS_FAILING, 1, 0},
                {200, REMOTE_URLS_ALIVE, 1, 1},
                {200, REMOTE_URLS_ALIVE, 1, 1}};
  for (const auto& p : passes) {
    http_.Answer("far.test", 80, "/1", p.first);
    EXPECT_FALSE(thread_.HandleRemoteUrls(true));
    EXPECT_EQ(thread_.RemoteUrlState(), p.summary);
    EXPECT_EQ(MailsWithSubject("Failed Remote URL: http://far.test/1"), p.failed_mails);
    EXPECT_EQ(MailsWithSubject("Restored Remote URL: http://far.test/1"), p.restored_mails);
  }
  // The good second URL never changed from its first report: no alert about it.
  EXPECT_EQ(MailsWithSubject("Restored Remote URL: http://far.test/2"), 0);
  EXPECT_EQ(PhoneCalls("A monitored remote website has resumed operation. The URL is: "
                       "http://far.test/1"),
            1);
}

class RestarterTest : public OpsTest {
 protected:
  void SetUp() override {
    Load(With({"RstrSecs=30"}, {"[URLS]", kLocalUrl, "[PROGS]", "/opt/apps/one --serve",
                                "/opt/apps/two", "[STOPS]", "/opt/apps/one"}));
    processes_.Add(300, "/opt/apps/one");
    thread_.Initialize();
    owner_.m_bGo = true;
    thread_.SetCommand(SNX_GO);
    // Each program started is in the process list at once, with the pid the launcher gave.
    launcher_.OnRun([this](const platform::LaunchRequest& r) {
      if (r.command_line.rfind("/opt/apps/", 0) == 0) {
        processes_.Add(PidOf(r.command_line), r.command_line.substr(0, r.command_line.find(' ')));
      }
    });
    for (const char* program : {"/opt/apps/one", "/opt/apps/two"}) {
      platform::LaunchResult started;
      started.outcome = platform::LaunchOutcome::kStarted;
      started.pid = PidOf(program);
      launcher_.Script(program, started);
    }
    http_.ClearRequests();
  }
  static int PidOf(std::string_view line) {
    return line.rfind("/opt/apps/one", 0) == 0 ? 501 : 502;
  }
};

TEST_F(RestarterTest, KillsResetsStartsAndVerifies) {
  EXPECT_TRUE(thread_.DoRestarter());
  const auto lines = launcher_.CommandLines();
  EXPECT_THAT(lines, ElementsAre("KILL /f 300", "KILL /f 300", "IISRESET.exe",
                                 "/opt/apps/one --serve", "/opt/apps/two"));
  EXPECT_TRUE(thread_.RestartVerified());
  EXPECT_EQ(http_.requests().size(), 1u);
  const auto events = log_.Events();
  EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const std::string& l) {
    return l.find("** Soft Restart completed") != std::string::npos;
  }));
}

TEST_F(RestarterTest, AStopDuringTheStartPhaseStartsNoMoreAndVerifiesNothing) {
  launcher_.OnRun([this](const platform::LaunchRequest& r) {
    if (r.command_line.rfind("/opt/apps/one", 0) == 0) Stop();
  });
  EXPECT_FALSE(thread_.DoRestarter());
  EXPECT_THAT(launcher_.CommandLines(), Not(Contains("/opt/apps/two")));
  EXPECT_EQ(http_.requests().size(), 1u);  // the local URLs are still tested once
  EXPECT_FALSE(log_.HasEvent("COpsMngrThread::DoRestarter() 9."));
  EXPECT_TRUE(log_.HasError("COpsMngrThread::DoRestarter() Soft Restart failed."));
  EXPECT_FALSE(thread_.RestartVerified());
}

TEST_F(RestarterTest, AProgramThatNeverRunsIsRetriedUntilRstrSecsThenFails) {
  launcher_.OnRun([](const platform::LaunchRequest&) {});  // nothing appears
  processes_.Clear();
  const auto start = clock_.MonoNow();
  EXPECT_FALSE(thread_.DoRestarter());
  EXPECT_GE(clock_.MonoNow() - start, std::chrono::seconds(30));
  EXPECT_LT(clock_.MonoNow() - start, std::chrono::seconds(60));
  EXPECT_THAT(log_.Messages(), Contains("COpsMngrThread::DoRestarter() re-trys to register it.."));
  EXPECT_TRUE(log_.HasEvent("(controlled by your 'Restarter Seconds' setting)"));
  EXPECT_TRUE(log_.HasError("COpsMngrThread::DoRestarter() Soft Restart failed."));
}

TEST_F(OpsTest, ProgramsStartOnlyFromTrustedFilesAndARefusalIsLoggedWithItsLine) {
  Load(With({"RstrSecs=10"}, {"[URLS]", kLocalUrl, "[PROGS]", "/opt/apps/shared --serve"}));
  thread_.Initialize();
  owner_.m_bGo = true;
  thread_.SetCommand(SNX_GO);
  platform::LaunchResult refused;
  refused.outcome = platform::LaunchOutcome::kStartFailed;
  refused.detail = "refused: /opt/apps/shared is writable by its group (mode 0775)";
  launcher_.Script("/opt/apps/shared", refused);
  thread_.DoRestarter();
  const auto calls = launcher_.Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().command_line, "/opt/apps/shared --serve");
  EXPECT_TRUE(calls.back().trusted_only);
  EXPECT_TRUE(log_.HasError(
      "Error: the [PROGS] line \"/opt/apps/shared --serve\" was not started: refused: "
      "/opt/apps/shared is writable by its group (mode 0775)"));
}

}  // namespace
}  // namespace snx::test
