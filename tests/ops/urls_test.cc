// The URL passes and the soft restart, each run alone on a started thread; what a URL must do
// beyond answering 200..299 (its [CONTENT] lines, SlowMs); and https: an untrusted certificate
// fails a local URL as any failure does, a near expiry warns once a day and reaches the metrics
// and the uptime log.

#include <gmock/gmock.h>

#include "ops/ops_fixture.h"

namespace snx::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsSupersetOf;
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
  EXPECT_EQ(std::vector({ItemState(ITEM_LOCAL_URL, "http://site.test/a"),
                         ItemState(ITEM_LOCAL_URL, "http://site.test/b"),
                         ItemState(ITEM_LOCAL_URL, "http://site.test/c")}),
            std::vector({ITEM_STATE_UP, ITEM_STATE_DOWN, ITEM_STATE_UNKNOWN}));
  EXPECT_TRUE(log_.HasError("COpsMngrThread::RunUrls() test failed for: http://site.test/b"));
  EXPECT_EQ(std::tuple(owner_.ReadAction(), owner_.ReadActionObject()),
            std::tuple("Go MODE: Failed URL", "http://site.test/b"));
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
    EXPECT_EQ(std::tuple(thread_.RemoteUrlState(),
                         MailsWithSubject("Failed Remote URL: http://far.test/1"),
                         MailsWithSubject("Restored Remote URL: http://far.test/1")),
              std::tuple(p.summary, p.failed_mails, p.restored_mails));
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
    GoReady();
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
  EXPECT_THAT(launcher_.CommandLines(), ElementsAre("KILL /f 300", "KILL /f 300", "IISRESET.exe",
                                                    "/opt/apps/one --serve", "/opt/apps/two"));
  EXPECT_TRUE(thread_.RestartVerified());
  EXPECT_EQ(http_.requests().size(), 1u);
  EXPECT_THAT(log_.Events(), Contains(HasSubstr("** Soft Restart completed")));
}

TEST_F(RestarterTest, AStopDuringTheStartPhaseStartsNoMoreAndVerifiesNothing) {
  launcher_.OnRun([this](const platform::LaunchRequest& r) {
    if (r.command_line.rfind("/opt/apps/one", 0) == 0) Stop();
  });
  EXPECT_FALSE(thread_.DoRestarter());
  EXPECT_THAT(launcher_.CommandLines(), Not(Contains("/opt/apps/two")));
  EXPECT_EQ(http_.requests().size(), 1u);  // the local URLs are still tested once
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
  GoReady();
  platform::LaunchResult refused;
  refused.outcome = platform::LaunchOutcome::kStartFailed;
  refused.detail = "refused: /opt/apps/shared is writable by its group (mode 0775)";
  launcher_.Script("/opt/apps/shared", refused);
  thread_.DoRestarter();
  ASSERT_FALSE(launcher_.Calls().empty());
  const auto last = launcher_.Calls().back();
  EXPECT_EQ(std::tuple(last.command_line, last.trusted_only),
            std::tuple("/opt/apps/shared --serve", true));
  EXPECT_TRUE(log_.HasError(
      "Error: the [PROGS] line \"/opt/apps/shared --serve\" was not started: refused: "
      "/opt/apps/shared is writable by its group (mode 0775)"));
}

// A local page that loses its text is down and restarted; a remote one that shows what it must
// not is failing. Lines for other URLs change nothing.
TEST_F(OpsTest, ContentLinesAreAppliedInTheGoCycle) {
  Load(With({}, {"[URLS]", kLocalUrl, "[RURLS]", kRemoteUrl, "[CONTENT]",
                 "http://site.test/ Welcome home", "http://site.test/ !Database error",
                 "http://far.test/ !maintenance", "http://other.test/ anything"}));
  const struct {
    const char* local_body;
    const char* remote_body;
    int restarts;
    std::int32_t remote;
    const char* line;  // an error line of the cycle
  } cycles[] = {
      {"<h1>Welcome home</h1>", "open", 0, REMOTE_URLS_ALIVE, ""},
      {"<h1>Welcome home</h1> Database error", "open", 1, REMOTE_URLS_ALIVE,
       "Content check failed for http://site.test/: the page contains \"Database error\""},
      {"<h1>welcome home</h1>", "open", 2, REMOTE_URLS_ALIVE,
       "Content check failed for http://site.test/: the page does not contain \"Welcome home\""},
      {"Welcome home", "down for maintenance", 2, REMOTE_URLS_FAILING,
       "Content check failed for http://far.test/: the page contains \"maintenance\""},
  };
  const auto serve = [&](int cycle) {
    http_.Answer(kSiteHost, 80, "/", 200, {}, cycles[cycle].local_body);
    http_.Answer("far.test", 80, "/", 200, {}, cycles[cycle].remote_body);
  };
  serve(0);
  on_wait = [&](int cycle) {
    const auto& c = cycles[cycle - 1];
    EXPECT_EQ(Restarts(), c.restarts) << "cycle " << cycle;
    EXPECT_EQ(thread_.RemoteUrlState(), c.remote) << "cycle " << cycle;
    if (*c.line != '\0') {
      EXPECT_THAT(log_.Errors(), Contains(c.line)) << "cycle " << cycle;
    }
    if (cycle == static_cast<int>(std::size(cycles))) return Stop();
    log_.Clear();
    serve(cycle);
  };
  StartAndGo();
  EXPECT_EQ(cycles_, static_cast<int>(std::size(cycles)));
}

TEST_F(OpsTest, AnAnswerSlowerThanSlowMsFails) {
  Load(With({"SlowMs=2000"}));
  ASSERT_EQ(settings_.m_iSlowMs, 2000);
  thread_.Initialize();
  const struct {
    std::int32_t slow_ms;
    int taking_ms;
    bool good;
  } cases[] = {{2000, 1500, true}, {2000, 2000, true}, {2000, 2500, false}, {0, 90000, true}};
  for (const auto& c : cases) {
    settings_.m_iSlowMs = c.slow_ms;
    http_.on_fetch = [&](const platform::HttpRequest&) {
      clock_.Advance(std::chrono::milliseconds(c.taking_ms));
    };
    log_.Clear();
    EXPECT_EQ(thread_.RunUrls(), c.good) << c.slow_ms << " " << c.taking_ms;
    if (!c.good) {
      EXPECT_THAT(log_.Errors(), IsSupersetOf({"Failed URL: http://site.test/",
                                               "Slow URL http://site.test/: answered in 2500 "
                                               "ms, more than SlowMs (2000 ms)"}));
    }
  }
}

constexpr const char* kHttpsUrl = "https://site.test/";
constexpr std::int64_t kDay = 86400;

class HttpsUrlTest : public OpsTest {
 protected:
  // The site answers 200 over https with a certificate that ends `days` from now.
  void Trusted(double days) {
    http_.Answer(kSiteHost, 443, "/", 200);
    http_.Scripted(kSiteHost, 443, "/").cert_expiry =
        UnixSecondsOf(clock_) + static_cast<std::int64_t>(days * kDay);
  }
  int Warnings() const {
    return CountOf(mail_.SentBytes(), "Subject: The certificate of https://site.test/ expires in ");
  }
};

TEST_F(HttpsUrlTest, ANearExpiryWarnsOnceADayAndReachesTheMetrics) {
  Load(With({"CaFile=/etc/snx/ca.pem", "Proxy=proxy.test:3128"}, {"[URLS]", kHttpsUrl}));
  thread_.Initialize();
  Trusted(14.5);  // beyond CertWarnDays (14): no warning
  EXPECT_TRUE(thread_.RunUrls());
  EXPECT_EQ(Warnings(), 0);
  Trusted(5.5);
  const std::int64_t expiry = http_.Scripted(kSiteHost, 443, "/").cert_expiry;
  // Checks within a day warn once; a day after the first, once more.
  const struct {
    int hours_later;
    int mails;
  } checks[] = {{0, 1}, {1, 1}, {22, 1}, {1, 2}, {1, 2}};
  for (const auto& c : checks) {
    clock_.Advance(std::chrono::hours(c.hours_later));
    EXPECT_TRUE(thread_.RunUrls());  // a warning, not a failure
    EXPECT_EQ(Warnings(), c.mails) << c.hours_later;
  }
  EXPECT_EQ(ItemState(ITEM_LOCAL_URL, kHttpsUrl), ITEM_STATE_UP);
  const auto& request = http_.requests().front();  // with the settings' CA file and proxy
  EXPECT_EQ(std::tuple(request.https, request.ca_file, request.proxy),
            std::tuple(true, "/etc/snx/ca.pem", "proxy.test:3128"));
  EXPECT_TRUE(log_.HasError("Warning: the certificate of https://site.test/ expires in 4 days (" +
                            CertDate(expiry) + ")."));
  const auto snapshot = thread_.Metrics().Snapshot(0);
  EXPECT_EQ(snapshot.cert_expiries.size(), 1u);
  EXPECT_THAT(snx::metrics::FormatMetrics(snapshot),
              ::testing::HasSubstr("snxsvc_cert_expiry_timestamp_seconds{type=\"local_url\",name="
                                   "\"https://site.test/\"} " +
                                   std::to_string(expiry) + "\n"));
}

// Also when CertWarnDays=0 turns the warnings off.
TEST_F(HttpsUrlTest, TheUptimeLogHearsOfACertificateOnceAndAgainWhenRenewed) {
  Load(With({"CertWarnDays=0"}, {"[URLS]", kHttpsUrl}));
  thread_.Initialize();
  auto lines = [&] {
    return CountOf(dir_.Read("Uptime.log"),
                   " Message: Certificate of https://site.test/ expires at ");
  };
  Trusted(1.5);
  const std::int64_t first = http_.Scripted(kSiteHost, 443, "/").cert_expiry;
  for (int cycle = 0; cycle < 3; ++cycle) EXPECT_TRUE(thread_.RunUrls());
  EXPECT_EQ(lines(), 1);
  EXPECT_NE(dir_.Read("Uptime.log").find(" (epoch " + std::to_string(first) + ")\r"),
            std::string::npos);
  Trusted(400);  // renewed
  for (int cycle = 0; cycle < 2; ++cycle) EXPECT_TRUE(thread_.RunUrls());
  EXPECT_EQ(lines(), 2);
  EXPECT_EQ(Warnings(), 0);
}

}  // namespace
}  // namespace snx::test
