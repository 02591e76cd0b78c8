#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "files/ram_file_ro.h"
#include "platform/fake/capturing_message_sink.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_process_list.h"
#include "probes/image_name.h"
#include "probes/image_name_matcher.h"
#include "probes/item_manager.h"
#include "probes/match_tilde_name.h"
#include "probes/w_manager.h"
#include "probes/watcher_counter_sink.h"
#include "support/test_support.h"

namespace snx::test {
namespace {

// The process snapshot's records, the lookups and the two ways of matching a program text.
// A scripted process list and a log that keeps its lines.
class ProcessesTest : public ::testing::Test {
 protected:
  platform::FakeProcessList processes_;
  platform::ScopedInstall<platform::ProcessList> install_{processes_};
  CapturingLog log_;
};

class ImageNameTest : public ProcessesTest {
 protected:
  CImageName images_;
};

TEST_F(ImageNameTest, SnapshotHoldsEveryProcessOfABusyHostAndLookupsFindTheFirst) {
  processes_.Add(10, "/opt/srv/my.app.exe");
  processes_.Add(11, "unknown");  // could not be read: left out
  processes_.Add(20, "/usr/sbin/nginx");
  processes_.Add(21, "/usr/sbin/nginx");
  processes_.Add(22, "C:\\PROGRA~1\\SERVER~1\\SERVER.EXE");
  for (int pid = 100; pid < 6100; ++pid) processes_.Add(pid, "/bin/w" + std::to_string(pid));
  ASSERT_TRUE(images_.Initialize());
  ASSERT_EQ(images_.Count(), 6004);
  // The base stem (the activity counters' instance name) ends at the first dot.
  EXPECT_EQ(images_.At(0)->m_sBaseStem.ToString() + "|" + images_.At(0)->m_sBaseExt.ToString(),
            "my|app.exe");
  // The pid of the record found for a program; 0 when none is found (and the record is null).
  const auto pid_of = [&](const char* program) {
    CPImage* record = nullptr;
    if (images_.GetPImageByProgramName(program, record)) return record->m_iProcessId;
    return record == nullptr ? 0 : -1;
  };
  // Nginx: the first of two processes of one program.
  EXPECT_EQ(
      (std::vector{pid_of("/bin/w6099"), pid_of("/USR/SBIN/NGINX"),
                   pid_of("C:\\Program Files\\ServerSuite\\Server.exe"), pid_of("/usr/sbin/ngin")}),
      (std::vector{6099, 20, 22, 0}));
  CPImage* record = nullptr;
  ASSERT_TRUE(images_.GetPImageByPid(21, record));
  EXPECT_EQ(record->m_iProcessId, 21);
  EXPECT_FALSE(images_.GetPImageByPid(99, record));

  processes_.Clear();  // a refresh rebuilds the records from scratch
  processes_.Add(7, "/bin/only");
  ASSERT_TRUE(images_.Refresh());
  EXPECT_EQ(images_.Count(), 1);
  processes_.SetFailing(true);
  EXPECT_FALSE(images_.Refresh());
  EXPECT_EQ(images_.Count(), 0);
  EXPECT_FALSE(CImageName().Initialize());
}

TEST(MatchTildeNameTest, ShortFormStandsForLongForm) {
  const struct {
    const char* short_form;
    const char* long_form;
    bool match;
  } cases[] = {
      {"C:\\PROGRA~1\\APP.EXE", "c:\\program files\\app.exe", true},
      {"C:\\PROGRA~1\\APP.EXE", "D:\\Program Files\\App.exe", false},  // other drive
      {"C:\\PROGRA~1\\APP.EXE", "\\Program Files\\App.exe", true},     // no drive on one side
      {"C:\\PROGRA~1\\APP.EXE", "C:\\Apps\\App.exe", false},           // first six differ
      {"C:\\MYSERV~1\\A.EXE", "C:\\My Server Suite\\A.exe", false},    // blank in the first six
      {"C:\\ABCD~1\\A.EXE", "C:\\ABCD Folder\\A.exe", false},          // "~" too far forward
      {"C:\\LONGFI~1.HTM", "C:\\Longfilename.html", true},
      {"C:\\LONGFI~1.TXT", "C:\\Longfilename.html", false},  // extensions' first letters differ
      {"C:\\LONGFI~1", "C:\\Longfilename.html", true},       // one extension empty
      {"C:\\PROGRA~1\\APP.EXE", "C:\\Program Files\\App.exe\\More", false},
      {"C:\\PROGRA~1\\APP.EXE", "C:\\Program Files", false},
      {"/opt/PROGRA~1/app", "/opt/Program Files/app", true},
  };
  for (const auto& c : cases) {
    CPImage record;
    record.m_sProgramName.Assign(c.short_form);
    EXPECT_EQ(MatchTildeName(record, c.long_form), c.match) << c.short_form << " / " << c.long_form;
  }
}

TEST_F(ImageNameTest, MatcherTakesExactPathAtOnceOrTheDeepestPartialMatch) {
  processes_.Add(30, "/srv/apps/nginx");            // "nginx" at 10
  processes_.Add(31, "/x/nginx");                   // "nginx" at 3: too near the start
  processes_.Add(32, "/usr/local/sbin/nginx.bin");  // "nginx" at 16
  processes_.Add(33, "/usr/sbin/apache2");
  processes_.Add(34, "/usr/sbin/apache2");
  ASSERT_TRUE(images_.Initialize());
  CImageNameMatcher matcher;
  ASSERT_TRUE(matcher.Go("/USR/SBIN/APACHE2", &images_.Records()));
  EXPECT_EQ(matcher.MatchedIndex(), 3);  // pid 33, the first of the two
  EXPECT_EQ(matcher.MatchedBaseStem().ToString(), "apache2");
  // Taken while the position is beyond the score so far: pid 30 (10 > 0), then 32 (16 > 5).
  ASSERT_TRUE(matcher.Go("nginx", &images_.Records()));
  EXPECT_EQ(matcher.MatchedPid(), 32);

  log_.Clear();
  EXPECT_FALSE(matcher.Go("C:\\bin\\my.app.exe", &images_.Records()));
  // Nothing left of the match before.
  EXPECT_EQ(std::tuple(matcher.MatchedIndex(), matcher.MatchedPid()), std::tuple(-1, 0));
  EXPECT_FALSE(matcher.Go("x/nginx", &images_.Records()));  // only at 1: too near the start
  EXPECT_FALSE(matcher.Go("nginx", nullptr));
  EXPECT_EQ(log_.Errors()[0],
            "CImageNameMatcher::ScanForBestMatch() failed for: C:\\bin\\my.app.exe");
}

// The process activity watcher: finding the programs of [STOPS] and handing their counters on.
class RecordingSink : public CWatcherCounterSink {
 public:
  bool AddWatcherCounter(const CQorStr& path) override {
    if (refuse_after >= 0 && static_cast<int>(paths.size()) >= refuse_after) return false;
    paths.push_back(path.ToString());
    return true;
  }
  std::vector<std::string> paths;
  int refuse_after = -1;
};

class WManagerTest : public ProcessesTest {
 protected:
  WManagerTest() {
    processes_.Add(100, "/usr/sbin/nginx");
    processes_.Add(200, "/opt/app/server.bin");
  }
  void Start(const std::vector<std::string>& stops, std::string_view machine = "DBHOST") {
    std::vector<std::string> lines = {"[KEYS]", "MachineName=x", "[STOPS]"};
    lines.insert(lines.end(), stops.begin(), stops.end());
    ASSERT_TRUE(image_.InitializeWithLines(dir_.path(), "AutoSet.caf", lines));
    items_.SetFolder(dir_.path());
    ASSERT_TRUE(items_.ReInitialize());
    for (const auto& s : stops) items_.AddItem(ITEM_PROGRAM, s);
    watcher_.SetItemManager(&items_);
    ASSERT_TRUE(watcher_.Initialize(&image_, &sink_, machine));
  }

  TempDir dir_;
  CRamFileRO image_;
  CItemManager items_;
  RecordingSink sink_;
  CWManager watcher_;
};

TEST_F(WManagerTest, HandsFourCountersPerProgramOnce) {
  Start({"/usr/sbin/nginx", "/opt/app/server.bin"});
  EXPECT_TRUE(watcher_.LWN());
  EXPECT_EQ(watcher_.ProcessesWatched(), 2);
  ASSERT_EQ(sink_.paths.size(), 8u);
  EXPECT_EQ(sink_.paths[0], "\\\\DBHOST\\Process(nginx)\\Elapsed Time");
  EXPECT_EQ(sink_.paths[5], "\\\\DBHOST\\Process(server)\\IO Data Bytes/sec");
  EXPECT_EQ(items_.GetItemRef(ITEM_PROGRAM, "/opt/app/server.bin")->m_sImageName.ToString(),
            "server");

  // The same snapshot: nothing is added again.
  EXPECT_TRUE(watcher_.LWN());
  EXPECT_EQ(std::tuple(watcher_.ProcessesWatched(), sink_.paths.size(),
                       watcher_.GetPidOfProgram("/opt/app/server.bin")),
            std::tuple(0, 8u, 200));
}

TEST_F(WManagerTest, AProgramNotRunningEndsThePass) {
  Start({"C:\\Apps\\missing.exe", "/usr/sbin/nginx"});
  EXPECT_FALSE(watcher_.LWN());
  EXPECT_EQ(watcher_.FailureText().ToString(), "Failed. Cannot see missing.exe");
  EXPECT_TRUE(log_.HasError("CWManager::LWN failed."));
  EXPECT_TRUE(sink_.paths.empty());  // the later entry is not handled in this pass
}

TEST_F(WManagerTest, ARefusedCounterEndsThePass) {
  Start({"/usr/sbin/nginx"});
  sink_.refuse_after = 2;
  EXPECT_FALSE(watcher_.LWN());
  EXPECT_EQ(watcher_.ProcessesWatched(), 0);
}

TEST_F(WManagerTest, LaunchedProcessIsFoundInAFreshSnapshot) {
  Start({"/usr/sbin/nginx"});
  processes_.Add(300, "/usr/local/bin/worker");
  EXPECT_TRUE(watcher_.RegisterLaunchedProcess("ignored", 300));
  EXPECT_EQ(sink_.paths.back(), "\\\\DBHOST\\Process(worker)\\IO Other Operations/sec");
  EXPECT_FALSE(watcher_.RegisterLaunchedProcess("ignored", 301));  // ended before the snapshot
  EXPECT_TRUE(log_.HasError("CWManager::RegisterLaunchedProcess() failed."));
}

// The item lists, the state change rule and the uptime record (on a real folder).

class ItemManagerTest : public ::testing::Test {
 protected:
  snx::test::CapturingLog log_;
  snx::platform::CapturingMessageSink boxes_;
  snx::platform::ScopedInstall<snx::platform::MessageSink> use_boxes_{boxes_};
  CItemManager items_;
  bool changed_ = false;
};

TEST_F(ItemManagerTest, StateChangesFollowTheFirstReportRule) {
  snx::platform::FakeClock clock;
  snx::platform::ScopedInstall<snx::platform::Clock> install(clock);
  ASSERT_TRUE(items_.AddItem(ITEM_LOCAL_URL, "up first"));
  ASSERT_TRUE(items_.AddItem(ITEM_LOCAL_URL, "down first"));
  const struct {
    const char* name;
    std::int32_t report;
    bool changed;
  } reports[] = {
      {"up first", ITEM_STATE_UP, false},  // the first report of an item that is up is no change
      {"up first", ITEM_STATE_UP, false},        {"up first", ITEM_STATE_DOWN, true},
      {"up first", ITEM_STATE_DOWN, false},      {"up first", ITEM_STATE_UP, true},
      {"down first", ITEM_STATE_UNKNOWN, false}, {"down first", ITEM_STATE_DOWN, true},
  };
  for (const auto& r : reports) {
    clock.Advance(std::chrono::hours(12));
    ASSERT_TRUE(items_.Update(ITEM_LOCAL_URL, r.name, r.report, changed_));
    EXPECT_EQ(changed_, r.changed) << r.name << " " << r.report;
    const CItem* item = items_.GetItemRef(ITEM_LOCAL_URL, r.name);
    EXPECT_EQ(item->m_iState, r.report);
    EXPECT_DOUBLE_EQ(item->m_dStateTime, snx::platform::ToOleDate(clock.WallNow()));
  }
}

TEST_F(ItemManagerTest, LookupsAndTheirFailuresWithoutAnUptimeRecord) {
  items_.SetFolder("/proc/no/such/folder");  // the lists work all the same
  EXPECT_FALSE(items_.ReInitialize() || items_.IsLive());
  EXPECT_TRUE(log_.HasError("CItemManager::ReInitialize() failed."));
  // An uptime record that cannot be opened is said, not silently lost.
  EXPECT_TRUE(boxes_.HasText(
      "CLogFile::Open() cannot open /proc/no/such/folder/Uptime.log: No such file or directory"));
  ASSERT_TRUE(items_.AddItem(ITEM_RESTART, "Restart"));
  ASSERT_TRUE(items_.AddItem(ITEM_RESTART, "Restart"));
  CItem* first = items_.GetItemRef(ITEM_RESTART, "Restart");
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(items_.Update(ITEM_RESTART, "restart", ITEM_STATE_DOWN, changed_));
  EXPECT_EQ(first->m_iState, ITEM_STATE_DOWN);
  first->m_sImageName.Assign("nginx");
  EXPECT_EQ(items_.GetRefByImageName(ITEM_RESTART, "NGINX"), first);

  EXPECT_EQ(items_.GetRefByImageName(ITEM_RESTART, "ngin"), nullptr);
  EXPECT_FALSE(items_.Update(ITEM_LOCAL_URL, "http://never", ITEM_STATE_UP, changed_) ||
               items_.AddItem(105, "n"));
  EXPECT_TRUE(log_.HasError("CItemManager::AddItem() calle with unknown TYPE"));

  for (int i = 2; i < 4096; ++i) ASSERT_TRUE(items_.AddItem(ITEM_RESTART, std::to_string(i)));
  EXPECT_FALSE(items_.AddItem(ITEM_RESTART, "4097th"));
  EXPECT_TRUE(log_.HasError("CItemManager::AddItem() failed for 4097th"));
  EXPECT_TRUE(items_.AddItem(ITEM_PROGRAM, "other list"));  // the limit is per list
}

// Lookups by name go through an index; they find what the matching rule (IsSame, first in
// the order of adding) finds, before and after the lists are cleared.
TEST_F(ItemManagerTest, NameLookupsFindWhatTheMatchingRuleFinds) {
  const std::pair<std::int32_t, const char*> added[] = {{ITEM_LOCAL_URL, "  http://Site.test/a "},
                                                        {ITEM_LOCAL_URL, "http://site.test/A"},
                                                        {ITEM_REMOTE_URL, "http://site.test/a"},
                                                        {ITEM_LOCAL_URL, "http://site.test/ab"},
                                                        {ITEM_LOCAL_URL, "   "},
                                                        {ITEM_PROGRAM, "Web~"}};
  const std::string queries[] = {"http://site.test/a",
                                 " http://site.test/a",
                                 "http://site.test/a  ",
                                 "  http://Site.test/a ",
                                 "http://site.test/b",
                                 "site.test/a",
                                 "",
                                 "WEB",
                                 "web~~",
                                 std::string(3000, 'a')};
  const auto rule = [&](std::int32_t type, std::string_view query) -> const CItem* {
    const CItem* first = nullptr;
    items_.ForEachItem([&](const CItem& item) {
      if (first == nullptr && item.m_iType == type && item.m_sName.IsSame(query)) first = &item;
    });
    return first;
  };
  const auto check = [&](const char* when) {
    for (const auto type : {ITEM_LOCAL_URL, ITEM_REMOTE_URL, ITEM_PROGRAM}) {
      for (const std::string& query : queries) {
        EXPECT_EQ(items_.GetItemRef(type, query), rule(type, query))
            << when << ": type " << type << " \"" << query.substr(0, 40) << "\"";
      }
    }
  };
  for (const auto& [type, name] : added) {
    ASSERT_TRUE(items_.AddItem(type, name));
  }
  check("all added");
  EXPECT_NE(items_.GetItemRef(ITEM_REMOTE_URL, "HTTP://SITE.TEST/A"), nullptr);
  items_.ClearItems();
  check("cleared");
  for (const auto& [type, name] : added) {
    if (type != ITEM_LOCAL_URL) {
      ASSERT_TRUE(items_.AddItem(type, name));
    }
  }
  check("added again without the local URLs");
}

TEST_F(ItemManagerTest, UptimeRecordLandsInTheFolderWithExactLines) {
  snx::platform::FakeClock clock{snx::platform::FakeClock::FromUtc(2026, 3, 7, 9, 5, 1)};
  snx::platform::ScopedInstall<snx::platform::Clock> install(clock);
  snx::test::TempDir dir;
  std::filesystem::create_directory(dir.File("sub"));
  items_.SetFolder(dir.File("sub"));  // kept with doubled separators, mapped back to one
  ASSERT_TRUE(items_.ReInitialize());
  EXPECT_TRUE(items_.IsLive());
  for (const char* name : {"/opt/a", "/opt/b", "/opt/c"}) items_.AddItem(ITEM_PROGRAM, name);
  items_.AddItem(ITEM_LOCAL_URL, "http://x");
  items_.GetItemRef(ITEM_PROGRAM, "/opt/b")->m_sImageName.Assign("b");
  items_.GetItemRef(ITEM_PROGRAM, "/opt/c")->m_sImageName.Assign("c");
  for (std::int32_t state : {ITEM_STATE_DOWN, ITEM_STATE_UP, 7}) {
    ASSERT_TRUE(items_.Update(ITEM_LOCAL_URL, "http://x", state, changed_));
  }
  items_.LogProgramsUp("C");           // passes a and b, stops at c
  items_.LogProgramsUp("");            // stops at a, whose image name is still empty
  items_.LogProgramsUp("zzz");         // no match: every program
  ASSERT_TRUE(items_.ReInitialize());  // starting again keeps the record, drops the items
  EXPECT_EQ(items_.Count(ITEM_LOCAL_URL), 0);

  std::string expected;
  for (const char* line :
       {"Message: ///////////////////////////////////////////",
        "Message: /////////// ItemManager Started ///////////", "(event): 101, http://x, DN",
        "(event): 101, http://x, UP", "(event): ", "(event): 100, /opt/a, UP",
        "(event): 100, /opt/b, UP", "(event): 100, /opt/a, UP", "(event): 100, /opt/b, UP",
        "(event): 100, /opt/c, UP", "Message: ///////////////////////////////////////////",
        "Message: /////////// ItemManager Started ///////////"}) {
    expected += std::string("03/07/26 09:05:01 ") + line + "\r\r\n";
  }
  EXPECT_EQ(dir.Read("sub/Uptime.log"), expected);
  EXPECT_TRUE(log_.Errors().empty());
}

}  // namespace
}  // namespace snx::test
