// What a URL must do beyond answering 200..299: hold its [CONTENT] lines and answer within
// SlowMs. Breaking either is a failed URL, as a 500 is.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ops/ops_fixture.h"

namespace snx::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

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
    const std::string line =
        "Slow URL http://site.test/: answered in 2500 ms, more than SlowMs "
        "(2000 ms)";
    if (!c.good) {
      EXPECT_THAT(log_.Errors(), Contains(line));
      EXPECT_THAT(log_.Errors(), Contains("Failed URL: http://site.test/"));
    }
  }
}

}  // namespace
}  // namespace snx::test
