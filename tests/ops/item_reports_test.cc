// What the cycles report of the items: a watched program restarted and running again is up in
// the uptime record and the metrics (down at once, not only at the end of the cycle); the
// metrics file after every cycle, which a file that cannot be written for a while neither stops
// nor loses; and the status board `snxctl status` reads.

#include <gmock/gmock.h>

#include "ops/ops_fixture.h"
#include "ops/url_outcome.h"

namespace snx::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kProgram = "/opt/apps/server.bin";
// The watcher names the program by its instance in a counter path.
constexpr const char* kStillText = "\\Process(server)\\Elapsed Time stands still";

class ItemStatesTest : public OpsTest {
 protected:
  // The program is started by a command of its own ([PROGS]) and watched by its path
  // ([STOPS]); it runs as 4242, and its activity stands still until the test says otherwise.
  void LoadStillProgram(const Lines& keys) {
    Load(With(keys, {"[URLS]", kLocalUrl, "[PROGS]", "/opt/apps/server.bin --serve", "[STOPS]",
                     kProgram}));
    processes_.Add(4242, kProgram);
    watcher_.working = false;
    watcher_.text = kStillText;
  }
  // "DN" and "UP" of the program's reports in the uptime record, in order.
  Lines ProgramReports() const {
    Lines out;
    std::istringstream in(dir_.Read("Uptime.log"));
    const std::string needle = std::string("(event): 100, ") + kProgram + ", ";
    for (std::string line; std::getline(in, line);) {
      const auto at = line.find(needle);
      if (at != std::string::npos) out.push_back(line.substr(at + needle.size(), 2));
    }
    return out;
  }
  std::int64_t ProgramUp() const {
    return MetricSample(std::string("snxsvc_item_up{type=\"program\",name=\"") + kProgram + "\"}");
  }
};

TEST_F(ItemStatesTest, AProgramRestartedAndRunningAgainIsReportedUp) {
  // Still in the first cycle, and active again after the restart.
  LoadStillProgram({"UptimeSizeLimit=250000"});
  std::int64_t up_while_killing = -2;
  launcher_.OnRun([&](const platform::LaunchRequest& r) {
    if (r.command_line == "KILL /f 4242" && up_while_killing == -2) {
      up_while_killing = ProgramUp();
    }
  });
  on_wait = [&](int cycle) {
    if (cycle == 1) {
      // The verified restart reported the program back.
      EXPECT_EQ(std::tuple(ProgramReports(), ProgramUp()), std::tuple(Lines{"DN", "UP"}, 1));
      watcher_.working = true;
    } else {
      Stop();
    }
  };
  StartAndGo();
  ASSERT_EQ(cycles_, 2);
  // Down in the metrics file before the restart began, not only after the cycle.
  EXPECT_EQ(std::tuple(up_while_killing, ItemState(ITEM_PROGRAM, kProgram), ProgramReports(),
                       ProgramUp(), thread_.Items().UptimeLog().SizeLimit()),
            std::tuple(0, ITEM_STATE_UP, Lines{"DN", "UP"}, 1, 250000));
}

TEST_F(ItemStatesTest, AProgramThatComesBackAfterAnUnverifiedRestartIsUpAtTheNextGoodCycle) {
  LoadStillProgram({"RstrSecs=0"});
  // The kill works and nothing comes back within the restart: it cannot be verified.
  launcher_.OnRun([&](const platform::LaunchRequest& r) {
    if (r.command_line == "KILL /f 4242") processes_.Clear();
  });
  on_wait = [&](int cycle) {
    if (cycle == 1) {
      EXPECT_EQ(std::tuple(thread_.RestartVerified(), ProgramReports(), ProgramUp()),
                std::tuple(false, Lines{"DN"}, 0));
      processes_.Add(4343, kProgram);  // a slow starter, running by the next test
      watcher_.working = true;
    } else {
      Stop();
    }
  };
  StartAndGo();
  ASSERT_EQ(cycles_, 2);
  EXPECT_EQ(std::tuple(ProgramReports().back(), ProgramUp()), std::tuple("UP", 1));
}

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
      EXPECT_EQ(
          MetricSamples({site, "snxsvc_restarts_total", "snxsvc_reboots_total",
                         "snxsvc_reboots_withheld_total", down_mail, up_call, "snxsvc_ops_state"}),
          (std::vector<std::int64_t>{0, 1, 0, 0, 1, 0, OPS_GO_RESTARTING}))
          << text;
      EXPECT_NEAR(MetricSample("snxsvc_last_cycle_timestamp_seconds"), wait_began[0], 5);
      EXPECT_EQ(text.find("name=\"Restart\""), std::string::npos);
      EXPECT_EQ(PromtoolComplaint(path).value_or(""), "");
      // A folder where the file should be: the next write fails.
      std::filesystem::remove(path);
      std::filesystem::create_directory(path);
      SetSite(200);
    } else if (cycle == 2) {
      std::filesystem::remove(path);
    } else {
      Stop();
    }
  };
  StartAndGo();
  ASSERT_EQ(cycles_, 3);
  EXPECT_THAT(log_.Errors(),
              Contains(HasSubstr("Cannot write the metrics file: cannot write " + path)));
  EXPECT_THAT(log_.Messages(), Contains("The metrics file is written again."));

  // The up report of cycle 2 is the item's change; Go's end leaves the stopped state.
  EXPECT_EQ(MetricSamples({site, up_call, down_mail, "snxsvc_restarts_total", "snxsvc_ops_state"}),
            (std::vector<std::int64_t>{1, 1, 1, 1, OPS_STOPPED}))
      << metrics_dir_.Read("snxsvc.prom");
  EXPECT_GT(MetricSample(change), wait_began[0]);
  EXPECT_LE(MetricSample(change), wait_began[1]);
  EXPECT_NEAR(MetricSample("snxsvc_last_cycle_timestamp_seconds"), wait_began[2], 5);
}

const COpsItemStatus* Find(const COpsStatus& status, std::int32_t type, const std::string& name) {
  for (const auto& item : status.items) {
    if (item.type == type && item.name == name) return &item;
  }
  return nullptr;
}

TEST_F(OpsTest, TheStatusBoardAndTheAnswerTimesFollowTheItemsAndTheNextTest) {
  http_.on_fetch = [&](const platform::HttpRequest&) {  // every fetch takes a quarter second
    clock_.Advance(std::chrono::milliseconds(250));
  };
  Load(With({}, {"[URLS]", kLocalUrl, "[RURLS]", kRemoteUrl}));  // the remote one never answers
  thread_.Initialize();
  {
    const COpsStatus loaded = thread_.StatusBoard().Read();
    ASSERT_EQ(loaded.items.size(), 3u);  // local URL, remote URL, the restart engine
    EXPECT_EQ(std::tuple(loaded.items[0].name, loaded.items[0].state),
              std::tuple(kLocalUrl, ITEM_STATE_UNKNOWN));
    EXPECT_FALSE(loaded.items[0].since || loaded.items[0].http_status || loaded.next_test);
  }
  std::int64_t first_up = 0;
  on_wait = [&](int cycle) {
    const std::int64_t now = UnixSecondsOf(clock_);
    const COpsStatus status = thread_.StatusBoard().Read();
    ASSERT_TRUE(status.next_test && status.last_cycle);
    EXPECT_NEAR(*status.next_test - now, 600, 2);  // MinuteInterval=10
    const COpsItemStatus* local = Find(status, ITEM_LOCAL_URL, kLocalUrl);
    const COpsItemStatus* remote = Find(status, ITEM_REMOTE_URL, kRemoteUrl);
    ASSERT_TRUE(local && remote);
    EXPECT_EQ(local->response_ms, 250);
    // No answer came from the remote one.
    EXPECT_EQ(std::tuple(remote->state, remote->http_status, remote->response_ms),
              std::tuple(ITEM_STATE_DOWN, std::optional<std::uint32_t>(), 250));
    if (cycle == 1) {
      EXPECT_EQ(std::tuple(local->state, local->http_status, local->last_check),
                std::tuple(ITEM_STATE_UP, 200u, local->since));
      first_up = local->since.value_or(0);
      SetSite(503);
    } else if (cycle == 2) {
      EXPECT_EQ(std::tuple(local->state, local->http_status), std::tuple(ITEM_STATE_DOWN, 503u));
      EXPECT_GT(local->since.value_or(0), first_up);
      SetSite(200);
    } else {
      // Up again after the restart.
      EXPECT_EQ(std::tuple(local->state, Find(status, ITEM_RESTART, "Restart")->state),
                std::tuple(ITEM_STATE_UP, ITEM_STATE_UP));
      Stop();
    }
  };
  Go();
  ASSERT_EQ(cycles_, 3);
  EXPECT_EQ(thread_.StatusBoard().Read().next_test, std::nullopt);  // Go mode ended
  // The metrics file has the answer times too, but none for a URL that got no answer.
  const std::string text = metrics_dir_.Read("snxsvc.prom");
  EXPECT_THAT(text, HasSubstr("snxsvc_url_response_seconds{type=\"local_url\",url=\"http://"
                              "site.test/\"} 0.250\n"));
  EXPECT_THAT(text, Not(HasSubstr("url=\"http://far.test/\"")));
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
  EXPECT_EQ(std::tuple(s.items[0].last_change, s.items[0].up), std::tuple(20, false));
  std::vector<std::pair<std::string, std::int64_t>> times;
  for (const auto& r : s.url_responses) times.emplace_back(r.url, r.ms);
  EXPECT_EQ(times, (std::vector<std::pair<std::string, std::int64_t>>{
                       {"http://b/", 5}, {"http://c/", 7}, {"http://a/", 9}}));
}

// A report replaces only the items noted since the last publication; what the board then holds
// is what a whole publication would hold, also after the list of items has changed.
TEST(StatusTrackerTest, PublishingTheNotedItemsGivesWhatTheWholeStatusGives) {
  CItemManager items;
  COpsStatusTracker tracker;
  COpsStatusBoard board;
  const auto same = [&](const char* when) {
    EXPECT_EQ(board.Read().items, tracker.Build(items).items) << when;
  };
  for (const char* url : {"http://a/", "http://b/", "http://a/"}) {
    items.AddItem(ITEM_LOCAL_URL, url);
  }
  tracker.PublishAll(items, board);
  CUrlOutcome answered;
  answered.status = 503;
  tracker.NoteUrlTest(ITEM_LOCAL_URL, "http://a/", answered);
  tracker.NoteReport(ITEM_LOCAL_URL, "http://a/", false, 100);
  tracker.NoteReport(ITEM_REMOTE_URL, "http://b/", true, 100);  // no such item
  tracker.PublishNoted(items, board);
  same("noted");
  tracker.SetNextTest(500);
  tracker.NoteReport(ITEM_LOCAL_URL, "http://b/", true, 300);
  tracker.PublishAll(items, board);
  same("the next test set");
  EXPECT_EQ(board.Read().next_test, 500);
  items.AddItem(ITEM_PROGRAM, "web");
  tracker.NoteReport(ITEM_PROGRAM, "web", true, 200);
  tracker.PublishNoted(items, board);
  same("an item added");
  items.ClearItems();
  tracker.PublishNoted(items, board);
  same("cleared");
}

}  // namespace
}  // namespace snx::test
