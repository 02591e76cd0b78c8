#include <gtest/gtest.h>

#include "files/ram_file_ro.h"
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
  EXPECT_EQ(watcher_.ProcessesWatched(), 0);
  EXPECT_EQ(sink_.paths.size(), 8u);
  EXPECT_EQ(watcher_.GetPidOfProgram("/opt/app/server.bin"), 200);
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

}  // namespace
}  // namespace snx::test
