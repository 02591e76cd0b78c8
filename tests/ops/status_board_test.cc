// The status board the operations thread publishes for `snxctl status`: every item with its
// state, since when, its last check, a URL's last status code and time taken, and when the next
// test is due.

#include <gtest/gtest.h>

#include "ops/ops_fixture.h"
#include "ops/url_outcome.h"

namespace snx::test {
namespace {

// Every fetch takes a quarter of a second of the fake clock's time.
class SlowHttp : public platform::FakeHttpClient {
 public:
  explicit SlowHttp(platform::FakeClock& clock) : clock_(clock) {}
  platform::HttpResult Fetch(const platform::HttpRequest& request) override {
    clock_.Advance(std::chrono::milliseconds(250));
    return FakeHttpClient::Fetch(request);
  }

 private:
  platform::FakeClock& clock_;
};

const COpsItemStatus* Find(const COpsStatus& status, std::int32_t type, const std::string& name) {
  for (const auto& item : status.items) {
    if (item.type == type && item.name == name) return &item;
  }
  return nullptr;
}

TEST_F(OpsTest, TheStatusBoardFollowsTheItemsAndTheNextTest) {
  SlowHttp slow(clock_);
  platform::ScopedInstall<platform::HttpClient> install_slow{slow};
  slow.Answer(kSiteHost, 80, "/", 200);
  Load(With({}, {"[URLS]", kLocalUrl, "[RURLS]", kRemoteUrl}));  // the remote one never answers
  thread_.Initialize();
  {
    const COpsStatus loaded = thread_.StatusBoard().Read();
    ASSERT_EQ(loaded.items.size(), 3u);  // local URL, remote URL, the restart engine
    EXPECT_EQ(loaded.items[0].name, kLocalUrl);
    EXPECT_EQ(loaded.items[0].state, ITEM_STATE_UNKNOWN);
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
    EXPECT_EQ(remote->state, ITEM_STATE_DOWN);
    EXPECT_EQ(remote->http_status, std::nullopt);  // no answer came
    EXPECT_EQ(remote->response_ms, 250);
    if (cycle == 1) {
      EXPECT_EQ(local->state, ITEM_STATE_UP);
      EXPECT_EQ(local->http_status, 200u);
      first_up = local->since.value_or(0);
      EXPECT_EQ(local->last_check, local->since);
      slow.Answer(kSiteHost, 80, "/", 503);
    } else if (cycle == 2) {
      EXPECT_EQ(local->state, ITEM_STATE_DOWN);
      EXPECT_EQ(local->http_status, 503u);
      EXPECT_GT(local->since.value_or(0), first_up);
      slow.Answer(kSiteHost, 80, "/", 200);
    } else {
      // Up again after the restart.
      EXPECT_EQ(local->state, ITEM_STATE_UP);
      EXPECT_EQ(Find(status, ITEM_RESTART, "Restart")->state, ITEM_STATE_UP);
      Stop();
    }
  };
  owner_.m_bGo = true;
  thread_.SetCommand(SNX_GO);
  thread_.Go();
  ASSERT_EQ(cycles_, 3);
  EXPECT_EQ(thread_.StatusBoard().Read().next_test, std::nullopt);  // Go mode ended
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
