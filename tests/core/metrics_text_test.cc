// The metrics text: label values made safe, figures left out when unknown, and the file
// replaced whole, never written through a symbolic link.

#include "core/metrics_text.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/test_support.h"

namespace snx::metrics {
namespace {

TEST(MetricsTextTest, LabelsAreEscapedAndTheFileIsReplacedWhole) {
  MetricsSnapshot s;
  s.items = {{101, "http://a/\"q\"\\", true, 100}, {100, std::string("bad\xff\nname"), false, 300}};
  s.restarts = 1;
  s.reboots_withheld = 0;
  s.alerts.emplace();
  (*s.alerts)[static_cast<int>(AlertChannel::kPhone)][static_cast<int>(AlertEvent::kServerDown)] =
      2;
  const std::string text = FormatMetrics(s);
  EXPECT_TRUE(test::HasAll(
      text,
      {"snxsvc_item_up{type=\"local_url\",name=\"http://a/\\\"q\\\"\\\\\"} 1\n",
       "snxsvc_item_last_change_timestamp_seconds{type=\"program\",name=\"bad?\\\\nname\"} 300\n",
       "snxsvc_alerts_sent_total{channel=\"phone\",event=\"server_down\"} 2\n",
       "# TYPE snxsvc_reboots_withheld_total counter\nsnxsvc_reboots_withheld_total 0\n"}));
  // Unknown figures are left out, not shown as 0.
  EXPECT_EQ(text.find("snxsvc_reboots_total"), std::string::npos);
  EXPECT_EQ(text.find("snxsvc_ops_state"), std::string::npos);

  test::TempDir dir;
  dir.Write("elsewhere", "kept");
  const std::string path = dir.File("snxsvc.prom");
  ASSERT_EQ(symlink(dir.File("elsewhere").c_str(), path.c_str()), 0);
  ASSERT_TRUE(WriteMetricsFile(platform::Files(), path, s));
  EXPECT_EQ(dir.Read("elsewhere"), "kept");
  EXPECT_EQ(dir.Read("snxsvc.prom"), text);
  // A file of its own in the link's place (the target kept, the new text read back).
  EXPECT_EQ(test::ModeOf(path), 0644u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
  const auto complaint = test::PromtoolComplaint(path);
  if (!complaint) GTEST_SKIP() << "promtool is not installed: the file was not checked against it";
  EXPECT_EQ(*complaint, "");
}

}  // namespace
}  // namespace snx::metrics
