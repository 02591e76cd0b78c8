// The metrics file after every Go cycle: items, restarts and alerts as they happen, and a file
// that cannot be written for a while neither stops the loop nor loses the figures.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "ops/ops_fixture.h"

namespace snx::test {
namespace {

TEST_F(OpsTest, EveryCycleLeavesItsFiguresInTheMetricsFile) {
  Load(With({}));
  const std::string path = metrics_dir_.File("snxsvc.prom");
  const std::string site = "snxsvc_item_up{type=\"local_url\",name=\"http://site.test/\"}";
  const std::string change =
      "snxsvc_item_last_change_timestamp_seconds{type=\"local_url\",name=\"http://site.test/\"}";
  const std::string down_mail = "snxsvc_alerts_sent_total{channel=\"email\",event=\"server_down\"}";
  const std::string up_call = "snxsvc_alerts_sent_total{channel=\"phone\",event=\"server_up\"}";
  std::vector<std::int64_t> wait_began;
  SetSite(500);
  on_wait = [&](int cycle) {
    wait_began.push_back(UnixSecondsOf(clock_));
    if (cycle == 1) {
      // The failed cycle: down, restarted, the down alerts counted, the cycle's end stamped
      // (its wait begins a few seconds later).
      const std::string text = metrics_dir_.Read("snxsvc.prom");
      EXPECT_EQ(MetricSample(site), 0) << text;
      EXPECT_EQ(MetricSample("snxsvc_restarts_total"), 1);
      EXPECT_EQ(MetricSample("snxsvc_reboots_total"), 0);
      EXPECT_EQ(MetricSample("snxsvc_reboots_withheld_total"), 0);
      EXPECT_EQ(MetricSample(down_mail), 1);
      EXPECT_EQ(MetricSample(up_call), 0);
      EXPECT_EQ(MetricSample("snxsvc_ops_state"), OPS_GO_RESTARTING);
      EXPECT_NEAR(MetricSample("snxsvc_last_cycle_timestamp_seconds"), wait_began[0], 5);
      EXPECT_EQ(text.find("name=\"Restart\""), std::string::npos);
      EXPECT_EQ(PromtoolComplaint(path).value_or(""), "");
      // A folder where the file should be: the next write fails.
      std::filesystem::remove(path);
      std::filesystem::create_directory(path);
      SetSite(200);
    } else if (cycle == 2) {
      EXPECT_TRUE(std::filesystem::is_directory(path));
      std::filesystem::remove(path);
    } else {
      Stop();
    }
  };
  StartAndGo();
  ASSERT_EQ(cycles_, 3);
  EXPECT_THAT(log_.Errors(), ::testing::Contains(::testing::HasSubstr(
                                 "Cannot write the metrics file: cannot write " + path)));
  EXPECT_THAT(log_.Messages(), ::testing::Contains("The metrics file is written again."));

  // The up report of cycle 2 is the item's change; Go's end leaves the stopped state.
  const std::string text = metrics_dir_.Read("snxsvc.prom");
  EXPECT_EQ(MetricSample(site), 1) << text;
  EXPECT_GT(MetricSample(change), wait_began[0]);
  EXPECT_LE(MetricSample(change), wait_began[1]);
  EXPECT_EQ(MetricSample(up_call), 1);
  EXPECT_EQ(MetricSample(down_mail), 1);
  EXPECT_EQ(MetricSample("snxsvc_restarts_total"), 1);
  EXPECT_EQ(MetricSample("snxsvc_ops_state"), OPS_STOPPED);
  EXPECT_NEAR(MetricSample("snxsvc_last_cycle_timestamp_seconds"), wait_began[2], 5);
}

}  // namespace
}  // namespace snx::test

namespace snx::test {
namespace {

// Each answered URL's time to its last byte; a URL whose test got no answer has no sample.
TEST_F(OpsTest, EachUrlsAnswerTimeIsInTheMetricsFile) {
  Load(With({}, {"[URLS]", kLocalUrl, "[RURLS]", kRemoteUrl}));
  http_.on_fetch = [&](const platform::HttpRequest&) {
    clock_.Advance(std::chrono::milliseconds(250));
  };
  StopAfter(1);
  StartAndGo();
  const std::string text = metrics_dir_.Read("snxsvc.prom");
  EXPECT_THAT(text, ::testing::HasSubstr(
                        "snxsvc_url_response_seconds{type=\"local_url\",url=\"http://site.test/\"} "
                        "0.250\n"));
  EXPECT_THAT(text, ::testing::Not(::testing::HasSubstr("url=\"http://far.test/\"")));  // refused
  EXPECT_EQ(PromtoolComplaint(metrics_dir_.File("snxsvc.prom")).value_or(""), "");
}

// Items and answer times keep the order of their first report; a URL that got no answer
// leaves the times and the ones after it keep theirs.
TEST(OpsMetricsTest, ItemsAndAnswerTimesAreFoundByTypeAndName) {
  using std::chrono::milliseconds;
  COpsMetrics m;
  EXPECT_FALSE(m.NoteItem(ITEM_LOCAL_URL, "http://a/", true, 10));
  EXPECT_TRUE(m.NoteItem(ITEM_REMOTE_URL, "http://a/", false, 10));  // another type
  EXPECT_TRUE(m.NoteItem(ITEM_LOCAL_URL, "http://a/", false, 20));
  EXPECT_FALSE(m.NoteItem(ITEM_LOCAL_URL, "http://a/", false, 30));
  for (const char* url : {"http://a/", "http://b/", "http://c/"}) {
    m.NoteUrlTime(ITEM_LOCAL_URL, url, milliseconds(5));
  }
  m.NoteUrlTime(ITEM_LOCAL_URL, "http://a/", std::nullopt);
  m.NoteUrlTime(ITEM_LOCAL_URL, "http://c/", milliseconds(7));
  m.NoteUrlTime(ITEM_LOCAL_URL, "http://a/", milliseconds(9));
  const auto s = m.Snapshot(0);
  ASSERT_EQ(s.items.size(), 2u);
  EXPECT_EQ(s.items[0].last_change, 20);
  EXPECT_FALSE(s.items[0].up);
  std::vector<std::pair<std::string, std::int64_t>> times;
  for (const auto& r : s.url_responses) times.emplace_back(r.url, r.ms);
  EXPECT_EQ(times, (std::vector<std::pair<std::string, std::int64_t>>{
                       {"http://b/", 5}, {"http://c/", 7}, {"http://a/", 9}}));
}

}  // namespace
}  // namespace snx::test
