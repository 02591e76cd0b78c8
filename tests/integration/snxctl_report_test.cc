// snxctl report with the built report companion, on a log with known outages.

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "integration/subprocess.h"
#include "support/test_support.h"

namespace {

using namespace std::chrono_literals;
using snx::test::Snxctl;

// One day of a local URL down 10:00:00-10:14:24 and 20:00:00-20:00:30 (98.96 %), a remote URL
// that is up all day, one restart, and a line the watchdog never writes.
constexpr const char* kLog =
    "01/10/25 00:00:00 Message: /////////// ItemManager Started ///////////\r\r\n"
    "01/10/25 00:00:00 (event): 101, http://web/, UP\r\r\n"
    "01/10/25 00:00:00 (event): 102, https://far.example/, UP\r\r\n"
    "01/10/25 10:00:00 (event): 101, http://web/, DN\r\r\n"
    "01/10/25 10:05:00 (event): 103, Restart, UP\r\r\n"
    "01/10/25 10:14:24 (event): 101, http://web/, UP\r\r\n"
    "01/10/25 20:00:00 (event): 101, http://web/, DN\r\r\n"
    "01/10/25 20:00:30 (event): 101, http://web/, UP\r\r\n"
    "not a line of the log\r\r\n";

class SnxctlReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logs_.Write("Uptime.log", kLog);
    ASSERT_EQ(Snxctl({"register", "--dir", bin_, "SnxReport.dll"}).exit_code, 0);
  }
  snx::test::CtlRun Report(std::vector<std::string> more) {
    std::vector<std::string> args = {"report",   "--dir",   logs_.path(), "--since",
                                     "01/10/25", "--until", "2025-01-11"};
    args.insert(args.end(), more.begin(), more.end());
    return Snxctl(args);
  }

  snx::test::TempDir root_;
  snx::test::TempDir logs_;
  snx::test::ScopedEnv env_{"SNX_ROOT", root_.path().c_str()};
  snx::test::ScopedEnv tz_{"TZ", "UTC"};
  std::string bin_ = std::filesystem::path(snx::test::SnxctlPath()).parent_path().string();
};

TEST_F(SnxctlReportTest, TableGivesTheFiguresOfTheKnownOutages) {
  const auto table = Report({});
  ASSERT_EQ(table.exit_code, 0) << table.out;
  EXPECT_NE(table.out.find("7 reports, 1 line skipped"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("local URL    98.96 %       2 14m 24s   7m 27s    UP   01/10/25 "
                           "20:00:30  http://web/"),
            std::string::npos)
      << table.out;
  EXPECT_NE(table.out.find("1 restart, 0 reboots"), std::string::npos) << table.out;
  const auto json = Report({"--json"});
  const auto shown = nlohmann::json::parse(json.out, nullptr, false);
  ASSERT_EQ(json.exit_code, 0) << json.out;
  EXPECT_EQ(shown["items"][0]["availability_percent"], 98.96) << json.out;
  EXPECT_EQ(shown["items"][0]["mttr_seconds"], 447);
  EXPECT_EQ(shown["items"][2]["restarts"], 1);
  EXPECT_EQ(shown["lines_skipped"], 1);

  // Bad input: a usage error; no log: a failure; no companion: a failure that says what to do.
  EXPECT_EQ(Report({"--since", "2025-01-12"}).exit_code, 2);  // after the end
  EXPECT_EQ(Report({"--json", "--metrics"}).exit_code, 2);
  EXPECT_EQ(Snxctl({"report", "--dir", root_.path()}).exit_code, 1);
  ASSERT_EQ(Snxctl({"unregister", "--dir", bin_, "SnxReport.dll"}).exit_code, 0);
  const auto missing = Report({});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.out.find("snxctl register SnxReport.dll"), std::string::npos) << missing.out;
}

TEST_F(SnxctlReportTest, PageHasATimelinePerItemAndMetricsPassPromtool) {
  const std::string page = logs_.File("report.html");
  const auto written = Report({"--html", page});
  ASSERT_EQ(written.exit_code, 0) << written.out;
  const std::string html = logs_.Read("report.html");
  EXPECT_NE(html.find("98.96 %"), std::string::npos);
  // A page that cannot be written fails and leaves nothing behind.
  EXPECT_EQ(Report({"--html", logs_.File("no/such/folder/r.html")}).exit_code, 1);
  EXPECT_FALSE(std::filesystem::exists(logs_.File("no")));

  const auto metrics = Report({"--metrics"});
  ASSERT_EQ(metrics.exit_code, 0) << metrics.out;
  EXPECT_NE(metrics.out.find("snxsvc_item_up{type=\"local_url\",name=\"http://web/\"} 1\n"),
            std::string::npos)
      << metrics.out;
  EXPECT_NE(metrics.out.find("snxsvc_restarts_total 1\n"), std::string::npos);
  logs_.Write("metrics.prom", metrics.out);
  EXPECT_EQ(snx::test::PromtoolComplaint(logs_.File("metrics.prom")).value_or(""), "");

  // Rendered by a real browser, where one is installed: one timeline per item, and a picture
  // of the page kept among the test artifacts.
  if (!snx::test::HaveProgram("chromium")) GTEST_SKIP() << "chromium is not installed";
  const std::string artifacts =
      std::filesystem::path(snx::test::SnxctlPath()).parent_path().parent_path() / "test-artifacts";
  std::filesystem::create_directories(artifacts);
  const std::string shot = artifacts + "/uptime_report.png";
  std::filesystem::remove(shot);
  const std::vector<std::string> browser = {"chromium", "--headless", "--no-sandbox",
                                            "--disable-gpu",
                                            "--user-data-dir=" + root_.File("chromium")};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> args = browser;
    args.insert(args.end(), more.begin(), more.end());
    args.push_back("file://" + page);
    snx::test::Child child(args);
    EXPECT_EQ(child.Wait(90s), 0);
    return child.Output();
  };
  const std::string dom = with({"--dump-dom"});
  std::size_t timelines = 0;
  for (auto at = dom.find("<svg class=\"timeline\""); at != std::string::npos;
       at = dom.find("<svg class=\"timeline\"", at + 1)) {
    ++timelines;
  }
  EXPECT_EQ(timelines, 3u) << dom.substr(0, 2000);
  with({"--screenshot=" + shot, "--window-size=420,900"});
  EXPECT_TRUE(std::filesystem::exists(shot));
  EXPECT_GT(std::filesystem::file_size(shot), 1000u);
}

}  // namespace
